#pragma once

#include <QColor>

#include <cstdint>
#include <functional>

class QPainter;

namespace wavrell {

class TAxis;

/// Answers "smallest and largest value over sample indices j … e" (both
/// included) of one trace, in the trace's own units; false when there is no
/// value to draw. Every waveform trace is drawn through one of these, so a
/// summary can answer instead of a pass over the samples.
using TRangeQuery = std::function<bool(int64_t j, int64_t e, double& lo, double& hi)>;

/// Draws one trace into a box of the given width: column 0 stays empty; for
/// columns x = 1 … width − 1 the sample indices j … e run from
/// round(fs × value at pixel x − 1) to round(fs × value at pixel x) of the
/// time axis (halves to even); a column whose range is empty or leaves
/// 0 … n − 1 is not drawn; otherwise a vertical line covers the rows of
/// lo × scale … hi × scale on the vertical axis, both rows included.
/// shift moves the file against the time axis: the indices become
/// j + shift … e + shift (file 2 aligned to file 1 is drawn shifted by its
/// offset: its frame k + offset at timeline frame k).
void draw_trace(QPainter& canvas, int width, const TAxis& xaxis, const TAxis& yaxis, double fs, int64_t n,
                const TRangeQuery& query, double scale, const QColor& color, int64_t shift = 0);

}  // namespace wavrell
