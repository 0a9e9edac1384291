#include "workspace/level_matching.h"

#include <algorithm>
#include <cmath>

namespace wavrell {

QString match_by_key(TMatchBy v) {
    switch (v) {
        case mbintegrated: return QStringLiteral("lufs");
        case mbshortterm: return QStringLiteral("shortterm");
        case mbrms: break;
    }
    return QStringLiteral("rms");
}

std::optional<TMatchBy> match_by_from_key(const QString& key) {
    for (TMatchBy v : {mbrms, mbintegrated, mbshortterm})
        if (key == match_by_key(v)) return v;
    return std::nullopt;
}

QString peak_target_key(TPeakTarget v) {
    return v == pttrue ? QStringLiteral("true") : QStringLiteral("sample");
}

std::optional<TPeakTarget> peak_target_from_key(const QString& key) {
    for (TPeakTarget v : {ptsample, pttrue})
        if (key == peak_target_key(v)) return v;
    return std::nullopt;
}

double peak_target_level(TPeakTarget v) { return v == pttrue ? std::pow(10.0, -1.0 / 20) : 1.0; }

double matching_peak(TPeakTarget target, double samplepeak, const std::optional<double>& truepeak) {
    if (target == ptsample) return samplepeak;
    return truepeak ? *truepeak : 0.0;
}

std::array<double, 2> matching_factors(const std::array<std::optional<double>, 2>& level,
                                       const std::array<double, 2>& peak, double target) {
    bool apart[2];
    for (size_t s = 0; s < 2; ++s) apart[s] = !(level[s] && *level[s] > 0 && peak[s] > 0);
    // A slot alone is brought to full scale. (A level derived from loudness
    // may exceed the sample peak, so a slot that takes no part must not
    // enter the peak comparison with stand-in values.)
    if (apart[0] && apart[1]) return {1.0, 1.0};
    if (apart[1]) return {target / peak[0], 1.0};
    if (apart[0]) return {1.0, target / peak[1]};
    const double l[2] = {*level[0], *level[1]};
    double f[2];
    if (l[0] > l[1]) {
        f[0] = l[1] / l[0];
        f[1] = 1;
    } else {
        f[1] = l[0] / l[1];
        f[0] = 1;
    }
    const double m = std::max(peak[0] * f[0], peak[1] * f[1]) / target;
    return {f[0] / m, f[1] / m};
}

}  // namespace wavrell
