#include "settings/ini_file.h"

#include "common/errors.h"
#include "tests/settings/isolated_folders.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace wavrell;

namespace {

TEST(IniFile, ReadsFilesOfOtherProgramsAndKeepsWhatItDoesNotChange) {
    test::IsolatedFolders folders;
    const QString file = folders.write_file(QStringLiteral("other.ini"),
                                            "\xEF\xBB\xBF; written by hand\r\n"
                                            "[RecentFiles]\r\n"
                                            "nToUse=9\r\n"
                                            "\r\n"
                                            "# a comment\r\n"
                                            "1=/music/a b.wav\r\n"
                                            "[Other]\r\n"
                                            "  spaced key  =  value \t\r\n"
                                            "quoted = \" padded \"\r\n"
                                            "[recentfiles]\r\n"
                                            "2=/music/c.wav\r\n");
    TIniFile ini(file);
    EXPECT_EQ(ini.ReadSections(), (QStringList{QStringLiteral("RecentFiles"), QStringLiteral("Other")}));
    EXPECT_EQ(ini.ReadSection(QStringLiteral("RECENTFILES")),
              (QStringList{QStringLiteral("nToUse"), QStringLiteral("1"), QStringLiteral("2")}));
    EXPECT_EQ(ini.ReadString(QStringLiteral("recentfiles"), QStringLiteral("1"), {}), QStringLiteral("/music/a b.wav"));
    EXPECT_EQ(ini.ReadString(QStringLiteral("Other"), QStringLiteral("spaced key"), {}), QStringLiteral("value"));
    EXPECT_EQ(ini.ReadString(QStringLiteral("Other"), QStringLiteral("none"), QStringLiteral("d")), QStringLiteral("d"));
    EXPECT_EQ(ini.ReadString(QStringLiteral("Other"), QStringLiteral("quoted"), {}), QStringLiteral(" padded "));

    ini.WriteString(QStringLiteral("recentFILES"), QStringLiteral("NTOUSE"), QStringLiteral("5"));
    ini.WriteString(QStringLiteral("New"), QStringLiteral("k"), QStringLiteral(" 1.50000000000000E+0000"));
    ini.WriteString(QStringLiteral("New"), QStringLiteral("q"), QStringLiteral("\"as is\""));
    ini.WriteString(QStringLiteral("New"), QStringLiteral("path"), QStringLiteral("/music/end .wav"));
    ini.DeleteKey(QStringLiteral("RecentFiles"), QStringLiteral("2"));
    ini.EraseSection(QStringLiteral("other"));
    ini.UpdateFile();
    EXPECT_EQ(test::read_text(file), QStringLiteral("; written by hand\n"
                                                    "\n"
                                                    "[RecentFiles]\n"
                                                    "nToUse=5\n"
                                                    "# a comment\n"
                                                    "1=/music/a b.wav\n"
                                                    "\n"
                                                    "[New]\n"
                                                    "k=\" 1.50000000000000E+0000\"\n"
                                                    "q=\"\"as is\"\"\n"
                                                    "path=/music/end .wav\n"));
    TIniFile again(file);
    EXPECT_EQ(again.ReadString(QStringLiteral("New"), QStringLiteral("k"), {}), QStringLiteral(" 1.50000000000000E+0000"));
    EXPECT_EQ(again.ReadString(QStringLiteral("New"), QStringLiteral("q"), {}), QStringLiteral("\"as is\""));
    EXPECT_EQ(QDir(folders.path({})).entryList(QDir::Files), QStringList{QStringLiteral("other.ini")});
}

TEST(IniFile, AWriteReplacesTheFileInsteadOfRewritingIt) {
    // The new content goes to a new file that is renamed over the old one:
    // a second link to the old file keeps the old content whole.
    test::IsolatedFolders folders;
    const QString file = folders.write_file(QStringLiteral("x.ini"), "[S]\nk=old\n");
    const QString link = folders.path(QStringLiteral("old-link.ini"));
    ASSERT_EQ(::link(QFile::encodeName(file).constData(), QFile::encodeName(link).constData()), 0);
    TIniFile ini(file);
    ini.WriteString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("new"));
    ini.UpdateFile();
    EXPECT_EQ(test::read_text(file), QStringLiteral("[S]\nk=new\n"));
    EXPECT_EQ(test::read_text(link), QStringLiteral("[S]\nk=old\n"));
}

TEST(IniFile, RefusesWhatAPlainIniFileCannotHold) {
    test::IsolatedFolders folders;
    TIniFile ini(folders.path(QStringLiteral("x.ini")));
    for (const QString& key : {QStringLiteral("a=b"), QStringLiteral(" a"), QStringLiteral("[a"),
                               QStringLiteral(";a"), QStringLiteral("a\nb"), QString()})
        EXPECT_THROW(ini.WriteString(QStringLiteral("S"), key, QStringLiteral("v")), EFileError) << key.toStdString();
    EXPECT_THROW(ini.WriteString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("a\nb")), EFileError);
    EXPECT_THROW(ini.WriteString(QStringLiteral("S\n"), QStringLiteral("k"), QStringLiteral("v")), EFileError);
    EXPECT_FALSE(ini.Modified());
}

TEST(IniFile, AFileThatCannotBeReadIsNeverOverwritten) {
    test::IsolatedFolders folders;
    const QString path = folders.path(QStringLiteral("dir.ini"));
    QDir().mkpath(path);  // a folder where the file should be
    TIniFile ini(path);
    EXPECT_TRUE(ini.ReadFailed());
    EXPECT_EQ(ini.ReadString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("d")), QStringLiteral("d"));
    try {
        ini.WriteString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("v"));
        FAIL() << "no error";
    } catch (const EFileError& e) {
        EXPECT_TRUE(e.message().contains(path)) << e.what();
    }
    TIniFile nowhere(folders.path(QStringLiteral("missing/x.ini")));
    nowhere.WriteString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("v"));
    EXPECT_THROW(nowhere.UpdateFile(), EFileError);  // the folder is not there
    EXPECT_FALSE(nowhere.Modified());
}

}  // namespace
