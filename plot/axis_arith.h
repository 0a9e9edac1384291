#pragma once

#include "common/errors.h"

#include <QString>

#include <cmath>
#include <cstdint>

namespace wavrell::axis_arith {

// Floating-point steps of the axis that must fail instead of producing inf
// or NaN: the callers catch the error and fall back as the axis requires.

inline double checked(double x) {
    if (std::isnan(x)) throw EMathError(QStringLiteral("Invalid floating point operation"));
    if (std::isinf(x)) throw EMathError(QStringLiteral("Floating point overflow"));
    return x;
}

inline double divide(double a, double b) {
    if (b == 0) throw EMathError(QStringLiteral("Floating point division by zero"));
    return checked(a / b);
}

inline double log10_of(double x) {
    if (!(x > 0)) throw EMathError(QStringLiteral("Invalid floating point operation"));
    return checked(std::log10(x));
}

/// base^e for base > 0 (any other base is an invalid operation here).
inline double power(double base, double e) {
    if (!(base > 0)) throw EMathError(QStringLiteral("Invalid floating point operation"));
    return checked(std::pow(base, e));
}

/// Integer part toward zero as a 64-bit integer; out of range fails.
inline int64_t trunc64(double x) {
    checked(x);
    if (x >= 9.2e18 || x <= -9.2e18) throw ERangeError(QStringLiteral("Range check error"));
    return static_cast<int64_t>(std::trunc(x));
}

}  // namespace wavrell::axis_arith
