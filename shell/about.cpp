#include "shell/about.h"

#include "common/errors.h"
#include "common/number_text.h"
#include "shell/day_number.h"
#include "shell/program_icon.h"
#include "shell/source_date.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

namespace wavrell {

namespace {

std::function<void(QDialog&)>& show_hook() {
    static std::function<void(QDialog&)> h;
    return h;
}

/// Panel with a lowered outer and a raised inner bevel, each 1 pixel wide.
class BevelPanel : public QFrame {
public:
    using QFrame::QFrame;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QColor light = palette().color(QPalette::Light);
        const QColor dark = palette().color(QPalette::Dark);
        const int r = width() - 1, b = height() - 1;
        auto ring = [&](int inset, const QColor& topLeft, const QColor& bottomRight) {
            p.setPen(topLeft);
            p.drawLine(inset, inset, r - inset, inset);
            p.drawLine(inset, inset, inset, b - inset);
            p.setPen(bottomRight);
            p.drawLine(inset, b - inset, r - inset, b - inset);
            p.drawLine(r - inset, inset, r - inset, b - inset);
        };
        ring(0, dark, light);   // lowered outer
        ring(1, light, dark);   // raised inner
    }
};

QLabel* make_label(QWidget* parent, int left, int top, int width, int height, bool wrap) {
    auto* l = new QLabel(parent);
    l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    l->setWordWrap(wrap);
    l->setGeometry(left, top, width, height);
    return l;
}

/// Height of a wrapping label at its width, as its text needs.
void fit_height(QLabel* l) { l->resize(l->width(), l->heightForWidth(l->width())); }

int bottom_of(const QWidget* w) { return w->y() + w->height(); }

/// A whole number in decimal, optionally signed.
bool whole_number(const QString& text, long long* value) {
    if (text.isEmpty()) return false;
    bool ok = false;
    *value = text.toLongLong(&ok, 10);
    return ok;
}

constexpr int panel_height = 234;
constexpr int margin = 10;

}  // namespace

int build_date() { return WAVRELL_SOURCE_DAY; }

void set_about_show_hook(std::function<void(QDialog&)> hook) { show_hook() = std::move(hook); }

TAbout::TAbout(QObject* owner) : QObject(owner) {
    // The dialog belongs to the application, not to a window.
    form = new QDialog(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                                    Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    form->setWindowTitle(QStringLiteral("About"));
    QFont dialogFont;
    dialogFont.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                            QStringLiteral("DejaVu Sans")});
    dialogFont.setPointSize(8);
    form->setFont(dialogFont);

    panel = new BevelPanel(form);
    panel->setGeometry(margin, 0, 163, panel_height);
    fjelmimage = new QLabel(panel);
    fjelmimage->setGeometry(4, 4, 153, 225);
    fjelmimage->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    fjelmimage->setAutoFillBackground(false);  // transparent
    fjelmimage->installEventFilter(this);

    progicon = new QLabel(form);
    progicon->setGeometry(372, 9, 41, 37);
    progicon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    progicon->installEventFilter(this);

    titlelabel = make_label(form, 172, 16, 237, 23, false);
    QFont titleFont;
    titleFont.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                           QStringLiteral("DejaVu Sans")});
    titleFont.setBold(true);
    titleFont.setPointSize(16);
    titlelabel->setFont(titleFont);
    titlelabel->setForegroundRole(QPalette::WindowText);

    versionlabel = make_label(form, 172, bottom_of(titlelabel) + 2, 237, 13, false);
    fjelmlabel = make_label(form, 172, bottom_of(versionlabel) + 2, 237, 13, false);
    copyrightlabel = make_label(form, 172, bottom_of(fjelmlabel) + 4, 237, 13, false);
    compiledatelabel =
        make_label(form, 172, bottom_of(copyrightlabel) + 2, titlelabel->width(), 13, true);
    compiledatelabel->setText(QStringLiteral("Compiled ") +
                              QLocale().toString(date_of_day_number(build_date()), QLocale::ShortFormat));
    fit_height(compiledatelabel);
    extralabel = make_label(form, 172, bottom_of(compiledatelabel) + 3, 237, 13, true);
    // Three lines are reserved for the extra text.
    extralabel->setText(display_text(QStringLiteral(" \r \r ")));
    fit_height(extralabel);
    memorylabel = make_label(form, 172, bottom_of(extralabel) + 2, 237, 13, false);

    okbutton = new QPushButton(QStringLiteral("&Ok"), form);
    okbutton->setGeometry(254, bottom_of(memorylabel) + 5, 75, 25);
    okbutton->setDefault(true);
    connect(okbutton, &QPushButton::clicked, this, [this] { ok_click(); });
    creditsbutton = new QPushButton(QStringLiteral("&Credits..."), form);
    creditsbutton->setGeometry(172, okbutton->y(), 75, 25);
    creditsbutton->hide();
    connect(creditsbutton, &QPushButton::clicked, this, [this] { show_credits(form, fcredits); });

    // The client area ends 10 below the button, but never cuts the picture
    // panel: it keeps the panel's left margin above and below it.
    const int height = std::max(bottom_of(okbutton) + margin, panel_height + 2 * margin);
    form->setFixedSize(410, height);
    panel->move(margin, (height - panel_height) / 2);

    // Named after their fields, so that tests and style sheets find them.
    const std::pair<QWidget*, const char*> names[] = {
        {panel, "panel"}, {fjelmimage, "fjelmimage"}, {progicon, "progicon"},
        {titlelabel, "titlelabel"}, {versionlabel, "versionlabel"}, {fjelmlabel, "fjelmlabel"},
        {copyrightlabel, "copyrightlabel"}, {compiledatelabel, "compiledatelabel"},
        {extralabel, "extralabel"}, {memorylabel, "memorylabel"}, {okbutton, "okbutton"},
        {creditsbutton, "creditsbutton"}};
    for (const auto& [w, name] : names) w->setObjectName(QLatin1String(name));

    set_defaults();
    show_values();
}

TAbout::~TAbout() { delete form; }

void TAbout::set_defaults() {
    setTitle(QStringLiteral("AppName"));
    setCopyright(QStringLiteral("Copyright \u00A9 20xx"));
    setExtra(QString());
    fshowafjelm = false;
    fshowcompiledate = true;
    frevision.clear();
    fbmp256 = true;
    fversion = QStringLiteral("auto");
    setOSVersions(QStringLiteral("Win95/98/NT"));
}

void TAbout::setTitle(const QString& v) {
    ftitle = v;
    titlelabel->setText(v);
}

void TAbout::setVersion(const QString& v) {
    fversion = v;
    make_version_text();
}

void TAbout::setRevision(const QString& v) {
    frevision = v;
    make_version_text();
}

void TAbout::setOSVersions(const QString& v) {
    fosversions = v;
    make_version_text();
}

void TAbout::setCopyright(const QString& v) {
    fcopyright = v;
    copyrightlabel->setText(v);
}

void TAbout::setExtra(const QString& v) {
    fextra = v;
    extralabel->setText(display_text(v));
    extralabel->resize(titlelabel->width(), extralabel->height());
    fit_height(extralabel);
    extralabel->setVisible(!v.isEmpty());
}

void TAbout::setCredits(const QList<TCredit>& v) {
    fcredits = v;
    creditsbutton->setVisible(!v.isEmpty());
}

double TAbout::VersionNumber() {
    Loaded();
    // The version is stored text with "." as the separator, whatever the
    // user's locale.
    try {
        return text_dot_to_float(fversion);
    } catch (const Exception&) {
        return 0.0;
    }
}

uint16_t TAbout::intversion() const {
    const qsizetype point = fversion.indexOf(QLatin1Char('.'));
    long long major = 0, minor = 0;
    if (point >= 0) {
        if (!whole_number(fversion.left(point), &major) || !whole_number(fversion.mid(point + 1), &minor))
            return 0;
        return static_cast<uint16_t>((major & 255) * 256 + (minor & 255));
    }
    if (!whole_number(fversion, &major)) return 0;
    return static_cast<uint16_t>(major & 0xFFFF);
}

void TAbout::make_version_text() {
    versionlabel->setText(QStringLiteral("Version ") + fversion + frevision + QStringLiteral(" for ") +
                          fosversions);
}

void TAbout::show_values() {
    titlelabel->setText(ftitle);
    compiledatelabel->setVisible(fshowcompiledate);
    copyrightlabel->setText(fcopyright);
    extralabel->setText(display_text(fextra));
    // The application's icon; the program's own while none is installed.
    const QIcon appIcon = QApplication::windowIcon();
    progicon->setPixmap((appIcon.isNull() ? program_icon() : appIcon).pixmap(32, 32));
}

void TAbout::Loaded() {
    if (fversion == QLatin1String("auto")) setVersion(QStringLiteral("3.0"));
    if (frevision == QLatin1String("auto")) setRevision(QString());
}

void TAbout::ok_click() { form->accept(); }

void TAbout::picture_dblclick(QObject* sender) {
    if (OnActivateErrLog) OnActivateErrLog(sender);
}

bool TAbout::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == fjelmimage) {
            picture_dblclick(fjelmimage);
            return true;
        }
        if (watched == progicon && OnEggClick) {
            OnEggClick(progicon);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void TAbout::showmodal() {
    show_values();
    setExtra(fextra);
    // A 256-colour picture needs no palette work on a true-colour display.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        form->move(area.center() - QPoint(form->width() / 2, form->height() / 2));
    }
    if (show_hook())
        show_hook()(*form);
    else
        form->exec();
}

}  // namespace wavrell
