#include "common/application.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Whatever starts a test program (scripts/test, ctest, a person), the
    // program's settings and the stand-ins of the registry go to folders of
    // its own, never to the user's folders or to /etc/xdg. The sound
    // server's folders (XDG_RUNTIME_DIR) stay as they are.
    QDir().mkpath(QStringLiteral(WAVRELL_BINARY_DIR "/test-tmp"));
    QTemporaryDir folders(QStringLiteral(WAVRELL_BINARY_DIR "/test-tmp/env-XXXXXX"));
    if (!folders.isValid()) return 1;
    for (const auto& [var, sub] : {std::pair{"HOME", "home"}, {"XDG_CONFIG_HOME", "config"},
                                   {"XDG_DATA_HOME", "data"}, {"XDG_CACHE_HOME", "cache"},
                                   {"XDG_CONFIG_DIRS", "etc-xdg"}}) {
        const QString dir = folders.filePath(QLatin1String(sub));
        QDir().mkpath(dir);
        qputenv(var, QFile::encodeName(dir));
    }
    // A test that plays names its sound server (scripts/test starts one of
    // each kind and says where): the program and the tools it runs
    // (pactl, parec, paplay) all use it.
    if (const QByteArray server = qgetenv("WAVRELL_SOUND_SERVER"); !server.isEmpty()) {
        const QByteArray var = "WAVRELL_" + server.toUpper() + "_SERVER";
        const QByteArray address = qgetenv(var.constData());
        if (address.isEmpty()) {
            std::fprintf(stderr, "%s is not set: run the tests that play through scripts/test\n", var.constData());
            return 1;
        }
        qputenv("PULSE_SERVER", address);
    }
    ::testing::InitGoogleTest(&argc, argv);
    wavrell::TApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Wavrell"));
    return RUN_ALL_TESTS();
}
