#include "app/window_main.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QProcess>

#include <gtest/gtest.h>

namespace wavrell {
namespace {

/// Starts `program` with `args` and reports whether it is still running
/// (the window's event loop) after `ms` milliseconds; stops it then.
/// Otherwise its exit code is left in *code. Its standard error is left in
/// *err either way; with `trace_loading` it includes the dynamic loader's
/// report of the files it loads.
bool keeps_running(const QString& program, const QStringList& args, int ms, int* code, QByteArray* err,
                   bool trace_loading = false) {
    QProcess p;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (trace_loading) env.insert(QStringLiteral("LD_DEBUG"), QStringLiteral("files"));
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForStarted(10000)) return false;
    if (p.waitForFinished(ms)) {
        *code = p.exitCode();
        *err = p.readAllStandardError();
        return false;
    }
    p.kill();
    p.waitForFinished(10000);
    *err = p.readAllStandardError();
    return true;
}

TEST(WindowLibrary, MovedInstalledProgramOpensItsWindowAndAloneSaysWhyNot) {
    const auto dir = test::build_temp_dir();
    const QString prefix = dir->filePath(QStringLiteral("prefix"));
    QProcess install;
    auto env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DESTDIR"));
    install.setProcessEnvironment(env);
    install.start(QStringLiteral(WAVRELL_CMAKE),
                  {QStringLiteral("--install"), QStringLiteral(WAVRELL_BINARY_DIR), QStringLiteral("--prefix"), prefix});
    ASSERT_TRUE(install.waitForFinished(120000));
    ASSERT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();
    // The tree works wherever it is put.
    const QString root = dir->filePath(QStringLiteral("elsewhere/tree"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(root).absolutePath()));
    ASSERT_TRUE(QDir().rename(prefix, root));

    const QString program = root + QStringLiteral("/bin/wavrell");
    QLibrary lib(root + QStringLiteral("/lib/wavrell/") + QLatin1String(window_library));
    ASSERT_TRUE(lib.load()) << lib.errorString().toStdString();
    EXPECT_NE(lib.resolve("wavrell_window_main"), nullptr);
    lib.unload();

    // Through a symbolic link elsewhere, with a file to load: the window's
    // event loop runs until it is stopped. The dynamic loader's report shows
    // that the window library and the connection-state library both came
    // from the moved tree's private library folder.
    const QString link = dir->filePath(QStringLiteral("wavrell-link"));
    ASSERT_TRUE(QFile::link(program, link));
    int code = -1;
    QByteArray err;
    EXPECT_TRUE(keeps_running(link, {QStringLiteral(WAVRELL_DEMO_ORIGINAL)}, 3000, &code, &err, true))
        << "exit " << code << ": " << err.toStdString();
    const QString libdir = QDir::cleanPath(root + QStringLiteral("/lib/wavrell"));
    for (const char* name : {window_library, "libwavrellconnstate.so"}) {
        bool loaded = false;
        for (const QByteArray& line : err.split('\n')) {
            // "file=<path> [0];  dynamically loaded by ..."
            const qsizetype at = line.indexOf("file=");
            const qsizetype end = line.indexOf(" [", at);
            if (at < 0 || end < 0 || !line.contains("dynamically loaded")) continue;
            const QString file = QDir::cleanPath(QString::fromLocal8Bit(line.mid(at + 5, end - at - 5)));
            if (file == libdir + QLatin1Char('/') + QLatin1String(name) && QFileInfo::exists(file)) loaded = true;
        }
        EXPECT_TRUE(loaded) << name << " was not loaded from " << libdir.toStdString();
    }

    // A program copied away from its library reports that, rather than crash.
    const QString alone = dir->filePath(QStringLiteral("alone/wavrell"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(alone).absolutePath()));
    ASSERT_TRUE(QFile::copy(program, alone));
    ASSERT_FALSE(keeps_running(alone, {}, 30000, &code, &err));
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(err.contains("cannot start the window")) << err.toStdString();
    EXPECT_TRUE(err.contains(window_library)) << err.toStdString();
}

}  // namespace
}  // namespace wavrell
