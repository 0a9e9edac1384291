#pragma once

#include <cmath>
#include <cstdint>

namespace wavrell {

/// Scales a full-scale real (1.0 = full scale) to a 16-bit sample: times
/// 32768, rounded half to even (the default rounding mode), saturated to
/// −32768 … 32767; NaN gives 0. Every reader and the rate conversion turn
/// real samples into the store's samples through this one rule.
inline int16_t narrow_real(double x) {
    const double r = std::nearbyint(x * 32768.0);
    if (r >= 32767.0) return 32767;
    if (r <= -32768.0) return -32768;
    if (r != r) return 0;
    return static_cast<int16_t>(r);
}

}  // namespace wavrell
