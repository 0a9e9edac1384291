#include "common/application.h"

#include <QMainWindow>

int main(int argc, char** argv) {
    wavrell::TApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Wavrell"));
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Wavrell"));
    window.resize(721, 423);
    window.show();
    return app.exec();
}
