// Painting of the axis in its four positions: caption, tick lines, the
// labels that fit, and the marker line in inverting mode.

#include "plot/axis.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace wavrell {

void TAxis::paintEvent(QPaintEvent*) {
    compute_tickmarks();
    QPainter painter(this);
    const int w = width(), h = height();
    painter.fillRect(rect(), fbackgroundset ? fbackgroundcolor : palette().color(QPalette::Button));
    painter.setFont(font());
    // Text and lines in the palette's colour, legible on a dark theme too.
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::SolidLine));
    markerisdrawn = false;

    const QFontMetrics fm(font());
    QString caption = faxistext;
    if (!caption.isEmpty() && time_labels_shown())
        caption = std::max(std::fabs(LoValue()), std::fabs(HiValue())) >= 3600 ? QStringLiteral("[h:mm:ss]")
                                                                                : QStringLiteral("[m:ss]");
    const int th = fm.height();
    const auto text_out = [&](int x, int y, const QString& text) {
        // Text is placed by its top-left corner, like the rows computed here.
        painter.drawText(x, y + fm.ascent(), text);
    };
    // An empty caption takes no room, so the top label of a vertical axis
    // without a caption may start at row 0.
    const int caption_width = caption.isEmpty() ? 0 : fm.horizontalAdvance(caption);
    const int caption_height = caption.isEmpty() ? 0 : th;
    const int tms = ftickmarksize;

    // The set was rebuilt just above; its labels are exactly what
    // tickmark_text would answer, without rebuilding it once per label.
    if (is_vertical()) {
        const int a = fposition == posleft ? w - tms : 0;
        if (!caption.isEmpty()) text_out(fposition == posleft ? 0 : w - caption_width, 0, caption);
        axistextposition = caption_height;
        for (int i = 0; i < fntickmarks; ++i) {
            const int p = ftickmarkpositions[i];
            const QString& label = ftickmarktext[i];
            // The end point of a tick line is not part of it.
            if (tms > 0) painter.drawLine(a, p, a + tms - 1, p);
            const int y = p - th / 2;
            if (!label.isEmpty() && y >= axistextposition && p + th / 2 < h) {
                const int x = fposition == posright ? tms + 1 : a - tms - fm.horizontalAdvance(label);
                text_out(x, y, label);
            }
        }
        if (fmarkervisible) {
            const int p = value_to_pixel(fmarkervalue);
            // Qt has no inverting pen mode; the Difference composition with
            // white turns every covered pixel into its inverse, which is the
            // picture such a pen leaves.
            painter.setCompositionMode(QPainter::CompositionMode_Difference);
            painter.setPen(QPen(Qt::white, 1));
            painter.drawLine(0, p, w - 1, p);
            markerisdrawn = true;
        }
    } else {
        const int a = fposition == posover ? h - tms : 0;
        if (!caption.isEmpty())
            text_out(w - caption_width, fposition == posover ? a - th : a + tms, caption);
        axistextposition = w - caption_width;
        for (int i = 0; i < fntickmarks; ++i) {
            const int p = ftickmarkpositions[i];
            const QString& label = ftickmarktext[i];
            if (tms > 0) painter.drawLine(p, a, p, a + tms - 1);
            const int lw = fm.horizontalAdvance(label);
            const int x = p - lw / 2;
            if (!label.isEmpty() && x >= 0 && p + lw / 2 < axistextposition)
                text_out(x, fposition == posover ? a - th : a + tms, label);
        }
        if (fmarkervisible) {
            const int p = value_to_pixel(fmarkervalue);
            painter.setCompositionMode(QPainter::CompositionMode_Difference);
            painter.setPen(QPen(Qt::white, 1));
            painter.drawLine(p, 0, p, h - 1);
            markerisdrawn = true;
        }
    }
}

}  // namespace wavrell
