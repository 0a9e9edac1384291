#pragma once

#include "common/errors.h"
#include "common/growth_allocator.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace wavrell {

class TWav;

/// The alignment could not be computed (an FFT that cannot be planned).
WAVRELL_DECLARE_ERROR(EAlignError);

/// What the alignment compares of one file: the sum of its channels, frame
/// by frame, over its first kAlignSpanSeconds at most. Immutable once made,
/// so that a worker thread can use it while the window loads or closes
/// files (the workspace shares it, never changes it).
struct TAlignSignal {
    int32_t sampfreq = 0;    ///< Hz
    int64_t nsamples = 0;    ///< frames of the whole file (the sum holds fewer for long files)
    /// Channel sum per frame, exact (integers below 2^24).
    std::vector<float, TNoFillAllocator<float>> sum;
};

/// Seconds of each file the alignment looks at, from its start.
inline constexpr double kAlignSpanSeconds = 60;
/// Largest offset searched, in seconds either way.
inline constexpr double kAlignMaxSeconds = 5;
/// Shortest stretch of both files the alignment works on, in seconds.
inline constexpr double kAlignMinSeconds = 0.5;
/// Normalized correlation below which an offset is not trusted.
inline constexpr double kAlignMinCorrelation = 0.5;

/// The channel sum of the first kAlignSpanSeconds of a file. Any thread (it
/// reads only the store given).
std::shared_ptr<const TAlignSignal> make_align_signal(const TWav& wav);

enum TAlignStatus {
    asaligned,      ///< a trustworthy offset was found
    asweak,         ///< the best correlation is below kAlignMinCorrelation (or a file is silent)
    asratesdiffer,  ///< the files have different sampling rates
    astooshort,     ///< a file is shorter than kAlignMinSeconds
};

/// Offset of file 2 against file 1, as estimated.
struct TAlignment {
    TAlignStatus status = asweak;
    /// How many frames later a moment appears in file 2 than in file 1:
    /// file2[n + offset] ≈ file1[n]. Leading silence or encoder delay in file
    /// 2 gives a positive offset. 0 unless status is asaligned.
    int64_t offset = 0;
    /// Magnitude of the normalized correlation at the peak, 0 … 1.
    double r = 0;
    /// The peak is negative: file 2 has its polarity inverted.
    bool inverted = false;
    int32_t sampfreq1 = 0, sampfreq2 = 0;  ///< Hz, of file 1 and file 2

    bool aligned() const { return status == asaligned; }
    /// The offset in milliseconds at file 2's rate (0 without a rate).
    double milliseconds() const { return sampfreq2 > 0 ? double(offset) * 1000.0 / sampfreq2 : 0.0; }
};

/// Estimates the offset of file 2 against file 1 by cross-correlating their
/// channel sums over the first kAlignSpanSeconds of the shorter file (at
/// most), for offsets up to ±kAlignMaxSeconds and never beyond half of that
/// stretch, so that at least half of it overlaps. A coarse search on
/// decimated signals through FFTs finds the candidate peaks; each is refined
/// at the full rate to the best integer frame. The normalized correlation of
/// a lag is taken over the frames where both files overlap; a negative peak
/// larger in magnitude than the best positive one means inverted polarity.
/// Any thread.
TAlignment estimate_alignment(const TAlignSignal& file1, const TAlignSignal& file2);

/// Where an excerpt lies in a longer stretch, to a fraction of a frame.
struct TExcerptPlace {
    bool found = false;
    /// y[i + lag] ≈ x[i]; between whole frames where the band-limited
    /// correlation peaks.
    double lag = 0;
    /// Normalized correlation at the best whole lag, signed.
    double r = 0;
};

/// Finds the excerpt x (n frames) in y (ny ≥ n frames) at the lag 0 …
/// ny − n where sign × Σ x[i] · y[i + lag] is largest (through FFTs), then
/// refines the lag between frames: the correlation of band-limited signals
/// is band-limited too, so its values at the whole lags around the peak,
/// interpolated by windowed sinc, give the peak's true place. Not found when
/// a part is silent. Any thread.
TExcerptPlace locate_excerpt(const float* x, int64_t n, const float* y, int64_t ny, double sign);

}  // namespace wavrell
