// `wavrell --spectrogram`: the PNG it writes without any display, the
// lanes of two files aligned on one time axis, and its errors.
#include "app/sonogram_paint.h"
#include "tests/support/test_support.h"

#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace wavrell {
namespace {

const QString program = QStringLiteral(WAVRELL_BINARY_DIR "/wavrell");

// The picture's margins around each lane's plot (as the program lays it out).
constexpr int kLeft = 78, kRight = 92, kTop = 26, kBottom = 34;

struct ProgramRun {
    int code = -1;
    QString err;
};

/// Runs the program with no display at all (an empty DISPLAY for the X11
/// platform): a picture that needed one would fail.
ProgramRun run(const QStringList& args) {
    QProcessEnvironment env;
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DISPLAY"), QString());
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), QString());
    ProgramRun r;
    QByteArray out, err;
    r.code = test::run_with_env(program, args, env, &out, &err);
    r.err = QString::fromUtf8(err);
    return r;
}

class SpectrogramCommand : public ::testing::Test {
protected:
    void SetUp() override { dir = test::build_temp_dir(); }
    QString path(const QString& name) const { return dir->filePath(name); }
    /// 3 s at `rate` Hz: silence, a 1 kHz tone from `start` s on for 1 s
    /// (no dither: the silence is digital silence).
    QString burst(const QString& name, int rate, double start) {
        const QString out = path(name);
        EXPECT_TRUE(test::sox({QStringLiteral("-D"), QStringLiteral("-n"), QStringLiteral("-r"), QString::number(rate), QStringLiteral("-c"),
                               QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("16"), out,
                               QStringLiteral("synth"), QStringLiteral("1"), QStringLiteral("sine"),
                               QStringLiteral("1000"), QStringLiteral("gain"), QStringLiteral("-6"),
                               QStringLiteral("pad"), QString::number(start), QString::number(2 - start)}));
        return out;
    }
    std::unique_ptr<QTemporaryDir> dir;
};

/// The first column of a lane's plot whose 1 kHz row is bright (above
/// −40 dBFS on the legend's scale), −1 if none.
int tone_onset(const QImage& img, int lane, int W, int H, bool log) {
    const TFrequencyAxis axis{22050, log, H};
    const int y = lane * (kTop + H + kBottom) + kTop + int(axis.y_of(1000));
    for (int x = 0; x < W; ++x)
        if (qRed(img.pixel(kLeft + x, y)) + qGreen(img.pixel(kLeft + x, y)) >
            qRed(level_colour(-40, kRangeFloorDefault)) + qGreen(level_colour(-40, kRangeFloorDefault)))
            return x;
    return -1;
}

// One file, the default size and a chosen one: the plot's size, its floor
// colour where there is silence and the tone's row lit where the tone is.
TEST_F(SpectrogramCommand, WritesThePicture) {
    const QString f = burst(QStringLiteral("a.wav"), 44100, 1);
    struct Case {
        QStringList options;
        int W, H;
        bool log;
    } cases[] = {{{}, 1600, 600, false}, {{QStringLiteral("--size"), QStringLiteral("300x200"), QStringLiteral("--log"),
                                           QStringLiteral("--fft"), QStringLiteral("2048")},
                                          300, 200, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.join(QLatin1Char(' ')).toStdString());
        const QString png = path(QStringLiteral("a.png"));
        const ProgramRun r = run(QStringList{QStringLiteral("--spectrogram"), f, QStringLiteral("-o"), png} + c.options);
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        const QImage img(png);
        ASSERT_EQ(img.size(), QSize(kLeft + c.W + kRight, kTop + c.H + kBottom));
        // A third of the width in, the tone starts (1 s of 3 s).
        EXPECT_NEAR(tone_onset(img, 0, c.W, c.H, c.log), c.W / 3.0, c.W / 50.0);
        // Silence before it: the floor's colour, at every frequency.
        const QRgb floor = level_colour(-200, kRangeFloorDefault);
        for (int y = kTop + 2; y < kTop + c.H - 2; y += 7) EXPECT_EQ(img.pixel(kLeft + c.W / 10, y) | 0xFF000000u, floor | 0xFF000000u);
    }
}

// Two files: file 2 at another rate and half a second late is converted and
// aligned, so that its burst of noise begins in the same column as file 1's.
TEST_F(SpectrogramCommand, SecondFileAlignedBelowTheFirst) {
    const QString f1 = path(QStringLiteral("one.wav")), f2 = path(QStringLiteral("two.wav"));
    ASSERT_TRUE(test::sox({QStringLiteral("-D"), QStringLiteral("-R"), QStringLiteral("-n"), QStringLiteral("-r"),
                           QStringLiteral("44100"), QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("-b"),
                           QStringLiteral("16"), f1, QStringLiteral("synth"), QStringLiteral("1"),
                           QStringLiteral("pinknoise"), QStringLiteral("pad"), QStringLiteral("1"), QStringLiteral("1")}));
    ASSERT_TRUE(test::sox({QStringLiteral("-D"), f1, QStringLiteral("-r"), QStringLiteral("48000"), f2,
                           QStringLiteral("pad"), QStringLiteral("0.5")}));
    const QString png = path(QStringLiteral("two.png"));
    const ProgramRun r = run({QStringLiteral("--spectrogram"), f1, f2, QStringLiteral("-o"), png, QStringLiteral("--size"),
                              QStringLiteral("600x200")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QImage img(png);
    ASSERT_EQ(img.height(), 3 * (kTop + 200 + kBottom));  // and their difference
    const int x1 = tone_onset(img, 0, 600, 200, false), x2 = tone_onset(img, 1, 600, 200, false);
    ASSERT_GT(x1, 0);
    EXPECT_NEAR(x2, x1, 1);
    // The time line is file 2's end on it: 3.5 s less the half second.
    EXPECT_NEAR(x1, 600 / 3.0, 600 / 30.0);
}

// File 2 is file 1 with a quiet 12 kHz tone added: the third picture, their
// difference, holds the 12 kHz row throughout and nothing of file 1's 1 kHz.
TEST_F(SpectrogramCommand, DifferenceBelowTheFiles) {
    const QString f1 = burst(QStringLiteral("one.wav"), 44100, 1), tone = path(QStringLiteral("tone.wav")),
                  f2 = path(QStringLiteral("two.wav"));
    ASSERT_TRUE(test::sox({QStringLiteral("-D"), QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"),
                           QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("16"), tone,
                           QStringLiteral("synth"), QStringLiteral("3"), QStringLiteral("sine"), QStringLiteral("12000"),
                           QStringLiteral("vol"), QStringLiteral("0.001")}));
    ASSERT_TRUE(test::sox({QStringLiteral("-D"), QStringLiteral("-m"), QStringLiteral("-v"), QStringLiteral("1"), f1,
                           QStringLiteral("-v"), QStringLiteral("1"), tone, f2}));
    const QString png = path(QStringLiteral("diff.png"));
    const int W = 600, H = 200;
    const ProgramRun r = run({QStringLiteral("--spectrogram"), f1, f2, QStringLiteral("-o"), png, QStringLiteral("--size"),
                              QStringLiteral("600x200")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QImage img(png);
    ASSERT_EQ(img.height(), 3 * (kTop + H + kBottom));
    const TFrequencyAxis axis{22050, false, H};
    const auto level = [&](int x, double hz) {
        const QRgb c = img.pixel(kLeft + x, 2 * (kTop + H + kBottom) + kTop + int(axis.y_of(hz)));
        return qRed(c) + qGreen(c) + qBlue(c);
    };
    const auto colour = [](float db) {
        const QRgb c = level_colour(db, kRangeFloorDefault);
        return qRed(c) + qGreen(c) + qBlue(c);
    };
    for (int x : {W / 6, W / 2, 5 * W / 6}) {
        EXPECT_GE(level(x, 12000), colour(-70)) << x;
        EXPECT_LE(level(x, 1000), colour(-85)) << x;
    }
    EXPECT_EQ(tone_onset(img, 2, W, H, false), -1);
}

// Unusable arguments and files: the exit code and the name of what failed.
TEST_F(SpectrogramCommand, Errors) {
    const QString good = burst(QStringLiteral("good.wav"), 44100, 1);
    QFile bad(path(QStringLiteral("bad.wav")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("RIFF this is no sound");
    bad.close();
    const QString png = path(QStringLiteral("out.png"));
    const QString nowhere = path(QStringLiteral("no/such/folder/out.png"));
    struct Case {
        QStringList args;
        int code;
        QString named;
    } cases[] = {
        {{good, bad.fileName(), QStringLiteral("-o"), png}, 1, bad.fileName()},
        {{path(QStringLiteral("missing.wav")), QStringLiteral("-o"), png}, 1, QStringLiteral("missing.wav")},
        {{good, QStringLiteral("-o"), nowhere}, 2, nowhere},
        {{good}, 1, QStringLiteral("-o OUT.png")},
        {{good, QStringLiteral("-o"), png, QStringLiteral("--fft"), QStringLiteral("1000")}, 1, QStringLiteral("--fft")},
        {{good, QStringLiteral("-o"), png, QStringLiteral("--size"), QStringLiteral("10x")}, 1, QStringLiteral("--size")},
        {{good, good, good, QStringLiteral("-o"), png}, 1, QStringLiteral("one or two files")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const ProgramRun r = run(QStringList{QStringLiteral("--spectrogram")} + c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_TRUE(r.err.contains(c.named)) << r.err.toStdString();
        EXPECT_FALSE(QFile::exists(png));
    }
    // The options of the picture belong to --spectrogram.
    const ProgramRun r = run({good, QStringLiteral("--levels"), QStringLiteral("--log")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("--log"))) << r.err.toStdString();
}

}  // namespace
}  // namespace wavrell
