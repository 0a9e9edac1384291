#pragma once

#include <QIcon>

class QWidget;

namespace wavrell {

/// Registers the shell's resources (picture and icon); safe to call often.
void ensure_shell_resources();

/// The program's own icon (from the resources).
QIcon program_icon();

/// Makes the program icon the application's icon and, when given, the
/// window's icon. GUI thread.
void install_program_icon(QWidget* window = nullptr);

}  // namespace wavrell
