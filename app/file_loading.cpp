// Loading a file into a slot without freezing the window: the file is read
// and measured on a worker thread into objects of its own; the workspace
// takes it in on the GUI thread once the load has succeeded.
#include "app/main_window.h"
#include "app/load_progress_dialog.h"
#include "common/message_box.h"

#include "workspace/load_progress.h"
#include "workspace/workspace.h"
#include "dsp/filter_section.h"

#include <QApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QStatusBar>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <exception>
#include <memory>
#include <new>

namespace wavrell {

namespace {

/// Shared by the GUI thread and the worker: the worker may outlive the
/// load_file call that started it (after Cancel).
struct LoadJob {
    std::atomic<bool> cancel{false};
    std::unique_ptr<TRealFilterSection> allpass;
    TLoadedFile result;
    std::exception_ptr error;
    TLoadProgress progress;
};

constexpr int kProgressDelayMs = 500;

}  // namespace

std::function<void(int, const QString&)> TForm19::load_worker_hook;

void TForm19::load_file(int slot, const QString& fname) {
    if (slot < 0 || slot > 1) return;
    if (abx_active()) {
        // The running blind test hashed and logs the files it started with.
        message_box(QStringLiteral("\"%1\" is not loaded: the blind test is running. End the test first.").arg(fname),
                    QStringLiteral("Blind test"), mb::OK | mb::ICONINFORMATION);
        return;
    }
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

    // The window keeps painting and playing in this loop while the worker
    // reads; it ends when the worker ends or the user cancels.
    QEventLoop loop;
    bool ended = false;
    std::shared_ptr<LoadJob> job;
    const auto start_worker = [&](int32_t rate) {
        job = std::make_shared<LoadJob>();
        job->allpass = ws->allpass_copy();
        ended = false;
        TLoadOptions options;
        options.rate = rate;
        // The loudness is measured after the file is taken in (the
        // workspace starts it), so that the waveform never waits for it.
        options.loudness = false;
        options.progress = &job->progress;
        // The other slot's file as it is now: the worker aligns the two once
        // the new file is read and measured.
        options.align = ws->AutoAlign();
        if (options.align) options.other = ws->alignsignal(1 - slot);
        const auto work = [job = job, slot, fname, options, hook = load_worker_hook] {
            try {
                try {
                    if (hook) hook(slot, fname);
                    job->result = TWorkspace::read_file(slot, fname, *job->allpass, &job->cancel, options);
                } catch (const std::bad_alloc&) {
                    throw TWorkspace::memory_error(fname);
                }
            } catch (...) {
                job->error = std::current_exception();
            }
        };
        QThread* worker = QThread::create(work);
        worker->setObjectName(QStringLiteral("file loader"));
        connect(worker, &QThread::finished, &loop, [&] {
            ended = true;
            loop.quit();
        });
        connect(worker, &QThread::finished, worker, &QObject::deleteLater);
        worker->start();
        if (!worker->isRunning() && !worker->isFinished()) {
            // No thread could be started (no memory for its stack, say): the
            // file is read right here, and the window waits for it.
            delete worker;
            work();
            ended = true;
            return false;
        }
        return true;
    };

    std::unique_ptr<TLoadProgressDialog> progress;
    QTimer delay;
    delay.setSingleShot(true);
    connect(&delay, &QTimer::timeout, &loop, [&] {
        progress = std::make_unique<TLoadProgressDialog>(
            this, QStringLiteral("Loading file %1: %2").arg(slot + 1).arg(QFileInfo(fname).fileName()),
            [&]() -> const TLoadProgress& { return job->progress; });
        connect(progress.get(), &QProgressDialog::canceled, &loop, [&] {
            job->cancel = true;
            loop.quit();
        });
        fprogress[size_t(slot)] = progress.get();
        progress->show();
    });
    delay.start(kProgressDelayMs);

    for (;;) {
        if (start_worker(ws->conversion_rate(slot))) {
            loop.exec();
        } else {
            delay.stop();
        }
        // Cancelled, or the program is quitting (which ends every event
        // loop): whatever the worker still produces is dropped with the job.
        if (!ended) job->cancel = true;
        if (job->cancel) break;
        if (job->error) break;
        // The other slot may have been loaded, replaced or closed while this
        // file was read: it is read again for the rate now in force, so that
        // both slots always share one rate.
        const int32_t now = ws->conversion_rate(slot);
        if (job->result.wav->sampfreq() == (now ? now : job->result.sourcerate)) break;
    }
    delay.stop();
    fprogress[size_t(slot)] = nullptr;
    progress.reset();

    const auto say_cancelled = [&] {
        statusBar()->showMessage(QStringLiteral("Loading \"%1\" was cancelled").arg(fname), 10000);
    };
    if (job->cancel) {
        say_cancelled();
        return;
    }
    if (job->error) {
        try {
            std::rethrow_exception(job->error);
        } catch (const ELoadCancelled&) {
            say_cancelled();
            return;
        }
    }
    ws->commit_load(std::move(job->result));
    // The other slot changed while this file loaded: the pair is aligned
    // now (unless that slot is loading still; its own load aligns then).
    floading[size_t(slot)] = false;
    if (ws->alignment_due() && !faligning && !floading[0] && !floading[1]) align_files();
}

}  // namespace wavrell
