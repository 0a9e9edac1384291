#include "common/errors.h"
#include "dsp/filter_section.h"

#include <QVariant>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace wavrell {
namespace {

constexpr double fs = 16000;
const double pi = std::acos(-1.0);

// The main window's 500 Hz allpass, set in the order the window applies it.
void make_allpass(TRealFilterSection& f, bool unity_at_hf = false) {
    f.setGain(1);
    f.setFZero(-500);
    f.setFPole(500);
    f.setSampFreq(fs);
    f.setUnityGainAtHF(unity_at_hf);
}

struct Response {
    double amplitude;
    double phase_deg;
};

// Steady-state response to a unit sine: the settling part is run first, then
// the output is projected on sine and cosine over a whole number of periods.
Response sine_response(TRealFilterSection& f, double freq) {
    f.reset();
    const int settle = 2000, n = 3200;  // 3200 samples hold whole periods of multiples of 5 Hz
    for (int i = 0; i < settle; ++i) f.filter(std::sin(2 * pi * freq * i / fs));
    double s = 0, c = 0;
    for (int i = settle; i < settle + n; ++i) {
        const double arg = 2 * pi * freq * i / fs;
        const double y = f.filter(std::sin(arg));
        s += y * std::sin(arg);
        c += y * std::cos(arg);
    }
    s *= 2.0 / n;
    c *= 2.0 / n;
    return {std::hypot(s, c), std::atan2(c, s) * 180 / pi};
}

TEST(FilterSection, AllpassCoefficientsAndImpulse) {
    TRealFilterSection f;
    make_allpass(f);
    EXPECT_NEAR(f.a0(), 0.1793212091713396, 1e-12);
    EXPECT_NEAR(f.a1(), 0.8206787908286604, 1e-12);
    EXPECT_NEAR(f.b0(), -4.57658519380443, 1e-12);
    EXPECT_NEAR(f.b1(), -1.218503525587976, 1e-12);

    // Some signal first: reset must clear it.
    for (int i = 0; i < 50; ++i) f.filter(0.3 * i);
    f.reset();
    std::vector<double> h;
    h.push_back(f.filter(1));
    for (int i = 1; i < 2000; ++i) h.push_back(f.filter(0));
    EXPECT_NEAR(h[0], -0.8206787908286604, 1e-12);
    // An allpass keeps the energy of the impulse.
    double energy = 0;
    for (double v : h) energy += v * v;
    EXPECT_NEAR(energy, 1, 1e-12);
}

TEST(FilterSection, AllpassHasUnityGainAndItsPhase) {
    const struct {
        double freq;
        double phase_deg;  // NAN: not checked
    } cases[] = {{5, NAN}, {100, NAN}, {500, -90}, {1000, NAN}, {4000, NAN}, {7000, NAN}, {7995, NAN}};
    TRealFilterSection f;
    make_allpass(f);
    double last_phase = 0;
    for (const auto& c : cases) {
        const Response r = sine_response(f, c.freq);
        EXPECT_NEAR(r.amplitude, 1, 1e-9) << c.freq;
        if (!std::isnan(c.phase_deg)) {
            EXPECT_NEAR(r.phase_deg, c.phase_deg, 1e-9) << c.freq;
        }
        // The phase falls from 0 toward -180 degrees as the frequency rises.
        EXPECT_LT(r.phase_deg, last_phase) << c.freq;
        EXPECT_GT(r.phase_deg, -180) << c.freq;
        last_phase = r.phase_deg;
    }
    // At the Nyquist frequency the output is the alternating input inverted.
    f.reset();
    double y = 0;
    for (int i = 0; i < 400; ++i) y = f.filter(i % 2 ? -1 : 1);
    EXPECT_NEAR(y, 1, 1e-12);  // last input was -1
}

TEST(FilterSection, UnityGainAtHFFlipsTheSignOfTheAllpass) {
    TRealFilterSection lo, hi;
    make_allpass(lo, false);
    make_allpass(hi, true);
    EXPECT_NEAR(hi.a0(), 1 + hi.a1(), 1e-15);
    EXPECT_NEAR(hi.b0() * (1 - hi.b1()), 1, 1e-12);
    for (int i = 0; i < 1000; ++i) {
        const double x = std::sin(0.37 * i) + 0.5 * std::cos(2.9 * i) + (i == 10 ? 3 : 0);
        EXPECT_NEAR(hi.filter(x), -lo.filter(x), 1e-12) << i;
    }
    EXPECT_NEAR(sine_response(hi, 7995).amplitude, 1, 1e-9);
    // Switching back recomputes both pairs.
    hi.setUnityGainAtHF(false);
    EXPECT_EQ(hi.a0(), lo.a0());
    EXPECT_EQ(hi.b0(), lo.b0());
}

TEST(FilterSection, FreshSectionOutputsZero) {
    TRealFilterSection f;
    EXPECT_EQ(f.Gain(), 1);
    EXPECT_EQ(f.FZero(), 1000);
    EXPECT_EQ(f.FPole(), 1000);
    EXPECT_EQ(f.SampFreq(), 16000);
    EXPECT_FALSE(f.UnityGainAtHF());
    for (double x : {1.0, -32768.0, 1e300, std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::quiet_NaN()})
        EXPECT_EQ(f.filter(x), 0) << x;
}

TEST(FilterSection, EqualZeroAndPoleGiveIdentity) {
    TRealFilterSection f;
    f.setFZero(1000);
    f.setFPole(1000);
    EXPECT_EQ(f.b1(), -f.a1());
    for (int i = 0; i < 500; ++i) {
        const double x = 30000 * std::sin(0.05 * i * i);
        EXPECT_NEAR(f.filter(x), x, 1e-9) << i;
    }
}

TEST(FilterSection, PoleAboveNyquistIsLimitedButKept) {
    TRealFilterSection f;
    f.setFPole(9000);
    EXPECT_EQ(f.FPole(), 9000);
    TRealFilterSection limited;
    limited.setFPole(16000 / 2.0001);
    EXPECT_EQ(f.a1(), limited.a1());
    EXPECT_EQ(f.a0(), limited.a0());
    EXPECT_NEAR(f.a1(), -1, 1e-3);  // a pole next to the Nyquist frequency sits next to z = -1
    EXPECT_GT(f.a1(), -1);

    // A new sampling frequency works from the stored 9000 Hz, not the limit.
    f.setSampFreq(20000);
    TRealFilterSection direct;
    direct.setSampFreq(20000);
    direct.setFPole(9000);
    EXPECT_EQ(f.a1(), direct.a1());
    EXPECT_EQ(f.FPole(), 9000);
    // ...and the zero pair from the stored FZero (1000 Hz).
    direct.setFZero(1000);
    EXPECT_EQ(f.b1(), direct.b1());
    EXPECT_EQ(f.b0(), direct.b0());
}

TEST(FilterSection, CoefficientWritesAreIgnored) {
    TRealFilterSection f;
    make_allpass(f);
    const double before[4] = {f.a0(), f.a1(), f.b0(), f.b1()};
    f.seta0(5);
    f.seta1(5);
    f.setb0(5);
    f.setb1(5);
    // As the window description would apply stored values.
    for (const char* name : {"a0", "a1", "b0", "b1"}) EXPECT_TRUE(f.setProperty(name, 7.0)) << name;
    EXPECT_EQ(f.a0(), before[0]);
    EXPECT_EQ(f.a1(), before[1]);
    EXPECT_EQ(f.b0(), before[2]);
    EXPECT_EQ(f.b1(), before[3]);
    EXPECT_EQ(f.property("a0").toDouble(), before[0]);
    // The other properties are reachable by name too.
    EXPECT_TRUE(f.setProperty("FPole", 250.0));
    EXPECT_EQ(f.FPole(), 250);
    EXPECT_NE(f.a1(), before[1]);
}

TEST(FilterSection, FaultingCoefficientsRaise) {
    TRealFilterSection f;
    make_allpass(f);
    const double a1 = f.a1(), b1 = f.b1();
    try {
        f.setSampFreq(0);
        ADD_FAILURE() << "a sampling frequency of 0 Hz was accepted";
    } catch (const EMathError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("sampling frequency of 0 Hz"))) << e.what();
    }
    EXPECT_EQ(f.SampFreq(), 0);  // stored before the computation failed
    EXPECT_EQ(f.a1(), a1);
    EXPECT_EQ(f.b1(), b1);

    // A zero at 0 Hz cannot be normalised to unity gain at 0 Hz.
    TRealFilterSection g;
    EXPECT_THROW(g.setFZero(0), EMathError);
    g.setUnityGainAtHF(true);
    EXPECT_NO_THROW(g.setFZero(0));
    EXPECT_EQ(g.b0(), 0.5);
}

TEST(FilterSection, FaultingStepReturnsZeroAndSignalGoesOn) {
    TRealFilterSection f, reference;
    make_allpass(f);
    make_allpass(reference);
    f.setGain(2);
    reference.setGain(2);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(f.filter(i), reference.filter(i));
    EXPECT_EQ(f.filter(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(f.filter(std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(f.filter(1.5e308), 0);  // overflows in the step
    for (int i = 20; i < 40; ++i) EXPECT_EQ(f.filter(i), reference.filter(i)) << i;
}

}  // namespace
}  // namespace wavrell
