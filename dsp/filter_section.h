#pragma once

#include <QObject>

#include <cmath>

namespace wavrell {

/// First-order recursive filter for real samples, designed from a zero and a
/// pole frequency in Hz by the bilinear transform with pre-warping:
///   w[n] = a0 x[n] + a1 w[n-1],  y[n] = Gain b0 (w[n] + b1 w[n-1]).
/// FZero = -p and FPole = p give an allpass (the program uses p = 500 Hz).
/// The coefficients are derived: only the writes of FZero, FPole, SampFreq
/// and UnityGainAtHF compute them, so a fresh section has all four at 0 and
/// outputs 0. One instance carries the state of one signal; GUI thread.
class TRealFilterSection : public QObject {
    Q_OBJECT
    Q_PROPERTY(double a0 READ a0 WRITE seta0)
    Q_PROPERTY(double a1 READ a1 WRITE seta1)
    Q_PROPERTY(double b0 READ b0 WRITE setb0)
    Q_PROPERTY(double b1 READ b1 WRITE setb1)
    Q_PROPERTY(double Gain READ Gain WRITE setGain)
    Q_PROPERTY(double FZero READ FZero WRITE setFZero)
    Q_PROPERTY(double FPole READ FPole WRITE setFPole)
    Q_PROPERTY(double SampFreq READ SampFreq WRITE setSampFreq)
    Q_PROPERTY(bool UnityGainAtHF READ UnityGainAtHF WRITE setUnityGainAtHF)

public:
    /// The owner is the Qt parent.
    explicit TRealFilterSection(QObject* owner = nullptr);

    /// Coefficients. Writing them does nothing: they are always derived from
    /// the frequencies (stored values in a window description are dropped).
    double a0() const { return fa0; }
    double a1() const { return fa1; }
    double b0() const { return fb0; }
    double b1() const { return fb1; }
    void seta0(double) {}
    void seta1(double) {}
    void setb0(double) {}
    void setb1(double) {}

    /// Output gain, stored as is.
    double Gain() const { return fgain; }
    void setGain(double v) { fgain = v; }

    /// Zero frequency in Hz as set (negative values allowed); its write
    /// recomputes b0 and b1. EMathError when that computation faults.
    double FZero() const { return ffzero; }
    void setFZero(double v);

    /// Pole frequency in Hz as set; its write recomputes a0 and a1.
    /// Frequencies above SampFreq / 2.0001 are limited for the computation
    /// only. EMathError when that computation faults.
    double FPole() const { return ffpole; }
    void setFPole(double v);

    /// Sampling frequency in Hz; its write recomputes the pole pair, then the
    /// zero pair, from the stored frequencies. EMathError when that faults
    /// (0 Hz does).
    double SampFreq() const { return fsf; }
    void setSampFreq(double v);

    /// Normalise the gain at the Nyquist frequency instead of at 0 Hz; the
    /// write recomputes the zero pair, then the pole pair.
    bool UnityGainAtHF() const { return funitygainathf; }
    void setUnityGainAtHF(bool v);

    /// Clears the state; call before each new signal. Changing a setting
    /// does not clear it.
    void reset() {
        z0 = 0;
        z1 = 0;
    }

    /// One step: takes one sample, returns one output sample. A step whose
    /// arithmetic overflows or is invalid (an infinite or NaN input, say)
    /// returns 0 and leaves the state as it was, so the signal goes on.
    double filter(double insample) {
        const double w = fa0 * insample + fa1 * z1;
        const double y = fgain * ((w + fb1 * z1) * fb0);
        // A non-finite w makes y non-finite too, so one test covers the step.
        // Selects rather than an early return keep the state in a register
        // when the step is inlined into a loop.
        const bool ok = std::isfinite(y);
        z1 = ok ? w : z1;
        z0 = z1;
        return ok ? y : 0.0;
    }

private:
    void compute_zero();
    void compute_pole();
    /// tan(pi f / fs) with f limited to fs / 2.0001, rounded to double.
    double prewarp(double f) const;

    double fgain = 1;
    double fa0 = 0;
    double fa1 = 0;
    double fb0 = 0;
    double fb1 = 0;
    double fsf = 16000;
    double ffzero = 1000;
    double ffpole = 1000;
    double z0 = 0;
    double z1 = 0;
    bool funitygainathf = false;
};

}  // namespace wavrell
