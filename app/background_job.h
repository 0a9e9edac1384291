#pragma once

#include <QObject>

#include <atomic>
#include <functional>
#include <thread>

namespace wavrell {

/// One piece of work at a time on a thread of its own, for a view that must
/// not wait: starting a new one cancels the one before (it ends at its next
/// look at the flag), and the results of a cancelled one never arrive. GUI
/// thread.
class TBackgroundJob {
public:
    ~TBackgroundJob() { stop(); }

    /// Runs work(cancel) on the worker; `work` hands results to the GUI
    /// thread through deliver(), which drops them once the job is stopped or
    /// replaced.
    void start(std::function<void(const std::atomic<bool>& cancel)> work) {
        stop();
        fcancel = false;
        fthread = std::thread([this, work = std::move(work)] { work(fcancel); });
    }

    /// Cancels the running job and waits for it (the work looks at the flag
    /// often, so this is short).
    void stop() {
        fcancel = true;
        if (fthread.joinable()) fthread.join();
        ++fgeneration;
    }

    /// From the worker: runs `then` on the GUI thread in the context of
    /// `receiver`, unless this job was stopped or replaced meanwhile.
    void deliver(QObject* receiver, std::function<void()> then) {
        const int generation = fgeneration.load();
        QMetaObject::invokeMethod(
            receiver,
            [this, generation, then = std::move(then)] {
                if (generation == fgeneration.load()) then();
            },
            Qt::QueuedConnection);
    }

private:
    std::thread fthread;
    std::atomic<bool> fcancel{false};
    std::atomic<int> fgeneration{0};
};

}  // namespace wavrell
