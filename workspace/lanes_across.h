#pragma once

// Samples of several stretches of a channel ("lanes") turned across, so that
// one vector holds the same step of four lanes: what the allpass runs that
// go side by side read.

#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

namespace wavrell {

/// Steps j … j + 3 of the lanes q[0 … 3]: x[k] holds step j + k of the four
/// lanes, as doubles.
__attribute__((target("avx2"))) inline void lanes_across4(const int16_t* const* q, int64_t j, __m256d x[4]) {
    // ab = a0 b0 a1 b1 …; then steps 0 and 1 of lanes a b c d, and steps 2
    // and 3.
    const __m128i ab = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(q[0] + j)),
                                          _mm_loadl_epi64(reinterpret_cast<const __m128i*>(q[1] + j)));
    const __m128i cd = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(q[2] + j)),
                                          _mm_loadl_epi64(reinterpret_cast<const __m128i*>(q[3] + j)));
    const __m256i s01 = _mm256_cvtepi16_epi32(_mm_unpacklo_epi32(ab, cd));
    const __m256i s23 = _mm256_cvtepi16_epi32(_mm_unpackhi_epi32(ab, cd));
    x[0] = _mm256_cvtepi32_pd(_mm256_castsi256_si128(s01));
    x[1] = _mm256_cvtepi32_pd(_mm256_extracti128_si256(s01, 1));
    x[2] = _mm256_cvtepi32_pd(_mm256_castsi256_si128(s23));
    x[3] = _mm256_cvtepi32_pd(_mm256_extracti128_si256(s23, 1));
}

/// Step j of the lanes q[0 … 3], as doubles.
__attribute__((target("avx2"))) inline __m256d lanes_across1(const int16_t* const* q, int64_t j) {
    return _mm256_setr_pd(double(q[0][j]), double(q[1][j]), double(q[2][j]), double(q[3][j]));
}

}  // namespace wavrell

#endif
