// Mouse interaction of the axis through real Qt mouse events: drag zones,
// drag arithmetic, notifications, cursors and the limits dialog.

#include "common/message_box.h"
#include "plot/axis.h"
#include "plot/axis_cursors.h"
#include "plot/axis_limit_form.h"
#include "tests/plot/axis_fixture.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace wavrell {
namespace {

using test::make_axis;

void send(QWidget* w, QEvent::Type type, QPoint p, Qt::MouseButton button, Qt::MouseButtons held) {
    QMouseEvent event(type, QPointF(p), QPointF(w->mapToGlobal(p)), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

/// Position along the axis as a widget point (the other coordinate 3).
QPoint at(const TAxis& axis, int c) { return axis.is_vertical() ? QPoint(3, c) : QPoint(c, 3); }

void press(TAxis& a, int c) { send(&a, QEvent::MouseButtonPress, at(a, c), Qt::LeftButton, Qt::LeftButton); }
void drag(TAxis& a, int c) { send(&a, QEvent::MouseMove, at(a, c), Qt::NoButton, Qt::LeftButton); }
void hover(TAxis& a, int c) { send(&a, QEvent::MouseMove, at(a, c), Qt::NoButton, Qt::NoButton); }
void release(TAxis& a, int c) { send(&a, QEvent::MouseButtonRelease, at(a, c), Qt::LeftButton, Qt::NoButton); }
void double_click(TAxis& a, int c) {
    send(&a, QEvent::MouseButtonDblClick, at(a, c), Qt::LeftButton, Qt::LeftButton);
}

void allow(TAxis& a, bool lo, bool hi, bool mid) {
    a.setAllowLoScroll(lo);
    a.setAllowHiScroll(hi);
    a.setAllowMidScroll(mid);
}

TEST(AxisMouse, PressZonesForEachPermissionSet) {
    struct Case {
        tposition pos;
        bool lo, hi, mid;
        int c;
        int want_scroll, want_reported;
    } cases[] = {
        {posleft, true, true, true, 5, 3, 11},  // clamped to 11, 11 < 74 div 3
        {posleft, true, true, true, 60, 1, 60},
        {posleft, true, true, true, 30, 2, 30},
        {posleft, true, true, true, 73, 1, 63},  // clamped to N - 11
        {posleft, true, true, false, 30, 3, 30},
        {posleft, true, true, false, 40, 1, 40},
        {posleft, true, false, true, 5, 1, 11},
        {posleft, false, true, true, 70, 3, 63},
        {posleft, false, false, true, 30, 0, 30},
        {posunder, true, true, true, 5, 1, 11},
        {posunder, true, true, true, 60, 3, 60},
        {posunder, true, true, true, 30, 2, 30},
        {posunder, true, true, false, 40, 3, 40},
    };
    for (const auto& c : cases) {
        auto axis = make_axis(c.pos, -2, 2, 74);
        allow(*axis, c.lo, c.hi, c.mid);
        int reported = -1;
        axis->OnMouseDown = [&](TAxis*, Qt::MouseButton b, Qt::KeyboardModifiers, int x, int y) {
            EXPECT_EQ(b, Qt::LeftButton);
            reported = axis->is_vertical() ? y : x;
        };
        press(*axis, c.c);
        EXPECT_EQ(axis->mousescroll_state(), c.want_scroll) << c.pos << " c=" << c.c;
        EXPECT_EQ(reported, c.want_reported) << c.pos << " c=" << c.c;
        release(*axis, c.c);
        EXPECT_EQ(axis->mousescroll_state(), 0);
    }
}

TEST(AxisMouse, DragArithmetic) {
    struct Case {
        tposition pos;
        bool log;
        double lo, hi;
        int from, to;
        double want_lo, want_hi;
    } cases[] = {
        {posleft, false, -2, 2, 80, 40, -6, 2},                         // low end
        {posleft, false, -2, 2, 20, 40, -2, -2 + 80.0 / 60 * 4},         // high end
        {posleft, false, 0, 1, 50, 60, 0.1, 1.1},                       // middle
        {posunder, false, 0, 1, 20, 40, 1 - 80.0 / 60, 1},               // low end
        {posunder, false, 0, 1, 80, 40, 0, 2},                          // high end
        {posunder, false, 0, 1, 50, 60, -0.1, 0.9},                     // middle
        {posleft, true, 10, 1000, 80, 40, 1000 * std::pow(0.01, 2.0), 1000},
        {posleft, true, 10, 1000, 20, 40, 10, 10 * std::pow(100, 80.0 / 60)},
        {posunder, true, 10, 1000, 50, 60, 10 * std::pow(100, -0.1), 1000 * std::pow(100, -0.1)},
        {posunder, true, 10, 1000, 80, 40, 10, 10 * std::pow(100, 2.0)},
    };
    for (const auto& c : cases) {
        auto axis = make_axis(c.pos, c.lo, c.hi, 100);
        axis->setLogarithmic(c.log);
        allow(*axis, true, true, true);
        press(*axis, c.from);
        drag(*axis, c.to);
        EXPECT_NEAR(axis->LoValue(), c.want_lo, 1e-9 * std::fabs(c.want_lo) + 1e-12) << c.pos << c.log << c.from;
        EXPECT_NEAR(axis->HiValue(), c.want_hi, 1e-9 * std::fabs(c.want_hi) + 1e-12) << c.pos << c.log << c.from;
        release(*axis, c.to);
    }
}

TEST(AxisMouse, EndDragKeepsTheGrabbedValueUnderThePointer) {
    auto axis = make_axis(posleft, -2, 2, 100);
    allow(*axis, true, true, true);
    int moved_to = -1;
    axis->OnMouseMove = [&](TAxis*, Qt::KeyboardModifiers, int, int y) { moved_to = y; };
    press(*axis, 80);
    const double grabbed = axis->pixel_to_value(80);
    EXPECT_NEAR(grabbed, -1.2, 4.0 / 99);
    drag(*axis, 40);
    EXPECT_EQ(axis->LoValue(), -6);
    EXPECT_EQ(axis->value_to_pixel(-1.2), 40);
    // Moves are computed from the press, not from the previous move.
    drag(*axis, 60);
    drag(*axis, 40);
    EXPECT_EQ(axis->LoValue(), -6);
    // The pointer is kept off the fixed end; the handler sees the clamp.
    drag(*axis, 2);
    EXPECT_EQ(moved_to, 10);
    EXPECT_EQ(axis->LoValue(), 2 + 8 * -4.0);
    release(*axis, 2);
}

TEST(AxisMouse, EndDragErrorsAreSwallowedMiddleDragErrorsReported) {
    QStringList shown;
    set_message_box_hook([&](const QString& text, const QString&, int) {
        shown << text;
        return mb::IDOK;
    });
    // Linear: the span overflows.
    auto axis = make_axis(posleft, 0, 1, 100);
    axis->setMinLoValue(-1.7e308);
    axis->setMaxHiValue(1.7e308);
    axis->setMaxValueDifference(std::numeric_limits<double>::infinity());
    axis->set_hilovalues(-1.5e308, 1.5e308);
    allow(*axis, true, true, true);
    press(*axis, 80);
    drag(*axis, 40);
    EXPECT_EQ(axis->LoValue(), -1.5e308);
    release(*axis, 40);
    EXPECT_TRUE(shown.isEmpty());
    // Logarithmic: the ratio of the ends underflows to 0.
    auto log = make_axis(posleft, 1e-300, 1e300, 100);
    log->setMinLoValue(1e-301);
    log->set_hilovalues(1e-300, 1e300);
    log->setLogarithmic(true);
    allow(*log, true, true, true);
    press(*log, 80);
    drag(*log, 40);
    EXPECT_EQ(log->LoValue(), 1e-300);
    release(*log, 40);
    EXPECT_TRUE(shown.isEmpty());
    // The middle drag has no such protection: the application reports it.
    press(*axis, 50);
    drag(*axis, 20);
    release(*axis, 20);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0], QStringLiteral("Floating point overflow"));
    EXPECT_EQ(axis->HiValue(), 1.5e308);
    set_message_box_hook(nullptr);
}

TEST(AxisMouse, NotificationCounts) {
    auto axis = make_axis(posleft, -2, 2, 100);
    allow(*axis, true, true, true);
    int changing = 0, changed = 0;
    axis->OnScaleChanging = [&](TAxis*) { ++changing; };
    axis->OnScaleChanged = [&](TAxis*) { ++changed; };
    press(*axis, 80);
    for (int y : {70, 60, 50}) drag(*axis, y);
    EXPECT_EQ(changing, 3);
    EXPECT_EQ(changed, 0);
    release(*axis, 50);
    EXPECT_EQ(changed, 1);
    hover(*axis, 40);
    EXPECT_EQ(changing, 3);
    // A click without movement still reports a change.
    press(*axis, 30);
    release(*axis, 30);
    EXPECT_EQ(changed, 2);

    // A fixed axis (no permissions) neither drags nor notifies.
    auto fixed = make_axis(posleft, 0, 30, 100);
    allow(*fixed, false, false, false);
    int fixed_calls = 0;
    fixed->OnScaleChanged = fixed->OnScaleChanging = [&](TAxis*) { ++fixed_calls; };
    press(*fixed, 80);
    drag(*fixed, 40);
    release(*fixed, 40);
    EXPECT_EQ(fixed_calls, 0);
    EXPECT_EQ(fixed->LoValue(), 0);
}

bool shows(const TAxis& axis, int id) {
    const QCursor c = axis.cursor();
    const QCursor& want = axis_cursor(id);
    return c.shape() == Qt::BitmapCursor && c.hotSpot() == want.hotSpot() &&
           c.bitmap().toImage() == want.bitmap().toImage();
}

TEST(AxisMouse, CursorsShowTheDragUnderThePointer) {
    auto v = make_axis(posleft, -2, 2, 90);
    allow(*v, true, true, true);
    hover(*v, 5);
    EXPECT_TRUE(shows(*v, crVUpper));
    hover(*v, 45);
    EXPECT_TRUE(shows(*v, crVMiddle));
    hover(*v, 85);
    EXPECT_TRUE(shows(*v, crVLower));
    // During a drag the cursor stays.
    press(*v, 85);
    drag(*v, 5);
    EXPECT_TRUE(shows(*v, crVLower));
    release(*v, 5);
    allow(*v, false, true, false);
    hover(*v, 85);
    EXPECT_TRUE(shows(*v, crVUpper));
    allow(*v, false, false, false);
    hover(*v, 85);
    EXPECT_EQ(v->cursor().shape(), Qt::ArrowCursor);

    auto h = make_axis(posunder, 0, 1, 90);
    allow(*h, true, true, false);
    hover(*h, 10);
    EXPECT_TRUE(shows(*h, crHLower));
    hover(*h, 80);
    EXPECT_TRUE(shows(*h, crHUpper));
    allow(*h, true, true, true);
    hover(*h, 45);
    EXPECT_TRUE(shows(*h, crHMiddle));
}

TEST(AxisMouse, CursorPictures) {
    struct Case {
        int id;
        QPoint hot;
        QPoint black, clear;  // a pixel of the arrow, one outside it
    } cases[] = {
        {crVUpper, {15, 25}, {15, 4}, {15, 30}},   // tip above, nothing below the bar
        {crVLower, {15, 6}, {15, 27}, {15, 1}},
        {crVMiddle, {15, 15}, {15, 3}, {3, 3}},
        {crHUpper, {6, 15}, {27, 15}, {1, 15}},
        {crHLower, {25, 15}, {4, 15}, {30, 15}},
        {crHMiddle, {15, 15}, {3, 15}, {3, 3}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(axis_cursor_hotspot(c.id), c.hot);
        EXPECT_EQ(axis_cursor(c.id).hotSpot(), c.hot);
        const QImage shape = axis_cursor_bitmap(c.id).toImage().convertToFormat(QImage::Format_Mono);
        const QImage mask = axis_cursor_mask(c.id).toImage().convertToFormat(QImage::Format_Mono);
        ASSERT_EQ(shape.size(), QSize(32, 32));
        // The hot spot lies on the black bar.
        EXPECT_EQ(shape.pixelIndex(c.hot), 1) << c.id;
        EXPECT_EQ(shape.pixelIndex(c.black), 1) << c.id;
        EXPECT_EQ(mask.pixelIndex(c.clear), 0) << c.id;
        // A white rim: the mask reaches beyond the black shape.
        int rim = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) rim += mask.pixelIndex(x, y) == 1 && shape.pixelIndex(x, y) == 0;
        EXPECT_GT(rim, 20) << c.id;
    }
}

/// Sets the dialog hook for one test and clears it again.
struct ModalAnswer {
    explicit ModalAnswer(std::function<void(TAxisLimitForm&)> f) { TAxisLimitForm::ModalHook = std::move(f); }
    ~ModalAnswer() { TAxisLimitForm::ModalHook = nullptr; }
};

void type_and_press(TAxisLimitForm& f, const QString& high, const QString& low, bool ok) {
    f.form()->show();
    f.Edit1()->setText(high);
    f.Edit2()->setText(low);
    QTest::mouseClick(ok ? f.Button1() : f.Button2(), Qt::LeftButton);
}

TEST(AxisMouse, LimitsDialogOnDoubleClick) {
    auto axis = make_axis(posleft, -2, 2, 100);
    allow(*axis, true, true, true);
    axis->setAllowDoubleClick(true);
    int changed = 0;
    axis->OnScaleChanged = [&](TAxis*) { ++changed; };
    QString shown_lo, shown_hi;
    {
        ModalAnswer answer([&](TAxisLimitForm& f) {
            shown_lo = f.Edit2()->text();
            shown_hi = f.Edit1()->text();
            type_and_press(f, "0.5", "-0.5", true);
        });
        double_click(*axis, 50);
    }
    EXPECT_EQ(shown_lo, "-2");
    EXPECT_EQ(shown_hi, "2");
    EXPECT_EQ(axis->LoValue(), -0.5);
    EXPECT_EQ(axis->HiValue(), 0.5);
    EXPECT_EQ(changed, 2);  // the change, and the closed dialog
    EXPECT_EQ(axis->mousescroll_state(), 0);

    changed = 0;
    {
        ModalAnswer answer([&](TAxisLimitForm& f) { type_and_press(f, "7", "-7", false); });
        double_click(*axis, 50);
    }
    EXPECT_EQ(axis->HiValue(), 0.5);
    EXPECT_EQ(changed, 1);

    // Letters fall back to the value that was shown.
    changed = 0;
    {
        ModalAnswer answer([&](TAxisLimitForm& f) { type_and_press(f, "abc", "-1", true); });
        double_click(*axis, 50);
    }
    EXPECT_EQ(axis->HiValue(), 0.5);
    EXPECT_EQ(axis->LoValue(), -1);
    EXPECT_EQ(changed, 2);

    // Without the permission nothing beyond Qt's own handling happens.
    axis->setAllowDoubleClick(false);
    bool asked = false;
    changed = 0;
    {
        ModalAnswer answer([&](TAxisLimitForm&) { asked = true; });
        double_click(*axis, 50);
    }
    EXPECT_FALSE(asked);
    EXPECT_EQ(changed, 0);
}

TEST(AxisMouse, LimitsDialogNonPositiveEndOnLogAxisIsReported) {
    QStringList shown;
    set_message_box_hook([&](const QString& text, const QString&, int) {
        shown << text;
        return mb::IDOK;
    });
    auto axis = make_axis(posunder, 10, 1000, 100);
    axis->setLogarithmic(true);
    axis->setAllowDoubleClick(true);
    {
        ModalAnswer answer([&](TAxisLimitForm& f) { type_and_press(f, "1000", "0", true); });
        double_click(*axis, 50);
    }
    set_message_box_hook(nullptr);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0], QStringLiteral("LoValue=0, must be >0 for log scale!"));
}

TEST(AxisMouse, LimitsDialogLayoutAndButtons) {
    TAxis axis;
    TAxisLimitForm& f = *axis.AxisLimitForm();
    EXPECT_EQ(f.form()->windowTitle(), "Axis limits");
    EXPECT_EQ(f.form()->size(), QSize(174, 131));  // client area of a 182 x 165 window
    EXPECT_EQ(f.Label1()->text(), "High value");
    EXPECT_EQ(f.Label2()->text(), "Low value");
    EXPECT_EQ(f.Label1()->pos(), QPoint(8, 4));
    EXPECT_EQ(f.Edit1()->geometry(), QRect(4, 20, 157, 21));
    EXPECT_EQ(f.Label2()->pos(), QPoint(8, 48));
    EXPECT_EQ(f.Edit2()->geometry(), QRect(4, 64, 157, 21));
    EXPECT_EQ(f.Button1()->geometry(), QRect(4, 96, 75, 25));
    EXPECT_EQ(f.Button2()->geometry(), QRect(88, 96, 75, 25));
    EXPECT_EQ(f.Button1()->text(), "&Ok");
    EXPECT_EQ(f.Button2()->text(), "&Cancel");
    EXPECT_TRUE(f.Button1()->isDefault());
    const auto next_tab = [](QWidget* w) {
        do w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));
        return w;
    };
    EXPECT_EQ(next_tab(f.Edit1()), f.Edit2());
    EXPECT_EQ(next_tab(f.Edit2()), f.Button1());
    EXPECT_EQ(next_tab(f.Button1()), f.Button2());
    EXPECT_EQ(f.Edit1()->text(), "High");

    axis.setAxisText("[s]");
    EXPECT_EQ(f.Label1()->text(), "High value [s]");
    EXPECT_EQ(f.Label2()->text(), "Low value [s]");

    f.setloval(0.25);
    f.sethival(1e20);
    EXPECT_EQ(f.Edit2()->text(), "0.25");
    EXPECT_EQ(f.Edit1()->text(), "1E20");
    EXPECT_EQ(f.hival(), 1e20);

    // The real modal loop: Enter presses the default OK button, Escape cancels.
    QTimer::singleShot(0, [&] { QTest::keyClick(f.form(), Qt::Key_Return); });
    EXPECT_TRUE(f.showmodal());
    QTimer::singleShot(0, [&] { QTest::keyClick(f.form(), Qt::Key_Escape); });
    EXPECT_FALSE(f.showmodal());
    QTimer::singleShot(0, [&] { QTest::mouseClick(f.Button2(), Qt::LeftButton); });
    EXPECT_FALSE(f.showmodal());
    QTimer::singleShot(0, [&] { QTest::mouseClick(f.Button1(), Qt::LeftButton); });
    EXPECT_TRUE(f.showmodal());
    EXPECT_FALSE(f.form()->isVisible());
}

}  // namespace
}  // namespace wavrell
