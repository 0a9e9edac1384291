#include "demo/loudness_processor.h"

#include <algorithm>
#include <cmath>

namespace wavrell {

namespace {

constexpr double fs = demo_rate;

double db_to_gain(double db) { return std::pow(10.0, db / 20.0); }

/// Gain of a one-pole smoother with the given time constant in seconds.
double pole(double seconds) { return std::exp(-1.0 / (seconds * fs)); }

/// Stereo-linked compressor: a peak follower over both channels and a
/// soft-knee gain curve above the threshold.
void compress(TStereo& s, double threshold_db, double ratio, double knee_db) {
    const double attack = pole(0.005), release = pole(0.15);
    double env = 0.0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double level = std::max(std::abs(s.left[i]), std::abs(s.right[i]));
        const double a = level > env ? attack : release;
        env = a * env + (1.0 - a) * level;
        const double over = 20.0 * std::log10(std::max(env, 1e-9)) - threshold_db;
        double reduction = 0.0;
        if (over >= knee_db / 2)
            reduction = over * (1.0 - 1.0 / ratio);
        else if (over > -knee_db / 2)
            reduction = (1.0 - 1.0 / ratio) * (over + knee_db / 2) * (over + knee_db / 2) / (2.0 * knee_db);
        const double g = db_to_gain(-reduction);
        s.left[i] *= g;
        s.right[i] *= g;
    }
}

/// Soft saturation: linear for small values, rounding off towards ±1.
void saturate(TStereo& s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        s.left[i] = std::tanh(s.left[i]);
        s.right[i] = std::tanh(s.right[i]);
    }
}

/// Look-ahead peak limiter at ceiling. The gain each frame needs is first
/// taken as the least over ±hold frames and then averaged over the same
/// span: every frame the average covers needed no more than that, so no
/// frame exceeds the ceiling, and the gain moves without steps. It recovers
/// with the release time.
void limit(TStereo& s, double ceiling, double release_seconds) {
    const std::size_t n = s.size();
    const std::size_t hold = std::size_t(std::nearbyint(0.002 * fs));
    std::vector<double> need(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double level = std::max(std::abs(s.left[i]), std::abs(s.right[i]));
        need[i] = level > ceiling ? ceiling / level : 1.0;
    }
    std::vector<double> least(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t a = i > hold ? i - hold : 0, b = std::min(n - 1, i + hold);
        least[i] = *std::min_element(need.begin() + std::ptrdiff_t(a), need.begin() + std::ptrdiff_t(b) + 1);
    }
    const double release = pole(release_seconds);
    double sum = 0.0, gain = 1.0;
    std::size_t a = 0, b = 0;  // the average runs over least[a, b)
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t want_a = i > hold ? i - hold : 0, want_b = std::min(n, i + hold + 1);
        while (b < want_b) sum += least[b++];
        while (a < want_a) sum -= least[a++];
        const double average = std::min(1.0, sum / double(b - a));
        gain = std::min(average, release * gain + (1.0 - release) * 1.0);
        s.left[i] *= gain;
        s.right[i] *= gain;
    }
}

void normalize_peak(TStereo& s, double peak_db) {
    double peak = 0.0;
    for (std::size_t i = 0; i < s.size(); ++i) peak = std::max({peak, std::abs(s.left[i]), std::abs(s.right[i])});
    if (peak == 0.0) return;
    const double g = db_to_gain(peak_db) / peak;
    for (std::size_t i = 0; i < s.size(); ++i) {
        s.left[i] *= g;
        s.right[i] *= g;
    }
}

}  // namespace

TStereo make_loud(const TStereo& in) {
    TStereo s = in;
    compress(s, -22.0, 3.0, 6.0);
    const double makeup = db_to_gain(16.0);
    for (std::size_t i = 0; i < s.size(); ++i) {
        s.left[i] *= makeup;
        s.right[i] *= makeup;
    }
    saturate(s);
    limit(s, db_to_gain(-0.3), 0.06);
    normalize_peak(s, -0.1);
    return s;
}

}  // namespace wavrell
