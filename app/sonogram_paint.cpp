// Colours, legend and axes of spectrogram pictures: shared by the lanes of
// the window and the pictures of the command line.
#include "app/sonogram_paint.h"

#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>

namespace wavrell {

namespace {

/// A tick step of 1, 2 or 5 times a power of ten, near `rough`.
double nice_step(double rough) {
    if (!(rough > 0)) return 1;
    const double p = std::pow(10.0, std::floor(std::log10(rough)));
    for (double m : {1.0, 2.0, 5.0})
        if (m * p >= rough) return m * p;
    return 10 * p;
}

}  // namespace

QRgb level_colour(float db, float floordb) {
    struct Stop {
        float at;
        int r, g, b;
    };
    static constexpr std::array<Stop, 7> stops{{{0.00f, 0, 0, 0},
                                                {0.18f, 20, 10, 110},
                                                {0.38f, 120, 20, 160},
                                                {0.58f, 215, 40, 80},
                                                {0.76f, 250, 130, 20},
                                                {0.90f, 255, 220, 60},
                                                {1.00f, 255, 255, 255}}};
    const float u = std::clamp((db - floordb) / -floordb, 0.0f, 1.0f);
    size_t i = 1;
    while (i + 1 < stops.size() && stops[i].at < u) ++i;
    const Stop& a = stops[i - 1];
    const Stop& b = stops[i];
    const float f = (u - a.at) / (b.at - a.at);
    const auto mix = [f](int x, int y) { return int(std::lround(x + (y - x) * f)); };
    return qRgb(mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b));
}

QImage spectrogram_image(const TSpectrogramPicture& picture, float floordb, float gaindb, QColor background) {
    QImage image(std::max(picture.width, 1), std::max(picture.height, 1), QImage::Format_RGB32);
    image.fill(background);
    // One colour per 0.1 dB step of the range, looked up rather than mixed.
    const int steps = int(std::lround(-floordb * 10)) + 1;
    std::vector<QRgb> table(static_cast<size_t>(steps));
    for (int i = 0; i < steps; ++i) table[size_t(i)] = level_colour(floordb + i * 0.1f, floordb);
    for (int y = 0; y < picture.height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < picture.width; ++x) {
            const float v = picture.at(x, y);
            if (std::isnan(v)) continue;
            const long i = std::lround((v + gaindb - floordb) * 10);
            line[x] = table[size_t(std::clamp<long>(i, 0, steps - 1))];
        }
    }
    return image;
}

void draw_level_legend(QPainter& painter, const QRect& bar, float floordb) {
    const QPen text = painter.pen();
    for (int y = bar.top(); y <= bar.bottom(); ++y) {
        const float db = floordb * float(y - bar.top()) / float(std::max(bar.height() - 1, 1));
        painter.setPen(QColor(level_colour(db, floordb)));
        painter.drawLine(bar.left(), y, bar.right(), y);
    }
    painter.setPen(text);
    const QFontMetrics fm = painter.fontMetrics();
    painter.drawText(QPoint(bar.left(), bar.top() - fm.descent() - 4), QStringLiteral("dBFS"));
    // Labels 10, 30 or 60 dB apart, as the bar's height allows.
    float step = 60;
    for (float s : {30.0f, 10.0f})
        if (s * float(bar.height()) / -floordb >= float(fm.height() + 2) && -floordb / s <= 12) step = s;
    for (float db = 0; db >= floordb - 0.01f; db -= step) {
        const int y = bar.top() + int(std::lround(db / floordb * (bar.height() - 1)));
        painter.drawLine(bar.right() + 1, y, bar.right() + 4, y);
        painter.drawText(QPoint(bar.right() + 6, y + fm.ascent() / 2 - 1), QString::number(int(db)));
    }
}

QString frequency_text(double hz, bool compact) {
    if (hz < 1000) return compact ? QString::number(std::lround(hz)) : QStringLiteral("%1 Hz").arg(std::lround(hz));
    const double k = hz / 1000;
    const QString n = QString::number(k, 'f', std::abs(k - std::round(k)) < 0.05 ? 0 : 1);
    return compact ? n + QLatin1Char('k') : n + QStringLiteral(" kHz");
}

QString time_text(double seconds, double step) {
    const int decimals = step >= 1 ? 0 : step >= 0.1 ? 1 : step >= 0.01 ? 2 : 3;
    if (seconds < 60 && step < 60) return QStringLiteral("%1 s").arg(seconds, 0, 'f', decimals);
    const long total = std::lround(seconds);
    const long h = total / 3600, m = total / 60 % 60, s = total % 60;
    if (h > 0) return QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QLatin1Char('0')).arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}

void draw_frequency_axis(QPainter& painter, const QRect& plot, const TFrequencyAxis& axis, bool compact) {
    const QFontMetrics fm = painter.fontMetrics();
    std::vector<double> ticks;
    if (axis.log) {
        for (double decade = 10; decade <= axis.nyquist; decade *= 10)
            for (double m : {1.0, 2.0, 5.0})
                if (m * decade >= axis.low() && m * decade <= axis.nyquist) ticks.push_back(m * decade);
    } else {
        const double step = nice_step(axis.nyquist * 2.5 * fm.height() / std::max(plot.height(), 1));
        for (double f = 0; f <= axis.nyquist + 1e-6; f += step) ticks.push_back(f);
    }
    int lasty = 1 << 30;
    for (double f : ticks) {
        const int y = plot.top() + int(std::lround(axis.y_of(f) * plot.height() / std::max(axis.height, 1)));
        if (y < plot.top() || y > plot.bottom() + 1 || lasty - y < fm.height()) continue;
        lasty = y;
        painter.drawLine(plot.left() - 4, y, plot.left() - 1, y);
        const QString t = frequency_text(f, compact);
        // Labels at the edges stay whole, beside their ticks.
        const int base = std::clamp(y + fm.ascent() / 2 - 1, plot.top() + fm.ascent() - 1, plot.bottom() + 1);
        painter.drawText(QPoint(plot.left() - 6 - fm.horizontalAdvance(t), base), t);
    }
}

void draw_time_axis(QPainter& painter, const QRect& plot, double t0, double t1) {
    if (!(t1 > t0)) return;
    const QFontMetrics fm = painter.fontMetrics();
    const double rough = (t1 - t0) * 6 * fm.horizontalAdvance(QLatin1Char('0')) * 2 / std::max(plot.width(), 1);
    double step = nice_step(rough);
    if (step > 30 && step < 60) step = 60;
    const double first = std::ceil(t0 / step - 1e-9) * step;
    for (double t = first; t <= t1 + 1e-9; t += step) {
        const int x = plot.left() + int(std::lround((t - t0) / (t1 - t0) * plot.width()));
        painter.drawLine(x, plot.bottom() + 1, x, plot.bottom() + 4);
        const QString text = time_text(t, step);
        const int w = fm.horizontalAdvance(text);
        painter.drawText(QPoint(std::clamp(x - w / 2, plot.left() - w / 2, plot.right() - w), plot.bottom() + 6 + fm.ascent()),
                         text);
    }
}

}  // namespace wavrell
