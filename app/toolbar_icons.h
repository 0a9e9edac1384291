#pragma once

#include <QIcon>

namespace wavrell {

/// The tool bar images of the main window, drawn in code (16 x 16, with a
/// 32 x 32 version for high-density screens), in the order of the window's
/// image list: 0 open, 1 play, 2 normalize, 3 allpass, 4 play file 1,
/// 5 play file 2, 6 open file 1, 7 open file 2 (the folder with the
/// file's number on it).
enum class ToolbarImage { Open = 0, Play, Normalize, Allpass, PlayFile1, PlayFile2, OpenFile1, OpenFile2 };

QIcon toolbar_icon(ToolbarImage image);

}  // namespace wavrell
