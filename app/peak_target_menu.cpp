#include "app/peak_target_menu.h"

#include "common/errors.h"
#include "settings/prog_id.h"
#include "settings/setting.h"
#include "workspace/workspace.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>

namespace wavrell {

namespace {
const QString kLevelsSection = QStringLiteral("Levels");
const QString kPeakKey = QStringLiteral("MatchPeakTo");
}  // namespace

TPeakTargetMenu::TPeakTargetMenu(QMenu* levelsmenu, TWorkspace& ws, TSetting& settings)
    : QObject(levelsmenu), fws(ws), fsettings(settings) {
    menu = levelsmenu->addMenu(QStringLiteral("Match &peak to"));
    auto* group = new QActionGroup(menu);
    group->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    const auto make = [&](const QString& caption, TPeakTarget v) {
        QAction* a = menu->addAction(caption);
        a->setCheckable(true);
        group->addAction(a);
        connect(a, &QAction::triggered, this, [this, v] { choose(v); });
        return a;
    };
    sampleaction = make(QStringLiteral("0 dBFS sample peak"), ptsample);
    trueaction = make(QStringLiteral("\u22121 dBTP true peak"), pttrue);

    // Errors of the store and unknown values leave the default.
    TPeakTarget v = ptsample;
    try {
        fsettings.setLocation(slroaming);
        v = peak_target_from_key(fsettings.ReadString(kLevelsSection, kPeakKey, peak_target_key(ptsample)))
                .value_or(ptsample);
    } catch (const Exception&) {
    }
    if (v != fws.PeakTarget()) fws.setPeakTarget(v);
    mirror(true);
}

void TPeakTargetMenu::mirror(bool enabled) {
    sampleaction->setChecked(fws.PeakTarget() == ptsample);
    trueaction->setChecked(fws.PeakTarget() == pttrue);
    for (QAction* a : {sampleaction, trueaction}) a->setEnabled(enabled);
}

void TPeakTargetMenu::choose(TPeakTarget v) {
    fws.setPeakTarget(v);
    // A store that cannot be written keeps the choice for this run only.
    try {
        fsettings.setLocation(slroaming);
        fsettings.WriteString(kLevelsSection, kPeakKey, peak_target_key(v));
    } catch (const Exception&) {
    }
}

}  // namespace wavrell
