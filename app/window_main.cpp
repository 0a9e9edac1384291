#include "app/window_main.h"

#include "app/main_window.h"
#include "common/application.h"

#include <QTimer>

int wavrell_window_main(int argc, char** argv, const QStringList& files) {
    wavrell::TApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Wavrell"));
    wavrell::TForm19 window;
    window.show();
    // Files named on the command line load as "Open file 1..." and "Open
    // file 2..." would load them, once the event loop runs; a file that
    // cannot be loaded is reported like any load error.
    for (int slot = 0; slot < files.size(); ++slot)
        QTimer::singleShot(0, &window, [&window, slot, file = files[slot]] { window.load_file(slot, file); });
    return app.exec();
}
