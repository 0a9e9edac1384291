#pragma once

#include "workspace/minmax_pyramid.h"
#include "common/number_text.h"

#include <atomic>
#include <cstdint>

namespace wavrell {

/// The error of normalization of one sample, in sample units, as the waveform
/// view draws it: the sample v scaled by the factor f, requantized with
/// dither and divided by f again, less v. The dither is the draw that
/// conversion number `index` after seed_dither(seed) takes, so the error of
/// every sample of a channel is one draw, kept as long as the seed.
inline double normalization_error(int16_t v, double f, uint64_t seed, int64_t index) {
    return float_to_sample16_at(v * f, seed, uint64_t(index)) / f - v;
}

/// One draw of the error of normalization of one channel for one factor,
/// summarized so that the smallest and largest error over any index range
/// j … e take a few block edges instead of a pass: a pyramid of block
/// minima and maxima, `block` samples per block at the bottom, `fanout`
/// blocks per block above. The samples of partial blocks at the ends of a
/// range are converted again with their own draws (normalization_error is
/// a function of the sample, the factor, the seed and the index), so every
/// answer equals a straight pass over normalization_error bit for bit. The
/// summary does not hold the samples: queries take the channel's row, the
/// one it was built from. Immutable after building; any thread.
class TErrorSummary {
public:
    static constexpr int64_t block = 128;
    static constexpr int64_t fanout = 8;

    TErrorSummary() = default;

    /// Summarizes the errors of count samples of row for the factor and the
    /// dither seed. Gives up (returning an empty summary) once `cancel` is
    /// set; it is looked at every few thousand samples.
    static TErrorSummary build(const int16_t* row, int64_t count, double factor, uint64_t seed,
                               const std::atomic<bool>* cancel = nullptr);

    int64_t count() const { return fcount; }
    double factor() const { return ffactor; }
    uint64_t seed() const { return fseed; }

    /// Error of sample i of row in this draw.
    double value(const int16_t* row, int64_t i) const { return normalization_error(row[i], ffactor, fseed, i); }

    /// Smallest and largest error over j … e (both included); false,
    /// leaving lo and hi alone, when j > e, j < 0 or e ≥ count().
    bool minmax(const int16_t* row, int64_t j, int64_t e, double& lo, double& hi) const;

    /// Bytes held by the summary's tables.
    size_t memory_bytes() const;

private:
    void scan(const int16_t* row, int64_t j, int64_t e, double& lo, double& hi) const;

    int64_t fcount = 0;
    double ffactor = 1;
    uint64_t fseed = 0;
    TMinMaxPyramid<double> fblocks;
};

}  // namespace wavrell
