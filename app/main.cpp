#include "app/command_line.h"
#include "app/main_window.h"
#include "app/start_files.h"
#include "common/application.h"

#include <QCoreApplication>

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
    wavrell::open_start_files(window, cl.files);
    return app.exec();
}
