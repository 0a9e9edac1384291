// The waveform boxes of the main window: cached pictures of the traces,
// the play cursor on top, mouse seeking and switching, the time axis fit and
// the coupling of each file's two vertical axes.
#include "app/main_window.h"

#include "app/paint_box.h"
#include "app/sonogram_view.h"
#include "app/view_colors.h"
#include "app/view_navigation.h"
#include "workspace/range_source.h"
#include "workspace/error_summary.h"
#include "workspace/range_summary.h"
#include "app/waveform_trace.h"
#include "workspace/workspace.h"
#include "audio/wav_file.h"
#include "common/errors.h"
#include "common/number_text.h"
#include "dsp/filter_section.h"
#include "plot/axis.h"

#include <QAction>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>
#include <utility>

namespace wavrell {

const std::array<QColor, 4> TForm19::linecolors = {QColor(0x40, 0x00, 0xFF), QColor(0x00, 0xC0, 0x00),
                                                   QColor(0x80, 0x40, 0x40), QColor(0xFF, 0x80, 0x00)};

void TForm19::invalidate_views(bool dirty) {
    if (dirty) bmpdirty.fill(true);
    for (TPaintBox* box : PaintBox) box->update();
    for (TPaintBox* box : crestpaint) box->update();
    if (spectrogramview) spectrogramview->views_changed();
    if (navigation) navigation->update_readout();  // the cursor or the loop moved
}

void TForm19::reset_time_axis() {
    // The longer file, file 2 as its alignment places it.
    double T = ws->timeline_duration();
    if (T < 1) T = 1;
    xaxis->setMaxHiValue(T);
    xaxis->setHiValue(xaxis->MaxHiValue());
    xaxis->setLoValue(0);
    xaxis->setMinLoValue(0);
    invalidate_views(true);
}

bool TForm19::playing() const { return playaction->isChecked(); }

TRangeQuery TForm19::trace_query(int t, TraceKind kind) {
    const int s = t / 2, c = t % 2;
    const TWav& w = *ws->wav(s);
    const TSampleRow& row = w.samples()[size_t(c)];
    const double f = ws->filefactor(s);
    // A file 2 whose polarity is corrected is drawn negated.
    const int sign = ws->slot_sign(s);
    if (kind == TraceKind::Error) {
        // The error of normalization, in sample units: from the slot's error
        // summaries (one draw of the dither, kept until the factor or the
        // file changes) where they are built, else a pass with fresh dither.
        const std::vector<TErrorSummary>* errors = use_range_summaries ? ws->error_summaries(s) : nullptr;
        if (errors && size_t(c) < errors->size()) {
            const TErrorSummary& summary = (*errors)[size_t(c)];
            // A negated file's error is the negated error (one draw of
            // the dither either way).
            return [&row, &summary, sign](int64_t j, int64_t e, double& lo, double& hi) {
                const bool any = summary.minmax(row.data(), j, e, lo, hi);
                if (sign < 0) std::tie(lo, hi) = std::pair(-hi, -lo);
                return any;
            };
        }
        return [&row, f, sign](int64_t j, int64_t e, double& lo, double& hi) {
            lo = hi = float_to_sample16(sign * row[size_t(j)] * f) / f - sign * row[size_t(j)];
            for (int64_t i = j + 1; i <= e; ++i) {
                const double v = float_to_sample16(sign * row[size_t(i)] * f) / f - sign * row[size_t(i)];
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
            return true;
        };
    }
    // Main and allpass traces come from the load-time summaries where they
    // fit the drawing's filter; the straight passes give the same values.
    const std::vector<TChannelSummary>& summaries = ws->summaries(s);
    const bool summarized = use_range_summaries && size_t(c) < summaries.size();
    std::shared_ptr<TRangeSource> source;
    if (kind == TraceKind::Main) {
        if (summarized) source = std::make_shared<TRawSummarySource>(row, summaries[size_t(c)]);
        else source = std::make_shared<TRawStraightSource>(row);
    } else {
        // No allpass trace where the allpass cannot be designed at the
        // file's rate (the measurement has none either).
        if (!ws->hasallpass(s)) return {};
        try {
            apfilter->setSampFreq(w.sampfreq());
        } catch (const EMathError&) {
            return {};
        }
        apfilter->reset();
        if (summarized && summaries[size_t(c)].step() == TSectionStep::of(*apfilter))
            source = std::make_shared<TAllpassSummarySource>(row, summaries[size_t(c)]);
        else
            source = std::make_shared<TAllpassStraightSource>(row, *apfilter);
    }
    source->setFactor(f * sign);
    return [source](int64_t j, int64_t e, double& lo, double& hi) { return source->minmax(j, e, lo, hi); };
}

void TForm19::redraw_picture(int t) {
    const int s = t / 2, c = t % 2;
    TPaintBox* box = PaintBox[t];
    TAxis* ax = yaxis[t];
    const int W = box->width(), H = box->height();
    QImage& pic = bmp[t];
    const TWav& w = *ws->wav(s);
    const int64_t n = w.nsamples();
    bool traced = n > 0 && c < w.nchans();
    // The error trace is drawn from summaries built on a worker: until they
    // are there the old picture stays (a picture of the wrong size gives way
    // to an empty box), and the box is redrawn once they are.
    if (traced && ws->showerror() && use_range_summaries && !ws->error_summaries(s)) {
        if (pic.size() == QSize(W, H)) return;
        traced = false;
    }
    if (pic.size() != QSize(W, H)) pic = QImage(std::max(W, 1), std::max(H, 1), QImage::Format_RGB32);
    QPainter canvas(&pic);
    const TViewColors colors(box->palette());
    canvas.setPen(QPen(colors.frame, 1));
    canvas.setBrush(colors.background);
    canvas.drawRect(0, 0, W - 1, H - 1);
    canvas.setPen(QPen(colors.frame, 1, Qt::DotLine));
    for (double v : {1.0, -1.0}) {
        const int y = ax->value_to_pixel(v);
        canvas.drawLine(0, y, W - 1, y);
    }
    if (traced) {
        const double fs = w.sampfreq();
        // File 2 aligned to file 1: its frame k + offset at timeline frame k.
        const int64_t shift = ws->slot_offset(s);
        // Main and allpass sources give full-scale values with the factor
        // applied; the error trace gives sample units.
        if (ws->showallpass() && !ws->showerror())
            if (const TRangeQuery allpass = trace_query(t, TraceKind::Allpass))
                draw_trace(canvas, W, *xaxis, *ax, fs, n, allpass, 1.0, colors.allpass(), shift);
        if (ws->showerror())
            draw_trace(canvas, W, *xaxis, *ax, fs, n, trace_query(t, TraceKind::Error), 1.0 / 32768.0,
                       colors.trace(t), shift);
        else
            draw_trace(canvas, W, *xaxis, *ax, fs, n, trace_query(t, TraceKind::Main), 1.0, colors.trace(t), shift);
    }
    bmpdirty[t] = false;
}

void TForm19::PaintBox1Paint(TPaintBox* sender, QPainter& canvas) {
    const int t = sender->Tag();
    if (t < 0 || t >= static_cast<int>(bmp.size())) return;
    if (spectrogramview && spectrogramview->on()) {
        spectrogramview->paint(t, canvas);
    } else {
        if (bmpdirty[t]) redraw_picture(t);
        canvas.drawImage(0, 0, bmp[t]);
    }
    const TViewColors colors(sender->palette());
    if (loophi() > looplo()) {
        // The loop range: a light band with its two edges.
        const int x0 = xaxis->value_to_pixel(looplo()), x1 = xaxis->value_to_pixel(loophi());
        canvas.fillRect(QRect(QPoint(std::min(x0, x1), 0), QPoint(std::max(x0, x1), sender->height() - 1)),
                        colors.loopfill);
        canvas.setPen(QPen(colors.loopedge, 1));
        for (int x : {x0, x1}) canvas.drawLine(x, 0, x, sender->height() - 1);
    }
    const int s = t / 2;
    const int x = xaxis->value_to_pixel(ws->cursorpos());
    // While the blind test plays X, both files' cursors look alike.
    const bool dotted = playing() && shown_playno() >= 0 && s != shown_playno();
    // On a spectrogram, whose floor is black, the cursor is white.
    const bool spectrogram = spectrogramview && spectrogramview->on();
    canvas.setPen(QPen(spectrogram ? QColor(Qt::white) : colors.frame, 1, dotted ? Qt::DotLine : Qt::SolidLine));
    canvas.drawLine(x, 0, x, sender->height() - 1);
}

void TForm19::PaintBox1MouseDown(TPaintBox* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
    const int s = sender->Tag() / 2;
    // Shift+drag marks the loop range; a Shift+click alone clears it.
    floopdrag = button == Qt::LeftButton && (shift & Qt::ShiftModifier);
    if (floopdrag) {
        floopanchor = xaxis->pixel_to_value(x);
        setLoop(floopanchor, floopanchor);
        return;
    }
    // While the blind test plays X a click seeks in either file: a switch
    // here or a seek there would tell which file X is.
    if (s != ws->wavplayno() && shown_playno() >= 0) {
        switch_playback(ws->wavplayno() == 1 ? 0 : 1);
        return;
    }
    PaintBox1MouseMove(sender, Qt::MouseButtons(button), shift, x, y);
}

void TForm19::PaintBox1MouseMove(TPaintBox*, Qt::MouseButtons buttons, Qt::KeyboardModifiers, int x, int) {
    if (!(buttons & Qt::LeftButton)) return;
    if (floopdrag) {
        const double v = xaxis->pixel_to_value(x);
        setLoop(std::min(floopanchor, v), std::max(floopanchor, v));
        return;
    }
    ws->setCursorpos(xaxis->pixel_to_value(x));
    // A drag far past the box (a long file at a high rate) could ask for a
    // frame beyond 32 bits: the play position stays within the files, from
    // 0 to the end of the time line, which holds file 2 where its alignment
    // puts it (in frames of the file being played).
    const double fs = ws->wav(ws->wavplayno())->sampfreq();
    const double end =
        std::min(std::nearbyint(fs * ws->timeline_duration()), double(std::numeric_limits<int32_t>::max()));
    const double frame = std::nearbyint(fs * ws->cursorpos());
    ws->setPlaycount(round_int(std::isnan(frame) ? 0.0 : std::clamp(frame, 0.0, end)));
}

void TForm19::xaxisScaleChanged() { invalidate_views(true); }

void TForm19::yaxisScaleChanged(int t) {
    // The two channels of one file share a vertical scale; the partner's own
    // notification marks its box, and the axis guard ends the exchange.
    PaintBox[t]->update();
    bmpdirty[t] = true;
    TAxis* partner = yaxis[t ^ 1];
    partner->set_hilovalues(yaxis[t]->LoValue(), yaxis[t]->HiValue());
}

}  // namespace wavrell
