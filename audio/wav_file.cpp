#include "audio/wav_file.h"

#include "audio/sample_narrowing.h"
#include "audio/sound_file.h"
#include "common/prefault.h"
#include "common/side_by_side.h"
#include "common/work_progress.h"

#include "common/errors.h"
#include "common/native_file_name.h"
#include "common/regular_file.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <type_traits>
#include <thread>
#include <new>
#include <optional>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wavrell {

namespace {

// ---------------------------------------------------------------- errors

QString system_reason(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

[[noreturn]] void fail(const char* verb, const QString& name, const QString& what) {
    throw EFileError(QStringLiteral("%1 \"%2\": %3").arg(QLatin1String(verb), name, what));
}

[[noreturn]] void fail_read(const QString& name, const QString& what) { fail("Cannot read", name, what); }

[[noreturn]] void fail_system(const char* verb, const QString& name, int err) {
    fail(verb, name, system_reason(err));
}

// ---------------------------------------------------------------- file access

/// A POSIX file descriptor closed on every path; close failures of a file
/// being written are reported by close_checked.
class Fd {
public:
    Fd(const QString& name, int flags, mode_t mode, const char* verb) : fname(name) {
        const QByteArray path = native_file_name(name);
        do fd = ::open(path.constData(), flags | O_CLOEXEC, mode);
        while (fd < 0 && errno == EINTR);
        if (fd < 0) fail_system(verb, name, errno);
    }
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return fd; }

    void close_checked(const char* verb) {
        int rc = ::close(fd);
        fd = -1;
        if (rc != 0 && errno != EINTR) fail_system(verb, fname, errno);
    }

private:
    QString fname;
    int fd = -1;
};

/// Reads up to n bytes at offset; fewer only at the end of the file.
size_t read_at(int fd, const QString& name, void* buf, size_t n, uint64_t offset) {
    auto* p = static_cast<uint8_t*>(buf);
    size_t done = 0;
    while (done < n) {
        ssize_t got = ::pread(fd, p + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            fail_system("Cannot read", name, errno);
        }
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return done;
}

void write_all(int fd, const QString& name, const void* buf, size_t n) {
    auto* p = static_cast<const uint8_t*>(buf);
    while (n > 0) {
        ssize_t put = ::write(fd, p, n);
        if (put < 0) {
            if (errno == EINTR) continue;
            fail_system("Cannot write", name, errno);
        }
        p += put;
        n -= static_cast<size_t>(put);
    }
}

// ---------------------------------------------------------------- little-endian fields

inline uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void put16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}
inline bool is_id(const uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

// ---------------------------------------------------------------- sample conversion

/// Rounds v / 2^shift half to even and saturates to 16 bits.
inline int16_t narrow_shift(int64_t v, int shift) {
    const int64_t half = int64_t(1) << (shift - 1);
    const int64_t mask = (int64_t(1) << shift) - 1;
    int64_t q = v >> shift;  // floor
    const int64_t r = v & mask;
    q += (r > half) | ((r == half) & (q & 1));
    return static_cast<int16_t>(std::clamp<int64_t>(q, -32768, 32767));
}

struct U8 {
    static constexpr int bytes = 1;
    static int16_t get(const uint8_t* p, double) { return static_cast<int16_t>((int(p[0]) - 128) * 256); }
};
struct S16 {
    static constexpr int bytes = 2;
    static int16_t get(const uint8_t* p, double = 1) { return static_cast<int16_t>(le16(p)); }
};
struct S24 {
    static constexpr int bytes = 3;
    static int16_t get(const uint8_t* p, double) {
        int32_t v = static_cast<int32_t>((uint32_t(p[0]) << 8) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 24)) >> 8;
        return narrow_shift(v, 8);
    }
};
struct S32 {
    static constexpr int bytes = 4;
    static int16_t get(const uint8_t* p, double) { return narrow_shift(static_cast<int32_t>(le32(p)), 16); }
};
struct F32 {
    static constexpr int bytes = 4;
    static double value(const uint8_t* p) {
        uint32_t u = le32(p);
        float f;
        std::memcpy(&f, &u, 4);
        return f;
    }
    static int16_t get(const uint8_t* p, double scale) { return narrow_real(value(p) * scale); }
};
struct F64 {
    static constexpr int bytes = 8;
    static double value(const uint8_t* p) {
        uint64_t u = uint64_t(le32(p)) | (uint64_t(le32(p + 4)) << 32);
        double d;
        std::memcpy(&d, &u, 8);
        return d;
    }
    static int16_t get(const uint8_t* p, double scale) { return narrow_real(value(p) * scale); }
};

/// Decodes frames whole frames of src into the rows, channel c from dst[c]
/// on. NCH is the channel count when known at compile time (1 or 2), else 0.
template <class Conv, int NCH>
void decode_frames(const uint8_t* src, size_t frames, int nch, int16_t* const* dst, double scale) {
    const int n = NCH ? NCH : nch;
    const size_t stride = size_t(n) * Conv::bytes;
    for (int c = 0; c < n; ++c) {
        const uint8_t* s = src + size_t(c) * Conv::bytes;
        int16_t* d = dst[c];
        for (size_t i = 0; i < frames; ++i) d[i] = Conv::get(s + i * stride, scale);
    }
}

/// 16-bit stereo, the common case, eight frames at a time where the
/// processor can: each 32-bit element of a load is one frame, left in its
/// low half.
void decode_s16_stereo(const uint8_t* src, size_t frames, int16_t* left, int16_t* right) {
    size_t i = 0;
#if defined(__SSE2__)
    if constexpr (std::endian::native == std::endian::little) {
        for (; i + 8 <= frames; i += 8) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i + 16));
            const __m128i la = _mm_srai_epi32(_mm_slli_epi32(a, 16), 16);
            const __m128i lb = _mm_srai_epi32(_mm_slli_epi32(b, 16), 16);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(left + i), _mm_packs_epi32(la, lb));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(right + i),
                             _mm_packs_epi32(_mm_srai_epi32(a, 16), _mm_srai_epi32(b, 16)));
        }
    }
#endif
    for (; i < frames; ++i) {
        left[i] = S16::get(src + 4 * i);
        right[i] = S16::get(src + 4 * i + 2);
    }
}

template <class Conv>
void decode(const uint8_t* src, size_t frames, int nch, int16_t* const* dst, double scale) {
    if constexpr (std::is_same_v<Conv, S16>)
        if (nch == 2) return decode_s16_stereo(src, frames, dst[0], dst[1]);
    if (nch == 1)
        decode_frames<Conv, 1>(src, frames, 1, dst, scale);
    else if (nch == 2)
        decode_frames<Conv, 2>(src, frames, 2, dst, scale);
    else
        decode_frames<Conv, 0>(src, frames, nch, dst, scale);
}

/// Decodes frames of the data into the rows; real samples are multiplied
/// by the scale first.
using Decoder = void (*)(const uint8_t*, size_t, int, int16_t* const*, double);

/// The largest finite magnitude among n real samples.
template <class Conv>
double real_peak(const uint8_t* src, size_t n) {
    double peak = 0;
    for (size_t i = 0; i < n; ++i) {
        const double v = std::abs(Conv::value(src + i * Conv::bytes));
        if (v > peak && std::isfinite(v)) peak = v;
    }
    return peak;
}

// ---------------------------------------------------------------- sample rows

/// The buffer that file data is read into: for large data one large page,
/// aligned to it; for small data just the data's size.
class ReadBuffer {
public:
    static constexpr size_t large = size_t(2) << 20;
    explicit ReadBuffer(uint64_t data_bytes)
        : fsize(data_bytes >= large ? large : size_t(std::max<uint64_t>(data_bytes, 1))),
          fp(static_cast<uint8_t*>(fsize == large ? std::aligned_alloc(large, large) : std::malloc(fsize))) {
        if (!fp) throw std::bad_alloc();
        if (fsize == large) prefault(fp, fsize);
    }
    ~ReadBuffer() { std::free(fp); }
    ReadBuffer(const ReadBuffer&) = delete;
    ReadBuffer& operator=(const ReadBuffer&) = delete;
    uint8_t* get() const { return fp; }
    size_t size() const { return fsize; }

private:
    size_t fsize;
    uint8_t* fp;
};

// ---------------------------------------------------------------- format

struct Format {
    int nchans = 0;
    int32_t sampfreq = 0;
    int bytes = 0;  // per sample
    uint16_t align = 0;
    uint32_t channelmask = 0;  // speaker bits of the extensible format, else 0
    Decoder decode = nullptr;
    double (*peak)(const uint8_t*, size_t) = nullptr;  // of real samples; null for integer ones
    double scale = 1.0;  // real samples are stored multiplied by it
};

const uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                               0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

QString guid_text(const uint8_t* g) {
    return QStringLiteral("{%1-%2-%3-%4%5-%6}")
        .arg(le32(g), 8, 16, QLatin1Char('0'))
        .arg(le16(g + 4), 4, 16, QLatin1Char('0'))
        .arg(le16(g + 6), 4, 16, QLatin1Char('0'))
        .arg(uint(g[8]), 2, 16, QLatin1Char('0'))
        .arg(uint(g[9]), 2, 16, QLatin1Char('0'))
        .arg(QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(g + 10), 6).toHex()))
        .toUpper();
}

QString tag_text(uint32_t tag) {
    return QStringLiteral("0x") + QString::number(tag, 16).rightJustified(4, QLatin1Char('0')).toUpper();
}

/// Checks and interprets the format chunk (fmt holds its first fmtlen bytes).
Format parse_format(const QString& name, const uint8_t* fmt, size_t fmtlen) {
    if (fmtlen < 16) fail_read(name, QStringLiteral("the \"fmt \" chunk is shorter than 16 bytes"));
    uint32_t tag = le16(fmt);
    uint32_t channelmask = 0;
    const uint32_t channels = le16(fmt + 2);
    const uint32_t rate = le32(fmt + 4);
    const uint32_t align = le16(fmt + 12);
    const uint32_t bits = le16(fmt + 14);

    if (tag == 0xFFFE) {
        if (fmtlen < 40)
            fail_read(name, QStringLiteral("the \"fmt \" chunk of the extensible format is shorter than 40 bytes"));
        const uint8_t* guid = fmt + 24;
        if (std::memcmp(guid + 2, kGuidTail, 14) != 0)
            fail_read(name, QStringLiteral("unsupported WAV sub-format %1").arg(guid_text(guid)));
        tag = le16(guid);
        channelmask = le32(fmt + 20);
        if (tag != 1 && tag != 3)
            fail_read(name, QStringLiteral("unsupported WAV format tag %1 (extensible)").arg(tag_text(tag)));
    } else if (tag != 1 && tag != 3) {
        fail_read(name, QStringLiteral("unsupported WAV format tag %1").arg(tag_text(tag)));
    }
    if (channels == 0) fail_read(name, QStringLiteral("the format has 0 channels"));
    if (rate == 0) fail_read(name, QStringLiteral("the sampling rate is 0 Hz"));
    if (rate > uint32_t(std::numeric_limits<int32_t>::max()))
        fail_read(name, QStringLiteral("the sampling rate of %1 Hz is out of range").arg(rate));

    Format f;
    f.nchans = int(channels);
    f.sampfreq = int32_t(rate);
    if (tag == 1) {
        if (bits == 0 || bits > 32)
            fail_read(name, QStringLiteral("unsupported PCM sample size of %1 bits").arg(bits));
        f.bytes = int((bits + 7) / 8);
        static const Decoder pcm[] = {decode<U8>, decode<S16>, decode<S24>, decode<S32>};
        f.decode = pcm[f.bytes - 1];
    } else {
        if (bits != 32 && bits != 64)
            fail_read(name, QStringLiteral("unsupported IEEE float sample size of %1 bits").arg(bits));
        f.bytes = int(bits / 8);
        f.decode = bits == 32 ? decode<F32> : decode<F64>;
        f.peak = bits == 32 ? real_peak<F32> : real_peak<F64>;
    }
    if (align != channels * uint32_t(f.bytes))
        fail_read(name, QStringLiteral("the block alignment of %1 bytes does not fit %2 channels of %3 bits")
                            .arg(align)
                            .arg(channels)
                            .arg(bits));
    f.align = uint16_t(align);
    f.channelmask = channelmask;
    return f;
}

// ---------------------------------------------------------------- reader

/// Reads and decodes one open file's data into its rows, sized for all
/// frames. The work comes in pieces that the reading threads take in turn,
/// so that a thread that starts late simply takes fewer and none waits for
/// another: first the rows' pages are faulted in (large rows otherwise
/// cost a page fault per 4 KiB as they are first written), then the file
/// is read and decoded. A thread may decode into pages that another is
/// still faulting in: faulting in changes nothing of what a page holds.
class FrameReader {
public:
    FrameReader(int fd, const QString& name, const Format& format, uint64_t data_at, uint64_t frames,
                std::vector<int16_t*> rows, bool fault_rows, TWorkProgress* progress)
        : ffd(fd), fname(name), fformat(format), fdata_at(data_at), fframes(frames), frows(std::move(rows)),
          ffault_rows(fault_rows), fprogress(progress), fend(frames) {}

    /// One reading thread's part: takes pieces until none is left (or
    /// another thread failed). Raises the reading error of its own pieces.
    void run() {
        if (ffault_rows) {
            const uint64_t per_row = (fframes + kFaultPiece - 1) / kFaultPiece;
            for (uint64_t k; (k = fnext_fault.fetch_add(1, std::memory_order_relaxed)) < per_row * frows.size();) {
                const uint64_t first = (k % per_row) * kFaultPiece;
                fault_in(frows[size_t(k / per_row)] + first,
                         size_t(std::min<uint64_t>(kFaultPiece, fframes - first)) * sizeof(int16_t));
            }
        }
        // A piece fills the buffer with whole frames (a frame has at most
        // 65535 bytes, less than the buffer).
        const ReadBuffer buf(fframes * fformat.align);
        const uint64_t piece = buf.size() / fformat.align;
        std::vector<int16_t*> at(frows.size());
        while (!fstop.load(std::memory_order_relaxed)) {
            const uint64_t first = fnext.fetch_add(1, std::memory_order_relaxed) * piece;
            if (first >= fend.load(std::memory_order_relaxed)) return;
            const size_t want = size_t(std::min<uint64_t>(piece, fframes - first));
            size_t bytes = 0;
            try {
                bytes = read_at(ffd, fname, buf.get(), want * fformat.align, fdata_at + first * fformat.align);
            } catch (...) {
                fstop.store(true, std::memory_order_relaxed);
                throw;
            }
            const size_t n = bytes / fformat.align;
            for (size_t c = 0; c < frows.size(); ++c) at[c] = frows[c] + first;
            fformat.decode(buf.get(), n, fformat.nchans, at.data(), fformat.scale);
            if (fprogress) fprogress->add(int64_t(n));
            if (n < want) lower_end(first + n);
        }
    }

    /// Frames decoded from the start on: all of them, unless the file
    /// shrank while being read.
    uint64_t frames_read() const { return fend.load(); }

private:
    static constexpr uint64_t kFaultPiece = uint64_t(2) << 20;  // samples of a row

    void lower_end(uint64_t to) {
        uint64_t cur = fend.load();
        while (to < cur && !fend.compare_exchange_weak(cur, to)) {
        }
    }

    int ffd;
    const QString& fname;
    const Format& fformat;
    uint64_t fdata_at;
    uint64_t fframes;
    std::vector<int16_t*> frows;
    bool ffault_rows;
    TWorkProgress* fprogress;
    std::atomic<uint64_t> fnext_fault{0};  // the next piece of the rows to fault in
    std::atomic<uint64_t> fnext{0};        // the next piece of the file to read
    std::atomic<uint64_t> fend;            // lowered where a piece came short
    std::atomic<bool> fstop{false};        // a thread failed: the others stop
};

/// Reads a RIFF WAVE file; a file that does not begin as one gives nothing
/// (other readers take it).
std::optional<TSoundContent> read_wav(const QString& name, bool headeronly, int64_t maxframes,
                                      TWorkProgress* progress) {
    // Only regular files: a named pipe without a writer would block the
    // open, a socket cannot be opened at all. In case the name changes to
    // such a thing meanwhile, the file is opened without blocking and looked
    // at again; reads of a regular file do not heed O_NONBLOCK.
    check_regular_file(name);
    Fd file(name, O_RDONLY | O_NONBLOCK, 0, "Cannot open");
    const int fd = file.get();
    struct stat st {};
    if (::fstat(fd, &st) != 0) fail_system("Cannot read", name, errno);
    if (const QString why = not_a_file_reason(st.st_mode); !why.isEmpty()) fail("Cannot open", name, why);
    const uint64_t filesize = uint64_t(st.st_size);

    uint8_t head[12];
    if (read_at(fd, name, head, 12, 0) < 12 || !is_id(head, "RIFF") || !is_id(head + 8, "WAVE")) return std::nullopt;

    // The RIFF size bounds the chunk search unless it is 0 or claims more
    // than the file holds; then the chunks are walked to the end of the file.
    const uint64_t riffsize = le32(head + 4);
    const uint64_t end = (riffsize == 0 || 8 + riffsize > filesize) ? filesize : 8 + riffsize;

    uint8_t fmt[40];
    size_t fmtlen = 0;
    bool have_fmt = false;
    bool have_data = false;
    uint64_t data_at = 0;
    uint64_t data_size = 0;
    uint64_t pos = 12;
    while (pos + 8 <= end) {
        uint8_t ch[8];
        if (read_at(fd, name, ch, 8, pos) < 8) break;
        const uint64_t size = le32(ch + 4);
        const uint64_t body = pos + 8;
        if (is_id(ch, "fmt ") && !have_fmt) {
            have_fmt = true;
            fmtlen = read_at(fd, name, fmt, size_t(std::min<uint64_t>(size, sizeof fmt)), body);
            if (fmtlen < 16 && size >= 16)
                fail_read(name, QStringLiteral("the \"fmt \" chunk is cut short by the end of the file"));
        } else if (is_id(ch, "data")) {
            // A later "data" chunk replaces an earlier one.
            have_data = true;
            data_at = body;
            data_size = size;
        }
        pos = body + size + (size & 1);
    }
    if (!have_fmt) fail_read(name, QStringLiteral("it is not a WAV file (no \"fmt \" chunk)"));
    Format f = parse_format(name, fmt, fmtlen);
    if (!have_data) fail_read(name, QStringLiteral("it is not a WAV file (no \"data\" chunk)"));
    TSoundContent c;
    c.nchans = f.nchans;
    c.sampfreq = f.sampfreq;
    c.channelmask = f.channelmask;
    if (headeronly) {
        c.samples.resize(size_t(f.nchans));
        return c;
    }

    // Only whole frames that the file really holds are taken.
    const uint64_t avail = data_at < filesize ? std::min(data_size, filesize - data_at) : 0;
    const uint64_t frames =
        maxframes >= 0 ? std::min<uint64_t>(avail / f.align, uint64_t(maxframes)) : avail / f.align;
    if (frames > uint64_t(std::numeric_limits<int32_t>::max()))
        fail_read(name, QStringLiteral("it holds %1 samples per channel, more than the sample store takes")
                            .arg(frames));
    std::vector<int16_t*> rows;
    try {
        c.samples.resize(size_t(f.nchans));
        for (auto& row : c.samples) {
            row.reserve(size_t(frames));
            rows.push_back(row.data());
        }
    } catch (const std::bad_alloc&) {
        fail_read(name,
                  QStringLiteral("not enough memory to load %1 samples in %2 channels").arg(frames).arg(f.nchans));
    }
    // Rows of the full length (room reserved above, so nothing moves),
    // not filled: the reader writes every sample. Large ones get the advice
    // to use large pages; the reader faults them in.
    const bool large_rows = frames * sizeof(int16_t) >= (size_t(4) << 20);
    for (size_t r = 0; r < c.samples.size(); ++r) {
        if (large_rows) advise_large_pages(rows[r], frames * sizeof(int16_t));
        const TUnfilledGrowth unfilled;
        c.samples[r].resize(size_t(frames));
    }

#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd, off_t(data_at), off_t(avail), POSIX_FADV_SEQUENTIAL);
#endif
    if (f.peak) {
        // Real samples beyond full scale would be clipped by the store: the
        // file is then stored scaled down just enough to fit.
        const ReadBuffer buf(frames * f.align);
        const uint64_t piece = buf.size() / f.align;
        double peak = 0;
        for (uint64_t first = 0; first < frames; first += piece) {
            const size_t want = size_t(std::min<uint64_t>(piece, frames - first));
            const size_t n = read_at(fd, name, buf.get(), want * f.align, data_at + first * f.align) / f.bytes;
            peak = std::max(peak, f.peak(buf.get(), n));
        }
        if (peak > 1.0) f.scale = 32767.0 / (32768.0 * peak);
        c.storegain = f.scale;
    }
    // A long file is read by two threads: the page faults and the copies
    // out of the file cache, which bound the speed, then run on two
    // processors.
    if (progress) progress->start(int64_t(frames));
    FrameReader reader(fd, name, f, data_at, frames, rows, large_rows, progress);
    if (frames * f.align >= (uint64_t(32) << 20) && std::thread::hardware_concurrency() >= 2)
        side_by_side([&] { reader.run(); }, [&] { reader.run(); });
    else
        reader.run();
    const uint64_t done = reader.frames_read();
    // Only what was read, if the file shrank meanwhile.
    for (auto& row : c.samples) row.resize(size_t(done));
    c.nsamples = int32_t(done);
    return c;
}

}  // namespace

// ---------------------------------------------------------------- TWav

TWav::TWav(QObject* aowner) : QObject(aowner) {}

int32_t TWav::sftot() const { return static_cast<int32_t>(int64_t(fsampfreq) * fnchans); }

void TWav::setNchans(int32_t v) {
    v = std::max(v, 0);
    fsamples.resize(size_t(v));
    for (auto& row : fsamples) row.resize(size_t(fnsamples));
    fnchans = v;
}

void TWav::setNsamples(int32_t v) {
    v = std::max(v, 0);
    fsamples.resize(size_t(fnchans));
    for (auto& row : fsamples) row.resize(size_t(v));
    fnsamples = v;
}

double TWav::tottime() const { return fsampfreq == 0 ? 0.0 : double(fnsamples) / double(fsampfreq); }

void TWav::open_file(const QString& fname, bool headeronly, int64_t maxframes, TWorkProgress* progress) {
    const QString name = fname.isEmpty() ? ffilename : fname;
    // RIFF WAVE files go through the reader above, every other file
    // through libsndfile.
    std::optional<TSoundContent> wav = read_wav(name, headeronly, maxframes, progress);
    TSoundContent c = wav ? std::move(*wav) : read_sound_file(name, headeronly, maxframes, progress);
    ffilename = name;
    fstoregain = c.storegain;
    fsampfreq = c.sampfreq;
    fnchans = c.nchans;
    fnsamples = c.nsamples;
    fchannelmask = c.channelmask;
    fsamples.swap(c.samples);
}

void TWav::save_file(const QString& fname) const {
    const QString name = fname.isEmpty() ? ffilename : fname;
    const uint64_t nch = fsamples.size();
    if (nch == 0) fail("Cannot save", name, QStringLiteral("the sample store has no channels"));
    if (nch > 32767) fail("Cannot save", name, QStringLiteral("%1 channels do not fit a WAV file").arg(nch));
    if (fsampfreq <= 0)
        fail("Cannot save", name, QStringLiteral("the sampling rate of %1 Hz does not fit a WAV file").arg(fsampfreq));
    const uint64_t n = fsamples[0].size();
    const uint64_t align = nch * 2;
    const uint64_t data = n * align;
    if (data + 36 > 0xFFFFFFFFu || align * uint64_t(fsampfreq) > 0xFFFFFFFFu)
        fail("Cannot save", name, QStringLiteral("the samples do not fit a WAV file"));

    uint8_t h[44];
    std::memcpy(h, "RIFF", 4);
    put32(h + 4, uint32_t(data + 36));
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);
    put16(h + 20, 1);
    put16(h + 22, uint32_t(nch));
    put32(h + 24, uint32_t(fsampfreq));
    put32(h + 28, uint32_t(align * uint64_t(fsampfreq)));
    put16(h + 32, uint32_t(align));
    put16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    put32(h + 40, uint32_t(data));

    Fd file(name, O_WRONLY | O_CREAT | O_TRUNC, 0666, "Cannot create");
    write_all(file.get(), name, h, sizeof h);

    // Interleaved in blocks of whole frames; rows shorter than row 0 (a store
    // whose rows were replaced by hand) are padded with zeros.
    const size_t block_frames = std::max<size_t>(1, (size_t(1) << 19) / size_t(align));
    std::vector<uint8_t> buf(block_frames * size_t(align));
    for (uint64_t first = 0; first < n; first += block_frames) {
        const size_t frames = size_t(std::min<uint64_t>(block_frames, n - first));
        for (size_t c = 0; c < nch; ++c) {
            const auto& row = fsamples[c];
            const size_t have = row.size() > first ? std::min<size_t>(frames, row.size() - first) : 0;
            uint8_t* d = buf.data() + c * 2;
            for (size_t i = 0; i < frames; ++i) {
                const uint16_t v = i < have ? uint16_t(row[first + i]) : 0;
                put16(d + i * align, v);
            }
        }
        write_all(file.get(), name, buf.data(), frames * size_t(align));
    }
    file.close_checked("Cannot write");
}

void TWav::new_file() { setNsamples(0); }

void TWav::swap_content(TWav& other) noexcept {
    ffilename.swap(other.ffilename);
    fsamples.swap(other.fsamples);
    std::swap(fsampfreq, other.fsampfreq);
    std::swap(fnchans, other.fnchans);
    std::swap(fchannelmask, other.fchannelmask);
    std::swap(fnsamples, other.fnsamples);
    std::swap(fstoregain, other.fstoregain);
}

void TWav::playchunk(const std::vector<int32_t>& chans, int32_t first, int32_t count, tsmallintarr& buf) const {
    const size_t nk = chans.size();
    const size_t frames = size_t(std::max(count, 0));
    buf.assign(nk * frames, 0);
    for (size_t k = 0; k < nk; ++k) {
        const int32_t c = chans[k];
        if (c < 0 || size_t(c) >= fsamples.size()) continue;
        const auto& row = fsamples[size_t(c)];
        // Frames i with 0 <= first + i < row.size().
        const int64_t lo = std::max<int64_t>(0, -int64_t(first));
        const int64_t hi = std::min<int64_t>(int64_t(frames), int64_t(row.size()) - first);
        for (int64_t i = lo; i < hi; ++i) buf[size_t(i) * nk + k] = row[size_t(first + i)];
    }
}

}  // namespace wavrell
