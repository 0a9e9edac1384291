#include "audio/sound_file.h"

#include "audio/sample_narrowing.h"
#include "common/work_progress.h"
#include "common/errors.h"
#include "common/native_file_name.h"
#include "common/prefault.h"
#include "common/side_by_side.h"

#include <QFile>

#include <sys/stat.h>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

namespace wavrell {

namespace {

constexpr sf_count_t kBlockFrames = 8192;
constexpr int64_t kMaxFrames = std::numeric_limits<int32_t>::max();
// Frames that rows of an unknown length start with.
constexpr int64_t kGrowthStart = int64_t(1) << 16;
// From this many samples (all channels) on, a file whose samples can be
// sought exactly is decoded by two threads: below it a second thread and
// a second opening of the file cost more than they save.
constexpr uint64_t kSplitSamples = uint64_t(1) << 21;

[[noreturn]] void fail_read(const QString& name, const QString& what) {
    throw EFileError(QStringLiteral("Cannot read \"%1\": %2").arg(name, what));
}

QString library_reason(SNDFILE* f) { return QString::fromUtf8(sf_strerror(f)).trimmed(); }

/// libsndfile keeps the reason an opening failed in one place for the whole
/// process, which any other opening overwrites: openings and the reading of
/// that reason take turns.
std::mutex& open_mutex() {
    static std::mutex m;
    return m;
}

/// A file opened for reading by libsndfile, closed on every path. The name
/// goes to the library as the bytes the file system knows it by.
class SoundHandle {
public:
    SoundHandle(const QString& name, SF_INFO& info) : fname(name) {
        info = SF_INFO{};
        const QByteArray path = native_file_name(name);
        QString reason;
        {
            const std::lock_guard<std::mutex> lock(open_mutex());
            ff = sf_open(path.constData(), SFM_READ, &info);
            if (!ff) reason = library_reason(nullptr);
        }
        if (!ff) fail_read(name, reason);
    }
    ~SoundHandle() {
        if (ff) sf_close(ff);
    }
    SoundHandle(const SoundHandle&) = delete;
    SoundHandle& operator=(const SoundHandle&) = delete;

    SNDFILE* get() const { return ff; }

    /// Raises the error the library noted while decoding, if any.
    void check() const {
        if (sf_error(ff) != SF_ERR_NO_ERROR) fail_read(fname, library_reason(ff));
    }

private:
    QString fname;
    SNDFILE* ff = nullptr;
};

int subformat(int format) { return format & SF_FORMAT_SUBMASK; }

/// Encodings whose samples have 16 bits or fewer: the library hands them
/// out as 16-bit values exactly (8-bit ones shifted up by 8, as the WAV
/// reader does), so they need no rounding.
bool whole_16(int format) {
    switch (subformat(format)) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_PCM_16:
        case SF_FORMAT_ULAW:
        case SF_FORMAT_ALAW:
        case SF_FORMAT_DPCM_8:
        case SF_FORMAT_DPCM_16:
        case SF_FORMAT_ALAC_16:
            return true;
        default:
            return false;
    }
}

/// Encodings that can be decoded from any frame on with the same samples as
/// from the start: plain samples and FLAC (whose sub-formats are the PCM
/// ones). Lossy decoders carry state across frames.
bool exact_seek(int format) {
    switch (subformat(format)) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_PCM_16:
        case SF_FORMAT_PCM_24:
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT:
        case SF_FORMAT_DOUBLE:
        case SF_FORMAT_ULAW:
        case SF_FORMAT_ALAW:
            return true;
        default:
            return false;
    }
}

/// MPEG audio gives only an estimate of its length.
bool length_is_estimate(int format) { return (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG; }

/// How the decoded channels become sample rows and how real samples are
/// scaled into them.
struct RowLayout {
    /// Row c takes the file's channel source[c].
    std::vector<int> source;
    /// Real samples are multiplied by this before they are narrowed.
    double scale = 1.0;
};

/// Decodes blocks of frames from one handle into sample rows, noting the
/// largest and smallest real sample it met (before scaling).
class BlockDecoder {
public:
    BlockDecoder(SNDFILE* f, int nch, bool whole16, const RowLayout& layout, TWorkProgress* progress = nullptr)
        : ff(f), fnch(nch), fwhole16(whole16), flayout(layout), fprogress(progress) {
        if (whole16)
            fshort.resize(size_t(kBlockFrames) * size_t(nch));
        else
            freal.resize(size_t(kBlockFrames) * size_t(nch));
    }

    /// Decodes up to `frames` (at most kBlockFrames) frames into the rows
    /// from frame `at` on; fewer only at the end of the file or on an
    /// error. Returns the frames decoded.
    sf_count_t decode(TWavSamples16& rows, int64_t at, sf_count_t frames) {
        const size_t n = size_t(fwhole16 ? sf_readf_short(ff, fshort.data(), frames)
                                         : sf_readf_double(ff, freal.data(), frames));
        const size_t nch = size_t(fnch);
        if (fprogress) fprogress->add(int64_t(n));
        if (fwhole16 && nch == 2 && flayout.source[0] == 0) {
            int16_t* l = rows[0].data() + at;
            int16_t* r = rows[1].data() + at;
            const short* s = fshort.data();
            for (size_t i = 0; i < n; ++i) {
                l[i] = s[2 * i];
                r[i] = s[2 * i + 1];
            }
            return sf_count_t(n);
        }
        for (size_t c = 0; c < nch; ++c) {
            int16_t* d = rows[c].data() + at;
            const size_t from = size_t(flayout.source[c]);
            if (fwhole16) {
                const short* s = fshort.data() + from;
                for (size_t i = 0; i < n; ++i) d[i] = s[i * nch];
            } else {
                const double* s = freal.data() + from;
                const double scale = flayout.scale;
                double hi = fhighest, lo = flowest;
                for (size_t i = 0; i < n; ++i) {
                    const double x = s[i * nch];
                    hi = x > hi ? x : hi;  // NaN is passed over
                    lo = x < lo ? x : lo;
                    d[i] = narrow_real(x * scale);
                }
                fhighest = hi;
                flowest = lo;
            }
        }
        return sf_count_t(n);
    }

    /// Decodes frames [from, to) into the rows, which hold them; returns the
    /// frames decoded (fewer only at the end of the file or on an error).
    int64_t decode_range(TWavSamples16& rows, int64_t from, int64_t to) {
        int64_t pos = from;
        while (pos < to) {
            const sf_count_t n = decode(rows, pos, std::min<sf_count_t>(kBlockFrames, to - pos));
            if (n <= 0) break;
            pos += n;
        }
        return pos - from;
    }

    /// The largest magnitude of the real samples decoded so far, in
    /// full-scale units (0 for 16-bit ones, which cannot exceed it).
    double peak() const { return std::max(fhighest, -flowest); }

private:
    SNDFILE* ff;
    int fnch;
    bool fwhole16;
    const RowLayout& flayout;
    TWorkProgress* fprogress;
    std::vector<short> fshort;
    std::vector<double> freal;
    double fhighest = 0, flowest = 0;
};

/// Gives every row the length `frames` without filling it (the decoder
/// writes each sample); rows of many megabytes get the large-page advice.
void size_rows(TWavSamples16& rows, int64_t frames) {
    for (auto& row : rows) {
        if (size_t(frames) <= row.capacity()) {
            const TUnfilledGrowth unfilled;
            row.resize(size_t(frames));
            continue;
        }
        // Exactly this much room: a plain resize would double the capacity.
        TSampleRow grown;
        grown.reserve(size_t(frames));
        const size_t bytes = size_t(frames) * sizeof(int16_t);
        if (bytes >= (size_t(4) << 20)) advise_large_pages(grown.data(), bytes);
        {
            const TUnfilledGrowth unfilled;
            grown.resize(size_t(frames));
        }
        std::copy(row.begin(), row.end(), grown.begin());
        row.swap(grown);
    }
}

/// Decodes the file from the start with one handle, up to `limit` frames;
/// the rows are sized for `expected` frames (0: not known) and grow when the
/// file holds more. Returns the frames decoded.
int64_t decode_sequential(const QString& name, BlockDecoder& dec, TWavSamples16& rows, int64_t expected,
                          int64_t limit) {
    size_rows(rows, std::min(limit, expected > 0 ? expected : kGrowthStart));
    int64_t pos = 0;
    for (;;) {
        int64_t room = int64_t(rows[0].size()) - pos;
        if (room == 0) {
            if (pos >= limit) {
                if (limit < kMaxFrames) break;  // as much as was asked for
                // One more frame would not fit the store: refuse rather than cut.
                TWavSamples16 probe(rows.size(), TSampleRow(1));
                if (dec.decode(probe, 0, 1) > 0)
                    fail_read(name, QStringLiteral("it holds more than %1 samples per channel, more than the "
                                                   "sample store takes")
                                        .arg(kMaxFrames));
                break;
            }
            size_rows(rows, std::min(limit, pos + std::max<int64_t>(pos / 2, kGrowthStart)));
            room = int64_t(rows[0].size()) - pos;
        }
        const sf_count_t n = dec.decode(rows, pos, sf_count_t(std::min<int64_t>(kBlockFrames, room)));
        if (n <= 0) break;
        pos += n;
    }
    return pos;
}

/// Decodes `frames` frames, the first half with `first` and the second
/// half with a second opening of the file that seeks to its middle, side
/// by side. Returns the frames decoded from the start on without a gap and
/// sets `peak` to the largest real sample magnitude met.
int64_t decode_split(const QString& name, SoundHandle& first, int nch, bool whole16, const RowLayout& layout,
                     TWavSamples16& rows, int64_t frames, double& peak, TWorkProgress* progress) {
    size_rows(rows, frames);
    const int64_t half = frames / 2;
    int64_t done1 = 0, done2 = 0;
    bool second_done = false;
    double peak2 = 0;
    BlockDecoder dec1(first.get(), nch, whole16, layout, progress);
    side_by_side([&] { done1 = dec1.decode_range(rows, 0, half); },
                 [&] {
                     SF_INFO info;
                     SoundHandle second(name, info);
                     // A file that cannot seek after all is left to the first
                     // handle, which goes on from the middle.
                     if (sf_seek(second.get(), half, SEEK_SET) != half) return;
                     BlockDecoder dec2(second.get(), nch, whole16, layout, progress);
                     done2 = dec2.decode_range(rows, half, frames);
                     second.check();
                     second_done = true;
                     peak2 = dec2.peak();
                 });
    first.check();
    peak = std::max(dec1.peak(), peak2);
    if (done1 < half) return done1;
    if (!second_done) done2 = dec1.decode_range(rows, half, frames);
    first.check();
    peak = std::max(dec1.peak(), peak2);
    return half + done2;
}

/// The most frames that one byte of a file in `format` can stand for, at
/// the best compression the format allows (silence, mostly): bounds what a
/// file of a given size can hold, whatever its header claims.
double frames_per_byte(const SF_INFO& info) {
    const double nch = info.channels;
    switch (info.format & SF_FORMAT_TYPEMASK) {
        // A frame of up to 65535 samples per channel: a header of at
        // least 8 bytes, a constant subframe per channel of at least one.
        case SF_FORMAT_FLAC: return 65536.0 / (8 + nch);
        // A frame of up to 1152 samples per channel takes at least 24 bytes.
        case SF_FORMAT_MPEG: return 48;
        default: break;
    }
    switch (subformat(info.format)) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_ULAW:
        case SF_FORMAT_ALAW:
        case SF_FORMAT_DPCM_8: return 1 / nch;
        case SF_FORMAT_PCM_16:
        case SF_FORMAT_DPCM_16: return 0.5 / nch;
        case SF_FORMAT_PCM_24: return 1 / (3 * nch);
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT: return 0.25 / nch;
        case SF_FORMAT_DOUBLE: return 0.125 / nch;
        // A Vorbis packet gives at most 4096 frames and an Ogg page spends
        // at least a byte on it beside its own byte.
        case SF_FORMAT_VORBIS: return 2048;
        // An Opus packet lasts at most 120 ms.
        case SF_FORMAT_OPUS: return 0.06 * info.samplerate;
        default: return 4096;  // whatever else libsndfile decodes
    }
}

/// The size of a file in bytes (0 when it cannot be told).
int64_t file_bytes(const QString& name) {
    struct stat st {};
    if (::stat(native_file_name(name).constData(), &st) != 0) return 0;
    return int64_t(st.st_size);
}

struct MapBit {
    int position;
    uint32_t bit;
};

// libsndfile's positions as the speaker bits of a WAVE extensible mask.
constexpr MapBit kSpeakerBits[] = {
    {SF_CHANNEL_MAP_MONO, 0x4},
    {SF_CHANNEL_MAP_LEFT, 0x1},
    {SF_CHANNEL_MAP_RIGHT, 0x2},
    {SF_CHANNEL_MAP_CENTER, 0x4},
    {SF_CHANNEL_MAP_FRONT_LEFT, 0x1},
    {SF_CHANNEL_MAP_FRONT_RIGHT, 0x2},
    {SF_CHANNEL_MAP_FRONT_CENTER, 0x4},
    {SF_CHANNEL_MAP_LFE, 0x8},
    {SF_CHANNEL_MAP_REAR_LEFT, 0x10},
    {SF_CHANNEL_MAP_REAR_RIGHT, 0x20},
    {SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER, 0x40},
    {SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER, 0x80},
    {SF_CHANNEL_MAP_REAR_CENTER, 0x100},
    {SF_CHANNEL_MAP_SIDE_LEFT, 0x200},
    {SF_CHANNEL_MAP_SIDE_RIGHT, 0x400},
    {SF_CHANNEL_MAP_TOP_CENTER, 0x800},
    {SF_CHANNEL_MAP_TOP_FRONT_LEFT, 0x1000},
    {SF_CHANNEL_MAP_TOP_FRONT_CENTER, 0x2000},
    {SF_CHANNEL_MAP_TOP_FRONT_RIGHT, 0x4000},
    {SF_CHANNEL_MAP_TOP_REAR_LEFT, 0x8000},
    {SF_CHANNEL_MAP_TOP_REAR_CENTER, 0x10000},
    {SF_CHANNEL_MAP_TOP_REAR_RIGHT, 0x20000},
};

uint32_t speaker_bit(int position) {
    for (const MapBit& m : kSpeakerBits)
        if (m.position == position) return m.bit;
    return 0;
}

// The Vorbis I channel order for 3 to 8 channels, which Ogg Opus takes
// over; libsndfile hands such files over in it without naming it.
const std::vector<int> kVorbisOrder[] = {
    {SF_CHANNEL_MAP_FRONT_LEFT, SF_CHANNEL_MAP_FRONT_CENTER, SF_CHANNEL_MAP_FRONT_RIGHT},
    {SF_CHANNEL_MAP_FRONT_LEFT, SF_CHANNEL_MAP_FRONT_RIGHT, SF_CHANNEL_MAP_REAR_LEFT, SF_CHANNEL_MAP_REAR_RIGHT},
    {SF_CHANNEL_MAP_FRONT_LEFT, SF_CHANNEL_MAP_FRONT_CENTER, SF_CHANNEL_MAP_FRONT_RIGHT, SF_CHANNEL_MAP_REAR_LEFT,
     SF_CHANNEL_MAP_REAR_RIGHT},
    {SF_CHANNEL_MAP_FRONT_LEFT, SF_CHANNEL_MAP_FRONT_CENTER, SF_CHANNEL_MAP_FRONT_RIGHT, SF_CHANNEL_MAP_REAR_LEFT,
     SF_CHANNEL_MAP_REAR_RIGHT, SF_CHANNEL_MAP_LFE},
    {SF_CHANNEL_MAP_FRONT_LEFT, SF_CHANNEL_MAP_FRONT_CENTER, SF_CHANNEL_MAP_FRONT_RIGHT, SF_CHANNEL_MAP_SIDE_LEFT,
     SF_CHANNEL_MAP_SIDE_RIGHT, SF_CHANNEL_MAP_REAR_CENTER, SF_CHANNEL_MAP_LFE},
    {SF_CHANNEL_MAP_FRONT_LEFT, SF_CHANNEL_MAP_FRONT_CENTER, SF_CHANNEL_MAP_FRONT_RIGHT, SF_CHANNEL_MAP_SIDE_LEFT,
     SF_CHANNEL_MAP_SIDE_RIGHT, SF_CHANNEL_MAP_REAR_LEFT, SF_CHANNEL_MAP_REAR_RIGHT, SF_CHANNEL_MAP_LFE},
};

bool vorbis_ordered(const SF_INFO& info) {
    const int sub = subformat(info.format);
    return (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_OGG &&
           (sub == SF_FORMAT_VORBIS || sub == SF_FORMAT_OPUS) && info.channels >= 3 && info.channels <= 8;
}

/// The rows' order of the file's channels and their speaker mask. Rows are
/// in the order of the WAVE channel mask; the channels of an Ogg Vorbis or
/// Opus file, which come in Vorbis order, are put into it.
RowLayout channel_layout(SNDFILE* f, const SF_INFO& info, uint32_t& mask) {
    const int nch = info.channels;
    RowLayout layout;
    layout.source.resize(size_t(nch));
    std::iota(layout.source.begin(), layout.source.end(), 0);
    std::vector<int> map(size_t(nch), SF_CHANNEL_MAP_INVALID);
    const bool named =
        sf_command(f, SFC_GET_CHANNEL_MAP_INFO, map.data(), int(map.size() * sizeof(int))) == SF_TRUE;
    if (!named && vorbis_ordered(info)) map = kVorbisOrder[size_t(nch - 3)];
    else if (!named) {
        mask = 0;
        return layout;
    }
    const bool known = std::all_of(map.begin(), map.end(), [](int p) { return speaker_bit(p) != 0; });
    if (vorbis_ordered(info) && known) {
        // Rows by speaker position.
        std::stable_sort(layout.source.begin(), layout.source.end(),
                         [&](int a, int b) { return speaker_bit(map[size_t(a)]) < speaker_bit(map[size_t(b)]); });
        std::vector<int> sorted(map.size());
        for (int c = 0; c < nch; ++c) sorted[size_t(c)] = map[size_t(layout.source[size_t(c)])];
        map = sorted;
    }
    mask = speaker_mask(map.data(), nch);
    return layout;
}

}  // namespace

const QStringList& sound_file_extensions() {
    static const QStringList extensions{
        QStringLiteral("wav"),  QStringLiteral("flac"), QStringLiteral("ogg"),  QStringLiteral("oga"),
        QStringLiteral("opus"), QStringLiteral("mp3"),  QStringLiteral("aif"),  QStringLiteral("aiff"),
        QStringLiteral("aifc"), QStringLiteral("w64"),  QStringLiteral("rf64"), QStringLiteral("caf")};
    return extensions;
}

uint32_t speaker_mask(const int* map, int nchans) {
    uint32_t mask = 0, last = 0;
    for (int c = 0; c < nchans; ++c) {
        const uint32_t bit = speaker_bit(map[c]);
        if (bit <= last) return 0;  // unknown (0), repeated or out of order
        mask |= bit;
        last = bit;
    }
    return mask;
}

TSoundContent read_sound_file(const QString& name, bool headeronly, int64_t maxframes, TWorkProgress* progress) {
    SF_INFO info;
    SoundHandle file(name, info);
    if (info.channels <= 0) fail_read(name, QStringLiteral("the format has 0 channels"));
    if (info.samplerate <= 0) fail_read(name, QStringLiteral("the sampling rate is 0 Hz"));

    TSoundContent c;
    c.nchans = info.channels;
    c.sampfreq = info.samplerate;
    const RowLayout layout = channel_layout(file.get(), info, c.channelmask);
    c.samples.resize(size_t(info.channels));
    if (headeronly) return c;

    // The length the file declares; 0 when it gives none (an Ogg stream cut
    // short, a FLAC stream without its total).
    const bool estimate = length_is_estimate(info.format);
    const int64_t declared = info.frames > 0 && info.frames < SF_COUNT_MAX ? int64_t(info.frames) : 0;
    const int64_t limit = maxframes >= 0 ? std::min(maxframes, kMaxFrames) : kMaxFrames;
    if (declared > kMaxFrames && !estimate && maxframes < 0)
        fail_read(name, QStringLiteral("it holds %1 samples per channel, more than the sample store takes")
                            .arg(declared));
    // Room is made for what the file can hold at most, not for what its
    // header claims: a damaged or forged header must not take the memory
    // of a file a thousand times its size. The rows grow while decoding.
    const double holdable = double(file_bytes(name)) * frames_per_byte(info) + double(kBlockFrames);
    const bool believable = declared > 0 && double(declared) <= holdable;
    const int64_t expected = std::min<int64_t>(declared, int64_t(std::min(holdable, double(kMaxFrames))));
    const int64_t wanted = std::min(declared, limit);  // what a sound file of this length gives

    const bool whole16 = whole_16(info.format);
    // Decodes from the start with room made for `reserve` frames (0: grows
    // from a little); only room for all that is wanted lets two threads
    // share the work.
    const auto decode = [&](SoundHandle& h, const RowLayout& how, int64_t reserve, double& peak,
                            TWorkProgress* counted) {
        if (counted) counted->start(wanted > 0 ? wanted : expected);
        int64_t frames = 0;
        if (believable && reserve == wanted && info.seekable && exact_seek(info.format) &&
            uint64_t(wanted) * uint64_t(info.channels) >= kSplitSamples && std::thread::hardware_concurrency() >= 2) {
            frames = decode_split(name, h, info.channels, whole16, how, c.samples, wanted, peak, counted);
        } else {
            BlockDecoder dec(h.get(), info.channels, whole16, how, counted);
            frames = decode_sequential(name, dec, c.samples, reserve, limit);
            h.check();
            peak = dec.peak();
        }
        return frames;
    };
    double peak = 0;
    int64_t frames = 0;
    try {
        frames = decode(file, layout, believable ? wanted : expected, peak, progress);
    } catch (const std::bad_alloc&) {
        // No room for the length the header claims, which a damaged file
        // need not hold: decoded again with rows that grow as it goes; a
        // file that is that long runs out of memory there too.
        if (expected <= kGrowthStart) throw;
        for (auto& row : c.samples) TSampleRow().swap(row);
        SF_INFO again;
        SoundHandle retry(name, again);
        frames = decode(retry, layout, 0, peak, progress);
    }
    if (!estimate && declared > 0 && frames < wanted)
        fail_read(name, QStringLiteral("decoding ends after %1 of its %2 samples per channel: the file is "
                                       "damaged or cut short")
                            .arg(frames)
                            .arg(declared));
    if (peak > 1.0 && std::isfinite(peak)) {
        // Samples beyond full scale (a lossy decode, real samples) would be
        // clipped by the store: the file is decoded again, scaled down just
        // enough to fit.
        RowLayout scaled = layout;
        scaled.scale = 32767.0 / (32768.0 * peak);
        SF_INFO again;
        SoundHandle second(name, again);
        double unused = 0;
        frames = std::min(frames, decode(second, scaled, frames, unused, nullptr));
        c.storegain = scaled.scale;
    }
    for (auto& row : c.samples) row.resize(size_t(frames));
    c.nsamples = int32_t(frames);
    return c;
}

}  // namespace wavrell
