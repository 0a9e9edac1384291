#include "app/view_navigation.h"

#include "app/main_window.h"
#include "audio/wav_file.h"
#include "common/errors.h"
#include "plot/axis.h"
#include "settings/prog_id.h"
#include "settings/setting.h"
#include "workspace/workspace.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace wavrell {

namespace {
const QString kViewSection = QStringLiteral("View");
const QString kFollowKey = QStringLiteral("FollowCursor");
const QString kTimeKey = QStringLiteral("TimeAsHMS");
// Zooming in stops at a view of a millisecond: a few dozen samples across
// the box at the usual rates.
constexpr double kSmallestSpan = 0.001;
constexpr double kZoomPerNotch = 1.25;
}  // namespace

TViewNavigation::TViewNavigation(TForm19& form, TAxis& xaxis, TWorkspace& ws, TProgId& progid)
    : QObject(&form), fform(form), fxaxis(xaxis), fws(ws), fsettings(*new TSetting(this)) {
    fsettings.setProgId(&progid);
    zoomfitaction = new QAction(QStringLiteral("Zoom to fit"), &form);
    zoomfitaction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    connect(zoomfitaction, &QAction::triggered, this, [this] { zoom_to_fit(); });
    zoomloopaction = new QAction(QStringLiteral("Zoom to loop"), &form);
    zoomloopaction->setEnabled(false);
    connect(zoomloopaction, &QAction::triggered, this, [this] { zoom_to_loop(); });
    followaction = new QAction(QStringLiteral("Follow cursor while playing"), &form);
    followaction->setCheckable(true);
    followaction->setChecked(true);
    connect(followaction, &QAction::triggered, this, [this] { write_settings(); });
    timeaction = new QAction(QStringLiteral("Time as h:mm:ss"), &form);
    timeaction->setCheckable(true);
    connect(timeaction, &QAction::triggered, this, [this] {
        fxaxis.setTimeLabels(timeaction->isChecked());
        write_settings();
    });
    for (QAction* a : {zoomfitaction, zoomloopaction, followaction, timeaction}) form.addAction(a);
    readout = new QLabel(&form);
    readout->setObjectName(QStringLiteral("timereadout"));
    readout->setTextInteractionFlags(Qt::TextSelectableByMouse);
    read_settings();
    update_readout();
}

void TViewNavigation::fill_menu(QMenu* menu) {
    menu->addAction(zoomfitaction);
    menu->addAction(zoomloopaction);
    menu->addSeparator();
    menu->addAction(followaction);
    menu->addAction(timeaction);
}

void TViewNavigation::watch(QWidget* box) { box->installEventFilter(this); }

bool TViewNavigation::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Wheel) {
        auto* e = static_cast<QWheelEvent*>(event);
        // A horizontal wheel (or a tilted one) scrolls as well.
        const QPoint d = e->angleDelta();
        const int angle = d.y() != 0 ? d.y() : -d.x();
        const QWidget* box = static_cast<QWidget*>(watched);
        const int x = box->mapTo(fxaxis.parentWidget(), e->position().toPoint()).x() - fxaxis.x();
        wheel(x, angle, e->modifiers());
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void TViewNavigation::show_span(double lo, double hi) {
    const double span = hi - lo;
    const double minlo = fxaxis.MinLoValue(), maxhi = fxaxis.MaxHiValue();
    if (span >= maxhi - minlo) {
        lo = minlo;
        hi = maxhi;
    } else if (lo < minlo) {
        lo = minlo;
        hi = minlo + span;
    } else if (hi > maxhi) {
        hi = maxhi;
        lo = maxhi - span;
    }
    fxaxis.set_hilovalues(lo, hi);
}

void TViewNavigation::zoom_to_fit() { fform.reset_time_axis(); }

void TViewNavigation::zoom_to_loop() {
    if (!(fform.loophi() > fform.looplo())) return;
    show_span(fform.looplo(), std::max(fform.loophi(), fform.looplo() + kSmallestSpan));
}

void TViewNavigation::wheel(int x, int angle, Qt::KeyboardModifiers modifiers) {
    if (angle == 0) return;
    const double lo = fxaxis.LoValue(), hi = fxaxis.HiValue();
    const double notches = angle / 120.0;
    if (modifiers & Qt::ControlModifier) {
        const double at = fxaxis.pixel_to_value(x);
        const double k = std::pow(kZoomPerNotch, notches);
        double newlo = at - (at - lo) / k, newhi = at + (hi - at) / k;
        if (newhi - newlo < kSmallestSpan) {
            // As close as it goes, still around the mouse.
            const double f = (at - lo) / (hi - lo);
            newlo = at - f * kSmallestSpan;
            newhi = newlo + kSmallestSpan;
        }
        // Zooming out past the whole time line shows the whole time line.
        show_span(std::max(newlo, fxaxis.MinLoValue()), std::min(newhi, fxaxis.MaxHiValue()));
        return;
    }
    const double shift = -notches * (hi - lo) / 10;
    show_span(lo + shift, hi + shift);
}

void TViewNavigation::follow(double cursor) {
    if (!followaction->isChecked()) return;
    const double lo = fxaxis.LoValue(), hi = fxaxis.HiValue();
    const double span = hi - lo;
    if (!(span > 0) || (cursor >= lo && cursor <= hi)) return;
    // Whole pages, so that the view moves as a page turns, also back to
    // the start of a loop.
    const double pages = std::floor((cursor - lo) / span);
    show_span(lo + pages * span, hi + pages * span);
}

QString TViewNavigation::time_text(double seconds) {
    if (!std::isfinite(seconds)) return QStringLiteral("-");
    const bool negative = seconds < 0;
    const long long ms = std::llround(std::fabs(seconds) * 1000);
    const long long s = ms / 1000;
    return QStringLiteral("%1%2:%3:%4.%5")
        .arg(negative ? QStringLiteral("-") : QString())
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

void TViewNavigation::update_readout() {
    const double c = fws.cursorpos();
    // Frames count at the rate of the files (one file is converted to the
    // other's rate when loaded).
    double fs = 0;
    for (int s : {0, 1})
        if (fws.wav(s)->nsamples() > 0 && fs == 0) fs = fws.wav(s)->sampfreq();
    QString text = QStringLiteral("Cursor ") + time_text(c);
    if (fs > 0) text += QStringLiteral(" (frame %1)").arg(std::llround(c * fs));
    const double lo = fform.looplo(), hi = fform.loophi();
    const bool loop = hi > lo;
    if (loop)
        text += QStringLiteral("   Loop %1 to %2, length %3").arg(time_text(lo), time_text(hi), time_text(hi - lo));
    if (readout->text() != text) readout->setText(text);
    zoomloopaction->setEnabled(loop);
}

void TViewNavigation::read_settings() {
    // Errors of the store leave the defaults.
    try {
        fsettings.setLocation(slroaming);
        followaction->setChecked(fsettings.ReadBool(kViewSection, kFollowKey, true));
        timeaction->setChecked(fsettings.ReadBool(kViewSection, kTimeKey, false));
    } catch (const Exception&) {
    }
    fxaxis.setTimeLabels(timeaction->isChecked());
}

void TViewNavigation::write_settings() {
    // A store that cannot be written keeps the choice for this run only.
    try {
        fsettings.setLocation(slroaming);
        fsettings.WriteBool(kViewSection, kFollowKey, followaction->isChecked());
        fsettings.WriteBool(kViewSection, kTimeKey, timeaction->isChecked());
    } catch (const Exception&) {
    }
}

}  // namespace wavrell
