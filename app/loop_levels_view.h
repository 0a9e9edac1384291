#pragma once

#include "workspace/loop_range.h"

#include <QObject>
#include <QStringList>

#include <functional>

class QAction;
class QMenu;

namespace wavrell {

class TWorkspace;

/// "Loop range measurements" in the Levels menu: while it is ticked and a
/// loop range is set, each file's information lines end with a line of the
/// loop range's crest factor, RMS, peak and integrated loudness (as heard:
/// scaled by the factor in force, like the whole file's), measured on a
/// worker; "…" until they are there. GUI thread.
class TLoopLevelsView : public QObject {
public:
    /// `range` gives the loop range in a slot's own frames (file 2's
    /// offset taken in); inactive without a loop.
    TLoopLevelsView(QMenu* levelsmenu, TWorkspace& ws, std::function<TLoopRange(int slot)> range);

    QAction* action = nullptr;  ///< "Loop range measurements", check-able

    /// The lines the slot's information lines end with (none while off,
    /// without a loop or without a file).
    QStringList lines(int slot);

    /// The lines changed (ticked, unticked, measured): the window shows them.
    std::function<void()> OnChanged;

private:
    TWorkspace& fws;
    std::function<TLoopRange(int)> frange;
};

}  // namespace wavrell
