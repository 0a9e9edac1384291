// Mouse handling of the axis: the drag zones, the drag arithmetic for the
// low end, the high end and the whole range, the scroll cursors, and the
// limits dialog on a double click.

#include "plot/axis.h"

#include "plot/axis_arith.h"
#include "plot/axis_cursors.h"
#include "plot/axis_limit_form.h"

#include <QMouseEvent>

namespace wavrell {

using namespace axis_arith;

int TAxis::along(const QPointF& p) const {
    const QPoint q = p.toPoint();
    return is_vertical() ? q.y() : q.x();
}

void TAxis::mousePressEvent(QMouseEvent* event) {
    QWidget::mousePressEvent(event);
    const int n = axis_length();
    int c = along(event->position());
    // Keep the press away from the very ends so that the end drags never
    // divide by a tiny distance.
    if (c < 11) c = 11;
    if (c > n - 11) c = n - 11;
    downpos = c;

    const bool vertical = is_vertical();
    if (fallowloscroll && fallowhiscroll) {
        if (fallowmidscroll) {
            const int t = n / 3;
            if (c < t)
                mousescroll = vertical ? 3 : 1;
            else if (c > 2 * t)
                mousescroll = vertical ? 1 : 3;
            else
                mousescroll = 2;
        } else {
            const int m = n / 2;
            if (c < m)
                mousescroll = vertical ? 3 : 1;
            else
                mousescroll = vertical ? 1 : 3;
        }
    } else if (fallowloscroll) {
        mousescroll = 1;
    } else if (fallowhiscroll) {
        mousescroll = 3;
    } else {
        mousescroll = 0;
    }
    downhivalue = HiValue();
    downlovalue = LoValue();

    const QPoint pos = event->position().toPoint();
    if (OnMouseDown)
        OnMouseDown(this, event->button(), event->modifiers(), vertical ? pos.x() : c, vertical ? c : pos.y());
}

// New ends for the pointer at c, computed from the state at the press (not
// incrementally). End drags clamp c and keep the value under the pointer at
// the press under the pointer; the middle drag moves the whole range.
void TAxis::drag_to(int& c) {
    const double lo0 = downlovalue, hi0 = downhivalue;
    const double pp = downpos;
    const bool vertical = is_vertical();
    const double len = vertical ? height() : width();

    if (mousescroll == 1 || mousescroll == 3) {
        const bool low = mousescroll == 1;
        // The clamp keeps the pointer away from the fixed end.
        if (vertical == low) {
            if (c < 10) c = 10;
        } else if (c > len - 10) {
            c = static_cast<int>(len) - 10;
        }
        const double cc = c;
        try {
            // Ratio of the distances from the fixed end at the press and now.
            double r;
            if (vertical == low)
                r = divide(pp, cc);
            else
                r = divide(len - pp, len - cc);
            if (low) {
                const double lo = flogarithmic ? checked(hi0 * power(divide(lo0, hi0), r))
                                               : checked(hi0 + r * checked(lo0 - hi0));
                put_lovalue(lo);
            } else {
                const double hi = flogarithmic ? checked(lo0 * power(divide(hi0, lo0), r))
                                               : checked(lo0 + r * checked(hi0 - lo0));
                put_hivalue(hi);
            }
        } catch (const Exception&) {
            // The end keeps the value it had before this move.
        }
    } else if (mousescroll == 2) {
        const double d = vertical ? (c - pp) / len : (pp - c) / len;
        double hi, lo;
        if (flogarithmic) {
            const double ratio = divide(hi0, lo0);
            hi = checked(hi0 * power(ratio, d));
            lo = checked(lo0 * power(ratio, d));
        } else {
            const double span = checked(hi0 - lo0);
            hi = checked(hi0 + d * span);
            lo = checked(lo0 + d * span);
        }
        put_hivalue(hi);
        put_lovalue(lo);
    }
}

void TAxis::update_cursor(int c) {
    const int n = axis_length();
    const bool vertical = is_vertical();
    int id = 0;
    if (fallowloscroll && fallowhiscroll) {
        // "lower" and "upper" are the picture of the low / high end drag.
        int zone;  // 1 low end, 2 middle, 3 high end
        if (fallowmidscroll) {
            const int t = n / 3;
            zone = c < t ? (vertical ? 3 : 1) : c > 2 * t ? (vertical ? 1 : 3) : 2;
        } else {
            zone = c < n / 2 ? (vertical ? 3 : 1) : (vertical ? 1 : 3);
        }
        if (vertical)
            id = zone == 3 ? crVUpper : zone == 1 ? crVLower : crVMiddle;
        else
            id = zone == 3 ? crHUpper : zone == 1 ? crHLower : crHMiddle;
    } else if (fallowloscroll) {
        id = vertical ? crVLower : crHLower;
    } else if (fallowhiscroll) {
        id = vertical ? crVUpper : crHUpper;
    }
    if (id)
        setCursor(axis_cursor(id));
    else
        unsetCursor();
}

void TAxis::mouseMoveEvent(QMouseEvent* event) {
    QWidget::mouseMoveEvent(event);
    int c = along(event->position());
    if ((event->buttons() & Qt::LeftButton) && mousescroll != 0) drag_to(c);
    if (mousescroll == 0) update_cursor(c);
    if (mousescroll != 0 && (fallowloscroll || fallowhiscroll)) guarded_notify(OnScaleChanging);
    const QPoint pos = event->position().toPoint();
    if (OnMouseMove) OnMouseMove(this, event->modifiers(), is_vertical() ? pos.x() : c, is_vertical() ? c : pos.y());
}

void TAxis::mouseReleaseEvent(QMouseEvent* event) {
    QWidget::mouseReleaseEvent(event);
    mousescroll = 0;
    if (fallowloscroll || fallowhiscroll) guarded_notify(OnScaleChanged);
    const QPoint pos = event->position().toPoint();
    if (OnMouseUp) OnMouseUp(this, event->button(), event->modifiers(), pos.x(), pos.y());
}

void TAxis::mouseDoubleClickEvent(QMouseEvent* event) {
    // Qt's own handling treats the second press like a press.
    QWidget::mouseDoubleClickEvent(event);
    if (!fallowdoubleclick) return;
    mousescroll = 0;
    faxislimitform->setloval(LoValue());
    faxislimitform->sethival(HiValue());
    if (faxislimitform->showmodal()) set_hilovalues(faxislimitform->loval(), faxislimitform->hival());
    guarded_notify(OnScaleChanged);
    mousescroll = 0;
}

}  // namespace wavrell
