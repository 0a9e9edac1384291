#pragma once

#include <QObject>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QThread;

namespace wavrell {

class TWav;

/// Levels of a stretch of a file (the loop range), over all its channels.
struct TRangeLevels {
    double rms = 0;   ///< full-scale units
    double peak = 0;  ///< largest absolute sample, full-scale units
    /// Integrated (gated) loudness in LUFS, channels weighted as for the
    /// whole file; empty for silence and stretches shorter than 400 ms.
    std::optional<double> integrated;
};

/// Measures frames [first, end) of a store (clipped to what it holds).
/// `check` is called every 100 ms of audio or so and may raise to give up.
/// Raises ELoudnessError when there is no memory for the loudness meter.
TRangeLevels measure_range_levels(const TWav& wav, int64_t first, int64_t end,
                                  const std::function<void()>& check = {});

/// The levels of a range of each slot's frames, measured on a worker thread
/// (the loop range of a long file may hold an hour of samples): asked for
/// again with the same range they are there at once. The owner announces
/// every change of a slot's samples first. GUI thread.
class TLoopLevels : public QObject {
public:
    explicit TLoopLevels(QObject* parent = nullptr);
    /// Gives up the running measurements and waits for them.
    ~TLoopLevels() override;

    /// The levels of frames [first, end) of the slot's store `wav` once
    /// measured; else nullptr, and a measurement for them starts (one for
    /// another range is given up first).
    const TRangeLevels* get(int slot, const TWav& wav, int64_t first, int64_t end);
    /// The slot's samples are about to change: its measurement is given up
    /// and waited for, and its levels are dropped.
    void samples_changing(int slot);
    /// A measurement has ended: get now answers for its range.
    std::function<void(int slot)> OnReady;

private:
    struct Job;
    struct Slot {
        bool have = false;
        int64_t first = 0, end = 0;
        TRangeLevels levels;
        std::shared_ptr<Job> job;
        QThread* thread = nullptr;
    };
    void stop(Slot& s);
    void finished(const std::shared_ptr<Job>& job, QThread* thread);

    std::array<Slot, 2> fslots;
};

}  // namespace wavrell
