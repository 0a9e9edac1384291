#include "workspace/level_analysis.h"
#include "workspace/range_summary.h"
#include "audio/wav_file.h"
#include "dsp/filter_section.h"

#include <gtest/gtest.h>

#include <cmath>

namespace wavrell {
namespace {

/// The measurement written the plain way: one sample at a time through the
/// filter section, the block found for every sample.
struct Reference {
    TLevelTable table;
    double rms = 0;
    double peak = 0;
};

Reference reference(const TWav& w, int slot) {
    TRealFilterSection ap;
    ap.setGain(1);
    ap.setUnityGainAtHF(false);
    ap.setFZero(-500);
    ap.setFPole(500);
    Reference r;
    const int64_t nb = std::llround(std::nearbyint(w.tottime() * 10));
    r.table.assign(4, std::vector<trmspeak>(size_t(nb)));
    double total = 0;
    for (int c = 0; c < w.nchans(); ++c) {
        ap.setSampFreq(w.sampfreq());
        ap.reset();
        double ss = 0, count = 0, pk = 0, appk = 0;
        int64_t current = 0;
        for (int64_t i = 0; i < w.nsamples(); ++i) {
            const double x = w.samples()[c][i] / 32768.0;
            const double y = ap.filter(x);
            total += 1;
            count += 1;
            ss += x * x;
            r.rms += x * x;
            pk = std::max(pk, std::fabs(x));
            r.peak = std::max(r.peak, std::fabs(x));
            appk = std::max(appk, std::fabs(y));
            const int64_t k = int64_t(double(i) / w.sampfreq() * 10);
            if (k != current) {
                if (c < 2 && k < nb) r.table[2 * slot + c][k] = {std::sqrt(ss / count), pk, appk};
                ss = count = pk = appk = 0;
                current = k;
            }
        }
    }
    r.rms = total > 0 ? std::sqrt(r.rms / total) : 0;
    return r;
}

/// Deterministic test signal with loud, quiet and digitally silent stretches.
void fill(TWav& w, int nch, int n, int rate, uint32_t seed) {
    w.setSampfreq(rate);
    w.setNchans(nch);
    w.setNsamples(n);
    uint32_t x = seed;
    for (int c = 0; c < nch; ++c)
        for (int i = 0; i < n; ++i) {
            x = x * 1664525u + 1013904223u;
            const int phase = (i * 7 / std::max(n, 1) + c) % 4;  // loud, quiet, silent, tone
            int v = 0;
            if (phase == 0) v = int16_t(x >> 16);
            if (phase == 1) v = int(int16_t(x >> 16)) / 700;
            if (phase == 3) v = int(12000 * std::sin(i * 0.05 * (c + 1)));
            w.samples()[c][i] = int16_t(v);
        }
    if (n > 0) w.samples()[0][n / 2] = -32768;
}

void expect_close(double got, double want, const char* what, int row, size_t k) {
    const double tol = 1e-9 * std::fabs(want) + 1e-15;
    EXPECT_NEAR(got, want, tol) << what << " of row " << row << " entry " << k;
}

TEST(LevelAnalysis, BlockTableAndFileLevelsAgreeWithPlainComputation) {
    const struct {
        const char* label;
        int nch, n, rate, slot;
    } cases[] = {
        {"3 channels at 11025 Hz, odd length (blocks of 1102.5 samples)", 3, 33333, 11025, 0},
        {"stereo at 44100 Hz in slot 1 (side-by-side stretches with warm-up)", 2, 300001, 44100, 1},
        {"mono at 192000 Hz", 1, 400003, 192000, 0},
        {"mono at 7 Hz (every sample starts a new block)", 1, 45, 7, 1},
        {"stereo at 8000 Hz, shorter than one block", 2, 799, 8000, 0},
        {"one sample", 1, 1, 8000, 0},
    };
    for (const auto& k : cases)
    for (int variant = 0; variant < 4; ++variant) {
        // The three engines, then the measurement that builds the range
        // summaries and takes the allpass peaks from them.
        const TLevelEngine engine =
            variant == 1 ? TLevelEngine::Sse2 : variant == 2 ? TLevelEngine::Portable : TLevelEngine::Best;
        std::vector<TChannelSummary> summaries;
        SCOPED_TRACE(k.label);
        SCOPED_TRACE(variant);
        TWav w;
        fill(w, k.nch, k.n, k.rate, uint32_t(k.n));
        TRealFilterSection ap;
        ap.setGain(1);
        ap.setFZero(-500);
        ap.setFPole(500);
        TLevelTable table;
        const TFileLevels got = measure_levels(w, ap, k.slot, table, engine, variant == 3 ? &summaries : nullptr);
        if (variant == 3) {
            ASSERT_EQ(summaries.size(), size_t(std::min(k.nch, 2)));
            for (const TChannelSummary& sm : summaries) EXPECT_EQ(sm.count(), k.n);
        }
        const Reference want = reference(w, k.slot);

        EXPECT_NEAR(got.rms, want.rms, 1e-12 * want.rms);
        EXPECT_EQ(got.peak, want.peak);
        ASSERT_EQ(table.size(), 4u);
        for (int row = 0; row < 4; ++row) {
            ASSERT_EQ(table[row].size(), want.table[row].size());
            for (size_t e = 0; e < table[row].size(); ++e) {
                expect_close(table[row][e].rms, want.table[row][e].rms, "rms", row, e);
                EXPECT_EQ(table[row][e].peak, want.table[row][e].peak) << "row " << row << " entry " << e;
                expect_close(table[row][e].appeak, want.table[row][e].appeak, "appeak", row, e);
            }
        }
        EXPECT_EQ(ap.SampFreq(), k.rate);
    }
}

TEST(LevelAnalysis, BlockRuleOnAShortFile) {
    // 1.04 s at 16000 Hz: B = 10; block 10 would begin at sample 16000, past
    // the table. Entry k > 1 holds samples 1600 (k - 1) + 1 ... 1600 k.
    TWav w;
    w.setSampfreq(16000);
    w.setNchans(1);
    w.setNsamples(16640);
    for (int i = 0; i < 16640; ++i) w.samples()[0][i] = int16_t(i / 1600 + 1);  // block number + 1
    w.samples()[0][1600 * 3] = 8192;  // first sample of block 3: counted in entry 3
    w.samples()[0][16500] = -32768;   // in the tail: file peak only
    TRealFilterSection ap;
    ap.setFZero(-500);
    ap.setFPole(500);
    TLevelTable table;
    const TFileLevels lv = measure_levels(w, ap, 1, table);
    EXPECT_EQ(block_count(w), 10);
    ASSERT_EQ(table[2].size(), 10u);
    EXPECT_EQ(table[2][0].rms, 0.0);
    EXPECT_EQ(table[2][0].peak, 0.0);
    EXPECT_EQ(table[2][3].peak, 0.25);
    EXPECT_EQ(table[2][4].peak, 5 / 32768.0);  // samples 4801..6400: 4s and the 5 that starts block 4
    EXPECT_EQ(table[2][9].peak, 10 / 32768.0);
    // Entry 1 takes everything from sample 0 on: samples 0..1600 are 1600
    // ones and the 2 that starts block 1.
    EXPECT_DOUBLE_EQ(table[2][1].rms, std::sqrt((1600.0 + 4.0) / 1601.0) / 32768.0);
    // The one-channel file leaves the slot's other row and slot 0's rows zero.
    for (int row : {0, 1, 3})
        for (const trmspeak& e : table[row]) EXPECT_EQ(e.rms + e.peak + e.appeak, 0.0);
    EXPECT_EQ(lv.peak, 1.0);
}

TEST(LevelAnalysis, RateWithoutAllpassStillMeasures) {
    // At 500 Hz the 500 Hz allpass cannot be designed: levels without it.
    TWav w;
    w.setSampfreq(500);
    w.setNchans(2);
    w.setNsamples(1000);
    for (int i = 0; i < 1000; ++i) w.samples()[0][i] = int16_t(i % 2 ? 8192 : -8192);
    TRealFilterSection ap;
    ap.setFZero(-500);
    ap.setFPole(500);
    for (bool with_summaries : {false, true}) {
        TLevelTable table;
        std::vector<TChannelSummary> summaries;
        const TFileLevels lv =
            measure_levels(w, ap, 0, table, TLevelEngine::Best, with_summaries ? &summaries : nullptr);
        EXPECT_DOUBLE_EQ(lv.rms, 0.25 / std::sqrt(2.0));
        EXPECT_EQ(lv.peak, 0.25);
        ASSERT_EQ(table[0].size(), 20u);
        for (size_t k = 1; k < 20; ++k) {
            EXPECT_EQ(table[0][k].peak, 0.25);
            EXPECT_EQ(table[0][k].appeak, 0.0);
        }
        if (with_summaries) {
            // The raw part serves the view as usual.
            ASSERT_EQ(summaries.size(), 2u);
            int16_t lo = 0, hi = 0;
            ASSERT_TRUE(summaries[0].raw_minmax(w.samples()[0].data(), 0, 999, lo, hi));
            EXPECT_EQ(lo, -8192);
            EXPECT_EQ(hi, 8192);
        }
    }
}

}  // namespace
}  // namespace wavrell
