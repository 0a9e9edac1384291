#pragma once

#include <cstdint>
#include <vector>

namespace wavrell {

class TWav;
class TRealFilterSection;
class TChannelSummary;

/// Levels of one 100 ms block of one channel, in full-scale units.
struct trmspeak {
    double rms = 0;     ///< RMS of the block's samples
    double peak = 0;    ///< largest absolute sample of the block
    double appeak = 0;  ///< largest absolute output of the allpass for the block's samples
};

/// Block levels of one slot: 4 rows (one per view box, row 2 × slot +
/// channel), each one record per 100 ms block.
using TLevelTable = std::vector<std::vector<trmspeak>>;

/// Levels of a whole file over all samples of all channels.
struct TFileLevels {
    double rms = 0;   ///< 0 for a file without samples
    double peak = 0;
    bool allpass = true;  ///< the allpass could be designed at the file's rate
};

/// Vector units the allpass runs on: the best this machine has, or (to test
/// the others) plain SSE2 or no vector instructions at all. All give the
/// same results.
enum class TLevelEngine { Best, Sse2, Portable };

/// Number of 100 ms block records of a file: tottime × 10 rounded half to
/// even.
int64_t block_count(const TWav& wav);

/// Measures a file in one pass: re-creates `table` as 4 rows of
/// block_count records, all zero, then fills row 2 × slot + c of every
/// channel c < 2 and returns the file levels over all channels.
///
/// Block rule: sample i belongs to block k = trunc(i / sampfreq × 10)
/// (computed in floating point). Entry k of a row is written when block k
/// begins, from the samples after the first sample of the previous block up
/// to and including the first sample of block k, provided k < block count;
/// entry 0 stays zero and the samples after the first sample of the last
/// block that begins count in the file levels only. Channels from the third
/// on count in the file levels only. `appeak` comes from `apfilter` (its
/// coefficients, with SampFreq set to the file's rate), run from a reset
/// state over each of the first two channels.
///
/// Sums of squares and peaks are exact integer arithmetic on the 16-bit
/// samples; the allpass runs several independent stretches of the signal
/// side by side. Results agree with the plain per-sample computation through
/// TRealFilterSection::filter to far better than 1e-9 relative. Where the
/// allpass cannot be designed for the file's rate (some rates of 500 Hz and
/// below), every `appeak` stays 0. Any thread (it touches only its
/// arguments); without summaries, the first two channels of a long file are
/// measured side by side on a second thread of its own.
///
/// With summaries given, the range summaries of the first two channels
/// (TChannelSummary, for the waveform view) are built instead, and the
/// levels and allpass peaks of those channels come from the same single
/// pass over their samples: one run of the allpass serves both,
/// and the peaks are those of the plain run from index 0 exactly (up to the
/// exact scaling by 1/32768; `which` then plays no part). Where the allpass
/// cannot be designed, the summaries are built without their allpass part.
TFileLevels measure_levels(const TWav& wav, TRealFilterSection& apfilter, int slot, TLevelTable& table,
                           TLevelEngine which = TLevelEngine::Best,
                           std::vector<TChannelSummary>* summaries = nullptr);

}  // namespace wavrell
