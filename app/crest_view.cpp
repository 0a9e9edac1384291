// The crest factor bars of the main window: short-term crest factor of every
// channel at the cursor, with the allpassed signal's bar behind.
#include "app/main_window.h"

#include "workspace/crest_factor.h"
#include "app/paint_box.h"
#include "app/view_colors.h"
#include "workspace/workspace.h"
#include "plot/axis.h"

#include <QPainter>

namespace wavrell {

void TForm19::crestpaint1Paint(TPaintBox* sender, QPainter& canvas) {
    const int t = sender->Tag();
    const int s = t > 1 ? 1 : 0;
    const int W = sender->width(), H = sender->height();
    static const std::vector<trmspeak> empty;
    const TLevelTable& table = ws->levels(s);
    const bool allpass = ws->hasallpass(s);
    // The bars of the moment under the cursor: for an aligned file 2, its
    // own time there.
    const TCrestFactor cf = short_term_crest(size_t(t) < table.size() ? table[size_t(t)] : empty,
                                             ws->slot_time(s, ws->cursorpos()), allpass);

    // Rectangles cover left … right − 1 and top … bottom − 1, outline in the
    // pen colour and the inside in the brush colour.
    auto rectangle = [&canvas](int left, int top, int right, int bottom) {
        if (right - left < 1 || bottom - top < 1) return;
        canvas.drawRect(left, top, right - left - 1, bottom - top - 1);
    };
    const TViewColors colors(sender->palette());
    const bool played = playing() && s == shown_playno();
    canvas.setPen(QPen(played ? colors.played() : colors.frame, 1));
    canvas.setBrush(colors.background);
    rectangle(0, 0, W, H);
    canvas.setPen(QPen(colors.frame, 1));
    // A file at a rate where the allpass cannot be designed has no allpass bar.
    if (ws->showallpass() && allpass) {
        canvas.setBrush(colors.allpass());
        rectangle(2, crestaxis->value_to_pixel(cf.apcrest), W - 6, H);
    }
    canvas.setBrush(colors.trace(t));
    rectangle(6, crestaxis->value_to_pixel(cf.crest), W - 2, H);
    for (double db : {10.0, 20.0}) {
        const int y = crestaxis->value_to_pixel(db);
        canvas.drawLine(0, y, W - 1, y);
    }
}

void TForm19::crestpaint1Click(TPaintBox* sender) {
    if (abx_active()) return abx_play(sender->Tag() / 2);  // A or B, by name
    switch_playback(sender->Tag() / 2);
}

}  // namespace wavrell
