#include "workspace/error_summaries.h"

#include "audio/wav_file.h"

#include <QRandomGenerator>
#include <QThread>

#include <atomic>
#include <new>

namespace wavrell {

std::function<void(int)> TErrorSummaries::worker_hook;

/// Shared by the GUI thread and the worker.
struct TErrorSummaries::Job {
    int slot = 0;
    uint64_t generation = 0;
    double factor = 1;
    std::atomic<bool> cancel{false};
    std::vector<TErrorSummary> result;
};

TErrorSummaries::TErrorSummaries(QObject* parent) : QObject(parent) {}

TErrorSummaries::~TErrorSummaries() {
    for (Slot& s : fslots) stop(s);
}

void TErrorSummaries::stop(Slot& s) {
    if (!s.running) return;
    s.running->cancel = true;
    s.thread->wait();
    // Its end notice, still queued, finds the job given up; the thread
    // object goes with it (or with this object).
    s.thread->setParent(this);
    s.running.reset();
    s.thread = nullptr;
}

const std::vector<TErrorSummary>* TErrorSummaries::get(int slot, const TWav& wav, double factor) {
    Slot& s = fslots[size_t(slot)];
    s.wav = &wav;
    if (s.have && s.built_generation == s.generation && s.factor == factor) {
        // A build for another factor that still runs is of no use now.
        if (s.running && s.running->factor != factor) s.running->cancel = true;
        s.want = false;
        return &s.summaries;
    }
    s.want = true;
    s.wanted_factor = factor;
    if (s.running) {
        // The running build ends first; its end starts the wanted one.
        if (s.running->factor != factor) s.running->cancel = true;
        return nullptr;
    }
    start(slot);
    return s.have && s.built_generation == s.generation && s.factor == factor ? &s.summaries : nullptr;
}

void TErrorSummaries::samples_changing(int slot) {
    Slot& s = fslots[size_t(slot)];
    stop(s);
    ++s.generation;
    s.have = false;
    s.want = false;
    s.summaries.clear();
}

void TErrorSummaries::start(int slot) {
    Slot& s = fslots[size_t(slot)];
    s.want = false;
    // Rows replaced by hand may disagree with nsamples: only what every row
    // holds is summarized.
    const TWavSamples16& rows = s.wav->samples();
    const int nc = std::min<int>({2, s.wav->nchans(), int(rows.size())});
    int64_t n = s.wav->nsamples();
    std::vector<const int16_t*> data;
    for (int c = 0; c < nc; ++c) {
        n = std::min<int64_t>(n, int64_t(rows[size_t(c)].size()));
        data.push_back(rows[size_t(c)].data());
    }
    if (n <= 0) {
        // Nothing to summarize (an empty slot): no summaries, at once.
        s.have = true;
        s.built_generation = s.generation;
        s.factor = s.wanted_factor;
        s.summaries.clear();
        return;
    }
    ++fbuilds;
    auto job = std::make_shared<Job>();
    job->slot = slot;
    job->generation = s.generation;
    job->factor = s.wanted_factor;
    const uint64_t seed = QRandomGenerator::global()->generate64();
    const auto work = [job, data, n, seed, hook = worker_hook] {
        if (hook) hook(job->slot);
        try {
            for (const int16_t* row : data) {
                job->result.push_back(TErrorSummary::build(row, n, job->factor, seed, &job->cancel));
                if (job->cancel) return;
            }
        } catch (const std::bad_alloc&) {
            // Not enough memory for the tables: the owner does without.
            job->result.clear();
        }
    };
    QThread* thread = QThread::create(work);
    thread->setObjectName(QStringLiteral("error summaries"));
    connect(thread, &QThread::finished, this, [this, job, thread] { finished(job, thread); });
    s.running = job;
    s.thread = thread;
    thread->start();
    if (!thread->isRunning() && !thread->isFinished()) {
        // No thread could be started: no summaries, the owner does without.
        delete thread;
        s.running.reset();
        s.thread = nullptr;
        s.have = true;
        s.built_generation = s.generation;
        s.factor = job->factor;
        s.summaries.clear();
    }
}

void TErrorSummaries::finished(const std::shared_ptr<Job>& job, QThread* thread) {
    thread->deleteLater();
    Slot& s = fslots[size_t(job->slot)];
    if (s.running == job) {
        s.running.reset();
        s.thread = nullptr;
    }
    const bool taken = !job->cancel && job->generation == s.generation;
    if (taken) {
        s.summaries = std::move(job->result);
        s.factor = job->factor;
        s.built_generation = job->generation;
        s.have = true;
    }
    // A get that came while this build ran, for another factor.
    if (!s.running && s.want && !(s.have && s.built_generation == s.generation && s.factor == s.wanted_factor))
        start(job->slot);
    if (taken && OnReady) OnReady(job->slot);
}

}  // namespace wavrell
