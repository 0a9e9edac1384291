// help_menu.h uses QPointer<QMenuBar> inline with the class only declared.
#include <QMenuBar>

#include "shell/help_menu.h"
#include "shell/web_detect.h"
#include "tests/support/test_support.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLibrary>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace wavrell {
namespace {

/// Installs the build folder into a fresh prefix, as a user would with
/// `cmake --install BUILD --prefix PREFIX`.
class Install : public ::testing::Test {
protected:
    void SetUp() override {
        dir = test::build_temp_dir();
        prefix = dir->filePath(QStringLiteral("prefix"));
        QProcess p;
        auto env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DESTDIR"));  // would move everything elsewhere
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(WAVRELL_CMAKE),
                {QStringLiteral("--install"), QStringLiteral(WAVRELL_BINARY_DIR), QStringLiteral("--prefix"), prefix});
        ASSERT_TRUE(p.waitForFinished(120000));
        ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    }
    QString path(const QString& relative) const { return prefix + QLatin1Char('/') + relative; }

    std::unique_ptr<QTemporaryDir> dir;
    QString prefix;
};

/// The keys of the [Desktop Entry] group of a desktop file.
QMap<QString, QString> desktop_entry(const QString& file) {
    QFile f(file);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly | QIODevice::Text)) << file.toStdString();
    QMap<QString, QString> keys;
    bool inEntry = false;
    for (const QByteArray& raw : f.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('['))) inEntry = line == QLatin1String("[Desktop Entry]");
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (inEntry && eq > 0) keys[line.left(eq).trimmed()] = line.mid(eq + 1).trimmed();
    }
    return keys;
}

TEST_F(Install, PutsEveryFileInItsPlace) {
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("bin/wavrell"))).isExecutable());
    for (const char* file : {"bin/libwavrellconnstate.so", "help/wavrell.html",
                             "share/applications/wavrell.desktop"})
        EXPECT_TRUE(QFileInfo(path(QLatin1String(file))).isFile()) << file;
    // Every themed icon is a PNG of the size its folder names.
    for (int size : {16, 32, 48, 64}) {
        const QString icon = path(QStringLiteral("share/icons/hicolor/%1x%1/apps/wavrell.png").arg(size));
        const QImage image(icon);
        EXPECT_FALSE(image.isNull()) << icon.toStdString();
        EXPECT_EQ(image.size(), QSize(size, size)) << icon.toStdString();
    }
}

TEST_F(Install, DesktopEntryOffersTheInstalledProgramForWavFiles) {
    const QString entry = path(QStringLiteral("share/applications/wavrell.desktop"));
    const auto keys = desktop_entry(entry);
    EXPECT_EQ(keys.value(QStringLiteral("Type")), QStringLiteral("Application"));
    EXPECT_EQ(keys.value(QStringLiteral("Name")), QStringLiteral("Wavrell"));
    // The command, icon and types must name what was installed.
    const QStringList exec = keys.value(QStringLiteral("Exec")).split(QLatin1Char(' '));
    ASSERT_EQ(exec.size(), 2);
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("bin/")) + exec[0]).isExecutable()) << exec[0].toStdString();
    EXPECT_EQ(exec[1], QStringLiteral("%F"));  // several files at once
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("share/icons/hicolor/48x48/apps/")) + keys.value(QStringLiteral("Icon")) +
                          QStringLiteral(".png"))
                    .isFile());
    const QStringList types = keys.value(QStringLiteral("MimeType")).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    EXPECT_TRUE(types.contains(QStringLiteral("audio/wav")));
    EXPECT_TRUE(types.contains(QStringLiteral("audio/x-wav")));

    // What file managers read to offer the program for WAV files.
    if (!QStandardPaths::findExecutable(QStringLiteral("update-desktop-database")).isEmpty()) {
        QFile cache(path(QStringLiteral("share/applications/mimeinfo.cache")));
        ASSERT_TRUE(cache.open(QIODevice::ReadOnly)) << cache.fileName().toStdString();
        const QByteArray text = cache.readAll();
        EXPECT_TRUE(text.contains("audio/wav=wavrell.desktop;")) << text.toStdString();
        EXPECT_TRUE(text.contains("audio/x-wav=wavrell.desktop;")) << text.toStdString();
    }

    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty()) GTEST_SKIP() << "desktop-file-validate is not installed (desktop-file-utils)";
    QByteArray out, err;
    EXPECT_EQ(test::run_program(validator, {entry}, &out, 60000, &err), 0) << out.toStdString() << err.toStdString();
    EXPECT_EQ(out.trimmed().toStdString(), "");  // not even hints
}

TEST_F(Install, InstalledProgramFindsItsManualAndLibraryAndPrintsLevels) {
    const QString program = path(QStringLiteral("bin/wavrell"));
    EXPECT_EQ(find_help_file(program), path(QStringLiteral("help/wavrell.html")));

    // The program loads the library by name from its own folder.
    QLibrary lib(QFileInfo(program).absolutePath() + QLatin1Char('/') + connection_state_library);
    ASSERT_TRUE(lib.load()) << lib.errorString().toStdString();
    EXPECT_NE(lib.resolve("InternetGetConnectedState"), nullptr);
    lib.unload();

    QByteArray out, err;
    ASSERT_EQ(test::run_program(program,
                                {QStringLiteral("--levels"), QStringLiteral(WAVRELL_DEMO_ORIGINAL),
                                 QStringLiteral(WAVRELL_DEMO_LOUD)},
                                &out, 60000, &err),
              0)
        << err.toStdString();
    QList<QByteArray> lines = out.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    ASSERT_EQ(lines.size(), 2) << out.toStdString();
    EXPECT_TRUE(lines[0].startsWith(" Crest=")) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].endsWith("wavrell-demo-original.wav")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith("wavrell-demo-loud.wav")) << lines[1].toStdString();
}

}  // namespace
}  // namespace wavrell
