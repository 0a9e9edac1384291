#include "common/number_text.h"

#include "common/errors.h"

#include <QLocale>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>
#include <string>

namespace wavrell {

namespace {

// Extended precision, like the rest of the decade and note arithmetic, so
// that 10^-1 and friends round to the nearest double. Literals rather than
// start-up computations: other start-up code may already use them.
constexpr long double ln10 = 2.302585092994045684017991454684364208L;
constexpr long double ln2 = 0.693147180559945309417232121458176568L;
constexpr long double sqrt2 = 1.414213562373095048801688724209698079L;
constexpr long double sqrt10 = 3.162277660168379332007221710840195467L;
constexpr long double sqrt50 = 7.071067811865475244008443621048490393L;

// Digits and decimal exponent of x rounded to `digits` significant digits.
// to_chars is independent of the C locale, which the application object sets
// from the environment.
struct Decimal {
    bool negative = false;
    std::string digits;  // exactly `digits` characters, first one nonzero unless x is 0
    int exponent = 0;    // value = d.ddd * 10^exponent
};

Decimal decimal_of(double x, int digits) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific, digits - 1);
    std::string s(buf, res.ptr);
    Decimal d;
    std::size_t i = 0;
    if (s[i] == '-') {
        d.negative = true;
        ++i;
    }
    const std::size_t e = s.find('e', i);
    for (std::size_t k = i; k < e; ++k)
        if (s[k] != '.') d.digits += s[k];
    d.exponent = std::atoi(s.c_str() + e + 1);
    return d;
}

QString special_text(double x) {
    if (std::isnan(x)) return QStringLiteral("NAN");
    return x > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
}

[[noreturn]] void invalid_number(const QString& text) {
    throw EConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
}

// strtod bound to the "C" locale: the process-wide locale stays untouched.
locale_t c_locale() {
    static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

QString int_range_text(double x) {
    return QStringLiteral("Range check error: %1 does not fit a 32-bit integer").arg(general_float_text(x));
}

int32_t checked_int(double r, double x) {
    // NaN fails both comparisons and so is out of range too.
    if (!(r >= -2147483648.0 && r <= 2147483647.0)) throw ERangeError(int_range_text(x));
    return static_cast<int32_t>(r);
}

double checked_power(long double exponent_times_ln, double x, const char* base) {
    if (std::isnan(x))
        throw EMathError(QStringLiteral("Invalid floating point operation: %1 to the power of NAN").arg(QLatin1String(base)));
    const double r = static_cast<double>(std::exp(exponent_times_ln));
    if (std::isinf(r))
        throw EMathError(QStringLiteral("Floating point overflow: %1 to the power of %2")
                             .arg(QLatin1String(base), general_float_text(x)));
    return r;
}

void check_log_argument(double x) {
    if (!(x > 0))
        throw EMathError(
            QStringLiteral("Invalid floating point operation: logarithm of %1").arg(general_float_text(x)));
}

// splitmix64: fast, full period over 2^64 states, good enough for dither.
constexpr uint64_t default_dither_seed = 0x2545F4914F6CDD1DULL;
uint64_t dither_state = default_dither_seed;

inline double next_uniform() {
    const double r = dither_draw(dither_state, 0);
    dither_state += 0x9E3779B97F4A7C15ULL;
    return r;
}

double parse_float(const QString& text, QChar separator);

const char* const note_names[12] = {"Ab", "A", "Bb", "B", "C", "C#", "D", "Eb", "E", "F", "F#", "G"};

}  // namespace

QChar decimal_separator() {
    const QString point = QLocale::system().decimalPoint();
    return point.isEmpty() ? QLatin1Char('.') : point.at(0);
}

QString general_float_text(double x) { return general_float_text(x, decimal_separator()); }

QString general_float_text(double x, QChar separator) {
    if (x == 0) return QStringLiteral("0");
    if (!std::isfinite(x)) return special_text(x);
    Decimal d = decimal_of(x, 15);
    while (d.digits.size() > 1 && d.digits.back() == '0') d.digits.pop_back();
    QString out;
    if (d.negative) out += QLatin1Char('-');
    const int e = d.exponent;
    const int n = static_cast<int>(d.digits.size());
    if (e >= -4 && e < 15) {
        if (e >= 0) {
            for (int i = 0; i <= e; ++i) out += QLatin1Char(i < n ? d.digits[i] : '0');
            if (n > e + 1) {
                out += separator;
                out += QLatin1String(d.digits.c_str() + e + 1);
            }
        } else {
            out += QLatin1Char('0');
            out += separator;
            out += QString(-e - 1, QLatin1Char('0'));
            out += QLatin1String(d.digits.c_str());
        }
    } else {
        out += QLatin1Char(d.digits[0]);
        if (n > 1) {
            out += separator;
            out += QLatin1String(d.digits.c_str() + 1);
        }
        out += QLatin1Char('E');
        out += QString::number(e);
    }
    return out;
}

QString pattern_float_text(const QString& pattern, double x) {
    return pattern_float_text(pattern, x, decimal_separator());
}

QString pattern_float_text(const QString& pattern, double x, QChar separator) {
    // Shape: "0" ["." "0"...] "E" ("-" | "+") "0"...
    int i = 0;
    const int len = static_cast<int>(pattern.size());
    auto unsupported = [&]() -> EConvertError {
        return EConvertError(QStringLiteral("Unsupported number format pattern '%1'").arg(pattern));
    };
    if (i >= len || pattern[i] != QLatin1Char('0')) throw unsupported();
    ++i;
    int decimals = 0;
    bool has_point = false;
    if (i < len && pattern[i] == QLatin1Char('.')) {
        has_point = true;
        ++i;
        while (i < len && pattern[i] == QLatin1Char('0')) {
            ++decimals;
            ++i;
        }
    }
    if (i >= len || (pattern[i] != QLatin1Char('E') && pattern[i] != QLatin1Char('e'))) throw unsupported();
    const QChar letter = pattern[i++];
    if (i >= len || (pattern[i] != QLatin1Char('-') && pattern[i] != QLatin1Char('+'))) throw unsupported();
    const bool always_sign = pattern[i++] == QLatin1Char('+');
    int exponent_digits = 0;
    while (i < len && pattern[i] == QLatin1Char('0')) {
        ++exponent_digits;
        ++i;
    }
    if (exponent_digits == 0 || i != len) throw unsupported();

    if (!std::isfinite(x)) return special_text(x);
    const Decimal d = decimal_of(x, decimals + 1);
    QString out;
    if (d.negative && x != 0) out += QLatin1Char('-');
    out += QLatin1Char(d.digits[0]);
    if (has_point && decimals > 0) {
        out += separator;
        out += QLatin1String(d.digits.c_str() + 1);
    }
    out += letter.toUpper();
    const int e = x == 0 ? 0 : d.exponent;
    if (e < 0)
        out += QLatin1Char('-');
    else if (always_sign)
        out += QLatin1Char('+');
    out += QStringLiteral("%1").arg(std::abs(e), exponent_digits, 10, QLatin1Char('0'));
    return out;
}

double text_to_float(const QString& text) { return text_to_float(text, decimal_separator()); }

double text_to_float(const QString& text, QChar separator) {
    const double v = parse_float(text, separator);
    if (std::isinf(v)) invalid_number(text);
    return v;
}

namespace {

// The number in text, +-infinity when it lies beyond the double range.
double parse_float(const QString& text, QChar separator) {
    const QString t = text.trimmed();
    // Checked here by hand so that only the plain number syntax is accepted
    // (no hexadecimal, "inf" or "nan" that strtod would take).
    std::string ascii;
    int i = 0;
    const int len = static_cast<int>(t.size());
    if (i < len && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-'))) ascii += char(t[i++].unicode());
    int mantissa_digits = 0;
    while (i < len && t[i].isDigit() && t[i].unicode() < 128) {
        ascii += char(t[i++].unicode());
        ++mantissa_digits;
    }
    if (i < len && t[i] == separator) {
        ascii += '.';
        ++i;
        while (i < len && t[i].isDigit() && t[i].unicode() < 128) {
            ascii += char(t[i++].unicode());
            ++mantissa_digits;
        }
    }
    if (mantissa_digits == 0) invalid_number(text);
    if (i < len && (t[i] == QLatin1Char('e') || t[i] == QLatin1Char('E'))) {
        ascii += 'e';
        ++i;
        if (i < len && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-'))) ascii += char(t[i++].unicode());
        int exponent_digits = 0;
        while (i < len && t[i].isDigit() && t[i].unicode() < 128) {
            ascii += char(t[i++].unicode());
            ++exponent_digits;
        }
        if (exponent_digits == 0) invalid_number(text);
    }
    if (i != len) invalid_number(text);
    return strtod_l(ascii.c_str(), nullptr, c_locale());
}

}  // namespace

double text_dot_to_float(const QString& text) {
    if (text.isEmpty()) throw EConvertError(QStringLiteral("Cannot convert empty string to number"));
    return text_to_float(text, QLatin1Char('.'));
}

QString significant_text(int n, double x) { return significant_text(n, x, decimal_separator()); }

QString significant_text(int n, double x, QChar separator) {
    if (!std::isfinite(x)) return special_text(x);
    const QString pattern = n < 2 ? QStringLiteral("0E-0")
                                  : QStringLiteral("0.") + QString(n - 1, QLatin1Char('0')) + QStringLiteral("E-0");
    const QString s = pattern_float_text(pattern, x, separator);
    // Rounding up next to the largest double can leave the range ("1.8E308").
    const double back = parse_float(s, separator);
    if (std::isinf(back)) return s;
    const QString r = general_float_text(back, separator);
    return s.size() < r.size() ? s : r;
}

double nice_step(double x) {
    if (x == 0) return 0;
    if (!std::isfinite(x) || x < 0)
        throw EMathError(QStringLiteral("Invalid floating point operation: logarithm of %1").arg(general_float_text(x)));
    const long double lx = x;
    const long double l = std::log10(lx);
    const long double t = std::trunc(l);
    // trunc, not floor: an exact negative power of ten gets one decade less
    // and so r = 10.
    const long double p = std::exp((l < 0 ? t - 1 : t) * ln10);
    const long double r = lx / p;
    long double m;
    if (r < sqrt2)
        m = 1;
    else if (r < sqrt10)
        m = 2;
    else if (r < sqrt50)
        m = 5;
    else
        m = 10;
    return static_cast<double>(m * p);
}

bool is_black_key(int n) {
    // C++ % keeps the sign of the dividend, which is the intended remainder.
    return (7 * static_cast<int64_t>(n) + 18) % 12 < 5;
}

double note_to_freq(double n) {
    const long double e = (static_cast<long double>(n) - 69) / 12;
    if (std::isnan(e)) throw EMathError(QStringLiteral("Invalid floating point operation: note number NAN"));
    const double f = static_cast<double>(440 * std::exp(e * ln2));
    if (std::isinf(f))
        throw EMathError(QStringLiteral("Floating point overflow: frequency of note %1").arg(general_float_text(n)));
    return f;
}

double freq_to_note(double f) {
    check_log_argument(f);
    return static_cast<double>(12 * std::log2(static_cast<long double>(f) / 440) + 69);
}

QString note_name(double n) {
    const int64_t k = round_int(n + 4);
    // Floor division and modulo agree with "(k + 120) mod 12" and
    // "(k + 104) div 12 - 10" wherever those stay non-negative (n >= -108)
    // and keep name and octave consistent below.
    const int64_t name = ((k % 12) + 12) % 12;
    const int64_t shifted = k + 104;
    const int64_t octave = (shifted >= 0 ? shifted / 12 : -((-shifted + 11) / 12)) - 10;
    return QLatin1String(note_names[name]) + QString::number(octave);
}

QString freq_to_note_name(double f) {
    if (!(f > 0)) return QStringLiteral("-");
    return note_name(freq_to_note(f));
}

int32_t ceil_int(double x) { return checked_int(std::ceil(x), x); }

int32_t floor_int(double x) { return checked_int(std::floor(x), x); }

int32_t round_int(double x) { return checked_int(std::nearbyint(x), x); }

double power10(double x) { return checked_power(x * ln10, x, "10"); }

double power2(double x) { return checked_power(x * ln2, x, "2"); }

double log10_checked(double x) {
    check_log_argument(x);
    return static_cast<double>(std::log10(static_cast<long double>(x)));
}

double log2_checked(double x) {
    check_log_argument(x);
    return static_cast<double>(std::log2(static_cast<long double>(x)));
}

double tangent(double x) {
    const long double lx = x;
    const long double c = std::cos(lx);
    const long double r = std::sin(lx) / c;
    if (c == 0 || !std::isfinite(r))
        throw EMathError(QStringLiteral("Invalid floating point operation: tangent of %1").arg(general_float_text(x)));
    return static_cast<double>(r);
}

int16_t float_to_sample16(double x) {
    if (x > 32766) x = 32766;
    if (x < -32767) x = -32767;
    if (std::isnan(x)) x = 0;
    const double r1 = next_uniform();
    const double r2 = next_uniform();
    return static_cast<int16_t>(std::nearbyint(x + r1 - r2));
}

void seed_dither(uint64_t seed) { dither_state = seed; }

QString lower_text(const QString& text) { return QLocale::system().toLower(text); }

}  // namespace wavrell
