// Loading a file into a slot without freezing the window: the file is read
// and measured on a worker thread into objects of its own; the workspace
// takes it in on the GUI thread once the load has succeeded.
#include "app/main_window.h"

#include "workspace/workspace.h"
#include "dsp/filter_section.h"

#include <QApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <exception>
#include <memory>

namespace wavrell {

namespace {

/// Shared by the GUI thread and the worker: the worker may outlive the
/// load_file call that started it (after Cancel).
struct LoadJob {
    std::atomic<bool> cancel{false};
    std::unique_ptr<TRealFilterSection> allpass;
    TLoadedFile result;
    std::exception_ptr error;
};

constexpr int kProgressDelayMs = 500;

}  // namespace

std::function<void(int, const QString&)> TForm19::load_worker_hook;

void TForm19::load_file(int slot, const QString& fname) {
    if (slot < 0 || slot > 1) return;
    if (floading[size_t(slot)]) {
        // The slot is still loading: the running load decides its content.
        QApplication::beep();
        return;
    }
    floading[size_t(slot)] = true;
    struct Done {
        TForm19* w;
        int slot;
        ~Done() {
            w->floading[size_t(slot)] = false;
            w->fprogress[size_t(slot)] = nullptr;
        }
    } done{this, slot};

    auto job = std::make_shared<LoadJob>();
    job->allpass = ws->allpass_copy();
    QThread* worker = QThread::create([job, slot, fname, hook = load_worker_hook,
                                       loudness = ws->MeasureLoudness()] {
        try {
            if (hook) hook(slot, fname);
            job->result = TWorkspace::read_file(slot, fname, *job->allpass, &job->cancel, true, loudness);
        } catch (...) {
            job->error = std::current_exception();
        }
    });
    worker->setObjectName(QStringLiteral("file loader"));

    // The window keeps painting and playing in this loop while the worker
    // reads; it ends when the worker ends or the user cancels.
    QEventLoop loop;
    bool ended = false;
    connect(worker, &QThread::finished, &loop, [&] {
        ended = true;
        loop.quit();
    });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);

    std::unique_ptr<QProgressDialog> progress;
    QTimer delay;
    delay.setSingleShot(true);
    connect(&delay, &QTimer::timeout, &loop, [&] {
        progress = std::make_unique<QProgressDialog>(
            QStringLiteral("Loading file %1: %2").arg(slot + 1).arg(QFileInfo(fname).fileName()),
            QStringLiteral("Cancel"), 0, 0, this);
        progress->setWindowTitle(QStringLiteral("Wavrell"));
        progress->setWindowModality(Qt::WindowModal);
        progress->setAutoReset(false);
        progress->setAutoClose(false);
        progress->setMinimumDuration(0);
        connect(progress.get(), &QProgressDialog::canceled, &loop, [&] {
            job->cancel = true;
            loop.quit();
        });
        fprogress[size_t(slot)] = progress.get();
        progress->show();
    });
    delay.start(kProgressDelayMs);

    worker->start();
    loop.exec();
    delay.stop();
    fprogress[size_t(slot)] = nullptr;
    progress.reset();

    // Cancelled, or the program is quitting (which ends every event loop):
    // whatever the worker still produces is dropped with the job.
    if (!ended) job->cancel = true;
    if (job->cancel) return;
    if (job->error) {
        try {
            std::rethrow_exception(job->error);
        } catch (const ELoadCancelled&) {
            return;
        }
    }
    ws->commit_load(std::move(job->result));
}

}  // namespace wavrell
