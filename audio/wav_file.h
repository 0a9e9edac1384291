#pragma once

#include "audio/sample_row.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <vector>

namespace wavrell {

class TWorkProgress;

/// Dynamic array of signed 16-bit sample values; interleaved excerpts put
/// channel 0 first in each frame.
using tsmallintarr = std::vector<int16_t>;

/// Sample data of a store: one row of signed 16-bit samples per channel. A
/// value v stands for v / 32768 of full scale.
using TWavSamples16 = std::vector<TSampleRow>;

/// One sound file in memory as signed 16-bit samples, one row per channel,
/// read from sound files and written to RIFF/WAVE files. Owned by its Qt
/// parent. GUI thread (not thread-safe).
///
/// RIFF WAVE files are read by the store's own reader: PCM of 8 (unsigned),
/// 16, 24 and 32 bits, IEEE float of 32 and 64 bits, and the extensible
/// format with a PCM or float sub-format. Every other file goes through
/// libsndfile (read_sound_file: FLAC, Ogg Vorbis, Opus, MP3, AIFF, W64,
/// RF64, CAF, ...). Wider samples are rounded to 16 bits (halves to even)
/// and saturated; real samples are scaled by 32768 and rounded, and a file
/// whose real samples go beyond full scale is scaled down just enough to
/// fit (storegain).
/// A file that cannot be read or is not usable raises EFileError naming
/// the file and the reason, and leaves the store exactly as it was.
class TWav : public QObject {
    Q_OBJECT
public:
    /// An empty store: no file name, 0 channels, 0 samples, rate 0.
    explicit TWav(QObject* aowner = nullptr);

    /// Name of the file last opened (or set here); no file access.
    const QString& filename() const { return ffilename; }
    void setFilename(const QString& v) { ffilename = v; }

    /// Sampling frequency in Hz.
    int32_t sampfreq() const { return fsampfreq; }
    void setSampfreq(int32_t v) { fsampfreq = v; }

    /// Sample values per second over all channels: sampfreq × nchans.
    int32_t sftot() const;

    /// Number of channels; writing resizes the sample rows to nchans ×
    /// nsamples, keeping the values inside both sizes, new entries zero.
    /// Negative values count as 0.
    int32_t nchans() const { return fnchans; }
    void setNchans(int32_t v);

    /// Speaker positions of the channels, as the bits of the extensible WAV
    /// format's channel mask (bit 0 front left, 1 front right, 2 front
    /// centre, 3 low frequency, 4 back left, 5 back right, ..., 9 side left,
    /// 10 side right, ...): the channels take the set bits in order, lowest
    /// first. 0 when the file names no positions. The reader sets it; it is
    /// not written (save_file writes plain PCM).
    uint32_t channelmask() const { return fchannelmask; }
    void setChannelmask(uint32_t v) { fchannelmask = v; }

    /// Number of samples per channel; writing resizes every row as above.
    int32_t nsamples() const { return fnsamples; }
    void setNsamples(int32_t v);

    /// The factor the samples were stored with: 1.0, or below it for a file
    /// whose real samples go beyond full scale, stored scaled down just
    /// enough to fit instead of clipped. The file's own levels are those
    /// of the store divided by it.
    double storegain() const { return fstoregain; }
    void setStoregain(double v) { fstoregain = v; }

    /// Length in seconds: nsamples / sampfreq; 0 when sampfreq is 0.
    double tottime() const;

    /// The sample rows, indexed by channel and then sample index. Plain
    /// access: whoever replaces them keeps nchans and nsamples in step.
    const TWavSamples16& samples() const { return fsamples; }
    TWavSamples16& samples() { return fsamples; }
    void setSamples(TWavSamples16 v) { fsamples = std::move(v); }

    /// Reads the sound file fname (the current filename when fname is empty).
    /// With headeronly only the format is taken: the store then has the
    /// file's nchans and sampfreq, empty rows and nsamples 0. With maxframes
    /// of 0 or more only the first maxframes frames are read (for a look at
    /// the start of a long file). Raises EFileError; on an error nothing of
    /// the store changes, filename included. `progress`, when given, counts
    /// the frames decoded against the frames the file declares.
    void open_file(const QString& fname, bool headeronly = false, int64_t maxframes = -1,
                   TWorkProgress* progress = nullptr);

    /// Writes the store as a 16-bit PCM WAV file with a 44-byte header to
    /// fname (filename when empty); filename does not change. Raises
    /// EFileError for a store without channels, with a sampling rate that a
    /// WAV header cannot hold, with more data than a WAV file holds, and for
    /// failures to create or write the file.
    void save_file(const QString& fname = {}) const;

    /// Drops the samples (nsamples := 0); nchans, sampfreq and filename stay.
    void new_file();

    /// Exchanges file name, format (channel mask included) and samples with another store (no
    /// copying of samples); the Qt parents stay.
    void swap_content(TWav& other) noexcept;

    /// Sets buf to chans.size() × count values, interleaved: entry
    /// i × chans.size() + k holds samples[chans[k]][first + i]. Channels the
    /// store does not have and positions outside a row give 0.
    void playchunk(const std::vector<int32_t>& chans, int32_t first, int32_t count,
                   tsmallintarr& buf) const;

private:
    QString ffilename;
    TWavSamples16 fsamples;
    int32_t fsampfreq = 0;
    int32_t fnchans = 0;
    uint32_t fchannelmask = 0;
    int32_t fnsamples = 0;
    double fstoregain = 1.0;
};

}  // namespace wavrell
