#include "settings/ini_file.h"

#include "common/errors.h"
#include "common/native_file_name.h"
#include "tests/settings/isolated_folders.h"
#include "tests/support/damaged_ini.h"

#include <QDateTime>

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
    EXPECT_EQ(ini.ReadString(QStringLiteral("recentfiles"), QStringLiteral("2"), {}), QStringLiteral("/music/c.wav"));
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
    // Only the changed line is written anew (with the key as the file spells
    // it and the file's CR LF); new lines use CR LF too; the second
    // appearance of the section keeps its header.
    EXPECT_EQ(test::read_bytes(file), QByteArray("\xEF\xBB\xBF; written by hand\r\n"
                                                 "[RecentFiles]\r\n"
                                                 "nToUse=5\r\n"
                                                 "\r\n"
                                                 "# a comment\r\n"
                                                 "1=/music/a b.wav\r\n"
                                                 "[recentfiles]\r\n"
                                                 "\r\n"
                                                 "[New]\r\n"
                                                 "k=\" 1.50000000000000E+0000\"\r\n"
                                                 "q=\"\"as is\"\"\r\n"
                                                 "path=/music/end .wav\r\n"));
    TIniFile again(file);
    EXPECT_EQ(again.ReadString(QStringLiteral("New"), QStringLiteral("k"), {}), QStringLiteral(" 1.50000000000000E+0000"));
    EXPECT_EQ(again.ReadString(QStringLiteral("New"), QStringLiteral("q"), {}), QStringLiteral("\"as is\""));
    EXPECT_EQ(again.ReadSection(QStringLiteral("RecentFiles")), (QStringList{QStringLiteral("nToUse"), QStringLiteral("1")}));
    EXPECT_EQ(QDir(folders.path({})).entryList(QDir::Files), QStringList{QStringLiteral("other.ini")});

    // A new file gets plain LF lines with a blank line between sections.
    TIniFile fresh(folders.path(QStringLiteral("new.ini")));
    fresh.WriteString(QStringLiteral("A"), QStringLiteral("x"), QStringLiteral("1"));
    fresh.WriteString(QStringLiteral("B"), QStringLiteral("y"), QStringLiteral("2"));
    fresh.WriteString(QStringLiteral("A"), QStringLiteral("z"), QStringLiteral("3"));
    fresh.UpdateFile();
    EXPECT_EQ(test::read_bytes(fresh.FileName()), QByteArray("[A]\nx=1\nz=3\n\n[B]\ny=2\n"));
}

TEST(IniFile, DamagedFileKeepsItsSectionsAndEveryByteItDoesNotChange) {
    test::IsolatedFolders folders;
    const QByteArray original = test::damaged_ini("[RecentFiles]\r\nnToUse=9\r\n1=/music/a.wav\r\n\r\n");
    const QString file = folders.write_file(QStringLiteral("damaged.ini"), original);
    {
        TIniFile ini(file);
        const QStringList sections = ini.ReadSections();
        ASSERT_EQ(sections.size(), 20002);
        EXPECT_EQ(sections.first(), QStringLiteral("\uFFFD0"));
        EXPECT_EQ(sections[10000], QStringLiteral("RecentFiles"));
        EXPECT_EQ(sections.last(), QStringLiteral("end"));
        EXPECT_EQ(ini.ReadString(QStringLiteral("RecentFiles"), QStringLiteral("1"), {}), QStringLiteral("/music/a.wav"));
        // A value's bytes come back as they are (file names need not be UTF-8).
        EXPECT_EQ(ini.ReadString(QStringLiteral("\uFFFD45"), QStringLiteral("k\uFFFD45"), {}),
                  file_name_from_native("v\xFD" "45"));
        EXPECT_EQ(ini.ReadSection(QStringLiteral("\uFFFD2100")),
                  (QStringList{QStringLiteral("k\uFFFD63")}));  // its other lines are no entries
        EXPECT_EQ(ini.ReadString(QStringLiteral("end"), QStringLiteral("k"), {}), QStringLiteral("cut off"));

        ini.WriteString(QStringLiteral("RecentFiles"), QStringLiteral("1"), QStringLiteral("/music/b.wav"));
        ini.UpdateFile();
    }
    QByteArray expected = original;
    expected.replace("1=/music/a.wav", "1=/music/b.wav");
    EXPECT_TRUE(test::read_bytes(file) == expected) << "only the changed line differs";

    // A new section goes after the cut-off last line, which gets its line
    // end; a key added to a section goes before its blank lines.
    TIniFile ini(file);
    ini.WriteString(QStringLiteral("New"), QStringLiteral("x"), QStringLiteral("1"));
    ini.WriteString(QStringLiteral("RecentFiles"), QStringLiteral("2"), QStringLiteral("/music/c.wav"));
    ini.UpdateFile();
    expected.replace("1=/music/b.wav\r\n\r\n", "1=/music/b.wav\r\n2=/music/c.wav\r\n\r\n");
    expected += "\r\n\r\n[New]\r\nx=1\r\n";
    EXPECT_TRUE(test::read_bytes(file) == expected);

    // Erasing takes the section's own bytes and nothing else.
    ini.EraseSection(QStringLiteral("recentfiles"));
    ini.EraseSection(QStringLiteral("new"));
    ini.UpdateFile();
    expected = original;
    expected.replace("[RecentFiles]\r\nnToUse=9\r\n1=/music/a.wav\r\n\r\n", "");
    EXPECT_TRUE(test::read_bytes(file) == expected);
    TIniFile after(file);
    EXPECT_EQ(after.ReadSections().size(), 20001);
    EXPECT_FALSE(after.SectionExists(QStringLiteral("RecentFiles")));
}

TEST(IniFile, SectionsAreFoundWhateverTheLettersAndBytesOfTheirNames) {
    // Each name as the file holds it, and as the program asks for it.
    struct Case {
        QByteArray header;
        QString query;
    } cases[] = {
        {"\xC3\x84rger\\Sub", QStringLiteral("\u00E4RGER\\sub")},
        {"  spaced  ", QStringLiteral("Spaced")},
        {"\xE3\x80\x80wide\xE3\x80\x80", QStringLiteral("WIDE")},  // blanks beyond ASCII
        {"\xEF\xBB\xBF" "bom", QStringLiteral("bom")},                // a byte order mark is no part
        {"\xFF\xFE", QStringLiteral("\uFFFD\uFFFD")},                // invalid UTF-8
        {"\xCE\xA3\xCE\x8A\xCE\xA3\xCE\xA5\xCE\xA6\xCE\x9F\xCE\xA3", QStringLiteral("\u03C3\u03AF\u03C3\u03C5\u03C6\u03BF\u03C2")},
        {"\xF0\x90\x90\x80x", QString::fromUtf8("\xF0\x90\x90\xA8X")},  // beyond the BMP
        {QByteArray(300, 'L'), QString(300, QLatin1Char('l'))},                 // a long name
    };
    test::IsolatedFolders folders;
    QByteArray bytes;
    for (const Case& c : cases) bytes += "[" + c.header + "]\r\nk=" + c.header + "\r\n";
    const QString file = folders.write_file(QStringLiteral("names.ini"), bytes);
    TIniFile ini(file);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header.toHex().toStdString());
        EXPECT_TRUE(ini.SectionExists(c.query));
        EXPECT_EQ(ini.ReadString(c.query, QStringLiteral("K"), {}), file_name_from_native(c.header).trimmed());
        EXPECT_TRUE(ini.AnySectionWithPrefix(c.query.left(1)));
    }
    EXPECT_EQ(ini.SectionsWithPrefix(QStringLiteral("\u00C4rger\\")), QStringList{QStringLiteral("\u00C4rger\\Sub")});
    EXPECT_EQ(ini.SectionsWithPrefix(QStringLiteral("sP")), QStringList{QStringLiteral("spaced")});
    EXPECT_FALSE(ini.AnySectionWithPrefix(QStringLiteral("x")));
    EXPECT_FALSE(ini.SectionExists(QStringLiteral(" spaced")));
}

TEST(IniFile, SeesChangesOfOtherProgramsAndNotTheUnwrittenChangesOfOthers) {
    test::IsolatedFolders folders;
    const QString file = folders.write_file(QStringLiteral("x.ini"), "[S]\nk=1\n");
    TIniFile a(file);
    EXPECT_EQ(a.ReadString(QStringLiteral("S"), QStringLiteral("k"), {}), QStringLiteral("1"));

    // Another program rewrites the file in place, same size.
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.write("[S]\nk=2\n");
        f.close();
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime));
    }
    EXPECT_EQ(a.ReadString(QStringLiteral("S"), QStringLiteral("k"), {}), QStringLiteral("2"));

    // Changes held back by one object are not seen by another until written;
    // dropped changes are gone.
    TIniFile b(file);
    b.WriteString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("3"));
    EXPECT_EQ(a.ReadString(QStringLiteral("S"), QStringLiteral("k"), {}), QStringLiteral("2"));
    EXPECT_EQ(b.ReadString(QStringLiteral("S"), QStringLiteral("k"), {}), QStringLiteral("3"));
    b.Discard();
    EXPECT_EQ(b.ReadString(QStringLiteral("S"), QStringLiteral("k"), {}), QStringLiteral("2"));
    b.WriteString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("4"));
    b.UpdateFile();
    EXPECT_EQ(a.ReadString(QStringLiteral("S"), QStringLiteral("k"), {}), QStringLiteral("4"));
    EXPECT_EQ(test::read_bytes(file), QByteArray("[S]\nk=4\n"));
    // a's own write starts from what the file holds now.
    a.WriteString(QStringLiteral("T"), QStringLiteral("j"), QStringLiteral("5"));
    a.UpdateFile();
    EXPECT_EQ(test::read_bytes(file), QByteArray("[S]\nk=4\n\n[T]\nj=5\n"));
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

TEST(IniFile, ValuesKeepTheBytesOfFileNamesThatAreNotUtf8) {
    test::IsolatedFolders folders;
    const QString file = folders.path(QStringLiteral("recent.ini"));
    const QString odd = file_name_from_native("/music/\xFFodd\xE9.wav");
    {
        TIniFile ini(file);
        ini.WriteString(QStringLiteral("RecentFiles"), QStringLiteral("1"), odd);
        ini.UpdateFile();
    }
    EXPECT_TRUE(test::read_bytes(file).contains("1=/music/\xFFodd\xE9.wav\n"));
    EXPECT_EQ(TIniFile(file).ReadString(QStringLiteral("RecentFiles"), QStringLiteral("1"), {}), odd);
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

TEST(IniFile, WritersOfDifferentKeysKeepEachOthersChanges) {
    // Two writers (two processes of the program) read the same file, then
    // each writes its own changes: the second write makes its changes on
    // what the first left, instead of on what it had read.
    test::IsolatedFolders folders;
    const QString file = folders.write_file(QStringLiteral("x.ini"), "[S]\nk=1\nold=1\n[U]\nu=1\n");
    TIniFile a(file), b(file);
    EXPECT_EQ(a.ReadString(QStringLiteral("S"), QStringLiteral("k"), {}), QStringLiteral("1"));
    EXPECT_EQ(b.ReadString(QStringLiteral("S"), QStringLiteral("k"), {}), QStringLiteral("1"));
    a.WriteString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("a"));
    b.WriteString(QStringLiteral("T"), QStringLiteral("j"), QStringLiteral("b"));
    b.DeleteKey(QStringLiteral("S"), QStringLiteral("old"));
    b.EraseSection(QStringLiteral("U"));
    a.UpdateFile();
    b.UpdateFile();
    EXPECT_EQ(test::read_bytes(file), QByteArray("[S]\nk=a\n\n[T]\nj=b\n"));
    EXPECT_FALSE(QFileInfo::exists(file + QStringLiteral(".lock")));  // the lock is gone with the write

    // Meanwhile unreadable: nothing is written over it.
    TIniFile c(file);
    c.WriteString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("c"));
    ASSERT_TRUE(QFile::remove(file));
    ASSERT_TRUE(QDir().mkpath(file));
    EXPECT_THROW(c.UpdateFile(), EFileError);
    EXPECT_TRUE(QFileInfo(file).isDir());
}

}  // namespace
