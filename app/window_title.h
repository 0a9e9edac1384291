#pragma once

#include <QString>

namespace wavrell {

/// The main window's title: the names (without folders) of the loaded
/// files, "master.wav vs encode.mp3 — Wavrell"; one name when only one slot
/// holds a file; "Wavrell" with none. `file1` / `file2` are paths, empty for
/// an empty slot.
QString window_title(const QString& file1, const QString& file2);

}  // namespace wavrell
