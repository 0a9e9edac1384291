#include "app/view_colors.h"

#include "app/main_window.h"

namespace wavrell {

TViewColors::TViewColors(const QPalette& palette)
    : background(palette.color(QPalette::Base)),
      frame(palette.color(QPalette::Text)),
      dark(palette.color(QPalette::Base).lightness() < 128) {
    loopedge = palette.color(QPalette::Highlight);
    loopfill = loopedge;
    loopfill.setAlpha(dark ? 70 : 40);
}

QColor TViewColors::lit(const QColor& c) const {
    // Brighter in value, and less saturated where the value is at its top
    // already (the blue of file 1).
    return dark ? c.lighter(170) : c;
}

QColor TViewColors::trace(int t) const { return lit(TForm19::linecolors[size_t(t) % 4]); }

QColor TViewColors::allpass() const { return lit(QColor(255, 0, 0)); }

QColor TViewColors::played() const { return lit(QColor(255, 0, 0)); }

}  // namespace wavrell
