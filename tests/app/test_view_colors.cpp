// The waveform and crest factor boxes in the colours of the palette: on a
// dark palette the lanes are dark with light traces, cursor and loop band;
// on the light one the traces keep their colours.
#include "tests/app/window_fixture.h"

#include "app/demo_recordings.h"
#include "app/view_colors.h"

#include <QMenuBar>

namespace wavrell::test {
namespace {

QPalette dark_palette() {
    QPalette p;
    const QColor window(0x2B, 0x2B, 0x2B), base(0x1E, 0x1E, 0x1E), text(0xE6, 0xE6, 0xE6);
    for (auto role : {QPalette::Window, QPalette::Button}) p.setColor(role, window);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) p.setColor(role, text);
    p.setColor(QPalette::Highlight, QColor(0x3D, 0x8E, 0xE6));
    p.setColor(QPalette::HighlightedText, Qt::white);
    return p;
}

/// How far apart two colours are in lightness (0 … 255).
int contrast(const QColor& a, const QColor& b) { return std::abs(a.lightness() - b.lightness()); }

class ViewColors : public WindowTest {};

TEST_F(ViewColors, DarkPaletteGivesDarkLanesWithLegibleTraces) {
    form->setPalette(dark_palette());
    form->load_file(0, sine(QStringLiteral("a.wav"), 8000, 2, 2, 50, 0.5));
    form->load_file(1, sine(QStringLiteral("b.wav"), 8000, 2, 2, 50, 0.25));
    form->setLoop(0.5, 1.0);
    ws().setCursorpos(1.5);
    QApplication::processEvents();
    const QPalette p = dark_palette();
    const TViewColors colors(p);
    ASSERT_TRUE(colors.dark);

    for (int t = 0; t < 4; ++t) {
        SCOPED_TRACE(t);
        const QImage img = box(t);
        const int W = img.width(), H = img.height();
        // The box is drawn on the base colour, framed in the text colour.
        EXPECT_TRUE(is(img, W - 3, 2, p.color(QPalette::Base)));
        EXPECT_TRUE(is(img, 0, H / 2 - 1, p.color(QPalette::Text)) || is(img, W - 1, H / 2 - 1, p.color(QPalette::Text)));
        // Each box has its trace, in a colour that stands out from the base.
        const QColor trace = colors.trace(t);
        EXPECT_GT(contrast(trace, p.color(QPalette::Base)), 80) << trace.name().toStdString();
        const int x = form->xaxis->value_to_pixel(1.25);
        EXPECT_FALSE(rows_of(img, x, trace).empty());
        // The cursor in the text colour, the loop's edges in the highlight.
        const int cx = form->xaxis->value_to_pixel(1.5);
        EXPECT_TRUE(is(img, cx, 2, p.color(QPalette::Text)));
        EXPECT_TRUE(is(img, form->xaxis->value_to_pixel(0.5), 2, p.color(QPalette::Highlight)));
        // Inside the loop band the base shows through its tint: still dark.
        const QColor band(img.pixel(form->xaxis->value_to_pixel(0.75), 2));
        EXPECT_LT(band.lightness(), 100) << band.name().toStdString();
        EXPECT_NE(band, p.color(QPalette::Base));
    }
    // The crest factor bars: dark box, bar in the lane's trace colour.
    const QImage bar = crest(0);
    EXPECT_TRUE(is(bar, 3, 3, p.color(QPalette::Base)));
    EXPECT_TRUE(is(bar, bar.width() / 2, bar.height() - 3, colors.trace(0)));
    // The axes on the button colour.
    const QImage axis = form->xaxis->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_TRUE(is(axis, axis.width() - 2, axis.height() - 2, p.color(QPalette::Button)));

    // A picture of the window with the demo recordings for the README,
    // when asked for.
    const QString shots = qEnvironmentVariable("WAVRELL_SCREENSHOT_DIR");
    if (!shots.isEmpty()) {
        const QStringList demo = find_demo_recordings(QStringLiteral(WAVRELL_BINARY_DIR "/wavrell"));
        ASSERT_EQ(demo.size(), 2);
        // At their own rate, not converted to that of the files above.
        form->Closefile21->trigger();
        form->Closefile11->trigger();
        form->load_file(0, demo[0]);
        form->load_file(1, demo[1]);
        form->setLoop(6, 8);
        ws().setCursorpos(10);
        QApplication::processEvents();
        EXPECT_TRUE(form->grab().save(shots + QStringLiteral("/dark-palette.png")));
    }
}

TEST_F(ViewColors, LightPaletteKeepsTheTraceColours) {
    const TViewColors colors(form->PaintBox[0]->palette());
    ASSERT_FALSE(colors.dark);
    for (int t = 0; t < 4; ++t) EXPECT_EQ(colors.trace(t), TForm19::linecolors[size_t(t)]);
    form->load_file(0, sine(QStringLiteral("a.wav"), 8000, 1, 2, 50, 0.5));
    const QImage img = box(0);
    EXPECT_TRUE(is(img, img.width() - 3, 2, form->PaintBox[0]->palette().color(QPalette::Base)));
    EXPECT_FALSE(rows_of(img, img.width() / 2, TForm19::linecolors[0]).empty());
}

}  // namespace
}  // namespace wavrell::test
