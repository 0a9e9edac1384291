// Spectrogram pictures and average spectra of files that sox (and lame)
// make: their tones where they belong at their level, nothing where there is
// nothing, the cut of a lossy coder, and a logarithmic axis that makes an
// exponential sweep a straight line.
#include "workspace/spectrogram.h"

#include "workspace/frame_source.h"
#include "audio/wav_file.h"
#include "tests/support/test_support.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace wavrell {
namespace {

constexpr float kFloor = -120;  // the window's default range

class Spectrogram : public ::testing::Test {
protected:
    void SetUp() override { dir = test::build_temp_dir(); }
    QString path(const QString& name) const { return dir->filePath(name); }

    /// A 16-bit file made by `sox -n` with the effects given (no dither:
    /// silence stays digital silence).
    QString made(const QString& name, int rate, int channels, const QStringList& effects) {
        const QString out = path(name);
        EXPECT_TRUE(test::sox(QStringList{QStringLiteral("-D"), QStringLiteral("-R"), QStringLiteral("-n"), QStringLiteral("-r"),
                                          QString::number(rate), QStringLiteral("-c"), QString::number(channels),
                                          QStringLiteral("-b"), QStringLiteral("16"), out} +
                              effects));
        return out;
    }

    TSpectrogramPicture picture(const TWav& wav, int width, int height, bool log, int fftsize = kFftSizeDefault,
                                int64_t offset = 0, double seconds = 0) {
        const TWavFrameSource source(wav, offset);
        const TFrequencyAxis axis{wav.sampfreq() / 2.0, log, height};
        TSpectrogramPicture p;
        EXPECT_TRUE(spectrogram_picture(source, -1, 0, seconds > 0 ? seconds : wav.tottime(), width, axis, fftsize,
                                        p, nullptr, 2));
        return p;
    }

    std::unique_ptr<QTemporaryDir> dir;
};

std::unique_ptr<TWav> opened(const QString& path) {
    auto w = std::make_unique<TWav>();
    w->open_file(path);
    return w;
}

/// The row of a column with the highest level.
int loudest_row(const TSpectrogramPicture& p, int x) {
    int best = 0;
    for (int y = 1; y < p.height; ++y)
        if (p.at(x, y) > p.at(x, best)) best = y;
    return best;
}

// A sine reads its level at its frequency in every column, wherever it
// falls between two bins, at every transform size.
TEST_F(Spectrogram, SineReadsItsLevelAtItsFrequency) {
    struct Case {
        double hz, db;
        int rate, fftsize;
    } cases[] = {
        {1000, -6, 48000, 4096},  // a third of a bin off a bin centre
        {1000, -6, 44100, 4096},
        {3187, -20, 44100, 1024},  // halfway between two bins
        {440, -6, 48000, 16384},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.hz << " Hz at " << c.rate << " Hz, FFT " << c.fftsize);
        const auto w = opened(made(QStringLiteral("sine.wav"), c.rate, 1,
                                   {QStringLiteral("synth"), QStringLiteral("3"), QStringLiteral("sine"),
                                    QString::number(c.hz), QStringLiteral("gain"), QString::number(c.db)}));
        const TFrequencyAxis axis{c.rate / 2.0, false, 600};
        const TSpectrogramPicture p = picture(*w, 300, axis.height, false, c.fftsize);
        const double bin = double(c.rate) / c.fftsize;
        for (int x = 0; x < p.width; ++x) {
            const int y = loudest_row(p, x);
            // The row's band lies within one bin of the tone.
            EXPECT_LE(axis.hz_at(y + 1), c.hz + bin) << "column " << x;
            EXPECT_GE(axis.hz_at(y), c.hz - bin) << "column " << x;
            EXPECT_NEAR(p.at(x, y), c.db, 0.5) << "column " << x;
        }
        const std::vector<float> s = average_spectrum(TWavFrameSource(*w), -1, 0, w->nsamples(), c.fftsize);
        const auto peak = std::max_element(s.begin(), s.end());
        EXPECT_NEAR((peak - s.begin()) * bin, c.hz, bin);
        EXPECT_NEAR(*peak, c.db, 0.5);
    }
}

// Two tones (one per channel, so each is half of the channel mean): both
// rows show, nothing else comes within 10 dB of the floor outside the
// window's skirt around them.
TEST_F(Spectrogram, TwoSinesAndNothingElse) {
    const auto w = opened(made(QStringLiteral("two.wav"), 48000, 2,
                               {QStringLiteral("synth"), QStringLiteral("3"), QStringLiteral("sine"),
                                QStringLiteral("440"), QStringLiteral("sine"), QStringLiteral("12000"),
                                QStringLiteral("gain"), QStringLiteral("-3")}));
    const TFrequencyAxis axis{24000, false, 512};
    const TSpectrogramPicture p = picture(*w, 200, axis.height, false);
    const double expected = 20 * std::log10(0.5) - 3;
    for (int x = 0; x < p.width; ++x) {
        for (double hz : {440.0, 12000.0}) {
            const int y = int(axis.y_of(hz));
            EXPECT_NEAR(std::max({p.at(x, y - 1), p.at(x, y), p.at(x, y + 1)}), expected, 0.5) << hz << " Hz";
        }
        for (int y = 0; y < p.height; ++y) {
            const double lo = axis.hz_at(y + 1), hi = axis.hz_at(y);
            if ((hi > 440 - 600 && lo < 440 + 600) || (hi > 12000 - 600 && lo < 12000 + 600)) continue;
            ASSERT_LT(p.at(x, y), kFloor + 10) << "column " << x << ", " << lo << " … " << hi << " Hz";
        }
    }
}

// Digital silence is below every floor; a file's columns before its start
// and after its end (as its offset on the time line puts it) hold nothing.
TEST_F(Spectrogram, SilenceAndTimePlacement) {
    const auto silent = opened(made(QStringLiteral("silent.wav"), 44100, 2, {QStringLiteral("trim"),
                                                                             QStringLiteral("0"),
                                                                             QStringLiteral("2")}));
    const TSpectrogramPicture s = picture(*silent, 100, 200, true);
    for (float v : s.db) ASSERT_LE(v, -150);

    // 1 s of silence, 1 s of a tone, 1 s of silence; drawn 0.5 s late.
    const auto w = opened(made(QStringLiteral("burst.wav"), 44100, 1,
                               {QStringLiteral("synth"), QStringLiteral("1"), QStringLiteral("sine"),
                                QStringLiteral("2000"), QStringLiteral("pad"), QStringLiteral("1"),
                                QStringLiteral("1")}));
    const TSpectrogramPicture p = picture(*w, 400, 200, false, kFftSizeDefault, -22050, 4.0);
    const TFrequencyAxis axis{22050, false, 200};
    const int tone = int(axis.y_of(2000));
    for (int x = 0; x < p.width; ++x) {
        const double t = (x + 0.5) * 4.0 / p.width;  // column centre, s
        if (t < 0.5 || t > 3.5) {
            EXPECT_TRUE(std::isnan(p.at(x, tone))) << t << " s";
        } else if (t > 1.6 && t < 2.4) {
            EXPECT_GT(p.at(x, tone), -3.5) << t << " s";
        } else if (t < 1.4 || t > 2.6) {
            EXPECT_LT(p.at(x, tone), kFloor) << t << " s";
        }
    }
}

// A 128 kbit/s MP3 of pink noise has (nearly) nothing above 17 kHz: the
// mean level there is at least 30 dB below that of 2–15 kHz, where the
// original's differs by far less.
TEST_F(Spectrogram, LossyCoderCutShows) {
    const QString wav = made(QStringLiteral("pink.wav"), 44100, 2,
                             {QStringLiteral("synth"), QStringLiteral("10"), QStringLiteral("pinknoise"),
                              QStringLiteral("gain"), QStringLiteral("-6")});
    const QString mp3 = path(QStringLiteral("pink.mp3"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("lame"), {QStringLiteral("--quiet"), QStringLiteral("-b"),
                                                          QStringLiteral("128"), QStringLiteral("--cbr"), wav, mp3}),
              0);
    const auto band_mean = [](const std::vector<float>& s, double bin, double lo, double hi) {
        double sum = 0;
        int n = 0;
        for (size_t k = 0; k < s.size(); ++k)
            if (k * bin >= lo && k * bin < hi) sum += s[k], ++n;
        return sum / std::max(n, 1);
    };
    double gap[2];
    int i = 0;
    for (const QString& f : {wav, mp3}) {
        const auto w = opened(f);
        const std::vector<float> s = average_spectrum(TWavFrameSource(*w), -1, 0, w->nsamples(), kFftSizeDefault);
        ASSERT_FALSE(s.empty());
        const double bin = w->sampfreq() / double(kFftSizeDefault);
        gap[i++] = band_mean(s, bin, 2000, 15000) - band_mean(s, bin, 17000, 22050);
    }
    EXPECT_LT(gap[0], 15) << "the original";
    EXPECT_GE(gap[1], 30) << "the MP3";
}

// On the logarithmic axis an exponential sweep is a straight line: the
// loudest row of each column lies within one row of the fitted line.
TEST_F(Spectrogram, LogSweepIsAStraightLine) {
    const auto w = opened(made(QStringLiteral("sweep.wav"), 48000, 1,
                               {QStringLiteral("synth"), QStringLiteral("20"), QStringLiteral("sine"),
                                QStringLiteral("500/16000"), QStringLiteral("gain"), QStringLiteral("-6")}));
    const TSpectrogramPicture p = picture(*w, 400, 300, true);
    // Columns away from the ends, where the transforms reach past the sweep.
    std::vector<double> xs, ys;
    for (int x = 10; x < p.width - 10; ++x) {
        xs.push_back(x);
        ys.push_back(loudest_row(p, x));
    }
    const double n = double(xs.size());
    const double mx = std::accumulate(xs.begin(), xs.end(), 0.0) / n, my = std::accumulate(ys.begin(), ys.end(), 0.0) / n;
    double sxy = 0, sxx = 0;
    for (size_t i = 0; i < xs.size(); ++i) sxy += (xs[i] - mx) * (ys[i] - my), sxx += (xs[i] - mx) * (xs[i] - mx);
    const double slope = sxy / sxx;
    // Five octaves of ten: half the picture's height.
    EXPECT_NEAR(-slope * (p.width - 1), p.height * std::log2(32.0) / std::log2(24000 / kLogAxisLowHz), 3);
    for (size_t i = 0; i < xs.size(); ++i)
        ASSERT_LE(std::abs(ys[i] - (my + slope * (xs[i] - mx))), 1.0) << "column " << xs[i];
}

}  // namespace
}  // namespace wavrell
