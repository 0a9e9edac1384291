// Painting of the axis rendered offscreen: tick lines and labels land on
// the computed pixels, labels that do not fit are left out, the marker line
// is drawn inverted.

#include "plot/axis.h"
#include "tests/plot/axis_fixture.h"

#include <QFontMetrics>
#include <QImage>

#include <gtest/gtest.h>

#include <vector>

namespace wavrell {
namespace {

using test::make_axis;

bool dark(const QImage& img, int x, int y) { return qGray(img.pixel(x, y)) < 128; }

struct Box {
    QRect rect;
    bool needs_ink;
};

/// Every dark pixel lies in one of the boxes, and every box that needs ink
/// has some.
void expect_ink_only_in(const QImage& img, const std::vector<Box>& boxes) {
    std::vector<int> ink(boxes.size(), 0);
    int stray = 0;
    QPoint first_stray;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            if (!dark(img, x, y)) continue;
            bool inside = false;
            for (size_t i = 0; i < boxes.size(); ++i)
                if (boxes[i].rect.contains(x, y)) {
                    ++ink[i];
                    inside = true;
                }
            if (!inside && stray++ == 0) first_stray = QPoint(x, y);
        }
    EXPECT_EQ(stray, 0) << "first stray ink at " << first_stray.x() << "," << first_stray.y();
    for (size_t i = 0; i < boxes.size(); ++i)
        if (boxes[i].needs_ink) {
            EXPECT_GT(ink[i], 0) << "box " << i;
        }
}

QImage render(TAxis& axis) {
    return axis.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

TEST(AxisPaint, VerticalTickLinesAndLabels) {
    for (tposition pos : {posleft, posright}) {
        auto axis = make_axis(pos, -2, 2, 160);
        axis->resize(60, 160);
        axis->setTickSpaceAim(21);
        axis->setBackgroundColor(Qt::white);
        const QImage img = render(*axis);
        const QFontMetrics fm(axis->font());
        const int th = fm.height(), tms = axis->TickMarkSize();
        const int a = pos == posleft ? 60 - tms : 0;
        std::vector<Box> boxes;
        QStringList drawn;
        for (int i = 0; i < axis->nTickMarks(); ++i) {
            const int p = axis->tickmark_position(i);
            EXPECT_EQ(p, axis->value_to_pixel(axis->tickmark_value(i)));
            // The tick line: TickMarkSize pixels on the side facing the plot.
            for (int x = a; x < a + tms; ++x) EXPECT_TRUE(dark(img, x, p)) << pos << " tick " << i;
            EXPECT_FALSE(dark(img, pos == posleft ? a - 1 : a + tms, p));
            boxes.push_back({QRect(a, p, tms, 1), true});
            const QString label = axis->tickmark_text(i);
            const int y = p - th / 2;
            if (y >= 0 && p + th / 2 < 160) {
                const int w = fm.horizontalAdvance(label);
                const int x = pos == posright ? tms + 1 : a - tms - w;
                boxes.push_back({QRect(x - 1, y, w + 2, th), true});
                drawn << label;
            }
        }
        // -2 at the bottom pixel and 2, 2.5 at the top pixel do not fit.
        EXPECT_EQ(drawn, QStringList({"-1.5", "-1", "-0.5", "0", "0.5", "1", "1.5"})) << pos;
        expect_ink_only_in(img, boxes);
    }
}

TEST(AxisPaint, HorizontalLabelsStopBeforeTheCaption) {
    for (tposition pos : {posunder, posover}) {
        auto axis = make_axis(pos, 0, 30, 240);
        axis->resize(240, 40);
        axis->setAxisText("[s]");
        axis->setBackgroundColor(Qt::white);
        const QImage img = render(*axis);
        const QFontMetrics fm(axis->font());
        const int th = fm.height(), tms = axis->TickMarkSize();
        const int a = pos == posover ? 40 - tms : 0;
        const int row = pos == posover ? a - th : a + tms;
        const int caption_w = fm.horizontalAdvance("[s]");
        std::vector<Box> boxes = {{QRect(240 - caption_w - 1, row, caption_w + 1, th), true}};
        QStringList drawn;
        for (int i = 0; i < axis->nTickMarks(); ++i) {
            const int p = axis->tickmark_position(i);
            for (int y = a; y < a + tms; ++y) EXPECT_TRUE(dark(img, p, y)) << pos << " tick " << i;
            boxes.push_back({QRect(p, a, 1, tms), true});
            const QString label = axis->tickmark_text(i);
            const int w = fm.horizontalAdvance(label);
            if (p - w / 2 >= 0 && p + w / 2 < 240 - caption_w) {
                boxes.push_back({QRect(p - w / 2 - 1, row, w + 2, th), true});
                drawn << label;
            }
        }
        // "0" sits half outside the left end; "30" and "35" reach the caption.
        EXPECT_EQ(drawn, QStringList({"5", "10", "15", "20", "25"})) << pos;
        expect_ink_only_in(img, boxes);
    }
}

TEST(AxisPaint, MarkerLineIsInverted) {
    auto axis = make_axis(posleft, -2, 2, 160);
    axis->resize(60, 160);
    axis->setTickSpaceAim(21);
    axis->setBackgroundColor(Qt::white);
    axis->setMarkerValue(0);
    axis->setMarkerVisible(true);
    const QImage img = render(*axis);
    EXPECT_TRUE(axis->marker_is_drawn());
    const int p = axis->value_to_pixel(0);
    const int tms = axis->TickMarkSize();
    EXPECT_TRUE(dark(img, 0, p));             // background turned black
    EXPECT_FALSE(dark(img, 60 - tms, p));     // the tick line turned white
    EXPECT_FALSE(dark(img, 59, p));
    EXPECT_FALSE(dark(img, 0, p + 1));

    // A marker write repaints the line at its new place only.
    axis->setMarkerValue(1);
    const QImage moved = render(*axis);
    EXPECT_FALSE(dark(moved, 0, p));
    EXPECT_TRUE(dark(moved, 0, axis->value_to_pixel(1)));
}

}  // namespace
}  // namespace wavrell
