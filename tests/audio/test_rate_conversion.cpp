// Sampling-rate conversion of a sample store with libsoxr: lengths, what a
// sine becomes (frequency, phase and level against the exact sine at the new
// rate), saturation, and giving up.
#include "audio/rate_conversion.h"
#include "audio/wav_file.h"
#include "common/errors.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <numbers>

namespace wavrell {
namespace {

/// A store of `channels` sines (channel c at freqs[c] Hz, amplitude amps[c]).
void fill_sines(TWav& w, int rate, int frames, const std::vector<double>& freqs, const std::vector<double>& amps) {
    w.setFilename(QStringLiteral("/music/sines.flac"));
    w.setSampfreq(rate);
    w.setNchans(int32_t(freqs.size()));
    w.setNsamples(frames);
    for (size_t c = 0; c < freqs.size(); ++c)
        for (int i = 0; i < frames; ++i)
            w.samples()[c][size_t(i)] =
                int16_t(std::nearbyint(amps[c] * std::sin(2 * std::numbers::pi * freqs[c] * i / rate)));
}

TEST(RateConversion, LengthIsTheExactRatioRoundedHalfToEven) {
    const struct {
        int64_t frames;
        int32_t from, to;
        int64_t length;
    } cases[] = {
        {48000, 48000, 44100, 44100}, {1000, 44100, 48000, 1088}, {1, 8000, 96000, 12},
        {0, 48000, 44100, 0},         {7, 44100, 22050, 4},       {5, 44100, 22050, 2},
        {9, 44100, 22050, 4},         {10, 44100, 44101, 10},     {441001, 44100, 48000, 480001},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(testing::Message() << k.frames << " frames " << k.from << " -> " << k.to);
        EXPECT_EQ(converted_length(k.frames, k.from, k.to), k.length);
        EXPECT_LE(std::abs(double(k.length) - double(k.frames) * k.to / k.from), 0.5);
        TWav w;
        fill_sines(w, k.from, int(k.frames), {440, 1000}, {1000, 2000});
        ASSERT_TRUE(convert_rate(w, k.to));
        EXPECT_EQ(w.sampfreq(), k.to);
        EXPECT_EQ(w.nsamples(), k.length);
        EXPECT_EQ(w.nchans(), 2);
        for (const auto& row : w.samples()) EXPECT_EQ(int64_t(row.size()), k.length);
    }
}

// Every converted sample away from the ends equals the exact sine at the new
// rate to within the 16-bit rounding of input and output: the frequency, the
// phase (no delay) and the level are kept, channel by channel (three channels
// spread over two threads).
TEST(RateConversion, SinesKeepFrequencyPhaseAndLevel) {
    const std::vector<double> freqs{1000, 5000, 440}, amps{16384, 8000, 30000};
    const struct {
        int32_t from, to;
    } cases[] = {{48000, 44100}, {44100, 48000}, {44100, 96000}, {96000, 44100}};
    for (const auto& k : cases) {
        SCOPED_TRACE(testing::Message() << k.from << " -> " << k.to);
        TWav w;
        fill_sines(w, k.from, 2 * k.from, freqs, amps);
        w.setChannelmask(0x7);
        ASSERT_TRUE(convert_rate(w, k.to));
        ASSERT_EQ(w.nsamples(), 2 * k.to);
        EXPECT_EQ(w.filename(), QStringLiteral("/music/sines.flac"));
        EXPECT_EQ(w.channelmask(), 0x7u);
        for (size_t c = 0; c < freqs.size(); ++c) {
            SCOPED_TRACE(testing::Message() << "channel " << c);
            int worst = 0;
            int64_t at = 0;
            for (int i = k.to / 10; i < 2 * k.to - k.to / 10; ++i) {
                const double exact = amps[c] * std::sin(2 * std::numbers::pi * freqs[c] * i / k.to);
                const int d = int(std::abs(w.samples()[c][size_t(i)] - exact) + 0.5);
                if (d > worst) worst = d, at = i;
            }
            EXPECT_LE(worst, 2) << "at sample " << at;
        }
    }
}

// The ringing of the conversion around a full-scale step goes beyond full
// scale: it is held at the limits, never wrapped around.
TEST(RateConversion, OvershootBeyondFullScaleSaturates) {
    TWav w;
    w.setSampfreq(48000);
    w.setNchans(1);
    w.setNsamples(48000);
    for (int i = 0; i < 48000; ++i) w.samples()[0][size_t(i)] = (i / 24) % 2 ? -32768 : 32767;  // 1 kHz square
    ASSERT_TRUE(convert_rate(w, 44100));
    const auto& row = w.samples()[0];
    EXPECT_EQ(*std::max_element(row.begin(), row.end()), 32767);
    EXPECT_EQ(*std::min_element(row.begin(), row.end()), -32768);
    int wrong = 0;
    for (int i = 100; i < 44000; ++i) {
        // Away from the edges the square's sign must hold.
        const double phase = std::fmod(i * 1000.0 / 44100.0, 1.0);
        if (std::abs(phase - 0.5) < 0.1 || phase < 0.1 || phase > 0.9) continue;
        if ((phase < 0.5) != (row[size_t(i)] > 20000)) ++wrong;
    }
    EXPECT_EQ(wrong, 0);
}

TEST(RateConversion, StopGivesUpAndErrorsNameTheFile) {
    TWav w;
    fill_sines(w, 48000, 200000, {1000, 2000}, {1000, 1000});
    std::atomic<bool> stop{true};
    EXPECT_FALSE(convert_rate(w, 44100, &stop));
    EXPECT_EQ(w.nsamples(), 0);

    fill_sines(w, 48000, 1000, {1000}, {1000});
    EXPECT_TRUE(convert_rate(w, 48000));  // already there: nothing to do
    EXPECT_EQ(w.nsamples(), 1000);
    try {
        convert_rate(w, 0);
        ADD_FAILURE() << "no error";
    } catch (const EFileError& e) {
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("Cannot convert \"/music/sines.flac\" from 48000 Hz to 0 Hz")))
            << e.what();
    }
    EXPECT_EQ(w.nsamples(), 1000);
    EXPECT_EQ(w.sampfreq(), 48000);
}

}  // namespace
}  // namespace wavrell
