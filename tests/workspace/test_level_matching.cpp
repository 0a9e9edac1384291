// The factors of level matching under both peak targets, the keys of the
// targets, and a slot whose true peak is not there yet taking no part.
#include "workspace/level_matching.h"

#include <gtest/gtest.h>

#include <cmath>

namespace wavrell {
namespace {

TEST(LevelMatching, FactorsUnderEachPeakTarget) {
    const double minus1 = std::pow(10.0, -1.0 / 20);
    EXPECT_EQ(peak_target_level(ptsample), 1.0);
    EXPECT_DOUBLE_EQ(peak_target_level(pttrue), minus1);
    const struct {
        const char* what;
        std::array<std::optional<double>, 2> level;
        std::array<double, 2> peak;
        double target;
        std::array<double, 2> factor;
    } cases[] = {
        // B twice as loud comes down to A; then the larger scaled peak (A's
        // 0.5, B's 0.8 / 2) goes to the target.
        {"pair to 0 dBFS", {0.1, 0.2}, {0.5, 0.8}, 1.0, {2.0, 1.0}},
        {"pair to -1 dBTP", {0.1, 0.2}, {0.5, 0.8}, minus1, {2.0 * minus1, minus1}},
        // A slot without level or peak takes no part; the other alone goes
        // to the target.
        {"alone", {0.1, std::nullopt}, {0.25, 0.8}, minus1, {4.0 * minus1, 1.0}},
        {"no peak", {0.1, 0.2}, {0.25, 0.0}, minus1, {4.0 * minus1, 1.0}},
        {"neither", {std::nullopt, 0.0}, {0.5, 0.5}, minus1, {1.0, 1.0}},
    };
    for (const auto& c : cases) {
        const auto f = matching_factors(c.level, c.peak, c.target);
        EXPECT_NEAR(f[0], c.factor[0], 1e-12) << c.what;
        EXPECT_NEAR(f[1], c.factor[1], 1e-12) << c.what;
    }
}

TEST(LevelMatching, PeakOfATargetAndKeys) {
    // Under the true-peak target a slot whose true peak is not measured
    // (yet) takes no part, as a slot without loudness under a loudness
    // criterion.
    EXPECT_EQ(matching_peak(ptsample, 0.5, 0.7), 0.5);
    EXPECT_EQ(matching_peak(ptsample, 0.5, std::nullopt), 0.5);
    EXPECT_EQ(matching_peak(pttrue, 0.5, 0.7), 0.7);
    EXPECT_EQ(matching_peak(pttrue, 0.5, std::nullopt), 0.0);
    for (TPeakTarget v : {ptsample, pttrue}) EXPECT_EQ(peak_target_from_key(peak_target_key(v)), v);
    EXPECT_EQ(peak_target_key(ptsample), QStringLiteral("sample"));
    EXPECT_EQ(peak_target_key(pttrue), QStringLiteral("true"));
    for (const char* bad : {"", "True", "tp", "sample "}) EXPECT_FALSE(peak_target_from_key(QLatin1String(bad))) << bad;
}

}  // namespace
}  // namespace wavrell
