#include "workspace/loudness_jobs.h"

#include "common/parallel_jobs.h"

#include <QThread>

#include <algorithm>
#include <atomic>
#include <exception>
#include <new>

namespace wavrell {

std::function<void(int)> TLoudnessJobs::worker_hook;

/// Shared by the GUI thread and the worker.
struct TLoudnessJobs::Job {
    int slot = 0;
    std::atomic<bool> cancel{false};
    std::unique_ptr<TLoudnessMeter> meter;
    TLoudness result;
    bool cancelled = false;
    QString error;
};

namespace {
/// Raised on the measuring threads once the job is given up.
struct Cancelled {};
}  // namespace

TLoudnessJobs::TLoudnessJobs(QObject* parent) : QObject(parent) {}

TLoudnessJobs::~TLoudnessJobs() {
    stop(0);
    stop(1);
}

void TLoudnessJobs::stop(int slot) {
    Slot& s = fslots[size_t(slot)];
    if (!s.job) return;
    s.job->cancel = true;
    s.thread->wait();
    // Its end notice, still queued, finds the job given up; the thread
    // object goes with it (or with this object).
    s.thread->setParent(this);
    s.job.reset();
    s.thread = nullptr;
}

double TLoudnessJobs::progress(int slot) const {
    const Slot& s = fslots[size_t(slot)];
    return s.job ? s.job->meter->progress() : 0.0;
}

bool TLoudnessJobs::start(int slot, const TWav& wav) {
    stop(slot);
    auto job = std::make_shared<Job>();
    job->slot = slot;
    Job* j = job.get();
    job->meter = std::make_unique<TLoudnessMeter>(wav, [j] {
        if (j->cancel.load(std::memory_order_relaxed)) throw Cancelled{};
    });
    const auto work = [job, hook = worker_hook] {
        try {
            if (hook) hook(job->slot);
            // One processor stays free for the window and the player's
            // feeding, which may be playing the file already.
            run_parallel_jobs(job->meter->jobs(), std::max(1u, compute_threads() - 1));
            job->result = job->meter->result();
        } catch (const Cancelled&) {
            job->cancelled = true;
        } catch (const ELoudnessError& e) {
            job->error = e.message();
        } catch (const std::bad_alloc&) {
            job->error = QStringLiteral("not enough memory to measure the loudness");
        }
    };
    QThread* thread = QThread::create(work);
    thread->setObjectName(QStringLiteral("loudness"));
    connect(thread, &QThread::finished, this, [this, job, thread] { finished(job, thread); });
    Slot& s = fslots[size_t(slot)];
    s.job = job;
    s.thread = thread;
    thread->start();
    if (!thread->isRunning() && !thread->isFinished()) {
        delete thread;
        s.job.reset();
        s.thread = nullptr;
        return false;
    }
    return true;
}

void TLoudnessJobs::finished(const std::shared_ptr<Job>& job, QThread* thread) {
    thread->deleteLater();
    Slot& s = fslots[size_t(job->slot)];
    if (s.job != job) return;  // given up
    s.job.reset();
    s.thread = nullptr;
    if (job->cancelled) return;
    if (!job->error.isEmpty()) {
        if (OnFailed) OnFailed(job->slot, job->error);
        return;
    }
    if (OnReady) OnReady(job->slot, job->result);
}

}  // namespace wavrell
