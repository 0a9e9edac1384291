#pragma once

#include "workspace/minmax_pyramid.h"
#include "workspace/range_source.h"
#include "audio/wav_file.h"
#include "common/growth_allocator.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace wavrell {

/// Vector engine of the summary builder: the widest this processor has, or
/// a narrower one.
enum class TSummaryEngine { best, sse2, plain };


/// What the level measurement keeps of one stretch of a channel, taken in
/// the run that builds the channel's summary: the exact sum of the squares
/// of its raw samples, their smallest and largest, and the smallest and
/// largest allpass output (as allpass_minmax gives them).
struct TStretchStats {
    int64_t sumsq = 0;
    TMinMax<int16_t> raw{std::numeric_limits<int16_t>::max(), std::numeric_limits<int16_t>::min()};
    TMinMax<double> allpass{std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
};

/// Load-time summary of one channel, answering the smallest and largest raw
/// sample and allpass output over any index range j … e at a cost that does
/// not grow with e − j beyond a few block edges:
/// - raw samples: a pyramid of block minima and maxima, rawblock samples per
///   block at the bottom, fanout blocks per block above;
/// - allpass outputs (the section run over the raw samples from index 0):
///   per block of apblock samples the section's state before the block's
///   first sample and the block's output minimum and maximum, with a pyramid
///   over those. The partial blocks at the ends of a range are run again
///   from the kept state, which gives the very outputs of the run from
///   index 0, since the step is deterministic.
/// Answers equal a straight pass over the same samples bit for bit. The
/// summary does not hold the samples: queries take the channel's row, the
/// one the summary was built from. Immutable after building.
class TChannelSummary {
public:
    static constexpr int64_t rawblock = 128;
    static constexpr int64_t apblock = 256;
    static constexpr int64_t fanout = 8;
    static_assert(apblock % rawblock == 0);

    TChannelSummary() = default;

    /// Builds the summary of count samples of row in one pass (no feed).
    static TChannelSummary build(const int16_t* row, int64_t count, const TSectionStep& step);

    /// Number of samples summarized.
    int64_t count() const { return fcount; }
    /// The section step the allpass part was built with.
    const TSectionStep& step() const { return fstep; }

    /// Smallest and largest raw sample over j … e (both included); false,
    /// leaving lo and hi alone, when j > e, j < 0 or e ≥ count().
    bool raw_minmax(const int16_t* row, int64_t j, int64_t e, int16_t& lo, int16_t& hi) const;

    /// Smallest and largest allpass output over j … e, with the same
    /// validity rule. A zero result may come back as −0 or +0.
    bool allpass_minmax(const int16_t* row, int64_t j, int64_t e, double& lo, double& hi) const;

    /// allpass_minmax for many ranges at once, each with 0 ≤ j ≤ e <
    /// count() (others give lo = +inf, hi = −inf): the partial blocks of all
    /// ranges are run again side by side. (The level measurement asks its
    /// ranges while building instead, see build_summary.)
    /// which: as for build_summary.
    void allpass_minmax_many(const int16_t* row, const std::vector<TMinMax<int64_t>>& ranges,
                             std::vector<TMinMax<double>>& out, TSummaryEngine which = TSummaryEngine::best) const;

    /// Bytes held by the summary's tables.
    size_t memory_bytes() const;

private:
    friend class TSummaryFeed;
    friend TChannelSummary build_summary(const int16_t*, int64_t, const TSectionStep&, TSummaryEngine,
                                         const std::vector<TMinMax<int64_t>>*, std::vector<TStretchStats>*);

    /// Builds the raw pyramid from row and the upper allpass levels from the
    /// bottom level already filled in.
    void finish_tables(const int16_t* row);

    int64_t fcount = 0;
    TSectionStep fstep;
    std::vector<TSummaryTable<TMinMax<int16_t>>> fraw;  // [level][block]
    TSummaryTable<double> fapstate;                     // state before each allpass block
    std::vector<TSummaryTable<TMinMax<double>>> fap;    // [level][block]
};

/// Builds the summary of the first count samples of one row, as fast as the
/// processor allows: the allpass runs of several stretches of the row go
/// side by side, and the results are put right where a stretch had to guess
/// its starting state, so every table is exactly that of one run from
/// index 0. which picks the engine (tests compare them): the widest this
/// processor has, or a narrower one; all give the same tables.
/// With ranges given (ascending, each starting right after the one
/// before, the first at 0, all below count), stats gets for each of them
/// its stretch statistics, from the same pass over the samples and the
/// same run of the allpass.
TChannelSummary build_summary(const int16_t* row, int64_t count, const TSectionStep& step,
                              TSummaryEngine which = TSummaryEngine::best,
                              const std::vector<TMinMax<int64_t>>* ranges = nullptr,
                              std::vector<TStretchStats>* stats = nullptr);

/// build_summary of the first nchannels rows (all rows when negative).
std::vector<TChannelSummary> build_summaries(const TWavSamples16& rows, int64_t count, const TSectionStep& step,
                                             int nchannels = -1, TSummaryEngine which = TSummaryEngine::best);

/// Bytes held by a set of summaries.
size_t memory_bytes(const std::vector<TChannelSummary>& summaries);

/// Builds one channel's summary sample by sample, from pieces of any
/// length pushed in order: the builder for rows too short for the
/// side-by-side lanes and for sections whose steps may fault (each step is
/// the section's own). The raw pyramid is made by finish() in one quick
/// pass.
class TSummaryFeed {
public:
    explicit TSummaryFeed(const TSectionStep& step, int64_t expected_count = 0);

    /// Feeds the next count samples of the channel, from index 0 on. The
    /// feed's state stays in registers within a block.
    void push(const int16_t* x, int64_t count) {
        const TSectionStep step = fstep;
        int64_t i = 0;
        while (i < count) {
            const int64_t m = std::min(count - i, TChannelSummary::apblock - fpos);
            double z = fz1, lo = flo, hi = fhi;
            for (int64_t k = i; k < i + m; ++k) {
                const double y = step(x[k], z);
                lo = y < lo ? y : lo;
                hi = y > hi ? y : hi;
            }
            fz1 = z;
            flo = lo;
            fhi = hi;
            i += m;
            fpos += m;
            if (fpos == TChannelSummary::apblock) close_block();
        }
    }

    /// The summary of the samples pushed so far; row holds them (at least
    /// as many as were pushed). The feed is empty afterwards.
    TChannelSummary finish(const int16_t* row);

private:
    void close_block();

    TSectionStep fstep;
    double fz1 = 0;
    double flo = std::numeric_limits<double>::infinity();
    double fhi = -std::numeric_limits<double>::infinity();
    int64_t fpos = 0;
    int64_t fpushed = 0;  // samples of the closed blocks
    TSummaryTable<double> fstate;
    TSummaryTable<TMinMax<double>> fblocks;
};

/// Main trace answered from a channel summary.
class TRawSummarySource : public TRangeSource {
public:
    /// Both the row and the summary built from it stay owned by the caller.
    TRawSummarySource(const TSampleRow& row, const TChannelSummary& summary)
        : TRangeSource(summary.count()), fsamples(row.data()), fsummary(summary) {}

    bool minmax(int64_t j, int64_t e, double& lo, double& hi) override;

private:
    const int16_t* fsamples;
    const TChannelSummary& fsummary;
};

/// Allpass trace answered from a channel summary.
class TAllpassSummarySource : public TRangeSource {
public:
    TAllpassSummarySource(const TSampleRow& row, const TChannelSummary& summary)
        : TRangeSource(summary.count()), fsamples(row.data()), fsummary(summary) {}

    bool minmax(int64_t j, int64_t e, double& lo, double& hi) override;

private:
    const int16_t* fsamples;
    const TChannelSummary& fsummary;
};

}  // namespace wavrell
