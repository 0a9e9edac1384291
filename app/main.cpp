#include "app/main_window.h"
#include "common/application.h"

#include <QTimer>

int main(int argc, char** argv) {
    wavrell::TApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Wavrell"));
    wavrell::TForm19 window;
    window.show();
    const QStringList files = app.arguments().mid(1);
    QTimer::singleShot(0, &window, [&window, files] {
        // A file that cannot be loaded is reported like any load error.
        for (int slot = 0; slot < files.size() && slot < 2; ++slot) window.load_file(slot, files[slot]);
    });
    return app.exec();
}
