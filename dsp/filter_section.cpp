#include "dsp/filter_section.h"

#include "common/errors.h"
#include "common/number_text.h"

namespace wavrell {

namespace {

constexpr long double pi = 3.141592653589793238462643383279502884L;

[[noreturn]] void coefficient_fault(const char* what, double f, double fs) {
    throw EMathError(QStringLiteral("Invalid floating point operation: the %1 of the filter section cannot be "
                                    "computed for %2 Hz at a sampling frequency of %3 Hz")
                         .arg(QLatin1String(what), general_float_text(f), general_float_text(fs)));
}

}  // namespace

TRealFilterSection::TRealFilterSection(QObject* owner) : QObject(owner) {}

double TRealFilterSection::prewarp(double f) const {
    // 2.0001 rather than 2 keeps the tangent away from its pole at fs / 2.
    const double limit = fsf / 2.0001;
    if (f > limit) f = limit;
    return static_cast<double>(std::tan(pi * f / fsf));
}

void TRealFilterSection::compute_zero() {
    const long double c = prewarp(ffzero);
    const double b1 = static_cast<double>((c - 1) / (c + 1));
    const double b0 = static_cast<double>(funitygainathf ? 1 / (1 - static_cast<long double>(b1))
                                                         : 1 / (1 + static_cast<long double>(b1)));
    if (!std::isfinite(b1) || !std::isfinite(b0)) coefficient_fault("zero", ffzero, fsf);
    fb1 = b1;
    fb0 = b0;
}

void TRealFilterSection::compute_pole() {
    const long double c = prewarp(ffpole);
    const double a1 = static_cast<double>((1 - c) / (1 + c));
    const double a0 = static_cast<double>(funitygainathf ? 1 + static_cast<long double>(a1)
                                                         : 1 - static_cast<long double>(a1));
    if (!std::isfinite(a1) || !std::isfinite(a0)) coefficient_fault("pole", ffpole, fsf);
    fa1 = a1;
    fa0 = a0;
}

void TRealFilterSection::setFZero(double v) {
    ffzero = v;
    compute_zero();
}

void TRealFilterSection::setFPole(double v) {
    ffpole = v;
    compute_pole();
}

void TRealFilterSection::setSampFreq(double v) {
    fsf = v;
    compute_pole();
    compute_zero();
}

void TRealFilterSection::setUnityGainAtHF(bool v) {
    funitygainathf = v;
    compute_zero();
    compute_pole();
}

}  // namespace wavrell
