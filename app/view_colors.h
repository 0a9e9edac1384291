#pragma once

#include <QColor>
#include <QPalette>

namespace wavrell {

/// The colours of the waveform and crest factor boxes, taken from the
/// palette of the box they are drawn in: its base colour behind the
/// traces, its text colour for frames, grid lines and the cursor, its
/// highlight for the loop range. On a dark base the trace colours are
/// lightened so that they stay legible.
struct TViewColors {
    explicit TViewColors(const QPalette& palette);

    QColor background;
    QColor frame;      ///< box outline, full-scale grid lines, cursor
    QColor loopfill;   ///< the loop band (translucent)
    QColor loopedge;   ///< its two edges
    bool dark = false;  ///< the base is dark

    /// Trace (and crest bar) colour of box t (0, 1 file 1; 2, 3 file 2).
    QColor trace(int t) const;
    /// The allpassed trace and its crest bar.
    QColor allpass() const;
    /// Outline of the crest box of the file being played.
    QColor played() const;

private:
    QColor lit(const QColor& c) const;
};

}  // namespace wavrell
