// Tick set of the axis: linear ticks on a 1-2-5 step, logarithmic ticks on
// the 1..9 x 10^k sequence, musical ticks at the natural notes, and the
// thinning of logarithmic labels so that they do not overlap.

#include "common/number_text.h"
#include "plot/axis.h"
#include "plot/axis_arith.h"

#include <QFontMetrics>

#include <algorithm>
#include <cmath>

namespace wavrell {

using namespace axis_arith;

namespace {

// Pass orders of the label thinning: note classes (note number mod 12) A, C,
// D, E, F, G, B, then the five sharps/flats; leading digits 1, 2, 5, ...
constexpr int note_class_order[12] = {9, 0, 2, 4, 5, 7, 11, 1, 3, 6, 8, 10};
constexpr char digit_order[9] = {'1', '2', '5', '3', '4', '8', '6', '7', '9'};

/// Next value of 1, 2, ..., 9, 10, 20, ..., 90, 100, ... scaled by powers of
/// ten. The factor and the addend keep a value lying a rounding error below
/// a sequence value from stepping to that same value again.
double next_decade_step(double v) {
    const double c = v * 1.0000001;
    const double l = log10_of(c);
    const int64_t d = v < 0.99 ? trunc64(l) - 1 : trunc64(l);
    const double e = power10(static_cast<double>(d));
    const int64_t f = trunc64(divide(v, e) + 1e-10);
    return checked(e * static_cast<double>(f + 1));
}

/// Next natural note above f (A4 = 440 Hz); a frequency exactly on a note
/// steps to the next note.
double next_white_note(double f) {
    const int64_t a = trunc64(freq_to_note(f * 1.0000000001));
    int64_t n = a + 1;
    if (is_black_key(static_cast<int>(n))) n = a + 2;
    return checked(note_to_freq(static_cast<double>(n)));
}

/// Leading nonzero digit of a label, 0 when there is none.
char leading_digit(const QString& text) {
    for (QChar ch : text)
        if (ch >= QLatin1Char('1') && ch <= QLatin1Char('9')) return ch.toLatin1();
    return 0;
}

// A logarithmic tick set never needs more ticks than this (nine per decade
// over the whole double range); a longer sequence means the steps stopped
// growing.
constexpr int max_log_ticks = 9 * 700;

}  // namespace

void TAxis::set_ntickmarks(int n) {
    if (n < 0) n = 0;
    if (n != fntickmarks) {
        fntickmarks = 0;
        if (n > 0) {
            try {
                ftickmarkpositions.assign(static_cast<size_t>(n), 0);
                ftickmarks.assign(static_cast<size_t>(n), 0.0);
                ftickmarktext.resize(n);
            } catch (const std::bad_alloc&) {
                ticksdirty = true;
                return;
            }
        }
        fntickmarks = n;
    }
    ticksdirty = true;
}

int TAxis::nTickMarks() {
    if (ticksdirty) compute_tickmarks();
    return fntickmarks;
}

QString TAxis::tickmark_text(int i) {
    if (ticksdirty) compute_tickmarks();
    if (i < 0 || i >= fntickmarks)
        throw EAxisError(QStringLiteral("Tickmark index out of range:") + QString::number(i));
    return ftickmarktext[i];
}

void TAxis::compute_tickmarks() {
    ticksdirty = false;
    const int n = axis_length();
    double lo = 0, hi = 0;
    try {
        lo = LoValue();
        hi = HiValue();
    } catch (const Exception&) {
        // An integer limit that does not fit: nothing sensible to mark.
        set_ntickmarks(0);
        return;
    }
    if (flogarithmic && (fMusicScale || (lo > 0 && hi / lo > 4)))
        logarithmic_tickmarks(n, lo, hi);
    else if (time_labels_shown())
        time_tickmarks(n, lo, hi);
    else
        linear_tickmarks(n, lo, hi);
}

bool TAxis::time_labels_shown() const {
    if (!ftimelabels || flogarithmic) return false;
    try {
        return HiValue() - LoValue() > 60;
    } catch (const Exception&) {
        return false;
    }
}

namespace {

/// The steps of time labels in seconds: whole seconds, minutes and hours
/// as a clock is read.
constexpr double time_steps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600, 43200};

QString clock_text(double v, bool hours) {
    const long long t = std::llround(std::fabs(v));
    const QString sign = v < 0 && t != 0 ? QStringLiteral("-") : QString();
    if (hours)
        return sign + QStringLiteral("%1:%2:%3")
                          .arg(t / 3600)
                          .arg(t / 60 % 60, 2, 10, QLatin1Char('0'))
                          .arg(t % 60, 2, 10, QLatin1Char('0'));
    return sign + QStringLiteral("%1:%2").arg(t / 60).arg(t % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

void TAxis::time_tickmarks(int n, double lo, double hi) {
    const int wanted = ftickspaceaim > 0 ? std::max(1, (n - 1) / ftickspaceaim) : 3;
    const double raw = (hi - lo) / wanted;
    // The first clock step at least as wide as the plain step; beyond
    // the table whole multiples of half a day.
    double s = raw;
    bool found = false;
    for (double step : time_steps)
        if (step >= raw) {
            s = step;
            found = true;
            break;
        }
    if (!found) s = std::ceil(raw / 43200) * 43200;
    const double t0 = std::ceil(lo / s) * s;
    const double count = std::floor((hi - t0) / s) + 1;
    set_ntickmarks(count > 0 && count < 2.0 * std::max(n, 0) + 10 ? int(count) : 0);
    const bool hours = std::max(std::fabs(lo), std::fabs(hi)) >= 3600;
    for (int i = 0; i < fntickmarks; ++i) {
        const double v = t0 + i * s;
        ftickmarks[i] = v;
        ftickmarkpositions[i] = value_to_pixel(v);
        ftickmarktext[i] = clock_text(v, hours);
    }
}

void TAxis::linear_tickmarks(int n, double lo, double hi) {
    try {
        if (ftickspaceaim == 0)
            set_ntickmarks(3);
        else
            set_ntickmarks(round_int(nice_step(n - 1)) / ftickspaceaim);
    } catch (const Exception&) {
        set_ntickmarks(3);
    }

    double s = 1;
    if (fntickmarks != 0) {
        try {
            s = nice_step(checked(divide(checked(hi - lo), fntickmarks)));
        } catch (const Exception&) {
            s = 1;
        }
    }

    double t0 = 0;
    if (s != 0) {
        try {
            t0 = static_cast<double>(trunc64(divide(lo, s))) * s;
        } catch (const Exception&) {
            t0 = 0;
        }
        if (lo > t0) t0 += s;
    }

    int count = 3;
    if (s != 0) {
        try {
            const int64_t c = trunc64(divide(checked(hi - lo), s)) + 2;
            // With the fallback step of 1 on a short axis a wide range would
            // ask for millions of ticks; more ticks than pixels cannot be
            // told apart, so such a count counts as failed.
            const int64_t most = 2 * static_cast<int64_t>(std::max(n, 0)) + 10;
            if (c < 0 || c > most) throw ERangeError(QStringLiteral("Range check error"));
            count = static_cast<int>(c);
        } catch (const Exception&) {
            count = 3;
        }
    }
    set_ntickmarks(count);

    const double d = fhivalue - flovalue;
    for (int i = 0; i < fntickmarks; ++i) {
        const double v = t0 + i * s;
        ftickmarks[i] = v;
        ftickmarkpositions[i] = value_to_pixel(v);
        // A tick that should be zero but carries rounding residue reads "0".
        if (d == 0 || std::fabs(v / d) < 1e-5)
            ftickmarktext[i] = QStringLiteral("0");
        else
            ftickmarktext[i] = significant_text(8, v);
    }
}

void TAxis::logarithmic_tickmarks(int n, double lo, double hi) {
    const auto step = [this](double v) { return fMusicScale ? next_white_note(v) : next_decade_step(v); };
    int count = 0;
    try {
        double v = lo;
        while (true) {
            const double next = step(v);
            if (!(next > v)) throw EMathError(QStringLiteral("Invalid floating point operation"));
            v = next;
            ++count;
            if (v > hi) break;
            if (count >= max_log_ticks) throw ERangeError(QStringLiteral("Range check error"));
        }
    } catch (const Exception&) {
        // Only reachable with an end that is not positive (a failed store on a
        // musical axis) or beyond the double range: no ticks then.
        set_ntickmarks(0);
        return;
    }
    set_ntickmarks(count);
    double v = lo;
    for (int i = 0; i < fntickmarks; ++i) {
        v = step(v);
        ftickmarks[i] = v;
        ftickmarkpositions[i] = value_to_notclippedpixel(v);
        ftickmarktext[i] = fMusicScale ? freq_to_note_name(v) : significant_text(8, v);
    }
    thin_labels(n);
}

void TAxis::thin_labels(int n) {
    // Nothing to mark on an axis without pixels.
    if (n <= 0) return;
    occupied.assign(static_cast<size_t>(n), false);
    const QFontMetrics fm(font());
    const auto clampn = [n](int x) { return std::min(std::max(x, 0), n - 1); };
    const int passes = fMusicScale ? 12 : 9;
    for (int k = 0; k < passes; ++k) {
        for (int i = 0; i < fntickmarks; ++i) {
            QString& label = ftickmarktext[i];
            if (label.isEmpty()) continue;
            const double v = ftickmarks[i];
            if (fMusicScale) {
                int cls = 0;
                try {
                    cls = round_int(freq_to_note(v) + 120) % 12;
                } catch (const Exception&) {
                    continue;
                }
                if (cls < 0) cls += 12;
                if (cls != note_class_order[k]) continue;
            } else if (leading_digit(label) != digit_order[k]) {
                continue;
            }
            const int p = ftickmarkpositions[i];
            const int h = (is_vertical() ? fm.height() : fm.horizontalAdvance(label)) / 2;
            const int margin = fMusicScale ? 0 : 1;
            const int t0 = clampn(p - h - margin), t1 = clampn(p + h + margin);
            if (fMusicScale && k >= 7) label.clear();
            for (int x = t0; x <= t1 && !label.isEmpty(); ++x)
                if (occupied[x]) label.clear();
            const int w = (label.isEmpty() ? 0 : fm.horizontalAdvance(label)) / 2;
            const int m1 = clampn(p + w);
            for (int x = clampn(p - w); x <= m1; ++x) occupied[x] = true;
        }
    }
}

}  // namespace wavrell
