#pragma once

#include "workspace/level_matching.h"

#include <QObject>

class QAction;
class QActionGroup;
class QMenu;

namespace wavrell {

class TSetting;
class TWorkspace;

/// "Match peak to" of the Levels menu: "0 dBFS sample peak" (the default)
/// or "−1 dBTP true peak", one checked. The choice is put in force in the
/// workspace and remembered (section "Levels", key "MatchPeakTo": "sample"
/// or "true") in `settings`, read when the window is created. GUI thread.
class TPeakTargetMenu : public QObject {
public:
    TPeakTargetMenu(QMenu* levelsmenu, TWorkspace& ws, TSetting& settings);

    QMenu* menu = nullptr;
    QAction* sampleaction = nullptr;  ///< "0 dBFS sample peak"
    QAction* trueaction = nullptr;    ///< "−1 dBTP true peak"

    /// The check marks as the workspace has it; the choice can be made
    /// while `enabled`.
    void mirror(bool enabled);

private:
    void choose(TPeakTarget v);
    TWorkspace& fws;
    TSetting& fsettings;
};

}  // namespace wavrell
