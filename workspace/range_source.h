#pragma once

#include "audio/sample_row.h"
#include "dsp/filter_section.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace wavrell {

/// One trace of one channel as the waveform view draws it: answers "smallest
/// and largest value over the sample indices j … e". A value is a sample's
/// own quantity (the raw 16-bit value, or the allpass output for raw input)
/// divided by 32768 and times factor(), in that order, as the drawing
/// computes it. Sources are used on the GUI thread; a source reads a sample
/// row it does not own, which must stay unchanged while the source lives.
class TRangeSource {
public:
    virtual ~TRangeSource() = default;

    /// Number of samples of the channel.
    int64_t count() const { return fcount; }

    /// Scale of the trace (the slot's factor in force); 1 at creation.
    double factor() const { return ffactor; }
    void setFactor(double v) { ffactor = v; }

    /// Smallest (lo) and largest (hi) value over the indices j … e, both
    /// included. Returns false, leaving lo and hi alone, when there is no
    /// such index (j > e) or one of them lies outside 0 … count() − 1. A zero
    /// result is always +0, so that every implementation returns the same
    /// bits for the same range.
    virtual bool minmax(int64_t j, int64_t e, double& lo, double& hi) = 0;

protected:
    explicit TRangeSource(int64_t count) : fcount(count) {}

    bool valid_range(int64_t j, int64_t e) const { return j >= 0 && j <= e && e < fcount; }

    /// The trace value of a sample quantity v.
    double value(double v) const { return v / 32768 * ffactor; }

    /// Trace values of the smallest and largest quantity of a range. The
    /// scaling is monotonic (rounding never reverses an order), so this is
    /// the extreme of the scaled samples; a negative factor swaps the ends.
    void scaled_ends(double vlo, double vhi, double& lo, double& hi) const {
        double a = value(vlo), b = value(vhi);
        if (ffactor < 0) std::swap(a, b);
        lo = a + 0.0;  // -0 + +0 is +0
        hi = b + 0.0;
    }

private:
    int64_t fcount;
    double ffactor = 1;
};

/// The step of a first-order section, written out with the section's own
/// coefficients: the same operations in the same order as
/// TRealFilterSection::filter (including its output of 0 and kept state on
/// a faulting step), so runs from the same state give the same bits. Only
/// the state z1 is carried, by the caller.
struct TSectionStep {
    double a0 = 0, a1 = 0, b0 = 0, b1 = 0, gain = 1;

    /// The coefficients of a configured section.
    static TSectionStep of(const TRealFilterSection& s) { return {s.a0(), s.a1(), s.b0(), s.b1(), s.Gain()}; }

    bool operator==(const TSectionStep&) const = default;

    double operator()(double x, double& z1) const {
        const double w = a0 * x + a1 * z1;
        const double y = gain * ((w + b1 * z1) * b0);
        const bool ok = std::isfinite(y);
        z1 = ok ? w : z1;
        return ok ? y : 0.0;
    }
};

/// Main trace by a straight pass: every sample of the range is scaled and
/// compared, as the drawing does without a summary.
class TRawStraightSource : public TRangeSource {
public:
    /// samples: the channel's row of count values (not owned).
    TRawStraightSource(const int16_t* samples, int64_t count) : TRangeSource(count), fsamples(samples) {}
    explicit TRawStraightSource(const TSampleRow& row) : TRawStraightSource(row.data(), int64_t(row.size())) {}

    bool minmax(int64_t j, int64_t e, double& lo, double& hi) override;

private:
    const int16_t* fsamples;
};

/// Allpass trace by a straight pass: the section runs over the raw samples
/// from index 0. The running state is kept between calls, so ranges asked
/// in increasing order (each starting at or after the previous one's last
/// index, as the columns of a redraw do) cost one pass over the file in all;
/// a range that starts earlier restarts the section from index 0.
class TAllpassStraightSource : public TRangeSource {
public:
    /// design: a section configured as the drawing's (frequencies, gain and
    /// SampFreq already set to the file's rate); its settings are copied into
    /// a section of the source's own, which is reset before index 0.
    TAllpassStraightSource(const int16_t* samples, int64_t count, const TRealFilterSection& design);
    TAllpassStraightSource(const TSampleRow& row, const TRealFilterSection& design)
        : TAllpassStraightSource(row.data(), int64_t(row.size()), design) {}

    bool minmax(int64_t j, int64_t e, double& lo, double& hi) override;

private:
    const int16_t* fsamples;
    std::unique_ptr<TRealFilterSection> ffilter;
    int64_t fnext = 0;  // samples 0 … fnext − 1 have gone through ffilter
    double flast = 0;   // output for sample fnext − 1
};

}  // namespace wavrell
