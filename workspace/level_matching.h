#pragma once

#include <QString>

#include <array>
#include <optional>

namespace wavrell {

/// What level matching ("Normalize") brings to equal: the RMS over all
/// samples, the integrated loudness, or the maximum short-term loudness.
enum TMatchBy { mbrms, mbintegrated, mbshortterm };

/// The key of a criterion in the settings store and on the command line:
/// "rms", "lufs", "shortterm".
QString match_by_key(TMatchBy v);
/// The criterion of a key (as match_by_key gives them); empty for any other
/// text.
std::optional<TMatchBy> match_by_from_key(const QString& key);

/// What level matching raises the larger peak to: the sample peak to
/// 0 dBFS, or the true (inter-sample) peak to -1 dBTP, which leaves room
/// for the overshoot of a resampling sound server or a converter.
enum TPeakTarget { ptsample, pttrue };

/// The key of a target in the settings store and on the command line:
/// "sample", "true".
QString peak_target_key(TPeakTarget v);
/// The target of a key (as peak_target_key gives them); empty for any other
/// text.
std::optional<TPeakTarget> peak_target_from_key(const QString& key);
/// The level (full-scale units) the larger matched peak is brought to:
/// 1.0 for the sample peak, 10^(-1/20) for the true peak.
double peak_target_level(TPeakTarget v);

/// The peak of a slot that matching takes under `target`: its sample peak,
/// or its true peak; 0 (the slot takes no part) while the true peak is not
/// measured, just as a slot without its loudness takes no part in matching
/// by loudness.
double matching_peak(TPeakTarget target, double samplepeak, const std::optional<double>& truepeak);

/// Level-matching factors of the two slots from their levels (linear
/// amplitudes: the RMS, or 10^(loudness / 20)) and their peaks (full
/// scale units; sample or true peaks): the louder slot is brought down to
/// the level of the quieter one, then both are scaled together so that the
/// larger scaled peak is exactly `target` (1.0 is 0 dBFS). A slot without
/// level (empty, or not above 0) or without peak takes no part: its factor
/// is 1.0, and the other slot is scaled as if it were alone (to a peak of
/// `target`).
std::array<double, 2> matching_factors(const std::array<std::optional<double>, 2>& level,
                                       const std::array<double, 2>& peak, double target = 1.0);

}  // namespace wavrell
