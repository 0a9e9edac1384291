#include "workspace/load_progress.h"

#include <cmath>

namespace wavrell {

void TLoadProgress::enter(TLoadStage stage, int64_t total, int32_t rate) {
    fwork.start(total);
    frate.store(rate, std::memory_order_relaxed);
    fstage.store(int(stage), std::memory_order_relaxed);
}

int TLoadProgress::percent() const { return int(std::floor(fwork.fraction() * 100)); }

QString TLoadProgress::stage_text() const {
    switch (stage()) {
        case TLoadStage::Reading: return QStringLiteral("Reading");
        case TLoadStage::Converting:
            return QStringLiteral("Converting to %1 Hz").arg(frate.load(std::memory_order_relaxed));
        case TLoadStage::MeasuringLevels: return QStringLiteral("Measuring levels");
        case TLoadStage::Aligning: return QStringLiteral("Aligning");
        case TLoadStage::MeasuringLoudness: return QStringLiteral("Measuring loudness");
    }
    return {};
}

QString TLoadProgress::text() const { return QStringLiteral("%1: %2%").arg(stage_text()).arg(percent()); }

}  // namespace wavrell
