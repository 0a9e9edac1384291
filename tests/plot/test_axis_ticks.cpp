// Tick set of the axis: linear, logarithmic and musical ticks, label rules
// and the thinning of logarithmic labels.

#include "common/number_text.h"
#include "plot/axis.h"
#include "tests/plot/axis_fixture.h"

#include <QFontMetrics>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace wavrell {
namespace {

using test::make_axis;

struct Tick {
    double value;
    int pixel;
    QString label;
};

std::vector<Tick> ticks_of(TAxis& axis) {
    std::vector<Tick> out;
    const int n = axis.nTickMarks();
    for (int i = 0; i < n; ++i) {
        const QString label = axis.tickmark_text(i);  // rebuilds the set
        out.push_back({axis.tickmark_value(i), axis.tickmark_position(i), label});
    }
    return out;
}

TEST(AxisTicks, LinearVerticalWithTickAboveTheHighEnd) {
    auto axis = make_axis(posleft, -2, 2, 74);
    axis->setTickSpaceAim(21);
    const auto ticks = ticks_of(*axis);
    const std::vector<double> values = {-2, -1, 0, 1, 2, 3};
    const QStringList labels = {"-2", "-1", "0", "1", "2", "3"};
    ASSERT_EQ(ticks.size(), values.size());
    for (size_t i = 0; i < ticks.size(); ++i) {
        EXPECT_DOUBLE_EQ(ticks[i].value, values[i]);
        EXPECT_EQ(ticks[i].label, labels[i]);
        EXPECT_EQ(ticks[i].pixel, axis->value_to_pixel(values[i]));
    }
    EXPECT_EQ(ticks[0].pixel, 73);
    EXPECT_EQ(ticks[4].pixel, 0);
    EXPECT_EQ(ticks[5].pixel, 0);  // clipped onto the end pixel
}

TEST(AxisTicks, LinearStepTable) {
    struct Case {
        tposition pos;
        double lo, hi;
        int n, aim;
        std::vector<double> values;
    } cases[] = {
        {posunder, 0, 30, 200, 40, {0, 5, 10, 15, 20, 25, 30, 35}},
        // Aim 0 and an axis without pixels take a preliminary count of 3.
        {posleft, -2, 2, 300, 0, {-2, -1, 0, 1, 2, 3}},
        {posleft, -2, 2, 0, 40, {-2, -1, 0, 1, 2, 3}},
        // First tick is the smallest multiple of the step not below the low end.
        {posunder, 0.3, 2.1, 200, 40, {0.5, 1.0, 1.5, 2.0, 2.5}},
        {posunder, -7.5, -2.5, 200, 40, {-7, -6, -5, -4, -3, -2, -1}},
        // Equal ends: step 0, three ticks of value 0.
        {posleft, 5, 5, 200, 40, {0, 0, 0}},
        // A short axis falls back to step 1; ten million ticks for a wide
        // range count as a failed count of 3 instead of exhausting memory.
        {posleft, 0, 1e7, 30, 40, {0, 1, 2}},
        {posleft, 0, 20, 30, 40, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21}},
    };
    for (const auto& c : cases) {
        auto axis = make_axis(c.pos, c.lo, c.hi, c.n);
        axis->setTickSpaceAim(c.aim);
        const auto ticks = ticks_of(*axis);
        ASSERT_EQ(ticks.size(), c.values.size()) << c.lo << " " << c.hi << " n=" << c.n;
        for (size_t i = 0; i < ticks.size(); ++i) EXPECT_NEAR(ticks[i].value, c.values[i], 1e-12);
    }
    auto same = make_axis(posleft, 5, 5, 200);
    for (const auto& t : ticks_of(*same)) {
        EXPECT_EQ(t.pixel, 199);
        EXPECT_EQ(t.label, "0");
    }
}

TEST(AxisTicks, TimeLabelsForRangesBeyondAMinute) {
    struct Case {
        double lo, hi;
        bool time;
        QStringList labels;
    } cases[] = {
        // Clock steps: 2 min, 15 s, 15 min; m:ss below an hour, h:mm:ss from
        // an hour on; a sign before negative times.
        {0, 600, true, {"0:00", "2:00", "4:00", "6:00", "8:00", "10:00"}},
        {30, 150, true, {"0:30", "0:45", "1:00", "1:15", "1:30", "1:45", "2:00", "2:15", "2:30"}},
        {0, 7200, true, {"0:00:00", "0:15:00", "0:30:00", "0:45:00", "1:00:00", "1:15:00", "1:30:00", "1:45:00",
                         "2:00:00"}},
        {-30, 60.5, true, {"-0:30", "-0:15", "0:00", "0:15", "0:30", "0:45", "1:00"}},
        // A minute or less, or the option off: the plain labels of seconds
        // (as an axis without the option has them).
        {0, 60, true, {}},
        {0, 600, false, {}},
    };
    const auto labels_of = [](double lo, double hi, bool time) {
        auto axis = make_axis(posunder, lo, hi, 500);
        axis->setTickSpaceAim(50);
        axis->setTimeLabels(time);
        EXPECT_EQ(axis->time_labels_shown(), time && hi - lo > 60);
        QStringList labels;
        for (const auto& t : ticks_of(*axis)) labels << t.label;
        return labels;
    };
    for (const auto& c : cases) {
        const QStringList labels = labels_of(c.lo, c.hi, c.time);
        if (c.labels.isEmpty()) {
            EXPECT_EQ(labels, labels_of(c.lo, c.hi, false));
            EXPECT_FALSE(labels.join(QString()).contains(QLatin1Char(':')));
        } else {
            EXPECT_EQ(labels, c.labels) << c.lo << " " << c.hi;
        }
    }
}

TEST(AxisTicks, LabelZeroRuleIsRelativeToTheStoredRange) {
    // Stored ends 0 ... 2, but the high end is held at 5e-5: a tick of 1e-5
    // lies below 1e-5 of the stored range and reads "0", as rounding residue
    // of a zero tick would.
    auto axis = make_axis(posunder, 0, 2, 200);
    axis->setMaxHiValue(5e-5);
    axis->setHiValue(2);  // stored 2, effective 5e-5
    ASSERT_EQ(axis->requested_hivalue(), 2);
    const auto ticks = ticks_of(*axis);
    ASSERT_GE(ticks.size(), 4u);
    EXPECT_NEAR(ticks[1].value, 1e-5, 1e-15);
    EXPECT_EQ(ticks[0].label, "0");
    EXPECT_EQ(ticks[1].label, "0");
    EXPECT_EQ(ticks[3].label, "3E-5");
    // A full range keeps ordinary texts, with significant digits only.
    auto plain = make_axis(posunder, 0, 0.3, 200);
    plain->setTickSpaceAim(20);
    for (const auto& t : ticks_of(*plain)) EXPECT_EQ(t.label, significant_text(8, t.value));
    EXPECT_EQ(ticks_of(*plain)[3].label, "0.06");
}

TEST(AxisTicks, LogarithmicRangeOfFactorFourOrLessUsesLinearTicks) {
    auto axis = make_axis(posunder, 10, 30, 200);
    axis->setLogarithmic(true);
    const auto ticks = ticks_of(*axis);
    const std::vector<double> values = {10, 15, 20, 25, 30, 35};
    ASSERT_EQ(ticks.size(), values.size());
    for (size_t i = 0; i < ticks.size(); ++i) {
        EXPECT_DOUBLE_EQ(ticks[i].value, values[i]);
        EXPECT_EQ(ticks[i].pixel, axis->value_to_pixel(values[i]));
    }
    EXPECT_EQ(ticks[1].pixel, 73);  // log10(1.5) / log10(3) * 199 = 73.4
}

/// Leading nonzero digit's place in the priority order.
int digit_rank(const QString& label) {
    static const QString order = QStringLiteral("125348679");
    for (QChar c : label)
        if (c >= '1' && c <= '9') return order.indexOf(c);
    return 99;
}

int note_rank(double freq) {
    static const int order[12] = {9, 0, 2, 4, 5, 7, 11, 1, 3, 6, 8, 10};
    const int cls = static_cast<int>(std::nearbyint(freq_to_note(freq) + 120)) % 12;
    for (int k = 0; k < 12; ++k)
        if (order[k] == cls) return k;
    return 99;
}

/// Checks the thinned labels against the unthinned ones: kept labels never
/// overlap, and each dropped label touches a label (or bare tick) of equal
/// or higher priority.
void check_thinning(TAxis& axis, const QStringList& full, const std::function<int(int)>& rank, int margin) {
    const auto ticks = ticks_of(axis);
    const QFontMetrics fm(axis.font());
    const int n = axis.axis_length();
    const auto clampn = [n](int x) { return std::min(std::max(x, 0), n - 1); };
    const auto mark = [&](const QString& l) { return fm.horizontalAdvance(l) / 2; };
    const auto test = [&](const QString& l) { return (axis.is_vertical() ? fm.height() : mark(l) * 2) / 2; };
    ASSERT_EQ(ticks.size(), size_t(full.size()));
    for (size_t i = 0; i < ticks.size(); ++i) {
        const auto& a = ticks[i];
        if (!a.label.isEmpty()) {
            EXPECT_EQ(a.label, full[i]);
            // Whichever of two kept labels came later, its test span missed
            // the span the other had claimed.
            for (size_t j = i + 1; j < ticks.size(); ++j) {
                const auto& b = ticks[j];
                if (b.label.isEmpty()) continue;
                const int dist = std::abs(a.pixel - b.pixel);
                const int need = std::min(mark(a.label) + test(b.label), mark(b.label) + test(a.label)) + margin;
                EXPECT_GT(dist, need) << a.label.toStdString() << " overlaps " << b.label.toStdString();
            }
            continue;
        }
        // Dropped: something of equal or higher priority claimed its span.
        // The test span is half the text height on a vertical axis; the
        // claimed span is half the text width on both.
        const int h = test(full[i]);
        const int t0 = clampn(a.pixel - h - margin), t1 = clampn(a.pixel + h + margin);
        bool blocked = false;
        for (size_t j = 0; j < ticks.size() && !blocked; ++j) {
            if (j == i || rank(int(j)) > rank(int(i))) continue;
            const int w = fm.horizontalAdvance(ticks[j].label) / 2;
            blocked = clampn(ticks[j].pixel - w) <= t1 && clampn(ticks[j].pixel + w) >= t0;
        }
        EXPECT_TRUE(blocked) << "label " << full[i].toStdString() << " dropped without cause";
    }
}

TEST(AxisTicks, DecadeTicksAndLabelPriority) {
    auto wide = make_axis(posunder, 100, 10000, 4000);
    wide->setLogarithmic(true);
    auto ticks = ticks_of(*wide);
    std::vector<double> values;
    for (double d : {100.0, 1000.0})
        for (int k = 2; k <= 10; ++k) values.push_back(k * d);
    values.push_back(20000);
    ASSERT_EQ(ticks.size(), 19u);
    QStringList full;
    for (size_t i = 0; i < ticks.size(); ++i) {
        EXPECT_NEAR(ticks[i].value, values[i], 1e-9 * values[i]);
        EXPECT_EQ(ticks[i].pixel, wide->value_to_notclippedpixel(values[i]));
        full << significant_text(8, values[i]);
    }
    EXPECT_EQ(full[0], "200");
    EXPECT_GT(ticks.back().pixel, 3999);  // the tick beyond the end is not clipped

    for (int n : {150, 300, 600}) {
        auto axis = make_axis(posunder, 100, 10000, n);
        axis->setLogarithmic(true);
        const auto thin = ticks_of(*axis);
        EXPECT_EQ(thin[8].label, "1000") << n;   // digit 1 claims its room first
        EXPECT_EQ(thin[17].label, "10000") << n;
        EXPECT_EQ(thin[18].label, "") << n;      // beyond the end, on 10000's pixel
        check_thinning(*axis, full, [&](int i) { return digit_rank(full[i]); }, 1);
    }
    auto vertical = make_axis(posleft, 100, 10000, 200);
    vertical->setLogarithmic(true);
    EXPECT_EQ(vertical->tickmark_text(8), "1000");
    check_thinning(*vertical, full, [&](int i) { return digit_rank(full[i]); }, 1);
}

TEST(AxisTicks, MusicalTicksAtNaturalNotes) {
    const QStringList names = {"B4", "C5", "D5", "E5", "F5", "G5", "A5", "B5", "C6"};
    const std::vector<int> notes = {71, 72, 74, 76, 77, 79, 81, 83, 84};
    auto wide = make_axis(posunder, 440, 1000, 800);
    wide->setLogarithmic(true);
    wide->setMusicScale(true);
    const auto ticks = ticks_of(*wide);
    ASSERT_EQ(ticks.size(), 9u);
    for (size_t i = 0; i < ticks.size(); ++i) {
        EXPECT_NEAR(ticks[i].value, note_to_freq(notes[i]), 1e-9);
        EXPECT_EQ(ticks[i].label, names[i]);
    }

    // Musical ticks also on a range of less than a factor 4.
    for (int n : {60, 120, 250}) {
        auto axis = make_axis(posunder, 440, 1000, n);
        axis->setLogarithmic(true);
        axis->setMusicScale(true);
        EXPECT_EQ(axis->tickmark_text(6), "A5") << n;  // A is placed first
        const auto thin = ticks_of(*axis);
        check_thinning(*axis, names, [&](int i) { return note_rank(thin[i].value); }, 0);
    }
}

TEST(AxisTicks, TickIndexOutOfRange) {
    auto axis = make_axis(posleft, -2, 2, 74);
    axis->setTickSpaceAim(21);
    for (int i : {-1, 6}) {
        try {
            axis->tickmark_text(i);
            FAIL() << "no error for " << i;
        } catch (const EAxisError& e) {
            EXPECT_EQ(e.message(), QStringLiteral("Tickmark index out of range:") + QString::number(i));
        }
    }
}

TEST(AxisTicks, SetNTickmarks) {
    TAxis axis;
    axis.set_ntickmarks(5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(axis.tickmark_value(i), 0);
        EXPECT_EQ(axis.tickmark_position(i), 0);
    }
    // Every public read rebuilds the set from the ends first.
    EXPECT_EQ(axis.nTickMarks(), 7);  // 0 ... 1 on 200 pixels: 0, 0.2, ..., 1.2
    EXPECT_DOUBLE_EQ(axis.tickmark_value(6), 1.2);
}

}  // namespace
}  // namespace wavrell
