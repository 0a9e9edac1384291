#pragma once

#include "common/errors.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace wavrell {

class TWav;

/// Loudness of one file after ITU-R BS.1770-4 and EBU R128, measured by
/// libebur128 on the sample store's 16-bit samples. A value that does not
/// exist for the file is empty.
struct TLoudness {
    /// The file was measured (false: loudness measurement was off for its
    /// load; every field below is empty then).
    bool measured = false;
    /// Integrated (gated) loudness in LUFS; empty for silence (no 400 ms
    /// block above the absolute gate of -70 LUFS) and for a file shorter
    /// than 400 ms (no block at all).
    std::optional<double> integrated;
    /// Loudness range in LU (EBU Tech 3342); empty without a 3 s block above
    /// the absolute gate.
    std::optional<double> range;
    /// Largest short-term (3 s) loudness in LUFS, read every 100 ms from
    /// 3 s on (an earlier window would reach back before the file's start).
    /// Empty where no reading reaches the absolute gate (silence) and for a
    /// file shorter than 3 s, which has no full window.
    std::optional<double> shortterm_max;
    /// Largest true (inter-sample) peak over all channels, in full-scale
    /// units (1.0 = 0 dBTP; at least the sample peak; 0 for silence). Empty
    /// for a file without samples, and (like every field) for one that
    /// libebur128 cannot measure: rates below 16 Hz or above 2822400 Hz,
    /// more than 64 channels.
    std::optional<double> true_peak;
};

/// The loudness of the samples of a measurement multiplied by `factor`:
/// loudness values shifted by its dB, the true peak multiplied, the range
/// as it was.
TLoudness loudness_scaled(const TLoudness& l, double factor);

/// The loudness measurement could not be done (out of memory).
WAVRELL_DECLARE_ERROR(ELoudnessError);

/// The channel type (libebur128's `channel` values) of each of the `nchans`
/// channels of a file whose speaker positions are `channelmask` (TWav's
/// extensible-format bits): each channel is weighted as BS.1770 gives for
/// its position (front and centre 1.0, surround positions between 60 and
/// 120 degrees 1.41, low frequency left out, upper and back positions 1.0).
/// In a layout without side channels the back pair is the surround pair of
/// 5.1 (+-110 degrees); with side channels the sides take that weight and
/// the backs count 1.0. Channels beyond the mask's bits count 1.0. Empty
/// when the mask names no position: libebur128's default order for the
/// channel count applies (L, R, C, unused, Ls, Rs; L, R, Ls, Rs for 4).
std::vector<int> loudness_channel_types(uint32_t channelmask, int nchans);

/// One loudness measurement of a sample store, cut into jobs that may run
/// side by side on several threads (and beside the level measurement): the
/// gated loudness, the loudness range and the short-term readings in one
/// job over the whole file; the true peak in pieces of the file, each with
/// a few frames before it for the interpolator, so that together they see
/// exactly what one pass over the file sees. The store must not change
/// until the jobs have ended.
class TLoudnessMeter {
public:
    /// `check` is called on the measuring threads every 100 ms of audio or
    /// so; it may raise to give the measurement up (its error then leaves
    /// the job that called it).
    explicit TLoudnessMeter(const TWav& wav, std::function<void()> check = {});
    ~TLoudnessMeter();
    TLoudnessMeter(const TLoudnessMeter&) = delete;
    TLoudnessMeter& operator=(const TLoudnessMeter&) = delete;

    /// The jobs, longest first; each is to run once, in any order and on
    /// any thread. They raise ELoudnessError, or what `check` raises.
    std::vector<std::function<void()>> jobs();
    /// The measurement, once every job has run.
    TLoudness result() const;
    /// How far the longest job has come, 0 … 1 (any thread, while the jobs
    /// run).
    double progress() const;

private:
    struct Work;
    std::unique_ptr<Work> w;
};

/// Measures a store with a TLoudnessMeter on this machine's processors.
TLoudness measure_loudness(const TWav& wav, std::function<void()> check = {});

}  // namespace wavrell
