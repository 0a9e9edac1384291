#include "shell/help_menu.h"

#include "common/install_layout.h"
#include "common/message_box.h"
#include "settings/prog_id.h"
#include "settings/registry.h"
#include "settings/appdata_folders.h"
#include "shell/about.h"
#include "shell/day_number.h"
#include "shell/http_get.h"
#include "shell/update_address.h"
#include "shell/url_opener.h"
#include "shell/version_file.h"
#include "shell/web_address.h"
#include "shell/web_detect.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QNetworkAccessManager>

namespace wavrell {

const QString wavrell_version_url = QStringLiteral(WAVRELL_VERSION_URL);

namespace {

const QString web_menu_key = QStringLiteral("\\Software\\OstrelData\\WebMenu");
const QString web_items_key = QStringLiteral("\\Software\\OstrelData\\WebMenu\\items");
const QString menu_date_value = QStringLiteral("MenuDate");
constexpr int menu_date = 20020523;
/// The default web items, stored in the machine-wide store by the first run
/// that may write it; until then every run uses them as they are.
const QList<QPair<QString, QString>> default_web_items{
    {QStringLiteral("Ostrel Data Web"), QStringLiteral("https://www.ostreldata.example/")},
    {QStringLiteral("E-mail Ostrel Data"), QStringLiteral("mailto:info@ostreldata.example")},
};
const QString auto_check_value = QStringLiteral("AutoCheckForNewVersion");
const QString last_check_value = QStringLiteral("LastNewVersionCheckDate");

std::function<void(THelpMenu&)>& loading_hook() {
    static std::function<void(THelpMenu&)> h;
    return h;
}

std::function<void()>& end_program_hook() {
    static std::function<void()> h;
    return h;
}

void end_program() {
    if (end_program_hook()) {
        end_program_hook()();
        return;
    }
    // At start-up the event loop does not run yet: quit as soon as it does.
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                              Qt::QueuedConnection);
}

/// MenuDate as stored (decimal text, or an integer); 0 when missing or not a
/// number.
int read_menu_date(const TRegistry& reg) {
    if (!reg.ValueExists(menu_date_value)) return 0;
    try {
        bool ok = false;
        const int v = reg.ReadString(menu_date_value).trimmed().toInt(&ok);
        return ok ? v : 0;
    } catch (const ERegistryError&) {
    }
    try {
        return reg.ReadInteger(menu_date_value);
    } catch (const ERegistryError&) {
        return 0;
    }
}

bool is_web_address(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}


/// Opens `url` with the desktop's handler; where there is none (no
/// xdg-utils, no browser), says so and gives the address as text the user
/// can select and open by hand. `what` names the thing at the start of a
/// sentence. Returns whether it was opened.
bool open_or_tell(const QUrl& url, const QString& what) {
    if (open_url(url)) return true;
    const QString address = url.isLocalFile() ? url.toLocalFile() : url.toString();
    message_box(QStringLiteral("%1 cannot be opened: no program to show it was found on this computer (the "
                               "package xdg-utils and a web browser provide one).\r\rTo open it yourself:\r%2")
                    .arg(what, address),
                QStringLiteral("Help"), mb::OK | mb::ICONEXCLAMATION);
    return false;
}

}  // namespace

QString find_help_file(const QString& program_path) {
    const QFileInfo program(program_path);
    const QString name = program.completeBaseName() + QStringLiteral(".html");
    const QString dir = program.absolutePath() + QLatin1Char('/');
    for (const QString& folder : {QString(), QLatin1String(manual_dir_from_program) + QLatin1Char('/'),
                                  QStringLiteral("../help/")}) {
        const QString file = QDir::cleanPath(dir + folder + name);
        if (QFileInfo(file).isFile()) return file;
    }
    return {};
}

void set_end_program_hook(std::function<void()> hook) { end_program_hook() = std::move(hook); }

void set_help_menu_loading_hook(std::function<void(THelpMenu&)> hook) { loading_hook() = std::move(hook); }

THelpMenu::THelpMenu(QObject* owner) : QObject(owner) {
    fNewVersionURL = wavrell_version_url;
    QObject* itemOwner = owner ? owner : this;
    idhttp = new QNetworkAccessManager(itemOwner);
    fwebdetect = new TWebDetect(itemOwner);
    fwebdetect->setDLLName(connection_state_library);

    QWidget* ownerWidget = qobject_cast<QWidget*>(owner);
    fmenu = new QMenu(QStringLiteral("&Help"), ownerWidget);
    fownsmenu = ownerWidget == nullptr;
    fmenu->setEnabled(true);

    fhelpfile = find_help_file(executable_path());
    read_web_items();
}

THelpMenu::~THelpMenu() {
    end_check();
    if (fownsmenu) delete fmenu;
}

void THelpMenu::read_web_items() {
    // Only an administrator may write the machine-wide store; any other run
    // leaves it alone and uses the default items as if they were stored.
    bool defaultsStored = false;
    try {
        TRegistry reg(RegistryRoot::LocalMachine);
        int stamp = 0;
        if (reg.OpenKeyReadOnly(web_menu_key)) stamp = read_menu_date(reg);
        reg.CloseKey();
        defaultsStored = stamp >= menu_date;
        if (!defaultsStored && reg.OpenKey(web_menu_key, true)) {
            reg.WriteString(menu_date_value, QString::number(menu_date));
            reg.CloseKey();
            if (reg.OpenKey(web_items_key, true)) {
                for (const auto& [caption, command] : default_web_items) reg.WriteString(caption, command);
                defaultsStored = true;
            }
            reg.CloseKey();
        }
    } catch (const ERegistryError&) {
    }

    try {
        TRegistry reg(RegistryRoot::LocalMachine);
        if (reg.OpenKeyReadOnly(web_items_key)) {
            const QStringList names = reg.GetValueNames();
            for (const QString& name : names) {
                QString command;
                try {
                    command = reg.ReadString(name);
                } catch (const ERegistryError&) {
                    continue;  // not a text: no usable command
                }
                menutexts << name;
                shellcommands << command;
            }
        }
    } catch (const ERegistryError&) {
    }

    if (defaultsStored) return;
    for (const auto& [caption, command] : default_web_items) {
        qsizetype i = 0;
        while (i < menutexts.size() && menutexts[i].compare(caption, Qt::CaseInsensitive) != 0) ++i;
        if (i == menutexts.size()) {
            menutexts << caption;
            shellcommands << command;
        } else {
            shellcommands[i] = command;
        }
    }
}

QString THelpMenu::user_key() const {
    return QStringLiteral("\\Software\\OstrelData\\") + (fprogid ? fprogid->ProductName() : QString());
}

QAction* THelpMenu::new_item(const QString& caption) {
    QObject* owner = parent() ? parent() : this;
    auto* item = new QAction(caption, owner);
    item->setEnabled(true);
    return item;
}

void THelpMenu::insert_first(QAction* item) {
    const QList<QAction*> items = fmenu->actions();
    fmenu->insertAction(items.isEmpty() ? nullptr : items.first(), item);
}

QAction* THelpMenu::insert_separator_first() {
    QAction* bar = new_item(QString());
    bar->setSeparator(true);
    insert_first(bar);
    return bar;
}

void THelpMenu::store_check_date(int day) {
    try {
        TRegistry reg(RegistryRoot::CurrentUser);
        if (reg.OpenKey(user_key(), true)) reg.WriteInteger(last_check_value, day);
    } catch (const ERegistryError&) {
        // Not stored: the automatic check may run once more today.
    }
}

void THelpMenu::Loaded() {
    if (loading_hook()) loading_hook()(*this);
    if (!fmainmenu) return;

    for (qsizetype i = fAdditionalMenutexts.size() - 1; i >= 0; --i) {
        const QString caption = fAdditionalMenutexts[i];
        const QString command = i < fAdditionalCommands.size() ? fAdditionalCommands[i] : QString();
        if (caption.isEmpty() || command.isEmpty()) continue;
        menutexts << caption;
        shellcommands << command;
    }

    // Items whose address only holds a place are not shown.
    QList<qsizetype> shown;
    for (qsizetype i = 0; i < menutexts.size(); ++i)
        if (!is_placeholder_address(command_url(shellcommands[i]))) shown << i;

    if (faboutbox) {
        faboutitem = new_item(QStringLiteral("A&bout..."));
        connect(faboutitem, &QAction::triggered, this, [this] { about_click(); });
        insert_first(faboutitem);
        if (!shown.isEmpty()) fbaritem1 = insert_separator_first();
    }

    // Offered even when the build has no version address, so that asking
    // says so.
    if (fprogid && fEnableVersionCheck) {
        fnewversionitem = new_item(QStringLiteral("Check for new version automatically"));
        fnewversionitem->setCheckable(true);

        bool autoCheck = true;
        int lastCheck = 0;
        try {
            TRegistry reg(RegistryRoot::CurrentUser);
            if (reg.OpenKeyReadOnly(user_key())) {
                if (reg.ValueExists(auto_check_value)) {
                    try {
                        autoCheck = reg.ReadInteger(auto_check_value) != 0;
                    } catch (const ERegistryError&) {
                    }
                }
                if (reg.ValueExists(last_check_value)) {
                    try {
                        lastCheck = reg.ReadInteger(last_check_value);
                    } catch (const ERegistryError&) {
                    }
                }
            }
        } catch (const ERegistryError&) {
        }
        lastnewversioncheckdate = lastCheck;
        if (lastnewversioncheckdate == 0) {
            // First start: the first automatic check comes on a later day.
            lastnewversioncheckdate = today_day_number();
            store_check_date(lastnewversioncheckdate);
        }

        fnewversionitem->setChecked(autoCheck);
        connect(fnewversionitem, &QAction::triggered, this, [this] { auto_check_click(); });
        insert_first(fnewversionitem);
        fnewversionnowitem = new_item(QStringLiteral("Check for new version now"));
        connect(fnewversionnowitem, &QAction::triggered, this, [this] { check_now_click(); });
        insert_first(fnewversionnowitem);
    }

    for (const qsizetype i : shown) {
        QAction* item = new_item(menutexts[i]);
        item->setData(int(i));  // the tag: index into shellcommands
        connect(item, &QAction::triggered, this, [this, item] { web_item_click(item); });
        insert_first(item);
        fmenuitem << item;
    }

    if (!fhelpfile.isEmpty()) {
        if (!shown.isEmpty()) fbaritem2 = insert_separator_first();
        fhelpitem = new_item(QStringLiteral("&Help..."));
        fhelpitem->setShortcut(QKeySequence(Qt::Key_F1));
        connect(fhelpitem, &QAction::triggered, this, [this] { help_click(); });
        insert_first(fhelpitem);
    }

    if (!fmenu->actions().isEmpty()) {
        const QList<QAction*> menus = fmainmenu->actions();
        const int pos = std::clamp(fmainmenupos, 0, int(menus.size()));
        fmainmenu->insertMenu(pos < menus.size() ? menus[pos] : nullptr, fmenu);
    }

    if (today_day_number() != lastnewversioncheckdate) check_version(false, true);
}

void THelpMenu::check_version(bool manual, bool end_after_download) {
    if (!fprogid || !fEnableVersionCheck) return;
    if (fNewVersionURL.isEmpty()) {
        if (manual)
            message_box(QStringLiteral("This build of %1 has no update address, so it cannot check for a new "
                                       "version.")
                            .arg(fprogid->ProductName()),
                        QStringLiteral("New version check"), mb::OK | mb::ICONINFORMATION);
        return;
    }
    if (!manual && (!fnewversionitem || !fnewversionitem->isChecked() || !fwebdetect->Online())) return;
    if (fdownload) {
        if (fdownloadmanual) return;  // the user's check is running already
        end_check();                  // the user's check takes over from the automatic one
    }

    // Stored before the download, so that a failing check is not repeated
    // automatically on the same day.
    lastnewversioncheckdate = today_day_number();
    store_check_date(lastnewversioncheckdate);

    // The window goes on while the file comes; the answer is handled when
    // it is there.
    fdownload = new THttpGet(*idhttp, QUrl(fNewVersionURL), fdownloadtimeout, max_version_file_bytes, this);
    fdownloadmanual = manual;
    fdownload->OnDone = [this, manual, end_after_download](bool ok, const QString& text, const QString&) {
        version_file_arrived(ok, text, manual, end_after_download);
    };
    if (manual) {
        QApplication::setOverrideCursor(Qt::BusyCursor);
        qApp->installEventFilter(this);
        fbusy = true;
    }
}

void THelpMenu::version_file_arrived(bool ok, const QString& text, bool manual, bool end_after_download) {
    end_check();
    const QString version = fprogid ? fprogid->Version() : QString();
    bool newVersion = false;
    try {
        if (!ok) throw EDownloadError(QStringLiteral("No version file"));
        const TVersionFile file = parse_version_file(text);
        newversionstr = file.newversionstr;
        downloadurl = file.downloadurl;
        usermessage = file.usermessage;
        newVersion = trim_blanks(newversionstr) != trim_blanks(version);
        // Only a web page is offered for download; anything else in the
        // version file makes it unusable.
        if (newVersion && !is_web_address(trim_blanks(downloadurl)))
            throw EDownloadError(QStringLiteral("No web address for the download in the version file"));
    } catch (const std::exception&) {
        if (manual)
            message_box(QStringLiteral("Cannot connect to the update server.\rCheck your Internet connection."),
                        QStringLiteral("New version check"), mb::OK | mb::ICONEXCLAMATION);
        return;
    }

    if (newVersion) {
        // The server's message is shown as the text it is (message_box
        // never reads it as rich text, so it holds no links).
        const int answer =
            message_box(usermessage,
                        QStringLiteral("New version available (current version is ") + version +
                            QStringLiteral(")"),
                        mb::YESNO | mb::ICONQUESTION);
        if (answer == mb::IDYES) {
            // The program ends for the new version only once its page shows.
            if (open_or_tell(QUrl(trim_blanks(downloadurl)), QStringLiteral("The download page")) &&
                end_after_download)
                end_program();
        }
    } else if (manual) {
        message_box(QStringLiteral("There is currently no new version available.\rYou are already "
                                   "running the latest version: ") +
                        version,
                    QStringLiteral("No new version"), mb::OK | mb::ICONINFORMATION);
    }
}

void THelpMenu::end_check() {
    if (fbusy) {
        fbusy = false;
        qApp->removeEventFilter(this);
        QApplication::restoreOverrideCursor();
    }
    if (fdownload) {
        fdownload->OnDone = nullptr;
        fdownload->cancel();
        fdownload->deleteLater();
        fdownload = nullptr;
    }
}

void THelpMenu::cancel_check() { end_check(); }

bool THelpMenu::eventFilter(QObject* watched, QEvent* event) {
    if (fbusy && event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        cancel_check();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void THelpMenu::help_click() {
    if (!fhelpfile.isEmpty()) open_or_tell(QUrl::fromLocalFile(fhelpfile), QStringLiteral("The manual"));
}

void THelpMenu::web_item_click(QObject* sender) {
    auto* item = qobject_cast<QAction*>(sender);
    if (!item) return;
    const int tag = item->data().toInt();
    if (tag < 0 || tag >= shellcommands.size()) return;
    // A web item opens web pages and mail addresses, never a program, a
    // local file or another kind of address that the registry may name.
    const QUrl url = command_url(shellcommands[tag]);
    if (!is_web_item_address(url)) {
        message_box(QStringLiteral("\"%1\" is not opened: its address \"%2\" is not a web page (http, https) or "
                                   "an e-mail address (mailto).")
                        .arg(menutexts[tag], shellcommands[tag]),
                    QStringLiteral("Help"), mb::OK | mb::ICONEXCLAMATION);
        return;
    }
    open_or_tell(url, QStringLiteral("\"%1\"").arg(menutexts[tag]));
}

void THelpMenu::check_now_click() { check_version(true, false); }

void THelpMenu::auto_check_click() {
    if (!fnewversionitem) return;
    try {
        TRegistry reg(RegistryRoot::CurrentUser);
        if (reg.OpenKey(user_key(), true))
            reg.WriteInteger(auto_check_value, fnewversionitem->isChecked() ? 1 : 0);
    } catch (const ERegistryError&) {
        // The switch holds for this run.
    }
}

void THelpMenu::about_click() {
    if (faboutbox) faboutbox->showmodal();
}

}  // namespace wavrell
