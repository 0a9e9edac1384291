// The lanes as spectrograms, their frequency axes and legend, the hover
// readout, the "View" menu's spectrogram commands and the spectrum panel's
// requests.
#include "app/sonogram_view.h"

#include "app/difference_view.h"
#include "app/main_window.h"
#include "app/paint_box.h"
#include "app/panel.h"
#include "app/sonogram_paint.h"
#include "app/spectrum_panel.h"
#include "workspace/difference.h"
#include "workspace/frame_source.h"
#include "workspace/workspace.h"
#include "audio/wav_file.h"
#include "common/parallel_jobs.h"
#include "plot/axis.h"

#include <QAction>
#include <QActionGroup>
#include <QEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

namespace wavrell {

namespace {
/// Width of the colour legend right of the lanes, pixels.
constexpr int kLegendWidth = 52;
/// Pictures kept per lane: the zoom levels gone through last.
constexpr size_t kPicturesPerLane = 8;
/// Lanes without a picture are drawn in this colour.
const QColor kNoSignal(236, 236, 236);
}  // namespace

TSpectrogramView::TSpectrogramView(TForm19& window) : QObject(&window), fwindow(window), ffloor(kRangeFloorDefault) {
    spectrogramaction = new QAction(QStringLiteral("&Spectrogram"), this);
    spectrogramaction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    spectrogramaction->setCheckable(true);
    connect(spectrogramaction, &QAction::toggled, this, [this] { settings_changed(); });
    logfreqaction = new QAction(QStringLiteral("&Logarithmic frequency"), this);
    logfreqaction->setCheckable(true);
    connect(logfreqaction, &QAction::toggled, this, [this](bool v) { setLogFrequency(v); });
    fftgroup = new QActionGroup(this);
    for (int n = kFftSizeMin; n <= kFftSizeMax; n *= 2) {
        QAction* a = fftgroup->addAction(QString::number(n));
        a->setCheckable(true);
        a->setChecked(n == fsettings.fftsize);
        connect(a, &QAction::triggered, this, [this, n] { setFftSize(n); });
    }
    rangegroup = new QActionGroup(this);
    for (float floor : kRangeFloors) {
        QAction* a = rangegroup->addAction(QStringLiteral("%1 dB").arg(int(floor)));
        a->setCheckable(true);
        a->setChecked(floor == ffloor);
        connect(a, &QAction::triggered, this, [this, floor] { setFloor(floor); });
    }
    spectrumaction = new QAction(QStringLiteral("S&pectrum"), this);
    spectrumaction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_G));
    spectrumaction->setCheckable(true);
    connect(spectrumaction, &QAction::toggled, this, [this](bool show) {
        if (show && !spectrumpanel) {
            spectrumpanel = new TSpectrumPanel(&fwindow);
            fwindow.addDockWidget(Qt::BottomDockWidgetArea, spectrumpanel);
            connect(spectrumpanel->toggleViewAction(), &QAction::toggled, spectrumaction, &QAction::setChecked);
        }
        if (spectrumpanel) spectrumpanel->setVisible(show);
        views_changed();
    });
    for (QAction* a : {spectrogramaction, spectrumaction}) fwindow.addAction(a);

    for (int t = 0; t < 4; ++t) {
        auto* ax = new TPaintBox(fwindow.Panel1);
        ax->hide();
        ax->OnPaint = [this, t](TPaintBox*, QPainter& canvas) { paint_frequency_axis(t, canvas); };
        faxes[size_t(t)] = ax;
        fwindow.PaintBox[size_t(t)]->setMouseTracking(true);
        fwindow.PaintBox[size_t(t)]->installEventFilter(this);
    }
    if (TPaintBox* lane = fwindow.differenceview ? fwindow.differenceview->lane : nullptr) {
        lane->setMouseTracking(true);
        lane->installEventFilter(this);
    }
    for (TPaintBox*& legend : flegends) {
        legend = new TPaintBox(fwindow.Panel1);
        legend->hide();
        legend->OnPaint = [this](TPaintBox* box, QPainter& canvas) { paint_legend(box, canvas); };
    }
}

TSpectrogramView::~TSpectrogramView() {
    fjob.stop();
    if (spectrumpanel) spectrumpanel->stop();
}

void TSpectrogramView::add_to_menu(QMenu* view) {
    view->addAction(spectrogramaction);
    view->addAction(logfreqaction);
    fftmenu = view->addMenu(QStringLiteral("&FFT size"));
    fftmenu->addActions(fftgroup->actions());
    rangemenu = view->addMenu(QStringLiteral("&Range"));
    rangemenu->addActions(rangegroup->actions());
    view->addSeparator();
    view->addAction(spectrumaction);
}

bool TSpectrogramView::on() const { return spectrogramaction->isChecked(); }

void TSpectrogramView::setFftSize(int n) {
    fsettings.fftsize = std::clamp(n, kFftSizeMin, kFftSizeMax);
    for (QAction* a : fftgroup->actions()) a->setChecked(a->text().toInt() == fsettings.fftsize);
    settings_changed();
}

void TSpectrogramView::setLogFrequency(bool v) {
    fsettings.logfreq = v;
    logfreqaction->setChecked(v);
    settings_changed();
}

void TSpectrogramView::setFloor(float db) {
    ffloor = db;
    for (QAction* a : rangegroup->actions()) a->setChecked(a->text() == QStringLiteral("%1 dB").arg(int(db)));
    settings_changed();
}

void TSpectrogramView::settings_changed() {
    if (!on()) {
        fjob.stop();  // nothing will show its pictures
        fbusy = false;
    }
    fwindow.Panel1Resize();  // lays the lanes out for the legend or without it
    for (TPaintBox* b : faxes) b->update();
    for (TPaintBox* b : flegends) b->update();
    views_changed();
}

TPaintBox* TSpectrogramView::box_of(int t) const {
    return t < 4 ? fwindow.PaintBox[size_t(t)] : fwindow.differenceview->lane;
}

bool TSpectrogramView::has_signal(int t) const {
    if (t == 4) {
        const TDifferenceView* dv = fwindow.differenceview;
        const TDifference* d = dv ? dv->difference() : nullptr;
        return d && dv->lane_shown() && d->figures().overlap && !d->figures().identical && d->channels() > 0;
    }
    const TWav& w = *fwindow.workspace().wav(t / 2);
    return w.nsamples() > 0 && t % 2 < w.nchans();
}

TSpectrogramView::Key TSpectrogramView::key_of(int t) const {
    const TPaintBox* box = box_of(t);
    Key k;
    k.t0 = fwindow.xaxis->LoValue();
    k.t1 = fwindow.xaxis->HiValue();
    k.width = std::max(box->width(), 1);
    k.height = std::max(box->height(), 1);
    k.settings = fsettings;
    k.offset = t < 4 ? fwindow.workspace().slot_offset(t / 2) : 0;
    k.generation = fgeneration[size_t(t / 2)];
    return k;
}

TFrequencyAxis TSpectrogramView::axis_of(int t) const {
    const TDifference* d = fwindow.differenceview ? fwindow.differenceview->difference() : nullptr;
    const double fs = t < 4 ? fwindow.workspace().wav(t / 2)->sampfreq() : d ? d->sampfreq() : 0;
    return {fs / 2.0, fsettings.logfreq, std::max(box_of(t)->height(), 1)};
}

float TSpectrogramView::gain_db(int t) const {
    if (t == 4) return 0;  // the difference as taken, at file 1's scale
    const double f = fwindow.workspace().filefactor(t / 2);
    return f > 0 ? float(20 * std::log10(f)) : 0.0f;
}

const TSpectrogramView::Picture* TSpectrogramView::find(int t, const Key& key) const {
    for (const Picture& p : fpictures[size_t(t)])
        if (p.key == key) return &p;
    return nullptr;
}

bool TSpectrogramView::complete() const {
    for (int t = 0; t < kLanes; ++t)
        if (has_signal(t) && !find(t, key_of(t))) return false;
    return true;
}

size_t TSpectrogramView::cache_bytes() const {
    size_t n = 0;
    for (const auto& lane : fpictures)
        for (const Picture& p : lane) n += p.levels.bytes() + size_t(p.image.sizeInBytes());
    return n;
}

void TSpectrogramView::request() {
    std::array<Key, kLanes> keys;
    std::array<bool, kLanes> wanted{};
    bool any = false;
    for (int t = 0; t < kLanes; ++t) {
        keys[size_t(t)] = key_of(t);
        wanted[size_t(t)] = has_signal(t) && !find(t, keys[size_t(t)]);
        any = any || wanted[size_t(t)];
    }
    if (!any || (fbusy && keys == fpending)) return;
    fpending = keys;
    fbusy = true;
    // The sources read the stores on the worker: samples_changing stops it
    // before a store changes.
    std::array<std::shared_ptr<TFrameSource>, kLanes> sources;
    std::array<TFrequencyAxis, kLanes> axes;
    for (int t = 0; t < kLanes; ++t) {
        if (!wanted[size_t(t)]) continue;
        if (t == 4) sources[size_t(t)] = std::make_shared<TDifferenceFrameSource>(fwindow.differenceview->shared_difference());
        else sources[size_t(t)] = std::make_shared<TWavFrameSource>(*fwindow.workspace().wav(t / 2), keys[size_t(t)].offset);
        axes[size_t(t)] = axis_of(t);
    }
    fjob.start([this, keys, sources, axes](const std::atomic<bool>& cancel) {
        for (int t = 0; t < kLanes; ++t) {
            if (!sources[size_t(t)]) continue;
            const Key& k = keys[size_t(t)];
            auto picture = std::make_shared<TSpectrogramPicture>();
            try {
                if (!spectrogram_picture(*sources[size_t(t)], t < 4 ? t % 2 : -1, k.t0, k.t1, k.width, axes[size_t(t)],
                                         k.settings.fftsize, *picture, &cancel, compute_threads()))
                    return;
            } catch (const std::exception&) {
                picture->db.assign(picture->db.size(), std::nanf(""));  // no memory: an empty lane
            }
            fjob.deliver(this, [this, t, k, picture] {
                auto& lane = fpictures[size_t(t)];
                // Only the picture in use keeps its colours; the others are
                // coloured again (quickly) should they be shown again.
                for (Picture& p : lane) p.image = QImage();
                lane.push_front({k, std::move(*picture), {}, 0, 0});
                if (lane.size() > kPicturesPerLane) lane.pop_back();
                ++fmade;
                box_of(t)->update();
            });
        }
        fjob.deliver(this, [this] {
            fbusy = false;
            if (on()) request();  // the view may have moved on meanwhile
        });
    });
}

void TSpectrogramView::paint(int t, QPainter& canvas) {
    TPaintBox* box = box_of(t);
    const int W = box->width(), H = box->height();
    canvas.fillRect(0, 0, W, H, kNoSignal);
    if (!has_signal(t)) return;
    const Key key = key_of(t);
    auto& lane = fpictures[size_t(t)];
    auto it = std::find_if(lane.begin(), lane.end(), [&](const Picture& p) { return p.key == key; });
    if (it != lane.end()) {
        if (it != lane.begin()) std::rotate(lane.begin(), it, it + 1);  // the newest in use
        Picture& p = lane.front();
        const float gain = gain_db(t);
        if (p.image.isNull() || p.imagegain != gain || p.imagefloor != ffloor) {
            p.image = spectrogram_image(p.levels, ffloor, gain, kNoSignal);
            p.imagegain = gain;
            p.imagefloor = ffloor;
        }
        canvas.drawImage(0, 0, p.image);
    } else {
        request();
        // Meanwhile the newest picture of this lane, scaled to the view.
        if (!lane.empty() && key.t1 > key.t0) {
            Picture& p = lane.front();
            if (p.image.isNull()) p.image = spectrogram_image(p.levels, ffloor, gain_db(t), kNoSignal);
            const double span = key.t1 - key.t0;
            const QRectF target((p.key.t0 - key.t0) / span * W, 0, (p.key.t1 - p.key.t0) / span * W, H);
            canvas.drawImage(target, p.image);
        }
    }
    if (fhoverlane == t && !freadout.isEmpty()) {
        const QFontMetrics fm = canvas.fontMetrics();
        const QRect r(4, 3, fm.horizontalAdvance(freadout) + 8, fm.height() + 2);
        canvas.fillRect(r, QColor(255, 255, 255, 210));
        canvas.setPen(Qt::black);
        canvas.drawText(r, Qt::AlignCenter, freadout);
    }
}

bool TSpectrogramView::paint_difference(QPainter& canvas) {
    if (!on() || !has_signal(4)) return false;
    paint(4, canvas);
    return true;
}

void TSpectrogramView::difference_changed() {
    ++fgeneration[2];
    fpictures[4].clear();
    fspectrumkey.clear();
    views_changed();
}

void TSpectrogramView::layout() {
    const bool show = on();
    for (int t = 0; t < 4; ++t) {
        fwindow.yaxis[size_t(t)]->setVisible(!show);
        faxes[size_t(t)]->setVisible(show);
        if (show) faxes[size_t(t)]->setGeometry(fwindow.yaxis[size_t(t)]->geometry());
    }
    for (TPaintBox* b : flegends) b->setVisible(show);
    if (!show) return;
    TAxis* x = fwindow.xaxis;
    const int w = std::max(0, x->width() - kLegendWidth);
    x->setGeometry(x->x(), x->y(), w, x->height());
    for (TPaintBox* b : fwindow.PaintBox) b->setGeometry(b->x(), b->y(), w, b->height());
    for (int s = 0; s < 2; ++s) {
        const QRect top = fwindow.PaintBox[size_t(2 * s)]->geometry(), bottom = fwindow.PaintBox[size_t(2 * s + 1)]->geometry();
        flegends[size_t(s)]->setGeometry(top.right() + 1, top.top(), kLegendWidth, bottom.bottom() - top.top() + 1);
    }
}

void TSpectrogramView::paint_legend(TPaintBox* box, QPainter& canvas) {
    canvas.fillRect(box->rect(), fwindow.Panel1->palette().window());
    canvas.setPen(fwindow.Panel1->palette().windowText().color());
    const int top = canvas.fontMetrics().height() + 2;
    draw_level_legend(canvas, QRect(6, top, 10, std::max(box->height() - top - 6, 2)), ffloor);
}

void TSpectrogramView::paint_frequency_axis(int t, QPainter& canvas) {
    TPaintBox* ax = faxes[size_t(t)];
    canvas.fillRect(ax->rect(), fwindow.Panel1->palette().window());
    if (!has_signal(t)) return;
    canvas.setPen(fwindow.Panel1->palette().windowText().color());
    QFont small = canvas.font();
    if (small.pixelSize() > 0) small.setPixelSize(std::max(8, small.pixelSize() * 9 / 10));
    else small.setPointSizeF(small.pointSizeF() * 0.9);
    canvas.setFont(small);
    draw_frequency_axis(canvas, QRect(ax->width(), 0, 1, ax->height()), axis_of(t), true);
}

void TSpectrogramView::views_changed() {
    if (spectrumpanel && spectrumpanel->isVisible()) {
        // The loop range when one is set, else the visible range.
        TWorkspace& ws = fwindow.workspace();
        const TWav* first = nullptr;
        for (int s = 0; s < 2; ++s)
            if (!first && ws.wav(s)->nsamples() > 0) first = ws.wav(s);
        TSpectrumRequest r;
        const bool loop = fwindow.loophi() > fwindow.looplo();
        const double lo = loop ? fwindow.looplo() : fwindow.xaxis->LoValue();
        const double hi = loop ? fwindow.loophi() : fwindow.xaxis->HiValue();
        r.caption = QStringLiteral("%1 %2 – %3")
                        .arg(loop ? QStringLiteral("Loop range") : QStringLiteral("Visible range"),
                             time_text(std::max(lo, 0.0), 0.001), time_text(std::max(hi, 0.0), 0.001));
        if (first) {
            r.sampfreq = first->sampfreq();
            r.from = std::llround(lo * r.sampfreq);
            r.to = std::llround(hi * r.sampfreq);
            r.fftsize = fsettings.fftsize;
            r.floordb = ffloor;
            for (int s = 0; s < 2; ++s) {
                if (ws.wav(s)->nsamples() == 0) continue;
                r.sources[size_t(s)] = std::make_shared<TWavFrameSource>(*ws.wav(s), ws.slot_offset(s));
                r.gaindb[size_t(s)] = gain_db(2 * s);
            }
            if (fwindow.differenceview && fwindow.differenceview->difference())
                r.sources[2] = std::make_shared<TDifferenceFrameSource>(fwindow.differenceview->shared_difference());
        }
        // Asked again only when something it shows changed (the cursor moves
        // the views on often while playing).
        const QString key = QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9 %10")
                                .arg(r.from).arg(r.to).arg(r.fftsize).arg(double(r.floordb))
                                .arg(double(r.gaindb[0])).arg(double(r.gaindb[1]))
                                .arg(fgeneration[0]).arg(fgeneration[1]).arg(ws.slot_offset(1)).arg(fgeneration[2]);
        if (key != fspectrumkey) {
            fspectrumkey = key;
            spectrumpanel->show_spectra(r);
        }
    }
    if (on()) {
        for (TPaintBox* b : fwindow.PaintBox) b->update();
        if (fwindow.differenceview) fwindow.differenceview->lane->update();
    }
}

void TSpectrogramView::samples_changing(int slot) {
    fjob.stop();
    fbusy = false;
    if (spectrumpanel) spectrumpanel->stop();
    ++fgeneration[size_t(slot)];
    fspectrumkey.clear();
    for (int t : {2 * slot, 2 * slot + 1}) fpictures[size_t(t)].clear();
}

bool TSpectrogramView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove || event->type() == QEvent::Leave) {
        for (int t = 0; t < kLanes; ++t) {
            if (watched != box_of(t)) continue;
            if (event->type() == QEvent::Leave) hover(-1, 0, 0);
            else {
                const QPoint p = static_cast<QMouseEvent*>(event)->position().toPoint();
                hover(t, p.x(), p.y());
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

void TSpectrogramView::hover(int t, int x, int y) {
    const int before = fhoverlane;
    fhoverlane = t;
    freadout.clear();
    if (t >= 0 && on() && has_signal(t)) {
        const TFrequencyAxis axis = axis_of(t);
        QString text = QStringLiteral("%1  %2")
                           .arg(time_text(fwindow.xaxis->pixel_to_value(x), 0.001), frequency_text(axis.hz_at(y + 0.5)));
        if (const Picture* p = find(t, key_of(t)); p && x >= 0 && y >= 0 && x < p->levels.width && y < p->levels.height) {
            const float v = p->levels.at(x, y);
            if (!std::isnan(v)) text += QStringLiteral("  %1 dBFS").arg(double(v + gain_db(t)), 0, 'f', 1);
        }
        freadout = text;
    }
    for (int lane : {before, t})
        if (lane >= 0 && on()) box_of(lane)->update();
}

}  // namespace wavrell
