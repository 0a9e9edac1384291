#pragma once

#include <cmath>

namespace wavrell {

/// Half width, in frames, of the band-limited interpolation kernels (the
/// fractional delay of file 2 and the refinement of a correlation peak
/// between frames): 64 taps with a Kaiser window keep the error near
/// −70 dB up to 0.4 of the sampling rate.
inline constexpr int kSincHalfWidth = 32;
/// The Kaiser window's shape parameter (stop-band attenuation about 70 dB).
inline constexpr double kSincKaiserBeta = 7.0;

/// sin(πu)/(πu) under a Kaiser window reaching zero at |u| = half; 0
/// beyond it. The weight of a sample u frames away from the point wanted.
inline double windowed_sinc(double u, double half = kSincHalfWidth) {
    const double a = std::abs(u);
    if (a >= half) return 0;
    const double s = a < 1e-12 ? 1.0 : std::sin(M_PI * u) / (M_PI * u);
    const double q = u / half;
    return s * std::cyl_bessel_i(0.0, kSincKaiserBeta * std::sqrt(1 - q * q)) /
           std::cyl_bessel_i(0.0, kSincKaiserBeta);
}

}  // namespace wavrell
