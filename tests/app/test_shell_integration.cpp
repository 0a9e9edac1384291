// The recent-files lists, the Help menu and the About box as the main window
// carries them: menus, loading through the lists, the start-up version check,
// and the lists kept between two runs of the real program.

#include "app/main_window.h"
#include "app/paint_box.h"
#include "workspace/workspace.h"
#include "audio/wav_file.h"
#include "common/message_box.h"
#include "settings/ini_file.h"
#include "settings/prog_id.h"
#include "settings/registry.h"
#include "shell/about.h"
#include "shell/credits.h"
#include "shell/day_number.h"
#include "shell/help_menu.h"
#include "shell/recent_files.h"
#include "shell/url_opener.h"
#include "shell/web_detect.h"
#include "tests/settings/isolated_folders.h"
#include "tests/shell/connstate_fake.h"
#include "tests/shell/http_test_server.h"
#include "tests/support/damaged_ini.h"

#include <QAction>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QDirIterator>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

#include <unistd.h>

namespace wavrell {
namespace {

const QString user_key = QStringLiteral("\\Software\\OstrelData\\Wavrell");
constexpr int kToday = 46000;

struct Shown {
    QString text;
    QString caption;
    int flags;
};

/// The visible items of a menu: "-" for a separator.
QStringList captions(const QMenu* menu) {
    QStringList list;
    for (const QAction* a : menu->actions())
        if (a->isVisible()) list << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return list;
}

QAction* item(const QMenu* menu, const QString& caption) {
    for (QAction* a : menu->actions())
        if (a->isVisible() && a->text() == caption) return a;
    ADD_FAILURE() << "no item " << caption.toStdString() << " in " << menu->title().toStdString();
    return nullptr;
}

/// What the window configured on its Help menu before loading it.
struct HelpMenuSettings {
    QString url;
    QString product;
    QString version;
    bool enabled = false;
    bool about = false;
    int menupos = 0;
};

class ShellIntegration : public ::testing::Test {
protected:
    void SetUp() override {
        set_message_box_hook([this](const QString& text, const QString& caption, int flags) {
            shown.append({text, caption, flags});
            return answer;
        });
        set_url_opener([this](const QUrl& url) {
            opened << url;
            return true;
        });
        set_end_program_hook([this] { ++ended; });
        set_today_hook([] { return kToday; });
        set_about_show_hook([this](QDialog& d) { about = &d; });
        // The manual is found next to the program.
        special_folder_lookups().executable_path = [this] { return folders.path(QStringLiteral("bin/wavrell")); };
        special_folder_lookups().administrator = [] { return true; };
        folders.write_file(QStringLiteral("bin/wavrell.html"), "<html></html>");
        // The window's Help menu asks the test's version server, never the
        // maker's (unless a test keeps the build's address), and the fake
        // connection state (online).
        set_help_menu_loading_hook([this](THelpMenu& m) {
            configured = {m.NewVersionURL(),
                          m.ProgId() ? m.ProgId()->ProductName() : QString(),
                          m.ProgId() ? m.ProgId()->Version() : QString(),
                          m.EnableVersionCheck(),
                          m.AboutBox() != nullptr,
                          m.MenuPos()};
            if (!keep_build_address) m.setNewVersionURL(server.url());
            m.setDownloadTimeout(10000);
            m.webdetect()->setDLLName(test::fake_connstate_library());
            EXPECT_TRUE(test::set_fake_connection_state(true, 0x42));
        });
        server.answer(200, "0.3\r\nhttps://www.ostreldata.example/download\r\n-\r\nVersion 0.3 is out.");
    }
    void TearDown() override {
        set_help_menu_loading_hook({});
        set_message_box_hook({});
        set_url_opener({});
        set_end_program_hook({});
        set_today_hook({});
        set_about_show_hook({});
    }

    /// A short mono WAV file written by sox.
    QString wav(const QString& name) {
        const QString path = folders.path(QStringLiteral("wav/") + name);
        QDir().mkpath(folders.path(QStringLiteral("wav")));
        QByteArray raw;
        for (int i = 0; i < 800; ++i) {
            const int16_t v = static_cast<int16_t>((i % 40 - 20) * 500);
            raw.append(reinterpret_cast<const char*>(&v), 2);
        }
        EXPECT_TRUE(test::sox_write(path, raw, 8000, 1));
        return path;
    }

    void store_last_check(int day) {
        TRegistry reg(RegistryRoot::CurrentUser);
        ASSERT_TRUE(reg.OpenKey(user_key, true));
        reg.WriteInteger(QStringLiteral("LastNewVersionCheckDate"), day);
    }
    int stored_last_check() {
        TRegistry reg(RegistryRoot::CurrentUser);
        if (!reg.OpenKeyReadOnly(user_key) || !reg.ValueExists(QStringLiteral("LastNewVersionCheckDate"))) return 0;
        return reg.ReadInteger(QStringLiteral("LastNewVersionCheckDate"));
    }

    test::IsolatedFolders folders;
    test::HttpTestServer server;
    HelpMenuSettings configured;
    QList<Shown> shown;
    int answer = mb::IDNO;
    QList<QUrl> opened;
    int ended = 0;
    QDialog* about = nullptr;
    bool keep_build_address = false;
};

/// Runs the event loop until the window's version check has ended.
void wait_for_check(const TForm19& w) {
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.HelpMenu1->checking(); }, 20000)) << "the check did not end";
}

TEST_F(ShellIntegration, MenusOfTheWindow) {
    TForm19 w;
    QStringList titles;
    for (const QAction* a : w.menuBar()->actions()) titles << a->text();
    EXPECT_EQ(titles,
              (QStringList{"&File 1", "F&ile 2", "&Levels", "&View", "&Playback", "&Alignment", "&Difference", "&Test", "&Help"}));
    EXPECT_EQ(captions(w.AlignmentMenu),
              (QStringList{"Align file 2 to file 1", "-", "Nudge file 2 earlier by one sample",
                           "Nudge file 2 later by one sample", "Nudge file 2 earlier by one millisecond",
                           "Nudge file 2 later by one millisecond", "-", "Correct polarity", "No alignment"}));
    EXPECT_EQ(captions(w.LevelsMenu),
              (QStringList{"Normalize", "-", "&Match by", "Match &peak to", "L&oop range measurements"}));
    EXPECT_EQ(captions(w.ViewMenu), (QStringList{"Zoom to fit", "Zoom to loop", "-", "Follow cursor while playing",
                                                 "Time as h:mm:ss", "-", "&Spectrogram", "&Logarithmic frequency",
                                                 "&FFT size", "&Range", "-", "S&pectrum"}));
    EXPECT_EQ(captions(w.PlaybackMenu),
              (QStringList{"Play", "Play file 1", "Play file 2", "-", "Crossfade switches (5 ms)"}));
    EXPECT_EQ(captions(w.TestMenu), (QStringList{"Blind test..."}));
    EXPECT_EQ(w.blindtestaction->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_B));

    EXPECT_EQ(captions(w.File1Menu), (QStringList{"Open file 1...", "Close file 1", "-", "E&xit"}));
    EXPECT_EQ(captions(w.File2Menu), (QStringList{"Open file 2...", "Close file 2"}));
    // The maker's web items only hold a place (a reserved domain): not shown.
    EXPECT_EQ(captions(w.HelpMenu1->menu()),
              (QStringList{"&Help...", "Open demo recordings", "Check for new version now",
                           "Check for new version automatically", "A&bout..."}));
    EXPECT_EQ(item(w.HelpMenu1->menu(), QStringLiteral("&Help..."))->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_TRUE(item(w.HelpMenu1->menu(), QStringLiteral("Check for new version automatically"))->isChecked());

    // Every file loaded goes to the top of both lists.
    const QString a = wav(QStringLiteral("a.wav"));
    const QString b = wav(QStringLiteral("b.wav"));
    w.load_file(0, a);
    w.load_file(1, b);
    const QStringList entries{"-", "&1 " + b, "&2 " + a, "&Clear list..."};
    EXPECT_EQ(captions(w.File1Menu), (QStringList{"Open file 1...", "Close file 1"} + entries + QStringList{"-", "E&xit"}));
    EXPECT_EQ(captions(w.File2Menu), (QStringList{"Open file 2...", "Close file 2"} + entries));
    // The bar above the entries is drawn like the one above "Exit", not as a
    // heading with a caption of its own.
    const QList<QAction*> file1 = w.File1Menu->actions();
    QAction* exitbar = file1.at(file1.indexOf(w.Exit1) - 1);
    ASSERT_TRUE(exitbar->isSeparator());
    EXPECT_EQ(w.RecentFiles1->baritem()->text(), QString());
    EXPECT_EQ(w.File1Menu->actionGeometry(w.RecentFiles1->baritem()).height(),
              w.File1Menu->actionGeometry(exitbar).height());

    // A file that cannot be loaded is not listed.
    const QString broken = folders.write_file(QStringLiteral("wav/broken.wav"), "not a wave file");
    EXPECT_ANY_THROW(w.load_file(0, broken));
    EXPECT_EQ(captions(w.File2Menu), (QStringList{"Open file 2...", "Close file 2"} + entries));
}

TEST_F(ShellIntegration, RecentEntryLoadsIntoTheSlotOfItsMenu) {
    const QString a = wav(QStringLiteral("a.wav"));
    const QString b = wav(QStringLiteral("b.wav"));
    TForm19 w;
    w.load_file(0, a);
    w.load_file(1, b);

    item(w.File2Menu, "&2 " + a)->trigger();
    EXPECT_EQ(w.workspace().wav(1)->filename(), a);
    EXPECT_EQ(w.workspace().wav(0)->filename(), a);
    EXPECT_EQ(captions(w.File1Menu).mid(3, 2), (QStringList{"&1 " + a, "&2 " + b}));

    item(w.File1Menu, "&2 " + b)->trigger();
    EXPECT_EQ(w.workspace().wav(0)->filename(), b);
    EXPECT_EQ(w.workspace().wav(1)->filename(), a);
    EXPECT_EQ(captions(w.File2Menu).mid(3, 2), (QStringList{"&1 " + b, "&2 " + a}));
    EXPECT_TRUE(shown.isEmpty());
}

TEST_F(ShellIntegration, DeletedRecentFileIsReportedAndDropped) {
    const QString a = wav(QStringLiteral("a.wav"));
    const QString b = wav(QStringLiteral("b.wav"));
    {
        TForm19 w;
        w.load_file(0, a);
        w.load_file(1, b);
        w.load_file(0, b);  // slot 0 now holds b
        ASSERT_TRUE(QFile::remove(a));

        item(w.File1Menu, "&2 " + a)->trigger();
        ASSERT_EQ(shown.size(), 1);
        EXPECT_EQ(shown[0].text, "Can't find \r" + a);
        EXPECT_EQ(shown[0].caption, QStringLiteral("File not found"));
        EXPECT_EQ(shown[0].flags, mb::OK | mb::ICONEXCLAMATION);
        EXPECT_EQ(captions(w.File1Menu),
                  (QStringList{"Open file 1...", "Close file 1", "-", "&1 " + b, "&Clear list...", "-", "E&xit"}));
        EXPECT_EQ(w.workspace().wav(0)->filename(), b);
    }
    // The shorter list was stored: the next window shows it in both menus.
    TForm19 next;
    EXPECT_EQ(captions(next.File1Menu).mid(2, 3), (QStringList{"-", "&1 " + b, "&Clear list..."}));
    EXPECT_EQ(captions(next.File2Menu).mid(2), (QStringList{"-", "&1 " + b, "&Clear list..."}));
}

TEST_F(ShellIntegration, StartOnALaterDayChecksForANewVersion) {
    store_last_check(kToday - 3);
    {
        TForm19 w;
        wait_for_check(w);
        EXPECT_EQ(configured.url, wavrell_version_url);
        EXPECT_EQ(configured.product, QStringLiteral("Wavrell"));
        EXPECT_EQ(configured.version, QStringLiteral("0.2"));
        EXPECT_TRUE(configured.enabled);
        EXPECT_TRUE(configured.about);
        EXPECT_EQ(configured.menupos, 100);

        EXPECT_EQ(server.requests(), 1);
        EXPECT_TRUE(server.last_request().startsWith("GET /wavrell/wavrellversion.txt "));
        ASSERT_EQ(shown.size(), 1);
        EXPECT_EQ(shown[0].text, QStringLiteral("Version 0.3 is out."));
        EXPECT_EQ(shown[0].caption, QStringLiteral("New version available (current version is 0.2)"));
        EXPECT_EQ(stored_last_check(), kToday);
        EXPECT_TRUE(opened.isEmpty());  // the user said no
        EXPECT_EQ(ended, 0);
    }
    {
        // Later the same day: no second check.
        TForm19 again;
        EXPECT_EQ(server.requests(), 1);
        EXPECT_EQ(shown.size(), 1);
    }
    // Accepting the download offered at start-up opens the page and ends
    // the program.
    store_last_check(kToday - 1);
    answer = mb::IDYES;
    TForm19 accepted;
    wait_for_check(accepted);
    EXPECT_EQ(server.requests(), 2);
    EXPECT_EQ(opened, QList<QUrl>{QUrl(QStringLiteral("https://www.ostreldata.example/download"))});
    EXPECT_EQ(ended, 1);
}

TEST_F(ShellIntegration, WindowAnswersWhileTheStartUpCheckWaitsForTheServer) {
    // The server answers 5 s after the request: the window is there at once,
    // paints and takes keys meanwhile, and shows the answer when it comes.
    server.answer(200, "0.3\r\nhttps://www.ostreldata.example/download\r\n-\r\nVersion 0.3 is out.", 5000);
    store_last_check(kToday - 1);
    TForm19 w;
    EXPECT_EQ(server.answers(), 0);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.requests() == 1; }, 5000));
    EXPECT_TRUE(w.HelpMenu1->checking());

    int paints = 0;
    struct PaintCounter : QObject {
        int* n;
        explicit PaintCounter(int* count) : n(count) {}
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint) ++*n;
            return false;
        }
    } counter(&paints);
    w.PaintBox[0]->installEventFilter(&counter);
    const bool allpass = w.workspace().showallpass();
    QTest::keyClick(&w, Qt::Key_A, Qt::ControlModifier);
    EXPECT_NE(w.workspace().showallpass(), allpass) << "the key was not handled";
    w.PaintBox[0]->update();
    EXPECT_TRUE(QTest::qWaitFor([&] { return paints > 0; }, 3000)) << "the window did not paint";
    // All that happened before the server answered.
    EXPECT_EQ(server.answers(), 0);
    EXPECT_TRUE(shown.isEmpty());

    wait_for_check(w);
    EXPECT_EQ(server.answers(), 1);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].text, QStringLiteral("Version 0.3 is out."));
    w.PaintBox[0]->removeEventFilter(&counter);
}

TEST_F(ShellIntegration, BuildWithoutUpdateAddressNeverChecks) {
    if (!wavrell_version_url.isEmpty()) GTEST_SKIP() << "this build has an update address";
    keep_build_address = true;
    store_last_check(kToday - 3);
    TForm19 w;
    EXPECT_TRUE(configured.url.isEmpty());
    EXPECT_FALSE(w.HelpMenu1->checking());
    item(w.HelpMenu1->menu(), QStringLiteral("Check for new version now"))->trigger();
    EXPECT_FALSE(w.HelpMenu1->checking());
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].text,
              QStringLiteral("This build of Wavrell has no update address, so it cannot check for a new version."));
    EXPECT_EQ(server.requests(), 0);
    EXPECT_EQ(stored_last_check(), kToday - 3);
}

TEST_F(ShellIntegration, DamagedSettingsFilesAreReadAndKeptWhole) {
    // Each file the window reads at start-up is a damaged 250 KB file with
    // 20,000 sections, the window's own section in its middle.
    const QString a = wav(QStringLiteral("a.wav"));
    const QString b = wav(QStringLiteral("b.wav"));
    const QByteArray recentSection = "[RecentFiles]\r\nnToUse=9\r\n1=" + a.toUtf8() + "\r\n\r\n";
    const QByteArray userSection =
        "[Software\\OstrelData\\Wavrell]\r\nAutoCheckForNewVersion=dword:0\r\nLastNewVersionCheckDate=dword:" +
        QByteArray::number(kToday) + "\r\n";
    const QByteArray machineSection = "[Software\\OstrelData\\WebMenu]\r\nMenuDate=sz:20020523\r\n"
                                      "[Software\\OstrelData\\WebMenu\\items]\r\nShop=sz:https://shop.ostreldata.com/\r\n";
    const QString recentFile = folders.config() + QStringLiteral("/OstrelData/Wavrell/0.2/wavrell.ini");
    const QString userFile = folders.config() + QStringLiteral("/wavrell-registry.ini");
    const QString machineFile = folders.etc_xdg() + QStringLiteral("/wavrell-registry.ini");
    const QByteArray recent = test::damaged_ini(recentSection);
    const QByteArray user = test::damaged_ini(userSection);
    const QByteArray machine = test::damaged_ini(machineSection);
    folders.write_file(QStringLiteral("config/OstrelData/Wavrell/0.2/wavrell.ini"), recent);
    folders.write_file(QStringLiteral("config/wavrell-registry.ini"), user);
    folders.write_file(QStringLiteral("etc-xdg/wavrell-registry.ini"), machine);

    TForm19 w;
    // What the window needs was read from the damaged files.
    EXPECT_EQ(captions(w.File1Menu).mid(2, 3), (QStringList{"-", "&1 " + a, "&Clear list..."}));
    EXPECT_EQ(captions(w.HelpMenu1->menu()),
              (QStringList{"&Help...", "Open demo recordings", "-", "Shop", "Check for new version now",
                           "Check for new version automatically", "-", "A&bout..."}));
    QAction* automatic = item(w.HelpMenu1->menu(), QStringLiteral("Check for new version automatically"));
    EXPECT_FALSE(automatic->isChecked());

    // The window writes its own values; every other byte stays, invalid
    // UTF-8, CR LF and the cut-off last line included.
    w.load_file(1, b);
    automatic->trigger();
    QByteArray expectedUser = user;
    expectedUser.replace("AutoCheckForNewVersion=dword:0", "AutoCheckForNewVersion=dword:1");
    EXPECT_TRUE(test::read_bytes(userFile) == expectedUser);
    EXPECT_TRUE(test::read_bytes(machineFile) == machine);
    // The list is stored anew as one section at the end.
    QByteArray expectedRecent = recent;
    expectedRecent.replace(recentSection, "");
    expectedRecent += "\r\n\r\n[RecentFiles]\r\nnToUse=9\r\n1=" + b.toUtf8() + "\r\n2=" + a.toUtf8() + "\r\n";
    for (int i = 3; i <= 9; ++i) expectedRecent += QByteArray::number(i) + "=\r\n";
    EXPECT_TRUE(test::read_bytes(recentFile) == expectedRecent);

    // The next window reads the same.
    TForm19 next;
    EXPECT_EQ(captions(next.File2Menu).mid(2, 4), (QStringList{"-", "&1 " + b, "&2 " + a, "&Clear list..."}));
    EXPECT_TRUE(item(next.HelpMenu1->menu(), QStringLiteral("Check for new version automatically"))->isChecked());
    EXPECT_TRUE(shown.isEmpty());
}

TEST_F(ShellIntegration, FirstStartOfANewVersionKeepsTheSettingsOfTheLast) {
    // Version 0.1 kept its settings in a folder of its own; 0.2 starts with
    // them: the recent files and the matching criterion are there.
    const QString a = wav(QStringLiteral("a.wav"));
    folders.write_file(QStringLiteral("config/OstrelData/Wavrell/0.1/wavrell.ini"),
                       "[RecentFiles]\nnToUse=9\n1=" + a.toUtf8() + "\n\n[Levels]\nMatchBy=lufs\n");
    TForm19 w;
    EXPECT_TRUE(w.matchintegratedaction->isChecked());
    EXPECT_EQ(captions(w.File1Menu).mid(2, 3), (QStringList{"-", "&1 " + a, "&Clear list..."}));
    EXPECT_TRUE(QFileInfo::exists(folders.config() + QStringLiteral("/OstrelData/Wavrell/0.2/wavrell.ini")));
}

TEST_F(ShellIntegration, AboutBoxOfTheWindow) {
    TForm19 w;
    item(w.HelpMenu1->menu(), QStringLiteral("A&bout..."))->trigger();
    ASSERT_NE(about, nullptr);
    auto part = [this](const char* name) { return about->findChild<QWidget*>(QLatin1String(name)); };
    EXPECT_EQ(about->windowTitle(), QStringLiteral("About"));
    EXPECT_EQ(static_cast<QLabel*>(part("titlelabel"))->text(), QStringLiteral("Wavrell"));
    EXPECT_EQ(static_cast<QLabel*>(part("versionlabel"))->text(), QStringLiteral("Version 0.2 for Linux"));
    EXPECT_TRUE(static_cast<QLabel*>(part("copyrightlabel"))->text().contains(QStringLiteral("Ostrel Data")));
    EXPECT_TRUE(part("fjelmlabel")->isHidden());
    EXPECT_FALSE(part("compiledatelabel")->isHidden());
    EXPECT_EQ(part("okbutton")->x(), 254);
    EXPECT_EQ(part("panel")->y(), (about->height() - 234) / 2);
    EXPECT_EQ(about->width(), 410);

    // The licence, and the libraries with theirs one click away.
    EXPECT_EQ(static_cast<QLabel*>(part("extralabel"))->text(),
              QStringLiteral("Wavrell is free software under the GNU GPL, version 3 or later"));
    auto* credits = static_cast<QPushButton*>(part("creditsbutton"));
    ASSERT_NE(credits, nullptr);
    EXPECT_FALSE(credits->isHidden());
    EXPECT_EQ(credits->text(), QStringLiteral("&Credits..."));
    QStringList rows;
    set_credits_show_hook([&](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Credits"));
        auto* table = d.findChild<QTableWidget*>(QStringLiteral("creditstable"));
        ASSERT_NE(table, nullptr);
        for (int r = 0; r < table->rowCount(); ++r)
            rows << table->item(r, 0)->text() + QStringLiteral(": ") + table->item(r, 2)->text();
    });
    credits->click();
    set_credits_show_hook({});
    const QStringList expected{
        "Qt 6: GNU LGPL version 3 (LGPL-3.0-only), or GNU GPL version 2 or 3",
        "libpulse: GNU LGPL version 2.1 or later (LGPL-2.1-or-later)",
        "libsndfile: GNU LGPL version 2.1 or later (LGPL-2.1-or-later)",
        "libsoxr: GNU LGPL version 2.1 or later (LGPL-2.1-or-later)",
        "FFTW 3: GNU GPL version 2 or later (GPL-2.0-or-later)",
        "libebur128: MIT licence (MIT)",
    };
    EXPECT_EQ(rows, expected);
}

// ---- the real program, started twice with the same folders

/// Runs the program with the files, lets it write its menus and end;
/// returns the menus as "title" lines followed by tab-indented items.
QString run_and_dump_menus(const test::IsolatedFolders& folders, const QStringList& files) {
    const QString dump = folders.path(QStringLiteral("menus.txt"));
    QFile::remove(dump);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* v : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CONFIG_DIRS"})
        env.insert(QLatin1String(v), qEnvironmentVariable(v));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("WAVRELL_TEST_DUMP_MENUS"), dump);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(WAVRELL_BINARY_DIR "/wavrell"), files);
    EXPECT_TRUE(p.waitForStarted(30000));
    const bool finished = p.waitForFinished(60000);
    EXPECT_TRUE(finished) << "the program did not end";
    if (!finished) {
        p.kill();
        p.waitForFinished();
    }
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return test::read_text(dump);
}

/// The items of one menu of a dump.
QStringList dumped_menu(const QString& dump, const QString& title) {
    QStringList items;
    bool in = false;
    for (const QString& line : dump.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (!line.startsWith(QLatin1Char('\t'))) {
            in = line == title;
            continue;
        }
        if (in) items << line.mid(1);
    }
    return items;
}

TEST(ShellIntegrationProgram, RecentFilesSurviveARestart) {
    test::IsolatedFolders folders;
    const QString dir = folders.path(QStringLiteral("wav"));
    QDir().mkpath(dir);
    QByteArray raw(1600, '\0');
    const QString a = dir + QStringLiteral("/first.wav");
    const QString b = dir + QStringLiteral("/second.wav");
    ASSERT_TRUE(test::sox_write(a, raw, 8000, 1));
    ASSERT_TRUE(test::sox_write(b, raw, 8000, 1));
    // No version check may run while the program is tested.
    {
        TRegistry reg(RegistryRoot::CurrentUser);
        ASSERT_TRUE(reg.OpenKey(user_key, true));
        reg.WriteInteger(QStringLiteral("AutoCheckForNewVersion"), 0);
    }

    const QString first = run_and_dump_menus(folders, {a, b});
    const QStringList entries{"-", "&1 " + b, "&2 " + a, "&Clear list..."};
    EXPECT_EQ(dumped_menu(first, QStringLiteral("&File 1")),
              (QStringList{"Open file 1...\tCtrl+F1", "Close file 1"} + entries + QStringList{"-", "E&xit"}));
    EXPECT_EQ(dumped_menu(first, QStringLiteral("F&ile 2")),
              (QStringList{"Open file 2...\tCtrl+F2", "Close file 2"} + entries));
    // The build's program finds its manual beside it.
    const QStringList help = dumped_menu(first, QStringLiteral("&Help"));
    ASSERT_FALSE(help.isEmpty());
    EXPECT_EQ(help.first(), QStringLiteral("&Help...\tF1"));
    EXPECT_EQ(help.last(), QStringLiteral("A&bout..."));

    // A second run without files shows both in both menus, in the same order.
    const QString second = run_and_dump_menus(folders, {});
    EXPECT_EQ(dumped_menu(second, QStringLiteral("&File 1")), dumped_menu(first, QStringLiteral("&File 1")));
    EXPECT_EQ(dumped_menu(second, QStringLiteral("F&ile 2")), dumped_menu(first, QStringLiteral("F&ile 2")));

    // A file deleted between two runs is gone from both menus.
    ASSERT_TRUE(QFile::remove(b));
    const QString third = run_and_dump_menus(folders, {});
    const QStringList left{"-", "&1 " + a, "&Clear list..."};
    EXPECT_EQ(dumped_menu(third, QStringLiteral("&File 1")),
              (QStringList{"Open file 1...\tCtrl+F1", "Close file 1"} + left + QStringList{"-", "E&xit"}));
    EXPECT_EQ(dumped_menu(third, QStringLiteral("F&ile 2")),
              (QStringList{"Open file 2...\tCtrl+F2", "Close file 2"} + left));
}

TEST(ShellIntegrationProgram, WindowsStartedAtOnceKeepEachOthersRecentFiles) {
    // Twelve windows started at once, each with a file of its own, each
    // storing its recent files and, when it closes, its place: the list
    // keeps as many of the twelve as it shows (nine), all different, and
    // the file stays whole.
    test::IsolatedFolders folders;
    {
        TRegistry reg(RegistryRoot::CurrentUser);
        ASSERT_TRUE(reg.OpenKey(user_key, true));
        reg.WriteInteger(QStringLiteral("AutoCheckForNewVersion"), 0);
    }
    const QString dir = folders.path(QStringLiteral("wav"));
    QDir().mkpath(dir);
    constexpr int kWindows = 12;
    QStringList files;
    std::vector<std::unique_ptr<QProcess>> runs;
    for (int i = 0; i < kWindows; ++i) {
        files << dir + QStringLiteral("/take%1.wav").arg(i);
        ASSERT_TRUE(test::sox_write(files.last(), QByteArray(1600, '\0'), 8000, 1));
    }
    for (int i = 0; i < kWindows; ++i) {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("WAVRELL_TEST_DUMP_MENUS"), folders.path(QStringLiteral("menus%1.txt").arg(i)));
        p->setProcessEnvironment(env);
        p->start(QStringLiteral(WAVRELL_BINARY_DIR "/wavrell"), {files[i]});
        runs.push_back(std::move(p));
    }
    for (auto& p : runs) {
        EXPECT_TRUE(p->waitForFinished(120000)) << "a window did not end";
        EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
    }
    const QString ini = folders.config() + QStringLiteral("/OstrelData/Wavrell/0.2/wavrell.ini");
    TIniFile stored(ini);
    ASSERT_FALSE(stored.ReadFailed());
    QStringList kept;
    for (int i = 1; i <= 9; ++i) kept << stored.ReadString(QStringLiteral("RecentFiles"), QString::number(i), {});
    EXPECT_EQ(QSet<QString>(kept.begin(), kept.end()).size(), 9) << kept.join(' ').toStdString();
    for (const QString& f : kept) EXPECT_TRUE(files.contains(f)) << f.toStdString();
    EXPECT_EQ(stored.ReadString(QStringLiteral("RecentFiles"), QStringLiteral("nToUse"), {}), QStringLiteral("9"));
    EXPECT_TRUE(stored.SectionExists(QStringLiteral("MainWindow")));
    EXPECT_EQ(QDir(QFileInfo(ini).absolutePath()).entryList(QDir::Files | QDir::Hidden), QStringList{"wavrell.ini"});
}

TEST(ShellIntegrationProgram, OnlyRootWritesTheMachineStoreAndAUserWritesOnlyInItsOwnFolders) {
    if (::geteuid() != 0) GTEST_SKIP() << "starting the program as another user needs root";
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty()) GTEST_SKIP() << "setpriv is missing";
    const QByteArray defaults = "[Software\\OstrelData\\WebMenu]\n"
                                "MenuDate=sz:20020523\n"
                                "\n"
                                "[Software\\OstrelData\\WebMenu\\items]\n"
                                "Ostrel Data Web=sz:https://www.ostreldata.example/\n"
                                "E-mail Ostrel Data=sz:mailto:info@ostreldata.example\n";
    for (const bool asUser : {true, false}) {
        SCOPED_TRACE(asUser ? "a user's first start" : "root's first start");
        test::IsolatedFolders folders;
        const QString top = QFileInfo(folders.home()).absolutePath();
        const QStringList own{QStringLiteral("home"), QStringLiteral("config"), QStringLiteral("data"),
                              QStringLiteral("cache"), QStringLiteral("runtime")};
        ASSERT_TRUE(QFile::setPermissions(top, QFileDevice::Permissions(0x7755)));
        for (const QString& d : own) {
            const QString dir = top + QLatin1Char('/') + d;
            QDir().mkpath(dir);
            QFile::setPermissions(dir, QFileDevice::Permissions(0x7700));
            if (asUser) {
                ASSERT_EQ(::chown(QFile::encodeName(dir).constData(), 65534, 65534), 0);
            }
        }
        // A machine-wide folder that anyone may write, as when the first
        // folder of XDG_CONFIG_DIRS lies among the user's own.
        ASSERT_TRUE(QFile::setPermissions(folders.etc_xdg(), QFileDevice::Permissions(0x7777)));

        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* v : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CONFIG_DIRS"})
            env.insert(QLatin1String(v), qEnvironmentVariable(v));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), top + QStringLiteral("/cache"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), top + QStringLiteral("/runtime"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        const QString dump = folders.home() + QStringLiteral("/menus.txt");
        env.insert(QStringLiteral("WAVRELL_TEST_DUMP_MENUS"), dump);
        p.setProcessEnvironment(env);
        const QString program = QStringLiteral(WAVRELL_BINARY_DIR "/wavrell");
        if (asUser)
            p.start(setpriv, {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                              QStringLiteral("--clear-groups"), QStringLiteral("--"), program});
        else
            p.start(program, QStringList{});
        ASSERT_TRUE(p.waitForStarted(30000));
        ASSERT_TRUE(p.waitForFinished(60000)) << "the program did not end";
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        EXPECT_TRUE(dumped_menu(test::read_text(dump), QStringLiteral("&Help")).contains(QStringLiteral("A&bout...")));

        // Every file written lies in the user's own folders, and the
        // machine-wide store is written by root alone, with the default web
        // items and nothing else.
        QStringList outside;
        QDirIterator it(top, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString rel = QDir(top).relativeFilePath(it.next());
            if (!own.contains(rel.section(QLatin1Char('/'), 0, 0))) outside << rel;
        }
        if (asUser) {
            EXPECT_EQ(outside, QStringList{}) << "written outside the user's folders";
            EXPECT_TRUE(QFileInfo(folders.config() + QStringLiteral("/wavrell-registry.ini")).ownerId() == 65534)
                << "the program did not run as the user";
        } else {
            EXPECT_EQ(outside, QStringList{QStringLiteral("etc-xdg/wavrell-registry.ini")});
            EXPECT_EQ(test::read_bytes(folders.etc_xdg() + QStringLiteral("/wavrell-registry.ini")), defaults);
        }
    }
}

}  // namespace
}  // namespace wavrell
