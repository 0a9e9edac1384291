// wavrell --diff FILE1 FILE2 [--json]: the program itself on pairs made by
// sox, its exit codes, its line and its JSON object.
#include "tests/support/test_support.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace wavrell {
namespace {

const QString program = QStringLiteral(WAVRELL_BINARY_DIR "/wavrell");

struct DiffRun {
    int code = -1;
    QString out, err;
};

DiffRun diff(const QStringList& args) {
    QByteArray out, err;
    DiffRun r;
    r.code = test::run_program(program, QStringList{QStringLiteral("--diff")} + args, &out, 120000, &err);
    r.out = QString::fromUtf8(out);
    r.err = QString::fromUtf8(err);
    return r;
}

class DiffCommand : public ::testing::Test {
protected:
    void SetUp() override {
        dir = test::build_temp_dir();
        // 6 s of stereo pink noise, the same on every run (-R).
        original = make({QStringLiteral("-R"), QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"),
                         QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("16")},
                        QStringLiteral("original.wav"),
                        {QStringLiteral("synth"), QStringLiteral("6"), QStringLiteral("pinknoise"), QStringLiteral("gain"),
                         QStringLiteral("-8")});
    }
    QString make(const QStringList& input, const QString& name, const QStringList& effects) {
        const QString out = dir->filePath(name);
        EXPECT_TRUE(test::sox(input + QStringList{QStringLiteral("-b"), QStringLiteral("16"), out} + effects));
        return out;
    }
    std::unique_ptr<QTemporaryDir> dir;
    QString original;
};

// A quieter, delayed, inverted copy at another rate: the JSON object holds
// every figure; the line says the same.
TEST_F(DiffCommand, FiguresOfALinedUpPair) {
    const QString copy = make({original}, QStringLiteral("copy48k.flac"),
                              {QStringLiteral("pad"), QStringLiteral("1105s"), QStringLiteral("vol"), QStringLiteral("-0.5"),
                               QStringLiteral("rate"), QStringLiteral("48000")});
    DiffRun r = diff({original, copy, QStringLiteral("--json")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
    for (const char* key : {"null_depth_db", "block_median_db", "block_p95_db", "block_max_db", "gain_db",
                            "offset_frames", "drift_ppm", "r", "overlap_frames"})
        EXPECT_TRUE(o.value(QLatin1String(key)).isDouble()) << key << " in " << r.out.toStdString();
    EXPECT_NEAR(o.value(QStringLiteral("offset_frames")).toDouble(), 1105, 0.1);
    EXPECT_NEAR(o.value(QStringLiteral("gain_db")).toDouble(), 6.02, 0.05);
    EXPECT_NEAR(o.value(QStringLiteral("drift_ppm")).toDouble(), 0, 0.5);
    // What is left is mostly the top of the band, which the two rate
    // conversions (sox's and the program's) pass differently.
    EXPECT_LT(o.value(QStringLiteral("null_depth_db")).toDouble(), -30);
    EXPECT_EQ(o.value(QStringLiteral("polarity")).toString(), QStringLiteral("inverted"));
    EXPECT_EQ(o.value(QStringLiteral("identical")).toBool(true), false);
    EXPECT_GT(o.value(QStringLiteral("overlap_frames")).toDouble(), 5 * 44100);

    r = diff({original, copy});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("Difference: null depth \u2212"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral(", gain 6.0"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral(", delay +1105.0"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.endsWith(QStringLiteral(" ppm\n"))) << r.out.toStdString();
}

// Identical files: no numbers; files that do not line up: exit 2; a file
// that cannot be read or a channel count that differs: exit 1, named.
TEST_F(DiffCommand, IdenticalUnalignedAndRefused) {
    DiffRun r = diff({original, original, QStringLiteral("--json")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
    EXPECT_TRUE(o.value(QStringLiteral("identical")).toBool());
    for (const char* key : {"null_depth_db", "block_median_db", "block_p95_db", "block_max_db", "gain_db", "drift_ppm"})
        EXPECT_TRUE(o.value(QLatin1String(key)).isNull()) << key;
    EXPECT_EQ(o.value(QStringLiteral("offset_frames")).toDouble(-1), 0);
    EXPECT_EQ(diff({original, original}).out, QStringLiteral("Difference: identical\n"));

    const QString other = make({QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"), QStringLiteral("-c"),
                                QStringLiteral("2")},
                               QStringLiteral("other.wav"), {QStringLiteral("synth"), QStringLiteral("6"), QStringLiteral("sine"),
                                                             QStringLiteral("300-3000")});
    r = diff({original, other});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("not aligned r="))) << r.out.toStdString();

    const QString missing = dir->filePath(QStringLiteral("missing.wav"));
    r = diff({original, missing});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("missing.wav"))) << r.err.toStdString();

    const QString mono = make({original}, QStringLiteral("mono.wav"), {QStringLiteral("remix"), QStringLiteral("1")});
    r = diff({original, mono, QStringLiteral("--json")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("original.wav has 2 channels and "))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("mono.wav has 1"))) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
}

}  // namespace
}  // namespace wavrell
