#include "app/toolbar_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>

namespace wavrell {

namespace {

// Every picture is drawn on a 16 x 16 grid; the painter is scaled for the
// larger size so both sizes show the same drawing.
void draw_open(QPainter& p) {
    p.setPen(QPen(QColor(0x70, 0x50, 0x10), 1));
    p.setBrush(QColor(0xF0, 0xC8, 0x50));
    p.drawRect(QRectF(1.5, 4.5, 12, 9));                   // folder body
    p.drawRect(QRectF(1.5, 2.5, 5, 2));                    // tab
    p.setBrush(QColor(0xFF, 0xE0, 0x80));
    QPolygonF flap{{3.5, 7.5}, {15.5, 7.5}, {13.5, 13.5}, {1.5, 13.5}};
    p.drawPolygon(flap);
}

void draw_play(QPainter& p) {
    p.setPen(QPen(QColor(0x10, 0x50, 0x10), 1));
    p.setBrush(QColor(0x30, 0xB0, 0x30));
    QPolygonF tri{{4.5, 2.5}, {13.5, 8}, {4.5, 13.5}};
    p.drawPolygon(tri);
}

void draw_normalize(QPainter& p) {
    // Two bars of different height pulled to one level line.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x40, 0x00, 0xFF));
    p.drawRect(QRectF(2, 5, 4, 10));
    p.setBrush(QColor(0x80, 0x40, 0x40));
    p.drawRect(QRectF(9, 5, 4, 10));
    p.setPen(QPen(Qt::black, 1, Qt::DashLine));
    p.drawLine(QPointF(0.5, 4.5), QPointF(15.5, 4.5));
    p.setPen(QPen(Qt::black, 1));
    p.drawLine(QPointF(11, 1), QPointF(11, 4));
}

void draw_allpass(QPainter& p) {
    // A sine and its phase-shifted copy in red.
    auto wave = [](double phase) {
        QPainterPath path;
        for (int i = 0; i <= 30; ++i) {
            double x = 0.5 + i * 0.5;
            double y = 8 - 5.5 * std::sin(i / 30.0 * 2 * M_PI + phase);
            if (i == 0) path.moveTo(x, y); else path.lineTo(x, y);
        }
        return path;
    };
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0xFF, 0, 0), 1.2));
    p.drawPath(wave(-M_PI / 2));
    p.setPen(QPen(QColor(0x40, 0x00, 0xFF), 1.2));
    p.drawPath(wave(0));
}

// The colour of a file's first trace.
QColor file_color(int number) { return number == 1 ? QColor(0x40, 0x00, 0xFF) : QColor(0x80, 0x40, 0x40); }

// A file's number in bold, centred in `box`.
void draw_number(QPainter& p, const QRectF& box, int number, int pixels, const QColor& color) {
    QFont f;
    f.setPixelSize(pixels);
    f.setBold(true);
    p.setFont(f);
    p.setPen(color);
    p.drawText(box, Qt::AlignCenter, QString::number(number));
}

void draw_play_file(QPainter& p, int number) {
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(file_color(number));
    QPolygonF tri{{1.5, 3.5}, {8.5, 8}, {1.5, 12.5}};
    p.drawPolygon(tri);
    draw_number(p, QRectF(8, 1, 8, 14), number, 11, Qt::black);
}

void draw_open_file(QPainter& p, int number) {
    draw_open(p);
    // A badge with the file's number at the lower right, in the colour of
    // the file's first trace, so that the two commands differ at a glance.
    p.setPen(Qt::NoPen);
    p.setBrush(file_color(number));
    const QRectF badge(8, 6, 8, 10);
    p.drawRect(badge);
    draw_number(p, badge, number, 10, Qt::white);
}

QPixmap render(ToolbarImage image, int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, size > 16);
    p.scale(size / 16.0, size / 16.0);
    switch (image) {
        case ToolbarImage::Open: draw_open(p); break;
        case ToolbarImage::Play: draw_play(p); break;
        case ToolbarImage::Normalize: draw_normalize(p); break;
        case ToolbarImage::Allpass: draw_allpass(p); break;
        case ToolbarImage::PlayFile1: draw_play_file(p, 1); break;
        case ToolbarImage::PlayFile2: draw_play_file(p, 2); break;
        case ToolbarImage::OpenFile1: draw_open_file(p, 1); break;
        case ToolbarImage::OpenFile2: draw_open_file(p, 2); break;
    }
    return pm;
}

}  // namespace

QIcon toolbar_icon(ToolbarImage image) {
    QIcon icon;
    icon.addPixmap(render(image, 16));
    icon.addPixmap(render(image, 32));
    return icon;
}

}  // namespace wavrell
