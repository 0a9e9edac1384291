// The installed tree: `cmake --install` into a temporary prefix, the tree
// then moved elsewhere (as a user may move ~/.local/opt/wavrell), and
// everything checked in its new place: the file list, the program's command
// line, its manual, the desktop entry, the AppStream metadata and the manual
// page, each with the distribution's own validator.

// help_menu.h uses QPointer<QMenuBar> inline with the class only declared.
#include <QMenuBar>

#include "app/demo_recordings.h"
#include "shell/help_menu.h"
#include "tests/packaging/installed_tree.h"
#include "tests/support/test_support.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

namespace wavrell {
namespace {

/// Installs the build folder into a fresh prefix, as a user would with
/// `cmake --install BUILD --prefix PREFIX`, then moves the whole tree to a
/// folder of another name and depth.
class Install : public ::testing::Test {
protected:
    void SetUp() override {
        dir = test::build_temp_dir();
        const QString prefix = dir->filePath(QStringLiteral("prefix"));
        QProcess p;
        auto env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DESTDIR"));  // would move everything elsewhere
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(WAVRELL_CMAKE),
                {QStringLiteral("--install"), QStringLiteral(WAVRELL_BINARY_DIR), QStringLiteral("--prefix"), prefix});
        ASSERT_TRUE(p.waitForFinished(120000));
        ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();

        root = dir->filePath(QStringLiteral("moved/somewhere/else/wavrell-tree"));
        ASSERT_TRUE(QDir().mkpath(QFileInfo(root).absolutePath()));
        ASSERT_TRUE(QDir().rename(prefix, root));
    }
    QString path(const QString& relative) const { return root + QLatin1Char('/') + relative; }
    static QString tool(const char* name) {
        const QString found = QStandardPaths::findExecutable(QLatin1String(name));
        EXPECT_FALSE(found.isEmpty()) << name << " is not installed (scripts/install-deps installs it)";
        return found;
    }

    std::unique_ptr<QTemporaryDir> dir;
    QString root;  // the installed tree, moved
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
    // Exactly these files: nothing left in bin/ but the program, nothing
    // from the build folder. The MIME cache is written by the install when
    // the desktop tools are there.
    QStringList files = test::files_below(root);
    files.removeAll(QStringLiteral("share/applications/mimeinfo.cache"));
    EXPECT_EQ(files, test::installed_files());
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("bin/wavrell"))).isExecutable());

    // Every themed icon is a PNG of the size its folder names; the scalable
    // one is a drawing that renders at any size: opaque in the middle,
    // transparent in the rounded-off corner.
    for (int size : test::installed_icon_sizes) {
        const QString icon = path(QStringLiteral("share/icons/hicolor/%1x%1/apps/wavrell.png").arg(size));
        const QImage image(icon);
        EXPECT_FALSE(image.isNull()) << icon.toStdString();
        EXPECT_EQ(image.size(), QSize(size, size)) << icon.toStdString();
    }
    QImageReader svg(path(QStringLiteral("share/icons/hicolor/scalable/apps/wavrell.svg")));
    svg.setScaledSize(QSize(96, 96));
    const QImage drawn = svg.read();
    ASSERT_FALSE(drawn.isNull()) << svg.errorString().toStdString();
    EXPECT_EQ(qAlpha(drawn.pixel(48, 48)), 255);
    EXPECT_EQ(qAlpha(drawn.pixel(0, 0)), 0);
}

TEST_F(Install, MovedProgramRunsItsCommandLineAndFindsItsManual) {
    const QString program = path(QStringLiteral("bin/wavrell"));
    EXPECT_EQ(find_help_file(program), path(QStringLiteral("share/doc/wavrell/wavrell.html")));
    // Help, "Open demo recordings" loads these as file 1 and file 2.
    EXPECT_EQ(find_demo_recordings(program),
              QStringList({path(QStringLiteral("share/wavrell/demo/wavrell-demo-original.wav")),
                           path(QStringLiteral("share/wavrell/demo/wavrell-demo-loud.wav"))}));

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

    ASSERT_EQ(test::run_program(program, {QStringLiteral("--help")}, &out, 60000, &err), 0) << err.toStdString();
    EXPECT_TRUE(out.startsWith("Usage: wavrell ")) << out.toStdString();
    EXPECT_TRUE(out.contains("--levels")) << out.toStdString();
}

TEST_F(Install, DesktopEntryOffersTheInstalledProgramForTheFormatsItReads) {
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
    // A type for each format the program reads (WAV, FLAC, Ogg Vorbis,
    // Opus, MP3, AIFF, W64, RF64, CAF), as file managers name them.
    const QStringList types = keys.value(QStringLiteral("MimeType")).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    const QStringList formats{"audio/wav",        "audio/x-wav",       "audio/flac",   "audio/x-vorbis+ogg",
                              "audio/x-opus+ogg", "audio/mpeg",        "audio/x-aiff", "audio/x-w64",
                              "audio/x-rf64",     "audio/x-caf"};
    for (const QString& type : formats) EXPECT_TRUE(types.contains(type)) << type.toStdString();

    // What file managers read to offer the program for those files.
    if (!QStandardPaths::findExecutable(QStringLiteral("update-desktop-database")).isEmpty()) {
        QFile cache(path(QStringLiteral("share/applications/mimeinfo.cache")));
        ASSERT_TRUE(cache.open(QIODevice::ReadOnly)) << cache.fileName().toStdString();
        const QByteArray text = cache.readAll();
        for (const QString& type : formats)
            EXPECT_TRUE(text.contains((type + QStringLiteral("=wavrell.desktop;")).toUtf8())) << type.toStdString();
    }

    QByteArray out, err;
    EXPECT_EQ(test::run_program(tool("desktop-file-validate"), {entry}, &out, 60000, &err), 0)
        << out.toStdString() << err.toStdString();
    EXPECT_EQ(out.trimmed().toStdString(), "");  // not even hints
}

TEST_F(Install, AppStreamMetadataValidatesAndLaunchesTheDesktopEntry) {
    const QString metainfo = path(QStringLiteral("share/metainfo/") + test::metainfo_name);
    QByteArray out, err;
    EXPECT_EQ(test::run_program(tool("appstreamcli"), {QStringLiteral("validate"), QStringLiteral("--no-net"), metainfo},
                                &out, 60000, &err),
              0)
        << out.toStdString() << err.toStdString();

    // The id matches the file name; the entry it launches is installed; the
    // screenshot has its caption and the release list names this version.
    QFile f(metainfo);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&f);
    QString id, launchable, caption;
    QStringList releases;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        const auto name = xml.name();
        if (name == QLatin1String("id")) id = xml.readElementText();
        else if (name == QLatin1String("launchable")) launchable = xml.readElementText();
        else if (name == QLatin1String("caption")) caption = xml.readElementText();
        else if (name == QLatin1String("release")) releases << xml.attributes().value(QStringLiteral("version")).toString();
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(id + QStringLiteral(".metainfo.xml"), test::metainfo_name);
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("share/applications/")) + launchable).isFile()) << launchable.toStdString();
    EXPECT_FALSE(caption.trimmed().isEmpty());
    EXPECT_TRUE(releases.contains(QStringLiteral(WAVRELL_VERSION))) << releases.join(' ').toStdString();
}

TEST_F(Install, ManualPageRendersWithoutWarningsAndNamesEveryOption) {
    const QString page = path(QStringLiteral("share/man/man1/wavrell.1.gz"));
    QProcessEnvironment env;
    env.insert(QStringLiteral("MANWIDTH"), QStringLiteral("80"));
    QByteArray out, err;
    ASSERT_EQ(test::run_with_env(tool("man"), {QStringLiteral("--warnings"), QStringLiteral("-l"), page}, env, &out, &err),
              0)
        << err.toStdString();
    EXPECT_EQ(err.toStdString(), "");
    EXPECT_TRUE(out.contains("EXIT STATUS")) << out.toStdString();
    EXPECT_TRUE(out.contains("PipeWire")) << out.toStdString();

    // Wide enough that no option is broken across lines: each option the
    // program lists in --help has its entry in the page.
    env.insert(QStringLiteral("MANWIDTH"), QStringLiteral("250"));
    QByteArray page_text;
    ASSERT_EQ(test::run_with_env(tool("man"), {QStringLiteral("-l"), page}, env, &page_text, &err), 0);
    QByteArray help;
    ASSERT_EQ(test::run_program(path(QStringLiteral("bin/wavrell")), {QStringLiteral("--help")}, &help), 0);
    static const QRegularExpression option(QStringLiteral("(?<![\\w-])--?[a-z][a-z-]*"));
    QStringList options;
    for (const auto& m : option.globalMatch(QString::fromLocal8Bit(help))) options << m.captured();
    options.removeDuplicates();
    EXPECT_GE(options.size(), 4) << help.toStdString();
    for (const QString& o : options)
        EXPECT_TRUE(page_text.contains(QByteArray("       ") + o.toUtf8()) || page_text.contains(", " + o.toUtf8()))
            << "the manual page has no entry for " << o.toStdString();
}

}  // namespace
}  // namespace wavrell
