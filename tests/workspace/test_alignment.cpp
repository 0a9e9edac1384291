// The offset estimate of file 2 against file 1, on pairs that sox makes from
// one recording: delayed (pad) or cut (trim), inverted, with noise added,
// through a lossy codec and back.
#include "workspace/alignment.h"

#include "audio/wav_file.h"
#include "tests/support/test_support.h"

#include <QFileInfo>
#include <QtEndian>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace wavrell {
namespace {

constexpr int kRate = 44100;

std::shared_ptr<const TAlignSignal> signal_of(const QString& path) {
    TWav w;
    w.open_file(path);
    return make_align_signal(w);
}

TAlignment align(const QString& file1, const QString& file2) {
    return estimate_alignment(*signal_of(file1), *signal_of(file2));
}

class Alignment : public ::testing::Test {
protected:
    void SetUp() override {
        dir = test::build_temp_dir();
        // 12 s of stereo pink noise: most of its energy is low, as in music,
        // which makes the correlation peak broad. -R: the same noise on
        // every run.
        original = path(QStringLiteral("original.wav"));
        ASSERT_TRUE(test::sox({QStringLiteral("-R"), QStringLiteral("-n"), QStringLiteral("-r"), QString::number(kRate),
                               QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("16"),
                               original, QStringLiteral("synth"), QStringLiteral("12"), QStringLiteral("pinknoise"),
                               QStringLiteral("gain"), QStringLiteral("-8")}));
    }

    QString path(const QString& name) const { return dir->filePath(name); }

    /// `from` delayed by d frames (silence put before it) or, for a
    /// negative d, with its first −d frames cut off; then the effects given.
    QString shifted(const QString& from, int64_t d, const QStringList& effects, const QString& name) {
        const QString out = path(name);
        QStringList args{from, QStringLiteral("-b"), QStringLiteral("16"), out};
        if (d > 0) args << QStringLiteral("pad") << QStringLiteral("%1s").arg(d);
        if (d < 0) args << QStringLiteral("trim") << QStringLiteral("%1s").arg(-d);
        args += effects;
        EXPECT_TRUE(test::sox(args));
        return out;
    }

    std::unique_ptr<QTemporaryDir> dir;
    QString original;
};

// Lossless pairs: the estimate is the delay to the frame, the correlation
// near 1, and an inverted copy is recognized as such.
TEST_F(Alignment, DelayedCopiesToTheFrame) {
    const QString noise = path(QStringLiteral("noise.wav"));
    // White noise about 30 dB below the recording.
    ASSERT_TRUE(test::sox({QStringLiteral("-R"), QStringLiteral("-n"), QStringLiteral("-r"), QString::number(kRate),
                           QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("16"), noise,
                           QStringLiteral("synth"), QStringLiteral("20"), QStringLiteral("whitenoise"),
                           QStringLiteral("gain"), QStringLiteral("-38")}));
    struct Case {
        int64_t delay;
        bool inverted;
        bool noisy;
        double minR;
    };
    const Case cases[] = {
        {0, false, false, 0.9999},      {1, false, false, 0.9999},     {-1, false, false, 0.9999},
        {1105, false, false, 0.9999},   {-44100, false, false, 0.9999}, {220499, false, false, 0.9999},
        {1105, true, false, 0.9999},    {-3000, true, false, 0.9999},   {1105, false, true, 0.99},
        {-44100, true, true, 0.99},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "delay " << c.delay << (c.inverted ? ", inverted" : "")
                                        << (c.noisy ? ", noise at -30 dB" : ""));
        QStringList effects;
        if (c.inverted) effects << QStringLiteral("vol") << QStringLiteral("-1");
        QString file2 = shifted(original, c.delay, effects, QStringLiteral("file2.wav"));
        if (c.noisy) {
            const QString mixed = path(QStringLiteral("mixed.wav"));
            // -m mixes; sox cuts the noise to the length of the longer input.
            ASSERT_TRUE(test::sox({QStringLiteral("-m"), QStringLiteral("-v"), QStringLiteral("1"), file2,
                                   QStringLiteral("-v"), QStringLiteral("1"), noise, QStringLiteral("-b"),
                                   QStringLiteral("16"), mixed, QStringLiteral("trim"), QStringLiteral("0"),
                                   QStringLiteral("%1s").arg(12 * kRate + c.delay)}));
            file2 = mixed;
        }
        const TAlignment a = align(original, file2);
        EXPECT_EQ(a.status, asaligned);
        EXPECT_EQ(a.offset, c.delay);
        EXPECT_EQ(a.inverted, c.inverted);
        EXPECT_GE(a.r, c.minR);
        EXPECT_LE(a.r, 1.0);
        EXPECT_NEAR(a.milliseconds(), c.delay * 1000.0 / kRate, 1e-9);

        // The other way round the offset changes its sign.
        const TAlignment back = align(file2, original);
        EXPECT_EQ(back.offset, -c.delay);
        EXPECT_EQ(back.inverted, c.inverted);
    }
}

// The frame where a codec puts an impulse, from the decoded impulses alone:
// its delay, measured without any correlation.
int64_t codec_delay(const QString& dir, const QString& ext) {
    // Three clicks, one second apart, on silence.
    std::vector<int16_t> clicks(size_t(4 * kRate), 0);
    for (int k = 1; k <= 3; ++k) clicks[size_t(k * kRate)] = 20000;
    const QString in = dir + QStringLiteral("/clicks.wav"), coded = dir + QStringLiteral("/clicks.") + ext,
                  out = dir + QStringLiteral("/clicks-decoded.wav");
    EXPECT_TRUE(test::sox_write(in, QByteArray(reinterpret_cast<const char*>(clicks.data()), qsizetype(clicks.size() * 2)),
                                kRate, 1));
    EXPECT_TRUE(test::sox({in, coded}));
    EXPECT_TRUE(test::sox({coded, QStringLiteral("-b"), QStringLiteral("16"), out}));
    TWav w;
    w.open_file(out);
    std::vector<int64_t> found;
    for (int k = 1; k <= 3; ++k) {
        const auto& row = w.samples()[0];
        const int64_t from = k * kRate - 100, to = std::min<int64_t>(k * kRate + 4000, row.size());
        int64_t at = from;
        for (int64_t i = from; i < to; ++i)
            if (std::abs(row[size_t(i)]) > std::abs(row[size_t(at)])) at = i;
        found.push_back(at - k * kRate);
    }
    EXPECT_EQ(found[0], found[1]);
    EXPECT_EQ(found[1], found[2]);
    return found[1];
}

// Lossy round trips made and decoded by sox: the estimate is the delay plus
// the codec's own delay, within one frame.
TEST_F(Alignment, LossyRoundTripsWithinOneFrame) {
    int tried = 0;
    for (const QString& ext : {QStringLiteral("mp3"), QStringLiteral("ogg")}) {
        SCOPED_TRACE(ext.toStdString());
        // Whether this sox can write the format at all.
        QByteArray types;
        test::run_program(QStringLiteral("sox"), {QStringLiteral("-h")}, &types);
        if (!types.contains(QStringLiteral(" %1").arg(ext).toLatin1())) continue;
        ++tried;
        const int64_t delay = codec_delay(dir->path(), ext);
        for (const int64_t d : {int64_t(0), int64_t(-2205), int64_t(777)}) {
            SCOPED_TRACE(testing::Message() << "delay " << d << ", codec delay " << delay);
            const QString file2 = shifted(original, d, {}, QStringLiteral("pre.wav"));
            const QString coded = path(QStringLiteral("coded.") + ext), decoded = path(QStringLiteral("decoded.wav"));
            ASSERT_TRUE(test::sox({file2, coded}));
            ASSERT_TRUE(test::sox({coded, QStringLiteral("-b"), QStringLiteral("16"), decoded}));
            const TAlignment a = align(original, decoded);
            EXPECT_EQ(a.status, asaligned);
            EXPECT_NEAR(double(a.offset), double(d + delay), 1.0);
            EXPECT_FALSE(a.inverted);
            EXPECT_GT(a.r, 0.9);
        }
    }
    if (tried == 0) GTEST_SKIP() << "this sox writes neither MP3 nor Ogg Vorbis";
}

// Music with a steady beat has correlation peaks a beat apart; the
// refinement must still find the true one. The two demo recordings are the
// same mix, one of them limited hard.
TEST_F(Alignment, MusicWithASteadyBeat) {
    const QString original_mix = QStringLiteral(WAVRELL_DEMO_ORIGINAL), loud = QStringLiteral(WAVRELL_DEMO_LOUD);
    const TAlignment same = align(original_mix, loud);
    EXPECT_EQ(same.status, asaligned);
    EXPECT_EQ(same.offset, 0);
    EXPECT_FALSE(same.inverted);
    EXPECT_GT(same.r, 0.8);
    for (const int64_t d : {int64_t(1105), int64_t(-22050), int64_t(200000)}) {
        SCOPED_TRACE(d);
        const TAlignment a = align(original_mix, shifted(loud, d, {}, QStringLiteral("loud-shifted.wav")));
        EXPECT_EQ(a.status, asaligned);
        EXPECT_EQ(a.offset, d);
        EXPECT_NEAR(a.r, same.r, 0.01);
    }
}

// What is refused: unrelated signals, silence, different rates, files too
// short to judge.
TEST_F(Alignment, RefusesWhatCannotBeAligned) {
    const QString other = path(QStringLiteral("other.wav"));
    ASSERT_TRUE(test::sox({QStringLiteral("-n"), QStringLiteral("-r"), QString::number(kRate), QStringLiteral("-c"),
                           QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("16"), other,
                           QStringLiteral("synth"), QStringLiteral("12"), QStringLiteral("pinknoise"),
                           QStringLiteral("gain"), QStringLiteral("-8")}));
    const TAlignment unrelated = align(original, other);
    EXPECT_EQ(unrelated.status, asweak);
    EXPECT_LT(unrelated.r, kAlignMinCorrelation);
    EXPECT_EQ(unrelated.offset, 0);

    const QString silence = path(QStringLiteral("silent.wav"));
    // -D: no dither, true digital silence.
    ASSERT_TRUE(test::sox({QStringLiteral("-D"), QStringLiteral("-n"), QStringLiteral("-r"), QString::number(kRate), QStringLiteral("-c"),
                           QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("16"), silence,
                           QStringLiteral("trim"), QStringLiteral("0"), QStringLiteral("12")}));
    const TAlignment silent = align(original, silence);
    EXPECT_EQ(silent.status, asweak);
    EXPECT_EQ(silent.r, 0.0);

    const QString resampled = shifted(original, 0, {QStringLiteral("rate"), QStringLiteral("48000")}, QStringLiteral("48k.wav"));
    const TAlignment rates = align(original, resampled);
    EXPECT_EQ(rates.status, asratesdiffer);
    EXPECT_EQ(rates.sampfreq1, kRate);
    EXPECT_EQ(rates.sampfreq2, 48000);

    const QString shortFile = shifted(original, 0, {QStringLiteral("trim"), QStringLiteral("0"), QStringLiteral("0.4")},
                                      QStringLiteral("short.wav"));
    EXPECT_EQ(align(original, shortFile).status, astooshort);
    EXPECT_EQ(estimate_alignment(TAlignSignal{}, TAlignSignal{}).status, astooshort);
}

}  // namespace
}  // namespace wavrell
