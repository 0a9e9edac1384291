#pragma once

#include <QStringList>

/// Runs the program's window: creates the application object, shows the
/// main window, loads `files` into file 1 and file 2 once the event loop
/// runs, and returns the exit code of the event loop. Lives in the window
/// library (libwavrell_gui.so) that the program loads only when a window is
/// wanted, so that the command-line uses start without Qt Gui and Widgets.
/// Looked up by its C name.
extern "C" __attribute__((visibility("default"))) int wavrell_window_main(int argc, char** argv,
                                                                           const QStringList& files);

/// Type of wavrell_window_main, for the program's lookup.
using TWindowMain = int (*)(int argc, char** argv, const QStringList& files);

/// File name of the window library: next to the program in the build
/// folder, in the private library folder of an installed tree.
inline constexpr char window_library[] = "libwavrell_gui.so";
