// The waveform boxes of the main window, checked on their rendered pixels:
// traces against the samples sox wrote, empty boxes, the time axis fit, the
// coupling of each file's vertical axes, the cursor and the mouse.
#include "tests/app/window_fixture.h"

#include "dsp/filter_section.h"
#include "plot/axis_limit_form.h"
#include "workspace/error_summaries.h"

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSemaphore>

#include <algorithm>
#include <cmath>

namespace wavrell::test {
namespace {

class WaveformView : public WindowTest {
protected:
    /// Sample index at the left edge of column x, as the trace computes it.
    int64_t edge(int x, double fs) { return int64_t(std::nearbyint(fs * form->xaxis->pixel_to_value(x))); }
    int y_of(int t, double v) { return form->yaxis[size_t(t)]->value_to_pixel(v); }
    /// Trace pixels of box t over all columns: topmost and lowest row.
    std::pair<int, int> trace_extent(const QImage& img, int t) {
        int top = img.height(), bottom = -1;
        for (int x = 0; x < img.width(); ++x)
            for (int y : rows_of(img, x, TForm19::linecolors[size_t(t)])) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        return {top, bottom};
    }
    bool dotted_row(const QImage& img, int y) {
        int black = 0;
        for (int x = 1; x < img.width() - 1; ++x) black += is(img, x, y, Qt::black);
        return black > (img.width() - 2) / 5 && black < (img.width() - 2) * 3 / 4;
    }
    /// Only the white area, the black frame and the two dotted full-scale
    /// lines (the cursor at time 0 lies on the frame column).
    void expect_empty_box(int t) {
        const QImage img = box(t);
        const int W = img.width(), H = img.height();
        const int y1 = y_of(t, 1.0), ym1 = y_of(t, -1.0);
        int wrong = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const bool frame = x == 0 || y == 0 || x == W - 1 || y == H - 1;
                if (frame) wrong += !is(img, x, y, Qt::black);
                else if (y == y1 || y == ym1) wrong += !is(img, x, y, Qt::black) && !is(img, x, y, Qt::white);
                else wrong += !is(img, x, y, Qt::white);
            }
        EXPECT_EQ(wrong, 0) << "box " << t;
        EXPECT_TRUE(dotted_row(img, y1)) << "box " << t;
        EXPECT_TRUE(dotted_row(img, ym1)) << "box " << t;
    }
};

TEST_F(WaveformView, NormalizedFullScaleFileTouchesTheDottedLine) {
    const QString f = sine(QStringLiteral("half.wav"), 8000, 1, 1.0, 1000, 0.5);
    form->load_file(0, f);
    ASSERT_TRUE(ws().normalize());
    // Which side reaches full scale after normalization: the sign of the
    // largest sample.
    const auto& s = ws().wav(0)->samples()[0];
    const int16_t extreme = *std::max_element(s.begin(), s.end(), [](int16_t a, int16_t b) {
        return std::abs(int(a)) < std::abs(int(b));
    });
    auto [top, bottom] = trace_extent(box(0), 0);
    if (extreme > 0) {
        EXPECT_EQ(top, y_of(0, 1.0));
        EXPECT_LE(bottom, y_of(0, -1.0));
    } else {
        EXPECT_EQ(bottom, y_of(0, -1.0));
        EXPECT_GE(top, y_of(0, 1.0));
    }

    // Without normalization the same file stays at half scale.
    form->normalizeaction->trigger();
    ASSERT_FALSE(ws().normalize());
    std::tie(top, bottom) = trace_extent(box(0), 0);
    EXPECT_NEAR(top, y_of(0, 0.5), 1);
    EXPECT_NEAR(bottom, y_of(0, -0.5), 1);
}

TEST_F(WaveformView, MissingChannelOrFileShowsTheEmptyBox) {
    form->load_file(0, sine(QStringLiteral("mono.wav"), 8000, 1, 1.0, 440, 0.5));
    EXPECT_FALSE(rows_of(box(0), box(0).width() / 2, TForm19::linecolors[0]).empty());
    for (int t : {1, 2, 3}) expect_empty_box(t);
    form->Closefile11->trigger();
    expect_empty_box(0);
}

TEST_F(WaveformView, SampleSpanningColumnsDrawsOnePixelPerColumn) {
    std::vector<int16_t> ramp(8000);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = int16_t(int(i % 50) * 500 - 12000);
    form->load_file(0, raw_file(QStringLiteral("ramp.wav"), ramp, 8000, 1));
    form->normalizeaction->trigger();  // factor 1
    // 40 samples over the whole box: each spans about a dozen columns.
    form->xaxis->set_hilovalues(0.1, 0.105);
    const QImage img = box(0);
    const double fs = 8000;
    int single = 0;
    for (int x = 1; x < img.width() - 1; ++x) {
        const int64_t j = edge(x - 1, fs), e = edge(x, fs);
        const std::vector<int> rows = rows_of(img, x, TForm19::linecolors[0]);
        ASSERT_FALSE(rows.empty()) << "column " << x;
        int16_t lo = ramp[size_t(j)], hi = lo;
        for (int64_t i = j; i <= e; ++i) {
            lo = std::min(lo, ramp[size_t(i)]);
            hi = std::max(hi, ramp[size_t(i)]);
        }
        EXPECT_EQ(rows.front(), y_of(0, hi / 32768.0)) << "column " << x;
        EXPECT_EQ(rows.back(), y_of(0, lo / 32768.0)) << "column " << x;
        EXPECT_EQ(int(rows.size()), rows.back() - rows.front() + 1) << "column " << x;
        if (j == e) {
            ++single;
            EXPECT_EQ(rows.size(), 1u) << "column " << x;
        }
    }
    EXPECT_GT(single, img.width() / 2);
}

TEST_F(WaveformView, ColumnsOutsideTheFileStayEmpty) {
    form->load_file(0, sine(QStringLiteral("one.wav"), 8000, 1, 1.0, 440, 0.5));
    const int64_t n = ws().wav(0)->nsamples();
    ASSERT_EQ(n, 8000);
    // Before time 0 and past the end of the file (the limits opened first).
    form->xaxis->setMinLoValue(-1);
    form->xaxis->setMaxHiValue(2);
    for (auto [lo, hi] : {std::pair{-0.5, 0.5}, std::pair{0.6, 1.6}}) {
        form->xaxis->set_hilovalues(lo, hi);
        const QImage img = box(0);
        EXPECT_TRUE(rows_of(img, 0, TForm19::linecolors[0]).empty());
        int drawn = 0, empty = 0;
        for (int x = 1; x < img.width() - 1; ++x) {
            const int64_t j = edge(x - 1, 8000), e = edge(x, 8000);
            const bool inside = j >= 0 && e <= n - 1;
            const bool has = !rows_of(img, x, TForm19::linecolors[0]).empty();
            EXPECT_EQ(has, inside) << lo << " … " << hi << " column " << x;
            (inside ? drawn : empty) += 1;
        }
        EXPECT_GT(drawn, 100);
        EXPECT_GT(empty, 100);
    }
}

TEST_F(WaveformView, TimeAxisFitsTheLongerFileAndItsLimits) {
    TAxis& x = *form->xaxis;
    form->load_file(0, sine(QStringLiteral("short.wav"), 8000, 1, 0.5, 440, 0.5));
    EXPECT_EQ(x.LoValue(), 0);
    EXPECT_EQ(x.HiValue(), 1);  // at least one second

    x.set_hilovalues(0.2, 0.3);
    form->load_file(1, sine(QStringLiteral("long.wav"), 8000, 1, 2.5, 440, 0.5));
    EXPECT_EQ(x.LoValue(), 0);
    EXPECT_DOUBLE_EQ(x.HiValue(), 2.5);
    x.setLoValue(-1);
    x.setHiValue(4);
    EXPECT_EQ(x.LoValue(), 0);
    EXPECT_DOUBLE_EQ(x.HiValue(), 2.5);

    form->Closefile21->trigger();
    EXPECT_EQ(x.LoValue(), 0);
    EXPECT_EQ(x.HiValue(), 1);
}

TEST_F(WaveformView, ErrorTraceWithoutNormalizationIsTheDitherAlone) {
    form->load_file(0, sine(QStringLiteral("err.wav"), 8000, 2, 1.0, 440, 0.7));
    form->normalizeaction->trigger();
    form->showerroraction->trigger();
    ASSERT_TRUE(ws().showerror());
    ASSERT_EQ(ws().filefactor(0), 1.0);
    wait_for_error_summaries();
    // A vertical range of ±8 steps makes each step of 1/32768 visible.
    const double step = 1 / 32768.0;
    form->yaxis[0]->set_hilovalues(-8 * step, 8 * step);
    for (int t : {0, 1}) {
        const QImage img = box(t);
        auto [top, bottom] = trace_extent(img, t);
        ASSERT_GE(bottom, 0) << "no error trace in box " << t;
        EXPECT_GE(top, y_of(t, 2 * step)) << "box " << t;
        EXPECT_LE(bottom, y_of(t, -2 * step)) << "box " << t;
        EXPECT_LT(top, bottom) << "the dither is visible in box " << t;
    }
}

TEST_F(WaveformView, ErrorViewKeepsTheOldPictureWhileItsSummariesAreBuilt) {
    form->load_file(0, sine(QStringLiteral("err.wav"), 8000, 2, 1.0, 440, 0.7));
    const QImage before[2] = {box(0), box(1)};
    QSemaphore release;
    TErrorSummaries::worker_hook = [&](int) { release.tryAcquire(1, 20000); };
    form->showerroraction->trigger();
    // The window goes on: repaints, a zoom and a cursor move show the old
    // pictures (with the cursor on top) until the summaries are there.
    for (int round = 0; round < 3; ++round) {
        QTest::qWait(30);
        if (round == 1) form->FormKeyDown(Qt::Key_Down, {});
        EXPECT_EQ(box(0), before[0]) << round;
        EXPECT_EQ(box(1), before[1]) << round;
    }
    EXPECT_EQ(ws().error_summaries(0), nullptr);
    release.release();
    wait_for_error_summaries();
    TErrorSummaries::worker_hook = {};
    const double step = ws().filefactor(0) < 1 ? 1 / ws().filefactor(0) / 32768 : 1 / 32768.0;
    form->yaxis[0]->set_hilovalues(-8 * step, 8 * step);
    for (int t : {0, 1}) {
        const QImage img = box(t);
        EXPECT_NE(img, before[t]) << t;
        auto [top, bottom] = trace_extent(img, t);
        ASSERT_GE(bottom, 0) << "no error trace in box " << t;
        EXPECT_GE(top, y_of(t, 2 * step)) << "box " << t;
        EXPECT_LE(bottom, y_of(t, -2 * step)) << "box " << t;
    }
}

TEST_F(WaveformView, ErrorViewKeepsItsDrawAndStaysWithinTheDithersReach) {
    // Noise-like samples, normalized (factor about 1.6), then not.
    std::vector<int16_t> x(16000);
    uint32_t r = 777;
    for (int16_t& v : x) {
        r = r * 1664525u + 1013904223u;
        v = int16_t(int(r >> 16) % 40001 - 20000);
    }
    form->load_file(0, raw_file(QStringLiteral("noise.wav"), x, 8000, 1));
    ASSERT_TRUE(ws().normalize());  // since the first activation
    ASSERT_GT(ws().filefactor(0), 1.5);
    form->showerroraction->trigger();
    wait_for_error_summaries();
    const int builds = ws().error_summary_builds();
    EXPECT_EQ(builds, 1);
    const double step = 1 / 32768.0;
    form->yaxis[0]->set_hilovalues(-4 * step, 4 * step);

    // Each column lies where a pass with fresh dither can put it.
    auto check_columns = [&](const QImage& img) {
        const double f = ws().filefactor(0);
        const int cursor = form->xaxis->value_to_pixel(ws().cursorpos());
        int drawn = 0;
        for (int c = 1; c < img.width() - 1; ++c) {
            const int64_t j = edge(c - 1, 8000), e = edge(c, 8000);
            if (c == cursor || j < 0 || e >= int64_t(x.size()) || j > e) continue;
            double lo_min = INFINITY, lo_max = INFINITY, hi_min = -INFINITY, hi_max = -INFINITY;
            for (int64_t i = j; i <= e; ++i) {
                const double v = x[size_t(i)], xc = std::clamp(v * f, -32767.0, 32766.0);
                const double low = (std::nearbyint(xc - 1) / f - v) * step, high = (std::nearbyint(xc + 1) / f - v) * step;
                lo_min = std::min(lo_min, low);
                lo_max = std::min(lo_max, high);
                hi_min = std::max(hi_min, low);
                hi_max = std::max(hi_max, high);
            }
            const std::vector<int> rows = rows_of(img, c, TForm19::linecolors[0]);
            ASSERT_FALSE(rows.empty()) << "column " << c;
            ++drawn;
            EXPECT_GE(rows.front(), y_of(0, hi_max)) << "column " << c;
            EXPECT_LE(rows.front(), y_of(0, hi_min)) << "column " << c;
            EXPECT_GE(rows.back(), y_of(0, lo_max)) << "column " << c;
            EXPECT_LE(rows.back(), y_of(0, lo_min)) << "column " << c;
        }
        EXPECT_GT(drawn, img.width() / 2);
    };
    struct Span {
        double lo, hi;
    };
    for (const Span sp : {Span{0, 2}, Span{0.5, 0.52}, Span{1.2, 1.201}}) {
        SCOPED_TRACE(sp.lo);
        form->xaxis->set_hilovalues(sp.lo, sp.hi);
        const QImage img = box(0);
        check_columns(img);
        // Redrawn, the same draw of the dither.
        form->invalidate_views(true);
        EXPECT_EQ(box(0), img);
    }
    EXPECT_EQ(ws().error_summary_builds(), builds);

    // Another factor: one more build, for it.
    form->normalizeaction->trigger();
    ASSERT_EQ(ws().filefactor(0), 1.0);
    wait_for_error_summaries();
    EXPECT_EQ(ws().error_summary_builds(), builds + 1);
    form->xaxis->set_hilovalues(0, 2);
    check_columns(box(0));
}

TEST_F(WaveformView, AllpassTraceOnlyWithoutErrorMode) {
    form->load_file(0, sine(QStringLiteral("ap.wav"), 8000, 1, 1.0, 300, 0.5));
    const QColor red(255, 0, 0);
    auto red_pixels = [&](int t) {
        const QImage img = box(t);
        int n = 0;
        for (int x = 1; x < img.width() - 1; ++x) n += int(rows_of(img, x, red).size());
        return n;
    };
    EXPECT_EQ(red_pixels(0), 0);
    form->showallpassaction->trigger();
    EXPECT_GT(red_pixels(0), 0);
    EXPECT_EQ(red_pixels(1), 0);  // no second channel
    form->showerroraction->trigger();
    wait_for_error_summaries();
    EXPECT_EQ(red_pixels(0), 0);
}

TEST_F(WaveformView, NoAllpassTraceWhereTheAllpassCannotBeDesigned) {
    // At these rates the 500 Hz allpass has no design; repainting such a
    // file with the allpass view on raises nothing (the fixture fails the
    // test on any message box) and draws its main trace alone.
    // A square wave, whose allpassed peaks stand out from its own.
    const QString high = synth(QStringLiteral("high.wav"), {"-r", "8000", "-c", "1", "-b", "16"},
                               {"synth", "2", "square", "300", "vol", "0.5"});
    // Two loaded files share one rate, so each file is drawn alone: the
    // undesignable one in file 1's boxes, the square wave in file 2's.
    const QColor red(255, 0, 0);
    const auto red_and_trace = [&](int b) {
        const QImage img = box(b);
        std::pair<int, int> n{0, 0};
        for (int x = 1; x < img.width() - 1; ++x) {
            n.first += int(rows_of(img, x, red).size());
            n.second += int(rows_of(img, x, TForm19::linecolors[0]).size());
        }
        return n;
    };
    for (int rate : {500, 250}) {
        SCOPED_TRACE(rate);
        form->Closefile21->trigger();
        form->load_file(0, sine(QStringLiteral("low%1.wav").arg(rate), rate, 1, 2.0, rate / 5.0, 0.5));
        ASSERT_FALSE(ws().hasallpass(0));
        if (!ws().showallpass()) form->showallpassaction->trigger();
        for (int round = 0; round < 2; ++round) {  // a repaint, then a redraw
            const auto [red_low, trace_low] = red_and_trace(0);
            EXPECT_EQ(red_low, 0);
            EXPECT_GT(trace_low, 0);
            form->invalidate_views(true);
        }
        form->Closefile11->trigger();
        form->load_file(1, high);
        ASSERT_TRUE(ws().hasallpass(1));
        EXPECT_GT(red_and_trace(2).first, 0);
    }
}

TEST_F(WaveformView, SeekDragFarPastTheBoxStaysInTheFiles) {
    // A second at 192 kHz: a drag twenty million pixels to the right asks
    // for a frame beyond 32 bits.
    form->load_file(0, sine(QStringLiteral("fast.wav"), 192000, 1, 1.0, 440, 0.5));
    ASSERT_EQ(ws().wavplayno(), 0);
    QTest::mousePress(form->PaintBox[0], Qt::LeftButton, {}, QPoint(100, 10));
    ASSERT_EQ(ws().playcount(), int(std::nearbyint(192000 * form->xaxis->pixel_to_value(100))));
    struct Case {
        int x;
        int32_t playcount;
    };
    for (const Case c : {Case{20000000, 192000}, Case{-20000000, 0}, Case{300, -1}}) {
        QTest::mouseMove(form->PaintBox[0], QPoint(c.x, 10));
        EXPECT_EQ(ws().cursorpos(), form->xaxis->pixel_to_value(c.x)) << c.x;
        const int32_t expected =
            c.playcount >= 0 ? c.playcount : int32_t(std::nearbyint(192000 * form->xaxis->pixel_to_value(c.x)));
        EXPECT_EQ(ws().playcount(), expected) << c.x;
    }
    // A file 2 that starts 0.1 s later in the time line than file 1 ends
    // later too: the play position reaches its end.
    form->load_file(1, sine(QStringLiteral("fast2.wav"), 192000, 1, 1.0, 440, 0.5));
    ws().nudge_file2(-19200 - ws().file2offset());
    ASSERT_EQ(ws().file2offset(), -19200);
    form->xaxis->setHiValue(ws().timeline_duration());  // zoomed out to the whole time line
    QTest::mouseMove(form->PaintBox[0], QPoint(20000000, 10));
    EXPECT_EQ(ws().playcount(), 192000 + 19200);
    QTest::mouseRelease(form->PaintBox[0], Qt::LeftButton, {}, QPoint(300, 10));
}

TEST_F(WaveformView, AllpassTraceContinuesTheFilterFromTheStart) {
    // Noise-like samples; a zoomed view far into the file, where the filter
    // state depends on everything before it.
    std::vector<int16_t> x(8000);
    uint32_t r = 12345;
    for (int16_t& v : x) {
        r = r * 1664525u + 1013904223u;
        v = int16_t(int(r >> 16) % 20001 - 10000);
    }
    form->load_file(0, raw_file(QStringLiteral("noise.wav"), x, 8000, 1));
    form->normalizeaction->trigger();
    form->showallpassaction->trigger();
    form->xaxis->set_hilovalues(0.5, 0.505);
    const QImage img = box(0);

    TRealFilterSection& ap = *ws().apfilter();
    ap.setSampFreq(8000);
    ap.reset();
    std::vector<double> y;
    for (int16_t v : x) y.push_back(ap.filter(v));

    const QColor red(255, 0, 0);
    int checked = 0;
    for (int c = 1; c < img.width() - 1; ++c) {
        const int64_t j = edge(c - 1, 8000), e = edge(c, 8000);
        double lo = y[size_t(j)], hi = lo;
        for (int64_t i = j; i <= e; ++i) {
            lo = std::min(lo, y[size_t(i)]);
            hi = std::max(hi, y[size_t(i)]);
        }
        const int top = y_of(0, hi / 32768), bottom = y_of(0, lo / 32768);
        for (int row = 1; row < img.height() - 1; ++row) {
            const bool inside = row >= top && row <= bottom;
            const bool is_red = is(img, c, row, red);
            if (!inside) EXPECT_FALSE(is_red) << "column " << c << " row " << row;
            else EXPECT_TRUE(is_red || is(img, c, row, TForm19::linecolors[0])) << "column " << c << " row " << row;
        }
        ++checked;
    }
    EXPECT_GT(checked, 400);
}

TEST_F(WaveformView, EachFilesVerticalAxesMoveTogether) {
    // Channel 1 at ±1/4, channel 2 at ±1/8 of full scale.
    std::vector<int16_t> s;
    for (int i = 0; i < 8000; ++i) {
        const int sign = i % 2 ? -1 : 1;
        s.push_back(int16_t(sign * 8192));
        s.push_back(int16_t(sign * 4096));
    }
    form->load_file(0, raw_file(QStringLiteral("st.wav"), s, 8000, 2));
    form->load_file(1, raw_file(QStringLiteral("st2.wav"), s, 8000, 2));
    form->normalizeaction->trigger();
    ASSERT_EQ(ws().filefactor(0), 1.0);
    box(0), box(1);

    // Both axes show their new range on the screen, not only their boxes.
    struct PaintCount : QObject {
        int n = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            n += e->type() == QEvent::Paint;
            return false;
        }
    } paints[2];
    QApplication::processEvents();
    for (int t : {0, 1}) form->yaxis[size_t(t)]->installEventFilter(&paints[t]);
    form->yaxis[0]->set_hilovalues(-0.5, 0.5);
    QApplication::processEvents();
    EXPECT_GT(paints[0].n, 0);
    EXPECT_GT(paints[1].n, 0);
    for (int t : {0, 1}) form->yaxis[size_t(t)]->removeEventFilter(&paints[t]);
    EXPECT_EQ(form->yaxis[1]->LoValue(), -0.5);
    EXPECT_EQ(form->yaxis[1]->HiValue(), 0.5);
    EXPECT_EQ(form->yaxis[2]->LoValue(), -2);
    EXPECT_EQ(form->yaxis[3]->HiValue(), 2);
    for (auto [t, a] : {std::pair{0, 0.25}, std::pair{1, 0.125}}) {
        auto [top, bottom] = trace_extent(box(t), t);
        EXPECT_EQ(top, y_of(t, a)) << "box " << t;
        EXPECT_EQ(bottom, y_of(t, -a)) << "box " << t;
    }

    // The limits dialog of yaxis4 (double click) sets both ends of yaxis3.
    TAxisLimitForm::ModalHook = [](TAxisLimitForm& f) {
        f.form()->show();
        f.Edit1()->setText(QStringLiteral("0.3"));
        f.Edit2()->setText(QStringLiteral("-0.3"));
        QTest::mouseClick(f.Button1(), Qt::LeftButton);
    };
    QTest::mouseDClick(form->yaxis[3], Qt::LeftButton);
    TAxisLimitForm::ModalHook = nullptr;
    EXPECT_EQ(form->yaxis[3]->HiValue(), 0.3);
    EXPECT_EQ(form->yaxis[2]->LoValue(), -0.3);
    EXPECT_EQ(form->yaxis[2]->HiValue(), 0.3);
    auto [top, bottom] = trace_extent(box(2), 2);
    EXPECT_EQ(top, y_of(2, 0.25));
    EXPECT_EQ(bottom, y_of(2, -0.25));
    EXPECT_EQ(form->yaxis[0]->HiValue(), 0.5);
}

TEST_F(WaveformView, CursorIsDottedInTheOtherFilesBoxesWhilePlaying) {
    form->load_file(0, sine(QStringLiteral("c1.wav"), 8000, 2, 1.0, 440, 0.5));
    form->load_file(1, sine(QStringLiteral("c2.wav"), 8000, 2, 1.0, 440, 0.5));
    ws().setCursorpos(0.5);
    const int cx = form->xaxis->value_to_pixel(0.5);
    auto dotted = [&](int t) {
        const QImage img = box(t);
        int black = 0;
        for (int y = 1; y < img.height() - 1; ++y) black += is(img, cx, y, Qt::black);
        EXPECT_GT(black, (img.height() - 2) / 5) << "no cursor in box " << t;
        return black < img.height() - 2;
    };
    struct Case {
        bool playing;
        int wavplayno;
        std::array<bool, 4> dotted;
    };
    for (const Case& c : {Case{false, 0, {false, false, false, false}}, Case{true, 0, {false, false, true, true}},
                          Case{true, 1, {true, true, false, false}}, Case{false, 1, {false, false, false, false}}}) {
        // The check mark alone: no player runs in this test.
        form->playaction->setChecked(c.playing);
        ws().setWavplayno(c.wavplayno);
        for (int t = 0; t < 4; ++t)
            EXPECT_EQ(dotted(t), c.dotted[size_t(t)]) << "playing " << c.playing << " file " << c.wavplayno + 1
                                                      << " box " << t;
    }
    form->playaction->setChecked(false);
}

TEST_F(WaveformView, MouseSwitchesFilesAndSeeksInThePlayedOne) {
    form->load_file(0, sine(QStringLiteral("m1.wav"), 8000, 2, 2.0, 440, 0.5));
    form->load_file(1, sine(QStringLiteral("m2.wav"), 11025, 1, 1.0, 440, 0.5));
    // File 2 was converted to file 1's rate, at which it is played and sought.
    ASSERT_EQ(ws().wav(1)->sampfreq(), 8000);
    ASSERT_EQ(ws().wavplayno(), 0);
    ASSERT_EQ(ws().playcount(), 0);
    const double c0 = ws().cursorpos();

    // A press in the other file's box only switches the file.
    QTest::mousePress(form->PaintBox[3], Qt::LeftButton, {}, QPoint(100, 10));
    QTest::mouseRelease(form->PaintBox[3], Qt::LeftButton, {}, QPoint(100, 10));
    EXPECT_EQ(ws().wavplayno(), 1);
    EXPECT_EQ(ws().cursorpos(), c0);
    EXPECT_EQ(ws().playcount(), 0);
    EXPECT_TRUE(form->playfile2action->isChecked());

    // In the played file's box a press and a left drag seek.
    QTest::mousePress(form->PaintBox[2], Qt::LeftButton, {}, QPoint(100, 10));
    double c = form->xaxis->pixel_to_value(100);
    EXPECT_EQ(ws().cursorpos(), c);
    EXPECT_EQ(ws().playcount(), int(std::nearbyint(8000 * c)));
    QTest::mouseMove(form->PaintBox[2], QPoint(250, 30));
    c = form->xaxis->pixel_to_value(250);
    EXPECT_EQ(ws().cursorpos(), c);
    EXPECT_EQ(ws().playcount(), int(std::nearbyint(8000 * c)));
    QTest::mouseRelease(form->PaintBox[2], Qt::LeftButton, {}, QPoint(250, 30));
    QTest::mouseMove(form->PaintBox[2], QPoint(300, 30));  // no button held
    EXPECT_EQ(ws().cursorpos(), c);

    // Any button switches; only the left one seeks.
    QTest::mouseClick(form->PaintBox[1], Qt::RightButton, {}, QPoint(50, 10));
    EXPECT_EQ(ws().wavplayno(), 0);
    QTest::mouseClick(form->PaintBox[1], Qt::RightButton, {}, QPoint(50, 10));
    EXPECT_EQ(ws().cursorpos(), c);
    QTest::mouseClick(form->PaintBox[0], Qt::LeftButton, {}, QPoint(50, 10));
    c = form->xaxis->pixel_to_value(50);
    EXPECT_EQ(ws().cursorpos(), c);
    EXPECT_EQ(ws().playcount(), int(std::nearbyint(8000 * c)));

    // A file that is not loaded cannot be switched to.
    form->Closefile21->trigger();
    QTest::mouseClick(form->PaintBox[2], Qt::LeftButton, {}, QPoint(80, 10));
    EXPECT_EQ(ws().wavplayno(), 0);
    EXPECT_EQ(ws().cursorpos(), c);
}

}  // namespace
}  // namespace wavrell::test
