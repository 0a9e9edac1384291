#include "settings/settings_upgrade.h"

#include "settings/prog_id.h"
#include "tests/settings/isolated_folders.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace wavrell {
namespace {

TProgId* identity(const QString& version) {
    static TProgId id;
    id.setCompany(QStringLiteral("OstrelData"));
    id.setProductName(QStringLiteral("Wavrell"));
    id.setVersion(version);
    return &id;
}

// The newest older version's folder is taken, by version number rather than
// by text, and nothing else.
TEST(SettingsUpgrade, FirstStartOfAVersionTakesTheNewestOlderVersionsFolder) {
    struct Case {
        const char* what;
        const char* version;
        QStringList folders;
        const char* taken;  // "" none
    } cases[] = {
        {"0.10 is newer than 0.9", "0.11", {"0.1", "0.9", "0.10"}, "0.10"},
        {"newer versions are left alone", "0.2", {"0.1", "0.3", "1.0"}, "0.1"},
        {"names that are no version", "0.2", {"backup", "0.1-old", "0.1"}, "0.1"},
        {"no older version", "0.2", {"0.3", "old"}, ""},
        {"nothing stored yet", "0.2", {}, ""},
        {"the version's own folder exists", "0.2", {"0.1", "0.2"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::IsolatedFolders folders;
        const QString product = folders.config() + QStringLiteral("/OstrelData/Wavrell/");
        for (const QString& f : c.folders) {
            folders.write_file(QStringLiteral("config/OstrelData/Wavrell/%1/wavrell.ini").arg(f),
                               "[Levels]\nMatchBy=" + f.toUtf8() + "\n");
            folders.write_file(QStringLiteral("config/OstrelData/Wavrell/%1/more/x.txt").arg(f), f.toUtf8());
        }
        const QString own = product + QLatin1String(c.version);
        const bool had_own = QFileInfo::exists(own);
        EXPECT_EQ(adopt_older_settings(*identity(QLatin1String(c.version))), QLatin1String(c.taken));
        if (*c.taken) {
            EXPECT_EQ(test::read_text(own + QStringLiteral("/wavrell.ini")),
                      QStringLiteral("[Levels]\nMatchBy=%1\n").arg(QLatin1String(c.taken)));
            EXPECT_EQ(test::read_text(own + QStringLiteral("/more/x.txt")), QLatin1String(c.taken));
            // Nothing but the copy is left beside the versions.
            EXPECT_EQ(QDir(product).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), c.folders.size() + 1);
            // Once: later changes of the old version are not copied again.
            folders.write_file(QStringLiteral("config/OstrelData/Wavrell/%1/wavrell.ini").arg(QLatin1String(c.taken)),
                               "changed");
            EXPECT_EQ(adopt_older_settings(*identity(QLatin1String(c.version))), QString());
            EXPECT_TRUE(test::read_text(own + QStringLiteral("/wavrell.ini")).startsWith(QLatin1String("[Levels]")));
        } else {
            EXPECT_EQ(QFileInfo::exists(own), had_own) << "no folder is made for nothing";
        }
    }
}

}  // namespace
}  // namespace wavrell
