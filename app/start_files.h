#pragma once

#include <QStringList>

#include <functional>

namespace wavrell {

class TForm19;

/// Loads the first two files named on the command line into slots 0 and 1
/// of the window, in this order, once the event loop runs (as "Open file
/// 1..." and "Open file 2..." would load them). A file that cannot be loaded
/// is reported like any load error and the next one is still loaded. Further
/// files are not opened; the window's status bar says so for 20 seconds
/// (files_left_out_text). `then` runs after the last load has ended. GUI
/// thread.
void open_start_files(TForm19& window, const QStringList& files, std::function<void()> then = {});

/// What the status bar says when more than two files were named, e.g.
/// "Only two files are compared: "c.wav" was not opened."; empty for two
/// files or fewer.
QString files_left_out_text(const QStringList& files);

}  // namespace wavrell
