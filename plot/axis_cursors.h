#pragma once

#include <QBitmap>
#include <QCursor>
#include <QPoint>

namespace wavrell {

/// The six scroll cursors of the axis (32 x 32, black and white), numbered
/// as the program numbers them. "V" cursors belong to vertical axes, "H"
/// cursors to horizontal ones; "upper" shows a drag of the high end, "lower"
/// one of the low end, "middle" one of the whole range.
enum TAxisCursorId {
    crVUpper = 1201,   ///< upward arrow standing on a horizontal bar
    crVLower = 1202,   ///< downward arrow hanging from a horizontal bar
    crVMiddle = 1203,  ///< vertical double arrow through a horizontal bar
    crHUpper = 1204,   ///< arrow pointing right from a vertical bar on its left
    crHLower = 1205,   ///< arrow pointing left towards a vertical bar on its right
    crHMiddle = 1206,  ///< horizontal double arrow through a vertical bar
};

/// Builds the six cursors once (needs the GUI application); later calls do
/// nothing.
void register_axis_cursors();

/// The cursor with the given identifier (registers them first if needed).
/// Unknown identifiers give the arrow cursor.
const QCursor& axis_cursor(int id);

/// Shape (black where set) and mask (drawn where set) of a cursor, and its
/// hot spot.
QBitmap axis_cursor_bitmap(int id);
QBitmap axis_cursor_mask(int id);
QPoint axis_cursor_hotspot(int id);

}  // namespace wavrell
