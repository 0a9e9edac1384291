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
#include <QRegularExpression>
#include <QtEndian>

#include <gtest/gtest.h>

#include <sndfile.h>

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
    // (At file 1's rate: a file at another rate would be converted to it.)
    const QString f2 = sox_file(*dir, "two.wav", raw({3277, -3277}, 12000), 8000);
    TWorkspace ws;
    ws.setAutoAlign(false);  // the lines of the levels alone
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
    // A FLAC file whose frames are damaged from the middle on.
    const QString flac = dir->filePath(QStringLiteral("damaged.flac"));
    ASSERT_TRUE(test::sox_write(flac, raw({16384, -3000, 77, 0}, 40000), 8000, 1));
    {
        QFile f(flac);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        QByteArray b = f.readAll();
        for (qsizetype i = b.size() / 2; i < b.size(); ++i) b[i] = char(i * 37);
        f.seek(0);
        f.write(b);
    }
    for (const QString& bad : {dir->filePath(QStringLiteral("missing.wav")), notwav, flac}) {
        SCOPED_TRACE(bad.toStdString());
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

/// Writes a two-channel sine file with sox: channel 0 at 1 kHz, channel 1
/// at 440 Hz, `seconds` long, at `rate`, in the format its name gives.
/// With `fades`, it fades in and out over 0.1 s (a lossy encoder rings at
/// a sudden start or end).
QString sine_file(const QTemporaryDir& dir, const char* name, int rate, const char* seconds = "2",
                  bool fades = false) {
    const QString path = dir.filePath(QLatin1String(name));
    QStringList args{QStringLiteral("-D"), QStringLiteral("-n"), QStringLiteral("-r"), QString::number(rate),
                     QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("16"), path,
                     QStringLiteral("synth"), QLatin1String(seconds), QStringLiteral("sine"),
                     QStringLiteral("1000"), QStringLiteral("sine"), QStringLiteral("440"),
                     QStringLiteral("gain"), QStringLiteral("-6")};
    if (fades) args << QStringLiteral("fade") << QStringLiteral("0.1") << QLatin1String(seconds) << QStringLiteral("0.1");
    EXPECT_TRUE(test::sox(args));
    return path;
}

double db(double level) { return 20 * std::log10(level); }

// A file loaded against samples at another rate is converted to that rate on
// load; the information line names both rates, and the other slot's file,
// the reference, may later go or be replaced without touching it.
TEST(Workspace, FileAtAnotherRateIsConvertedToTheRateOfTheOtherSlot) {
    auto dir = test::build_temp_dir();
    const QString ref44 = sine_file(*dir, "ref44.wav", 44100);
    const QString master48 = sine_file(*dir, "master48k.flac", 48000);
    const QString wav48 = sine_file(*dir, "other48k.wav", 48000);
    TWorkspace ws;
    ws.setAutoAlign(false);  // its note is looked at below
    const auto expect_slot = [&](int slot, int32_t rate, int32_t source, const char* tail) {
        SCOPED_TRACE(testing::Message() << "slot " << slot);
        EXPECT_EQ(ws.wav(slot)->sampfreq(), rate);
        EXPECT_EQ(ws.sourcerate(slot), source);
        EXPECT_EQ(ws.wav(slot)->nsamples(), 2 * rate);  // two seconds at either rate
        EXPECT_TRUE(ws.infoline(slot).endsWith(QStringLiteral(" dB  -  ") + QString::fromUtf8(tail)))
            << ws.infoline(slot).toStdString();
        // Measured on the samples it now holds: 20 blocks of 100 ms, the
        // sine's own levels.
        EXPECT_EQ(ws.levels(slot)[size_t(2 * slot)].size(), 20u);
        EXPECT_NEAR(db(ws.filerms(slot)), -6.0 - 3.01, 0.05);
        EXPECT_NEAR(db(ws.filepeak(slot)), -6.0, 0.05);
    };

    ws.load_file(0, ref44);
    expect_slot(0, 44100, 44100, "ref44.wav");
    ws.load_file(1, master48);
    expect_slot(1, 44100, 48000, "master48k.flac (48000 Hz → 44100 Hz)");
    expect_slot(0, 44100, 44100, "ref44.wav");

    // The converted file stays as it is when the reference goes ...
    const QString line1 = ws.infoline(1);
    ws.close_file(0);
    EXPECT_EQ(ws.infoline(1), line1);
    expect_slot(1, 44100, 48000, "master48k.flac (48000 Hz → 44100 Hz)");
    // ... and a new reference at the rate of the original is converted in
    // its turn to the rate both slots share.
    ws.load_file(0, wav48);
    expect_slot(0, 44100, 48000, "other48k.wav (48000 Hz → 44100 Hz)");
    EXPECT_EQ(ws.infoline(1), line1);

    // A slot whose other slot is empty keeps its own rate.
    ws.close_file(0);
    ws.close_file(1);
    EXPECT_EQ(ws.sourcerate(1), 0);
    ws.load_file(1, master48);
    expect_slot(1, 48000, 48000, "master48k.flac");
    ws.load_file(0, ref44);
    expect_slot(0, 48000, 44100, "ref44.wav (44100 Hz → 48000 Hz)");

    // Aligned on the converted samples, the note of the alignment follows
    // that of the rates.
    TWorkspace aligned;
    aligned.load_file(0, ref44);
    aligned.load_file(1, master48);
    EXPECT_TRUE(aligned.infoline(1).endsWith(QStringLiteral("master48k.flac (48000 Hz → 44100 Hz)  [0 samples, 0.0 ms, r=1.000]")))
        << aligned.infoline(1).toStdString();

    EXPECT_EQ(TWorkspace::rate_note(48000, 44100), QStringLiteral(" (48000 Hz \u2192 44100 Hz)"));
    EXPECT_EQ(TWorkspace::rate_note(44100, 44100), QString());
    EXPECT_EQ(TWorkspace::rate_note(0, 44100), QString());
}

// Lossy encodings of a file show the levels of the original within 0.5 dB.
TEST(Workspace, LossyFilesShowTheLevelsOfTheirOriginal) {
    auto dir = test::build_temp_dir();
    const QString original = sine_file(*dir, "original.wav", 48000, "3", true);
    const QString ogg = dir->filePath(QStringLiteral("enc.ogg"));
    const QString mp3 = dir->filePath(QStringLiteral("enc.mp3"));
    const QString opus = dir->filePath(QStringLiteral("enc.opus"));
    ASSERT_TRUE(test::sox({original, ogg}));
    ASSERT_TRUE(test::sox({original, mp3}));
    TWav w;
    w.open_file(original);
    std::vector<int16_t> interleaved;
    for (int i = 0; i < w.nsamples(); ++i)
        for (const auto& row : w.samples()) interleaved.push_back(row[size_t(i)]);
    ASSERT_TRUE(test::sndfile_write(opus, interleaved, 48000, 2, SF_FORMAT_OGG | SF_FORMAT_OPUS));

    TWorkspace ws;
    ws.setAutoAlign(false);  // the lines end with the names
    ws.load_file(0, original);
    for (const QString& f : {ogg, mp3, opus}) {
        SCOPED_TRACE(f.toStdString());
        ws.load_file(1, f);
        EXPECT_EQ(ws.wav(1)->nchans(), 2);
        EXPECT_EQ(ws.wav(1)->sampfreq(), 48000);
        EXPECT_EQ(ws.sourcerate(1), 48000);
        EXPECT_NEAR(ws.wav(1)->tottime(), 3.0, 0.1);
        EXPECT_NEAR(db(ws.filerms(1)), db(ws.filerms(0)), 0.5);
        EXPECT_NEAR(db(ws.filepeak(1)), db(ws.filepeak(0)), 0.5);
        EXPECT_TRUE(ws.infoline(1).endsWith(QFileInfo(f).fileName())) << ws.infoline(1).toStdString();
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
    int code = -1;  ///< -1: did not end in time, or ended by a signal
    QString out, err;
    QByteArray rawout;
};

const QString program = QStringLiteral(WAVRELL_BINARY_DIR "/wavrell");

/// Runs a command (the program itself unless `command` is given) with no
/// display at all, so that any attempt to open a window would fail; one
/// that has not ended after 60 s is killed.
ProgramRun run(const QStringList& args, const QString& lc_all = QStringLiteral("C"),
               const QString& command = program) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("LC_ALL"), lc_all);
    p.setProcessEnvironment(env);
    p.start(command, args);
    ProgramRun r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.rawout = p.readAllStandardOutput();
    r.out = QString::fromUtf8(r.rawout);
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

ProgramRun wavrell(const QStringList& args, const QString& lc_all = QStringLiteral("C")) { return run(args, lc_all); }

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

TEST(CommandLine, LevelsReadsOtherFormatsAndConvertsFile2ToTheRateOfFile1) {
    auto dir = test::build_temp_dir();
    const QString q = sox_file(*dir, "q.wav", raw({16384, 0, 0, 0}, 4000));
    const QString flac = dir->filePath(QStringLiteral("q48k.flac"));
    ASSERT_TRUE(test::sox({q, QStringLiteral("-r"), QStringLiteral("48000"), flac}));
    const ProgramRun r = wavrell({QStringLiteral("--levels"), q, flac});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    const QStringList lines = r.out.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 3) << r.out.toStdString();
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(" dB  -  q.wav"))) << r.out.toStdString();
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral(" dB  -  q48k.flac (48000 Hz \u2192 8000 Hz)")))
        << r.out.toStdString();
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

/// Sample peak and true peak (dBFS, dBTP) of a file by ffmpeg's meter, an
/// independent measurement.
std::pair<double, double> ffmpeg_peaks(const QString& file) {
    const ProgramRun r = run({QStringLiteral("-nostats"), QStringLiteral("-hide_banner"), QStringLiteral("-i"), file,
                              QStringLiteral("-af"), QStringLiteral("ebur128=peak=sample+true"), QStringLiteral("-f"),
                              QStringLiteral("null"), QStringLiteral("-")},
                             QStringLiteral("C"), QStringLiteral("ffmpeg"));
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    // The summary ends with "Sample peak:" and "True peak:", each followed
    // by a "Peak: <dB> dBFS" line.
    const QString summary = r.err.mid(r.err.lastIndexOf(QStringLiteral("Summary:")));
    const QRegularExpression re(QStringLiteral("(Sample|True) peak:\\s+Peak:\\s+(-?[0-9.]+) dBFS"));
    std::pair<double, double> peaks{NAN, NAN};
    for (auto it = re.globalMatch(summary); it.hasNext();) {
        const auto m = it.next();
        (m.captured(1) == QLatin1String("Sample") ? peaks.first : peaks.second) = m.captured(2).toDouble();
    }
    EXPECT_FALSE(std::isnan(peaks.first) || std::isnan(peaks.second)) << summary.toStdString();
    return peaks;
}

TEST(CommandLine, PeakTrueBringsTheLargerTruePeakToMinusOneDbtp) {
    auto dir = test::build_temp_dir();
    // A quarter of the rate 45° off its samples: the true peak lies about
    // 3 dB above the sample peak. B a plain 1 kHz tone, 6 dB quieter.
    const QString a = dir->filePath(QStringLiteral("isp.wav")), b = dir->filePath(QStringLiteral("tone.wav"));
    ASSERT_TRUE(test::sox({"-n", "-r", "44100", "-c", "1", "-b", "16", a, "synth", "3", "sine", "11025", "0", "12.5",
                           "vol", "0.5"}));
    ASSERT_TRUE(test::sox({"-n", "-r", "44100", "-c", "1", "-b", "16", b, "synth", "3", "sine", "1000", "vol", "0.25"}));
    const auto [sample_a, true_a] = ffmpeg_peaks(a);
    const auto [sample_b, true_b] = ffmpeg_peaks(b);
    ASSERT_GT(true_a - sample_a, 2.0);
    // The two meters' interpolation filters differ by up to about half a dB
    // on this signal (a quarter of the rate is where they are weakest; the
    // exact true peak lies 3.01 dB above the samples).
    const double meters = 0.6;

    // The gain each line shows (its sample peak against ffmpeg's) puts the
    // true peaks where ffmpeg's measure and the target say.
    const auto check = [&](const QStringList& options, bool truepeak) {
        const ProgramRun r = wavrell(QStringList{QStringLiteral("--levels"), QStringLiteral("--loudness")} + options +
                                     QStringList{a, b});
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        const QStringList lines = r.out.split(QLatin1Char('\n'));
        ASSERT_EQ(lines.size(), 3) << r.out.toStdString();
        const double gain_a = line_value(lines[0], QStringLiteral("Peak="), QStringLiteral(" dB")) - sample_a;
        const double gain_b = line_value(lines[1], QStringLiteral("Peak="), QStringLiteral(" dB")) - sample_b;
        if (truepeak) EXPECT_NEAR(std::max(true_a + gain_a, true_b + gain_b), -1.0, meters) << r.out.toStdString();
        else EXPECT_GT(std::max(true_a + gain_a, true_b + gain_b), -0.2) << r.out.toStdString();
        // The target itself on the lines: the larger sample peak at 0 dBFS,
        // or the larger true peak at -1 dBTP.
        const QString label = truepeak ? QStringLiteral("TP ") : QStringLiteral("Peak=");
        const QString unit = truepeak ? QStringLiteral(" dBTP") : QStringLiteral(" dB");
        EXPECT_EQ(std::max(line_value(lines[0], label, unit), line_value(lines[1], label, unit)), truepeak ? -1.0 : 0.0)
            << r.out.toStdString();
        // Matched to each other either way.
        EXPECT_EQ(line_value(lines[0], QStringLiteral("RMS="), QStringLiteral(" dB")),
                  line_value(lines[1], QStringLiteral("RMS="), QStringLiteral(" dB")));
    };
    // The default: B's sample peak decides (0 dBFS); A's true peak, about
    // 3 dB above its own sample peak, lands near 0 dBTP or above.
    check({}, false);
    check({QStringLiteral("--peak=sample")}, false);
    check({QStringLiteral("--peak=true")}, true);
    // The true peak needs the loudness measurement: --peak=true takes it
    // without --loudness too.
    const ProgramRun r = wavrell({QStringLiteral("--levels"), QStringLiteral("--peak=true"), a});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_NEAR(line_value(r.out, QStringLiteral("Peak="), QStringLiteral(" dB")), -1.0 - (true_a - sample_a), meters)
        << r.out.toStdString();
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
         {"--levels", "--no-normalize", "--loudness", "--match", "--json", "--peak", "FILE1", "FILE2",
          "Usage: wavrell"})
        EXPECT_TRUE(r.out.contains(QLatin1String(word))) << word;

    const QStringList unusable[] = {{QStringLiteral("--levels")},
                                    {QStringLiteral("--levels"), q, q, q},
                                    {q, q, q},
                                    {QStringLiteral("--bogus")},
                                    {QStringLiteral("--levels"), QStringLiteral("--match=loud"), q},
                                    {QStringLiteral("--json"), q},
                                    {QStringLiteral("--loudness"), q},
                                    {QStringLiteral("--match=lufs"), q},
                                    {QStringLiteral("--levels"), QStringLiteral("--peak=tp"), q},
                                    {QStringLiteral("--peak=true"), q}};
    for (const QStringList& args : unusable) {
        r = wavrell(args);
        EXPECT_EQ(r.code, 1) << args.join(' ').toStdString();
        EXPECT_FALSE(r.err.isEmpty());
        EXPECT_TRUE(r.out.isEmpty());
    }
}

TEST(CommandLine, WhatIsNotARegularFileIsRefusedAtOnce) {
    auto dir = test::build_temp_dir();
    for (const test::SpecialFile& f : test::special_files(*dir)) {
        // A named pipe without a writer used to block the program for good;
        // the run is given up after a minute.
        const ProgramRun r = wavrell({QStringLiteral("--levels"), f.path});
        EXPECT_EQ(r.code, 1) << f.what;
        EXPECT_TRUE(r.out.isEmpty()) << f.what;
        EXPECT_EQ(r.err, QStringLiteral("Cannot open \"%1\": %2\n").arg(f.path, QLatin1String(f.reason))) << f.what;
    }
}

TEST(CommandLine, FileNamesThatAreNotUtf8AreOpenedAndPrintedAsGiven) {
    auto dir = test::build_temp_dir();
    const test::BytesNamedFile odd(sox_file(*dir, "q.wav", raw({16384, 0, 0, 0}, 4000)), "q\xFF\xE9.wav");
    // The name's bytes reach the program only through a shell: a QProcess
    // argument is a text, which cannot hold them.
    const ProgramRun r =
        run({QStringLiteral("-c"), QStringLiteral("exec \"$0\" --levels \"$1/$(printf 'q\\377\\351.wav')\""), program,
             dir->path()},
            QStringLiteral("C"), QStringLiteral("/bin/sh"));
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.rawout, QByteArray(" Crest=6.0 dB,  RMS=-6.0 dB,  Peak=0.0 dB  -  q\xFF\xE9.wav\n-\n"));
}

TEST(CommandLine, RunningOutOfMemoryEndsInAnErrorNamingTheFile) {
    // Under an address-space limit (prlimit --as) the program's allocations
    // fail where the limit falls: the sample rows, the read buffers, a
    // reading or measuring thread's stack or heap. Limits from the one at
    // which the program starts at all to beyond what a 64 MiB file needs are
    // tried; each run either loads the file or ends with the usual error
    // naming it, never with an abort.
    auto dir = test::build_temp_dir();
    const QString tiny = sox_file(*dir, "tiny.wav", raw({100, -100}, 800));
    const QString big = dir->filePath(QStringLiteral("big.wav"));
    const int file_mib = 64;
    ASSERT_TRUE(test::sox({QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"), QStringLiteral("-c"),
                           QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("16"), big,
                           QStringLiteral("synth"), QStringLiteral("%1s").arg(file_mib * 1024 * 1024 / 4),
                           QStringLiteral("sine"), QStringLiteral("440")}));
    const auto limited = [&](int mib, const QString& file) {
        return run({QStringLiteral("--as=%1").arg(qint64(mib) << 20), program, QStringLiteral("--levels"), file},
                   QStringLiteral("C"), QStringLiteral("prlimit"));
    };
    int base = 0;
    for (int mib = 8; mib <= 1024 && base == 0; mib += 4)
        if (limited(mib, tiny).code == 0) base = mib;
    ASSERT_GT(base, 0) << "the program does not start under any limit up to 1 GiB";

    int loaded = 0, refused = 0;
    for (int mib = base + file_mib / 2; mib <= base + file_mib + 80; mib += mib < base + file_mib - 8 ? 8 : 2) {
        const ProgramRun r = limited(mib, big);
        if (r.code == 0) {
            EXPECT_TRUE(r.out.startsWith(QStringLiteral(" Crest=3.0 dB,"))) << mib << " MiB: " << r.out.toStdString();
            ++loaded;
        } else {
            EXPECT_EQ(r.code, 1) << mib << " MiB: " << r.err.toStdString();
            EXPECT_TRUE(r.err.startsWith(QStringLiteral("Cannot read \"%1\": not enough memory to load ").arg(big)))
                << mib << " MiB: " << r.err.toStdString();
            EXPECT_TRUE(r.out.isEmpty());
            ++refused;
        }
    }
    EXPECT_GT(refused, 0);
    EXPECT_GT(loaded, 0);
}

}  // namespace
}  // namespace wavrell
