// Loudness and true peak of a sample store, against the minimum
// requirements of EBU Tech 3341 with the test signals built here, the
// channel weights of BS.1770 by speaker position, and the values that do
// not exist for silence and very short files.
#include "workspace/loudness.h"
#include "audio/wav_file.h"

#include <ebur128.h>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <numbers>
#include <random>
#include <stdexcept>

namespace wavrell {
namespace {

constexpr int kRate = 48000;

/// A store of `nch` channels and `n` frames whose sample i of channel c is
/// f(c, i) in full-scale units, rounded to 16 bits and saturated.
std::unique_ptr<TWav> store(int rate, int nch, int64_t n, const std::function<double(int, int64_t)>& f,
                            uint32_t mask = 0) {
    auto w = std::make_unique<TWav>();
    w->setSampfreq(rate);
    w->setNchans(nch);
    w->setNsamples(int32_t(n));
    w->setChannelmask(mask);
    for (int c = 0; c < nch; ++c)
        for (int64_t i = 0; i < n; ++i)
            w->samples()[size_t(c)][size_t(i)] =
                int16_t(std::clamp(std::nearbyint(f(c, i) * 32768.0), -32768.0, 32767.0));
    return w;
}

double amplitude(double dbfs) { return std::pow(10.0, dbfs / 20); }

double sine1k(int64_t i) { return std::sin(2 * std::numbers::pi * 1000.0 * double(i) / kRate); }

/// A 1 kHz sine in every channel, in stretches of the given lengths (s) and
/// peak levels (dBFS), each channel offset by its own level (dB; -1000 is
/// silence).
std::unique_ptr<TWav> tones(const std::vector<std::pair<double, double>>& stretches,
                            const std::vector<double>& channel_db, uint32_t mask = 0) {
    std::vector<int64_t> ends;
    int64_t n = 0;
    for (const auto& s : stretches) ends.push_back(n += int64_t(std::llround(s.first * kRate)));
    return store(
        kRate, int(channel_db.size()), n,
        [&](int c, int64_t i) {
            size_t k = 0;
            while (i >= ends[k]) ++k;
            return amplitude(stretches[k].second + channel_db[size_t(c)]) * sine1k(i);
        },
        mask);
}

TEST(Loudness, Tech3341MinimumRequirements) {
    const std::vector<double> stereo{0, 0};
    const std::vector<double> five{-28, -28, -24, -30, -30};  // L R C Ls Rs
    const struct {
        const char* label;
        std::unique_ptr<TWav> wav;
        double integrated;
    } cases[] = {
        {"case 1: stereo sine -23 dBFS", tones({{20, -23}}, stereo), -23},
        {"case 2: stereo sine -33 dBFS", tones({{20, -33}}, stereo), -33},
        {"case 3: -36 / -23 / -36 dBFS", tones({{10, -36}, {60, -23}, {10, -36}}, stereo), -23},
        {"case 4: -72 / -36 / -23 / -36 / -72 dBFS",
         tones({{10, -72}, {10, -36}, {60, -23}, {10, -36}, {10, -72}}, stereo), -23},
        {"case 5: -26 / -20 / -26 dBFS", tones({{20, -26}, {20.1, -20}, {20, -26}}, stereo), -23},
        {"case 6: five channels, default order", tones({{20, 0}}, five), -23},
        // The same five channels named by their positions: the back pair of
        // a layout without sides, or the side pair, are the surrounds.
        {"case 6, channel mask FL FR FC BL BR", tones({{20, 0}}, five, 0x37), -23},
        {"case 6, channel mask FL FR FC SL SR", tones({{20, 0}}, five, 0x607), -23},
        // 5.1: a loud low-frequency channel counts for nothing.
        {"case 6 as 5.1 with a full-scale LFE channel", tones({{20, 0}}, {-28, -28, -24, 0, -30, -30}, 0x3F), -23},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.label);
        const TLoudness l = measure_loudness(*k.wav);
        EXPECT_TRUE(l.measured);
        ASSERT_TRUE(l.integrated);
        EXPECT_NEAR(*l.integrated, k.integrated, 0.1);
        ASSERT_TRUE(l.shortterm_max);
        ASSERT_TRUE(l.range);
        ASSERT_TRUE(l.true_peak);
    }
    // Cases 1 and 2 are steady: short-term loudness equals the integrated
    // one, the range is 0, and a 1 kHz sine has no peaks between samples.
    for (const double level : {-23.0, -33.0}) {
        const TLoudness l = measure_loudness(*tones({{20, level}}, stereo));
        EXPECT_NEAR(*l.shortterm_max, level, 0.1);
        EXPECT_NEAR(*l.range, 0.0, 0.1);
        EXPECT_NEAR(20 * std::log10(*l.true_peak), level, 0.05);
    }
}

TEST(Loudness, ChannelWeightsFollowTheSpeakerPositions) {
    // 7.1 (FL FR FC LFE BL BR SL SR): the sides sit at +-90 degrees (1.41),
    // the backs behind them (1.0); in 5.1 the back pair is the surround pair.
    const auto only = [](std::vector<int> loud, int nch, uint32_t mask) {
        std::vector<double> db(size_t(nch), -1000.0);
        for (int c : loud) db[size_t(c)] = -20;
        return *measure_loudness(*tones({{5, 0}}, db, mask)).integrated;
    };
    const double front = only({0, 1}, 8, 0x63F);
    const double backs71 = only({4, 5}, 8, 0x63F);
    const double sides71 = only({6, 7}, 8, 0x63F);
    const double backs51 = only({4, 5}, 6, 0x3F);
    EXPECT_NEAR(front, -20, 0.1);
    EXPECT_NEAR(backs71, front, 1e-9);
    EXPECT_NEAR(sides71 - front, 10 * std::log10(1.41), 1e-6);
    EXPECT_NEAR(backs51, sides71, 1e-9);
    // Without a mask libebur128's order for six channels: the fourth is
    // left out, the fifth and sixth are surrounds.
    EXPECT_NEAR(only({4, 5}, 6, 0), sides71, 1e-9);
    EXPECT_FALSE(measure_loudness(*tones({{5, 0}}, {-1000, -1000, -1000, -20, -1000, -1000})).integrated);
}

TEST(Loudness, TruePeakBetweenSamplesAndAcrossThePiecesOfALongFile) {
    // A sine at a quarter of the rate, 45 degrees off: every sample lies at
    // 0.707 of the crest, which falls between them. Samples at full scale
    // give a true peak of +3 dBTP.
    const auto burst = [](int64_t at, int64_t len) {
        return [=](int, int64_t i) {
            if (i < at || i >= at + len) return 0.0;
            return (32767.0 / 32768.0) * std::sqrt(2.0) * std::sin(std::numbers::pi / 2 * double(i) + std::numbers::pi / 4);
        };
    };
    const TLoudness shortfile = measure_loudness(*store(kRate, 2, kRate, burst(20000, 4000)));
    ASSERT_TRUE(shortfile.true_peak);
    const double tp = 20 * std::log10(*shortfile.true_peak);
    EXPECT_GT(tp, 0.0);
    EXPECT_NEAR(tp, 3.0, 0.3);

    // 25 s are measured in two pieces that meet at frame 600000: a short
    // burst across that frame is seen exactly as one pass sees it.
    const TLoudness across = measure_loudness(*store(kRate, 2, 25 * kRate, burst(600000 - 8, 16)));
    const TLoudness alone = measure_loudness(*store(kRate, 2, kRate, burst(20000 - 8, 16)));
    ASSERT_TRUE(across.true_peak && alone.true_peak);
    EXPECT_GT(*alone.true_peak, 1.0);
    EXPECT_EQ(*across.true_peak, *alone.true_peak);
}

/// The true peak of a store by libebur128 in one pass over the whole file.
double one_pass_true_peak(const TWav& w) {
    ebur128_state* s = ebur128_init(unsigned(w.nchans()), static_cast<unsigned long>(w.sampfreq()),
                                     EBUR128_MODE_TRUE_PEAK);
    std::vector<int16_t> frames;
    for (int64_t i = 0; i < w.nsamples(); ++i)
        for (int c = 0; c < w.nchans(); ++c) frames.push_back(w.samples()[size_t(c)][size_t(i)]);
    ebur128_add_frames_short(s, frames.data(), size_t(w.nsamples()));
    double peak = 0;
    for (int c = 0; c < w.nchans(); ++c) {
        double v = 0;
        ebur128_true_peak(s, unsigned(c), &v);
        peak = std::max(peak, v);
    }
    ebur128_destroy(&s);
    return peak;
}

TEST(Loudness, TruePeakOfTheBlocksThatCanHoldItIsThatOfOnePass) {
    // Only the blocks whose samples could reach the largest true peak go
    // through the interpolator; the result must be one pass's, whatever
    // the material. The hardest input for that is the one whose signs
    // follow the interpolator's coefficients at the half-sample phase:
    // +-0.25 in the pattern of a sinc sampled between its zeros gives
    // 0.25 times the interpolator's largest gain, in a file whose other
    // samples may be larger.
    const auto worst = [](int64_t at, int factor) {
        return [=](int, int64_t i) {
            const int64_t k = at - i;  // how far back from the output frame
            if (k < 0 || k > 48 / factor) return 0.0;
            const double m = double(k * factor + factor / 2) - 24.0;
            return (std::sin(m * std::numbers::pi / factor) >= 0) == (m >= 0) ? 0.25 : -0.25;
        };
    };
    std::mt19937 rng(7);
    std::normal_distribution<double> gauss(0.0, 0.08);
    std::vector<double> noise(size_t(30 * kRate));
    for (double& v : noise) v = gauss(rng);
    const struct {
        const char* label;
        std::unique_ptr<TWav> wav;
    } cases[] = {
        {"sinc pattern at 48 kHz", store(kRate, 1, kRate, worst(30000, 4))},
        {"sinc pattern at 96 kHz", store(96000, 1, 96000, worst(50000, 2))},
        {"sinc pattern beside a larger lone sample", store(kRate, 2, kRate,
                                                           [&](int c, int64_t i) {
                                                               return c == 1 && i == 5000 ? 0.4 : worst(30000, 4)(c, i);
                                                           })},
        {"sinc pattern at the very start", store(kRate, 1, kRate, worst(12, 4))},
        // Blocks are 64 frames: frames 30014 … 30026 lie across two of them.
        {"sinc pattern across two blocks", store(kRate, 1, kRate, worst(30026, 4))},
        {"30 s of noise with a loud stretch", store(kRate, 2, 30 * kRate,
                                                    [&](int c, int64_t i) {
                                                        const double g = i > 20 * kRate && i < 21 * kRate ? 3.0 : 1.0;
                                                        return g * noise[size_t((i + c * 977) % (30 * kRate))];
                                                    })},
        {"200 kHz, not interpolated", store(200000, 1, 200000, worst(1000, 4))},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.label);
        const TLoudness l = measure_loudness(*k.wav);
        ASSERT_TRUE(l.true_peak);
        EXPECT_EQ(*l.true_peak, one_pass_true_peak(*k.wav));
    }
    // The pattern does reach the gain the blocks are judged by (the sum of
    // the coefficients' magnitudes, 1.864 at 4x, 2.307 at 2x): the bound is tight, and
    // libebur128's interpolator is the one it was worked out for.
    EXPECT_NEAR(*measure_loudness(*cases[0].wav).true_peak / 0.25, 1.8642, 0.001);
    EXPECT_NEAR(*measure_loudness(*cases[1].wav).true_peak / 0.25, 2.3068, 0.001);
}

TEST(Loudness, ValuesThatDoNotExist) {
    const auto tone = [](int64_t n) { return store(kRate, 2, n, [](int, int64_t i) { return 0.1 * sine1k(i); }); };
    const struct {
        const char* label;
        std::unique_ptr<TWav> wav;
        bool loudness, shortterm, range, peak;
    } cases[] = {
        {"2 s of silence", store(kRate, 2, 2 * kRate, [](int, int64_t) { return 0.0; }), false, false, false, true},
        {"0.2 s tone", tone(kRate / 5), false, false, false, true},
        {"0.45 s tone: one 400 ms block, no 3 s window", tone(kRate * 45 / 100), true, false, false, true},
        {"2.9 s tone: no full 3 s window", tone(kRate * 29 / 10), true, false, false, true},
        {"3 s tone: one 3 s window", tone(kRate * 3), true, true, true, true},
        {"3.5 s tone", tone(kRate * 7 / 2), true, true, true, true},
        {"no samples", tone(0), false, false, false, false},
        {"a rate libebur128 does not take", store(10, 1, 100, [](int, int64_t) { return 0.5; }), false, false,
         false, false},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.label);
        const TLoudness l = measure_loudness(*k.wav);
        EXPECT_TRUE(l.measured);
        EXPECT_EQ(bool(l.integrated), k.loudness);
        EXPECT_EQ(bool(l.shortterm_max), k.shortterm);
        EXPECT_EQ(bool(l.range), k.range);
        EXPECT_EQ(bool(l.true_peak), k.peak);
    }
    EXPECT_EQ(*measure_loudness(*store(kRate, 1, kRate, [](int, int64_t) { return 0.0; })).true_peak, 0.0);
    // A tone that ends with the first full window: that window's loudness,
    // not one of a window reaching back before the start.
    EXPECT_NEAR(*measure_loudness(*tone(kRate * 3)).shortterm_max, -20, 0.1);
}

TEST(Loudness, GivenUpWhenTheCheckRaises) {
    struct Stop : std::runtime_error {
        Stop() : std::runtime_error("stop") {}
    };
    auto wav = tones({{60, -20}}, {0, 0});
    std::atomic<int> calls{0};
    EXPECT_THROW(measure_loudness(*wav,
                                  [&] {
                                      if (++calls > 20) throw Stop();
                                  }),
                 Stop);
    // Every job stops at its next check: far fewer calls than a whole
    // measurement makes (600 steps of 100 ms and as many for the peaks).
    EXPECT_LT(calls.load(), 100);
}

}  // namespace
}  // namespace wavrell
