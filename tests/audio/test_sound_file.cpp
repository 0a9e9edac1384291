// Sound files that are not RIFF WAVE files, read through libsndfile into the
// sample store. The files are written by sox (or libsndfile where sox does
// not write the format) from WAV originals that the store's own reader
// takes: lossless formats must give exactly the samples of their original.
#include "audio/sound_file.h"
#include "audio/wav_file.h"
#include "common/errors.h"
#include "workspace/loudness.h"
#include "tests/support/test_support.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <sndfile.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

namespace wavrell {
namespace {

using test::build_temp_dir;

/// Stereo or mono noise over the whole 16-bit range, starting with the
/// extremes.
std::vector<int16_t> noise16(int frames, int nch, uint32_t seed) {
    std::vector<int16_t> v(size_t(frames) * size_t(nch));
    const int16_t extremes[] = {32767, -32768, 0, -1, 1};
    uint32_t x = seed;
    for (size_t i = 0; i < v.size(); ++i) {
        x = x * 1103515245u + 12345u;
        v[i] = i < 5 ? extremes[i] : int16_t(x >> 16);
    }
    return v;
}

QByteArray bytes(const std::vector<int16_t>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size() * 2));
}

/// A store read from a file; fails the test on an error.
std::unique_ptr<TWav> read(const QString& path) {
    auto w = std::make_unique<TWav>();
    try {
        w->open_file(path);
    } catch (const EFileError& e) {
        ADD_FAILURE() << e.what();
    }
    return w;
}

void expect_same_store(const TWav& got, const TWav& want) {
    EXPECT_EQ(got.nchans(), want.nchans());
    EXPECT_EQ(got.sampfreq(), want.sampfreq());
    ASSERT_EQ(got.nsamples(), want.nsamples());
    ASSERT_EQ(got.samples().size(), want.samples().size());
    for (size_t c = 0; c < want.samples().size(); ++c) {
        const auto& g = got.samples()[c];
        const auto& w = want.samples()[c];
        ASSERT_EQ(g.size(), w.size());
        const auto diff = std::mismatch(g.begin(), g.end(), w.begin());
        EXPECT_TRUE(diff.first == g.end()) << "channel " << c << " differs first at sample "
                                           << (diff.first - g.begin()) << ": " << *diff.first << " instead of "
                                           << *diff.second;
    }
}

void write_bytes(const QString& path, const QByteArray& b) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(b), b.size());
}

QByteArray file_bytes(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return f.readAll();
}

/// Changes `count` bytes from `at` on (a damaged stretch of a file).
QByteArray damaged(QByteArray b, qsizetype at, qsizetype count) {
    for (qsizetype i = at; i < at + count && i < b.size(); ++i) b[i] = char(uchar(b[i]) * 7 + 13);
    return b;
}

// ---------------------------------------------------------------- lossless formats

TEST(SoundFile, LosslessFormatsGiveTheSamplesOfTheirWavOriginal) {
    auto dir = build_temp_dir();
    const auto path = [&](const char* name) { return dir->filePath(QLatin1String(name)); };
    const std::vector<int16_t> noise = noise16(5000, 2, 7);

    // Originals of every sample width the readers round from: 16-bit noise
    // with the extremes, 8 bits, and noise of 24 and 32 bits and of 32- and
    // 64-bit reals, whose low bits and values beyond ±1 exercise rounding
    // and saturation.
    ASSERT_TRUE(test::sox_write(path("ref16.wav"), bytes(noise), 44100, 2));
    ASSERT_TRUE(test::sox({QStringLiteral("-D"), path("ref16.wav"), QStringLiteral("-b"), QStringLiteral("8"),
                           path("ref8.wav")}));
    const auto synth = [&](const char* name, QStringList encoding) {
        QStringList args{QStringLiteral("-D"), QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("48000"),
                         QStringLiteral("-c"), QStringLiteral("3")};
        args += encoding;
        args << path(name) << QStringLiteral("synth") << QStringLiteral("0.1") << QStringLiteral("whitenoise")
             << QStringLiteral("gain") << QStringLiteral("-1");
        ASSERT_TRUE(test::sox(args));
    };
    synth("ref24.wav", {QStringLiteral("-b"), QStringLiteral("24")});
    synth("ref32.wav", {QStringLiteral("-b"), QStringLiteral("32")});
    synth("reff32.wav", {QStringLiteral("-e"), QStringLiteral("floating-point"), QStringLiteral("-b"), QStringLiteral("32")});
    synth("reff64.wav", {QStringLiteral("-e"), QStringLiteral("floating-point"), QStringLiteral("-b"), QStringLiteral("64")});
    {
        // The 16-bit original holds the noise itself.
        auto w = read(path("ref16.wav"));
        ASSERT_EQ(w->nsamples(), 5000);
        EXPECT_EQ(w->samples()[0][0], 32767);
        EXPECT_EQ(w->samples()[1][0], -32768);
    }

    struct Case {
        const char* label;
        const char* original;
        const char* file;
        int sndfile_format;  // 0: sox converts the original, else libsndfile does
    };
    const Case cases[] = {
        {"FLAC 16-bit", "ref16.wav", "16.flac", 0},
        {"FLAC 8-bit", "ref8.wav", "8.flac", 0},
        {"FLAC 24-bit", "ref24.wav", "24.flac", 0},
        {"AIFF 16-bit", "ref16.wav", "16.aiff", 0},
        {"AIFF 24-bit", "ref24.wav", "24.aiff", 0},
        {"AIFF-C 32-bit float", "reff32.wav", "f32.aifc", 0},
        {"W64 16-bit", "ref16.wav", "16.w64", 0},
        {"W64 32-bit", "ref32.wav", "32.w64", 0},
        {"W64 64-bit float", "reff64.wav", "f64.w64", SF_FORMAT_W64 | SF_FORMAT_DOUBLE},
        {"CAF 16-bit", "ref16.wav", "16.caf", 0},
        {"CAF 32-bit float", "reff32.wav", "f32.caf", 0},
        {"RF64 16-bit", "ref16.wav", "16.rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16},
        {"RF64 24-bit", "ref24.wav", "24.rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_24},
        {"RF64 32-bit float", "reff32.wav", "f32.rf64", SF_FORMAT_RF64 | SF_FORMAT_FLOAT},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.label);
        if (k.sndfile_format)
            ASSERT_TRUE(test::sndfile_convert(path(k.original), path(k.file), k.sndfile_format));
        else
            ASSERT_TRUE(test::sox({QStringLiteral("-D"), path(k.original), path(k.file)}));
        auto want = read(path(k.original));
        auto got = read(path(k.file));
        EXPECT_EQ(got->filename(), path(k.file));
        expect_same_store(*got, *want);
    }
}

// A long file is decoded from two places at once; the halves must meet
// without a gap or an overlap.
TEST(SoundFile, LongFlacIsDecodedWholeAndExact) {
    auto dir = build_temp_dir();
    const QString wav = dir->filePath(QStringLiteral("long.wav"));
    const QString flac = dir->filePath(QStringLiteral("long.flac"));
    // 40 s of stereo: more than the 2^21 samples from which two threads decode.
    ASSERT_TRUE(test::sox({QStringLiteral("-D"), QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"),
                           QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("16"), wav,
                           QStringLiteral("synth"), QStringLiteral("40.00003"), QStringLiteral("pinknoise"),
                           QStringLiteral("gain"), QStringLiteral("-3")}));
    ASSERT_TRUE(test::sox({QStringLiteral("-D"), wav, flac}));
    auto want = read(wav);
    ASSERT_GT(int64_t(want->nsamples()) * 2, int64_t(1) << 21);
    ASSERT_EQ(want->nsamples() % 2, 1);  // halves of unequal length
    auto got = read(flac);
    expect_same_store(*got, *want);
}

// An Ogg stream cut short declares no length: it is decoded as far as it
// goes, the rows growing as they fill (more than their first room).
TEST(SoundFile, StreamWithoutLengthIsReadAsFarAsItGoes) {
    auto dir = build_temp_dir();
    const QString wav = dir->filePath(QStringLiteral("s.wav"));
    const QString ogg = dir->filePath(QStringLiteral("s.ogg"));
    ASSERT_TRUE(test::sox({QStringLiteral("-D"), QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"),
                           QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("16"), wav,
                           QStringLiteral("synth"), QStringLiteral("6"), QStringLiteral("sine"),
                           QStringLiteral("1000"), QStringLiteral("gain"), QStringLiteral("-6")}));
    ASSERT_TRUE(test::sox({wav, ogg}));
    const QByteArray whole = file_bytes(ogg);
    write_bytes(ogg, whole.left(whole.size() * 2 / 3));
    auto w = read(ogg);
    EXPECT_EQ(w->nchans(), 2);
    EXPECT_GT(w->nsamples(), 44100 * 3);
    EXPECT_LT(w->nsamples(), 44100 * 5);
    // The sine throughout, at its level (−6 dB: peaks of about 16400).
    for (const auto& row : w->samples()) {
        ASSERT_EQ(int(row.size()), w->nsamples());
        const int16_t peak = *std::max_element(row.begin() + 44100, row.end() - 1000);
        EXPECT_NEAR(peak, 16423, 600);
        const int16_t last = *std::max_element(row.end() - 1000, row.end());
        EXPECT_GT(last, 10000);
    }
}

TEST(SoundFile, HeaderOnlyTakesTheFormat) {
    auto dir = build_temp_dir();
    const QString flac = dir->filePath(QStringLiteral("h.flac"));
    ASSERT_TRUE(test::sox_write(flac, bytes(noise16(2000, 3, 3)), 22050, 3));
    TWav w;
    w.setNsamples(5);
    w.open_file(flac, true);
    EXPECT_EQ(w.nchans(), 3);
    EXPECT_EQ(w.sampfreq(), 22050);
    EXPECT_EQ(w.nsamples(), 0);
    ASSERT_EQ(w.samples().size(), 3u);
    for (const auto& row : w.samples()) EXPECT_TRUE(row.empty());
}

// ---------------------------------------------------------------- channel positions

TEST(SoundFile, ChannelMaskComesFromTheFilesChannelMap) {
    auto dir = build_temp_dir();
    enum : int {
        L = SF_CHANNEL_MAP_LEFT,
        R = SF_CHANNEL_MAP_RIGHT,
        C = SF_CHANNEL_MAP_CENTER,
        LFE = SF_CHANNEL_MAP_LFE,
        RL = SF_CHANNEL_MAP_REAR_LEFT,
        RR = SF_CHANNEL_MAP_REAR_RIGHT,
        SL = SF_CHANNEL_MAP_SIDE_LEFT,
        SR = SF_CHANNEL_MAP_SIDE_RIGHT,
    };
    struct Case {
        const char* label;
        int format;
        std::vector<int> map;
        uint32_t mask;
    };
    const Case cases[] = {
        {"CAF stereo", SF_FORMAT_CAF | SF_FORMAT_PCM_16, {L, R}, 0x3},
        {"CAF 5.1", SF_FORMAT_CAF | SF_FORMAT_PCM_16, {L, R, C, LFE, RL, RR}, 0x3F},
        {"RF64 5.1 with side channels", SF_FORMAT_RF64 | SF_FORMAT_PCM_16, {L, R, C, LFE, SL, SR}, 0x60F},
        {"CAF centre first", SF_FORMAT_CAF | SF_FORMAT_PCM_16, {C, L, R}, 0},
        {"FLAC without a map", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, {}, 0},
    };
    int n = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.label);
        const int nch = k.map.empty() ? 2 : int(k.map.size());
        const QString path = dir->filePath(QStringLiteral("m%1.%2").arg(n++).arg(
            (k.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_CAF ? QStringLiteral("caf")
            : (k.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RF64 ? QStringLiteral("rf64")
                                                                  : QStringLiteral("flac")));
        ASSERT_TRUE(test::sndfile_write(path, noise16(100, nch, 5), 48000, nch, k.format, k.map));
        auto w = read(path);
        EXPECT_EQ(w->nchans(), nch);
        EXPECT_EQ(w->channelmask(), k.mask);
    }

    // Positions without a speaker bit, repeated or out of order give none.
    const struct {
        std::vector<int> map;
        uint32_t mask;
    } maps[] = {
        {{SF_CHANNEL_MAP_MONO}, 0x4},
        {{SF_CHANNEL_MAP_FRONT_LEFT, SF_CHANNEL_MAP_FRONT_RIGHT, SF_CHANNEL_MAP_REAR_CENTER}, 0x103},
        {{SF_CHANNEL_MAP_TOP_FRONT_LEFT, SF_CHANNEL_MAP_TOP_FRONT_RIGHT}, 0x5000},
        {{L, L}, 0},
        {{L, SF_CHANNEL_MAP_FRONT_LEFT}, 0},
        {{R, L}, 0},
        {{SF_CHANNEL_MAP_AMBISONIC_B_W, SF_CHANNEL_MAP_AMBISONIC_B_X}, 0},
        {{L, SF_CHANNEL_MAP_INVALID}, 0},
    };
    for (const auto& m : maps) EXPECT_EQ(speaker_mask(m.map.data(), int(m.map.size())), m.mask);
}

/// Runs ffmpeg (the independent encoder and meter); returns its report.
QString ffmpeg(QStringList args) {
    QByteArray err;
    args.prepend(QStringLiteral("-y"));
    args.prepend(QStringLiteral("-nostdin"));
    EXPECT_EQ(test::run_program(QStringLiteral("ffmpeg"), args, nullptr, 120000, &err), 0) << err.toStdString();
    return QString::fromUtf8(err);
}

/// The integrated loudness in ffmpeg's ebur128 summary.
double ffmpeg_loudness(const QString& report) {
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("Integrated loudness:\\s*I:\\s*(-?[0-9.]+) LUFS")).match(report);
    EXPECT_TRUE(m.hasMatch()) << report.toStdString();
    return m.captured(1).toDouble();
}

double rms_of(const TSampleRow& row) {
    double e = 0;
    for (int16_t v : row) e += double(v) * v;
    return std::sqrt(e / double(std::max<size_t>(row.size(), 1))) / 32768;
}

// Ogg Vorbis and Opus hand their channels over in Vorbis order: they are put
// into WAV order, with the mask of the layout, so that every channel has the
// level and the loudness weight of its master's channel.
TEST(SoundFile, OggVorbisAndOpusChannelsArePutIntoWavOrder) {
    auto dir = build_temp_dir();
    const struct {
        const char* layout;
        int nch;
        uint32_t mask;
    } layouts[] = {{"3.0", 3, 0x7}, {"5.1", 6, 0x3F}, {"7.1", 8, 0x63F}};
    for (const auto& l : layouts) {
        // A 100 Hz tone (which an LFE channel keeps) 6 dB quieter in each
        // channel than in the one before.
        QString split, inputs, pads;
        for (int c = 0; c < l.nch; ++c) {
            split += QStringLiteral("[s%1]").arg(c);
            inputs += QStringLiteral("[s%1]volume=%2dB[c%1];").arg(c).arg(-6 * c);
            pads += QStringLiteral("[c%1]").arg(c);
        }
        const QString master = dir->filePath(QStringLiteral("master%1.wav").arg(l.nch));
        ffmpeg({QStringLiteral("-filter_complex"),
                QStringLiteral("sine=f=100:d=5:sample_rate=48000,volume=6,asplit=%1%2;%3%4join=inputs=%1:channel_layout=%5")
                    .arg(l.nch)
                    .arg(split, inputs, pads, QLatin1String(l.layout)),
                QStringLiteral("-c:a"), QStringLiteral("pcm_s16le"), master});
        const auto m = read(master);
        ASSERT_EQ(m->nchans(), l.nch);
        ASSERT_EQ(m->channelmask(), l.mask);
        const double reference =
            ffmpeg_loudness(ffmpeg({QStringLiteral("-i"), master, QStringLiteral("-af"), QStringLiteral("ebur128"),
                                    QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")}));
        for (const char* codec : {"libvorbis", "libopus"}) {
            SCOPED_TRACE(std::string(l.layout) + " " + codec);
            const QString ogg = dir->filePath(QStringLiteral("%1-%2.ogg").arg(QLatin1String(codec)).arg(l.nch));
            ffmpeg({QStringLiteral("-i"), master, QStringLiteral("-c:a"), QLatin1String(codec), QStringLiteral("-b:a"),
                    QStringLiteral("%1k").arg(64 * l.nch), ogg});
            const auto w = read(ogg);
            ASSERT_EQ(w->nchans(), l.nch);
            EXPECT_EQ(w->channelmask(), l.mask);
            for (int c = 0; c < l.nch; ++c)
                EXPECT_NEAR(20 * std::log10(rms_of(w->samples()[size_t(c)]) / rms_of(m->samples()[size_t(c)])), 0, 2.5)
                    << "channel " << c;
            EXPECT_NEAR(*measure_loudness(*w).integrated, reference, 0.1);
        }
    }
}

// Decoding stops at the frames asked for: the start of a file is read
// without the rest, even where the rest is damaged.
TEST(SoundFile, DecodingStopsAtTheFramesAskedFor) {
    auto dir = build_temp_dir();
    const QString wav = dir->filePath(QStringLiteral("src.wav"));
    // Quiet enough that no decode goes beyond full scale (which would scale
    // the whole file, not its start, down).
    std::vector<int16_t> noise = noise16(200000, 2, 3);
    for (int16_t& v : noise) v = int16_t(v / 8);
    ASSERT_TRUE(test::sox_write(wav, bytes(noise), 44100, 2));
    for (const char* ext : {"flac", "ogg", "mp3"}) {
        SCOPED_TRACE(ext);
        const QString file = dir->filePath(QStringLiteral("src.%1").arg(QLatin1String(ext)));
        ASSERT_TRUE(test::sox({wav, file}));
        const auto whole = read(file);
        ASSERT_GT(whole->nsamples(), 100000);
        TWav start;
        start.open_file(file, false, 50000);
        ASSERT_EQ(start.nsamples(), 50000);
        for (size_t c = 0; c < 2; ++c)
            EXPECT_TRUE(std::equal(start.samples()[c].begin(), start.samples()[c].end(),
                                   whole->samples()[c].begin()));
    }
    const QString flac = dir->filePath(QStringLiteral("src.flac"));
    const QByteArray good = file_bytes(flac);
    const QString cut = dir->filePath(QStringLiteral("cut.flac"));
    write_bytes(cut, good.left(good.size() * 3 / 4));
    TWav start;
    start.open_file(cut, false, 44100);
    EXPECT_EQ(start.nsamples(), 44100);
    EXPECT_THROW(start.open_file(cut), EFileError);
}

// libsndfile keeps the reason an opening failed in one place for the whole
// process: a refusal read while another thread opens a file must still
// give its own reason, not "No Error."
TEST(SoundFile, TheReasonForARefusalIsItsOwnWhileOtherFilesOpen) {
    auto dir = build_temp_dir();
    const QString text = dir->filePath(QStringLiteral("text.bin"));
    write_bytes(text, "not a sound file at all, just words");
    const QString flac = dir->filePath(QStringLiteral("good.flac"));
    ASSERT_TRUE(test::sndfile_write(flac, noise16(100, 2, 1), 44100, 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
    std::atomic<bool> done{false};
    std::thread opener([&] {
        while (!done) read_sound_file(flac, true);
    });
    int wrong = 0;
    for (int i = 0; i < 20000; ++i) {
        try {
            read_sound_file(text, true);
            ++wrong;
        } catch (const EFileError& e) {
            if (!e.message().contains(QStringLiteral("Format not recognised"))) ++wrong;
        }
    }
    done = true;
    opener.join();
    EXPECT_EQ(wrong, 0);
}

// ---------------------------------------------------------------- files that cannot be read

TEST(SoundFile, DamagedAndUnknownFilesAreRefusedNamingFileAndReason) {
    auto dir = build_temp_dir();
    const QString wav = dir->filePath(QStringLiteral("src.wav"));
    const QString flac = dir->filePath(QStringLiteral("src.flac"));
    const QString longwav = dir->filePath(QStringLiteral("long.wav"));
    const QString longflac = dir->filePath(QStringLiteral("long.flac"));
    ASSERT_TRUE(test::sox({QStringLiteral("-D"), QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"),
                           QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("16"), wav,
                           QStringLiteral("synth"), QStringLiteral("3"), QStringLiteral("sine"),
                           QStringLiteral("1000")}));
    ASSERT_TRUE(test::sox({wav, flac}));
    ASSERT_TRUE(test::sox({QStringLiteral("-D"), QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"),
                           QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("16"),
                           longwav, QStringLiteral("synth"), QStringLiteral("30"), QStringLiteral("sine"),
                           QStringLiteral("1000")}));
    ASSERT_TRUE(test::sox({longwav, longflac}));
    const QByteArray good = file_bytes(flac);
    const QByteArray longgood = file_bytes(longflac);
    const qsizetype n = good.size(), ln = longgood.size();

    // Where decoding stops early libsndfile may name the fault itself (the
    // FLAC decoder's lost sync); else the reader says what it found.
    const char* stopped = "lost sync|damaged or cut short";
    const struct {
        const char* label;
        QByteArray file;
        const char* reason;  // a pattern
    } cases[] = {
        {"text", "not a sound file at all, just words", "Format not recognised"},
        {"FLAC with a damaged header", damaged(good, 8, 30), "unimplemented format"},
        {"FLAC with a damaged middle", damaged(good, n / 2, 2000), stopped},
        {"FLAC cut short", good.left(n / 2), stopped},
        {"long FLAC damaged in its first half", damaged(longgood, ln / 4, 4000), stopped},
        {"long FLAC damaged in its second half", damaged(longgood, ln * 3 / 4, 4000), stopped},
        {"FLAC signature only", good.left(4), ""},
    };
    int k = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const QString path = dir->filePath(QStringLiteral("bad%1.flac").arg(k++));
        write_bytes(path, c.file);
        TWav w;
        w.setFilename(QStringLiteral("/before/keep.wav"));
        w.setSampfreq(22050);
        w.setNchans(1);
        w.setNsamples(3);
        w.setSamples(TWavSamples16{TSampleRow{1, 2, 3}});
        w.setChannelmask(4);
        try {
            w.open_file(path);
            ADD_FAILURE() << "no error";
        } catch (const EFileError& e) {
            EXPECT_TRUE(e.message().startsWith(QStringLiteral("Cannot read \"%1\": ").arg(path))) << e.what();
            EXPECT_TRUE(e.message().contains(QRegularExpression(QLatin1String(c.reason)))) << e.what();
        }
        EXPECT_EQ(w.filename(), QStringLiteral("/before/keep.wav"));
        EXPECT_EQ(w.sampfreq(), 22050);
        EXPECT_EQ(w.nchans(), 1);
        EXPECT_EQ(w.nsamples(), 3);
        EXPECT_EQ(w.samples(), (TWavSamples16{TSampleRow{1, 2, 3}}));
        EXPECT_EQ(w.channelmask(), 4u);
    }
}

}  // namespace
}  // namespace wavrell
