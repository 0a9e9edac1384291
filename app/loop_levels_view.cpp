#include "app/loop_levels_view.h"

#include "workspace/workspace.h"
#include "audio/wav_file.h"

#include <QAction>
#include <QMenu>

#include <cmath>

namespace wavrell {

TLoopLevelsView::TLoopLevelsView(QMenu* levelsmenu, TWorkspace& ws, std::function<TLoopRange(int)> range)
    : QObject(levelsmenu), fws(ws), frange(std::move(range)) {
    action = levelsmenu->addAction(QStringLiteral("L&oop range measurements"));
    action->setCheckable(true);
    connect(action, &QAction::toggled, this, [this] {
        if (OnChanged) OnChanged();
    });
}

QStringList TLoopLevelsView::lines(int slot) {
    if (!action->isChecked() || fws.wav(slot)->nsamples() == 0) return {};
    const TLoopRange r = frange(slot);
    if (!r.active()) return {};
    const QString head = QStringLiteral("Loop range:");
    const TRangeLevels* l = fws.range_levels(slot, r.from, r.to);
    if (!l) return {head + QStringLiteral(" \u2026")};
    const double factor = fws.filefactor(slot);
    const QString lufs = l->integrated ? TWorkspace::decibel_text(*l->integrated + 20 * std::log10(factor))
                                       : QStringLiteral("-");
    return {head + TWorkspace::levels_text(l->rms, l->peak, factor) + QStringLiteral("  |  ") + lufs +
            QStringLiteral(" LUFS")};
}

}  // namespace wavrell
