#include "audio/wav_file.h"
#include "common/errors.h"
#include "tests/support/test_support.h"

#include <QFile>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace wavrell {
namespace {

using test::build_temp_dir;

// ---------------------------------------------------------------- byte fixtures

QByteArray le16(uint32_t v) {
    QByteArray b(2, 0);
    qToLittleEndian<uint16_t>(uint16_t(v), b.data());
    return b;
}
QByteArray le32(uint32_t v) {
    QByteArray b(4, 0);
    qToLittleEndian<uint32_t>(v, b.data());
    return b;
}

/// One chunk with its 8-byte header and the pad byte after an odd body.
QByteArray chunk(const char* id, const QByteArray& body, int64_t claimed = -1) {
    QByteArray b(id, 4);
    b += le32(uint32_t(claimed < 0 ? body.size() : claimed));
    b += body;
    if (body.size() % 2) b += '\0';
    return b;
}

/// A 16-byte format record, optionally followed by extension bytes.
QByteArray fmt_body(uint32_t tag, uint32_t nch, uint32_t rate, uint32_t bits, int64_t align = -1,
                    const QByteArray& extension = {}) {
    const uint32_t a = align < 0 ? nch * ((bits + 7) / 8) : uint32_t(align);
    return le16(tag) + le16(nch) + le32(rate) + le32(rate * a) + le16(a) + le16(bits) + extension;
}

/// Extension of the extensible format with the given sub-format tag and
/// channel mask; a non-zero `other` puts an unknown GUID instead.
QByteArray extensible_ext(uint32_t bits, uint32_t subtag, bool other = false, uint32_t mask = 3) {
    QByteArray guid = le32(subtag) + QByteArray::fromHex("000010008000 00aa00389b71");
    if (other) guid = QByteArray::fromHex("0123456789abcdef0123456789abcdef");
    return le16(22) + le16(bits) + le32(mask) + guid;
}

/// RIFF/WAVE file of the given chunks; riffsize < 0 writes the true size.
QByteArray riff(const QByteArray& chunks, int64_t riffsize = -1, const char* type = "WAVE") {
    QByteArray body = QByteArray(type, 4) + chunks;
    return QByteArray("RIFF") + le32(uint32_t(riffsize < 0 ? body.size() : riffsize)) + body;
}

QByteArray s16(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values) b += le16(uint32_t(uint16_t(int16_t(v))));
    return b;
}

void write_file(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

TWavSamples16 rows(std::initializer_list<TSampleRow> r) { return TWavSamples16(r); }

/// A store holding a small known content, to see that failures leave it alone.
void fill_known(TWav& w) {
    w.setFilename(QStringLiteral("/before/keep.wav"));
    w.setSampfreq(22050);
    w.setNchans(2);
    w.setNsamples(3);
    w.setSamples(rows({{1, 2, 3}, {-4, -5, -6}}));
}

void expect_known(const TWav& w) {
    EXPECT_EQ(w.filename(), QStringLiteral("/before/keep.wav"));
    EXPECT_EQ(w.sampfreq(), 22050);
    EXPECT_EQ(w.nchans(), 2);
    EXPECT_EQ(w.nsamples(), 3);
    EXPECT_EQ(w.samples(), rows({{1, 2, 3}, {-4, -5, -6}}));
}

// ---------------------------------------------------------------- sox as reference

/// The file's samples as sox decodes them, 32-bit signed interleaved.
std::vector<int32_t> sox_decode32(const QString& path) {
    QByteArray out;
    EXPECT_TRUE(test::sox({QStringLiteral("-D"), path, QStringLiteral("-t"), QStringLiteral("raw"),
                           QStringLiteral("-e"), QStringLiteral("signed"), QStringLiteral("-b"),
                           QStringLiteral("32"), QStringLiteral("-L"), QStringLiteral("-")},
                          &out));
    std::vector<int32_t> v(size_t(out.size()) / 4);
    for (size_t i = 0; i < v.size(); ++i) v[i] = qFromLittleEndian<int32_t>(out.constData() + 4 * i);
    return v;
}

/// 32-bit value to 16 bits: rounded half to even, saturated.
int16_t to16(int32_t v) {
    double r = std::nearbyint(double(v) / 65536.0);
    return int16_t(std::min(32767.0, std::max(-32768.0, r)));
}

QByteArray test_signal(int frames, int nch) {
    QByteArray raw;
    uint32_t x = 12345;
    const int extremes[] = {32767, -32768, 0, -1, 1};
    for (int i = 0; i < frames * nch; ++i) {
        x = x * 1103515245u + 12345u;
        int v = i < 5 ? extremes[i] : int16_t(x >> 16);
        raw += le16(uint32_t(uint16_t(int16_t(v))));
    }
    return raw;
}

void expect_equals_sox(const TWav& w, const QString& path, int nch, int rate) {
    const std::vector<int32_t> ref = sox_decode32(path);
    ASSERT_EQ(w.nchans(), nch);
    ASSERT_EQ(w.sampfreq(), rate);
    ASSERT_EQ(size_t(w.nsamples()) * size_t(nch), ref.size());
    ASSERT_EQ(w.samples().size(), size_t(nch));
    size_t bad = 0;
    for (int c = 0; c < nch; ++c) {
        ASSERT_EQ(w.samples()[c].size(), size_t(w.nsamples()));
        for (int i = 0; i < w.nsamples(); ++i)
            if (w.samples()[c][i] != to16(ref[size_t(i) * nch + c]) && bad++ < 5)
                ADD_FAILURE() << "channel " << c << " sample " << i << ": " << w.samples()[c][i]
                              << " instead of " << to16(ref[size_t(i) * nch + c]);
    }
    EXPECT_EQ(bad, 0u);
}

// ---------------------------------------------------------------- reading what sox wrote

struct SoxCase {
    const char* label;
    int nch;
    QStringList options;  // sox output options
    bool synth;           // a sine written by sox directly (fractional bits), else our 16-bit signal
    uint16_t expected_tag;
    int frames = 1001;    // of our signal
};

TEST(WavFile, ReadsWhatSoxWroteAsSoxDecodesIt) {
    auto dir = build_temp_dir();
    const SoxCase cases[] = {
        {"16-bit stereo", 2, {}, false, 1},
        {"8-bit mono", 1, {"-b", "8"}, false, 1},
        {"24-bit stereo (extensible)", 2, {"-b", "24"}, false, 0xFFFE},
        {"24-bit sine with fractional bits", 2, {"-b", "24"}, true, 0xFFFE},
        {"24-bit plain PCM", 1, {"-t", "wavpcm", "-b", "24"}, true, 1},
        {"32-bit integer sine", 1, {"-b", "32"}, true, 0xFFFE},
        {"32-bit float with fact chunk", 2, {"-e", "floating-point", "-b", "32"}, false, 3},
        {"64-bit float", 1, {"-e", "floating-point", "-b", "64"}, false, 3},
        {"3 channels 16-bit (extensible)", 3, {}, false, 0xFFFE},
        {"16-bit stereo over several read blocks", 2, {}, false, 1, 1200001},
        {"24-bit 3 channels over several read blocks", 3, {"-b", "24"}, false, 0xFFFE, 300007},
        // Long files are read by two threads in pieces taken in turn; the
        // frame counts leave the last piece (and the vector loops) short.
        {"16-bit stereo read by two threads", 2, {}, false, 1, 8400001},
        {"24-bit 3 channels read by two threads", 3, {"-b", "24"}, false, 0xFFFE, 3800009},
        {"16-bit mono read by two threads", 1, {}, false, 1, 16800003},
    };
    int n = 0;
    for (const SoxCase& k : cases) {
        SCOPED_TRACE(k.label);
        const QString path = dir->filePath(QStringLiteral("sox%1.wav").arg(n++));
        const int rate = 11025;
        if (k.synth) {
            QStringList args{"-D", "-n", "-r", QString::number(rate), "-c", QString::number(k.nch)};
            args += k.options;
            args << path << "synth" << "0.2" << "sine" << "441" << "gain" << "-0.5";
            ASSERT_TRUE(test::sox(args));
        } else {
            ASSERT_TRUE(test::sox_write(path, test_signal(k.frames, k.nch), rate, k.nch, k.options));
        }
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        ASSERT_EQ(qFromLittleEndian<uint16_t>(f.read(22).constData() + 20), k.expected_tag) << "sox wrote another format";

        TWav w;
        w.open_file(path);
        EXPECT_EQ(w.filename(), path);
        expect_equals_sox(w, path, k.nch, rate);
        if (!k.synth && k.options.isEmpty()) {
            // 16-bit PCM stays bit-exact: compare with the source itself.
            const QByteArray src = test_signal(k.frames, k.nch);
            for (int i = 0; i < k.frames * k.nch; ++i)
                ASSERT_EQ(w.samples()[i % k.nch][i / k.nch], qFromLittleEndian<int16_t>(src.constData() + 2 * i));
        }
    }
}

// ---------------------------------------------------------------- chunk walking

struct LayoutCase {
    const char* label;
    QByteArray file;
    int nch;
    TWavSamples16 samples;
};

TEST(WavFile, WalksChunksAndTakesWholeFramesPresent) {
    auto dir = build_temp_dir();
    const QByteArray f16 = chunk("fmt ", fmt_body(1, 2, 8000, 16));
    const QByteArray data = chunk("data", s16({1, -1, 2, -2, 3, -3}));
    const LayoutCase cases[] = {
        {"plain", riff(f16 + data), 2, {{1, 2, 3}, {-1, -2, -3}}},
        {"odd-sized chunk before fmt and data (pad byte)",
         riff(chunk("LIST", "INFOabc") + f16 + chunk("junk", "x") + data), 2, {{1, 2, 3}, {-1, -2, -3}}},
        {"fmt of 18 bytes", riff(chunk("fmt ", fmt_body(1, 2, 8000, 16, -1, le16(0))) + data), 2,
         {{1, 2, 3}, {-1, -2, -3}}},
        {"fmt of 40 bytes", riff(chunk("fmt ", fmt_body(1, 2, 8000, 16, -1, le16(22) + QByteArray(22, 'z'))) + data),
         2, {{1, 2, 3}, {-1, -2, -3}}},
        {"second data chunk replaces the first", riff(f16 + data + chunk("data", s16({7, 8}))), 2, {{7}, {8}}},
        // Deliberate: the chunks are walked to the end, so a "data" chunk
        // before the "fmt " chunk is read like one after it.
        {"data before fmt", riff(data + f16), 2, {{1, 2, 3}, {-1, -2, -3}}},
        {"RIFF size 0 walks to the end of the file", riff(f16 + data, 0), 2, {{1, 2, 3}, {-1, -2, -3}}},
        {"RIFF size beyond the file", riff(f16 + data, 0xFFFFFFFF), 2, {{1, 2, 3}, {-1, -2, -3}}},
        {"RIFF size ending before a trailing data chunk",
         riff(f16 + data, 4 + f16.size() + data.size()) + chunk("data", s16({9, 9})), 2, {{1, 2, 3}, {-1, -2, -3}}},
        {"data size not a multiple of the frame", riff(f16 + chunk("data", s16({1, -1, 2, -2, 3}))), 2,
         {{1, 2}, {-1, -2}}},
        {"data chunk claiming more than the file holds",
         riff(f16 + QByteArray("data") + le32(4000) + s16({1, -1, 2, -2, 3})), 2, {{1, 2}, {-1, -2}}},
        {"data chunk of 0 bytes", riff(f16 + chunk("data", {})), 2, {{}, {}}},
    };
    int n = 0;
    for (const LayoutCase& k : cases) {
        SCOPED_TRACE(k.label);
        const QString path = dir->filePath(QStringLiteral("l%1.wav").arg(n++));
        write_file(path, k.file);
        TWav w;
        fill_known(w);
        w.open_file(path);
        EXPECT_EQ(w.filename(), path);
        EXPECT_EQ(w.sampfreq(), 8000);
        EXPECT_EQ(w.nchans(), k.nch);
        EXPECT_EQ(w.nsamples(), int(k.samples[0].size()));
        EXPECT_EQ(w.samples(), k.samples);
    }
}

TEST(WavFile, HeaderOnlyTakesFormatWithoutSamples) {
    auto dir = build_temp_dir();
    const QString path = dir->filePath(QStringLiteral("h.wav"));
    write_file(path, riff(chunk("fmt ", fmt_body(1, 3, 48000, 24)) + chunk("data", QByteArray(90, 1))));
    TWav w;
    fill_known(w);
    w.open_file(path, true);
    EXPECT_EQ(w.nchans(), 3);
    EXPECT_EQ(w.sampfreq(), 48000);
    EXPECT_EQ(w.nsamples(), 0);
    EXPECT_EQ(w.samples(), TWavSamples16(3));

    // An empty name reads the current file again.
    w.open_file(QString());
    EXPECT_EQ(w.nsamples(), 10);
    EXPECT_EQ(w.samples()[2][9], int16_t(0x0101));
}

TEST(WavFile, ChannelMaskOfTheExtensibleFormat) {
    auto dir = build_temp_dir();
    const QByteArray six = s16({1, 2, 3, 4, 5, 6});
    const struct {
        const char* label;
        QByteArray fmt;
        uint32_t mask;
    } cases[] = {
        {"5.1 extensible", fmt_body(0xFFFE, 6, 48000, 16, -1, extensible_ext(16, 1, false, 0x3F)), 0x3F},
        {"7.1 mask on six channels", fmt_body(0xFFFE, 6, 48000, 16, -1, extensible_ext(16, 1, false, 0x63F)), 0x63F},
        {"extensible without positions", fmt_body(0xFFFE, 6, 48000, 16, -1, extensible_ext(16, 1, false, 0)), 0},
        {"plain PCM", fmt_body(1, 6, 48000, 16), 0},
    };
    int n = 0;
    for (const auto& k : cases) {
        SCOPED_TRACE(k.label);
        const QString path = dir->filePath(QStringLiteral("m%1.wav").arg(n++));
        write_file(path, riff(chunk("fmt ", k.fmt) + chunk("data", six)));
        TWav w;
        w.setChannelmask(0xDEAD);
        w.open_file(path, n % 2 == 0);  // the header alone gives it too
        EXPECT_EQ(w.channelmask(), k.mask);
        // It moves with the rest of the format.
        TWav other;
        other.swap_content(w);
        EXPECT_EQ(other.channelmask(), k.mask);
        EXPECT_EQ(w.channelmask(), 0u);
    }
}

// ---------------------------------------------------------------- conversion of wide samples

QByteArray s24(std::initializer_list<int32_t> values) {
    QByteArray b;
    for (int32_t v : values) b += le32(uint32_t(v)).left(3);
    return b;
}
QByteArray s32(std::initializer_list<int64_t> values) {
    QByteArray b;
    for (int64_t v : values) b += le32(uint32_t(int32_t(v)));
    return b;
}
QByteArray f32(std::initializer_list<float> values) {
    QByteArray b;
    for (float v : values) {
        uint32_t u;
        std::memcpy(&u, &v, 4);
        b += le32(u);
    }
    return b;
}
QByteArray f64(std::initializer_list<double> values) {
    QByteArray b;
    for (double v : values) {
        uint64_t u;
        std::memcpy(&u, &v, 8);
        b += le32(uint32_t(u)) + le32(uint32_t(u >> 32));
    }
    return b;
}

// Real samples within full scale are stored as they are (exactly 1.0 and
// infinities saturate); a file whose real samples go beyond it is stored
// scaled down just enough to fit, with that scale noted.
TEST(WavFile, WideSamplesRoundHalfToEvenAndSaturate) {
    auto dir = build_temp_dir();
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* label;
        QByteArray fmt;
        QByteArray data;
        TSampleRow expected;
        double gain = 1.0;
    } cases[] = {
        {"24-bit", fmt_body(1, 1, 8000, 24),
         s24({0x80, 0x180, 0x17F, 0x181, -0x80, -0x180, 0x7FFF7F, 0x7FFF80, 0x7FFFFF, -0x800000, -0x7FFF80}),
         {0, 2, 1, 2, 0, -2, 32767, 32767, 32767, -32768, -32768}},
        {"32-bit", fmt_body(1, 1, 8000, 32),
         s32({0x8000, 0x18000, 0x2FFFF, 0x7FFFFFFF, -0x80000000LL, -0x7FFF8000LL, 0x12345678}),
         {0, 2, 3, 32767, -32768, -32768, 0x1234}},
        {"float 32", fmt_body(3, 1, 8000, 32),
         f32({0.5f, 1.0f, -1.0f, 0.5f / 32768, 1.5f / 32768, -2.5f / 32768, float(inf), float(-inf), float(nan)}),
         {16384, 32767, -32768, 0, 2, -2, 32767, -32768, 0}},
        {"float 64 (extensible)", fmt_body(0xFFFE, 1, 8000, 64, -1, extensible_ext(64, 3)),
         f64({0.25, 32767.5 / 32768, 3.5 / 32768, -1.0, nan}), {8192, 32767, 4, -32768, 0}},
        {"float 32 beyond full scale", fmt_body(3, 1, 8000, 32), f32({0.5f, 1.25f, -1.25f, -3.0f, 2.0f, float(inf)}),
         {5461, 13653, -13653, -32767, 21845, 32767}, 32767.0 / (3 * 32768)},
        {"float 64 just beyond full scale", fmt_body(3, 1, 8000, 64), f64({-1.0000001, 0.5}), {-32767, 16383},
         32767.0 / (1.0000001 * 32768)},
        {"8-bit unsigned", fmt_body(1, 1, 8000, 8), QByteArray::fromHex("0080ff7f"), {-32768, 0, 32512, -256}},
        {"16-bit PCM (extensible)", fmt_body(0xFFFE, 1, 8000, 16, -1, extensible_ext(16, 1)),
         s16({-32768, 32767, 5}), {-32768, 32767, 5}},
    };
    int n = 0;
    for (const auto& k : cases) {
        SCOPED_TRACE(k.label);
        const QString path = dir->filePath(QStringLiteral("r%1.wav").arg(n++));
        write_file(path, riff(chunk("fmt ", k.fmt) + chunk("data", k.data)));
        TWav w;
        w.open_file(path);
        ASSERT_EQ(w.nchans(), 1);
        EXPECT_EQ(w.samples()[0], k.expected);
        EXPECT_DOUBLE_EQ(w.storegain(), k.gain);
    }
}

// ---------------------------------------------------------------- files that cannot be read

TEST(WavFile, UnusableFilesRaiseNamingFileAndReasonAndLeaveStoreAlone) {
    auto dir = build_temp_dir();
    const QByteArray data = chunk("data", s16({1, 2}));
    const struct {
        const char* label;
        QByteArray file;
        const char* reason;
    } cases[] = {
        // Files that do not begin as RIFF WAVE go to libsndfile, whose
        // reason is given.
        {"empty file", {}, "Format not recognised"},
        {"RIFX", QByteArray("RIFX") + riff(data).mid(4), "Error in WAV file"},
        {"not WAVE", riff(chunk("fmt ", fmt_body(1, 1, 8000, 16)) + data, -1, "AVI "), "Format not recognised"},
        {"no fmt", riff(data), "no \"fmt \" chunk"},
        {"no data", riff(chunk("fmt ", fmt_body(1, 1, 8000, 16))), "no \"data\" chunk"},
        {"ADPCM", riff(chunk("fmt ", fmt_body(2, 1, 8000, 4, 256)) + data), "unsupported WAV format tag 0x0002"},
        {"extensible ADPCM", riff(chunk("fmt ", fmt_body(0xFFFE, 1, 8000, 16, -1, extensible_ext(16, 2))) + data),
         "unsupported WAV format tag 0x0002"},
        {"extensible unknown GUID",
         riff(chunk("fmt ", fmt_body(0xFFFE, 1, 8000, 16, -1, extensible_ext(16, 1, true))) + data),
         "sub-format {67452301-AB89-EFCD-0123-456789ABCDEF}"},
        {"extensible too short", riff(chunk("fmt ", fmt_body(0xFFFE, 1, 8000, 16)) + data), "shorter than 40"},
        {"fmt too short", riff(chunk("fmt ", fmt_body(1, 1, 8000, 16).left(14)) + data), "shorter than 16 bytes"},
        {"0 channels", riff(chunk("fmt ", fmt_body(1, 0, 8000, 16, 2)) + data), "0 channels"},
        {"rate 0", riff(chunk("fmt ", fmt_body(1, 1, 0, 16)) + data), "sampling rate is 0 Hz"},
        {"alignment", riff(chunk("fmt ", fmt_body(1, 2, 8000, 16, 3)) + data),
         "block alignment of 3 bytes does not fit 2 channels of 16 bits"},
        {"float of 16 bits", riff(chunk("fmt ", fmt_body(3, 1, 8000, 16)) + data), "IEEE float sample size of 16"},
        {"PCM of 40 bits", riff(chunk("fmt ", fmt_body(1, 1, 8000, 40)) + data), "PCM sample size of 40"},
    };
    int n = 0;
    for (const auto& k : cases) {
        SCOPED_TRACE(k.label);
        const QString path = dir->filePath(QStringLiteral("bad%1.wav").arg(n++));
        write_file(path, k.file);
        TWav w;
        fill_known(w);
        try {
            w.open_file(path);
            ADD_FAILURE() << "no error";
        } catch (const EFileError& e) {
            EXPECT_TRUE(e.message().contains(path)) << e.what();
            EXPECT_TRUE(e.message().contains(QLatin1String(k.reason))) << e.what();
        }
        expect_known(w);
    }

    // System errors carry the system's reason; what is not a regular file
    // is refused before anything is read (a named pipe without a writer
    // would block the reading forever).
    struct SysCase {
        QString path;
        const char* reason;
    };
    std::vector<SysCase> sys{{dir->filePath(QStringLiteral("missing.wav")), "No such file or directory"},
                             {dir->path(), "Is a directory"}};
    for (const test::SpecialFile& f : test::special_files(*dir)) sys.push_back({f.path, f.reason});
    for (const auto& k : sys) {
        TWav w;
        fill_known(w);
        try {
            w.open_file(k.path);
            ADD_FAILURE() << "no error for " << k.path.toStdString();
        } catch (const EFileError& e) {
            EXPECT_TRUE(e.message().contains(k.path)) << e.what();
            EXPECT_TRUE(e.message().contains(QLatin1String(k.reason))) << e.what();
        }
        expect_known(w);
    }
}

TEST(WavFile, NamesThatAreNotUtf8AreReadAndWritten) {
    auto dir = build_temp_dir();
    const QString sox_made = dir->filePath(QStringLiteral("sox.wav"));
    ASSERT_TRUE(test::sox_write(sox_made, s16({5, -5, 7, -7}), 8000, 2));
    const test::BytesNamedFile odd(sox_made, "\xFFsox\xE9.wav");
    TWav w;
    w.open_file(odd.name);
    EXPECT_EQ(w.filename(), odd.name);
    EXPECT_EQ(w.samples(), (TWavSamples16{{5, 7}, {-5, -7}}));

    // Saved under a name of such bytes, and read back by it.
    QFile(dir->filePath(QStringLiteral("empty"))).open(QIODevice::WriteOnly);
    const test::BytesNamedFile copy(dir->filePath(QStringLiteral("empty")), "copy\xFF.wav");
    w.save_file(copy.name);
    TWav back;
    back.open_file(copy.name);
    EXPECT_EQ(back.samples(), w.samples());
}

// ---------------------------------------------------------------- writing

TEST(WavFile, SavedStoreIsA44ByteHeaderPlusDataAndReopensIdentical) {
    auto dir = build_temp_dir();
    TWav w;
    w.setSampfreq(44100);
    w.setNchans(3);
    w.setNsamples(70001);  // more than one write block
    uint32_t x = 7;
    for (auto& row : w.samples())
        for (auto& v : row) v = int16_t((x = x * 1664525u + 1013904223u) >> 16);
    w.setFilename(QStringLiteral("unchanged.wav"));
    const QString path = dir->filePath(QStringLiteral("saved.wav"));
    w.save_file(path);
    EXPECT_EQ(w.filename(), QStringLiteral("unchanged.wav"));

    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    const uint32_t d = 3 * 70001 * 2;
    ASSERT_EQ(bytes.size(), 44 + qsizetype(d));
    const QByteArray expected_header = QByteArray("RIFF") + le32(d + 36) + "WAVE" + chunk("fmt ", fmt_body(1, 3, 44100, 16)) +
                                       "data" + le32(d);
    EXPECT_EQ(bytes.left(44).toHex(), expected_header.toHex());

    TWav r;
    r.open_file(path);
    EXPECT_EQ(r.nchans(), 3);
    EXPECT_EQ(r.sampfreq(), 44100);
    EXPECT_EQ(r.nsamples(), 70001);
    EXPECT_TRUE(r.samples() == w.samples());
    // sox reads the same samples from it.
    expect_equals_sox(w, path, 3, 44100);

    // A store without samples gives a valid empty file.
    w.new_file();
    EXPECT_EQ(w.nchans(), 3);
    w.save_file(path);
    EXPECT_EQ(QFile(path).size(), 44);
    r.open_file(path);
    EXPECT_EQ(r.nsamples(), 0);
    EXPECT_EQ(r.nchans(), 3);
}

TEST(WavFile, SaveFailuresRaiseNamingFileAndReason) {
    auto dir = build_temp_dir();
    TWav empty;
    empty.setSampfreq(8000);
    TWav one;
    one.setSampfreq(8000);
    one.setNchans(1);
    one.setNsamples(100000);
    const struct {
        const TWav* store;
        QString path;
        const char* reason;
    } cases[] = {
        {&empty, dir->filePath(QStringLiteral("e.wav")), "no channels"},
        {&one, dir->filePath(QStringLiteral("no/such/folder.wav")), "No such file or directory"},
        {&one, QStringLiteral("/dev/full"), "No space left on device"},
    };
    for (const auto& k : cases) {
        try {
            k.store->save_file(k.path);
            ADD_FAILURE() << "no error for " << k.path.toStdString();
        } catch (const EFileError& e) {
            EXPECT_TRUE(e.message().contains(k.path)) << e.what();
            EXPECT_TRUE(e.message().contains(QLatin1String(k.reason))) << e.what();
        }
    }
    EXPECT_FALSE(QFile::exists(dir->filePath(QStringLiteral("e.wav"))));
}

// ---------------------------------------------------------------- store operations

TEST(WavFile, ResizingKeepsValuesAndDerivedProperties) {
    TWav w;
    EXPECT_EQ(w.filename(), QString());
    EXPECT_EQ(w.tottime(), 0.0);
    w.setNchans(2);
    w.setNsamples(3);
    w.samples() = rows({{1, 2, 3}, {4, 5, 6}});
    w.setNsamples(4);
    EXPECT_EQ(w.samples(), rows({{1, 2, 3, 0}, {4, 5, 6, 0}}));
    w.setNchans(3);
    EXPECT_EQ(w.samples(), rows({{1, 2, 3, 0}, {4, 5, 6, 0}, {0, 0, 0, 0}}));
    w.setNchans(1);
    w.setNsamples(2);
    EXPECT_EQ(w.samples(), rows({{1, 2}}));
    w.setSampfreq(8000);
    w.setNchans(2);
    EXPECT_EQ(w.sftot(), 16000);
    EXPECT_DOUBLE_EQ(w.tottime(), 2.0 / 8000);
    w.setFilename(QStringLiteral("x.wav"));
    w.new_file();
    EXPECT_EQ(w.nsamples(), 0);
    EXPECT_EQ(w.samples(), TWavSamples16(2));
    EXPECT_EQ(w.nchans(), 2);
    EXPECT_EQ(w.sampfreq(), 8000);
    EXPECT_EQ(w.filename(), QStringLiteral("x.wav"));
}

TEST(WavFile, PlaychunkInterleavesAndPadsWithSilence) {
    TWav w;
    w.setNchans(1);
    w.setNsamples(4);
    w.samples() = rows({{10, 11, 12, 13}});
    const struct {
        std::vector<int32_t> chans;
        int first, count;
        std::vector<int16_t> expected;
    } cases[] = {
        {{0, 1}, 0, 3, {10, 0, 11, 0, 12, 0}},
        {{0}, -2, 4, {0, 0, 10, 11}},
        {{0}, 2, 4, {12, 13, 0, 0}},
        {{-1, 0, 0}, 3, 2, {0, 13, 13, 0, 0, 0}},
        {{0}, 0, 0, {}},
        {{}, 0, 5, {}},
    };
    for (const auto& k : cases) {
        tsmallintarr buf(7, 99);
        w.playchunk(k.chans, k.first, k.count, buf);
        EXPECT_EQ(buf, k.expected) << "first " << k.first << " count " << k.count;
    }
}

}  // namespace
}  // namespace wavrell
