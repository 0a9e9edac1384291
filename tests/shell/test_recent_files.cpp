#include "shell/recent_files.h"

#include "common/message_box.h"
#include "settings/prog_id.h"
#include "settings/registry.h"
#include "settings/setting.h"
#include "shell/drive_type.h"
#include "tests/settings/isolated_folders.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>

#include <gtest/gtest.h>

#include <memory>

using namespace wavrell;

namespace {

struct BoxCall {
    QString text, caption;
    int flags;
};

class RecentFiles : public ::testing::Test {
protected:
    RecentFiles() {
        progid.setCompany(QStringLiteral("OstrelData"));
        progid.setProductName(QStringLiteral("Wavrell"));
        progid.setVersion(QStringLiteral("0.2"));
        special_folder_lookups().executable_path = [] { return QStringLiteral("/usr/bin/wavrell"); };
        set_message_box_hook([this](const QString& text, const QString& caption, int flags) {
            boxes.append({text, caption, flags});
            return answer;
        });
        menu.addAction(QStringLiteral("Open file 1..."));
        menu.addAction(QStringLiteral("Close file 1"));
        menu.addSeparator();
        menu.addAction(QStringLiteral("E&xit"));
    }
    ~RecentFiles() override { set_message_box_hook({}); }

    /// A list configured as the main window configures its two lists.
    std::unique_ptr<TRecentFiles> window_list(QMenu* m, const QString& name = QStringLiteral("RecentFiles1")) {
        auto r = std::make_unique<TRecentFiles>();
        r->setObjectName(name);
        r->setMenu(m);
        r->setMaxItems(9);
        r->setMenuPos(2);
        r->setBarBefore(true);
        r->setIncludeClearItem(true);
        r->setClearCaption(QStringLiteral("&Clear list..."));
        r->setAllowFileOnFixed(true);
        r->setAllowFileOnRemote(true);
        r->setAllowFileOnRemovable(false);
        r->setAllowFileOnCDROM(false);
        r->setAllowFileOnRAMDisk(false);
        r->setProgId(&progid);
        r->Loaded();
        return r;
    }
    /// The visible items of a menu, separators as "-".
    static QStringList shown(const QMenu& m) {
        QStringList texts;
        for (QAction* a : m.actions())
            if (a->isVisible()) texts.append(a->isSeparator() ? QStringLiteral("-") : a->text());
        return texts;
    }
    QString ini() const { return folders.config() + QStringLiteral("/OstrelData/Wavrell/0.2/wavrell.ini"); }
    /// Files on the build folder's file system (a fixed disk).
    QString file(const QString& name) const { return folders.write_file(QStringLiteral("music/") + name); }
    /// The stored section as "key=value" lines.
    QString stored() const {
        TSetting s;
        s.setProgId(const_cast<TProgId*>(&progid));
        s.setLocation(slroaming);
        QStringList keys, lines;
        s.ReadSection(QStringLiteral("RecentFiles"), keys);
        for (const QString& k : keys)
            lines.append(k + QLatin1Char('=') + s.ReadString(QStringLiteral("RecentFiles"), k, QString()));
        return lines.join(QLatin1Char('\n'));
    }

    test::IsolatedFolders folders;
    TProgId progid;
    QMenu menu;
    QList<BoxCall> boxes;
    int answer = mb::IDOK;
};

TEST_F(RecentFiles, StartUpReadsTheStoredListAndDropsWhatIsGone) {
    const QString a = file(QStringLiteral("a.wav")), b = file(QStringLiteral("b.wav")), c = file(QStringLiteral("c.wav"));
    folders.write_file(QStringLiteral("config/OstrelData/Wavrell/0.2/wavrell.ini"),
                       QStringLiteral("[Other]\nkeep=1\n[RecentFiles]\nnToUse=5\n1=%1\n2=%2\n3=%3\n4=%4\n5=%5\n6=%6\n")
                           .arg(a, folders.path(QStringLiteral("music/gone.wav")), b, a.toUpper(), c,
                                file(QStringLiteral("six.wav")))
                           .toUtf8());
    auto list = window_list(&menu);
    EXPECT_EQ(list->MaxItems(), 5);  // the stored count replaces the configured 9
    EXPECT_EQ(list->itemcount(), 3);
    EXPECT_TRUE(list->inserted());
    EXPECT_EQ(shown(menu), (QStringList{QStringLiteral("Open file 1..."), QStringLiteral("Close file 1"),
                                        QStringLiteral("-"), QStringLiteral("&1 ") + a, QStringLiteral("&2 ") + b,
                                        QStringLiteral("&3 ") + c, QStringLiteral("&Clear list..."),
                                        QStringLiteral("-"), QStringLiteral("E&xit")}));
    // The cleaned list is stored at once; other sections stay.
    EXPECT_EQ(test::read_text(ini()), QStringLiteral("[Other]\nkeep=1\n\n[RecentFiles]\nnToUse=5\n1=%1\n2=%2\n3=%3\n4=\n5=\n")
                                          .arg(a, b, c));
    EXPECT_EQ(list->item(1)->data().toInt(), 1);
}

TEST_F(RecentFiles, OnlyRegularFilesCountAsExistingEntries) {
    // A named pipe, a socket, a folder or a device under a stored name is
    // as good as gone: dropped at start-up, and "Can't find" when chosen.
    auto dir = test::build_temp_dir();
    const std::vector<test::SpecialFile> special = test::special_files(*dir);
    const QString a = file(QStringLiteral("a.wav"));
    QString stored_list = QStringLiteral("[RecentFiles]\nnToUse=9\n1=%1\n").arg(a);
    for (size_t i = 0; i < special.size(); ++i) stored_list += QStringLiteral("%1=%2\n").arg(i + 2).arg(special[i].path);
    folders.write_file(QStringLiteral("config/OstrelData/Wavrell/0.2/wavrell.ini"), stored_list.toUtf8());
    auto list = window_list(&menu);
    EXPECT_EQ(list->itemcount(), 1);
    EXPECT_EQ(list->filename(1), a);

    // A file that became a folder since it was added.
    const QString b = file(QStringLiteral("b.wav"));
    list->OnClick = [](QObject*, int, const QString&) { ADD_FAILURE() << "reported"; };
    list->add(b);
    ASSERT_TRUE(QFile::remove(b));
    ASSERT_TRUE(QDir().mkpath(b));
    list->item(1)->trigger();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0].text, QStringLiteral("Can't find \r") + b);
    EXPECT_EQ(list->itemcount(), 1);
    EXPECT_EQ(list->filename(1), a);
}

TEST_F(RecentFiles, AddingMovesToTheTopWithoutDuplicates) {
    auto list = window_list(&menu);
    const QString a = file(QStringLiteral("Take.wav")), b = file(QStringLiteral("b.wav"));
    list->add(a);
    list->add(b);
    const QString other_case = folders.path(QStringLiteral("MUSIC/TAKE.WAV"));
    list->add(other_case);
    EXPECT_EQ(list->itemcount(), 2);
    EXPECT_EQ(list->filename(1), other_case);
    EXPECT_EQ(list->filename(2), b);
    EXPECT_EQ(stored(), QStringLiteral("nToUse=9\n1=%1\n2=%2\n3=\n4=\n5=\n6=\n7=\n8=\n9=").arg(other_case, b));

    // A name that a plain ini file cannot hold leaves its slot empty in the
    // store; the rest is stored.
    const QString odd = file(QStringLiteral("line\nbreak.wav"));
    list->add(odd);
    EXPECT_EQ(list->filename(1), odd);
    EXPECT_EQ(stored(), QStringLiteral("nToUse=9\n1=\n2=%1\n3=%2\n4=\n5=\n6=\n7=\n8=\n9=").arg(other_case, b));
    list->clear();
    list->add(b);
    list->add(other_case);

    // A relative name is stored as its full path.
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(folders.path(QStringLiteral("music")));
    list->add(QStringLiteral("../music/./b.wav"));
    QDir::setCurrent(cwd);
    EXPECT_EQ(list->filename(1), b);

    // An empty name changes and writes nothing.
    QFile::remove(ini());
    list->add(QString());
    EXPECT_EQ(list->itemcount(), 2);
    EXPECT_FALSE(QFileInfo::exists(ini()));
}

TEST_F(RecentFiles, OtherProgramsReadTheStoredList) {
    auto list = window_list(&menu);
    const QString a = file(QStringLiteral("Take 1 & 2 (50%).wav")), b = file(QStringLiteral("b.wav"));
    list->add(a);
    list->add(b);
    // Python's ini reader, without interpolation and with the keys' case kept.
    const QString script = QStringLiteral(
        "import configparser, sys\n"
        "c = configparser.ConfigParser(interpolation=None)\n"
        "c.optionxform = str\n"
        "c.read(sys.argv[1], encoding='utf-8')\n"
        "for k, v in c['RecentFiles'].items(): print(k + '|' + v)\n");
    QByteArray out;
    ASSERT_EQ(test::run_program(QStringLiteral("python3"), {QStringLiteral("-c"), script, ini()}, &out), 0);
    EXPECT_EQ(QString::fromUtf8(out),
              QStringLiteral("nToUse|9\n1|%1\n2|%2\n3|\n4|\n5|\n6|\n7|\n8|\n9|\n").arg(b, a));
}

TEST_F(RecentFiles, CaptionsRunToFAndAMaxOfFifteen) {
    auto list = window_list(&menu);
    list->setMaxItems(20);
    EXPECT_EQ(list->MaxItems(), 15);
    for (int i = 1; i <= 16; ++i) list->add(file(QStringLiteral("f%1.wav").arg(i)));
    EXPECT_EQ(list->item(10)->text(), QStringLiteral("&A ") + list->filename(10));
    EXPECT_EQ(list->item(15)->text(), QStringLiteral("&F ") + list->filename(15));
    EXPECT_EQ(list->filename(10), folders.path(QStringLiteral("music/f7.wav")));
    EXPECT_FALSE(list->item(16)->isVisible());  // slot 16 is never shown
    EXPECT_EQ(list->itemcount(), 15);
    EXPECT_TRUE(test::read_text(ini()).contains(QStringLiteral("\nF=") + list->filename(15) + QStringLiteral("\n")));

    list->setMaxItems(-3);
    EXPECT_EQ(list->MaxItems(), 0);
    EXPECT_TRUE(list->filename(1).isEmpty());
    EXPECT_EQ(shown(menu), (QStringList{QStringLiteral("Open file 1..."), QStringLiteral("Close file 1"),
                                        QStringLiteral("-"), QStringLiteral("E&xit")}));
    EXPECT_EQ(stored(), QStringLiteral("nToUse=0"));
    list->setMaxItems(3);
    EXPECT_EQ(list->itemcount(), 0);  // the emptied slots do not come back
}

TEST_F(RecentFiles, AHiddenTenthEntryReturnsWhenAMissingOneIsDropped) {
    auto list = window_list(&menu);
    QStringList files;
    for (int i = 1; i <= 10; ++i) {
        files.append(file(QStringLiteral("t%1.wav").arg(i)));
        list->add(files.last());
    }
    EXPECT_EQ(list->itemcount(), 9);
    EXPECT_EQ(list->filename(10), files[0]);  // hidden and not stored
    EXPECT_FALSE(list->item(10)->isVisible());
    EXPECT_FALSE(stored().contains(files[0]));

    // Entry 3 (t8.wav) was deleted; clicking it tells so and drops it.
    QFile::remove(files[7]);
    answer = mb::IDOK;
    list->item(3)->trigger();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0].text, QStringLiteral("Can't find \r") + files[7]);
    EXPECT_EQ(boxes[0].caption, QStringLiteral("File not found"));
    EXPECT_EQ(boxes[0].flags, mb::OK | mb::ICONEXCLAMATION);
    EXPECT_EQ(list->itemcount(), 9);
    EXPECT_EQ(list->filename(9), files[0]);
    EXPECT_TRUE(list->item(9)->isVisible());
    EXPECT_EQ(list->item(9)->text(), QStringLiteral("&9 ") + files[0]);
    EXPECT_TRUE(stored().contains(QStringLiteral("9=") + files[0]));
    EXPECT_FALSE(stored().contains(files[7]));
}

TEST_F(RecentFiles, ClickingAnEntryReportsItAndMovesItUp) {
    auto list = window_list(&menu);
    const QString a = file(QStringLiteral("a.wav")), b = file(QStringLiteral("b.wav"));
    list->add(a);
    list->add(b);
    list->item(2)->trigger();  // no handler: nothing happens
    EXPECT_EQ(list->filename(1), b);

    QObject* sender = nullptr;
    int itemno = 0;
    QString name;
    list->OnClick = [&](QObject* s, int n, const QString& f) {
        sender = s;
        itemno = n;
        name = f;
    };
    QAction* second = list->item(2);
    second->trigger();
    EXPECT_EQ(sender, second);
    EXPECT_EQ(itemno, 2);
    EXPECT_EQ(name, a);
    EXPECT_EQ(list->filename(1), a);
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(RecentFiles, ClearingAsksFirst) {
    auto list = window_list(&menu);
    list->add(file(QStringLiteral("a.wav")));
    answer = mb::IDNO;
    list->clearitem()->trigger();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0].text, QStringLiteral("Do you want to clear the list of recently used files?"));
    EXPECT_EQ(boxes[0].caption, QStringLiteral("Clear list"));
    EXPECT_EQ(boxes[0].flags, mb::YESNO | mb::ICONQUESTION);
    EXPECT_EQ(list->itemcount(), 1);
    answer = mb::IDYES;
    list->clearitem()->trigger();
    EXPECT_EQ(list->itemcount(), 0);
    EXPECT_EQ(stored(), QStringLiteral("nToUse=9\n1=\n2=\n3=\n4=\n5=\n6=\n7=\n8=\n9="));
    EXPECT_EQ(shown(menu).size(), 4);
}

TEST_F(RecentFiles, TheDriveFilterRefusesButStillStores) {
    bool shm_is_tmpfs = false;
    for (const MountEntry& m : mount_table())
        if (m.mountpoint == QLatin1String("/dev/shm")) shm_is_tmpfs = m.fstype == QLatin1String("tmpfs");
    if (!shm_is_tmpfs) GTEST_SKIP() << "no RAM disk at /dev/shm here";
    QTemporaryDir shm(QStringLiteral("/dev/shm/wavrell-XXXXXX"));
    ASSERT_TRUE(shm.isValid());
    const QString onram = shm.path() + QStringLiteral("/r.wav");
    QFile f(onram);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();

    auto list = window_list(&menu);
    const QString a = file(QStringLiteral("a.wav"));
    list->add(a);
    QFile::remove(ini());
    list->add(onram);
    EXPECT_EQ(list->itemcount(), 1);
    EXPECT_EQ(list->filename(1), a);
    EXPECT_EQ(stored(), QStringLiteral("nToUse=9\n1=%1\n2=\n3=\n4=\n5=\n6=\n7=\n8=\n9=").arg(a));

    list->setAllowFileOnRAMDisk(true);
    list->add(onram);
    EXPECT_EQ(list->filename(1), onram);
}

TEST_F(RecentFiles, MenuPositionAndRebuilding) {
    auto list = window_list(&menu);
    list->add(file(QStringLiteral("a.wav")));
    list->setMenuPos(100);
    list->insert_in_menu();
    EXPECT_EQ(shown(menu).mid(3), (QStringList{QStringLiteral("E&xit"), QStringLiteral("-"),
                                               QStringLiteral("&1 ") + list->filename(1),
                                               QStringLiteral("&Clear list...")}));
    list->setBarBefore(false);
    list->setIncludeClearItem(false);
    EXPECT_EQ(shown(menu).mid(3), (QStringList{QStringLiteral("E&xit"), QStringLiteral("&1 ") + list->filename(1)}));
    list->remove_from_menu();
    EXPECT_FALSE(list->inserted());
    EXPECT_EQ(menu.actions().size(), 4);

    // Another menu: the block moves there and the list is read again.
    QMenu other;
    other.addAction(QStringLiteral("Open file 2..."));
    list->setMenu(&other);
    EXPECT_EQ(shown(other), (QStringList{QStringLiteral("Open file 2..."), QStringLiteral("&1 ") + list->filename(1)}));
    EXPECT_EQ(menu.actions().size(), 4);
}

TEST_F(RecentFiles, TwoListsShareTheSectionAndTheLastWriteWins) {
    const QString a = file(QStringLiteral("a.wav")), b = file(QStringLiteral("b.wav"));
    QMenu menu2;
    {
        auto first = window_list(&menu);
        first->add(a);
    }
    auto one = window_list(&menu, QStringLiteral("RecentFiles1"));
    auto two = window_list(&menu2, QStringLiteral("RecentFiles2"));
    EXPECT_EQ(one->filename(1), a);
    EXPECT_EQ(two->filename(1), a);
    two->add(b);
    two->setMaxItems(4);
    EXPECT_EQ(stored(), QStringLiteral("nToUse=4\n1=%1\n2=%2\n3=\n4=").arg(b, a));
    one->clear();
    EXPECT_EQ(stored(), QStringLiteral("nToUse=9\n1=\n2=\n3=\n4=\n5=\n6=\n7=\n8=\n9="));
}

TEST_F(RecentFiles, WindowsThatAddAtOnceKeepEachOthersEntries) {
    // Two windows (programs) started with the same stored list: each adds
    // its files, and neither drops what the other added; a clear in one is
    // not undone by the other's next entry.
    const QString a = file(QStringLiteral("a.wav")), b = file(QStringLiteral("b.wav")), c = file(QStringLiteral("c.wav"));
    const QString d = file(QStringLiteral("d.wav"));
    QMenu menu2;
    menu2.addAction(QStringLiteral("Open file 1..."));
    auto first = window_list(&menu);
    auto second = window_list(&menu2);
    first->add(a);
    second->add(b);
    first->add(c);
    EXPECT_EQ(stored(), QStringLiteral("nToUse=9\n1=%1\n2=%2\n3=%3\n4=\n5=\n6=\n7=\n8=\n9=").arg(c, b, a));
    EXPECT_EQ(first->itemcount(), 3);
    EXPECT_EQ(first->item(2)->text(), QStringLiteral("&2 ") + b);
    second->clear();
    first->add(d);
    EXPECT_EQ(stored(), QStringLiteral("nToUse=9\n1=%1\n2=\n3=\n4=\n5=\n6=\n7=\n8=\n9=").arg(d));
    EXPECT_EQ(first->itemcount(), 1);
}

TEST_F(RecentFiles, WithoutMenuOrIdentity) {
    TRecentFiles bare;
    bare.setObjectName(QStringLiteral("RecentFiles1"));
    try {
        bare.Loaded();
        FAIL() << "no error";
    } catch (const ESettingError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Nothing assigned to RecentFiles1.ProgId"));
    }
    // No menu: nothing is read or written, add only orders the slots.
    bare.setProgId(&progid);
    bare.Loaded();
    const QString a = file(QStringLiteral("a.wav")), b = file(QStringLiteral("b.wav"));
    bare.add(a);
    bare.add(b);
    bare.add(a);
    EXPECT_EQ(bare.filename(1), a);
    EXPECT_EQ(bare.filename(2), b);
    EXPECT_FALSE(QFileInfo::exists(ini()));
    EXPECT_FALSE(bare.inserted());
}

TEST_F(RecentFiles, StoreFailuresAreIgnoredAndTheFolderFallBackIsUsed) {
    // The roaming folder is not found: the list lives in the user store.
    special_folder_lookups().roaming = [] { return QString(); };
    {
        auto list = window_list(&menu);
        list->add(file(QStringLiteral("a.wav")));
    }
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly(QStringLiteral("\\Software\\OstrelData\\Wavrell\\0.2\\RecentFiles")));
    EXPECT_EQ(reg.ReadInteger(QStringLiteral("nToUse")), 9);
    EXPECT_EQ(reg.ReadString(QStringLiteral("1")), folders.path(QStringLiteral("music/a.wav")));
    auto back = window_list(&menu);
    EXPECT_EQ(back->filename(1), folders.path(QStringLiteral("music/a.wav")));

    // A roaming folder that cannot be written: the list works in memory.
    const QString blocker = folders.write_file(QStringLiteral("blocker"));
    special_folder_lookups().roaming = [blocker] { return blocker + QStringLiteral("/config"); };
    QMenu menu2;
    auto list = window_list(&menu2);
    EXPECT_EQ(list->itemcount(), 0);
    list->add(file(QStringLiteral("b.wav")));
    EXPECT_EQ(list->itemcount(), 1);
    EXPECT_EQ(list->MaxItems(), 9);
}

}  // namespace
