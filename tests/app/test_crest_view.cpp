// The crest factor bars of the main window, checked on their rendered
// pixels: bar heights for a steady sine at several cursor positions, empty
// bars, the allpass bar, the reference lines, the red frame of the played
// file and the click that switches files.
#include "tests/app/window_fixture.h"

#include "workspace/crest_factor.h"

#include <cmath>

namespace wavrell::test {
namespace {

const QColor kRed(255, 0, 0);

class CrestView : public WindowTest {
protected:
    int y_of(double db) { return form->crestaxis->value_to_pixel(db); }
    /// Top row (the black outline) of the coloured bar of box t, looked for
    /// right of the allpass bar; -1 for an empty bar.
    int bar_top(const QImage& img, int t) {
        const int x = img.width() - 4;
        int y = img.height() - 2;
        if (!is(img, x, y, TForm19::linecolors[size_t(t)])) return -1;
        while (y > 1 && !is(img, x, y - 1, Qt::white)) --y;
        return y;
    }
    bool has_colour(const QImage& img, const QColor& c) {
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (is(img, x, y, c)) return true;
        return false;
    }
    /// Expects box t to show an empty bar: neither its colour nor red inside.
    void expect_empty(int t) {
        const QImage img = crest(t);
        EXPECT_FALSE(has_colour(img, TForm19::linecolors[size_t(t)])) << "box " << t;
        EXPECT_FALSE(has_colour(img, kRed)) << "box " << t;
    }
};

TEST_F(CrestView, SteadySineShowsItsCrestFactorOnceSixSecondsAreIn) {
    // 1 kHz at 8 kHz: every period holds the peak; crest 3.01 dB.
    form->load_file(0, sine(QStringLiteral("sine.wav"), 8000, 2, 8.0, 1000, 0.5));
    form->showallpassaction->trigger();
    struct Case {
        double cursor, db, tolerance;
    };
    // Block 1: the empty block 0 counts with weight e^-0.05 in the mean
    // square, 10 log10(1 + e^-0.05) = 2.9 dB more.
    for (const Case& c : {Case{6.0, 3.0, 0.1}, Case{7.55, 3.0, 0.1}, Case{0.15, 5.9, 0.1}}) {
        ws().setCursorpos(c.cursor);
        for (int t : {0, 1}) {
            const TCrestFactor cf = short_term_crest(ws().levels(0)[size_t(t)], c.cursor);
            EXPECT_NEAR(cf.crest, c.db, c.tolerance) << "cursor " << c.cursor;
            EXPECT_NEAR(cf.apcrest, c.db, 1.0) << "cursor " << c.cursor;
            const QImage img = crest(t);
            const int top = bar_top(img, t);
            EXPECT_LE(top, y_of(c.db - c.tolerance)) << "cursor " << c.cursor << " box " << t;
            EXPECT_GE(top, y_of(c.db + c.tolerance)) << "cursor " << c.cursor << " box " << t;
            // The allpass bar stands behind, left of the coloured one.
            EXPECT_TRUE(is(img, 3, img.height() - 3, kRed));
            EXPECT_TRUE(is(img, 3, y_of(cf.apcrest) + 2, kRed));
            EXPECT_FALSE(is(img, 3, y_of(cf.apcrest) - 2, kRed));
        }
    }
    // The reference lines at 10 and 20 dB cross the whole box.
    const QImage img = crest(0);
    for (double db : {10.0, 20.0})
        for (int x = 0; x < img.width(); ++x) EXPECT_TRUE(is(img, x, y_of(db), Qt::black)) << db << " dB x " << x;
}

TEST_F(CrestView, EmptyBarsWithoutBlocks) {
    form->load_file(0, sine(QStringLiteral("mono.wav"), 8000, 1, 8.0, 1000, 0.5));
    form->showallpassaction->trigger();
    ws().setCursorpos(3.0);
    EXPECT_GE(bar_top(crest(0), 0), 0);
    for (int t : {1, 2, 3}) expect_empty(t);  // missing channel, missing file

    // Cursor at 0: block 0 alone, which holds zeros.
    ws().setCursorpos(0);
    expect_empty(0);
    // Six seconds after the end of the 8 s file no block is left.
    ws().setCursorpos(8.0 + 6.05);
    expect_empty(0);
    // Just past the end the last blocks still count (their peaks weighted
    // down: 3.0 dB - 20 log10(e^0.1) = 2.1 dB).
    ws().setCursorpos(8.15);
    const int top = bar_top(crest(0), 0);
    EXPECT_LE(top, y_of(2.0));
    EXPECT_GE(top, y_of(2.2));

    form->Closefile11->trigger();
    ws().setCursorpos(3.0);
    expect_empty(0);
}

TEST_F(CrestView, RawCrestFactorWithoutAllpassBarWhereTheAllpassCannotBeDesigned) {
    // One sample of 16384 in four: crest factor 6.0 dB. At 500 Hz the
    // allpass has no design and the file has no allpass peaks; at 8000 Hz
    // it has both bars.
    std::vector<int16_t> x(500 * 8);
    for (size_t i = 0; i < x.size(); i += 4) x[i] = 16384;
    form->load_file(0, raw_file(QStringLiteral("low.wav"), x, 500, 1));
    ASSERT_FALSE(ws().hasallpass(0));
    form->showallpassaction->trigger();
    ws().setCursorpos(7.0);
    const auto check_bar = [&](int t, bool allpass_bar) {
        SCOPED_TRACE(t);
        const QImage img = crest(t);
        const int top = bar_top(img, t);
        EXPECT_LE(top, y_of(5.7));
        EXPECT_GE(top, y_of(6.3));
        EXPECT_EQ(has_colour(img, kRed), allpass_bar);
    };
    check_bar(0, false);
    // Two loaded files share one rate, so the designable one is loaded
    // alone, into the other slot.
    form->Closefile11->trigger();
    x.resize(8000 * 8);
    for (size_t i = 0; i < x.size(); i += 4) x[i] = 16384;
    form->load_file(1, raw_file(QStringLiteral("high.wav"), x, 8000, 1));
    ASSERT_TRUE(ws().hasallpass(1));
    check_bar(2, true);
}

TEST_F(CrestView, PlayedFileHasRedFramesAndAClickSwitchesFiles) {
    form->load_file(0, sine(QStringLiteral("a.wav"), 8000, 2, 2.0, 1000, 0.5));
    form->load_file(1, sine(QStringLiteral("b.wav"), 8000, 2, 2.0, 1000, 0.5));
    ws().setCursorpos(1.0);
    auto frame_is_red = [&](int t) {
        const QImage img = crest(t);
        const bool red = is(img, 0, img.height() / 2, kRed);
        EXPECT_EQ(is(img, img.width() - 1, 1, kRed), red) << "box " << t;
        EXPECT_TRUE(red || is(img, 0, img.height() / 2, Qt::black)) << "box " << t;
        return red;
    };
    for (int t = 0; t < 4; ++t) EXPECT_FALSE(frame_is_red(t));  // not playing

    form->playaction->setChecked(true);  // the check mark alone, no player
    ASSERT_EQ(ws().wavplayno(), 0);
    for (int t = 0; t < 4; ++t) EXPECT_EQ(frame_is_red(t), t < 2);

    QTest::mouseClick(form->crestpaint[3], Qt::LeftButton);
    EXPECT_EQ(ws().wavplayno(), 1);
    EXPECT_TRUE(form->playfile2action->isChecked());
    for (int t = 0; t < 4; ++t) EXPECT_EQ(frame_is_red(t), t >= 2);
    QTest::mouseClick(form->crestpaint[0], Qt::LeftButton);
    EXPECT_EQ(ws().wavplayno(), 0);

    // A file that is not loaded is not switched to.
    form->Closefile21->trigger();
    QTest::mouseClick(form->crestpaint[2], Qt::LeftButton);
    EXPECT_EQ(ws().wavplayno(), 0);
    form->playaction->setChecked(false);
}

}  // namespace
}  // namespace wavrell::test
