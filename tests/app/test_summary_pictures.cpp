// The waveform pictures drawn from the range summaries are the pictures the
// straight pass over the samples draws, pixel for pixel, at any zoom.
#include "app/main_window.h"
#include "app/paint_box.h"
#include "workspace/workspace.h"
#include "plot/axis.h"
#include "tests/support/test_support.h"

#include <QImage>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <cmath>

namespace wavrell {
namespace {

// A stereo file with bursts, silence and a clipped stretch, written by sox.
QString make_file(QTemporaryDir& dir, const QString& name, int rate, double seconds, const QString& tone) {
    const QString path = dir.filePath(name);
    const QStringList args{QStringLiteral("-n"), QStringLiteral("-r"), QString::number(rate), QStringLiteral("-c"),
                           QStringLiteral("2"),  QStringLiteral("-b"), QStringLiteral("16"), path,
                           QStringLiteral("synth"), QString::number(seconds), tone, QStringLiteral("300"),
                           QStringLiteral("sine"), QStringLiteral("3000"), QStringLiteral("tremolo"),
                           QStringLiteral("3"), QStringLiteral("90"), QStringLiteral("pad"), QStringLiteral("0.3"),
                           QStringLiteral("0.2"), QStringLiteral("gain"), QStringLiteral("2")};
    EXPECT_TRUE(test::sox(args));
    return path;
}

std::array<QImage, 4> pictures(TForm19& w, bool summaries) {
    w.use_range_summaries = summaries;
    w.invalidate_views(true);
    std::array<QImage, 4> out;
    for (int t = 0; t < 4; ++t) out[size_t(t)] = w.PaintBox[size_t(t)]->grab().toImage();
    return out;
}

TEST(SummaryPictures, SummariesDrawTheStraightPassPixels) {
    auto dir = test::build_temp_dir();
    TForm19 w;
    w.resize(900, 500);
    w.show();
    w.FormActivate();
    w.load_file(0, make_file(*dir, QStringLiteral("a.wav"), 44100, 3.7, QStringLiteral("square")));
    w.load_file(1, make_file(*dir, QStringLiteral("b.wav"), 22050, 2.3, QStringLiteral("sawtooth")));
    ASSERT_EQ(w.workspace().summaries(0).size(), 2u);
    ASSERT_EQ(w.workspace().summaries(1).size(), 2u);

    // Ranges may reach before 0 and past the end of the files.
    w.xaxis->setMinLoValue(-1e300);
    w.xaxis->setMaxHiValue(1e300);
    QRandomGenerator rng(1234);
    const double T = 4.5;
    auto has_colour = [](const QImage& img, QRgb colour) {
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if ((img.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) return true;
        return false;
    };
    for (int round = 0; round < 24; ++round) {
        double lo, hi;
        switch (round % 4) {
            case 0: lo = -0.5; hi = T; break;                        // whole files and more
            case 1: lo = rng.bounded(T); hi = lo + 0.0005; break;     // a sample spans columns
            case 2: lo = rng.bounded(T) - 1; hi = lo + rng.bounded(2.0) + 0.01; break;
            default: lo = rng.bounded(T); hi = lo + 0.02; break;      // a few samples per column
        }
        w.xaxis->set_hilovalues(lo, hi);
        for (bool allpass : {false, true}) {
            w.workspace().setShowallpass(allpass);
            const auto straight = pictures(w, false);
            const auto summary = pictures(w, true);
            for (int t = 0; t < 4; ++t)
                ASSERT_EQ(straight[size_t(t)], summary[size_t(t)])
                    << "box " << t << " range " << lo << " … " << hi << (allpass ? " with allpass" : "");
            if (round % 4 == 0) {
                // The comparison means something only where traces are drawn.
                for (int t = 0; t < 4; ++t)
                    EXPECT_TRUE(has_colour(summary[size_t(t)], TForm19::linecolors[size_t(t)].rgb())) << t;
                if (allpass) {
                    EXPECT_TRUE(has_colour(summary[2], qRgb(255, 0, 0)));
                }
            }
        }
    }
}

}  // namespace
}  // namespace wavrell
