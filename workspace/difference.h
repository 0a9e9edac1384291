#pragma once

#include "workspace/alignment.h"
#include "workspace/frame_source.h"
#include "workspace/minmax_pyramid.h"
#include "audio/sample_row.h"
#include "common/errors.h"

#include <QLocale>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace wavrell {

class TWav;

/// The difference cannot be taken (the files have different channel counts).
WAVRELL_DECLARE_ERROR(EDifferenceError);

/// |drift| from which file 2 is resampled before the subtraction, in ppm.
inline constexpr double kDriftCorrectionPpm = 0.5;
/// Length of the blocks of the difference over time, in seconds.
inline constexpr double kDifferenceBlockSeconds = 0.4;
/// Blocks where file 1 is quieter than this (RMS, dBFS) are left out.
inline constexpr double kDifferenceQuietDb = -60;

/// The figures of a null test of file 1 against file 2.
struct TDifferenceFigures {
    /// The files overlap (by at least one frame) at the alignment given.
    bool overlap = false;
    /// File 2 equals file 1 (or its negation) sample for sample over the
    /// overlap at the whole offset: no figure below but the overlap means
    /// anything then.
    bool identical = false;
    /// Where a moment of file 1 at its start shows in file 2, in frames
    /// with a fraction: file2[n + delay] ≈ file1[n] (as the alignment).
    double delay = 0;
    /// Change of that offset per frame of file 1, in ppm.
    double drift_ppm = 0;
    /// File 2 was resampled by the drift (|drift| ≥ kDriftCorrectionPpm).
    bool resampled = false;
    /// Least-squares gain of the corrected file 2 against file 1, signed
    /// (negative for a file 2 of inverted polarity that is not negated).
    double gain = 1;
    double gain_db() const;
    /// 10 log10(Σ d² / Σ file1²) over the overlap; −inf for d = 0.
    double null_depth_db = 0;
    /// The same ratio in blocks of kDifferenceBlockSeconds, quiet blocks
    /// left out: median, 95th percentile and maximum (none without a block).
    std::optional<double> block_median_db, block_p95_db, block_max_db;
    /// The per-block ratios in dB, one per block from overlap_first on
    /// (NaN for a quiet block).
    std::vector<double> block_db;
    /// Frames of a block.
    int64_t block_frames = 0;
    /// The frames of file 1 (the timeline) where the difference exists.
    int64_t overlap_first = 0, overlap_frames = 0;
    /// Sampling rate, Hz.
    int32_t sampfreq = 0;
    /// Channels of both files.
    int channels = 0;
};

/// The difference d = file 1 − g · corrected file 2 per channel over the
/// overlap, kept as 16-bit values scaled to its own peak, with block
/// extremes for drawing. Immutable once made: a worker makes it, the window
/// reads it.
class TDifference {
public:
    const TDifferenceFigures& figures() const { return ffigures; }

    int channels() const { return int(frows.size()); }
    int32_t sampfreq() const { return ffigures.sampfreq; }
    /// The timeline frames [first, first + frames) where d exists.
    int64_t first() const { return ffigures.overlap_first; }
    int64_t frames() const { return ffigures.overlap_frames; }
    /// Largest |d| in full-scale units (1.0 = full scale).
    double peak() const { return fpeak; }

    /// d of timeline frames [start, start + count) of a channel in
    /// full-scale units; 0 outside the overlap.
    void read(int channel, int64_t start, int count, float* out) const;
    /// d in 16-bit sample units (32768 = full scale), times `factor`,
    /// rounded and limited to the 16-bit range, interleaved over `chans`
    /// channels (channel k beyond the difference's channels is silent), for
    /// timeline frames [start, start + count); returns how many values were
    /// limited.
    int64_t play(int chans, int64_t start, int count, double factor, int16_t* out) const;
    /// Smallest and largest d (full-scale units) of a channel over the
    /// timeline frames [j, e]; false when the range holds no frame of d.
    bool minmax(int channel, int64_t j, int64_t e, float& lo, float& hi) const;

private:
    friend struct TDifferenceBuilder;
    TDifferenceFigures ffigures;
    std::vector<TSampleRow> frows;  ///< d / step, rounded
    double fstep = 0;               ///< 16-bit units of d per stored unit
    double fpeak = 0;
    std::vector<TMinMaxPyramid<int16_t>> fpyramids;
};

/// The difference on the time line as a frame source (the spectrogram and
/// the spectrum draw it as they draw the files). Holds the difference.
class TDifferenceFrameSource : public TFrameSource {
public:
    explicit TDifferenceFrameSource(std::shared_ptr<const TDifference> difference)
        : fdifference(std::move(difference)) {}
    double sampfreq() const override { return fdifference->sampfreq(); }
    int channels() const override { return fdifference->channels(); }
    int64_t first() const override { return fdifference->first(); }
    int64_t end() const override { return fdifference->first() + fdifference->frames(); }
    void read(int channel, int64_t from, int n, float* out) const override;

private:
    std::shared_ptr<const TDifference> fdifference;
};

/// Takes the difference of the files in two stores at the same rate: file 2
/// at `alignment`'s whole offset and polarity (sign −1 for inverted), its
/// offset refined between frames and measured near the start and the end of
/// the overlap for a clock drift (resampled through libsoxr when it is at
/// least kDriftCorrectionPpm), shifted by the fraction with a band-limited
/// fractional-delay filter, scaled by the least-squares gain and subtracted.
/// With `keep` the difference samples are kept (the window draws and plays
/// them); without, only the figures are made, in one pass over the files.
/// Returns nullptr when *cancel is set meanwhile. Raises EDifferenceError
/// for different channel counts (both named) or rates, std::bad_alloc when
/// memory runs out. Any thread (the stores are only read).
std::shared_ptr<const TDifference> compute_difference(const TWav& file1, const TWav& file2, int64_t offset,
                                                      int sign, bool keep,
                                                      const std::atomic<bool>* cancel = nullptr);

/// The figures as one line: "null depth −48.3 dB, median −52.1 dB, 95 %
/// −41.0 dB, gain −0.12 dB, delay +1105.37, drift +0.00 ppm" ("-" for a
/// figure that does not exist, "-inf" for a perfect null), "identical", or
/// "no overlap"; numbers in the locale's notation.
QString difference_text(const TDifferenceFigures& f, const QLocale& locale);

}  // namespace wavrell
