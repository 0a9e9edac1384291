#include "app/command_line.h"
#include "app/main_window.h"
#include "common/application.h"

#include <QCoreApplication>
#include <QTimer>

int main(int argc, char** argv) {
    QStringList args;
    for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    const wavrell::TCommandLine cl = wavrell::parse_command_line(args);
    if (cl.mode != wavrell::TCommandLine::Mode::Window) {
        // No window, no settings: the command-line uses need no GUI.
        QCoreApplication app(argc, argv);
        app.setApplicationName(QStringLiteral("Wavrell"));
        return wavrell::run_command_line(cl);
    }

    wavrell::TApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Wavrell"));
    wavrell::TForm19 window;
    window.show();
    // Files named on the command line load as "Open file 1..." and "Open
    // file 2..." would load them, once the event loop runs; a file that
    // cannot be loaded is reported like any load error.
    for (int slot = 0; slot < cl.files.size(); ++slot)
        QTimer::singleShot(0, &window, [&window, slot, file = cl.files[slot]] { window.load_file(slot, file); });
    return app.exec();
}
