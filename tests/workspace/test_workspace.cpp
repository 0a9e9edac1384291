#include "workspace/workspace.h"
#include "audio/wav_file.h"
#include "common/errors.h"
#include "dsp/filter_section.h"
#include "tests/support/test_support.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QProcess>
#include <QProcessEnvironment>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace wavrell {
namespace {

/// Raw 16-bit samples: `pattern` repeated to n values.
QByteArray raw(std::initializer_list<int> pattern, int n) {
    QByteArray b(2 * n, 0);
    std::vector<int> p(pattern);
    for (int i = 0; i < n; ++i) qToLittleEndian<int16_t>(int16_t(p[size_t(i) % p.size()]), b.data() + 2 * i);
    return b;
}

/// Writes a WAV file with sox and returns its path.
QString sox_file(const QTemporaryDir& dir, const char* name, const QByteArray& samples, int rate = 8000,
                 int nch = 1) {
    const QString path = dir.filePath(QLatin1String(name));
    EXPECT_TRUE(test::sox_write(path, samples, rate, nch));
    return path;
}

/// Stereo 48 kHz, a 1 kHz sine in both channels in stretches of the given
/// lengths (s) and peak levels (dBFS; -1000 for silence), as raw samples.
QByteArray stereo_tones(const std::vector<std::pair<double, double>>& stretches) {
    QByteArray b;
    int64_t i = 0;
    for (const auto& [seconds, dbfs] : stretches) {
        const double a = std::pow(10.0, dbfs / 20) * 32768;
        for (const int64_t end = i + std::llround(seconds * 48000); i < end; ++i) {
            const auto v = int16_t(std::clamp(std::nearbyint(a * std::sin(2 * std::numbers::pi * double(i) / 48)),
                                              -32768.0, 32767.0));
            char le[2];
            qToLittleEndian<int16_t>(v, le);
            b.append(le, 2).append(le, 2);
        }
    }
    return b;
}

/// The pair of files of the matching tests: A a steady sine at -26 dBFS;
/// B 3 s at -14 dBFS, then 17 s at -30 dBFS.
struct MatchingPair {
    QString a, b;
    // Their own levels, worked out from the signals: the RMS (dBFS) of a
    // sine of peak p is p - 3.01 dB; the loudness of a 1 kHz sine in both
    // channels is its peak level; B's gated loudness is the mean power of
    // its 197 blocks of 400 ms (27 in the loud part, three across the step,
    // 167 in the quiet part; all above both gates); its loudest 3 s are the
    // first 3 s.
    // (The RMS from the amplitudes as 16-bit samples hold them.)
    static double rms_a() { return 20 * std::log10(peak(-26)) - 10 * std::log10(2.0); }
    static double rms_b() {
        return 10 * std::log10((3 * std::pow(peak(-14), 2) + 17 * std::pow(peak(-30), 2)) / 20 / 2);
    }
    static double lufs_b() {
        const double loud = std::pow(10, -1.4), quiet = 1e-3;
        const double across = 0.75 * loud + 0.25 * quiet + 0.5 * loud + 0.5 * quiet + 0.25 * loud + 0.75 * quiet;
        return 10 * std::log10((27 * loud + across + 167 * quiet) / 197);
    }
    static double peak(double dbfs) { return std::nearbyint(std::pow(10, dbfs / 20) * 32768) / 32768; }

    explicit MatchingPair(const QTemporaryDir& dir)
        : a(sox_file(dir, "a.wav", stereo_tones({{20, -26}}), 48000, 2)),
          b(sox_file(dir, "b.wav", stereo_tones({{3, -14}, {17, -30}}), 48000, 2)) {}
};

/// The number before `unit` after `label` in an information line.
double line_value(const QString& line, const QString& label, const QString& unit) {
    const QRegularExpression re(QRegularExpression::escape(label) + QStringLiteral("(-?[0-9]+\\.[0-9])") +
                                QRegularExpression::escape(unit));
    const QRegularExpressionMatch m = re.match(line);
    EXPECT_TRUE(m.hasMatch()) << line.toStdString() << " has no " << label.toStdString();
    return m.hasMatch() ? m.captured(1).toDouble() : std::nan("");
}

/// Records the events of a workspace in order.
struct Recorder {
    QStringList log;
    void attach(TWorkspace& ws) {
        ws.OnInvalidateViews = [this](bool dirty) { log << (dirty ? "invalidate dirty" : "invalidate"); };
        ws.OnResetTimeAxis = [this] { log << "reset time axis"; };
        ws.OnAddToRecentFiles = [this](const QString& f) { log << "recent " + QFileInfo(f).fileName(); };
        ws.OnChecksChanged = [this] { log << "checks"; };
        ws.OnInfoLinesChanged = [this] { log << "lines"; };
    }
};

TEST(Workspace, AlternatingHalfScaleFileWithAndWithoutNormalization) {
    auto dir = test::build_temp_dir();
    const QString f = sox_file(*dir, "alt.wav", raw({16384, -16384}, 8000));
    TWorkspace ws;
    ws.load_file(0, f);
    EXPECT_EQ(ws.infoline(0), QStringLiteral(" Crest=0.0 dB,  RMS=-6.0 dB,  Peak=-6.0 dB  -  alt.wav"));
    EXPECT_EQ(ws.infoline(1), QStringLiteral("-"));
    EXPECT_EQ(ws.filerms(0), 0.5);
    EXPECT_EQ(ws.filepeak(0), 0.5);
    ws.setNormalize(true);
    EXPECT_EQ(ws.infoline(0), QStringLiteral(" Crest=0.0 dB,  RMS=0.0 dB,  Peak=0.0 dB  -  alt.wav"));
    EXPECT_EQ(ws.filefactor(0), 2.0);
}

TEST(Workspace, QuarterRmsHalfPeakAloneInSlot0) {
    auto dir = test::build_temp_dir();
    const QString f = sox_file(*dir, "q.wav", raw({16384, 0, 0, 0}, 4000));
    TWorkspace ws;
    ws.setNormalize(true);
    EXPECT_EQ(ws.infoline(0), QStringLiteral("-"));
    ws.load_file(0, f);
    EXPECT_EQ(ws.filerms(0), 0.25);
    EXPECT_EQ(ws.filenormfactor(0), 2.0);
    EXPECT_EQ(ws.filenormfactor(1), 0.5);
    EXPECT_EQ(ws.filefactor(0), 2.0);
    EXPECT_EQ(ws.infoline(0), QStringLiteral(" Crest=6.0 dB,  RMS=-6.0 dB,  Peak=0.0 dB  -  q.wav"));
}

TEST(Workspace, TwoFilesMatchedThenUnmatchedThenFile2Closed) {
    auto dir = test::build_temp_dir();
    // File 1: RMS 0.25, peak 0.5 (crest 6.0); file 2: square at 0.1 (crest 0).
    const QString f1 = sox_file(*dir, "one.wav", raw({16384, 0, 0, 0}, 8000), 8000, 2);
    const QString f2 = sox_file(*dir, "two.wav", raw({3277, -3277}, 12000), 12000);
    TWorkspace ws;
    ws.setNormalize(true);
    ws.load_file(0, f1);
    ws.load_file(1, f2);
    const double r2 = 3277 / 32768.0;
    // The louder file 1 comes down to file 2's RMS; then file 1's peak (the
    // larger) goes to full scale.
    EXPECT_DOUBLE_EQ(ws.filenormfactor(0), 2.0);
    EXPECT_DOUBLE_EQ(ws.filenormfactor(1), 0.5 / r2);
    EXPECT_EQ(ws.infoline(0), QStringLiteral(" Crest=6.0 dB,  RMS=-6.0 dB,  Peak=0.0 dB  -  one.wav"));
    EXPECT_EQ(ws.infoline(1), QStringLiteral(" Crest=0.0 dB,  RMS=-6.0 dB,  Peak=-6.0 dB  -  two.wav"));

    // The load leaves range summaries of the file's channels for the view.
    ASSERT_EQ(ws.summaries(1).size(), 1u);
    EXPECT_EQ(ws.summaries(1)[0].count(), ws.wav(1)->nsamples());
    int16_t lo = 0, hi = 0;
    ASSERT_TRUE(ws.summaries(1)[0].raw_minmax(ws.wav(1)->samples()[0].data(), 0, 1, lo, hi));
    EXPECT_EQ(lo, -3277);
    EXPECT_EQ(hi, 3277);

    ws.setNormalize(false);
    EXPECT_EQ(ws.filefactor(0), 1.0);
    EXPECT_EQ(ws.filefactor(1), 1.0);
    EXPECT_EQ(ws.infoline(0), QStringLiteral(" Crest=6.0 dB,  RMS=-12.0 dB,  Peak=-6.0 dB  -  one.wav"));
    EXPECT_EQ(ws.infoline(1), QStringLiteral(" Crest=0.0 dB,  RMS=-20.0 dB,  Peak=-20.0 dB  -  two.wav"));

    ws.setNormalize(true);
    Recorder rec;
    rec.attach(ws);
    ws.close_file(1);
    EXPECT_EQ(rec.log, (QStringList{"lines", "reset time axis"}));
    EXPECT_EQ(ws.wav(1)->nsamples(), 0);
    EXPECT_EQ(ws.infoline(1), QString());
    EXPECT_EQ(ws.infoline(0), QStringLiteral(" Crest=6.0 dB,  RMS=-6.0 dB,  Peak=0.0 dB  -  one.wav"));
    ASSERT_EQ(ws.levels(1).size(), 4u);
    for (const auto& row : ws.levels(1)) EXPECT_TRUE(row.empty());
    EXPECT_FALSE(ws.levels(0)[0].empty());
    EXPECT_TRUE(ws.summaries(1).empty());
    EXPECT_EQ(ws.summaries(0).size(), 2u);
    // File 2's levels stay in force for file 1 until file 2 is loaded again.
    ws.update_levels();
    EXPECT_DOUBLE_EQ(ws.filenormfactor(0), 2.0);
    EXPECT_DOUBLE_EQ(ws.filefactor(1), 0.5 / r2);
    EXPECT_EQ(ws.infoline(1), QStringLiteral("-"));
}

TEST(Workspace, LoadRunsItsStepsInOrderAndFillsTheSlotsRows) {
    auto dir = test::build_temp_dir();
    // 1.04 s at 16000 Hz, one channel, into slot 1.
    const QString f = sox_file(*dir, "short.wav", raw({1000, -3000, 2000}, 16640), 16000);
    TWorkspace ws;
    ws.setCursorpos(0.7);
    ws.setPlaycount(1234);
    Recorder rec;
    rec.attach(ws);
    ws.load_file(1, f);
    EXPECT_EQ(rec.log, (QStringList{"recent short.wav", "invalidate dirty", "reset time axis", "lines",
                                    "invalidate dirty"}));
    EXPECT_EQ(ws.playcount(), 0);
    EXPECT_EQ(ws.cursorpos(), 0.7);
    EXPECT_EQ(ws.apfilter()->SampFreq(), 16000);
    ASSERT_EQ(ws.levels(1).size(), 4u);
    for (const auto& row : ws.levels(1)) EXPECT_EQ(row.size(), 10u);
    EXPECT_EQ(ws.levels(1)[2][0].peak, 0.0);
    for (int k = 1; k < 10; ++k) EXPECT_EQ(ws.levels(1)[2][k].peak, 3000 / 32768.0) << k;
    for (int k = 0; k < 10; ++k) EXPECT_EQ(ws.levels(1)[3][k].peak, 0.0) << k;
    EXPECT_GT(ws.levels(1)[2][5].appeak, 0.0);
}

TEST(Workspace, SilentAndEmptyFilesLoadAndTakeNoPartInMatching) {
    auto dir = test::build_temp_dir();
    const QString silence = sox_file(*dir, "silence.wav", raw({0}, 800));
    const QString empty = dir->filePath(QStringLiteral("empty.wav"));
    {
        TWav w;
        w.setSampfreq(8000);
        w.setNchans(1);
        w.save_file(empty);
    }
    const QString q = sox_file(*dir, "q.wav", raw({16384, 0, 0, 0}, 4000));
    TWorkspace ws;
    ws.setNormalize(true);
    ws.load_file(1, silence);
    EXPECT_EQ(ws.infoline(1), QStringLiteral(" Crest=- dB,  RMS=-inf dB,  Peak=-inf dB  -  silence.wav"));
    EXPECT_EQ(ws.filerms(1), 0.0);
    EXPECT_EQ(ws.filefactor(1), 1.0);
    ws.load_file(0, q);
    // File 1 is scaled as if file 2 had never been loaded.
    EXPECT_EQ(ws.filefactor(0), 2.0);
    EXPECT_EQ(ws.filefactor(1), 1.0);
    EXPECT_EQ(ws.infoline(0), QStringLiteral(" Crest=6.0 dB,  RMS=-6.0 dB,  Peak=0.0 dB  -  q.wav"));

    ws.load_file(1, empty);
    EXPECT_EQ(ws.wav(1)->nsamples(), 0);
    EXPECT_EQ(ws.infoline(1), QStringLiteral("-"));
    EXPECT_EQ(ws.filefactor(0), 2.0);
    EXPECT_EQ(ws.filefactor(1), 1.0);
    for (const auto& row : ws.levels(1)) EXPECT_TRUE(row.empty());
}

TEST(Workspace, FailingLoadChangesNothing) {
    auto dir = test::build_temp_dir();
    const QString good = sox_file(*dir, "good.wav", raw({16384, 0, 0, 0}, 4000));
    const QString notwav = dir->filePath(QStringLiteral("notwav.wav"));
    {
        QFile f(notwav);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("RIFF\x04\0\0\0TEXTjunk", 16);
    }
    for (const QString& bad : {dir->filePath(QStringLiteral("missing.wav")), notwav}) {
        TWorkspace ws;
        ws.setNormalize(true);
        ws.load_file(1, good);
        ws.setPlaycount(777);
        ws.setWavplayno(1);
        const QString line = ws.infoline(1);
        const auto levels = ws.levels(1);
        const double f0 = ws.filefactor(0), f1 = ws.filefactor(1), rms = ws.filerms(1);
        Recorder rec;
        rec.attach(ws);
        EXPECT_THROW(ws.load_file(1, bad), EFileError);
        EXPECT_TRUE(rec.log.isEmpty()) << rec.log.join(", ").toStdString();
        EXPECT_EQ(ws.wav(1)->filename(), good);
        EXPECT_EQ(ws.wav(1)->nsamples(), 4000);
        EXPECT_EQ(ws.infoline(1), line);
        EXPECT_EQ(ws.levels(1).size(), levels.size());
        EXPECT_EQ(ws.levels(1)[2].size(), levels[2].size());
        EXPECT_EQ(ws.filefactor(0), f0);
        EXPECT_EQ(ws.filefactor(1), f1);
        EXPECT_EQ(ws.filerms(1), rms);
        EXPECT_EQ(ws.playcount(), 777);
        EXPECT_EQ(ws.wavplayno(), 1);
    }
}

TEST(Workspace, SettersStoreMirrorChecksAndRepaint) {
    auto dir = test::build_temp_dir();
    const QString f = sox_file(*dir, "a.wav", raw({100}, 80));
    TWorkspace ws;
    Recorder rec;
    rec.attach(ws);
    ws.setWavplayno(1);  // slot 1 has no samples
    EXPECT_EQ(ws.wavplayno(), 0);
    ws.setShowerror(true);
    ws.setShowallpass(true);
    ws.setCursorpos(1.5);
    EXPECT_EQ(rec.log, (QStringList{"checks", "checks", "invalidate dirty", "checks", "invalidate dirty",
                                    "invalidate"}));
    EXPECT_TRUE(ws.showerror());
    EXPECT_TRUE(ws.showallpass());
    EXPECT_EQ(ws.cursorpos(), 1.5);
    ws.load_file(1, f);
    ws.setWavplayno(1);
    EXPECT_EQ(ws.wavplayno(), 1);
    ws.setWavplayno(0);  // slot 0 is empty: stays on 1
    EXPECT_EQ(ws.wavplayno(), 1);
}

TEST(Workspace, MatchingFactorsUnderEachCriterion) {
    auto dir = test::build_temp_dir();
    const MatchingPair files(*dir);
    TWorkspace ws;
    ws.setMeasureLoudness(true);
    ws.setNormalize(true);
    ws.load_file(0, files.a);
    ws.load_file(1, files.b);
    EXPECT_EQ(ws.MatchBy(), mbrms);

    const struct {
        TMatchBy by;
        double level_a, level_b, tolerance;
        QString label, unit;  // the field of the information line that comes out equal
    } cases[] = {
        {mbrms, MatchingPair::rms_a(), MatchingPair::rms_b(), 0.001, QStringLiteral(" RMS="), QStringLiteral(" dB")},
        {mbintegrated, -26, MatchingPair::lufs_b(), 0.1, QStringLiteral("|  "), QStringLiteral(" LUFS")},
        {mbshortterm, -26, -14, 0.1, QStringLiteral("max S "), QStringLiteral(" LUFS")},
    };
    const double peak_a = MatchingPair::peak(-26), peak_b = MatchingPair::peak(-14);
    for (const auto& k : cases) {
        SCOPED_TRACE(match_by_key(k.by).toStdString());
        ws.setMatchBy(k.by);
        ASSERT_TRUE(ws.match_level_db(0) && ws.match_level_db(1));
        EXPECT_NEAR(*ws.match_level_db(0), k.level_a, k.tolerance);
        EXPECT_NEAR(*ws.match_level_db(1), k.level_b, k.tolerance);
        // The louder B comes down by the difference of the levels, then the
        // larger scaled peak goes to full scale.
        const double fa = ws.filefactor(0), fb = ws.filefactor(1);
        EXPECT_NEAR(20 * std::log10(fa / fb), k.level_b - k.level_a, k.tolerance);
        EXPECT_NEAR(std::max(peak_a * fa, peak_b * fb), 1.0, 1e-12);
        EXPECT_EQ(line_value(ws.infoline(0), k.label, k.unit), line_value(ws.infoline(1), k.label, k.unit));
    }
    // Maximum short-term matching shows that loudness on the lines too.
    EXPECT_TRUE(ws.infoline(1).contains(QStringLiteral(" dBTP, max S "))) << ws.infoline(1).toStdString();
    ws.setMatchBy(mbintegrated);
    EXPECT_FALSE(ws.infoline(1).contains(QStringLiteral("max S")));

    // Without normalization the lines show each file's own loudness.
    ws.setNormalize(false);
    EXPECT_EQ(line_value(ws.infoline(0), QStringLiteral("|  "), QStringLiteral(" LUFS")), -26.0);
    EXPECT_EQ(line_value(ws.infoline(1), QStringLiteral("|  "), QStringLiteral(" LUFS")),
              std::round(MatchingPair::lufs_b() * 10) / 10);
    EXPECT_EQ(line_value(ws.infoline(1), QStringLiteral("TP "), QStringLiteral(" dBTP")), -14.0);
    EXPECT_TRUE(ws.infoline(0).startsWith(QStringLiteral(" Crest=3.0 dB,  RMS=-29.0 dB,  Peak=-26.0 dB  -  a.wav  |  ")))
        << ws.infoline(0).toStdString();
}

TEST(Workspace, SilenceAndVeryShortFilesTakeNoPartUnderLoudness) {
    auto dir = test::build_temp_dir();
    const QString a = sox_file(*dir, "a.wav", stereo_tones({{5, -26}}), 48000, 2);
    const QString silence = sox_file(*dir, "silence.wav", stereo_tones({{5, -1000}}), 48000, 2);
    const QString blip = sox_file(*dir, "blip.wav", stereo_tones({{0.2, -10}}), 48000, 2);
    const double alone = 1 / MatchingPair::peak(-26);  // file A scaled to full scale by itself
    const struct {
        TMatchBy by;
        QString other;
        bool takes_part;
    } cases[] = {
        {mbintegrated, silence, false}, {mbintegrated, blip, false}, {mbshortterm, silence, false},
        {mbshortterm, blip, false},     {mbrms, silence, false},     {mbrms, blip, true},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE((match_by_key(k.by) + QLatin1Char(' ') + QFileInfo(k.other).fileName()).toStdString());
        TWorkspace ws;
        ws.setMeasureLoudness(true);
        ws.setMatchBy(k.by);
        ws.setNormalize(true);
        ws.load_file(0, a);
        ws.load_file(1, k.other);
        EXPECT_EQ(bool(ws.match_level_db(1)), k.takes_part);
        if (k.takes_part) {
            EXPECT_NE(ws.filefactor(0), alone);
            continue;
        }
        EXPECT_EQ(ws.filefactor(1), 1.0);
        EXPECT_NEAR(ws.filefactor(0), alone, 1e-12);
        EXPECT_TRUE(ws.infoline(1).contains(QStringLiteral("  |  - LUFS, LRA - LU, TP "))) << ws.infoline(1).toStdString();
    }
}

TEST(Workspace, DecibelTextRoundsToOneDecimal) {
    EXPECT_EQ(TWorkspace::decibel_text(-6.0206), QStringLiteral("-6.0"));
    EXPECT_EQ(TWorkspace::decibel_text(-0.04), QStringLiteral("0.0"));
    EXPECT_EQ(TWorkspace::decibel_text(12.96), QStringLiteral("13.0"));
    EXPECT_EQ(TWorkspace::info_line(0.5, 1.0, 1.0, QStringLiteral("x.wav")),
              QStringLiteral(" Crest=6.0 dB,  RMS=-6.0 dB,  Peak=0.0 dB  -  x.wav"));
}

// ---------------------------------------------------------------- command line

struct ProgramRun {
    int code = -1;
    QString out, err;
};

/// Runs the program with no display at all, so that any attempt to open a
/// window would fail.
ProgramRun wavrell(const QStringList& args, const QString& lc_all = QStringLiteral("C")) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("LC_ALL"), lc_all);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(WAVRELL_BINARY_DIR "/wavrell"), args);
    ProgramRun r;
    if (!p.waitForFinished(60000)) return r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

TEST(CommandLine, LevelsPrintsTheTwoInformationLines) {
    auto dir = test::build_temp_dir();
    const QString q = sox_file(*dir, "q.wav", raw({16384, 0, 0, 0}, 4000));
    const QString alt = sox_file(*dir, "alt.wav", raw({16384, -16384}, 8000));

    ProgramRun r = wavrell({QStringLiteral("--levels"), q});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral(" Crest=6.0 dB,  RMS=-6.0 dB,  Peak=0.0 dB  -  q.wav\n-\n"));

    r = wavrell({QStringLiteral("--levels"), QStringLiteral("--no-normalize"), q, alt});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral(" Crest=6.0 dB,  RMS=-12.0 dB,  Peak=-6.0 dB  -  q.wav\n"
                                    " Crest=0.0 dB,  RMS=-6.0 dB,  Peak=-6.0 dB  -  alt.wav\n"));

    // The user's decimal separator.
    r = wavrell({QStringLiteral("--levels"), q}, QStringLiteral("de_DE.UTF-8"));
    EXPECT_EQ(r.out, QStringLiteral(" Crest=6,0 dB,  RMS=-6,0 dB,  Peak=0,0 dB  -  q.wav\n-\n"));
}

TEST(CommandLine, LoudnessLinesAndJson) {
    auto dir = test::build_temp_dir();
    const MatchingPair files(*dir);
    const QString silence = sox_file(*dir, "silence.wav", raw({0}, 8000));

    // The lines gain the loudness fields; the RMS matching is the default.
    ProgramRun r = wavrell({QStringLiteral("--levels"), QStringLiteral("--loudness"), QStringLiteral("--no-normalize"),
                            files.a, files.b});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    const QStringList lines = r.out.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 3);
    const QRegularExpression extended(QStringLiteral(
        "^ Crest=.* dB  -  [ab]\\.wav  \\|  -?[0-9]+\\.[0-9] LUFS, LRA [0-9]+\\.[0-9] LU, TP [-+]?[0-9]+\\.[0-9] dBTP$"));
    EXPECT_TRUE(extended.match(lines[0]).hasMatch()) << lines[0].toStdString();
    EXPECT_TRUE(extended.match(lines[1]).hasMatch()) << lines[1].toStdString();
    EXPECT_EQ(line_value(lines[0], QStringLiteral("|  "), QStringLiteral(" LUFS")), -26.0);

    // JSON: each file's own levels, the factors of the criterion in force.
    const auto json = [&](const QStringList& args) {
        const ProgramRun j = wavrell(QStringList{QStringLiteral("--levels"), QStringLiteral("--json")} + args);
        EXPECT_EQ(j.code, 0) << j.err.toStdString();
        QJsonParseError e{};
        const QJsonDocument d = QJsonDocument::fromJson(j.out.toUtf8(), &e);
        EXPECT_EQ(e.error, QJsonParseError::NoError) << j.out.toStdString();
        EXPECT_TRUE(d.isArray());
        EXPECT_EQ(d.array().size(), 2);
        return d.array();
    };
    const QStringList fields{"file", "rate", "channels", "frames", "crest_db", "rms_dbfs", "peak_dbfs",
                             "lufs_i", "lra_lu", "lufs_s_max", "true_peak_dbtp", "factor"};
    const QJsonArray st = json({QStringLiteral("--match=shortterm"), files.a, files.b});
    ASSERT_EQ(st.size(), 2);
    const QJsonObject a = st[0].toObject(), b = st[1].toObject();
    EXPECT_EQ(a.keys().size(), fields.size());
    for (const QString& f : fields) EXPECT_TRUE(a.contains(f) && b.contains(f)) << f.toStdString();
    EXPECT_EQ(a[QStringLiteral("file")].toString(), files.a);
    EXPECT_EQ(a[QStringLiteral("rate")].toInt(), 48000);
    EXPECT_EQ(a[QStringLiteral("channels")].toInt(), 2);
    EXPECT_EQ(a[QStringLiteral("frames")].toInt(), 20 * 48000);
    EXPECT_NEAR(a[QStringLiteral("rms_dbfs")].toDouble(), MatchingPair::rms_a(), 0.001);
    EXPECT_NEAR(a[QStringLiteral("peak_dbfs")].toDouble(), 20 * std::log10(MatchingPair::peak(-26)), 1e-9);
    EXPECT_NEAR(a[QStringLiteral("crest_db")].toDouble(), 10 * std::log10(2.0), 0.001);
    EXPECT_NEAR(a[QStringLiteral("lufs_i")].toDouble(), -26, 0.1);
    EXPECT_NEAR(b[QStringLiteral("lufs_i")].toDouble(), MatchingPair::lufs_b(), 0.1);
    EXPECT_NEAR(b[QStringLiteral("lufs_s_max")].toDouble(), -14, 0.1);
    EXPECT_GT(b[QStringLiteral("lra_lu")].toDouble(), 1.0);
    EXPECT_NEAR(b[QStringLiteral("true_peak_dbtp")].toDouble(), -14, 0.05);
    // Numbers unrounded: B's loudness differs from its rounded value.
    EXPECT_NE(b[QStringLiteral("lufs_i")].toDouble(), std::round(b[QStringLiteral("lufs_i")].toDouble() * 10) / 10);
    const double fa = a[QStringLiteral("factor")].toDouble(), fb = b[QStringLiteral("factor")].toDouble();
    EXPECT_NEAR(20 * std::log10(fa / fb),
                b[QStringLiteral("lufs_s_max")].toDouble() - a[QStringLiteral("lufs_s_max")].toDouble(), 1e-9);

    // One file, no matching: factor 1 and null for the empty slot; a silent
    // file has no dB values and no loudness.
    const QJsonArray one = json({QStringLiteral("--no-normalize"), QStringLiteral("--match=lufs"), silence});
    ASSERT_EQ(one.size(), 2);
    EXPECT_TRUE(one[1].isNull());
    const QJsonObject s = one[0].toObject();
    EXPECT_EQ(s[QStringLiteral("factor")].toDouble(), 1.0);
    for (const char* f : {"crest_db", "rms_dbfs", "peak_dbfs", "lufs_i", "lra_lu", "lufs_s_max", "true_peak_dbtp"})
        EXPECT_TRUE(s[QLatin1String(f)].isNull()) << f;
}

TEST(CommandLine, ErrorsAndHelp) {
    auto dir = test::build_temp_dir();
    const QString q = sox_file(*dir, "q.wav", raw({16384, 0, 0, 0}, 4000));
    const QString missing = dir->filePath(QStringLiteral("missing.wav"));
    ProgramRun r = wavrell({QStringLiteral("--levels"), q, missing});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.contains(missing)) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("No such file or directory"))) << r.err.toStdString();

    r = wavrell({QStringLiteral("--help")});
    EXPECT_EQ(r.code, 0);
    for (const char* word :
         {"--levels", "--no-normalize", "--loudness", "--match", "--json", "FILE1", "FILE2", "Usage: wavrell"})
        EXPECT_TRUE(r.out.contains(QLatin1String(word))) << word;

    const QStringList unusable[] = {{QStringLiteral("--levels")},
                                    {QStringLiteral("--levels"), q, q, q},
                                    {q, q, q},
                                    {QStringLiteral("--bogus")},
                                    {QStringLiteral("--levels"), QStringLiteral("--match=loud"), q},
                                    {QStringLiteral("--json"), q},
                                    {QStringLiteral("--loudness"), q},
                                    {QStringLiteral("--match=lufs"), q}};
    for (const QStringList& args : unusable) {
        r = wavrell(args);
        EXPECT_EQ(r.code, 1) << args.join(' ').toStdString();
        EXPECT_FALSE(r.err.isEmpty());
        EXPECT_TRUE(r.out.isEmpty());
    }
}

}  // namespace
}  // namespace wavrell
