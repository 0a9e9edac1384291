// The six scroll cursors, drawn in code: black arrows and bars with a white
// rim so that they show on dark and light backgrounds alike.

#include "plot/axis_cursors.h"

#include <QPainter>
#include <QPainterPath>
#include <QTransform>

#include <map>

namespace wavrell {

namespace {

constexpr int side = 32;

QPainterPath up_head(double tip_y) {
    QPainterPath p;
    p.moveTo(15.5, tip_y);
    p.lineTo(9.5, tip_y + 7);
    p.lineTo(21.5, tip_y + 7);
    p.closeSubpath();
    return p;
}

QPainterPath down_head(double tip_y) {
    QPainterPath p;
    p.moveTo(15.5, tip_y);
    p.lineTo(9.5, tip_y - 7);
    p.lineTo(21.5, tip_y - 7);
    p.closeSubpath();
    return p;
}

/// Outline of a vertical-axis cursor. The horizontal cursors are these
/// pictures mirrored at the diagonal (x and y swapped).
QPainterPath vertical_shape(int id) {
    QPainterPath p;
    p.setFillRule(Qt::WindingFill);
    switch (id) {
    case crVUpper:  // bar at row 25, arrow up from it
        p.addRect(7, 24, 17, 3);
        p.addRect(14, 9, 3, 15);
        p.addPath(up_head(2));
        break;
    case crVLower:  // bar at row 6, arrow down from it
        p.addRect(7, 5, 17, 3);
        p.addRect(14, 8, 3, 15);
        p.addPath(down_head(29));
        break;
    default:  // middle: bar at row 15, double arrow through it
        p.addRect(7, 14, 17, 3);
        p.addRect(14, 8, 3, 16);
        p.addPath(up_head(1));
        p.addPath(down_head(30));
        break;
    }
    return p;
}

int vertical_counterpart(int id) {
    switch (id) {
    case crHUpper: return crVLower;   // bar on the left, arrow to the right
    case crHLower: return crVUpper;   // bar on the right, arrow to the left
    case crHMiddle: return crVMiddle;
    default: return id;
    }
}

bool is_horizontal(int id) { return id == crHUpper || id == crHLower || id == crHMiddle; }

QPainterPath shape(int id) {
    QPainterPath p = vertical_shape(vertical_counterpart(id));
    if (is_horizontal(id)) p = QTransform(0, 1, 1, 0, 0, 0).map(p);
    return p;
}

QBitmap render(int id, bool mask) {
    QBitmap bitmap(side, side);
    bitmap.clear();
    QPainter painter(&bitmap);
    const QPainterPath p = shape(id);
    // The mask is the shape grown by a rim; where the mask is set but the
    // shape is not, the cursor shows white.
    if (mask) painter.strokePath(p, QPen(Qt::color1, 3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.fillPath(p, Qt::color1);
    painter.end();
    return bitmap;
}

std::map<int, QCursor>& cursors() {
    static std::map<int, QCursor> table;
    return table;
}

}  // namespace

QPoint axis_cursor_hotspot(int id) {
    switch (id) {
    case crVUpper: return {15, 25};
    case crVLower: return {15, 6};
    case crHUpper: return {6, 15};
    case crHLower: return {25, 15};
    default: return {15, 15};
    }
}

QBitmap axis_cursor_bitmap(int id) { return render(id, false); }
QBitmap axis_cursor_mask(int id) { return render(id, true); }

void register_axis_cursors() {
    auto& table = cursors();
    if (!table.empty()) return;
    for (int id = crVUpper; id <= crHMiddle; ++id) {
        const QPoint hot = axis_cursor_hotspot(id);
        table.emplace(id, QCursor(axis_cursor_bitmap(id), axis_cursor_mask(id), hot.x(), hot.y()));
    }
}

const QCursor& axis_cursor(int id) {
    register_axis_cursors();
    static const QCursor arrow(Qt::ArrowCursor);
    const auto& table = cursors();
    const auto it = table.find(id);
    return it == table.end() ? arrow : it->second;
}

}  // namespace wavrell
