// The "Alignment" menu: lining file 2 up with file 1 (estimated on a worker
// thread), nudging it by hand, its polarity, and no alignment at all. The
// offset and polarity live in the workspace; the views and the playback
// feeding read them from there.
#include "app/main_window.h"

#include "workspace/workspace.h"
#include "plot/axis.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QMenu>
#include <QMenuBar>
#include <QThread>

#include <algorithm>
#include <exception>
#include <memory>

namespace wavrell {

std::function<void()> TForm19::align_worker_hook;

void TForm19::create_alignment_menu() {
    AlignmentMenu = menuBar()->addMenu(QStringLiteral("&Alignment"));
    auto add = [this](const QString& caption, const QKeySequence& key, auto handler) {
        QAction* a = AlignmentMenu->addAction(caption);
        if (!key.isEmpty()) a->setShortcut(key);
        connect(a, &QAction::triggered, this, handler);
        addAction(a);  // the shortcut works wherever the focus is in the window
        a->setEnabled(false);  // until two files are loaded
        return a;
    };
    alignaction = add(QStringLiteral("Align file 2 to file 1"), QKeySequence(Qt::CTRL | Qt::Key_L),
                      [this] { align_files(); });
    AlignmentMenu->addSeparator();
    // "Later" and "earlier" say how much later file 2 runs than file 1, as
    // the offset on its line does (+: later): a nudge later adds to the
    // offset, and file 2 is then drawn and played that much sooner.
    nudgeearlieraction = add(QStringLiteral("Nudge file 2 earlier by one sample"),
                             QKeySequence(Qt::ALT | Qt::Key_Comma), [this] { ws->nudge_file2(-1); });
    nudgelateraction = add(QStringLiteral("Nudge file 2 later by one sample"), QKeySequence(Qt::ALT | Qt::Key_Period),
                           [this] { ws->nudge_file2(1); });
    nudgeearliermsaction = add(QStringLiteral("Nudge file 2 earlier by one millisecond"),
                               QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_Comma),
                               [this] { ws->nudge_file2(-ws->millisecond_frames()); });
    nudgelatermsaction = add(QStringLiteral("Nudge file 2 later by one millisecond"),
                             QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_Period),
                             [this] { ws->nudge_file2(ws->millisecond_frames()); });
    AlignmentMenu->addSeparator();
    correctpolarityaction = add(QStringLiteral("Correct polarity"), QKeySequence(),
                                [this] { ws->setCorrectpolarity(correctpolarityaction->isChecked()); });
    correctpolarityaction->setCheckable(true);
    noalignmentaction = add(QStringLiteral("No alignment"), QKeySequence(), [this] { ws->clear_alignment(); });
}

void TForm19::alignment_changed() {
    // File 2 may now reach further along the time axis (or less far); the
    // visible range stays as the user left it, within the new end.
    xaxis->setMaxHiValue(std::max(1.0, ws->timeline_duration()));
    mirror_state();
}

namespace {

/// Shared by the GUI thread and the worker, which may outlive the window's
/// wait (when the program quits during an alignment).
struct AlignJob {
    std::shared_ptr<const TAlignSignal> file1, file2;
    TAlignment result;
    std::exception_ptr error;
};

}  // namespace

void TForm19::align_files() {
    if (faligning || floading[0] || floading[1]) {
        QApplication::beep();
        return;
    }
    if (ws->wav(0)->nsamples() == 0 || ws->wav(1)->nsamples() == 0) return;
    auto job = std::make_shared<AlignJob>();
    job->file1 = ws->alignsignal(0);
    job->file2 = ws->alignsignal(1);
    if (!job->file1 || !job->file2) {
        // Loaded without their signals (no automatic alignment): made now.
        ws->align_files();
        return;
    }
    faligning = true;
    struct Done {
        TForm19* w;
        ~Done() { w->faligning = false; }
    } done{this};

    QThread* worker = QThread::create([job, hook = align_worker_hook] {
        try {
            if (hook) hook();
            job->result = estimate_alignment(*job->file1, *job->file2);
        } catch (...) {
            job->error = std::current_exception();
        }
    });
    worker->setObjectName(QStringLiteral("aligner"));
    QEventLoop loop;
    bool ended = false;
    connect(worker, &QThread::finished, &loop, [&] {
        ended = true;
        loop.quit();
    });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
    loop.exec();
    if (!ended) return;  // the program is quitting
    if (job->error) std::rethrow_exception(job->error);
    // A file loaded or closed meanwhile makes the estimate void.
    ws->apply_alignment(job->result, job->file1.get(), job->file2.get());
}

}  // namespace wavrell
