// The null test on constructed pairs: file 1 is a band-limited, music-like
// signal made here (so that it can be evaluated between samples, delayed by
// a fraction or played at another speed exactly), written by sox; file 2 is
// made from the same signal.
#include "workspace/difference.h"

#include "audio/wav_file.h"
#include "tests/support/test_support.h"

#include <QFile>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

namespace wavrell {
namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr double kSeconds = 8;

/// Forty partials between 60 Hz and 9 kHz, weaker towards the top, each
/// channel with its own phases, under a slow swell: band-limited, so its
/// value at any real time t (in frames) is known.
struct Music {
    struct Partial {
        double w, a, phase[kChannels];
    };
    std::vector<Partial> partials;
    Music() {
        std::mt19937 rng(7);
        std::uniform_real_distribution<double> u(0, 2 * M_PI);
        for (int k = 0; k < 40; ++k) {
            const double f = 60 * std::pow(150.0, k / 39.0);
            partials.push_back({2 * M_PI * f / kRate, 900 / std::sqrt(f / 60), {u(rng), u(rng)}});
        }
    }
    double at(int ch, double t) const {
        double s = 0;
        for (const Partial& p : partials) s += p.a * std::sin(p.w * t + p.phase[ch]);
        return s * (1 + 0.5 * std::sin(2 * M_PI * 0.3 * t / kRate));
    }
};

const Music& music() {
    static const Music m;
    return m;
}

/// frames × channels values of f(ch, n) rounded to 16 bits, interleaved.
std::vector<double> render(int64_t frames, const std::function<double(int, int64_t)>& f) {
    std::vector<double> v(size_t(frames) * kChannels);
    for (int64_t n = 0; n < frames; ++n)
        for (int ch = 0; ch < kChannels; ++ch) v[size_t(n) * kChannels + size_t(ch)] = f(ch, n);
    return v;
}

double rms(const std::vector<double>& v) {
    double s = 0;
    for (double x : v) s += x * x;
    return std::sqrt(s / double(v.size()));
}

class Difference : public ::testing::Test {
protected:
    void SetUp() override {
        dir = test::build_temp_dir();
        frames = int64_t(kSeconds * kRate);
        file1 = render(frames, [](int ch, int64_t n) { return music().at(ch, double(n)); });
        path1 = write(QStringLiteral("file1.wav"), file1);
    }

    QString write(const QString& name, const std::vector<double>& v) {
        QByteArray raw(int(v.size() * 2), Qt::Uninitialized);
        auto* p = reinterpret_cast<int16_t*>(raw.data());
        for (size_t i = 0; i < v.size(); ++i) p[i] = int16_t(std::clamp(std::lrint(v[i]), -32768L, 32767L));
        const QString path = dir->filePath(name);
        EXPECT_TRUE(test::sox_write(path, raw, kRate, kChannels));
        return path;
    }

    /// The difference of file 1 against the file at path2, lined up as the
    /// program lines them up (whole offset and polarity first).
    std::shared_ptr<const TDifference> difference(const QString& path2) {
        TWav w1, w2;
        w1.open_file(path1);
        w2.open_file(path2);
        const TAlignment a = estimate_alignment(*make_align_signal(w1), *make_align_signal(w2));
        EXPECT_TRUE(a.aligned());
        return compute_difference(w1, w2, a.offset, a.inverted ? -1 : 1, true);
    }

    std::unique_ptr<QTemporaryDir> dir;
    int64_t frames = 0;
    std::vector<double> file1;
    QString path1;
};

// The pairs of the null test, each with what it must find.
TEST_F(Difference, ConstructedPairs) {
    // Independent white noise 60 dB below the RMS of half of file 1.
    std::vector<double> noise(file1.size());
    std::mt19937 rng(11);
    std::normal_distribution<double> gauss;
    for (double& v : noise) v = gauss(rng);
    const double scale = 0.5 * rms(file1) * 1e-3 / rms(noise);
    for (double& v : noise) v *= scale;
    const auto noisy = [&](double sign) {
        std::vector<double> v(file1.size());
        for (size_t i = 0; i < v.size(); ++i) v[i] = sign * (0.5 * file1[i] + noise[i]);
        return v;
    };
    const double fast = 1.0001;  // file 2 runs 100 ppm fast
    struct Case {
        const char* name;
        std::vector<double> file2;
        bool identical;
        double gain_db, gain_tol;    // tol 0: not checked
        double delay, delay_tol;
        double drift_ppm, drift_tol;
        double depth_lo, depth_hi;   // null depth within [lo, hi]
    };
    const Case cases[] = {
        {"same", file1, true, 0, 0, 0, 0.001, 0, 0.001, 0, 0},
        {"half plus noise", noisy(1), false, 6.02, 0.02, 0, 0.05, 0, 0.5, -60.5, -59.5},
        {"inverted half plus noise", noisy(-1), false, 6.02, 0.02, 0, 0.05, 0, 0.5, -60.5, -59.5},
        {"delayed 1105.5 frames",
         render(frames + 1200, [](int ch, int64_t n) { return music().at(ch, double(n) - 1105.5); }), false, 0, 0.02,
         1105.5, 0.05, 0, 0.5, -200, -60},
        {"100 ppm fast", render(int64_t(double(frames) / fast), [&](int ch, int64_t n) { return music().at(ch, double(n) * fast); }),
         false, 0, 0.05, 0, 0.5, (1 / fast - 1) * 1e6, 2, -200, -50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto d = difference(write(QStringLiteral("file2.wav"), c.file2));
        ASSERT_TRUE(d);
        const TDifferenceFigures& f = d->figures();
        ASSERT_TRUE(f.overlap);
        EXPECT_EQ(f.identical, c.identical);
        if (c.identical) continue;
        EXPECT_NEAR(f.gain_db(), c.gain_db, c.gain_tol);
        EXPECT_NEAR(f.delay, c.delay, c.delay_tol);
        EXPECT_NEAR(f.drift_ppm, c.drift_ppm, c.drift_tol);
        EXPECT_EQ(f.resampled, std::abs(c.drift_ppm) >= kDriftCorrectionPpm);
        EXPECT_GE(f.null_depth_db, c.depth_lo);
        EXPECT_LE(f.null_depth_db, c.depth_hi);
        // Every block of this loud signal counts; the statistics order.
        ASSERT_TRUE(f.block_median_db && f.block_p95_db && f.block_max_db);
        EXPECT_LE(*f.block_median_db, *f.block_p95_db);
        EXPECT_LE(*f.block_p95_db, *f.block_max_db);
        EXPECT_NEAR(*f.block_median_db, f.null_depth_db, 3);
        EXPECT_EQ(f.block_db.size(), size_t(f.overlap_frames / f.block_frames));
    }
}

// The kept difference is d itself: the test's own d from the same samples
// (gain and lag from the figures; whole offset, no drift) equals what is
// played at +0 dB within one step, and louder playback clips and counts.
TEST_F(Difference, KeptSamplesAreTheDifference) {
    std::vector<double> file2(file1.size());
    for (size_t i = 0; i < file2.size(); ++i) file2[i] = 0.8 * file1[i] + 2000 * std::sin(0.001 * double(i));
    const auto d = difference(write(QStringLiteral("file2.wav"), file2));
    ASSERT_TRUE(d);
    const TDifferenceFigures& f = d->figures();
    ASSERT_FALSE(f.identical);
    ASSERT_EQ(f.delay, 0.0);
    ASSERT_FALSE(f.resampled);
    TWav w1, w2;
    w1.open_file(path1);
    w2.open_file(dir->filePath(QStringLiteral("file2.wav")));
    std::vector<int16_t> played(size_t(f.overlap_frames) * kChannels);
    EXPECT_EQ(d->play(kChannels, f.overlap_first, int(f.overlap_frames), 1.0, played.data()), 0);
    double worst = 0, peak = 0;
    for (int64_t n = 0; n < f.overlap_frames; ++n)
        for (int ch = 0; ch < kChannels; ++ch) {
            const int64_t k = f.overlap_first + n;
            const double own = w1.samples()[size_t(ch)][size_t(k)] - f.gain * w2.samples()[size_t(ch)][size_t(k)];
            worst = std::max(worst, std::abs(played[size_t(n) * kChannels + size_t(ch)] - own));
            peak = std::max(peak, std::abs(own));
        }
    EXPECT_LE(worst, 1.0);
    EXPECT_NEAR(d->peak() * 32768, peak, 1.0);
    // The extremes for drawing are those of the samples read.
    std::vector<float> v(1000);
    d->read(0, f.overlap_first + 5000, 1000, v.data());
    float lo = 0, hi = 0;
    ASSERT_TRUE(d->minmax(0, f.overlap_first + 5000, f.overlap_first + 5999, lo, hi));
    EXPECT_EQ(lo, *std::min_element(v.begin(), v.end()));
    EXPECT_EQ(hi, *std::max_element(v.begin(), v.end()));
    // As a frame source: a channel as read, the channels' mean, and
    // silence before the overlap.
    const TDifferenceFrameSource source(d);
    EXPECT_EQ(source.first(), f.overlap_first);
    EXPECT_EQ(source.end(), f.overlap_first + f.overlap_frames);
    std::vector<float> got(1000), other(1000);
    source.read(0, f.overlap_first + 5000, 1000, got.data());
    EXPECT_EQ(got, v);
    source.read(-1, f.overlap_first + 5000, 1000, got.data());
    d->read(1, f.overlap_first + 5000, 1000, other.data());
    for (size_t i = 0; i < v.size(); ++i) EXPECT_FLOAT_EQ(got[i], (v[i] + other[i]) / 2) << i;
    source.read(-1, f.overlap_first - 1000, 1000, got.data());
    EXPECT_EQ(got, std::vector<float>(1000, 0.0f));
    // +40 dB drives the peaks beyond full scale.
    EXPECT_GT(d->play(kChannels, f.overlap_first, int(f.overlap_frames), 100.0, played.data()), 0);
}

// A 128 kbit/s MP3 of the music (lame through ffmpeg), decoded by ffmpeg:
// the program's null depth on the decoded samples is the test's own, taken
// at the best whole lag with the least-squares gain.
TEST_F(Difference, Mp3AgainstOwnComputation) {
    const QString mp3 = dir->filePath(QStringLiteral("music.mp3"));
    const QString decoded = dir->filePath(QStringLiteral("decoded.wav"));
    ASSERT_EQ(test::run_program(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path1,
                                                           QStringLiteral("-c:a"), QStringLiteral("libmp3lame"),
                                                           QStringLiteral("-b:a"), QStringLiteral("128k"), mp3}),
              0);
    ASSERT_EQ(test::run_program(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), mp3,
                                                           QStringLiteral("-c:a"), QStringLiteral("pcm_s16le"), decoded}),
              0);
    const auto d = difference(decoded);
    ASSERT_TRUE(d);
    TWav w1, w2;
    w1.open_file(path1);
    w2.open_file(decoded);
    // The test's own: the whole lag of the largest correlation of channel 0
    // within ±3000 frames, then gain and depth over both channels.
    const auto& x = w1.samples();
    const auto& y = w2.samples();
    const int64_t n1 = w1.nsamples(), n2 = w2.nsamples();
    int64_t best = 0;
    double bestc = -1;
    for (int64_t lag = -3000; lag <= 3000; ++lag) {
        double c = 0;
        for (int64_t n = std::max<int64_t>(0, -lag) + 20000; n < std::min(n1, n2 - lag) - 20000; n += 7)
            c += double(x[0][size_t(n)]) * y[0][size_t(n + lag)];
        if (c > bestc) {
            bestc = c;
            best = lag;
        }
    }
    double xx = 0, xy = 0, yy = 0;
    for (int ch = 0; ch < kChannels; ++ch)
        for (int64_t n = std::max<int64_t>(0, -best); n < std::min(n1, n2 - best); ++n) {
            const double a = x[size_t(ch)][size_t(n)], b = y[size_t(ch)][size_t(n + best)];
            xx += a * a;
            xy += a * b;
            yy += b * b;
        }
    const double g = xy / yy;
    const double own = 10 * std::log10((xx - 2 * g * xy + g * g * yy) / xx);
    EXPECT_NEAR(d->figures().null_depth_db, own, 0.5);
    EXPECT_LT(own, -10);  // a real null, not noise against noise
}

// Files that cannot be subtracted are refused with both channel counts named.
TEST_F(Difference, ChannelCountsDiffer) {
    TWav w1, w2;
    w1.open_file(path1);
    const QString mono = dir->filePath(QStringLiteral("mono.wav"));
    ASSERT_TRUE(test::sox({path1, mono, QStringLiteral("remix"), QStringLiteral("1")}));
    w2.open_file(mono);
    try {
        compute_difference(w1, w2, 0, 1, false);
        FAIL() << "no error";
    } catch (const EDifferenceError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("2 channels"))) << e.message().toStdString();
        EXPECT_TRUE(e.message().contains(QStringLiteral("has 1"))) << e.message().toStdString();
    }
    // No overlap at all: nothing to compare, no error.
    TWav w3;
    w3.open_file(path1);
    const auto d = compute_difference(w1, w3, w1.nsamples() + 10, 1, false);
    ASSERT_TRUE(d);
    EXPECT_FALSE(d->figures().overlap);
}

}  // namespace
}  // namespace wavrell
