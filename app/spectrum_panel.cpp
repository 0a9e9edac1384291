// The average spectra of the visible (or loop) range in one plot.
#include "app/spectrum_panel.h"

#include "app/paint_box.h"
#include "app/sonogram_paint.h"
#include "workspace/frame_source.h"
#include "workspace/spectrogram.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace wavrell {

namespace {
/// Transforms per spectrum at most: a long range is sampled evenly.
constexpr int kMostTransforms = 3000;
}  // namespace

const std::array<QColor, 3> TSpectrumPanel::colours = {QColor(0x40, 0x00, 0xFF), QColor(0xFF, 0x80, 0x00),
                                                       QColor(0x30, 0x30, 0x30)};
const std::array<QString, 3> TSpectrumPanel::names = {QStringLiteral("File 1"), QStringLiteral("File 2"),
                                                      QStringLiteral("Difference")};

TSpectrumPanel::TSpectrumPanel(QWidget* parent) : QDockWidget(QStringLiteral("Spectrum"), parent) {
    setObjectName(QStringLiteral("SpectrumPanel"));
    auto* body = new QWidget(this);
    auto* column = new QVBoxLayout(body);
    column->setContentsMargins(6, 2, 6, 6);
    caption = new QLabel(body);
    caption->setTextFormat(Qt::PlainText);
    plot = new TPaintBox(body);
    plot->setMinimumHeight(160);
    plot->OnPaint = [this](TPaintBox*, QPainter& canvas) { paint_plot(canvas); };
    column->addWidget(caption);
    column->addWidget(plot, 1);
    setWidget(body);
}

TSpectrumPanel::~TSpectrumPanel() { fjob.stop(); }

void TSpectrumPanel::show_spectra(const TSpectrumRequest& request) {
    fready = false;
    caption->setText(request.caption);
    fjob.start([this, request](const std::atomic<bool>& cancel) {
        std::array<std::vector<float>, 3> curves;
        for (size_t k = 0; k < curves.size(); ++k) {
            if (!request.sources[k]) continue;
            try {
                curves[k] = average_spectrum(*request.sources[k], -1, request.from, request.to, request.fftsize,
                                             &cancel, kMostTransforms);
            } catch (const std::exception&) {
                curves[k].clear();  // no memory or no plan: no curve
            }
            for (float& v : curves[k]) v += request.gaindb[k];
            if (cancel) return;
        }
        fjob.deliver(this, [this, curves = std::move(curves), request] {
            fcurves = curves;
            fbinhz = request.sampfreq / request.fftsize;
            fnyquist = request.sampfreq / 2;
            ffloor = request.floordb;
            fready = true;
            plot->update();
        });
    });
}

void TSpectrumPanel::paint_plot(QPainter& canvas) {
    const QRect all = plot->rect();
    canvas.fillRect(all, Qt::white);
    const QRect area = all.adjusted(62, 8, -12, -24);
    canvas.setPen(QColor(0xC8, 0xC8, 0xC8));
    canvas.drawRect(area.adjusted(0, 0, -1, -1));
    if (area.width() < 8 || area.height() < 8 || !(fnyquist > kLogAxisLowHz)) return;
    const TFrequencyAxis f{fnyquist, true, area.width()};  // across: x = width − y_of
    const auto x_of = [&](double hz) { return area.left() + area.width() - f.y_of(hz); };
    const auto y_of = [&](double db) { return area.top() + (db / ffloor) * area.height(); };
    // Grid and labels: decades across, every 10 or 30 dB down.
    const QFontMetrics fm = canvas.fontMetrics();
    for (double decade = 10; decade <= fnyquist; decade *= 10)
        for (double m : {1.0, 2.0, 5.0}) {
            const double hz = m * decade;
            if (hz < kLogAxisLowHz || hz > fnyquist) continue;
            const int x = int(std::lround(x_of(hz)));
            canvas.setPen(QColor(0xE4, 0xE4, 0xE4));
            canvas.drawLine(x, area.top(), x, area.bottom());
            canvas.setPen(Qt::black);
            const QString t = frequency_text(hz);
            canvas.drawText(QPoint(x - fm.horizontalAdvance(t) / 2, area.bottom() + 4 + fm.ascent()), t);
        }
    const float step = ffloor < -100 ? 30 : 10;
    for (float db = 0; db >= ffloor - 0.01f; db -= step) {
        const int y = int(std::lround(y_of(db)));
        canvas.setPen(QColor(0xE4, 0xE4, 0xE4));
        canvas.drawLine(area.left(), y, area.right(), y);
        canvas.setPen(Qt::black);
        const QString t = QStringLiteral("%1 dB").arg(int(db));
        canvas.drawText(QPoint(area.left() - 6 - fm.horizontalAdvance(t), y + fm.ascent() / 2 - 1), t);
    }
    // Each curve: per pixel column the strongest bin of its band.
    canvas.setRenderHint(QPainter::Antialiasing, true);
    int legendx = area.right() - 8;
    for (size_t k = fcurves.size(); k-- > 0;) {
        const std::vector<float>& c = fcurves[k];
        if (c.empty()) continue;
        QPolygonF line;
        for (int x = 0; x < area.width(); ++x) {
            const double lo = f.hz_at(area.width() - x), hi = f.hz_at(area.width() - x - 1);
            const float v = std::clamp(band_level(c, fbinhz, lo, hi), ffloor, 0.0f);
            line << QPointF(area.left() + x + 0.5, y_of(v));
        }
        canvas.setPen(QPen(colours[k], 1.3));
        canvas.drawPolyline(line);
        const int w = fm.horizontalAdvance(names[k]);
        legendx -= w + 26;
        canvas.drawLine(legendx, area.top() + 10, legendx + 16, area.top() + 10);
        canvas.setPen(Qt::black);
        canvas.drawText(QPoint(legendx + 20, area.top() + 10 + fm.ascent() / 2 - 1), names[k]);
    }
}

}  // namespace wavrell
