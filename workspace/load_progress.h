#pragma once

#include "common/work_progress.h"

#include <QString>

#include <atomic>
#include <cstdint>

namespace wavrell {

/// The stages of a load, in their order, and the loudness measurement that
/// follows a load in the window.
enum class TLoadStage { Reading, Converting, MeasuringLevels, Aligning, MeasuringLoudness };

/// Where a load (or a loudness measurement) is: its stage and how far that
/// stage has come. Written by the working threads, read by the window's
/// progress display.
class TLoadProgress {
public:
    /// Enters a stage of `total` units (0: its extent is not known yet; the
    /// stage's own counting may set it). `rate` names the target of a
    /// conversion.
    void enter(TLoadStage stage, int64_t total = 0, int32_t rate = 0);
    TLoadStage stage() const { return TLoadStage(fstage.load(std::memory_order_relaxed)); }
    /// The counter of the stage, handed to the reader, the conversion, ...
    TWorkProgress& work() { return fwork; }
    /// Whole percent of the stage, 0 … 100.
    int percent() const;
    /// The stage's name: "Reading", "Converting to 44100 Hz", "Measuring
    /// levels", "Aligning", "Measuring loudness".
    QString stage_text() const;
    /// The stage's name and its percentage, e.g. "Reading: 45%".
    QString text() const;

private:
    std::atomic<int> fstage{int(TLoadStage::Reading)};
    std::atomic<int32_t> frate{0};
    TWorkProgress fwork;
};

}  // namespace wavrell
