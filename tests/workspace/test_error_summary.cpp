#include "workspace/error_summaries.h"
#include "workspace/error_summary.h"
#include "workspace/workspace.h"
#include "audio/wav_file.h"
#include "common/number_text.h"
#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <QSemaphore>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace wavrell {
namespace {

constexpr int64_t kBlock = TErrorSummary::block;

/// Samples of every size, full scale included (where a factor above 1
/// clips), in a row whose length is not a whole number of blocks.
std::vector<int16_t> noise(int64_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<int16_t> x(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) {
        const int shape = int((i / 1000) % 3);
        const int range = shape == 0 ? 32768 : shape == 1 ? 300 : 3;
        x[size_t(i)] = int16_t(std::clamp<int>(int(rng() % uint32_t(2 * range + 1)) - range, -32768, 32767));
    }
    return x;
}

struct Range {
    int64_t j, e;
};

/// Single samples, partial and whole blocks, block edges and random spans.
std::vector<Range> ranges_for(int64_t n, std::mt19937& rng) {
    std::vector<Range> r = {{0, 0}, {0, n - 1}, {n - 1, n - 1}, {0, kBlock - 1}, {kBlock, 3 * kBlock - 1},
                            {kBlock - 1, kBlock}, {5, 4 * kBlock + 7}, {n - kBlock - 3, n - 1}, {1, n - 2}};
    for (int k = 0; k < 300; ++k) {
        const int64_t len = int64_t(1) << (rng() % 18);
        const int64_t j = int64_t(rng() % uint64_t(n));
        r.push_back({j, std::min(n - 1, j + int64_t(rng() % uint64_t(len)))});
    }
    return r;
}

TEST(ErrorSummary, AnswersAreThoseOfAStraightPassOverTheSameDraw) {
    const int64_t n = 200 * kBlock * 8 + 77;
    const std::vector<int16_t> x = noise(n, 5);
    std::mt19937 rng(11);
    for (double f : {1.0, 0.3711, 2.5}) {
        SCOPED_TRACE(f);
        const uint64_t seed = 0x1234 + uint64_t(f * 1000);
        const TErrorSummary s = TErrorSummary::build(x.data(), n, f, seed);
        EXPECT_EQ(s.count(), n);
        // The draw is that of the conversions of a seeded run, in order.
        seed_dither(seed);
        std::vector<double> e(static_cast<size_t>(n));
        for (int64_t i = 0; i < n; ++i) e[size_t(i)] = float_to_sample16(x[size_t(i)] * f) / f - x[size_t(i)];
        for (const Range& r : ranges_for(n, rng)) {
            double lo = 7, hi = 7;
            ASSERT_TRUE(s.minmax(x.data(), r.j, r.e, lo, hi)) << r.j << " … " << r.e;
            const auto [mn, mx] = std::minmax_element(e.begin() + r.j, e.begin() + r.e + 1);
            ASSERT_EQ(lo, *mn) << r.j << " … " << r.e;
            ASSERT_EQ(hi, *mx) << r.j << " … " << r.e;
        }
        for (const Range& bad : {Range{-1, 3}, Range{5, 4}, Range{0, n}}) {
            double lo = 7, hi = 7;
            EXPECT_FALSE(s.minmax(x.data(), bad.j, bad.e, lo, hi));
            EXPECT_EQ(lo, 7);
            EXPECT_EQ(hi, 7);
        }
    }
    std::atomic<bool> cancel{true};
    EXPECT_EQ(TErrorSummary::build(x.data(), n, 1.0, 1, &cancel).count(), 0);
}

TEST(ErrorSummary, EveryRangeLiesWithinTheDithersReachOfAPassWithFreshDither) {
    // A pass with fresh dither may requantize each sample v f to any step
    // from round(v f − 1) to round(v f + 1): the extremes of a range of the
    // summary's draw lie between the lowest and highest extremes that such
    // passes can give, and so does a pass with fresh dither.
    const int64_t n = 64 * kBlock + 5;
    const std::vector<int16_t> x = noise(n, 9);
    std::mt19937 rng(3);
    for (double f : {1.0, 0.52, 1.9}) {
        SCOPED_TRACE(f);
        const TErrorSummary s = TErrorSummary::build(x.data(), n, f, 42);
        seed_dither(777);
        for (const Range& r : ranges_for(n, rng)) {
            double lo_min = INFINITY, lo_max = INFINITY, hi_min = -INFINITY, hi_max = -INFINITY;
            double fresh_lo = INFINITY, fresh_hi = -INFINITY;
            for (int64_t i = r.j; i <= r.e; ++i) {
                const double v = x[size_t(i)], xc = std::clamp(v * f, -32767.0, 32766.0);
                const double low = std::nearbyint(xc - 1) / f - v, high = std::nearbyint(xc + 1) / f - v;
                lo_min = std::min(lo_min, low);
                lo_max = std::min(lo_max, high);
                hi_min = std::max(hi_min, low);
                hi_max = std::max(hi_max, high);
                const double fresh = float_to_sample16(v * f) / f - v;
                fresh_lo = std::min(fresh_lo, fresh);
                fresh_hi = std::max(fresh_hi, fresh);
            }
            double lo, hi;
            ASSERT_TRUE(s.minmax(x.data(), r.j, r.e, lo, hi));
            for (const auto& [l, h] : {std::pair{lo, hi}, std::pair{fresh_lo, fresh_hi}}) {
                ASSERT_GE(l, lo_min) << r.j << " … " << r.e;
                ASSERT_LE(l, lo_max) << r.j << " … " << r.e;
                ASSERT_GE(h, hi_min) << r.j << " … " << r.e;
                ASSERT_LE(h, hi_max) << r.j << " … " << r.e;
            }
        }
    }
}

/// Runs the event loop until pred holds or 20 s have passed.
template <class P>
bool wait_for(P pred) {
    for (int i = 0; i < 2000 && !pred(); ++i) QTest::qWait(10);
    return pred();
}

TEST(ErrorSummaries, BuiltOncePerChangeOfFactorOrFileOnAWorker) {
    auto dir = test::build_temp_dir();
    const QString a = dir->filePath(QStringLiteral("a.wav"));
    const QString b = dir->filePath(QStringLiteral("b.wav"));
    ASSERT_TRUE(test::sox({"-n", "-r", "8000", "-c", "2", "-b", "16", a, "synth", "3", "sine", "300", "vol", "0.3"}));
    ASSERT_TRUE(test::sox({"-n", "-r", "8000", "-c", "1", "-b", "16", b, "synth", "2", "square", "50", "vol", "0.6"}));
    TWorkspace ws;
    ws.setNormalize(true);
    ws.load_file(0, a);
    ws.load_file(1, b);
    QList<int> ready;
    ws.OnErrorSummariesReady = [&](int slot) { ready << slot; };

    // Asked for, they come from a worker; asking again meanwhile starts nothing.
    EXPECT_EQ(ws.error_summaries(0), nullptr);
    EXPECT_EQ(ws.error_summaries(0), nullptr);
    EXPECT_EQ(ws.error_summary_builds(), 1);
    ASSERT_TRUE(wait_for([&] { return ws.error_summaries(0) != nullptr; }));
    EXPECT_EQ(ready, QList<int>{0});
    const std::vector<TErrorSummary>* first = ws.error_summaries(0);
    ASSERT_EQ(first->size(), 2u);
    EXPECT_EQ((*first)[0].factor(), ws.filefactor(0));
    EXPECT_EQ((*first)[1].count(), ws.wav(0)->nsamples());
    const uint64_t seed = (*first)[0].seed();
    ASSERT_TRUE(wait_for([&] { return ws.error_summaries(1) != nullptr; }));
    EXPECT_EQ(ws.error_summaries(1)->size(), 1u);  // one channel
    EXPECT_EQ(ws.error_summary_builds(), 2);

    // Kept, the same draw, until the factor changes.
    for (int k = 0; k < 5; ++k) EXPECT_EQ((*ws.error_summaries(0))[0].seed(), seed);
    EXPECT_EQ(ws.error_summary_builds(), 2);
    ws.setNormalize(false);
    EXPECT_EQ(ws.error_summaries(0), nullptr);
    ASSERT_TRUE(wait_for([&] { return ws.error_summaries(0) != nullptr; }));
    EXPECT_EQ((*ws.error_summaries(0))[0].factor(), 1.0);
    EXPECT_NE((*ws.error_summaries(0))[0].seed(), seed);
    EXPECT_EQ(ws.error_summary_builds(), 3);

    // Switched on and off again before its build ended: the summaries of
    // the factor in force are still good, the build is given up.
    QSemaphore release;
    TErrorSummaries::worker_hook = [&](int) { release.tryAcquire(1, 20000); };
    ws.setNormalize(true);
    EXPECT_EQ(ws.error_summaries(0), nullptr);
    ws.setNormalize(false);
    EXPECT_EQ((*ws.error_summaries(0))[0].factor(), 1.0);
    release.release();
    TErrorSummaries::worker_hook = {};
    QTest::qWait(100);
    EXPECT_EQ((*ws.error_summaries(0))[0].factor(), 1.0);
    EXPECT_EQ(ws.error_summary_builds(), 4);
    EXPECT_EQ(ready.count(0), 2);

    // A new file (the same factor 1) or a closed one drops them.
    ws.load_file(0, b);
    EXPECT_EQ(ws.error_summaries(0), nullptr);
    ASSERT_TRUE(wait_for([&] { return ws.error_summaries(0) != nullptr; }));
    EXPECT_EQ(ws.error_summaries(0)->size(), 1u);
    ws.close_file(1);
    ASSERT_NE(ws.error_summaries(1), nullptr);  // nothing to build
    EXPECT_TRUE(ws.error_summaries(1)->empty());
    EXPECT_EQ(ws.error_summary_builds(), 5);
}

TEST(ErrorSummaries, AFactorAskedForWhileABuildRunsIsBuiltNext) {
    TWav w;
    w.setNchans(1);
    w.setSampfreq(8000);
    w.setNsamples(50000);
    for (int i = 0; i < 50000; ++i) w.samples()[0][size_t(i)] = int16_t(i % 2000 - 1000);
    TErrorSummaries sums;
    QSemaphore release;
    TErrorSummaries::worker_hook = [&](int) { release.tryAcquire(1, 20000); };
    EXPECT_EQ(sums.get(0, w, 1.5), nullptr);
    EXPECT_EQ(sums.get(0, w, 2.0), nullptr);  // gives up the build for 1.5
    EXPECT_EQ(sums.get(0, w, 3.0), nullptr);
    EXPECT_EQ(sums.builds(), 1);
    release.release(2);
    ASSERT_TRUE(wait_for([&] { return sums.get(0, w, 3.0) != nullptr; }));
    TErrorSummaries::worker_hook = {};
    EXPECT_EQ(sums.builds(), 2);  // none for 2.0
    const TErrorSummary& s = sums.get(0, w, 3.0)->front();
    EXPECT_EQ(s.factor(), 3.0);
    double lo, hi;
    ASSERT_TRUE(s.minmax(w.samples()[0].data(), 0, 49999, lo, hi));
    EXPECT_GE(lo, -1.0);
    EXPECT_LE(hi, 1.0);
}

TEST(ErrorSummaries, ALoadOrTheEndWhileABuildRunsWaitsForIt) {
    // Builds of a long file are given up when its slot changes or the
    // workspace goes, before the samples they read go away.
    auto dir = test::build_temp_dir();
    const QString a = dir->filePath(QStringLiteral("long.wav"));
    const QString b = dir->filePath(QStringLiteral("short.wav"));
    ASSERT_TRUE(test::sox({"-n", "-r", "48000", "-c", "2", "-b", "16", a, "synth", "120", "whitenoise", "vol", "0.5"}));
    ASSERT_TRUE(test::sox({"-n", "-r", "8000", "-c", "1", "-b", "16", b, "synth", "1", "sine", "300"}));
    for (int round = 0; round < 3; ++round) {
        auto ws = std::make_unique<TWorkspace>();
        ws->load_file(0, a);
        EXPECT_EQ(ws->error_summaries(0), nullptr);
        if (round == 1) ws->load_file(0, b);
        if (round == 2) ws->close_file(0);
        ws.reset();
        QCoreApplication::processEvents();  // the given-up builds' end notices
    }
}

}  // namespace
}  // namespace wavrell
