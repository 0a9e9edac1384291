#pragma once

#include <QString>

#include <cmath>
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
/// separator, as many after it as the pattern has (the value is rounded to
/// that many significant digits, trailing zeros stay), then "E" and the
/// exponent with at least as many digits as the pattern has after "E-"
/// ("E+0" always writes the sign, "E-0" only a minus). The "." of the
/// pattern stands for the user's decimal separator unless `separator` is
/// given. Other pattern shapes raise EConvertError.
QString pattern_float_text(const QString& pattern, double x);
QString pattern_float_text(const QString& pattern, double x, QChar separator);

/// The user's decimal separator (from the locale).
QChar decimal_separator();

/// Text to real with the user's decimal separator (an exponent part is
/// accepted, blanks around the number are ignored). Raises EConvertError for
/// text that is not a number or whose value lies beyond the double range
/// (values too small to represent read as 0).
double text_to_float(const QString& text);
double text_to_float(const QString& text, QChar separator);

/// Text to real with "." as decimal separator, whatever the locale; no
/// process-wide state is touched. Raises EConvertError ("Cannot convert
/// empty string to number" for empty text).
double text_dot_to_float(const QString& text);

/// x with at most n significant digits, the shorter of the pattern text and
/// the general text of its value (equal lengths give the general text).
/// User's decimal separator unless `separator` is given. Infinities and NaN
/// give their general text.
QString significant_text(int n, double x);
QString significant_text(int n, double x, QChar separator);

/// 0 for 0, else 1, 2, 5 or 10 times a power of ten near x (the thresholds
/// are sqrt 2, sqrt 10 and sqrt 50 times the decade). Raises EMathError for
/// negative, infinite or NaN x.
double nice_step(double x);

/// Musical notes by MIDI number (69 = A4 = 440 Hz, 60 = C4).
/// is_black_key: ((7 n + 18) rem 12) < 5 with the remainder keeping the sign
/// of the dividend, which names the black keys for every n >= -2.
bool is_black_key(int n);
/// 440 * 2^((n - 69) / 12) Hz; EMathError when the result overflows.
double note_to_freq(double n);
/// 12 log2(f / 440) + 69; EMathError for f <= 0.
double freq_to_note(double f);
/// Name and octave ("A4", "C#5", "Bb3") of the nearest note (halves to the
/// even note number + 4); ERangeError beyond the 32-bit range.
QString note_name(double n);
/// note_name of freq_to_note(f) for f > 0, else "-".
QString freq_to_note_name(double f);

/// Smallest / largest 32-bit integer not below / above x; ERangeError when
/// out of range.
int32_t ceil_int(double x);
int32_t floor_int(double x);

/// Rounds half to even to a 32-bit integer; ERangeError when out of range.
int32_t round_int(double x);

/// 10^x and 2^x through the constants ln 10 and ln 2 (EMathError when the
/// result overflows or x is NaN; results too small to represent are 0);
/// base-10 and base-2 logarithms (EMathError for x <= 0 or NaN); tangent as
/// sine over cosine (EMathError when that is not a finite number).
double power10(double x);
double power2(double x);
double log10_checked(double x);
double log2_checked(double x);
double tangent(double x);

/// Real sample value to a 16-bit sample with triangular dither of +-1 step:
/// x limited to -32767..32766, plus r1 - r2 (two uniform draws in [0,1)),
/// rounded half to even; NaN counts as 0. GUI thread (one shared generator).
int16_t float_to_sample16(double x);

/// Reseeds the dither generator (tests); the program starts from a fixed seed.
void seed_dither(uint64_t seed);

/// Uniform draw number k (0, 1, 2, …) in [0, 1) of the dither generator
/// after seed_dither(seed): the generator is a counter whose value is mixed
/// (splitmix64), so any draw can be taken without the ones before. Any
/// thread.
inline double dither_draw(uint64_t seed, uint64_t k) {
    uint64_t z = seed + (k + 1) * 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) * 0x1.0p-53;
}

/// float_to_sample16 as conversion number `index` (0, 1, 2, …) after
/// seed_dither(seed) gives it: the same value, with the same two draws, so a
/// whole signal converted this way is one draw of the dither that any part
/// of it can be converted again to. Touches no shared state; any thread.
inline int16_t float_to_sample16_at(double x, uint64_t seed, uint64_t index) {
    if (x > 32766) x = 32766;
    if (x < -32767) x = -32767;
    if (std::isnan(x)) x = 0;
    const double r1 = dither_draw(seed, 2 * index);
    const double r2 = dither_draw(seed, 2 * index + 1);
    return static_cast<int16_t>(std::nearbyint(x + r1 - r2));
}

/// Lower case by the locale's rules.
QString lower_text(const QString& text);

}  // namespace wavrell
