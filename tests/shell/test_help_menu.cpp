#include "common/message_box.h"
#include "settings/prog_id.h"
#include "settings/registry.h"
#include "shell/day_number.h"
#include "shell/fjelm_about.h"
#include "shell/help_menu.h"
#include "shell/url_opener.h"
#include "shell/web_detect.h"
#include "tests/settings/isolated_folders.h"
#include "tests/shell/connstate_fake.h"
#include "tests/shell/http_test_server.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <optional>

namespace wavrell {
namespace {

const QString user_key = QStringLiteral("\\Software\\OstrelData\\Wavrell");
const QString no_new_version_text = QStringLiteral(
    "There is currently no new version available.\rYou are already running the latest version: 0.2");
const QString cannot_connect_text =
    QStringLiteral("Cannot connect to the update server.\rCheck your Internet connection.");
const QString no_address_text =
    QStringLiteral("This build of Wavrell has no update address, so it cannot check for a new version.");
const QStringList default_captions{QStringLiteral("Ostrel Data Web"), QStringLiteral("E-mail Ostrel Data")};
const QStringList default_commands{QStringLiteral("https://www.ostreldata.example/"),
                                   QStringLiteral("mailto:info@ostreldata.example")};

struct Shown {
    QString text;
    QString caption;
    int flags;
};

QStringList captions(const QMenu* menu) {
    QStringList list;
    for (const QAction* a : menu->actions()) list << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return list;
}

QAction* item(const QMenu* menu, const QString& caption) {
    for (QAction* a : menu->actions())
        if (a->text() == caption) return a;
    ADD_FAILURE() << "no item " << caption.toStdString();
    return nullptr;
}

class HelpMenuTest : public ::testing::Test {
protected:
    void SetUp() override {
        bar = window.menuBar();
        bar->addMenu(QStringLiteral("&File 1"));
        bar->addMenu(QStringLiteral("F&ile 2"));
        progid.setProductName(QStringLiteral("Wavrell"));
        progid.setVersion(QStringLiteral("0.2"));
        progid.setCompany(QStringLiteral("OstrelData"));
        set_message_box_hook([this](const QString& text, const QString& caption, int flags) {
            shown.append({text, caption, flags});
            return answer;
        });
        set_url_opener([this](const QUrl& url) {
            opened << url;
            return true;
        });
        set_end_program_hook([this] { ++ended; });
        set_today_hook([this] { return today; });
        set_about_show_hook([this](QDialog&) { ++aboutShown; });
        special_folder_lookups().executable_path = [this] { return folders.path(QStringLiteral("bin/wavrell")); };
        // The machine-wide store is written as by an administrator unless a
        // test says otherwise (whoever runs the tests).
        special_folder_lookups().administrator = [this] { return administrator; };
        server.answer(200, "0.2\r\nhttps://www.ostreldata.example/download\r\n\r\nNothing new.\r\n");
    }
    void TearDown() override {
        set_message_box_hook({});
        set_url_opener({});
        set_end_program_hook({});
        set_today_hook({});
        set_about_show_hook({});
    }

    /// A Help menu configured as the window configures it, on `menuBar`.
    std::unique_ptr<THelpMenu> make_menu(QMenuBar* menuBar, bool online = true, bool bound = true) {
        auto m = std::make_unique<THelpMenu>(&window);
        m->setMainMenu(menuBar);
        m->setAboutBox(&about);
        m->setProgId(&progid);
        m->setMenuPos(100);
        m->setEnableVersionCheck(true);
        m->setNewVersionURL(server.url());
        m->setDownloadTimeout(1000);
        if (bound) {
            m->webdetect()->setDLLName(test::fake_connstate_library());
            EXPECT_TRUE(test::set_fake_connection_state(online, online ? 0x42 : 0x40));
        }
        return m;
    }

    void store_user_values(std::optional<int> autoCheck, std::optional<int> lastDate) {
        TRegistry reg(RegistryRoot::CurrentUser);
        reg.DeleteKey(user_key);
        ASSERT_TRUE(reg.OpenKey(user_key, true));
        if (autoCheck) reg.WriteInteger(QStringLiteral("AutoCheckForNewVersion"), *autoCheck);
        if (lastDate) reg.WriteInteger(QStringLiteral("LastNewVersionCheckDate"), *lastDate);
    }
    /// Runs the event loop until the menu's check has ended.
    static void wait_for_check(const THelpMenu& m) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return !m.checking(); }, 20000)) << "the check did not end";
    }

    std::optional<int> stored(const QString& name) {
        TRegistry reg(RegistryRoot::CurrentUser);
        if (!reg.OpenKeyReadOnly(user_key) || !reg.ValueExists(name)) return std::nullopt;
        return reg.ReadInteger(name);
    }

    test::IsolatedFolders folders;
    QMainWindow window;
    QMenuBar* bar = nullptr;
    TProgId progid;
    TFjelmAbout about;
    test::HttpTestServer server;
    QList<Shown> shown;
    int answer = mb::IDNO;
    QList<QUrl> opened;
    int ended = 0;
    int aboutShown = 0;
    int today = 45000;
    bool administrator = true;
};

TEST_F(HelpMenuTest, MenuItemsInTheirOrderAndWhatTheyOpen) {
    const QString manual = folders.write_file(QStringLiteral("help/wavrell.html"), "<html></html>");
    auto m = make_menu(bar);
    EXPECT_EQ(m->HelpFile(), manual);
    m->setAdditionalMenutexts({QStringLiteral("Forum"), QStringLiteral("Write to us"), QStringLiteral("Manual (PDF)")});
    m->setAdditionalCommands({QStringLiteral("https://forum.ostreldata.com/"), QStringLiteral("mailto:team@ostreldata.com")});
    m->Loaded();

    ASSERT_EQ(bar->actions().size(), 3);
    EXPECT_EQ(bar->actions().last()->menu(), m->menu());
    EXPECT_EQ(m->menu()->title(), QStringLiteral("&Help"));
    // The default web items only hold a place (a reserved domain): not shown.
    EXPECT_EQ(m->WebItemCaptions(), (default_captions + QStringList{"Write to us", "Forum"}));
    EXPECT_EQ(captions(m->menu()),
              (QStringList{"&Help...", "-", "Forum", "Write to us", "Check for new version now",
                           "Check for new version automatically", "-", "A&bout..."}));
    EXPECT_EQ(item(m->menu(), QStringLiteral("&Help..."))->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_TRUE(item(m->menu(), QStringLiteral("Check for new version automatically"))->isChecked());

    for (const char* caption : {"Forum", "Write to us", "&Help..."})
        item(m->menu(), QString::fromLatin1(caption))->trigger();
    EXPECT_EQ(opened, (QList<QUrl>{QUrl(QStringLiteral("https://forum.ostreldata.com/")),
                                   QUrl(QStringLiteral("mailto:team@ostreldata.com")),
                                   QUrl::fromLocalFile(manual)}));

    item(m->menu(), QStringLiteral("A&bout..."))->trigger();
    EXPECT_EQ(aboutShown, 1);

    // F1 in the window opens the manual while the menu is closed.
    opened.clear();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_F1);
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(manual)});
    EXPECT_EQ(server.requests(), 0);
    EXPECT_TRUE(shown.isEmpty());
}

TEST_F(HelpMenuTest, WebItemsOpenOnlyWebPagesAndMailAddresses) {
    struct Case {
        const char* command;
        bool shown;   // false: a placeholder address, not offered
        bool opens;   // false: refused with a message
    } cases[] = {
        {"https://forum.ostreldata.com/", true, true},
        {"HTTP://Shop.Ostreldata.com/a?b=c", true, true},
        {"mailto:team@ostreldata.com?subject=Wavrell", true, true},
        {"/opt/wavrell/manual.pdf", true, false},
        {"manual.pdf", true, false},
        {"file:///etc/passwd", true, false},
        {"javascript:alert(1)", true, false},
        {"smb://server/share", true, false},
        {"http:no-host", true, false},
        {"mailto:", true, false},
        {"https://www.ostreldata.example/", false, false},
        {"mailto:info@Ostreldata.Example", false, false},
        {"https://example.com/download", false, false},
        {"http://updates.wavrell.test/", false, false},
        {"https://nowhere.invalid./", false, false},
    };
    QStringList texts, commands;
    for (const Case& c : cases) {
        texts << QStringLiteral("item %1").arg(texts.size());
        commands << QString::fromLatin1(c.command);
    }
    auto m = make_menu(bar);
    m->setAdditionalMenutexts(texts);
    m->setAdditionalCommands(commands);
    m->Loaded();
    for (qsizetype i = 0; i < texts.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.command);
        QAction* a = nullptr;
        for (QAction* x : m->menu()->actions())
            if (x->text() == texts[i]) a = x;
        EXPECT_EQ(a != nullptr, c.shown);
        if (!a) continue;
        shown.clear();
        opened.clear();
        a->trigger();
        if (c.opens) {
            EXPECT_EQ(opened, QList<QUrl>{QUrl(commands[i])});
            EXPECT_TRUE(shown.isEmpty());
        } else {
            EXPECT_TRUE(opened.isEmpty());
            ASSERT_EQ(shown.size(), 1);
            EXPECT_EQ(shown[0].text, QStringLiteral("\"%1\" is not opened: its address \"%2\" is not a web page "
                                                    "(http, https) or an e-mail address (mailto).")
                                         .arg(texts[i], commands[i]));
            EXPECT_EQ(shown[0].caption, QStringLiteral("Help"));
            EXPECT_EQ(shown[0].flags, mb::OK | mb::ICONEXCLAMATION);
        }
    }
}

TEST_F(HelpMenuTest, WithoutHelpFileWebItemsOrMainMenu) {
    // Web items already stored by the machine's administrator are kept.
    {
        TRegistry machine(RegistryRoot::LocalMachine);
        ASSERT_TRUE(machine.OpenKey(QStringLiteral("\\Software\\OstrelData\\WebMenu"), true));
        machine.WriteString(QStringLiteral("MenuDate"), QStringLiteral("20100101"));
        ASSERT_TRUE(machine.OpenKey(QStringLiteral("\\Software\\OstrelData\\WebMenu\\items"), true));
        machine.WriteString(QStringLiteral("Shop"), QStringLiteral("https://shop.ostreldata.com/"));
    }
    auto m = make_menu(bar);
    EXPECT_TRUE(m->HelpFile().isEmpty());
    m->setMenuPos(1);
    m->Loaded();
    ASSERT_EQ(bar->actions().size(), 3);
    EXPECT_EQ(bar->actions()[1]->menu(), m->menu());
    EXPECT_EQ(captions(m->menu()), (QStringList{"Shop", "Check for new version now",
                                                "Check for new version automatically", "-", "A&bout..."}));

    // No menu bar: nothing is built and no check runs, even on another day.
    store_user_values(1, today - 3);
    QMenuBar otherBar;
    auto none = make_menu(nullptr);
    none->Loaded();
    EXPECT_TRUE(none->menu()->actions().isEmpty());
    EXPECT_EQ(server.requests(), 0);
}

TEST_F(HelpMenuTest, OnlyAnAdministratorWritesTheMachineStoreAndEveryoneHasTheDefaultItems) {
    const QString machine = folders.etc_xdg() + QStringLiteral("/wavrell-registry.ini");
    const QByteArray defaults = "[Software\\OstrelData\\WebMenu]\n"
                                "MenuDate=sz:20020523\n"
                                "\n"
                                "[Software\\OstrelData\\WebMenu\\items]\n"
                                "Ostrel Data Web=sz:https://www.ostreldata.example/\n"
                                "E-mail Ostrel Data=sz:mailto:info@ostreldata.example\n";
    const QByteArray shopOnly = "[Software\\OstrelData\\WebMenu\\items]\nShop=sz:https://shop.ostreldata.com/\n";
    const QByteArray stamped = "[Software\\OstrelData\\WebMenu]\nMenuDate=sz:20100101\n\n" + shopOnly;
    struct Case {
        const char* name;
        bool administrator;
        bool blocked;            // the machine folder cannot be made, not even by root
        QByteArray before;       // the machine store ("" none)
        QStringList captions;    // the web items
        QByteArray after;        // the machine store afterwards ("" none)
    } cases[] = {
        {"administrator, first start", true, false, "", default_captions, defaults},
        {"user, folder writable by all", false, false, "", default_captions, ""},
        {"machine folder cannot be made", true, true, "", default_captions, ""},
        {"user, items of an administrator but no stamp", false, false, shopOnly,
         QStringList{"Shop"} + default_captions, shopOnly},
        {"user, stamped store", false, false, stamped, {"Shop"}, stamped},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        administrator = c.administrator;
        QDir(folders.etc_xdg()).removeRecursively();
        if (c.blocked) {
            const QString blocker = folders.write_file(QStringLiteral("not-a-folder"));
            qputenv("XDG_CONFIG_DIRS", QFile::encodeName(blocker + QStringLiteral("/xdg")));
        } else {
            qputenv("XDG_CONFIG_DIRS", QFile::encodeName(folders.etc_xdg()));
            QDir().mkpath(folders.etc_xdg());
            QFile::setPermissions(folders.etc_xdg(), QFileDevice::Permissions(0x7777));
            if (!c.before.isEmpty()) folders.write_file(QStringLiteral("etc-xdg/wavrell-registry.ini"), c.before);
        }
        QMenuBar menuBar;
        auto m = make_menu(&menuBar);
        m->Loaded();
        EXPECT_EQ(m->WebItemCaptions(), c.captions);
        if (c.captions.mid(c.captions.size() - 2) == default_captions) {
            EXPECT_EQ(m->WebItemCommands().mid(c.captions.size() - 2), default_commands);
        }
        if (c.after.isEmpty()) {
            EXPECT_TRUE(QDir(folders.etc_xdg()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
        } else {
            EXPECT_EQ(test::read_bytes(machine), c.after);
        }
    }
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(folders.etc_xdg()));
}

TEST_F(HelpMenuTest, StartUpRules) {
    struct Case {
        const char* name;
        std::optional<int> autoCheck;
        std::optional<int> lastDate;  // relative to today
        bool online;
        bool bound;
        int requests;
        int dateAfter;  // relative to today
        bool checked;
    } cases[] = {
        {"first start", std::nullopt, std::nullopt, true, true, 0, 0, true},
        {"a later day", 1, -1, true, true, 1, 0, true},
        {"switch never stored", std::nullopt, -1, true, true, 1, 0, true},
        {"date set back", 1, 5, true, true, 1, 0, true},
        {"same day", 1, 0, true, true, 0, 0, true},
        {"switched off", 0, -1, true, true, 0, -1, false},
        {"offline", 1, -1, false, true, 0, -1, true},
        {"no connection-state library", 1, -2, true, false, 0, -2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        store_user_values(c.autoCheck, c.lastDate ? std::optional<int>(today + *c.lastDate) : std::nullopt);
        const int before = server.requests();
        QMenuBar menuBar;
        auto m = make_menu(&menuBar, c.online, c.bound);
        m->Loaded();
        wait_for_check(*m);
        EXPECT_EQ(server.requests() - before, c.requests);
        EXPECT_EQ(stored(QStringLiteral("LastNewVersionCheckDate")), today + c.dateAfter);
        EXPECT_EQ(item(m->menu(), QStringLiteral("Check for new version automatically"))->isChecked(),
                  c.checked);
        EXPECT_TRUE(shown.isEmpty()) << "the server names the running version";
    }
}

TEST_F(HelpMenuTest, AutomaticCheckOffersTheDownloadAndEndsTheProgram) {
    server.answer(200, "0.3\r\nhttps://www.ostreldata.example/wavrell/download\r\nline 3\r\nWhat's new:\r\nfaster");
    for (int reply : {mb::IDNO, mb::IDYES}) {
        store_user_values(1, today - 1);
        shown.clear();
        answer = reply;
        QMenuBar menuBar;
        auto m = make_menu(&menuBar);
        m->Loaded();
        wait_for_check(*m);
        ASSERT_EQ(shown.size(), 1);
        EXPECT_EQ(shown[0].text, QStringLiteral("What's new:\r\nfaster"));
        EXPECT_EQ(shown[0].caption, QStringLiteral("New version available (current version is 0.2)"));
        EXPECT_EQ(shown[0].flags, mb::YESNO | mb::ICONQUESTION);
    }
    EXPECT_EQ(opened, QList<QUrl>{QUrl(QStringLiteral("https://www.ostreldata.example/wavrell/download"))});
    EXPECT_EQ(ended, 1);
}

TEST_F(HelpMenuTest, AutomaticCheckFailsSilentlyButKeepsTheDate) {
    server.answer(404, "no such file");
    for (const QString& url : {server.url(), test::refused_url()}) {
        store_user_values(1, today - 1);
        QMenuBar menuBar;
        auto m = make_menu(&menuBar);
        m->setNewVersionURL(url);
        m->Loaded();
        wait_for_check(*m);
        EXPECT_EQ(stored(QStringLiteral("LastNewVersionCheckDate")), today);
    }
    EXPECT_EQ(server.requests(), 1);
    EXPECT_TRUE(shown.isEmpty());
}

TEST_F(HelpMenuTest, ManualCheckAnswers) {
    // The largest version file read, and one byte more (refused, whether
    // the server says its length or not).
    QByteArray largest = "0.2\nhttps://www.ostreldata.example/dl\n-\n";
    largest += QByteArray(64 * 1024 - largest.size(), 'x');
    struct Case {
        const char* name;
        int status;          // 0: refused, -1: accepts and never answers
        QByteArray body;
        QString text;        // the message shown
        QString caption;
        int flags;
        QString opened;      // address opened after Yes ("" none)
    } cases[] = {
        {"new version", 200, "0.3\nhttps://www.ostreldata.example/dl\n-\nNew: faster.",
         "New: faster.", "New version available (current version is 0.2)", mb::YESNO | mb::ICONQUESTION,
         "https://www.ostreldata.example/dl"},
        {"older version counts as new", 200, "0.1\nhttps://www.ostreldata.example/old\nx\nOld one.",
         "Old one.", "New version available (current version is 0.2)", mb::YESNO | mb::ICONQUESTION,
         "https://www.ostreldata.example/old"},
        {"blank lines between the fields", 200,
         "0.3\r\n\r\n\r\nhttp://dl.ostreldata.example/w\n\nline 3\r\n\r\nHello\r\nthere\r\n",
         "Hello\r\nthere\r\n", "New version available (current version is 0.2)",
         mb::YESNO | mb::ICONQUESTION, "http://dl.ostreldata.example/w"},
        {"same version", 200, "0.2\nhttps://www.ostreldata.example/dl\n\nSame.", no_new_version_text,
         "No new version", mb::OK | mb::ICONINFORMATION, ""},
        {"same apart from blanks", 200, " \t0.2  \nhttps://www.ostreldata.example/dl\n\nSame.",
         no_new_version_text, "No new version", mb::OK | mb::ICONINFORMATION, ""},
        {"not found", 404, "gone", cannot_connect_text, "New version check", mb::OK | mb::ICONEXCLAMATION,
         ""},
        {"refused", 0, "", cannot_connect_text, "New version check", mb::OK | mb::ICONEXCLAMATION, ""},
        {"never answers", -1, "", cannot_connect_text, "New version check", mb::OK | mb::ICONEXCLAMATION,
         ""},
        {"download address not a web page", 200, "0.3\nfile:///etc/passwd\n\nGet it.", cannot_connect_text,
         "New version check", mb::OK | mb::ICONEXCLAMATION, ""},
        {"download address a script", 200, "0.3\njavascript:alert(1)\n\nGet it.", cannot_connect_text,
         "New version check", mb::OK | mb::ICONEXCLAMATION, ""},
        {"64 KiB", 200, largest, no_new_version_text, "No new version", mb::OK | mb::ICONINFORMATION, ""},
        {"64 KiB and one byte", 200, largest + "x", cannot_connect_text, "New version check",
         mb::OK | mb::ICONEXCLAMATION, ""},
        {"1 MB", 200, QByteArray("0.3\nhttps://www.ostreldata.example/dl\n-\n") + QByteArray(1 << 20, 'x'),
         cannot_connect_text, "New version check", mb::OK | mb::ICONEXCLAMATION, ""},
        {"1 MB without a length", -2, QByteArray("0.3\nhttps://www.ostreldata.example/dl\n-\n") + QByteArray(1 << 20, 'x'),
         cannot_connect_text, "New version check", mb::OK | mb::ICONEXCLAMATION, ""},
    };
    // Switched off and offline: a manual check runs all the same.
    store_user_values(0, today);
    auto m = make_menu(bar, false);
    m->Loaded();
    answer = mb::IDYES;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        shown.clear();
        opened.clear();
        if (c.status == 0)
            m->setNewVersionURL(test::refused_url());
        else
            m->setNewVersionURL(server.url());
        if (c.status == -1)
            server.stay_silent();
        else if (c.status == -2)
            server.answer(200, c.body, 0, false);
        else
            server.answer(c.status, c.body);
        item(m->menu(), QStringLiteral("Check for new version now"))->trigger();
        wait_for_check(*m);
        ASSERT_EQ(shown.size(), 1);
        EXPECT_EQ(shown[0].text, c.text);
        EXPECT_EQ(shown[0].caption, c.caption);
        EXPECT_EQ(shown[0].flags, c.flags);
        EXPECT_EQ(opened, c.opened.isEmpty() ? QList<QUrl>{} : QList<QUrl>{QUrl(c.opened)});
    }
    EXPECT_EQ(ended, 0) << "a manual check leaves the program running";
    EXPECT_TRUE(server.last_request().startsWith("GET /wavrell/wavrellversion.txt HTTP/1.1\r\n"));
}

TEST_F(HelpMenuTest, ManualCheckShowsABusyCursorAndEscapeCancelsIt) {
    const QString manual = folders.write_file(QStringLiteral("help/wavrell.html"), "<html></html>");
    auto m = make_menu(bar);
    m->Loaded();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    server.stay_silent();
    item(m->menu(), QStringLiteral("Check for new version now"))->trigger();
    // The window goes on while the check waits.
    ASSERT_TRUE(m->checking());
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::BusyCursor);
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.requests() == 1; }, 5000));
    QTest::keyClick(&window, Qt::Key_F1);  // keys still reach the window
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(manual)});
    EXPECT_TRUE(m->checking());
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_FALSE(m->checking());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    // Nothing comes later, not even when the time for an answer is over.
    QTest::qWait(m->DownloadTimeout() + 300);
    EXPECT_TRUE(shown.isEmpty());
    EXPECT_EQ(stored(QStringLiteral("LastNewVersionCheckDate")), today);

    // Escape does nothing to the window's keys when no check runs, and a
    // new check runs as before.
    server.answer(200, "0.2\nhttps://www.ostreldata.example/dl\n\nSame.");
    item(m->menu(), QStringLiteral("Check for new version now"))->trigger();
    wait_for_check(*m);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].text, no_new_version_text);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(HelpMenuTest, WithoutAnUpdateAddressNothingIsFetched) {
    store_user_values(1, today - 2);
    auto m = make_menu(bar);
    m->setNewVersionURL(QString());
    m->Loaded();
    EXPECT_FALSE(m->checking());
    // The automatic check is skipped, so the date stays.
    EXPECT_EQ(stored(QStringLiteral("LastNewVersionCheckDate")), today - 2);
    item(m->menu(), QStringLiteral("Check for new version now"))->trigger();
    EXPECT_FALSE(m->checking());
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].text, no_address_text);
    EXPECT_EQ(shown[0].caption, QStringLiteral("New version check"));
    EXPECT_EQ(shown[0].flags, mb::OK | mb::ICONINFORMATION);
    EXPECT_EQ(server.requests(), 0);
    // A freshly made menu starts with the build's address.
    THelpMenu fresh;
    EXPECT_EQ(fresh.NewVersionURL(), wavrell_version_url);
}

TEST_F(HelpMenuTest, NewVersionMessageIsShownAsPlainText) {
    // The real message box: the server's text shows as it is, its link is
    // no link, and nothing is opened unless the user says Yes.
    set_message_box_hook({});
    const QByteArray message = "Get it <a href=\"file:///etc/passwd\">here</a>!";
    server.answer(200, "0.3\nhttps://www.ostreldata.example/dl\n-\n" + message);
    auto m = make_menu(bar);
    m->Loaded();
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        poll.stop();
        if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
            text = label->text();
            format = label->textFormat();
        }
        box->button(QMessageBox::No)->click();
    });
    poll.start();
    item(m->menu(), QStringLiteral("Check for new version now"))->trigger();
    wait_for_check(*m);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !poll.isActive(); }, 5000));
    EXPECT_EQ(text, QString::fromUtf8(message));
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_TRUE(opened.isEmpty());
}

// Where nothing can show a page (no xdg-open, no browser), each item says so
// and gives the address to open by hand; the start-up check does not end the
// program for a download page that never showed. The manual also with the
// desktop's own handler, on a PATH without any program.
TEST_F(HelpMenuTest, WhatCannotBeOpenedIsNamedWithItsAddress) {
    const QString manual = folders.write_file(QStringLiteral("help/wavrell.html"), "<html></html>");
    const auto text = [](const QString& what, const QString& address) {
        return what + QStringLiteral(" cannot be opened: no program to show it was found on this computer (the package "
                                     "xdg-utils and a web browser provide one).\r\rTo open it yourself:\r") +
               address;
    };
    set_url_opener([this](const QUrl& url) {
        opened << url;
        return false;
    });
    {
        auto m = make_menu(bar);
        m->setAdditionalMenutexts({QStringLiteral("Forum")});
        m->setAdditionalCommands({QStringLiteral("https://forum.ostreldata.com/")});
        m->Loaded();
        const std::pair<const char*, QString> cases[] = {
            {"&Help...", text(QStringLiteral("The manual"), manual)},
            {"Forum", text(QStringLiteral("\"Forum\""), QStringLiteral("https://forum.ostreldata.com/"))},
        };
        for (const auto& [caption, message] : cases) {
            SCOPED_TRACE(caption);
            shown.clear();
            item(m->menu(), QString::fromLatin1(caption))->trigger();
            ASSERT_EQ(shown.size(), 1);
            EXPECT_EQ(shown[0].text, message);
            EXPECT_EQ(shown[0].caption, QStringLiteral("Help"));
            EXPECT_EQ(shown[0].flags, mb::OK | mb::ICONEXCLAMATION);
        }
    }
    {
        SCOPED_TRACE("the download page of the start-up check");
        server.answer(200, "0.3\r\nhttps://www.ostreldata.example/wavrell/download\r\n-\r\nNew.");
        store_user_values(1, today - 1);
        shown.clear();
        answer = mb::IDYES;
        QMenuBar menuBar;
        auto m = make_menu(&menuBar);
        m->Loaded();
        wait_for_check(*m);
        ASSERT_EQ(shown.size(), 2);
        EXPECT_EQ(shown[1].text, text(QStringLiteral("The download page"),
                                      QStringLiteral("https://www.ostreldata.example/wavrell/download")));
        EXPECT_EQ(ended, 0);
    }
    {
        SCOPED_TRACE("the desktop's handler without any program to start");
        set_url_opener({});
        const auto empty = test::build_temp_dir();
        struct Env {
            const char* name;
            QByteArray value;
            bool set;
        } saved[] = {{"PATH", {}, false}, {"BROWSER", {}, false}, {"DEFAULT_BROWSER", {}, false}};
        for (Env& e : saved) {
            e.value = qgetenv(e.name);
            e.set = qEnvironmentVariableIsSet(e.name);
            qunsetenv(e.name);
        }
        qputenv("PATH", QFile::encodeName(empty->path()));
        auto m = make_menu(bar);
        m->Loaded();
        shown.clear();
        item(m->menu(), QStringLiteral("&Help..."))->trigger();
        for (const Env& e : saved)
            if (e.set) qputenv(e.name, e.value); else qunsetenv(e.name);
        ASSERT_EQ(shown.size(), 1);
        EXPECT_EQ(shown[0].text, text(QStringLiteral("The manual"), manual));
    }
}

TEST_F(HelpMenuTest, AutoCheckItemStoresTheSwitch) {
    auto m = make_menu(bar);
    m->Loaded();
    QAction* automatic = item(m->menu(), QStringLiteral("Check for new version automatically"));
    automatic->trigger();
    EXPECT_FALSE(automatic->isChecked());
    EXPECT_EQ(stored(QStringLiteral("AutoCheckForNewVersion")), 0);
    automatic->trigger();
    EXPECT_EQ(stored(QStringLiteral("AutoCheckForNewVersion")), 1);
}

TEST(HelpFile, NextToTheProgramOrInTheInstalledTree) {
    test::IsolatedFolders folders;
    const QString program = folders.path(QStringLiteral("app/bin/wavrell"));
    EXPECT_EQ(find_help_file(program), QString());
    // Each place found wins over the ones before it.
    const QString inHelp = folders.write_file(QStringLiteral("app/help/wavrell.html"));
    EXPECT_EQ(find_help_file(program), inHelp);
    const QString inDocs = folders.write_file(QStringLiteral("app/share/doc/wavrell/wavrell.html"));
    EXPECT_EQ(find_help_file(program), inDocs);
    const QString beside = folders.write_file(QStringLiteral("app/bin/wavrell.html"));
    EXPECT_EQ(find_help_file(program), beside);
}

}  // namespace
}  // namespace wavrell
