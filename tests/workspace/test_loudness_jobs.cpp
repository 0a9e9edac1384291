#include "workspace/loudness_jobs.h"
#include "workspace/workspace.h"
#include "audio/wav_file.h"
#include "dsp/filter_section.h"
#include "tests/support/test_support.h"

#include <QSemaphore>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

using namespace wavrell;

namespace {

QString tone(const QTemporaryDir& dir, const QString& name, double hz, double vol) {
    const QString f = dir.filePath(name);
    EXPECT_TRUE(test::sox({QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"), QStringLiteral("-c"),
                           QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("16"), f, QStringLiteral("synth"),
                           QStringLiteral("5"), QStringLiteral("sine"), QString::number(hz), QStringLiteral("vol"),
                           QString::number(vol)}));
    return f;
}

/// Reads a file as the window does (without its loudness) and commits it.
void load_as_the_window(TWorkspace& ws, int slot, const QString& f) {
    auto allpass = ws.allpass_copy();
    TLoadOptions options;
    options.rate = ws.conversion_rate(slot);
    options.align = ws.AutoAlign();
    options.other = ws.alignsignal(1 - slot);
    ws.commit_load(TWorkspace::read_file(slot, f, *allpass, nullptr, options));
}

bool wait_until(const std::function<bool()>& done) {
    for (int i = 0; i < 3000 && !done(); ++i) QTest::qWait(10);
    return done();
}

}  // namespace

// A file committed without its loudness has it measured afterwards on a
// worker: "…" in its fields and matching by loudness waiting until then,
// then the same values as a load that measures it itself.
TEST(LoudnessJobs, MeasuredAfterTheLoadWhileMatchingByLoudnessWaits) {
    auto dir = test::build_temp_dir();
    const QString a = tone(*dir, QStringLiteral("a.wav"), 1000, 0.5), b = tone(*dir, QStringLiteral("b.wav"), 1000, 0.25);
    TWorkspace ws, direct;
    for (TWorkspace* w : {&ws, &direct}) {
        w->setMeasureLoudness(true);
        w->setMatchBy(mbintegrated);
        w->setNormalize(true);
    }
    direct.load_file(0, a);
    direct.load_file(1, b);

    QSemaphore release;
    TLoudnessJobs::worker_hook = [&](int) { release.tryAcquire(1, 20000); };
    load_as_the_window(ws, 0, a);
    load_as_the_window(ws, 1, b);
    TLoudnessJobs::worker_hook = {};
    // Samples and levels are in; the loudness is not.
    EXPECT_EQ(ws.wav(1)->nsamples(), 5 * 44100);
    EXPECT_EQ(ws.filerms(1), direct.filerms(1));
    for (int s : {0, 1}) {
        EXPECT_TRUE(ws.loudness_pending(s));
        EXPECT_TRUE(ws.infoline(s).endsWith(QStringLiteral("  |  \u2026 LUFS, LRA \u2026 LU, TP \u2026 dBTP")))
            << ws.infoline(s).toStdString();
        EXPECT_EQ(ws.filefactor(s), 1.0);  // matching waits
        EXPECT_FALSE(ws.match_level_db(s));
    }
    EXPECT_TRUE(ws.matching_waits());
    ws.setMatchBy(mbrms);  // by RMS nothing waits
    EXPECT_FALSE(ws.matching_waits());
    EXPECT_NE(ws.filefactor(0), ws.filefactor(1));
    ws.setMatchBy(mbintegrated);

    release.release(2);
    ASSERT_TRUE(wait_until([&] { return !ws.loudness_pending(0) && !ws.loudness_pending(1); }));
    for (int s : {0, 1}) {
        SCOPED_TRACE(s);
        ASSERT_TRUE(ws.loudness(s).integrated && direct.loudness(s).integrated);
        EXPECT_EQ(*ws.loudness(s).integrated, *direct.loudness(s).integrated);
        EXPECT_EQ(ws.loudness(s).true_peak, direct.loudness(s).true_peak);
        EXPECT_EQ(ws.filefactor(s), direct.filefactor(s));
        EXPECT_EQ(ws.infoline(s), direct.infoline(s));
    }
    EXPECT_FALSE(ws.matching_waits());
}

// Closing or replacing a slot gives its measurement up: nothing of it
// arrives afterwards, and the new file is measured instead.
TEST(LoudnessJobs, ClosingOrReplacingGivesTheMeasurementUp) {
    auto dir = test::build_temp_dir();
    const QString a = tone(*dir, QStringLiteral("a.wav"), 1000, 0.5), b = tone(*dir, QStringLiteral("b.wav"), 300, 0.1);
    TWorkspace ws;
    ws.setMeasureLoudness(true);
    std::atomic<int> started{0};
    TLoudnessJobs::worker_hook = [&](int) {
        ++started;
        QThread::msleep(200);
    };
    load_as_the_window(ws, 0, a);
    ASSERT_TRUE(ws.loudness_pending(0));
    ws.close_file(0);
    EXPECT_FALSE(ws.loudness_pending(0));
    load_as_the_window(ws, 0, a);
    load_as_the_window(ws, 0, b);  // replaces a while a is measured
    TLoudnessJobs::worker_hook = {};
    ASSERT_TRUE(wait_until([&] { return !ws.loudness_pending(0); }));
    EXPECT_EQ(started.load(), 3);
    TWav wb;
    wb.open_file(b);
    EXPECT_EQ(ws.loudness(0).integrated, measure_loudness(wb).integrated);
}
