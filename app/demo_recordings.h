#pragma once

#include <QStringList>

namespace wavrell {

/// The two demo recordings (the excerpt as mixed and its loud master, for
/// file 1 and file 2) of the program at `program_path`: installed in
/// share/wavrell/demo beside the program's bin/, or in demo/ next to the
/// program in its build folder. Empty when they are not there.
QStringList find_demo_recordings(const QString& program_path);

}  // namespace wavrell
