#include "tests/support/test_support.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace wavrell {
namespace {

const QString original = QStringLiteral(WAVRELL_DEMO_ORIGINAL);
const QString loud = QStringLiteral(WAVRELL_DEMO_LOUD);
const QString generator = QStringLiteral(WAVRELL_MAKE_DEMO);

/// What `sox FILE -n stats` says of the whole file (the first column, all
/// channels together).
struct TStats {
    double length_s = 0, rms_db = 0, peak_db = 0;
    double crest_db() const { return peak_db - rms_db; }
};

double stats_value(const QString& text, const QString& label) {
    const QRegularExpression re(QStringLiteral("^%1\\s+(-?[0-9.]+)").arg(QRegularExpression::escape(label)),
                                QRegularExpression::MultilineOption);
    const auto m = re.match(text);
    EXPECT_TRUE(m.hasMatch()) << "no \"" << label.toStdString() << "\" in sox stats:\n" << text.toStdString();
    return m.hasMatch() ? m.captured(1).toDouble() : 0.0;
}

TStats stats(const QString& file) {
    QByteArray err;
    EXPECT_TRUE(test::sox({file, QStringLiteral("-n"), QStringLiteral("stats")}, nullptr, &err));
    const QString text = QString::fromLocal8Bit(err);
    return {stats_value(text, QStringLiteral("Length s")), stats_value(text, QStringLiteral("RMS lev dB")),
            stats_value(text, QStringLiteral("Pk lev dB"))};
}

/// One line of `sox --i` (e.g. "-r" for the rate), trimmed.
QString info(const QString& file, const char* what) {
    QByteArray out;
    EXPECT_TRUE(test::sox({QStringLiteral("--i"), QLatin1String(what), file}, &out));
    return QString::fromLocal8Bit(out).trimmed();
}

QByteArray contents(const QString& file) {
    QFile f(file);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << file.toStdString();
    return f.readAll();
}

TEST(DemoRecordings, BothAreTwentySecondsOfStereo16BitAt44100Hz) {
    for (const QString& file : {original, loud}) {
        SCOPED_TRACE(file.toStdString());
        EXPECT_EQ(info(file, "-r"), QStringLiteral("44100"));
        EXPECT_EQ(info(file, "-c"), QStringLiteral("2"));
        EXPECT_EQ(info(file, "-b"), QStringLiteral("16"));
        EXPECT_EQ(info(file, "-e"), QStringLiteral("Signed Integer PCM"));
        EXPECT_NEAR(stats(file).length_s, 20.0, 1.0);
    }
}

// What the demo is for: the loud master is louder by RMS, has far less
// crest factor, and peaks at full scale; the original has the crest factor
// of a natural mix.
TEST(DemoRecordings, LoudMasterHasMoreRmsLessCrestFactorAndFullScalePeaks) {
    const TStats a = stats(original), b = stats(loud);
    EXPECT_GE(a.crest_db(), 14.5);
    EXPECT_LE(a.crest_db(), 18.5);
    EXPECT_GE(b.crest_db(), 7.5);
    EXPECT_LE(b.crest_db(), 10.5);
    EXPECT_GE(a.crest_db() - b.crest_db(), 4.0);
    EXPECT_GE(b.rms_db - a.rms_db, 3.0) << "RMS " << a.rms_db << " vs " << b.rms_db;
    EXPECT_GE(b.peak_db, -1.0);
    EXPECT_LE(b.peak_db, 0.0);
    // Nothing clipped: the original keeps its headroom, the master is
    // limited, not cut off at full scale.
    EXPECT_LE(a.peak_db, -0.5);
}

TEST(DemoRecordings, TwoGeneratorRunsWriteTheSameBytesAsTheBuild) {
    auto dir = test::build_temp_dir();
    QByteArray first[2];
    for (int run = 0; run < 2; ++run) {
        const QString o = dir->filePath(QStringLiteral("o%1.wav").arg(run));
        const QString l = dir->filePath(QStringLiteral("l%1.wav").arg(run));
        ASSERT_EQ(test::run_program(generator, {o, l}), 0);
        if (run == 0) {
            first[0] = contents(o);
            first[1] = contents(l);
            EXPECT_GT(first[0].size(), 44);
        } else {
            EXPECT_TRUE(contents(o) == first[0]) << "original differs between runs";
            EXPECT_TRUE(contents(l) == first[1]) << "loud master differs between runs";
        }
    }
    EXPECT_TRUE(contents(original) == first[0]);
    EXPECT_TRUE(contents(loud) == first[1]);
}

TEST(DemoRecordings, GeneratorNamesTheFileItCannotWrite) {
    auto dir = test::build_temp_dir();
    const QString missing = dir->filePath(QStringLiteral("no-such-folder/original.wav"));
    QByteArray err;
    EXPECT_EQ(test::run_program(generator, {missing, dir->filePath(QStringLiteral("loud.wav"))}, nullptr, 60000, &err),
              1);
    EXPECT_TRUE(err.contains(missing.toLocal8Bit())) << err.toStdString();

    EXPECT_EQ(test::run_program(generator, {dir->filePath(QStringLiteral("only-one.wav"))}, nullptr, 60000, &err), 2);
    EXPECT_TRUE(err.contains("usage")) << err.toStdString();
}

}  // namespace
}  // namespace wavrell
