#pragma once

#include <QMenuBar>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class QAction;
class QEvent;
class QMenu;
class QNetworkAccessManager;

namespace wavrell {

class TAbout;
class THttpGet;
class TProgId;
class TWebDetect;

/// Address of this program's version file: the build's setting
/// WAVRELL_VERSION_URL (a CMake cache variable an installer or packager
/// sets), empty when the build has none. A Help menu starts with it, and
/// the window sets it.
extern const QString wavrell_version_url;

/// The help file of a program: the program's file name with the extension
/// ".html", next to the program or else in "../help/" beside its folder;
/// empty when neither exists.
QString find_help_file(const QString& program_path);

/// Replaces how the program ends after the download page of a new version
/// has been opened from the start-up check (tests); an empty hook restores
/// the default, which quits the application's event loop as soon as it runs.
void set_end_program_hook(std::function<void()> hook);

class THelpMenu;

/// Called at the start of every THelpMenu::Loaded with the menu, once its
/// owner has configured it (tests point a window's Help menu at a version
/// server and connection-state library of their own before the start-up
/// check runs); an empty hook (the default) does nothing.
void set_help_menu_loading_hook(std::function<void(THelpMenu& menu)> hook);

/// Builds the window's "&Help" menu as the last menu of the menu bar: the
/// user manual, the maker's web and mail links (from the machine-wide
/// registry, or the built-in ones where that store lacks them and cannot be
/// written) and extra items, the manual and automatic check for a new
/// version, and the About box. Web items whose address only holds a place
/// are not shown; a web item opens web pages and mail addresses only.
///
/// The automatic check runs at most once a day, at start-up, when switched
/// on, online and the build has a version address. A check downloads the
/// version file (at most 64 KiB) while the window goes on painting and
/// answering; a check the user asked for shows a busy cursor until it ends,
/// and Escape cancels it. Keeps its switch and the date of the last check in
/// the per-user registry key "\Software\OstrelData\<product>". GUI thread.
class THelpMenu : public QObject {
public:
    /// Reads the web items (writing the defaults first where missing) and
    /// looks for the help file next to the program.
    explicit THelpMenu(QObject* owner = nullptr);
    ~THelpMenu() override;

    /// Menu bar that receives the Help menu (not owned); without it Loaded
    /// does nothing.
    QMenuBar* MainMenu() const { return fmainmenu; }
    void setMainMenu(QMenuBar* v) { fmainmenu = v; }
    /// About box of the "A&bout..." item (not owned).
    TAbout* AboutBox() const { return faboutbox; }
    void setAboutBox(TAbout* v) { faboutbox = v; }
    /// Program identity: product name for the registry key, version for the
    /// comparison (not owned). Without it there is no version check.
    TProgId* ProgId() const { return fprogid; }
    void setProgId(TProgId* v) { fprogid = v; }
    /// Position in the menu bar; cut to the number of menus there.
    int MenuPos() const { return fmainmenupos; }
    void setMenuPos(int v) { fmainmenupos = v; }
    QStringList AdditionalCommands() const { return fAdditionalCommands; }
    void setAdditionalCommands(const QStringList& v) { fAdditionalCommands = v; }
    QStringList AdditionalMenutexts() const { return fAdditionalMenutexts; }
    void setAdditionalMenutexts(const QStringList& v) { fAdditionalMenutexts = v; }
    /// Address of the version file; with none, no automatic check runs and
    /// "Check for new version now" says that there is no address.
    QString NewVersionURL() const { return fNewVersionURL; }
    void setNewVersionURL(const QString& v) { fNewVersionURL = v; }
    bool EnableVersionCheck() const { return fEnableVersionCheck; }
    void setEnableVersionCheck(bool v) { fEnableVersionCheck = v; }

    /// The user manual opened by "&Help..." and F1 (found at creation; empty
    /// when there is none).
    QString HelpFile() const { return fhelpfile; }
    void setHelpFile(const QString& v) { fhelpfile = v; }
    /// The largest version file read; a larger answer fails the check.
    static constexpr qint64 max_version_file_bytes = 64 * 1024;
    /// Longest wait for the version file, in milliseconds (10 000).
    int DownloadTimeout() const { return fdownloadtimeout; }
    void setDownloadTimeout(int ms) { fdownloadtimeout = ms; }

    /// The connection detector asked before an automatic check; bound to
    /// the program's connection-state library.
    TWebDetect* webdetect() const { return fwebdetect; }
    /// The "&Help" drop-down.
    QMenu* menu() const { return fmenu; }
    /// Captions and commands of the web and extra items, shown or not, in
    /// the order the items are made.
    QStringList WebItemCaptions() const { return menutexts; }
    QStringList WebItemCommands() const { return shellcommands; }
    /// A check is waiting for the version file.
    bool checking() const { return fdownload != nullptr; }
    /// Ends a running check without a message.
    void cancel_check();

    /// Builds the menu into MainMenu, sets up the per-user values and, on a
    /// day other than that of the last check, runs the automatic check. The
    /// window calls it once after configuring this component.
    void Loaded();

    void help_click();
    void web_item_click(QObject* sender);
    void check_now_click();
    void auto_check_click();
    void about_click();

protected:
    /// Escape cancels a check the user asked for.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void read_web_items();
    QString user_key() const;
    QAction* new_item(const QString& caption);
    void insert_first(QAction* item);
    QAction* insert_separator_first();
    void check_version(bool manual, bool end_after_download);
    void version_file_arrived(bool ok, const QString& text, bool manual, bool end_after_download);
    void end_check();
    void store_check_date(int day);

    QPointer<QMenuBar> fmainmenu;
    QMenu* fmenu = nullptr;
    bool fownsmenu = false;
    int fmainmenupos = 100;
    TProgId* fprogid = nullptr;
    QList<QAction*> fmenuitem;
    QAction* fbaritem1 = nullptr;
    QAction* fbaritem2 = nullptr;
    QAction* faboutitem = nullptr;
    QAction* fnewversionitem = nullptr;
    QAction* fnewversionnowitem = nullptr;
    QString fNewVersionURL;
    QString newversionstr;
    QString usermessage;
    QString downloadurl;
    QAction* fhelpitem = nullptr;
    TAbout* faboutbox = nullptr;
    QStringList fAdditionalCommands;
    QStringList fAdditionalMenutexts;
    bool fEnableVersionCheck = false;
    QStringList menutexts;
    QStringList shellcommands;
    QNetworkAccessManager* idhttp = nullptr;
    TWebDetect* fwebdetect = nullptr;
    int lastnewversioncheckdate = 0;
    QString fhelpfile;
    int fdownloadtimeout = 10000;
    THttpGet* fdownload = nullptr;  // the running check's download (a child)
    bool fdownloadmanual = false;
    bool fbusy = false;  // busy cursor shown, Escape watched
};

}  // namespace wavrell
