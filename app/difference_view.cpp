// The null test in the window: the difference of file 1 and the lined-up,
// gain-matched file 2, taken on a worker, drawn in a lane under the files,
// summed up on the "Difference:" line and played in place of a file.
#include "app/difference_view.h"

#include "app/main_window.h"
#include "app/paint_box.h"
#include "app/panel.h"
#include "workspace/difference.h"
#include "workspace/workspace.h"
#include "audio/mpc_play.h"
#include "audio/wav_file.h"
#include "plot/axis.h"
#include "settings/prog_id.h"
#include "settings/setting.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>

namespace wavrell {

namespace {

const QString kSection = QStringLiteral("Difference");
const QString kAmplifyKey = QStringLiteral("Amplify");
constexpr int kAmplifySteps[3] = {0, 20, 40};

}  // namespace

std::function<void()> TDifferenceView::worker_hook;

/// Shared by the window and the worker.
struct TDifferenceView::Job {
    const TWav* file1 = nullptr;
    const TWav* file2 = nullptr;
    int64_t offset = 0;
    int sign = 1;
    std::atomic<bool> cancel{false};
    std::shared_ptr<const TDifference> result;
    QString error;
};

TDifferenceView::TDifferenceView(TForm19& window) : QObject(&window), w(window) {
    menu = new QMenu(QStringLiteral("&Difference"), &w);
    if (w.TestMenu)
        w.menuBar()->insertMenu(w.TestMenu->menuAction(), menu);
    else
        w.menuBar()->addMenu(menu);
    showaction = menu->addAction(QStringLiteral("Show difference"));
    showaction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    showaction->setCheckable(true);
    connect(showaction, &QAction::toggled, this, [this](bool on) {
        lane->setVisible(on);
        w.Panel1Resize();
    });
    playaction = menu->addAction(QStringLiteral("Play difference"));
    playaction->setShortcut(QKeySequence(Qt::Key_D));
    playaction->setEnabled(false);
    connect(playaction, &QAction::triggered, this, [this] { play_difference(); });
    QMenu* amplify = menu->addMenu(QStringLiteral("Amplify difference"));
    amplifygroup = new QActionGroup(this);
    for (int k = 0; k < 3; ++k) {
        QAction* a = amplify->addAction(kAmplifySteps[k] ? QStringLiteral("+%1 dB").arg(kAmplifySteps[k]) : QStringLiteral("0 dB"));
        a->setCheckable(true);
        amplifygroup->addAction(a);
        connect(a, &QAction::triggered, this, [this, k] { set_amplify(kAmplifySteps[k]); });
        amplifyactions[k] = a;
    }
    // The shortcuts work wherever the focus is in the window.
    w.addAction(showaction);
    w.addAction(playaction);

    settings = new TSetting(this);
    settings->setProgId(w.ProgId1);
    int db = 0;
    try {
        settings->setLocation(slroaming);
        db = settings->ReadInteger(kSection, kAmplifyKey, 0);
    } catch (const Exception&) {
    }
    famplify = std::find(std::begin(kAmplifySteps), std::end(kAmplifySteps), db) != std::end(kAmplifySteps) ? db : 0;
    for (int k = 0; k < 3; ++k) amplifyactions[k]->setChecked(kAmplifySteps[k] == famplify);

    line = new QLabel(w.Panel1);
    // Wrapped rather than cut off in a narrow window; selectable to copy.
    line->setWordWrap(true);
    line->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    line->hide();
    lane = new TPaintBox(w.Panel1);
    lane->hide();
    lane->OnPaint = [this](TPaintBox*, QPainter& canvas) { paint(canvas); };
}

TDifferenceView::~TDifferenceView() { cancel_worker(); }

int TDifferenceView::line_height(int labelH, int width) const {
    return fhavekey ? std::max(labelH, line->heightForWidth(width)) + 4 : 0;
}

bool TDifferenceView::lane_shown() const { return showaction->isChecked(); }

void TDifferenceView::place(int x, int y, int width, int labelH, int laneH) {
    const int h = line_height(labelH, width);
    fplacedheight = h;
    line->setGeometry(x, y + 2, width, std::max(0, h - 4));
    line->setVisible(fhavekey);
    const int top = y + h;
    lane->setGeometry(x, top, width, laneH);
    lane->setVisible(lane_shown());
    lane->update();
}

void TDifferenceView::files_changed() {
    const TWorkspace& ws = w.workspace();
    Key k;
    // A load or an alignment under way leaves the pair as it is until it
    // ends: the samples are announced before they change, the new offset
    // comes as a change of the alignment.
    const bool have = ws.wav(0)->nsamples() > 0 && ws.wav(1)->nsamples() > 0 && !ws.alignment_due();
    if (have) {
        k.file1 = ws.alignsignal(0).get();
        k.file2 = ws.alignsignal(1).get();
        k.frames1 = ws.wav(0)->nsamples();
        k.frames2 = ws.wav(1)->nsamples();
        k.offset = ws.file2offset();
        k.sign = ws.slot_sign(1);
    }
    const bool relayout = have != fhavekey || std::exchange(frelayout, false);
    if (have == fhavekey && (!have || k == fkey)) {
        if (relayout) w.Panel1Resize();
        return;
    }
    cancel_worker();
    fdifference.reset();
    fplaying = false;
    fkey = k;
    fhavekey = have;
    if (have) start();
    show_line();
    if (relayout) w.Panel1Resize();
    lane->update();
    if (changed) changed();
}

void TDifferenceView::samples_changing() {
    if (fhavekey) frelayout = true;  // the line goes at the next files_changed
    cancel_worker();
    fdifference.reset();
    fplaying = false;
    fhavekey = false;  // the next files_changed starts again
    show_line();
    lane->update();
}

void TDifferenceView::start() {
    const TWorkspace& ws = w.workspace();
    auto job = std::make_shared<Job>();
    job->file1 = ws.wav(0);
    job->file2 = ws.wav(1);
    job->offset = fkey.offset;
    job->sign = fkey.sign;
    fjob = job;
    fdone = false;
    fclipped = 0;
    fworker = std::thread([this, job, hook = worker_hook] {
        try {
            if (hook) hook();
            job->result = compute_difference(*job->file1, *job->file2, job->offset, job->sign, true, &job->cancel);
        } catch (const Exception& e) {
            job->error = e.message();
        } catch (const std::bad_alloc&) {
            job->error = QStringLiteral("not enough memory for the difference");
        } catch (const std::exception& e) {
            job->error = QString::fromLocal8Bit(e.what());
        }
        fdone = true;
        // Dropped with the view should it go first (it waits for this thread).
        QMetaObject::invokeMethod(this, [this, job] { finished(job); }, Qt::QueuedConnection);
    });
}

void TDifferenceView::cancel_worker() {
    if (!fworker.joinable()) return;
    fjob->cancel = true;
    fworker.join();
    fjob.reset();
}

void TDifferenceView::finished(const std::shared_ptr<Job>& job) {
    if (job != fjob) return;  // given up meanwhile
    fworker.join();
    fjob.reset();
    fdifference = job->result;
    if (!job->error.isEmpty()) fdifference.reset();
    show_line(job->error);
    lane->update();
    if (changed) changed();
}

void TDifferenceView::show_line(const QString& error) {
    QString text;
    if (!error.isEmpty())
        text = error;
    else if (fdifference)
        text = difference_text(fdifference->figures(), QLocale());
    else if (computing())
        text = QStringLiteral("being computed…");
    if (fclipped > 0) text += QStringLiteral(", clipped %1").arg(fclipped);
    line->setText(QStringLiteral("Difference: ") + text);
    line->setToolTip(line->text());
    // A line that now wraps differently moves the lane below it.
    if (fhavekey && line_height(line->fontMetrics().height(), line->width()) != fplacedheight) w.Panel1Resize();
    playaction->setEnabled(fdifference && fdifference->figures().overlap);
}

bool TDifferenceView::stop_playing() {
    const bool was = fplaying;
    fplaying = false;
    return was;
}

void TDifferenceView::play_difference() {
    if (!fdifference || !fdifference->figures().overlap || w.abx_active()) {
        QApplication::beep();
        return;
    }
    if (fplaying) return;
    fplaying = true;
    fclipped = 0;
    show_line();
    if (w.MPCPlay1->OwnBoard()) {
        w.MPCPlay1->setDip(0.0);  // a plain seam, as the A/B switch outside a blind test
        w.MPCPlay1->Requeue();    // the queued sound is made again from d, at the same positions
    }
    else if (!w.playing())
        w.playaction->trigger();
}

void TDifferenceView::produce(int64_t position, int frames, int chans, int16_t* out) {
    if (!fdifference) {
        std::fill(out, out + ptrdiff_t(frames) * chans, int16_t(0));
        return;
    }
    const int64_t clipped = fdifference->play(chans, position, frames, std::pow(10.0, famplify / 20.0), out);
    if (clipped > 0) {
        fclipped += clipped;
        show_line();
    }
}

void TDifferenceView::set_amplify(int db) {
    famplify = db;
    fclipped = 0;
    show_line();
    // A store that cannot be written costs only the remembering.
    try {
        settings->WriteInteger(kSection, kAmplifyKey, db);
    } catch (const Exception&) {
    }
}

void TDifferenceView::paint(QPainter& canvas) {
    if (paint_instead && paint_instead(canvas)) return;
    const int W = lane->width(), H = lane->height();
    canvas.fillRect(0, 0, W, H, Qt::white);
    canvas.setPen(QColor(0xC0, 0xC0, 0xC0));
    canvas.drawLine(0, H / 2, W, H / 2);
    const TDifference* d = fdifference.get();
    canvas.setPen(Qt::black);
    if (!d || !d->figures().overlap || d->figures().identical) {
        canvas.drawText(4, 14, d && d->figures().identical ? QStringLiteral("identical: no difference")
                                : computing()                ? QStringLiteral("difference being computed…")
                                                             : QStringLiteral("no difference"));
        return;
    }
    const double fs = d->sampfreq();
    const double peak = d->peak();
    const double half = std::max(1.0, H / 2.0 - 2);
    // d scaled to its own peak, channel by channel, a column per pixel.
    for (int ch = 0; ch < d->channels(); ++ch) {
        canvas.setPen(TForm19::linecolors[size_t(ch % 2 == 0 ? 2 : 3)]);
        for (int x = 0; x < W; ++x) {
            const int64_t j = int64_t(std::floor(w.xaxis->pixel_to_value(x) * fs));
            const int64_t e = std::max(j, int64_t(std::ceil(w.xaxis->pixel_to_value(x + 1) * fs)) - 1);
            float lo = 0, hi = 0;
            if (!d->minmax(ch, j, e, lo, hi) || peak <= 0) continue;
            canvas.drawLine(x, int(H / 2.0 - hi / peak * half), x, int(H / 2.0 - lo / peak * half));
        }
    }
    // The difference over time: the block ratios in dB.
    const TDifferenceFigures& f = d->figures();
    double dblo = 0, dbhi = -1e9;
    for (double v : f.block_db)
        if (std::isfinite(v)) {
            dblo = std::min(dblo, v);
            dbhi = std::max(dbhi, v);
        }
    const bool trace = dbhi > -1e9;
    dblo = std::floor(dblo / 10) * 10;
    dbhi = std::max(dblo + 10, std::ceil(dbhi / 10) * 10);
    if (trace) {
        canvas.setPen(QPen(QColor(0xD0, 0x00, 0x00), 2));
        QPolygonF run;
        const auto flush = [&] {
            if (run.size() > 1) canvas.drawPolyline(run);
            run.clear();
        };
        for (size_t b = 0; b < f.block_db.size(); ++b) {
            if (!std::isfinite(f.block_db[b])) {
                flush();
                continue;
            }
            const double t = (double(f.overlap_first) + (double(b) + 0.5) * double(f.block_frames)) / fs;
            const double y = 2 + (dbhi - f.block_db[b]) / (dbhi - dblo) * (H - 4);
            run << QPointF(w.xaxis->value_to_pixel(t), y);
        }
        flush();
    }
    const QLocale locale;
    const QChar minus(0x2212);
    const auto db = [&](double v) {
        const QString t = locale.toString(std::abs(v), 'f', 1);
        return v < 0 && t != locale.toString(0.0, 'f', 1) ? minus + t : t;
    };
    // The scales on a light ground, readable over the traces.
    const auto label = [&](const QString& text, bool right) {
        const QRect r = canvas.fontMetrics().boundingRect(text).adjusted(-3, -1, 3, 1);
        const QRect at = right ? r.translated(W - 4 - r.right(), 2 - r.top()) : r.translated(4 - r.left(), 2 - r.top());
        canvas.fillRect(at, QColor(255, 255, 255, 200));
        canvas.setPen(Qt::black);
        canvas.drawText(at, Qt::AlignCenter, text);
    };
    label(QStringLiteral("difference, full height %1 dBFS").arg(peak > 0 ? db(20 * std::log10(peak)) : minus + QStringLiteral("inf")),
          false);
    if (trace) label(QStringLiteral("over time (red): %1 … %2 dB").arg(db(dblo), db(dbhi)), true);
}

}  // namespace wavrell
