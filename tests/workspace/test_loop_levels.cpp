#include "workspace/loop_levels.h"
#include "audio/wav_file.h"
#include "tests/support/test_support.h"

#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

using namespace wavrell;

namespace {

constexpr int kRate = 48000;

/// 2 s of a quiet 1 kHz tone, then 2 s of a 440 Hz tone at half of full
/// scale, stereo, written by sox.
QString two_part_file(const QTemporaryDir& dir) {
    const QString quiet = dir.filePath(QStringLiteral("quiet.wav")), loud = dir.filePath(QStringLiteral("loud.wav"));
    const QString both = dir.filePath(QStringLiteral("both.wav"));
    const QStringList format{QStringLiteral("-r"), QString::number(kRate), QStringLiteral("-c"), QStringLiteral("2"),
                             QStringLiteral("-b"), QStringLiteral("16")};
    EXPECT_TRUE(test::sox(QStringList{QStringLiteral("-n")} + format +
                          QStringList{quiet, QStringLiteral("synth"), QStringLiteral("2"), QStringLiteral("sine"),
                                      QStringLiteral("1000"), QStringLiteral("vol"), QStringLiteral("0.05")}));
    EXPECT_TRUE(test::sox(QStringList{QStringLiteral("-n")} + format +
                          QStringList{loud, QStringLiteral("synth"), QStringLiteral("2"), QStringLiteral("sine"),
                                      QStringLiteral("440"), QStringLiteral("vol"), QStringLiteral("0.5")}));
    EXPECT_TRUE(test::sox({quiet, loud, both}));
    return both;
}

/// The integrated loudness of seconds [from, from + length) by ffmpeg's
/// own meter.
std::optional<double> ffmpeg_integrated(const QString& file, double from, double length) {
    QByteArray out, err;
    const int rc = test::run_program(
        QStringLiteral("ffmpeg"),
        {QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"), QStringLiteral("-ss"), QString::number(from),
         QStringLiteral("-t"), QString::number(length), QStringLiteral("-i"), file, QStringLiteral("-af"),
         QStringLiteral("ebur128"), QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")},
        &out, 60000, &err);
    if (rc != 0) return std::nullopt;
    // The summary at the end: "I:         -23.0 LUFS".
    QRegularExpressionMatchIterator it =
        QRegularExpression(QStringLiteral("I:\\s+(-?[0-9.]+) LUFS")).globalMatch(QString::fromUtf8(err));
    std::optional<double> last;
    while (it.hasNext()) last = it.next().captured(1).toDouble();
    return last;
}

}  // namespace

TEST(LoopLevels, RangeLevelsAgainstTheTonesAndAnIndependentMeter) {
    auto dir = test::build_temp_dir();
    const QString file = two_part_file(*dir);
    TWav wav;
    wav.open_file(file);
    ASSERT_EQ(wav.nsamples(), 4 * kRate);
    const double loud_rms = 0.5 / std::sqrt(2.0), quiet_rms = 0.05 / std::sqrt(2.0);
    struct Case {
        const char* what;
        int64_t first, end;
        double rms, peak;
        double from, length;  // the same stretch for ffmpeg; length 0: no loudness
    };
    const Case cases[] = {
        {"loud half", 2 * kRate, 4 * kRate, loud_rms, 0.5, 2, 2},
        {"both halves", 0, 4 * kRate, std::sqrt((loud_rms * loud_rms + quiet_rms * quiet_rms) / 2), 0.5, 0, 4},
        {"past the end: clipped", 3 * kRate, 100 * kRate, loud_rms, 0.5, 3, 1},
        {"quiet half", 0, 2 * kRate, quiet_rms, 0.05, 0, 2},
        {"shorter than a 400 ms block", 2 * kRate, 2 * kRate + kRate / 5, loud_rms, 0.5, 0, 0},
        {"empty", kRate, kRate, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TRangeLevels l = measure_range_levels(wav, c.first, c.end);
        EXPECT_NEAR(l.rms, c.rms, c.rms * 0.003 + 1e-9);
        EXPECT_NEAR(l.peak, c.peak, 2.0 / 32768);
        if (c.length == 0) {
            EXPECT_FALSE(l.integrated);
            continue;
        }
        ASSERT_TRUE(l.integrated);
        const std::optional<double> theirs = ffmpeg_integrated(file, c.from, c.length);
        ASSERT_TRUE(theirs);
        EXPECT_NEAR(*l.integrated, *theirs, 0.15);
    }
}

TEST(LoopLevels, MeasuredOnAWorkerOncePerRangeAndDroppedWithTheSamples) {
    auto dir = test::build_temp_dir();
    TWav wav;
    wav.open_file(two_part_file(*dir));
    TLoopLevels levels;
    std::vector<int> ready;
    levels.OnReady = [&](int slot) { ready.push_back(slot); };
    EXPECT_EQ(levels.get(1, wav, 2 * kRate, 4 * kRate), nullptr);
    // A second range given while the first runs replaces it.
    EXPECT_EQ(levels.get(1, wav, 0, 2 * kRate), nullptr);
    for (int i = 0; i < 2000 && ready.empty(); ++i) QTest::qWait(5);
    QTest::qWait(50);
    ASSERT_EQ(ready, std::vector<int>{1});
    const TRangeLevels* l = levels.get(1, wav, 0, 2 * kRate);
    ASSERT_NE(l, nullptr);
    EXPECT_NEAR(l->peak, 0.05, 2.0 / 32768);
    // The other slot and the other range are not there.
    EXPECT_EQ(levels.get(0, wav, 0, 2 * kRate), nullptr);
    levels.samples_changing(0);
    EXPECT_NE(levels.get(1, wav, 0, 2 * kRate), nullptr);
    levels.samples_changing(1);
    EXPECT_EQ(levels.get(1, wav, 0, 2 * kRate), nullptr);
    levels.samples_changing(1);  // gives the measurement up at once
    QTest::qWait(100);
    EXPECT_EQ(ready, std::vector<int>{1});
}
