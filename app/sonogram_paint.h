#pragma once

#include "workspace/spectrogram.h"

#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>

class QPainter;

namespace wavrell {

/// The floors of the "Range" choices, dBFS; the middle one is the default.
inline constexpr float kRangeFloors[] = {-90, -120, -150};
inline constexpr float kRangeFloorDefault = -120;

/// Colour of a level on the scale from `floordb` (black) through blue,
/// magenta, red and yellow to white at 0 dBFS and above.
QRgb level_colour(float db, float floordb);

/// The picture as an image (pixel for pixel), each level raised by
/// `gaindb` first; columns without signal take `background`.
QImage spectrogram_image(const TSpectrogramPicture& picture, float floordb, float gaindb, QColor background);

/// The colour legend: a bar from the floor (bottom) to 0 dBFS (top) in
/// `bar`, its dB labels to the right of it, "dBFS" above it.
void draw_level_legend(QPainter& painter, const QRect& bar, float floordb);

/// The frequency axis of a picture whose rows fill `plot`: ticks and labels
/// ("500 Hz", "2 kHz"; compact: "500", "2k") to the left of it.
void draw_frequency_axis(QPainter& painter, const QRect& plot, const TFrequencyAxis& axis, bool compact = false);

/// The time axis of [t0, t1) seconds across `plot`: ticks and labels below it.
void draw_time_axis(QPainter& painter, const QRect& plot, double t0, double t1);

/// A frequency as the axes and the hover readout write it: "440 Hz",
/// "12.5 kHz".
QString frequency_text(double hz, bool compact = false);
/// A time as the axes write it: "2.5 s", "1:05", "1:02:03".
QString time_text(double seconds, double step);

}  // namespace wavrell
