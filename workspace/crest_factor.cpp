#include "workspace/crest_factor.h"

#include "workspace/level_analysis.h"

#include <cmath>

namespace wavrell {

TCrestFactor short_term_crest(const std::vector<trmspeak>& row, double cursorpos, bool allpass) {
    const double b0d = std::trunc(cursorpos * 10);
    if (!std::isfinite(b0d)) return {};
    const double decay = std::exp(-0.05);
    double S = 0, Wsum = 0, P = 0, A = 0, w = 1.0;
    for (int n = 0; n < 60; ++n) {
        const double b = b0d - n;
        if (b >= 0 && b < static_cast<double>(row.size())) {
            const trmspeak& r = row[static_cast<size_t>(b)];
            S += r.rms * r.rms * w;
            P = std::max(P, r.peak * w);
            A = std::max(A, r.appeak * w);
            Wsum += w;
        }
        w *= decay;
    }
    // Any step that would fail (no record, a zero level) gives empty bars.
    if (Wsum == 0) return {};
    const double R = std::sqrt(S / Wsum);
    if (R == 0 || P == 0) return {};
    if (!allpass) return {20 * std::log10(P / R), 0};
    if (A == 0) return {};
    return {20 * std::log10(P / R), 20 * std::log10(A / R)};
}

}  // namespace wavrell
