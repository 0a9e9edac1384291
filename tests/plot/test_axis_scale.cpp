// Scale model of the axis: limits, notifications, mappings, marker, sizing.

#include "plot/axis.h"
#include "tests/plot/axis_fixture.h"

#include <QFontMetrics>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace wavrell {
namespace {

using test::make_axis;

TEST(AxisScale, NewAxisDefaults) {
    TAxis axis;
    EXPECT_EQ(axis.LoValue(), 0);
    EXPECT_EQ(axis.HiValue(), 1);
    EXPECT_EQ(axis.width(), 200);
    EXPECT_EQ(axis.height(), 200);
    EXPECT_EQ(axis.MinLoValue(), -1e300);
    EXPECT_EQ(axis.MaxHiValue(), 1e300);
    EXPECT_EQ(axis.MaxValueDifference(), 1e300);
    EXPECT_EQ(axis.MinValueDifference(), 0);
    EXPECT_TRUE(axis.AllowLoScroll());
    EXPECT_TRUE(axis.AllowHiScroll());
    EXPECT_FALSE(axis.AllowMidScroll());
    EXPECT_FALSE(axis.AllowDoubleClick());
    EXPECT_EQ(axis.TickMarkSize(), 5);
    EXPECT_EQ(axis.TickSpaceAim(), 40);
    EXPECT_EQ(axis.Position(), posleft);
}

TEST(AxisScale, LimitsClampReadsAndKeepTheRequestedEnd) {
    TAxis axis;
    axis.setMinLoValue(-3);
    axis.setMinHiValue(-3);
    axis.setMaxLoValue(3);
    axis.setMaxHiValue(3);
    axis.setLoValue(-5);
    EXPECT_EQ(axis.LoValue(), -3);
    EXPECT_EQ(axis.requested_lovalue(), -5);
    // Widening the limit brings back the end that was asked for.
    axis.setMinLoValue(-6);
    EXPECT_EQ(axis.LoValue(), -5);
    // A limit that the stored end violates replaces the stored end.
    axis.setMinLoValue(-4);
    EXPECT_EQ(axis.requested_lovalue(), -4);
    EXPECT_EQ(axis.LoValue(), -4);
}

TEST(AxisScale, DifferenceLimitsUseTheStoredLowEndAndMinimumWins) {
    TAxis axis;
    axis.put_lovalue(0);
    axis.put_hivalue(0.5);
    axis.setMaxHiValue(0.8);
    axis.setMinValueDifference(1);
    EXPECT_EQ(axis.HiValue(), 1);

    // The difference is taken against the requested low end, not the clamped one.
    TAxis b;
    b.setMinLoValue(0);
    b.put_hivalue(10);
    b.put_lovalue(-5);  // reads 0
    b.setMaxValueDifference(8);
    EXPECT_EQ(b.LoValue(), 0);
    // The write made by the limit is effective low end + 8 = 8; the read
    // then caps it at stored low end + 8 = 3.
    EXPECT_EQ(b.requested_hivalue(), 8);
    EXPECT_EQ(b.HiValue(), 3);
}

TEST(AxisScale, IsIntegerRounding) {
    struct Case {
        double lo, hi, minlo;
        double want_lo, want_hi;
    } cases[] = {
        {0, 2.5, -1e300, 0, 2},     // half to even
        {0, 3.5, -1e300, 0, 4},
        {-7, 5, -2.5, -2, 5},      // limit rounded up
        {-0.5, 1.5, -1e300, 0, 2},
    };
    for (const auto& c : cases) {
        TAxis axis;
        axis.setIsInteger(true);
        axis.setMinLoValue(c.minlo);
        axis.put_hivalue(c.hi);
        axis.put_lovalue(c.lo);
        EXPECT_EQ(axis.LoValue(), c.want_lo) << c.lo;
        EXPECT_EQ(axis.HiValue(), c.want_hi) << c.hi;
    }
    // MaxHiValue rounded down; minimum difference rounded up.
    TAxis axis;
    axis.setIsInteger(true);
    axis.put_hivalue(10);
    axis.setMaxHiValue(7.6);
    EXPECT_EQ(axis.HiValue(), 7);
    axis.setMinValueDifference(7.2);  // stored low 0: 0 + 7.2 rounded up
    axis.put_hivalue(3);
    EXPECT_EQ(axis.HiValue(), 8);
}

TEST(AxisScale, NotificationOnWrites) {
    TAxis axis;
    axis.setMinLoValue(-1);
    int calls = 0;
    axis.OnScaleChanged = [&](TAxis* sender) {
        EXPECT_EQ(sender, &axis);
        ++calls;
    };
    axis.setLoValue(0);  // current effective end
    EXPECT_EQ(calls, 0);
    axis.setLoValue(-0.5);
    EXPECT_EQ(calls, 1);
    axis.setMinLoValue(-0.5);
    axis.setLoValue(-2);  // clamped back to the current -0.5: still notifies
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(axis.LoValue(), -0.5);

    calls = 0;
    axis.set_hilovalues(-0.5, 4);
    EXPECT_EQ(calls, 1);
    axis.set_hilovalues(-0.5, 4);
    EXPECT_EQ(calls, 1);
    // A limit write whose own write finds the end unchanged: no notification.
    axis.setHiValue(5);
    calls = 0;
    axis.setMaxHiValue(4.5);
    EXPECT_EQ(axis.HiValue(), 4.5);
    EXPECT_EQ(calls, 0);
    // The stores of the drags never notify.
    axis.put_lovalue(-0.25);
    axis.put_hivalue(3);
    EXPECT_EQ(calls, 0);
}

TEST(AxisScale, HandlerErrorResetsTheGuard) {
    TAxis axis;
    bool fail = true;
    int calls = 0;
    axis.OnScaleChanged = [&](TAxis*) {
        ++calls;
        if (fail) throw EAxisError(QStringLiteral("handler"));
    };
    EXPECT_THROW(axis.setHiValue(2), EAxisError);
    fail = false;
    axis.setHiValue(3);
    EXPECT_EQ(calls, 2);
}

TEST(AxisScale, CoupledAxesEndTheirExchange) {
    TAxis a, b;
    // b cannot follow a all the way, so its copy back would change a again
    // if a's guard did not stop it.
    b.setMaxHiValue(2);
    int a_calls = 0, b_calls = 0;
    a.OnScaleChanged = [&](TAxis* s) {
        ++a_calls;
        b.setLoValue(s->LoValue());
        b.setHiValue(s->HiValue());
    };
    b.OnScaleChanged = [&](TAxis* s) {
        ++b_calls;
        a.setLoValue(s->LoValue());
        a.setHiValue(s->HiValue());
    };
    a.setHiValue(3);
    EXPECT_EQ(a_calls, 1);
    EXPECT_EQ(b_calls, 1);  // only b's high end changed
    EXPECT_EQ(b.HiValue(), 2);
    EXPECT_EQ(a.HiValue(), 2);  // b's write back went through, silently
    // The guard is off again afterwards.
    a.setLoValue(-1);
    EXPECT_EQ(a_calls, 2);
    EXPECT_EQ(b.LoValue(), -1);
}

TEST(AxisScale, PixelExamples) {
    auto under = make_axis(posunder, 0, 1, 101);
    EXPECT_EQ(under->value_to_pixel(0.5), 50);
    EXPECT_EQ(under->value_to_pixel(2), 100);
    EXPECT_EQ(under->value_to_notclippedpixel(2), 200);
    EXPECT_EQ(under->value_to_pixel(-1), 0);
    EXPECT_DOUBLE_EQ(under->value_to_position(2), 1);
    EXPECT_DOUBLE_EQ(under->value_to_notclipped_position(2), 2);

    auto left = make_axis(posleft, 0, 1, 101);
    EXPECT_EQ(left->value_to_pixel(0.25), 75);
    EXPECT_DOUBLE_EQ(left->value_to_position(0.25), 0.75);

    auto rev = make_axis(posleft, -2, 2, 5);
    rev->setReverse(true);
    EXPECT_EQ(rev->pixel_to_value(0), -2);
    EXPECT_EQ(rev->pixel_to_value(4), 2);
    EXPECT_EQ(rev->value_to_pixel(-2), 0);

    // Zero length: clipping ends at -1.
    auto empty = make_axis(posunder, 0, 1, 0);
    EXPECT_EQ(empty->value_to_pixel(0.5), -1);
}

TEST(AxisScale, RoundTripInAllPositions) {
    for (tposition pos : {posleft, posright, posover, posunder}) {
        for (bool reverse : {false, true}) {
            for (bool log : {false, true}) {
                auto axis = make_axis(pos, log ? 10 : -3, log ? 1000 : 7, 157);
                axis->setReverse(reverse);
                axis->setLogarithmic(log);
                const bool high_first = (pos == posleft || pos == posright) != reverse;
                EXPECT_EQ(axis->value_to_pixel(axis->HiValue()), high_first ? 0 : 156);
                EXPECT_EQ(axis->value_to_pixel(axis->LoValue()), high_first ? 156 : 0);
                for (int i = 0; i <= 20; ++i) {
                    const double v = log ? 10 * std::pow(100, i / 20.0) : -3 + i * 0.5;
                    const double back = axis->pixel_to_value(axis->value_to_pixel(v));
                    const double one_pixel = log ? v * (std::pow(100, 1 / 156.0) - 1) : 10 / 156.0;
                    EXPECT_NEAR(back, v, one_pixel) << pos << reverse << log << v;
                }
            }
        }
    }
}

TEST(AxisScale, LogarithmicMapping) {
    auto axis = make_axis(posunder, 10, 1000, 201);
    axis->setLogarithmic(true);
    EXPECT_EQ(axis->value_to_pixel(100), 100);
    EXPECT_NEAR(axis->pixel_to_value(100), 100, 1e-9);
    EXPECT_EQ(axis->value_to_notclipped_position(0), 0);
    EXPECT_EQ(axis->value_to_notclipped_position(-5), 0);
    EXPECT_EQ(axis->value_to_notclippedpixel(0), 0);
}

TEST(AxisScale, EqualEndsMapToTheLowEnd) {
    for (bool log : {false, true}) {
        auto axis = make_axis(posleft, 2, 2, 50);
        axis->setLogarithmic(log);
        for (double v : {-1.0, 2.0, 5.0}) {
            EXPECT_EQ(axis->value_to_notclipped_position(v), 1) << v;
            EXPECT_EQ(axis->value_to_pixel(v), 49) << v;
        }
        for (int p : {0, 25, 49}) EXPECT_EQ(axis->pixel_to_value(p), 2) << p;
    }
    // Overflow inside the mapping gives 0 instead of inf.
    auto wide = make_axis(posunder, -1.7e308, 1.7e308, 100);
    wide->setMinLoValue(-1.7e308);
    wide->setMaxHiValue(1.7e308);
    wide->setMaxValueDifference(std::numeric_limits<double>::infinity());
    wide->set_hilovalues(-1.7e308, 1.7e308);
    EXPECT_EQ(wide->value_to_notclipped_position(0), 0);
    EXPECT_EQ(wide->value_to_notclippedpixel(0), 0);
    EXPECT_EQ(wide->pixel_to_value(50), 0);
}

TEST(AxisScale, LogarithmicScaleRejectsNonPositiveEnds) {
    TAxis axis;  // 0 ... 1
    try {
        axis.setLogarithmic(true);
        FAIL() << "no error";
    } catch (const EAxisError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("LoValue=0, must be >0 for log scale!"));
    }
    EXPECT_FALSE(axis.Logarithmic());

    axis.put_lovalue(0.5);
    axis.put_hivalue(-2);
    try {
        axis.setLogarithmic(true);
        FAIL() << "no error";
    } catch (const EAxisError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("HiValue=-2, must be >0 for log scale!"));
    }
    axis.put_hivalue(8);
    axis.setLogarithmic(true);

    int calls = 0;
    axis.OnScaleChanged = [&](TAxis*) { ++calls; };
    try {
        axis.setLoValue(-0.25);
        FAIL() << "no error";
    } catch (const EAxisError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("LoValue=-0.25, must be >0 for log scale!"));
    }
    // The value stays stored; nothing was notified.
    EXPECT_EQ(axis.requested_lovalue(), -0.25);
    EXPECT_EQ(calls, 0);
}

TEST(AxisScale, MarkerFollowsTheEndsAndIgnoresWritesWhenHiddenOrInHandler) {
    QWidget window;
    auto* axis = new TAxis(&window);  // child: visible flag set before the window shows
    axis->setMarkerValue(0.5);
    EXPECT_EQ(axis->MarkerValue(), 0.5);
    axis->setLoValue(0.7);  // marker pushed up to the low end
    EXPECT_EQ(axis->MarkerValue(), 0.7);
    axis->setHiValue(0.9);
    axis->setMarkerValue(2);
    axis->setHiValue(0.8);  // pushed down to the high end
    EXPECT_EQ(axis->MarkerValue(), 0.8);

    axis->OnScaleChanged = [](TAxis* s) { s->setMarkerValue(0.75); };
    axis->setHiValue(0.85);
    EXPECT_EQ(axis->MarkerValue(), 0.8);

    axis->hide();
    axis->setMarkerValue(0.75);
    EXPECT_EQ(axis->MarkerValue(), 0.8);
}

TEST(AxisScale, PositionWriteIgnoredDuringHandler) {
    TAxis axis;
    axis.OnScaleChanged = [](TAxis* s) { s->setPosition(posunder); };
    axis.setHiValue(2);
    EXPECT_EQ(axis.Position(), posleft);
    axis.setPosition(posunder);
    EXPECT_EQ(axis.Position(), posunder);
}

TEST(AxisScale, Autosize) {
    TAxis axis;
    const QFontMetrics fm(axis.font());
    axis.setAutosize(true);
    EXPECT_EQ(axis.width(), fm.horizontalAdvance(QStringLiteral("12345")) + 5);
    axis.setTickMarkSize(8);
    EXPECT_EQ(axis.width(), fm.horizontalAdvance(QStringLiteral("12345")) + 8);

    TAxis h;
    h.setPosition(posunder);
    QFont big = h.font();
    big.setPixelSize(30);
    h.setAutosize(true);
    h.setFont(big);
    EXPECT_EQ(h.height(), QFontMetrics(big).height() * 4 / 3 + 5);
    EXPECT_EQ(h.width(), 200);
}

}  // namespace
}  // namespace wavrell
