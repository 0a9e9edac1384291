#include "workspace/workspace.h"
#include "audio/wav_file.h"
#include "common/errors.h"
#include "dsp/filter_section.h"
#include "tests/support/test_support.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cmath>

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
    // Files of different rates cannot be aligned; file 2's line says so.
    EXPECT_EQ(ws.infoline(1), QStringLiteral(" Crest=0.0 dB,  RMS=-6.0 dB,  Peak=-6.0 dB  -  two.wav"
                                             "  [not aligned: sampling rates differ]"));

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
    EXPECT_EQ(ws.infoline(1), QStringLiteral(" Crest=0.0 dB,  RMS=-20.0 dB,  Peak=-20.0 dB  -  two.wav"
                                             "  [not aligned: sampling rates differ]"));

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

TEST(Workspace, DecibelTextRoundsToOneDecimal) {
    EXPECT_EQ(TWorkspace::decibel_text(-6.0206), QStringLiteral("-6.0"));
    EXPECT_EQ(TWorkspace::decibel_text(-0.04), QStringLiteral("0.0"));
    EXPECT_EQ(TWorkspace::decibel_text(12.96), QStringLiteral("13.0"));
    EXPECT_EQ(TWorkspace::info_line(0.5, 1.0, 1.0, QStringLiteral("x.wav")),
              QStringLiteral(" Crest=6.0 dB,  RMS=-6.0 dB,  Peak=0.0 dB  -  x.wav"));
}

/// Runs sox with the given arguments into dir/name and returns the path.
QString sox_made(const QTemporaryDir& dir, const char* name, QStringList args) {
    const QString path = dir.filePath(QLatin1String(name));
    for (QString& a : args)
        if (a == QLatin1String("OUT")) a = path;
    EXPECT_TRUE(test::sox(args));
    return path;
}

/// Three seconds of stereo pink noise at 44100 Hz (the same on every run),
/// and copies of it delayed by 1105 frames, plain and inverted.
struct AlignedPair {
    std::unique_ptr<QTemporaryDir> dir = test::build_temp_dir();
    QString original = sox_made(*dir, "original.wav",
                                {"-R", "-n", "-r", "44100", "-c", "2", "-b", "16", "OUT", "synth", "3", "pinknoise",
                                 "gain", "-8"});
    QString delayed = sox_made(*dir, "delayed.wav", {original, "OUT", "pad", "1105s"});
    QString inverted = sox_made(*dir, "inverted.wav", {original, "OUT", "pad", "1105s", "vol", "-1"});
    /// Noise of its own, unrelated to the original.
    QString unrelated = sox_made(*dir, "unrelated.wav",
                                 {"-n", "-r", "44100", "-c", "2", "-b", "16", "OUT", "synth", "3", "pinknoise",
                                  "gain", "-8"});
};

// The offset in force and file 2's note follow the estimate, the nudges,
// "No alignment" and "Correct polarity"; a new load or a closed slot ends
// them. File 1's line never carries a note.
TEST(Workspace, AlignmentOfFile2FollowsLoadsAndCommands) {
    AlignedPair pair;
    TWorkspace ws;
    ws.setBuildSummaries(false);
    ws.load_file(0, pair.original);
    EXPECT_FALSE(ws.alignestimate());
    ws.load_file(1, pair.delayed);
    ASSERT_TRUE(ws.alignestimate());
    EXPECT_EQ(ws.file2offset(), 1105);
    const QString levels1 = ws.infoline(0);
    EXPECT_TRUE(levels1.endsWith(QStringLiteral("  -  original.wav"))) << levels1.toStdString();
    const auto note = [&] {
        const QString line = ws.infoline(1);
        const QString name = QStringLiteral("  -  delayed.wav");
        EXPECT_TRUE(line.contains(name)) << line.toStdString();
        return line.mid(line.indexOf(name) + name.size());
    };
    EXPECT_EQ(note(), QStringLiteral("  [+1105 samples, 25.1 ms, r=1.000]"));
    EXPECT_EQ(ws.slot_offset(0), 0);
    EXPECT_EQ(ws.slot_offset(1), 1105);
    EXPECT_EQ(ws.slot_sign(1), 1);
    EXPECT_DOUBLE_EQ(ws.slot_time(0, 1.0), 1.0);
    EXPECT_DOUBLE_EQ(ws.slot_time(1, 1.0), 1.0 + 1105.0 / 44100);
    // File 2 ends where file 1 does on the timeline.
    EXPECT_DOUBLE_EQ(ws.timeline_duration(), 3.0);

    int changes = 0;
    ws.OnAlignmentChanged = [&] { ++changes; };
    ws.nudge_file2(1);  // earlier by a sample
    EXPECT_EQ(ws.file2offset(), 1106);
    EXPECT_EQ(note(), QStringLiteral("  [+1106 samples, 25.1 ms, set by hand]"));
    ws.nudge_file2(-2 * ws.millisecond_frames());  // later by two milliseconds
    EXPECT_EQ(ws.millisecond_frames(), 44);
    EXPECT_EQ(ws.file2offset(), 1106 - 88);
    ws.nudge_file2(-2000);
    EXPECT_EQ(note(), QStringLiteral("  [-982 samples, -22.3 ms, set by hand]"));
    EXPECT_DOUBLE_EQ(ws.timeline_duration(), (3 * 44100 + 1105 + 982) / 44100.0);
    ws.clear_alignment();
    EXPECT_EQ(ws.file2offset(), 0);
    EXPECT_EQ(note(), QStringLiteral("  [no alignment]"));
    ws.align_files();
    EXPECT_EQ(ws.file2offset(), 1105);
    EXPECT_FALSE(ws.alignmentbyhand());
    EXPECT_EQ(note(), QStringLiteral("  [+1105 samples, 25.1 ms, r=1.000]"));
    EXPECT_EQ(changes, 5);
    EXPECT_EQ(ws.infoline(0), levels1);

    // An inverted file 2 is corrected (negated) at once; unchecking keeps
    // the offset and says so.
    ws.load_file(1, pair.inverted);
    EXPECT_EQ(ws.file2offset(), 1105);
    EXPECT_TRUE(ws.correctpolarity());
    EXPECT_TRUE(ws.file2negated());
    EXPECT_EQ(ws.slot_sign(1), -1);
    EXPECT_TRUE(ws.infoline(1).endsWith(QStringLiteral("  [+1105 samples, 25.1 ms, r=1.000, polarity corrected]")))
        << ws.infoline(1).toStdString();
    ws.setCorrectpolarity(false);
    EXPECT_EQ(ws.slot_sign(1), 1);
    EXPECT_TRUE(ws.infoline(1).endsWith(QStringLiteral("  [+1105 samples, 25.1 ms, r=1.000, polarity inverted]")))
        << ws.infoline(1).toStdString();

    // Unrelated files: no offset, and the weak correlation is shown (two
    // decimals).
    ws.load_file(1, pair.unrelated);
    ASSERT_TRUE(ws.alignestimate());
    EXPECT_FALSE(ws.alignestimate()->aligned());
    EXPECT_EQ(ws.file2offset(), 0);
    EXPECT_EQ(ws.slot_sign(1), 1);
    const QString weak = ws.infoline(1);
    EXPECT_TRUE(weak.contains(QRegularExpression(QStringLiteral("  -  unrelated\\.wav  \\[not aligned: r=0\\.[0-4][0-9]\\]$"))))
        << weak.toStdString();

    // A slot closed: the estimate and its note go.
    ws.load_file(1, pair.delayed);
    EXPECT_EQ(ws.file2offset(), 1105);
    ws.close_file(0);
    EXPECT_FALSE(ws.alignestimate());
    EXPECT_EQ(ws.file2offset(), 0);
    EXPECT_TRUE(ws.infoline(1).endsWith(QStringLiteral("  -  delayed.wav"))) << ws.infoline(1).toStdString();
    ws.nudge_file2(1);  // needs two files
    EXPECT_EQ(ws.file2offset(), 0);
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

// --align prints the estimate in one line whatever the locale, exit code 0;
// "not aligned" with exit code 2; a file that cannot be read, exit code 1.
TEST(CommandLine, AlignPrintsTheOffsetOrRefuses) {
    AlignedPair pair;
    ProgramRun r = wavrell({QStringLiteral("--align"), pair.original, pair.delayed}, QStringLiteral("de_DE.UTF-8"));
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("offset=+1105 ms=25.1 r=1.000 polarity=normal\n"));
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();

    r = wavrell({QStringLiteral("--align"), pair.inverted, pair.original});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("offset=-1105 ms=-25.1 r=1.000 polarity=inverted\n"));

    r = wavrell({QStringLiteral("--align"), pair.original, pair.original});
    EXPECT_EQ(r.out, QStringLiteral("offset=0 ms=0.0 r=1.000 polarity=normal\n"));

    r = wavrell({QStringLiteral("--align"), pair.original, pair.unrelated});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.out.contains(QRegularExpression(QStringLiteral("^not aligned r=0\\.[0-4][0-9][0-9]\n$"))))
        << r.out.toStdString();

    const QString missing = pair.dir->filePath(QStringLiteral("missing.wav"));
    r = wavrell({QStringLiteral("--align"), pair.original, missing});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.contains(missing)) << r.err.toStdString();

    for (const QStringList& args : {QStringList{QStringLiteral("--align"), pair.original},
                                    QStringList{QStringLiteral("--align"), QStringLiteral("--levels"), pair.original,
                                                pair.delayed}}) {
        r = wavrell(args);
        EXPECT_EQ(r.code, 1) << args.join(' ').toStdString();
        EXPECT_FALSE(r.err.isEmpty());
        EXPECT_TRUE(r.out.isEmpty());
    }
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
    for (const char* word : {"--levels", "--no-normalize", "FILE1", "FILE2", "Usage: wavrell"})
        EXPECT_TRUE(r.out.contains(QLatin1String(word))) << word;

    const QStringList unusable[] = {{QStringLiteral("--levels")},
                                    {QStringLiteral("--levels"), q, q, q},
                                    {q, q, q},
                                    {QStringLiteral("--bogus")}};
    for (const QStringList& args : unusable) {
        r = wavrell(args);
        EXPECT_EQ(r.code, 1) << args.join(' ').toStdString();
        EXPECT_FALSE(r.err.isEmpty());
        EXPECT_TRUE(r.out.isEmpty());
    }
}

}  // namespace
}  // namespace wavrell
