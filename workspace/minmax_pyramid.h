#pragma once

#include "common/growth_allocator.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace wavrell {

/// A table of a summary; the builders write every entry they size.
template <class T>
using TSummaryTable = std::vector<T, TNoFillAllocator<T>>;

/// Smallest and largest value of a block.
template <class T>
struct TMinMax {
    T lo, hi;
};

/// Block extremes of a signal at several resolutions: level 0 holds one
/// entry per bottom block, each level above one per `fanout` entries of the
/// one below, up to a level of at most `fanout` entries. The extremes of
/// any run of bottom blocks then take at most 2 × (fanout − 1) entries per
/// level.
template <class T>
using TMinMaxPyramid = std::vector<TSummaryTable<TMinMax<T>>>;

template <class T>
inline void fold_minmax(const TMinMax<T>& v, T& lo, T& hi) {
    lo = v.lo < lo ? v.lo : lo;
    hi = v.hi > hi ? v.hi : hi;
}

/// Adds levels above levels[0] (which must exist) until the top one has at
/// most fanout entries; entry k of a level covers entries k × fanout … of
/// the one below.
template <class T>
void build_minmax_pyramid(TMinMaxPyramid<T>& levels, int64_t fanout) {
    const int64_t f = fanout;
    while (int64_t(levels.back().size()) > f) {
        const TSummaryTable<TMinMax<T>>& below = levels.back();
        const int64_t n = int64_t(below.size());
        TSummaryTable<TMinMax<T>> up(size_t((n + f - 1) / f));
        for (int64_t k = 0; k < int64_t(up.size()); ++k) {
            TMinMax<T> m = below[size_t(k * f)];
            const int64_t end = std::min(n, k * f + f);
            for (int64_t i = k * f + 1; i < end; ++i) fold_minmax(below[size_t(i)], m.lo, m.hi);
            up[size_t(k)] = m;
        }
        levels.push_back(std::move(up));
    }
}

/// Folds the bottom-level blocks b0 … b1 − 1 (b0 < b1) into lo and hi,
/// climbing the pyramid wherever whole upper blocks lie inside the range.
template <class T>
void pyramid_minmax(const TMinMaxPyramid<T>& levels, int64_t fanout, int64_t b0, int64_t b1, T& lo, T& hi) {
    const int64_t f = fanout;
    for (size_t lv = 0; b0 < b1; ++lv) {
        const TSummaryTable<TMinMax<T>>& level = levels[lv];
        if (b1 - b0 <= 2 * f || lv + 1 == levels.size()) {
            for (int64_t k = b0; k < b1; ++k) fold_minmax(level[size_t(k)], lo, hi);
            return;
        }
        for (; b0 % f != 0; ++b0) fold_minmax(level[size_t(b0)], lo, hi);
        for (; b1 % f != 0; --b1) fold_minmax(level[size_t(b1 - 1)], lo, hi);
        b0 /= f;
        b1 /= f;
    }
}

}  // namespace wavrell
