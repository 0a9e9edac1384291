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

/// Level-matching factors of the two slots from their levels (linear
/// amplitudes: the RMS, or 10^(loudness / 20)) and their sample peaks (full
/// scale units): the louder slot is brought down to the level of the
/// quieter one, then both are scaled together so that the larger scaled
/// peak is exactly 1.0 (0 dBFS). A slot without level (empty, or not above
/// 0) or without peak takes no part: its factor is 1.0, and the other slot
/// is scaled as if it were alone (to a peak of 1.0).
std::array<double, 2> matching_factors(const std::array<std::optional<double>, 2>& level,
                                       const std::array<double, 2>& peak);

}  // namespace wavrell
