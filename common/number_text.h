#pragma once

#include <QString>

#include <cstdint>

namespace wavrell {

// Number and text utilities: text conversions for axis labels, reading real
// numbers with a fixed ".", musical note arithmetic (A4 = 440 Hz, MIDI note
// numbers), the 1-2-5 step rounding of axis ticks, checked integer rounding
// and dithered conversion of real sample values to 16-bit samples.
// Arithmetic failures raise EMathError, range failures ERangeError,
// conversion failures EConvertError (common/errors.h).

/// General float text: 15 significant digits, trailing zeros removed, fixed
/// notation for 1e-4 <= |x| < 1e15, else "1.5E-7" / "1E20". Uses the user's
/// decimal separator unless `separator` is given.
QString general_float_text(double x);
QString general_float_text(double x, QChar separator);

/// Pattern float text for patterns like "0.00E-0": one digit before the
/// separator, as many after it as the pattern has, exponent with at least
/// one digit and a sign only when negative. User's decimal separator.
QString pattern_float_text(const QString& pattern, double x);

/// The user's decimal separator (from the locale).
QChar decimal_separator();

/// Text to real with the user's decimal separator (an exponent part is
/// accepted). Raises EConvertError for text that is not a number.
double text_to_float(const QString& text);

/// Text to real with "." as decimal separator, whatever the locale; no
/// process-wide state is touched. Raises EConvertError ("Cannot convert
/// empty string to number" for empty text).
double text_dot_to_float(const QString& text);

/// x with at most n significant digits, the shorter of the pattern text and
/// the general text of its value.
QString significant_text(int n, double x);

/// 0 for 0, else 1, 2, 5 or 10 times a power of ten near x. Raises EMathError
/// for negative x.
double nice_step(double x);

bool is_black_key(int n);
double note_to_freq(double n);
double freq_to_note(double f);
QString note_name(double n);
QString freq_to_note_name(double f);

/// Smallest / largest 32-bit integer not below / above x; ERangeError when
/// out of range.
int32_t ceil_int(double x);
int32_t floor_int(double x);

/// Rounds half to even to a 32-bit integer; ERangeError when out of range.
int32_t round_int(double x);

/// 10^x and 2^x through the constants ln 10 and ln 2; base-10 and base-2
/// logarithms (EMathError for x <= 0); tangent as sine over cosine.
double power10(double x);
double power2(double x);
double log10_checked(double x);
double log2_checked(double x);
double tangent(double x);

/// Real sample value to a 16-bit sample with triangular dither of +-1 step:
/// x limited to -32767..32766, plus r1 - r2 (two uniform draws in [0,1)),
/// rounded half to even. GUI thread (one shared generator).
int16_t float_to_sample16(double x);

/// Reseeds the dither generator (tests); the program starts from a fixed seed.
void seed_dither(uint64_t seed);

/// Lower case by the locale's rules.
QString lower_text(const QString& text);

}  // namespace wavrell
