#include "shell/program_icon.h"

#include <QApplication>
#include <QWidget>

// Resources compiled into a static library must be registered by hand.
static void init_shell_resources() { Q_INIT_RESOURCE(shell); }

namespace wavrell {

void ensure_shell_resources() {
    static const bool done = (init_shell_resources(), true);
    (void)done;
}

QIcon program_icon() {
    ensure_shell_resources();
    return QIcon(QStringLiteral(":/shell/wavrell_icon.png"));
}

void install_program_icon(QWidget* window) {
    const QIcon icon = program_icon();
    QApplication::setWindowIcon(icon);
    if (window) window->setWindowIcon(icon);
}

}  // namespace wavrell
