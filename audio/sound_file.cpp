#include "audio/sound_file.h"

#include "audio/sample_narrowing.h"
#include "common/errors.h"
#include "common/native_file_name.h"
#include "common/prefault.h"
#include "common/side_by_side.h"
#include "common/work_progress.h"

#include <QFile>

#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

namespace wavrell {

namespace {

constexpr sf_count_t kBlockFrames = 8192;
constexpr int64_t kMaxFrames = std::numeric_limits<int32_t>::max();
// From this many samples (all channels) on, a file whose samples can be
// sought exactly is decoded by two threads: below it a second thread and
// a second opening of the file cost more than they save.
constexpr uint64_t kSplitSamples = uint64_t(1) << 21;

[[noreturn]] void fail_read(const QString& name, const QString& what) {
    throw EFileError(QStringLiteral("Cannot read \"%1\": %2").arg(name, what));
}

QString library_reason(SNDFILE* f) { return QString::fromUtf8(sf_strerror(f)).trimmed(); }

/// A file opened for reading by libsndfile, closed on every path. The name
/// goes to the library as the bytes the file system knows it by.
class SoundHandle {
public:
    SoundHandle(const QString& name, SF_INFO& info) : fname(name) {
        info = SF_INFO{};
        ff = sf_open(native_file_name(name).constData(), SFM_READ, &info);
        if (!ff) fail_read(name, library_reason(nullptr));
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

/// Decodes blocks of frames from one handle into sample rows.
class BlockDecoder {
public:
    BlockDecoder(SNDFILE* f, int nch, bool whole16, TWorkProgress* progress)
        : ff(f), fnch(nch), fwhole16(whole16), fprogress(progress) {
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
        if (fwhole16 && nch == 2) {
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
            if (fwhole16) {
                const short* s = fshort.data() + c;
                for (size_t i = 0; i < n; ++i) d[i] = s[i * nch];
            } else {
                const double* s = freal.data() + c;
                for (size_t i = 0; i < n; ++i) d[i] = narrow_real(s[i * nch]);
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

private:
    SNDFILE* ff;
    int fnch;
    bool fwhole16;
    TWorkProgress* fprogress;
    std::vector<short> fshort;
    std::vector<double> freal;
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

/// Decodes the whole file from the start with one handle; the rows are
/// sized for `expected` frames (0: not known) and grow when the file holds
/// more. Returns the frames decoded.
int64_t decode_sequential(const QString& name, BlockDecoder& dec, TWavSamples16& rows, int64_t expected) {
    size_rows(rows, expected > 0 ? expected : int64_t(1) << 16);
    int64_t pos = 0;
    for (;;) {
        int64_t room = int64_t(rows[0].size()) - pos;
        if (room == 0) {
            if (pos >= kMaxFrames) {
                // One more frame would not fit the store: refuse rather than cut.
                TWavSamples16 probe(rows.size(), TSampleRow(1));
                if (dec.decode(probe, 0, 1) > 0)
                    fail_read(name, QStringLiteral("it holds more than %1 samples per channel, more than the "
                                                   "sample store takes")
                                        .arg(kMaxFrames));
                break;
            }
            size_rows(rows, std::min(kMaxFrames, pos + std::max<int64_t>(pos / 2, int64_t(1) << 16)));
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
/// by side. Returns the frames decoded from the start on without a gap.
int64_t decode_split(const QString& name, SoundHandle& first, int nch, bool whole16, TWavSamples16& rows,
                     int64_t frames, TWorkProgress* progress) {
    size_rows(rows, frames);
    const int64_t half = frames / 2;
    int64_t done1 = 0, done2 = 0;
    bool second_done = false;
    BlockDecoder dec1(first.get(), nch, whole16, progress);
    side_by_side([&] { done1 = dec1.decode_range(rows, 0, half); },
                 [&] {
                     SF_INFO info;
                     SoundHandle second(name, info);
                     // A file that cannot seek after all is left to the first
                     // handle, which goes on from the middle.
                     if (sf_seek(second.get(), half, SEEK_SET) != half) return;
                     BlockDecoder dec2(second.get(), nch, whole16, progress);
                     done2 = dec2.decode_range(rows, half, frames);
                     second.check();
                     second_done = true;
                 });
    first.check();
    if (done1 < half) return done1;
    if (!second_done) done2 = dec1.decode_range(rows, half, frames);
    first.check();
    return half + done2;
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

uint32_t channel_mask(SNDFILE* f, int nch) {
    std::vector<int> map(size_t(nch), SF_CHANNEL_MAP_INVALID);
    if (sf_command(f, SFC_GET_CHANNEL_MAP_INFO, map.data(), int(map.size() * sizeof(int))) != SF_TRUE) return 0;
    return speaker_mask(map.data(), nch);
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

TSoundContent read_sound_file(const QString& name, bool headeronly, TWorkProgress* progress) {
    SF_INFO info;
    SoundHandle file(name, info);
    if (info.channels <= 0) fail_read(name, QStringLiteral("the format has 0 channels"));
    if (info.samplerate <= 0) fail_read(name, QStringLiteral("the sampling rate is 0 Hz"));

    TSoundContent c;
    c.nchans = info.channels;
    c.sampfreq = info.samplerate;
    c.channelmask = channel_mask(file.get(), info.channels);
    c.samples.resize(size_t(info.channels));
    if (headeronly) return c;

    // The length the file declares; 0 when it gives none (an Ogg stream cut
    // short, a FLAC stream without its total).
    const bool estimate = length_is_estimate(info.format);
    const int64_t declared = info.frames > 0 && info.frames < SF_COUNT_MAX ? int64_t(info.frames) : 0;
    if (declared > kMaxFrames && !estimate)
        fail_read(name, QStringLiteral("it holds %1 samples per channel, more than the sample store takes")
                            .arg(declared));

    const bool whole16 = whole_16(info.format);
    if (progress) progress->start(std::min(declared, kMaxFrames));
    int64_t frames = 0;
    if (declared > 0 && info.seekable && exact_seek(info.format) &&
        uint64_t(declared) * uint64_t(info.channels) >= kSplitSamples && std::thread::hardware_concurrency() >= 2) {
        frames = decode_split(name, file, info.channels, whole16, c.samples, declared, progress);
    } else {
        BlockDecoder dec(file.get(), info.channels, whole16, progress);
        frames = decode_sequential(name, dec, c.samples, std::min(declared, kMaxFrames));
        file.check();
    }
    if (!estimate && declared > 0 && frames < declared)
        fail_read(name, QStringLiteral("decoding ends after %1 of its %2 samples per channel: the file is "
                                       "damaged or cut short")
                            .arg(frames)
                            .arg(declared));
    for (auto& row : c.samples) row.resize(size_t(frames));
    c.nsamples = int32_t(frames);
    return c;
}

}  // namespace wavrell
