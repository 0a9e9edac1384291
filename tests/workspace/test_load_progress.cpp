#include "workspace/load_progress.h"
#include "audio/rate_conversion.h"
#include "audio/wav_file.h"
#include "common/work_progress.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

using namespace wavrell;

TEST(LoadProgress, StageTextsWithTheirFigure) {
    struct Case {
        TLoadStage stage;
        int64_t total, done;
        int32_t rate;
        const char* text;
    };
    const Case cases[] = {
        {TLoadStage::Reading, 0, 0, 0, "Reading: 0%"},  // no total known yet
        {TLoadStage::Reading, 1000, 999, 0, "Reading: 99%"},
        {TLoadStage::Converting, 200, 90, 44100, "Converting to 44100 Hz: 45%"},
        {TLoadStage::MeasuringLevels, 10, 10, 0, "Measuring levels: 100%"},
        {TLoadStage::Aligning, 10, 25, 0, "Aligning: 100%"},  // never beyond
        {TLoadStage::MeasuringLoudness, 1000, 333, 0, "Measuring loudness: 33%"},
    };
    TLoadProgress p;
    for (const Case& c : cases) {
        p.enter(c.stage, c.total, c.rate);
        p.work().add(c.done);
        EXPECT_EQ(p.text(), QString::fromUtf8(c.text));
    }
}

// The readers and the conversion count every frame they take, so a stage
// ends at 100%: WAV (two reading threads for a long file), FLAC (libsndfile,
// decoded from two places at once), Ogg Vorbis (one pass).
TEST(LoadProgress, ReadersAndConversionCountToTheirTotal) {
    auto dir = test::build_temp_dir();
    for (const char* ext : {"wav", "flac", "ogg"}) {
        SCOPED_TRACE(ext);
        const QString f = dir->filePath(QStringLiteral("noise.") + QLatin1String(ext));
        ASSERT_TRUE(test::sox({QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("48000"), QStringLiteral("-c"),
                               QStringLiteral("2"), f, QStringLiteral("synth"), QStringLiteral("30"),
                               QStringLiteral("pinknoise"), QStringLiteral("vol"), QStringLiteral("0.3")}));
        TWorkProgress reading;
        TWav wav;
        wav.open_file(f, false, -1, &reading);
        EXPECT_EQ(reading.fraction(), 1.0);
        TWorkProgress converting;
        ASSERT_TRUE(convert_rate(wav, 44100, nullptr, &converting));
        EXPECT_EQ(converting.fraction(), 1.0);
    }
}
