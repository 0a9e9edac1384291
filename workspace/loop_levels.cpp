#include "workspace/loop_levels.h"

#include "workspace/loudness.h"
#include "audio/wav_file.h"

#include <QFileInfo>
#include <QThread>

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

namespace wavrell {

namespace {

struct StateDeleter {
    void operator()(ebur128_state* s) const { ebur128_destroy(&s); }
};

/// Raised on the worker once its job is given up.
struct Cancelled {};

}  // namespace

TRangeLevels measure_range_levels(const TWav& wav, int64_t first, int64_t end, const std::function<void()>& check) {
    TRangeLevels r;
    const int nch = std::min<int>(wav.nchans(), int(wav.samples().size()));
    int64_t n = nch > 0 ? wav.nsamples() : 0;
    for (int c = 0; c < nch; ++c) n = std::min<int64_t>(n, int64_t(wav.samples()[size_t(c)].size()));
    first = std::clamp<int64_t>(first, 0, n);
    end = std::clamp<int64_t>(end, first, n);
    if (end == first) return r;

    std::unique_ptr<ebur128_state, StateDeleter> state;
    if (nch <= 64 && wav.sampfreq() >= 16)
        state.reset(ebur128_init(unsigned(nch), static_cast<unsigned long>(wav.sampfreq()), EBUR128_MODE_I));
    if (state) {
        const std::vector<int> types = loudness_channel_types(wav.channelmask(), nch);
        for (size_t c = 0; c < types.size(); ++c) ebur128_set_channel(state.get(), unsigned(c), types[c]);
    }
    const int64_t step = std::max<int64_t>(1, wav.sampfreq() / 10);
    std::vector<int16_t> buf;
    double squares = 0;
    int peak = 0;
    for (int64_t at = first; at < end; at += step) {
        if (check) check();
        const int64_t count = std::min(step, end - at);
        buf.resize(size_t(count * nch));
        for (int c = 0; c < nch; ++c) {
            const int16_t* row = wav.samples()[size_t(c)].data() + at;
            int64_t sum = 0;
            for (int64_t i = 0; i < count; ++i) {
                const int v = row[i];
                sum += int64_t(v) * v;
                peak = std::max(peak, std::abs(v));
                buf[size_t(i * nch + c)] = row[i];
            }
            squares += double(sum);
        }
        if (state && ebur128_add_frames_short(state.get(), buf.data(), size_t(count)) != EBUR128_SUCCESS)
            throw ELoudnessError(QStringLiteral("Cannot measure the loop range of \"%1\": not enough memory")
                                     .arg(QFileInfo(wav.filename()).fileName()));
    }
    r.rms = std::sqrt(squares / (double(end - first) * nch)) / 32768.0;
    r.peak = peak / 32768.0;
    double lufs = -HUGE_VAL;
    if (state && ebur128_loudness_global(state.get(), &lufs) == EBUR128_SUCCESS && std::isfinite(lufs))
        r.integrated = lufs;
    return r;
}

/// Shared by the GUI thread and the worker.
struct TLoopLevels::Job {
    int slot = 0;
    int64_t first = 0, end = 0;
    std::atomic<bool> cancel{false};
    bool done = false;
    TRangeLevels result;
};

TLoopLevels::TLoopLevels(QObject* parent) : QObject(parent) {}

TLoopLevels::~TLoopLevels() {
    for (Slot& s : fslots) stop(s);
}

void TLoopLevels::stop(Slot& s) {
    if (!s.job) return;
    s.job->cancel = true;
    s.thread->wait();
    s.thread->setParent(this);
    s.job.reset();
    s.thread = nullptr;
}

void TLoopLevels::samples_changing(int slot) {
    Slot& s = fslots[size_t(slot)];
    stop(s);
    s.have = false;
}

const TRangeLevels* TLoopLevels::get(int slot, const TWav& wav, int64_t first, int64_t end) {
    Slot& s = fslots[size_t(slot)];
    if (s.have && s.first == first && s.end == end) return &s.levels;
    if (s.job && s.job->first == first && s.job->end == end) return nullptr;
    stop(s);
    auto job = std::make_shared<Job>();
    job->slot = slot;
    job->first = first;
    job->end = end;
    const auto work = [job, &wav] {
        try {
            job->result = measure_range_levels(wav, job->first, job->end, [&] {
                if (job->cancel.load(std::memory_order_relaxed)) throw Cancelled{};
            });
            job->done = true;
        } catch (...) {
            // Given up, or no memory: nothing to show.
        }
    };
    QThread* thread = QThread::create(work);
    thread->setObjectName(QStringLiteral("loop levels"));
    connect(thread, &QThread::finished, this, [this, job, thread] { finished(job, thread); });
    s.job = job;
    s.thread = thread;
    thread->start();
    if (!thread->isRunning() && !thread->isFinished()) {
        delete thread;
        s.job.reset();
        s.thread = nullptr;
    }
    return nullptr;
}

void TLoopLevels::finished(const std::shared_ptr<Job>& job, QThread* thread) {
    thread->deleteLater();
    Slot& s = fslots[size_t(job->slot)];
    if (s.job != job) return;  // given up
    s.job.reset();
    s.thread = nullptr;
    if (!job->done) return;
    s.have = true;
    s.first = job->first;
    s.end = job->end;
    s.levels = job->result;
    if (OnReady) OnReady(job->slot);
}

}  // namespace wavrell
