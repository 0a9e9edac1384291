#pragma once

#include "workspace/loudness.h"

#include <QObject>
#include <QString>

#include <array>
#include <functional>
#include <memory>

class QThread;

namespace wavrell {

class TWav;

/// The loudness of each slot's file, measured on a worker thread of its own
/// after the file has been taken in, so that a load ends as soon as the
/// samples, the levels and the waveform are there. One measurement per slot
/// at a time; the owner announces every change of a slot's samples first.
/// GUI thread.
class TLoudnessJobs : public QObject {
public:
    explicit TLoudnessJobs(QObject* parent = nullptr);
    /// Gives up the running measurements and waits for them.
    ~TLoudnessJobs() override;

    /// Measures the store of a slot (given up first when one runs). The
    /// store must not change without stop first. Returns false when no
    /// thread could be started (nothing runs then).
    bool start(int slot, const TWav& wav);
    /// Gives up the slot's measurement, if one runs, and waits for it
    /// (within about 100 ms of audio).
    void stop(int slot);
    /// A measurement runs for the slot.
    bool running(int slot) const { return bool(fslots[size_t(slot)].job); }
    /// How far the slot's measurement has come, 0 … 1.
    double progress(int slot) const;

    /// A measurement has ended with the loudness of the slot's file.
    std::function<void(int slot, const TLoudness& loudness)> OnReady;
    /// A measurement failed (not enough memory): the reason, naming the file.
    std::function<void(int slot, const QString& reason)> OnFailed;

    /// Runs on the worker before each measurement (tests hold one there).
    static std::function<void(int slot)> worker_hook;

private:
    struct Job;
    struct Slot {
        std::shared_ptr<Job> job;
        QThread* thread = nullptr;
    };
    void finished(const std::shared_ptr<Job>& job, QThread* thread);

    std::array<Slot, 2> fslots;
};

}  // namespace wavrell
