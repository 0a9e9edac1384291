// The Debian package, made by CPack from this build folder with the same
// configuration scripts/package uses: its control fields and dependencies,
// its file list, lintian's verdict, that apt would install it on this
// machine, and that the unpacked program runs. Nothing is installed onto
// the machine: the package is unpacked into a temporary folder.

#include "tests/packaging/installed_tree.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace wavrell {
namespace {

/// One package for all cases of this program: made once, removed at the end.
class Package : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = test::build_temp_dir().release();
        QByteArray out, err;
        const int rc = test::run_program(QStringLiteral(WAVRELL_CPACK),
                                         {QStringLiteral("--config"), QStringLiteral(WAVRELL_BINARY_DIR "/CPackConfig.cmake"),
                                          QStringLiteral("-B"), dir->path()},
                                         &out, 300000, &err);
        ASSERT_EQ(rc, 0) << out.toStdString() << err.toStdString();
        const QStringList debs = QDir(dir->path()).entryList({QStringLiteral("*.deb")}, QDir::Files);
        ASSERT_EQ(debs.size(), 1) << debs.join(' ').toStdString();
        deb = dir->filePath(debs.first());
    }
    static void TearDownTestSuite() {
        delete dir;
        dir = nullptr;
    }
    void SetUp() override { ASSERT_FALSE(deb.isEmpty()) << "no package was made"; }

    /// A control field of the package.
    static QString field(const QString& name) {
        QByteArray out;
        EXPECT_EQ(test::run_program(QStringLiteral("dpkg-deb"), {QStringLiteral("--field"), deb, name}, &out), 0);
        return QString::fromUtf8(out).trimmed();
    }

    static inline QTemporaryDir* dir = nullptr;
    static inline QString deb;
};

TEST_F(Package, FieldsDependenciesAndFilesAndItRunsUnpacked) {
    // One package is made per test program run (CPack takes a while):
    // everything about it but lintian's verdict is checked here.
    EXPECT_EQ(QFileInfo(deb).fileName(), QStringLiteral("wavrell_" WAVRELL_VERSION "_") + field(QStringLiteral("Architecture")) +
                                             QStringLiteral(".deb"));
    EXPECT_EQ(field(QStringLiteral("Package")), QStringLiteral("wavrell"));
    EXPECT_EQ(field(QStringLiteral("Version")), QStringLiteral(WAVRELL_VERSION));
    EXPECT_EQ(field(QStringLiteral("Section")), QStringLiteral("sound"));
    EXPECT_EQ(field(QStringLiteral("Priority")), QStringLiteral("optional"));

    // A short description, then a long one of several lines.
    const QStringList description = field(QStringLiteral("Description")).split(QLatin1Char('\n'));
    ASSERT_GE(description.size(), 3);
    EXPECT_FALSE(description[0].trimmed().isEmpty());
    EXPECT_LE(description[0].size(), 80);

    // dpkg-shlibdeps found the libraries the program and its private
    // libraries link: the sound server's client library, the decoder of the
    // other formats (libsndfile), the rate converter (libsoxr) and the FFTs
    // of the alignment (FFTW) among them; the platform plugins that Qt loads
    // at run time are named by hand.
    QStringList depends;
    for (const QString& d : field(QStringLiteral("Depends")).split(QLatin1Char(','), Qt::SkipEmptyParts))
        depends << d.trimmed().section(QLatin1Char(' '), 0, 0);
    for (const char* needed : {"libpulse0", "libsndfile1", "libsoxr0", "libfftw3-double3", "libebur128-1",
                               "libqt6core6", "libqt6gui6", "libqt6widgets6", "libqt6network6", "libc6", "libstdc++6", "qt6-qpa-plugins"})
        EXPECT_TRUE(depends.contains(QLatin1String(needed))) << needed << " missing from " << depends.join(", ").toStdString();
    // Nothing that only building or testing needs.
    for (const QString& d : depends) EXPECT_FALSE(d.endsWith(QLatin1String("-dev"))) << d.toStdString();
    // The sound server, and xdg-open for the manual and the Help menu's pages.
    const QString recommends = field(QStringLiteral("Recommends"));
    EXPECT_TRUE(recommends.contains(QLatin1String("pipewire-pulse"))) << recommends.toStdString();
    EXPECT_TRUE(recommends.split(QLatin1Char(',')).contains(QLatin1String(" xdg-utils"))) << recommends.toStdString();

    // The files, all owned by root, exactly those of an installed tree.
    QByteArray listing;
    ASSERT_EQ(test::run_program(QStringLiteral("dpkg-deb"), {QStringLiteral("--contents"), deb}, &listing), 0);
    QStringList files;
    for (const QByteArray& line : listing.split('\n')) {
        if (!line.startsWith('-')) continue;  // regular files only
        const QList<QByteArray> cols = line.simplified().split(' ');
        // mode owner size date time path
        ASSERT_GE(cols.size(), 6) << line.toStdString();
        EXPECT_EQ(cols[1], "root/root") << line.toStdString();
        files << QString::fromUtf8(cols[5]);
    }
    files.sort();
    QStringList expected;
    for (const QString& f : test::installed_files()) expected << QStringLiteral("./usr/") + f;
    EXPECT_EQ(files, expected);

    // Unpacked, not installed: the program runs from the unpacked tree, with
    // its binaries stripped as the distribution ships them.
    const auto unpacked = test::build_temp_dir();
    ASSERT_EQ(test::run_program(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), deb, unpacked->path()}), 0);
    const QString program = unpacked->filePath(QStringLiteral("usr/bin/wavrell"));
    QByteArray out, err;
    ASSERT_EQ(test::run_program(program, {QStringLiteral("--levels"), QStringLiteral(WAVRELL_DEMO_ORIGINAL)}, &out, 60000, &err),
              0)
        << err.toStdString();
    EXPECT_TRUE(out.startsWith(" Crest=")) << out.toStdString();
    EXPECT_EQ(test::run_program(program, {QStringLiteral("--help")}, &out), 0);
    for (const QString& binary : {QStringLiteral("usr/bin/wavrell"), QStringLiteral("usr/lib/wavrell/libwavrell_gui.so"),
                                  QStringLiteral("usr/lib/wavrell/libwavrellconnstate.so")}) {
        ASSERT_EQ(test::run_program(QStringLiteral("file"), {QStringLiteral("-b"), unpacked->filePath(binary)}, &out), 0);
        EXPECT_TRUE(out.contains(", stripped")) << binary.toStdString() << ": " << out.toStdString();
    }

    // A simulation: apt resolves the package's dependencies against this
    // machine and changes nothing.
    const QString apt = QStandardPaths::findExecutable(QStringLiteral("apt-get"));
    ASSERT_FALSE(apt.isEmpty()) << "no apt-get on this machine";
    const int rc = test::run_program(apt, {QStringLiteral("install"), QStringLiteral("--simulate"),
                                           QStringLiteral("--no-install-recommends"), deb},
                                     &out, 300000, &err);
    EXPECT_EQ(rc, 0) << out.toStdString() << err.toStdString();
    static const QRegularExpression inst(QStringLiteral("^Inst wavrell "), QRegularExpression::MultilineOption);
    EXPECT_TRUE(QString::fromUtf8(out).contains(inst)) << out.toStdString();
}

TEST_F(Package, LintianFindsNoErrors) {
    const QString lintian = QStandardPaths::findExecutable(QStringLiteral("lintian"));
    ASSERT_FALSE(lintian.isEmpty()) << "lintian is not installed (scripts/install-deps installs it)";
    QByteArray out, err;
    // 0: nothing at error level; 1: errors; 2: lintian itself failed.
    EXPECT_EQ(test::run_program(lintian,
                                {QStringLiteral("--fail-on"), QStringLiteral("error"), QStringLiteral("--tag-display-limit"),
                                 QStringLiteral("0"), deb},
                                &out, 300000, &err),
              0)
        << out.toStdString() << err.toStdString();
}

}  // namespace
}  // namespace wavrell
