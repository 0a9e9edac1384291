#include "workspace/error_summary.h"

#include <limits>

namespace wavrell {

TErrorSummary TErrorSummary::build(const int16_t* row, int64_t count, double factor, uint64_t seed,
                                   const std::atomic<bool>* cancel) {
    TErrorSummary s;
    s.fcount = count;
    s.ffactor = factor;
    s.fseed = seed;
    if (count <= 0) return s;
    const int64_t nblocks = (count + block - 1) / block;
    s.fblocks.emplace_back(size_t(nblocks));
    TSummaryTable<TMinMax<double>>& bottom = s.fblocks[0];
    constexpr int64_t kBlocksBetweenLooks = 64;
    for (int64_t b = 0; b < nblocks; ++b) {
        if (cancel && b % kBlocksBetweenLooks == 0 && cancel->load(std::memory_order_relaxed)) return {};
        const int64_t first = b * block;
        double lo = std::numeric_limits<double>::infinity(), hi = -lo;
        s.scan(row, first, std::min(count, first + block) - 1, lo, hi);
        bottom[size_t(b)] = {lo, hi};
    }
    build_minmax_pyramid(s.fblocks, fanout);
    return s;
}

void TErrorSummary::scan(const int16_t* row, int64_t j, int64_t e, double& lo, double& hi) const {
    for (int64_t i = j; i <= e; ++i) {
        const double v = value(row, i);
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
    }
}

bool TErrorSummary::minmax(const int16_t* row, int64_t j, int64_t e, double& lo, double& hi) const {
    if (j < 0 || j > e || e >= fcount) return false;
    double l = std::numeric_limits<double>::infinity(), h = -l;
    const int64_t bj = j / block, be = e / block;
    if (be - bj < 2) {
        scan(row, j, e, l, h);
    } else {
        // Partial blocks at both ends are converted again; the blocks
        // between come from the pyramid.
        int64_t b0 = bj, b1 = be + 1;
        if (j % block != 0) {
            scan(row, j, (bj + 1) * block - 1, l, h);
            b0 = bj + 1;
        }
        if (e + 1 != std::min(fcount, (be + 1) * block)) {
            scan(row, be * block, e, l, h);
            b1 = be;
        }
        pyramid_minmax(fblocks, fanout, b0, b1, l, h);
    }
    lo = l;
    hi = h;
    return true;
}

size_t TErrorSummary::memory_bytes() const {
    size_t n = 0;
    for (const auto& level : fblocks) n += level.capacity() * sizeof(TMinMax<double>);
    return n;
}

}  // namespace wavrell
