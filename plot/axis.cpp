// Scale model of the axis: the requested and effective ends with their
// limits, the scale-change notifications, the mappings between values,
// fractions and pixels, the marker value and the automatic sizing.

#include "plot/axis.h"

#include "common/number_text.h"
#include "plot/axis_arith.h"
#include "plot/axis_cursors.h"
#include "plot/axis_limit_form.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QPalette>

#include <algorithm>
#include <cmath>

namespace wavrell {

using namespace axis_arith;

namespace {

QString log_scale_message(const char* which, double x) {
    return QLatin1String(which) + general_float_text(x) + QStringLiteral(", must be >0 for log scale!");
}

// Unclipped pixels far outside the axis are of no use to anyone; keeping
// them well inside the int range avoids overflow in the callers' arithmetic.
constexpr double pixel_bound = 1 << 30;

}  // namespace

TAxis::TAxis(QWidget* parent) : QWidget(parent) {
    register_axis_cursors();
    fminlovalue = fminhivalue = -1e300;
    fmaxlovalue = fmaxhivalue = fmaxvaluedifference = 1e300;
    fminvaluedifference = 0;
    fallowloscroll = fallowhiscroll = true;
    faxislimitform = new TAxisLimitForm(this);
    resize(200, 200);
    put_hivalue(1);
    put_lovalue(0);
    setTickMarkSize(5);
    ftickspaceaim = 40;
    fbackgroundcolor = QApplication::palette().color(QPalette::Button);
    fposition = posleft;
    // The cursor shows which end a drag would take, also before a press.
    setMouseTracking(true);
}

TAxis::~TAxis() = default;

void TAxis::Loaded() {
    ticksdirty = true;
    compute_tickmarks();
}

int TAxis::axis_length() const { return is_vertical() ? height() : width(); }

// ---------------------------------------------------------------- ends

double TAxis::LoValue() const {
    double v = flovalue;
    if (fisinteger) {
        v = std::nearbyint(v);
        if (v < fminlovalue) v = ceil_int(fminlovalue);
        if (v > fmaxlovalue) v = floor_int(fmaxlovalue);
    } else {
        if (v < fminlovalue) v = fminlovalue;
        if (v > fmaxlovalue) v = fmaxlovalue;
    }
    return v;
}

double TAxis::HiValue() const {
    double v = fhivalue;
    if (fisinteger) v = std::nearbyint(v);
    if (v < fminhivalue) v = fisinteger ? ceil_int(fminhivalue) : fminhivalue;
    if (v > fmaxhivalue) v = fisinteger ? floor_int(fmaxhivalue) : fmaxhivalue;
    // The difference limits are taken against the stored low end; the
    // minimum difference comes last and wins over every other bound.
    if (v - flovalue > fmaxvaluedifference) {
        v = flovalue + fmaxvaluedifference;
        if (fisinteger) v = floor_int(v);
    }
    if (v - flovalue < fminvaluedifference) {
        v = flovalue + fminvaluedifference;
        if (fisinteger) v = ceil_int(v);
    }
    return v;
}

void TAxis::put_lovalue(double x) {
    if (x == flovalue) return;
    ticksdirty = true;
    flovalue = x;
    if (flogarithmic && !(x > 0)) throw EAxisError(log_scale_message("LoValue=", x));
    if (LoValue() > fmarkervalue) setMarkerValue(LoValue());
    if (HiValue() < fmarkervalue) setMarkerValue(HiValue());
    compute_tickmarks();
    update();
}

void TAxis::put_hivalue(double x) {
    if (x == fhivalue) return;
    ticksdirty = true;
    fhivalue = x;
    if (flogarithmic && !(x > 0)) throw EAxisError(log_scale_message("HiValue=", x));
    if (LoValue() > fmarkervalue) setMarkerValue(LoValue());
    if (HiValue() < fmarkervalue) setMarkerValue(HiValue());
    compute_tickmarks();
    update();
}

void TAxis::guarded_notify(const TNotifyEvent& handler) {
    if (!handler) return;
    scalechangecalled = true;
    try {
        handler(this);
    } catch (...) {
        scalechangecalled = false;
        throw;
    }
    scalechangecalled = false;
}

void TAxis::setLoValue(double v) {
    const double old = LoValue();
    ticksdirty = true;
    put_lovalue(v);
    // Compared with the requested value: a write that the limits clamp back
    // to the current end still reports a change.
    if (old != v && OnScaleChanged && !scalechangecalled) guarded_notify(OnScaleChanged);
    update();
}

void TAxis::setHiValue(double v) {
    const double old = HiValue();
    ticksdirty = true;
    put_hivalue(v);
    if (old != v && OnScaleChanged && !scalechangecalled) guarded_notify(OnScaleChanged);
    update();
}

void TAxis::set_hilovalues(double lo, double hi) {
    ticksdirty = true;
    const bool changed = LoValue() != lo || HiValue() != hi;
    put_lovalue(lo);
    put_hivalue(hi);
    if (changed && OnScaleChanged && !scalechangecalled) guarded_notify(OnScaleChanged);
}

// ---------------------------------------------------------------- limits

void TAxis::setMinLoValue(double m) {
    fminlovalue = m;
    ticksdirty = true;
    if (flovalue < m) setLoValue(m);
    update();
}

void TAxis::setMaxLoValue(double m) {
    fmaxlovalue = m;
    ticksdirty = true;
    if (flovalue > m) setLoValue(m);
    update();
}

void TAxis::setMinHiValue(double m) {
    fminhivalue = m;
    ticksdirty = true;
    if (fhivalue < m) setHiValue(m);
    update();
}

void TAxis::setMaxHiValue(double m) {
    fmaxhivalue = m;
    ticksdirty = true;
    if (fhivalue > m) setHiValue(m);
    update();
}

void TAxis::setMaxValueDifference(double d) {
    fmaxvaluedifference = d;
    ticksdirty = true;
    if (fhivalue - flovalue > d) setHiValue(LoValue() + d);
    update();
}

void TAxis::setMinValueDifference(double d) {
    fminvaluedifference = d;
    ticksdirty = true;
    if (fhivalue - flovalue < d) setHiValue(LoValue() + d);
    update();
}

// ---------------------------------------------------------------- properties

void TAxis::setPosition(tposition p) {
    if (scalechangecalled) return;
    fposition = p;
    ticksdirty = true;
    update();
}

void TAxis::setLogarithmic(bool b) {
    if (b) {
        if (!(flovalue > 0)) throw EAxisError(log_scale_message("LoValue=", flovalue));
        if (!(fhivalue > 0)) throw EAxisError(log_scale_message("HiValue=", fhivalue));
    }
    flogarithmic = b;
    ticksdirty = true;
    compute_tickmarks();
    update();
}

void TAxis::setMusicScale(bool b) {
    fMusicScale = b;
    ticksdirty = true;
    compute_tickmarks();
    update();
}

void TAxis::setTimeLabels(bool b) {
    ftimelabels = b;
    ticksdirty = true;
    compute_tickmarks();
    update();
}

void TAxis::setShowTickmarks(bool b) {
    fshowtickmarks = b;
    apply_autosize();
    update();
}

void TAxis::setBackgroundColor(const QColor& c) {
    fbackgroundset = true;
    fbackgroundcolor = c;
    update();
}

void TAxis::setTickMarkSize(int n) {
    ftickmarksize = n;
    apply_autosize();
    update();
}

void TAxis::setTickSpaceAim(int n) {
    ticksdirty = true;
    ftickspaceaim = n;
    update();
}

void TAxis::setAxisText(const QString& t) {
    ticksdirty = true;
    faxistext = t;
    faxislimitform->set_unit_text(t);
    update();
}

void TAxis::setReverse(bool b) {
    ticksdirty = true;
    freverse = b;
    update();
}

void TAxis::setMarkerVisible(bool b) {
    fmarkervisible = b;
    update();
}

// The marker line is drawn by paintEvent in inverting mode, not straight onto
// the screen: a Qt widget can only paint inside its paint event. Erasing the
// old line and drawing the new one thus becomes one repaint, which shows the
// same picture as inverting the old line back and inverting the new one.
void TAxis::setMarkerValue(double m) {
    // Visible is the axis's own flag (hidden only by hide() or
    // setVisible(false)): an axis counts as visible before its window is
    // first shown.
    const bool visible = !(testAttribute(Qt::WA_WState_ExplicitShowHide) && testAttribute(Qt::WA_WState_Hidden));
    if (scalechangecalled || !visible) return;
    fmarkervalue = m;
    update();
}

void TAxis::setIsInteger(bool b) {
    ticksdirty = true;
    fisinteger = b;
    update();
}

void TAxis::setAutosize(bool b) {
    fautosize = b;
    apply_autosize();
    update();
}

void TAxis::apply_autosize() {
    if (fautosize) {
        const QFontMetrics fm(font());
        if (is_vertical())
            resize(fm.horizontalAdvance(QStringLiteral("12345")) + ftickmarksize, height());
        else
            resize(width(), fm.height() * 4 / 3 + ftickmarksize);
    }
    ticksdirty = true;
}

void TAxis::resizeEvent(QResizeEvent* event) {
    ticksdirty = true;
    QWidget::resizeEvent(event);
}

void TAxis::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        ticksdirty = true;
        apply_autosize();
        update();
    }
    QWidget::changeEvent(event);
}

// ---------------------------------------------------------------- mappings

double TAxis::value_to_notclipped_position(double v) const {
    double f = 0;
    try {
        const double lo = LoValue(), hi = HiValue();
        if (flogarithmic) {
            if (lo > 0 && v > 0 && hi > 0) f = divide(log10_of(divide(v, lo)), log10_of(divide(hi, lo)));
        } else if (lo != hi) {
            f = divide(checked(v - lo), checked(hi - lo));
        }
    } catch (const Exception&) {
        f = 0;
    }
    if (is_vertical() != freverse) f = 1 - f;
    return f;
}

double TAxis::value_to_position(double v) const {
    double f = value_to_notclipped_position(v);
    if (f < 0) f = 0;
    if (f > 1) f = 1;
    return f;
}

int TAxis::value_to_notclippedpixel(double v) const {
    const int n = axis_length();
    double q = 0;
    try {
        const double lo = LoValue(), hi = HiValue();
        if (flogarithmic) {
            if (lo > 0 && v > 0 && hi > 0)
                q = divide(checked(log10_of(divide(v, lo)) * (n - 1)), log10_of(divide(hi, lo)));
        } else if (lo != hi) {
            q = divide(checked((n - 1) * checked(v - lo)), checked(hi - lo));
        }
        q = std::nearbyint(q);
    } catch (const Exception&) {
        q = 0;
    }
    q = std::clamp(q, -pixel_bound, pixel_bound);
    int r = static_cast<int>(q);
    if (is_vertical() != freverse) r = (n - 1) - r;
    return r;
}

int TAxis::value_to_pixel(double v) const {
    int r = value_to_notclippedpixel(v);
    const int n = axis_length();
    if (r < 0) r = 0;
    if (r > n - 1) r = n - 1;
    return r;
}

double TAxis::pixel_to_value(int p) const {
    const int n = axis_length();
    double q = is_vertical() ? (n - 1) - p : p;
    if (freverse) q = (n - 1) - q;
    double lo = 0, hi = 0;
    try {
        lo = LoValue();
        hi = HiValue();
    } catch (const Exception&) {
        return 0;
    }
    double v = 0;
    try {
        if (flogarithmic) {
            if (lo > 0 && hi > 0 && n != 1)
                v = checked(lo * power(10, checked(log10_of(divide(hi, lo)) * q / (n - 1))));
        } else if (lo != hi && n != 1) {
            v = checked(lo + checked(hi - lo) * q / (n - 1));
        }
    } catch (const Exception&) {
        v = 0;
    }
    if (v < lo) v = lo;
    if (v > hi) v = hi;
    return v;
}

}  // namespace wavrell
