#pragma once

#include "shell/credits.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

class QDialog;
class QFrame;
class QLabel;
class QPushButton;

namespace wavrell {

/// The name of this platform, for OSVersions ("Version 0.2 for Linux").
inline const QString this_platform = QStringLiteral("Linux");

/// The day number (days since 30 December 1899) that the build stands for
/// (the compile date of the About box): the day of SOURCE_DATE_EPOCH when
/// the build was configured with it, else of the source's last commit, else
/// the release day; never the build's clock, so that builds of one commit
/// are the same.
int build_date();

/// Replaces the modal run of the About dialog (tests inspect and close it
/// without a person). The hook gets the dialog, already filled and laid
/// out; an empty hook restores the real modal run.
void set_about_show_hook(std::function<void(QDialog& dialog)> hook);

/// Owns the About dialog of the program: title, version line, brand line,
/// copyright, build date, extra text, a picture in a bevelled panel and the
/// program icon. The dialog is built and laid out on creation and lives as
/// long as this object; showmodal may be called any number of times. GUI
/// thread.
class TAbout : public QObject {
public:
    explicit TAbout(QObject* owner = nullptr);
    ~TAbout() override;

    QString Title() const { return ftitle; }
    void setTitle(const QString& v);
    /// "auto" until loading turns it into "3.0".
    QString Version() const { return fversion; }
    void setVersion(const QString& v);
    /// Version read as a number with "." as separator; 0 when it is none.
    /// Runs the load step first.
    double VersionNumber();
    QString Copyright() const { return fcopyright; }
    void setCopyright(const QString& v);
    /// Shown below the build date ("\r" breaks lines); hidden when empty.
    QString Extra() const { return fextra; }
    void setExtra(const QString& v);
    bool ShowAFjelm() const { return fshowafjelm; }
    void setShowAFjelm(bool v) { fshowafjelm = v; }
    bool ShowCompileDate() const { return fshowcompiledate; }
    void setShowCompileDate(bool v) { fshowcompiledate = v; }
    QString Revision() const { return frevision; }
    void setRevision(const QString& v);
    bool BMP256() const { return fbmp256; }
    void setBMP256(bool v) { fbmp256 = v; }
    QString OSVersions() const { return fosversions; }
    void setOSVersions(const QString& v);

    /// (major AND 255) * 256 + (minor AND 255) for "major.minor", the
    /// integer taken to 16 bits for a version without a point; 0 when a part
    /// is not an integer.
    uint16_t intversion() const;

    /// The libraries named by the "&Credits..." button (shell/credits.h);
    /// without any the button is hidden.
    QList<TCredit> Credits() const { return fcredits; }
    void setCredits(const QList<TCredit>& v);

    /// Double click on the program icon (sender: the icon label).
    std::function<void(QObject* sender)> OnEggClick;
    /// Double click on the picture (sender: the picture label).
    std::function<void(QObject* sender)> OnActivateErrLog;

    /// Shows the dialog modally; returns when it is closed.
    void showmodal();

    /// Load step, once the owner has set the properties: "auto" versions
    /// become "3.0" and an "auto" revision disappears.
    virtual void Loaded();

    /// The dialog itself (tests, screenshots).
    QDialog* dialog() const { return form; }

protected:
    void make_version_text();
    void show_values();
    void ok_click();
    void picture_dblclick(QObject* sender);
    bool eventFilter(QObject* watched, QEvent* event) override;

    QDialog* form = nullptr;
    QFrame* panel = nullptr;
    QPushButton* okbutton = nullptr;
    QPushButton* creditsbutton = nullptr;
    QLabel* titlelabel = nullptr;
    QLabel* fjelmlabel = nullptr;
    QLabel* compiledatelabel = nullptr;
    QLabel* versionlabel = nullptr;
    QLabel* copyrightlabel = nullptr;
    QLabel* extralabel = nullptr;
    QLabel* memorylabel = nullptr;
    QLabel* fjelmimage = nullptr;
    QLabel* progicon = nullptr;
    QString ftitle;
    QString fversion;
    QString fcopyright;
    QString fextra;
    QString frevision;
    bool fshowafjelm = false;
    bool fshowcompiledate = true;
    bool fbmp256 = true;
    QString fosversions;
    QList<TCredit> fcredits;

private:
    void set_defaults();
};

}  // namespace wavrell
