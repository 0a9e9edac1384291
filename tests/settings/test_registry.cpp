#include "settings/registry.h"

#include "tests/settings/isolated_folders.h"

#include <gtest/gtest.h>

using namespace wavrell;

namespace {

class Registry : public ::testing::Test {
protected:
    test::IsolatedFolders folders;
};

TEST_F(Registry, ValuesRoundTripThroughAPlainIniStore) {
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(QStringLiteral("\\Software\\OstrelData\\Wavrell"), true));
        reg.WriteInteger(QStringLiteral("AutoCheckForNewVersion"), 1);
        reg.WriteInteger(QStringLiteral("LastNewVersionCheckDate"), -46000);
        reg.WriteString(QStringLiteral("Home page"), QStringLiteral("http://ostrel.example/a%20b"));
        reg.WriteInteger(QStringLiteral("AutoCheckForNewVersion"), 0);  // replaced in place
    }
    const QString file = folders.config() + QStringLiteral("/wavrell-registry.ini");
    EXPECT_EQ(TRegistry::StoreFileName(RegistryRoot::CurrentUser), file);
    EXPECT_EQ(test::read_text(file),
              QStringLiteral("[Software\\OstrelData\\Wavrell]\n"
                             "AutoCheckForNewVersion=dword:0\n"
                             "LastNewVersionCheckDate=dword:-46000\n"
                             "Home page=sz:http://ostrel.example/a%2520b\n"));

    TRegistry reg;  // a second accessor sees what the first stored
    ASSERT_TRUE(reg.OpenKeyReadOnly(QStringLiteral("software\\ostreldata\\WAVRELL")));
    EXPECT_EQ(reg.GetValueNames(), (QStringList{QStringLiteral("AutoCheckForNewVersion"),
                                                QStringLiteral("LastNewVersionCheckDate"),
                                                QStringLiteral("Home page")}));
    EXPECT_EQ(reg.ReadInteger(QStringLiteral("autochecKfornewversion")), 0);
    EXPECT_EQ(reg.ReadInteger(QStringLiteral("LastNewVersionCheckDate")), -46000);
    EXPECT_EQ(reg.ReadString(QStringLiteral("Home page")), QStringLiteral("http://ostrel.example/a%20b"));
    EXPECT_TRUE(reg.ValueExists(QStringLiteral("Home page")));
    EXPECT_FALSE(reg.ValueExists(QStringLiteral("Missing")));
    // Missing values and values of the other kind fail; so does writing
    // through a key opened for reading.
    EXPECT_THROW(reg.ReadString(QStringLiteral("Missing")), ERegistryError);
    EXPECT_THROW(reg.ReadString(QStringLiteral("AutoCheckForNewVersion")), ERegistryError);
    EXPECT_THROW(reg.ReadInteger(QStringLiteral("Home page")), ERegistryError);
    EXPECT_THROW(reg.WriteString(QStringLiteral("x"), QStringLiteral("y")), ERegistryError);
    EXPECT_FALSE(reg.DeleteValue(QStringLiteral("Home page")));
    reg.CloseKey();
    EXPECT_THROW(reg.ReadInteger(QStringLiteral("AutoCheckForNewVersion")), ERegistryError);
    EXPECT_THROW(reg.WriteInteger(QStringLiteral("x"), 1), ERegistryError);
}

TEST_F(Registry, KeysSubKeysAndDeletion) {
    TRegistry reg;
    EXPECT_FALSE(reg.OpenKey(QStringLiteral("\\Software\\OstrelData\\WebMenu"), false));
    EXPECT_FALSE(reg.OpenKeyReadOnly(QStringLiteral("\\Software\\OstrelData\\WebMenu")));
    ASSERT_TRUE(reg.OpenKey(QStringLiteral("\\Software\\OstrelData\\WebMenu\\items"), true));
    reg.WriteString(QStringLiteral("E-mail Ostrel Data"), QStringLiteral("mailto:info@ostrel.example"));
    ASSERT_TRUE(reg.OpenKey(QStringLiteral("\\Software\\OstrelData\\Wavrell\\0.2\\RecentFiles"), true));
    ASSERT_TRUE(reg.OpenKey(QStringLiteral("\\Software\\OstrelData\\Wavrell"), false));
    reg.WriteInteger(QStringLiteral("n"), 5);

    // Parent keys exist through their sub-keys; an empty key exists too.
    EXPECT_TRUE(reg.KeyExists(QStringLiteral("\\Software")));
    EXPECT_TRUE(reg.KeyExists(QStringLiteral("\\Software\\OstrelData\\Wavrell\\0.2\\RecentFiles")));
    EXPECT_FALSE(reg.KeyExists(QStringLiteral("\\Software\\OstrelData\\Wav")));
    ASSERT_TRUE(reg.OpenKeyReadOnly(QStringLiteral("\\Software\\OstrelData")));
    EXPECT_EQ(reg.GetKeyNames(), (QStringList{QStringLiteral("WebMenu"), QStringLiteral("Wavrell")}));
    EXPECT_TRUE(reg.GetValueNames().isEmpty());

    ASSERT_TRUE(reg.OpenKey(QStringLiteral("\\Software\\OstrelData\\Wavrell"), false));
    EXPECT_TRUE(reg.DeleteValue(QStringLiteral("n")));
    EXPECT_FALSE(reg.DeleteValue(QStringLiteral("n")));
    EXPECT_TRUE(reg.DeleteKey(QStringLiteral("\\Software\\OstrelData\\Wavrell")));
    EXPECT_FALSE(reg.HasOpenKey());  // the open key went with it
    EXPECT_FALSE(reg.KeyExists(QStringLiteral("\\Software\\OstrelData\\Wavrell\\0.2")));
    EXPECT_FALSE(reg.DeleteKey(QStringLiteral("\\Software\\OstrelData\\Wavrell")));
    ASSERT_TRUE(reg.OpenKeyReadOnly(QStringLiteral("\\Software\\OstrelData\\WebMenu\\items")));
    EXPECT_EQ(reg.ReadString(QStringLiteral("E-mail Ostrel Data")), QStringLiteral("mailto:info@ostrel.example"));
}

TEST_F(Registry, UserAndMachineStoresAreSeparate) {
    TRegistry machine(RegistryRoot::LocalMachine);
    ASSERT_TRUE(machine.OpenKey(QStringLiteral("\\Software\\OstrelData\\WebMenu"), true));
    machine.WriteString(QStringLiteral("MenuDate"), QStringLiteral("20020523"));
    EXPECT_TRUE(QFileInfo::exists(folders.etc_xdg() + QStringLiteral("/wavrell-registry.ini")));

    TRegistry user;
    EXPECT_FALSE(user.KeyExists(QStringLiteral("\\Software\\OstrelData\\WebMenu")));
    user.setRootKey(RegistryRoot::LocalMachine);
    ASSERT_TRUE(user.OpenKeyReadOnly(QStringLiteral("\\Software\\OstrelData\\WebMenu")));
    EXPECT_EQ(user.ReadString(QStringLiteral("MenuDate")), QStringLiteral("20020523"));
}

TEST_F(Registry, AStoreThatCannotBeWrittenRefusesLikeMissingRights) {
    // The machine store's folder lies below a plain file: nothing can be
    // created there, not even by root.
    const QString blocker = folders.write_file(QStringLiteral("blocker"));
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(blocker + QStringLiteral("/xdg")));
    TRegistry machine(RegistryRoot::LocalMachine);
    EXPECT_FALSE(machine.OpenKey(QStringLiteral("\\Software\\OstrelData\\WebMenu"), true));
    EXPECT_FALSE(machine.OpenKeyReadOnly(QStringLiteral("\\Software\\OstrelData\\WebMenu")));
    EXPECT_THROW(machine.WriteString(QStringLiteral("MenuDate"), QStringLiteral("1")), ERegistryError);
    EXPECT_FALSE(machine.DeleteKey(QStringLiteral("\\Software")));

    // A store that exists but cannot be read is not overwritten.
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(folders.etc_xdg()));
    QDir().mkpath(folders.etc_xdg() + QStringLiteral("/wavrell-registry.ini"));
    EXPECT_FALSE(machine.OpenKey(QStringLiteral("\\Software"), true));
    EXPECT_TRUE(QFileInfo(folders.etc_xdg() + QStringLiteral("/wavrell-registry.ini")).isDir());
}

TEST_F(Registry, NamesAndTextsWithIniSyntaxSurviveAndKeepTheFilePlain) {
    const QStringList names{QStringLiteral("a=b"), QStringLiteral(" lead"), QStringLiteral("[x]"),
                            QStringLiteral(";semi"), QStringLiteral("50%"), QStringLiteral("line\nbreak")};
    const QString text = QStringLiteral(" two\r\nlines =100% ");
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(QStringLiteral("Software\\Odd"), true));
    for (const QString& n : names) reg.WriteString(n, text);
    EXPECT_EQ(reg.GetValueNames(), names);
    for (const QString& n : names) EXPECT_EQ(reg.ReadString(n), text) << n.toStdString();
    // Still one section with one line per value.
    const QStringList lines =
        test::read_text(TRegistry::StoreFileName(RegistryRoot::CurrentUser)).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines.size(), 1 + names.size());
}

}  // namespace
