#include "app/waveform_trace.h"

#include "plot/axis.h"

#include <QPainter>

#include <cmath>

namespace wavrell {

namespace {
// Sample index at a column edge: the value under the pixel times the
// sampling frequency, rounded half to even. Far outside the file the
// result only needs to stay outside 0 … n − 1.
int64_t sample_at(const TAxis& xaxis, int pixel, double fs) {
    const double v = std::nearbyint(fs * xaxis.pixel_to_value(pixel));
    if (!(v > -9.0e18)) return INT64_MIN / 2;
    if (!(v < 9.0e18)) return INT64_MAX / 2;
    return static_cast<int64_t>(v);
}
}  // namespace

void draw_trace(QPainter& canvas, int width, const TAxis& xaxis, const TAxis& yaxis, double fs, int64_t n,
                const TRangeQuery& query, double scale, const QColor& color, int64_t shift) {
    canvas.setPen(QPen(color, 1, Qt::SolidLine));
    // Far outside the file the shifted index still stays outside 0 … n − 1.
    int64_t j = sample_at(xaxis, 0, fs) + shift;
    for (int x = 1; x < width; ++x) {
        const int64_t e = sample_at(xaxis, x, fs) + shift;
        double lo = 0, hi = 0;
        if (j <= e && j >= 0 && e <= n - 1 && query(j, e, lo, hi)) {
            const int y1 = yaxis.value_to_pixel(lo * scale);
            const int y2 = yaxis.value_to_pixel(hi * scale);
            // A line that includes both end rows, one pixel when they meet.
            canvas.drawLine(x, std::min(y1, y2), x, std::max(y1, y2));
        }
        j = e;
    }
}

}  // namespace wavrell
