#pragma once

#include "workspace/error_summary.h"

#include <QObject>

#include <array>
#include <functional>
#include <memory>
#include <vector>

class QThread;

namespace wavrell {

class TWav;

/// The error summaries (TErrorSummary) of the first two channels of each
/// slot's file, for the factor in force: built once per change of the
/// samples or of the factor, on a worker thread of their own, each build with
/// a fresh dither seed (one draw, kept until the next build). While a build
/// runs the owner goes on with what it has. Owned by the workspace, which
/// announces every change of a slot's samples first. GUI thread.
class TErrorSummaries : public QObject {
public:
    explicit TErrorSummaries(QObject* parent = nullptr);
    /// Gives up the running builds and waits for them.
    ~TErrorSummaries() override;

    /// The summaries of the slot's file for `factor` once they are built for
    /// its samples as they are now and that factor; else nullptr, and a
    /// build for them starts unless one runs (a build for another factor is
    /// given up first). Fewer summaries than channels (none at all) when
    /// there was not enough memory or no thread for the build: the owner
    /// then does without. `wav` is the slot's store; it must not change
    /// without samples_changing first.
    const std::vector<TErrorSummary>* get(int slot, const TWav& wav, double factor);

    /// The slot's samples are about to change (a load, a close): its build
    /// is given up and waited for (a few thousand samples at most), and its
    /// summaries are dropped.
    void samples_changing(int slot);

    /// A build has ended with summaries for the slot: get now returns them.
    std::function<void(int slot)> OnReady;

    /// Number of builds started so far.
    int builds() const { return fbuilds; }

    /// Runs on the worker before each build (tests hold a build there).
    static std::function<void(int slot)> worker_hook;

private:
    struct Job;
    struct Slot {
        const TWav* wav = nullptr;
        uint64_t generation = 0;  // counts the changes of the samples
        bool have = false;        // summaries hold the build for factor at built_generation
        uint64_t built_generation = 0;
        double factor = 1;
        std::vector<TErrorSummary> summaries;
        bool want = false;  // a get for wanted_factor is not answered yet
        double wanted_factor = 1;
        std::shared_ptr<Job> running;
        QThread* thread = nullptr;
    };

    void start(int slot);
    void finished(const std::shared_ptr<Job>& job, QThread* thread);
    void stop(Slot& s);

    std::array<Slot, 2> fslots;
    int fbuilds = 0;
};

}  // namespace wavrell
