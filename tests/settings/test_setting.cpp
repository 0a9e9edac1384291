#include "settings/setting.h"

#include "settings/prog_id.h"
#include "settings/registry.h"
#include "tests/settings/isolated_folders.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <cmath>

using namespace wavrell;

namespace {

class Setting : public ::testing::Test {
protected:
    Setting() {
        progid.setCompany(QStringLiteral("OstrelData"));
        progid.setProductName(QStringLiteral("Wavrell"));
        progid.setVersion(QStringLiteral("0.2"));
        special_folder_lookups().executable_path = [] { return QStringLiteral("/opt/wavrell/bin/x.exe"); };
        special_folder_lookups().last_resort = [this] { return folders.path(QStringLiteral("etc")); };
    }
    /// A store at a location, created after the lookups are in place.
    std::unique_ptr<TSetting> store(tsettinglocation loc) {
        auto s = std::make_unique<TSetting>();
        s->setProgId(&progid);
        s->setLocation(loc);
        return s;
    }
    QString sub(const QString& folder) const { return folder + QStringLiteral("/OstrelData/Wavrell/0.2/"); }
    void not_found(std::function<QString()>& lookup) { lookup = [] { return QString(); }; }
    /// A registry value of the user or machine store ("" when missing).
    static QString registry_text(RegistryRoot root, const QString& key, const QString& name) {
        TRegistry r(root);
        return r.OpenKeyReadOnly(key) && r.ValueExists(name) ? r.ReadString(name) : QString();
    }

    test::IsolatedFolders folders;
    TProgId progid;
};

TEST_F(Setting, EachLocationHasItsStoreAndWritesAPlainIniFile) {
    const QString fileloc = folders.path(QStringLiteral("own/settings.cfg"));
    struct Case {
        tsettinglocation loc;
        QString store;
    } cases[] = {
        {sluser, QStringLiteral("HKEY_CURRENT_USER")},
        {slmachine, QStringLiteral("HKEY_LOCAL_MACHINE")},
        {slroaming, sub(folders.config()) + QStringLiteral("x.ini")},
        {slnonroaming, sub(folders.data()) + QStringLiteral("x.ini")},
        {slcommonadmin, sub(folders.etc_xdg()) + QStringLiteral("x.ini")},
        {slcommoninsecure, sub(folders.etc_xdg()) + QStringLiteral("insecure/x.ini")},
        {slfile, fileloc},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.loc);
        auto s = store(c.loc);
        s->setFilename(fileloc);
        EXPECT_EQ(s->Location(), c.loc);
        EXPECT_EQ(s->IniFilename(), c.store);
        s->WriteString(QStringLiteral("RecentFiles"), QStringLiteral("1"), QStringLiteral("/music/a b.wav"));
        s->WriteInteger(QStringLiteral("RecentFiles"), QStringLiteral("nToUse"), 9);
        EXPECT_EQ(s->ReadString(QStringLiteral("RecentFiles"), QStringLiteral("1"), {}), QStringLiteral("/music/a b.wav"));
        EXPECT_EQ(s->ReadInteger(QStringLiteral("RecentFiles"), QStringLiteral("nToUse"), 0), 9);
        if (c.loc == sluser || c.loc == slmachine) {
            const auto root = c.loc == sluser ? RegistryRoot::CurrentUser : RegistryRoot::LocalMachine;
            EXPECT_EQ(registry_text(root, QStringLiteral("\\Software\\OstrelData\\Wavrell\\0.2\\RecentFiles"),
                                    QStringLiteral("1")),
                      QStringLiteral("/music/a b.wav"));
        } else {
            EXPECT_EQ(test::read_text(c.store), QStringLiteral("[RecentFiles]\n1=/music/a b.wav\nnToUse=9\n"));
        }
    }
}

TEST_F(Setting, MissingFoldersFallBack) {
    not_found(special_folder_lookups().roaming);
    not_found(special_folder_lookups().local);
    not_found(special_folder_lookups().common);
    const QString key = QStringLiteral("\\Software\\OstrelData\\Wavrell\\0.2\\S");
    struct Case {
        tsettinglocation loc, effective;
        QString store;
    } cases[] = {
        {slroaming, sluser, QStringLiteral("HKEY_CURRENT_USER")},
        {slnonroaming, sluser, QStringLiteral("HKEY_CURRENT_USER")},
        {slcommonadmin, slmachine, QStringLiteral("HKEY_LOCAL_MACHINE")},
        {slcommoninsecure, slcommoninsecure, folders.path(QStringLiteral("etc/x.ini"))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.loc);
        auto s = store(c.loc);
        EXPECT_EQ(s->Location(), c.effective);
        EXPECT_EQ(s->IniFilename(), c.store);
        s->WriteString(QStringLiteral("S"), QStringLiteral("k"), QString::number(c.loc));
    }
    EXPECT_EQ(registry_text(RegistryRoot::CurrentUser, key, QStringLiteral("k")), QString::number(slnonroaming));
    EXPECT_EQ(registry_text(RegistryRoot::LocalMachine, key, QStringLiteral("k")), QString::number(slcommonadmin));
    EXPECT_EQ(test::read_text(folders.path(QStringLiteral("etc/x.ini"))), QStringLiteral("[S]\nk=5\n"));

    // Once the folder is there again, the location is what was set.
    special_folder_lookups().roaming = {};
    auto s = store(slroaming);
    EXPECT_EQ(s->Location(), slroaming);
    EXPECT_EQ(s->ReadString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("none")), QStringLiteral("none"));
}

TEST_F(Setting, IniFileNameGivesOnlyTheNameWithIniExtension) {
    auto s = store(slnonroaming);
    s->setIniFilename(QStringLiteral("/somewhere/else/custom.cfg"));
    EXPECT_EQ(s->IniFilename(), sub(folders.data()) + QStringLiteral("custom.ini"));
    s->setIniFilename(QStringLiteral("archive.tar.gz"));
    EXPECT_EQ(s->IniFilename(), sub(folders.data()) + QStringLiteral("archive.tar.ini"));
    s->setIniFilename(QString());
    EXPECT_EQ(s->IniFilename(), sub(folders.data()) + QStringLiteral("x.ini"));

    // The name of an earlier store never becomes the file name.
    auto t = store(sluser);
    EXPECT_EQ(t->IniFilename(), QStringLiteral("HKEY_CURRENT_USER"));
    t->setLocation(slroaming);
    EXPECT_EQ(t->IniFilename(), sub(folders.config()) + QStringLiteral("x.ini"));
    t->setFilename(folders.path(QStringLiteral("mine.conf")));
    t->setLocation(slfile);
    EXPECT_EQ(t->IniFilename(), folders.path(QStringLiteral("mine.conf")));
    t->setLocation(slroaming);
    EXPECT_EQ(t->IniFilename(), sub(folders.config()) + QStringLiteral("x.ini"));
}

TEST_F(Setting, FloatText) {
    struct Case {
        double x;
        const char* text;
    } cases[] = {
        {1.5, " 1.50000000000000E+0000"},
        {-0.001, "-1.00000000000000E-0003"},
        {0.0, " 0.00000000000000E+0000"},
        {123456789012345678.0, " 1.23456789012346E+0017"},
        {-2.5e-300, "-2.50000000000000E-0300"},
        {1.7976931348623157e308, " 1.79769313486232E+0308"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TSetting::float_text(c.x), QLatin1String(c.text));
        EXPECT_EQ(TSetting::float_text(c.x).size(), 23);
    }
    double x = 0;
    for (const char* ok : {" 1.50000000000000E+0000", "1.5", "  -1E-3 ", "+2.5e10", "7"})
        EXPECT_TRUE(TSetting::parse_float_text(QLatin1String(ok), &x)) << ok;
    for (const char* bad : {"", "   ", "1,5", "1.5x", "0x10", "1.5E", "--1", "1 5"})
        EXPECT_FALSE(TSetting::parse_float_text(QLatin1String(bad), &x)) << bad;
}

TEST_F(Setting, ValueKindsReadBackWithTheirRules) {
    for (tsettinglocation loc : {slroaming, sluser}) {
        SCOPED_TRACE(loc);
        auto s = store(loc);
        const QString S = QStringLiteral("Values");
        s->WriteFloat(S, QStringLiteral("f"), -0.001);
        s->WriteString(S, QStringLiteral("empty"), QString());
        s->WriteInteger(S, QStringLiteral("two"), 2);
        s->WriteBool(S, QStringLiteral("on"), true);
        s->WriteString(S, QStringLiteral("text"), QStringLiteral("abc"));

        EXPECT_EQ(s->ReadString(S, QStringLiteral("f"), {}), QStringLiteral("-1.00000000000000E-0003"));
        EXPECT_EQ(s->ReadFloat(S, QStringLiteral("f"), 7), -0.001);
        // A missing float comes back through its text: 15 significant digits.
        EXPECT_EQ(s->ReadFloat(S, QStringLiteral("missing"), 0.1 + 0.2), 0.3);
        EXPECT_EQ(s->ReadFloat(S, QStringLiteral("text"), 0.1 + 0.2), 0.1 + 0.2);
        EXPECT_EQ(s->ReadString(S, QStringLiteral("empty"), QStringLiteral("dflt")), QStringLiteral("dflt"));
        EXPECT_FALSE(s->ReadBool(S, QStringLiteral("two"), true));
        EXPECT_TRUE(s->ReadBool(S, QStringLiteral("on"), false));
        EXPECT_TRUE(s->ReadBool(S, QStringLiteral("missing"), true));
        EXPECT_EQ(s->ReadInteger(S, QStringLiteral("text"), -4), -4);
        EXPECT_EQ(s->ReadInteger(S, QStringLiteral("missing"), -4), -4);
        EXPECT_EQ(s->ReadInteger(QStringLiteral("NoSection"), QStringLiteral("two"), -4), -4);
    }
    // Integer texts in an ini file.
    auto s = store(slroaming);
    struct Case {
        const char* text;
        int32_t value;
    } cases[] = {{"0x1F", 31}, {"0XFFFFFFFF", -1}, {" 42 ", 42}, {"-17", -17},
                 {"0x", -4},   {"12abc", -4},      {"0x-1", -4}, {"99999999999", -4}};
    for (const Case& c : cases) {
        s->WriteString(QStringLiteral("I"), QStringLiteral("k"), QLatin1String(c.text));
        EXPECT_EQ(s->ReadInteger(QStringLiteral("I"), QStringLiteral("k"), -4), c.value) << c.text;
    }
}

TEST_F(Setting, FontsAreSevenKeys) {
    for (tsettinglocation loc : {slroaming, sluser}) {
        SCOPED_TRACE(loc);
        auto s = store(loc);
        const TSettingFont font{QStringLiteral("DejaVu Sans"), 11, 0x0000FF, true, false, true, false};
        s->WriteFont(QStringLiteral("View"), QStringLiteral("Label"), font);
        QStringList keys;
        s->ReadSection(QStringLiteral("View"), keys);
        EXPECT_EQ(keys, (QStringList{QStringLiteral("LabelName"), QStringLiteral("LabelSize"),
                                     QStringLiteral("LabelColor"), QStringLiteral("LabelBold"),
                                     QStringLiteral("LabelItalics"), QStringLiteral("LabelUnderline"),
                                     QStringLiteral("LabelStrikeout")}));
        TSettingFont back{QStringLiteral("Other"), 8, 5, false, true, false, true};
        s->ReadFont(QStringLiteral("View"), QStringLiteral("Label"), back);
        EXPECT_EQ(back.Name, font.Name);
        EXPECT_EQ(back.Size, 11);
        EXPECT_EQ(back.Color, 0x0000FF);
        EXPECT_TRUE(back.Bold && back.Underline && !back.Italic && !back.StrikeOut);

        // Nothing stored: name and size stay, the style is cleared, colour 0.
        TSettingFont kept{QStringLiteral("Keep"), 9, 0x123456, true, true, true, true};
        TSettingFont& r = s->ReadFont(QStringLiteral("Empty"), QStringLiteral("Label"), kept);
        EXPECT_EQ(&r, &kept);
        EXPECT_EQ(kept.Name, QStringLiteral("Keep"));
        EXPECT_EQ(kept.Size, 9);
        EXPECT_EQ(kept.Color, 0);
        EXPECT_FALSE(kept.Bold || kept.Italic || kept.Underline || kept.StrikeOut);
    }
}

TEST_F(Setting, SectionsKeysAndDeletion) {
    for (tsettinglocation loc : {slroaming, sluser}) {
        SCOPED_TRACE(loc);
        auto s = store(loc);
        s->WriteString(QStringLiteral("A"), QStringLiteral("1"), QStringLiteral("x"));
        s->WriteString(QStringLiteral("A"), QStringLiteral("2"), QStringLiteral("y"));
        s->WriteString(QStringLiteral("B"), QStringLiteral("1"), QStringLiteral("z"));
        QStringList list{QStringLiteral("old")};
        s->ReadSections(list);
        EXPECT_EQ(list, (QStringList{QStringLiteral("A"), QStringLiteral("B")}));
        s->DeleteKey(QStringLiteral("A"), QStringLiteral("1"));
        s->ReadSection(QStringLiteral("A"), list);
        EXPECT_EQ(list, QStringList{QStringLiteral("2")});
        s->DeleteSection(QStringLiteral("A"));
        s->DeleteSection(QStringLiteral("Missing"));
        s->ReadSections(list);
        EXPECT_EQ(list, QStringList{QStringLiteral("B")});
        s->ReadSection(QStringLiteral("A"), list);
        EXPECT_TRUE(list.isEmpty());
    }
}

TEST_F(Setting, WithoutIdentity) {
    TSetting s;
    s.setObjectName(QStringLiteral("Setting1"));
    try {
        s.Loaded();
        FAIL() << "no error";
    } catch (const ESettingError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Nothing assigned to Setting1.ProgId"));
    }
    try {
        s.setLocation(slroaming);
        FAIL() << "no error";
    } catch (const ESettingError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Nothing assigned to ProgId"));
    }
    EXPECT_THROW(s.ReadString(QStringLiteral("S"), QStringLiteral("k"), {}), ESettingError);
    EXPECT_THROW(s.Version(), ESettingError);

    // Registry reads give the default; writes report the missing identity.
    TSetting r;
    EXPECT_EQ(r.Location(), sluser);
    EXPECT_EQ(r.ReadString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("d")), QStringLiteral("d"));
    EXPECT_EQ(r.ReadInteger(QStringLiteral("S"), QStringLiteral("k"), 3), 3);
    EXPECT_THROW(r.WriteInteger(QStringLiteral("S"), QStringLiteral("k"), 1), ESettingError);
    EXPECT_FALSE(r.OkToWrite());

    // Assigned, the same store works.
    r.setProgId(&progid);
    r.Loaded();
    EXPECT_TRUE(r.OkToWrite());
}

TEST_F(Setting, AChangedVersionMovesTheStore) {
    for (tsettinglocation loc : {slroaming, sluser}) {
        SCOPED_TRACE(loc);
        progid.setVersion(QStringLiteral("0.2"));
        auto s = store(loc);
        s->WriteString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("old"));
        progid.setVersion(QStringLiteral("0.3"));
        EXPECT_EQ(s->ReadString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("none")), QStringLiteral("none"));
        s->WriteString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("new"));
        progid.setAutoVersion(true);  // reads "3.0"
        EXPECT_EQ(s->Version(), QStringLiteral("3.0"));
        EXPECT_EQ(s->ReadString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("none")), QStringLiteral("none"));
        progid.setAutoVersion(false);
        EXPECT_EQ(s->ReadString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("none")), QStringLiteral("new"));
    }
    EXPECT_EQ(test::read_text(folders.config() + QStringLiteral("/OstrelData/Wavrell/0.3/x.ini")),
              QStringLiteral("[S]\nk=new\n"));
    EXPECT_EQ(registry_text(RegistryRoot::CurrentUser, QStringLiteral("\\Software\\OstrelData\\Wavrell\\0.2\\S"),
                            QStringLiteral("k")),
              QStringLiteral("old"));
}

TEST_F(Setting, EmptyIdentityPartsGiveEmptyPathParts) {
    progid.setCompany(QString());
    auto s = store(slroaming);
    EXPECT_EQ(s->IniFilename(), folders.config() + QStringLiteral("//Wavrell/0.2/x.ini"));
    s->WriteInteger(QStringLiteral("S"), QStringLiteral("k"), 1);
    EXPECT_EQ(test::read_text(folders.config() + QStringLiteral("/Wavrell/0.2/x.ini")), QStringLiteral("[S]\nk=1\n"));
}

TEST_F(Setting, ManualIniCloseHoldsWritesUntilIniClose) {
    auto s = store(slroaming);
    const QString file = s->IniFilename();
    s->setManualIniClose(true);
    s->WriteString(QStringLiteral("S"), QStringLiteral("a"), QStringLiteral("1"));
    EXPECT_EQ(s->ReadString(QStringLiteral("S"), QStringLiteral("a"), {}), QStringLiteral("1"));
    EXPECT_FALSE(QFileInfo::exists(file));
    EXPECT_TRUE(s->OkToWrite());  // tries the file without writing what is held back
    EXPECT_EQ(test::read_text(file), QString());
    s->IniClose();
    EXPECT_EQ(test::read_text(file), QStringLiteral("[S]\na=1\n"));

    s->WriteString(QStringLiteral("S"), QStringLiteral("b"), QStringLiteral("2"));
    s->IniDiscard();
    s->WriteString(QStringLiteral("S"), QStringLiteral("c"), QStringLiteral("3"));
    s->setManualIniClose(false);  // flushes
    EXPECT_EQ(test::read_text(file), QStringLiteral("[S]\na=1\nc=3\n"));
}

TEST_F(Setting, StoresThatCannotBeWritten) {
    const QString blocker = folders.write_file(QStringLiteral("blocker"));
    special_folder_lookups().roaming = [blocker] { return blocker + QStringLiteral("/config"); };
    auto s = store(slroaming);
    EXPECT_EQ(s->Location(), slroaming);
    EXPECT_FALSE(s->OkToWrite());
    EXPECT_THROW(s->WriteString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("v")), EFileError);
    EXPECT_EQ(s->ReadString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("d")), QStringLiteral("d"));
    s->DeleteSection(QStringLiteral("S"));  // ignores the failure

    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(blocker + QStringLiteral("/xdg")));
    auto m = store(slmachine);
    EXPECT_FALSE(m->OkToWrite());
    EXPECT_THROW(m->WriteInteger(QStringLiteral("S"), QStringLiteral("k"), 1), ERegistryError);
    EXPECT_EQ(m->ReadInteger(QStringLiteral("S"), QStringLiteral("k"), 8), 8);

    // A writable store is left as it was by the probe.
    auto u = store(sluser);
    EXPECT_TRUE(u->OkToWrite());
    auto r = store(slroaming);
    special_folder_lookups().roaming = {};
    r->setLocation(slroaming);
    EXPECT_TRUE(r->OkToWrite());
    EXPECT_EQ(test::read_text(r->IniFilename()), QString());
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly(QStringLiteral("\\Software\\OstrelData\\Wavrell\\0.2")));
    EXPECT_TRUE(reg.GetValueNames().isEmpty());

    // The machine store is an administrator's to write, even where its
    // folder lets anyone write.
    special_folder_lookups().administrator = [] { return false; };
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(folders.etc_xdg()));
    auto machine = store(slmachine);
    EXPECT_FALSE(machine->OkToWrite());
    EXPECT_THROW(machine->WriteInteger(QStringLiteral("S"), QStringLiteral("k"), 1), ERegistryError);
    EXPECT_TRUE(QDir(folders.etc_xdg()).isEmpty());
}

TEST_F(Setting, AnIniFileThatCannotBeReplacedIsNotWritable) {
    // An immutable file cannot be replaced, not even by root. The probe
    // must really write: a write that changes nothing leaves the file alone.
    const QByteArray content = "[S]\nk=v\n";
    const QString file = folders.write_file(QStringLiteral("own/fixed.ini"), content);
    if (QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), file}) != 0)
        GTEST_SKIP() << "chattr +i is not available here";
    struct Mutable {
        QString file;
        ~Mutable() { QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), file}); }
    } restore{file};
    auto s = store(slfile);
    s->setFilename(file);
    EXPECT_FALSE(s->OkToWrite());
    EXPECT_THROW(s->WriteString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("w")), EFileError);
    EXPECT_EQ(s->ReadString(QStringLiteral("S"), QStringLiteral("k"), {}), QStringLiteral("v"));
    EXPECT_EQ(test::read_bytes(file), content);
}

TEST(SpecialFolders, XdgVariablesAndTheirDefaults) {
    test::IsolatedFolders folders;
    EXPECT_EQ(special_folder(SpecialFolder::Roaming), folders.config());
    EXPECT_EQ(special_folder(SpecialFolder::Local), folders.data());
    EXPECT_EQ(special_folder(SpecialFolder::Common), folders.etc_xdg());
    EXPECT_EQ(last_resort_folder(), QStringLiteral("/etc"));
    qunsetenv("XDG_CONFIG_HOME");
    qputenv("XDG_DATA_HOME", "relative/data");  // not absolute: ignored
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(QStringLiteral("rel:") + folders.path(QStringLiteral("a/")) +
                                                 QStringLiteral(":/b")));
    EXPECT_EQ(special_folder(SpecialFolder::Roaming), folders.home() + QStringLiteral("/.config"));
    EXPECT_EQ(special_folder(SpecialFolder::Local), folders.home() + QStringLiteral("/.local/share"));
    EXPECT_EQ(special_folder(SpecialFolder::Common), folders.path(QStringLiteral("a")));
    qputenv("XDG_CONFIG_DIRS", "");
    qunsetenv("HOME");
    EXPECT_EQ(special_folder(SpecialFolder::Common), QStringLiteral("/etc/xdg"));
    EXPECT_EQ(special_folder(SpecialFolder::Roaming), QString());  // not found
}

TEST(ProgId, AutoVersionKeepsTheStoredVersion) {
    TProgId id;
    EXPECT_TRUE(id.ProductName().isEmpty() && id.Version().isEmpty() && id.Company().isEmpty());
    EXPECT_FALSE(id.AutoVersion());
    id.setVersion(QStringLiteral("0.2"));
    id.setAutoVersion(true);
    EXPECT_EQ(id.Version(), QStringLiteral("3.0"));
    id.setAutoVersion(false);
    EXPECT_EQ(id.Version(), QStringLiteral("0.2"));
}

}  // namespace
