// Switching between the two files while playing, heard at once, and the
// option of a short crossfade at the seam.
#include "app/main_window.h"

#include "app/difference_view.h"
#include "audio/mpc_play.h"
#include "settings/prog_id.h"
#include "settings/setting.h"
#include "workspace/workspace.h"

#include <QAction>
#include <QLoggingCategory>

namespace wavrell {

namespace {

Q_LOGGING_CATEGORY(lcPlayback, "wavrell.playback", QtInfoMsg)

const QString kSection = QStringLiteral("Playback");
const QString kCrossfadeKey = QStringLiteral("CrossfadeSwitches");
constexpr double kCrossfadeSeconds = 0.005;

}  // namespace

void TForm19::switch_playback(int slot) {
    const int before = ws->wavplayno();
    const bool fromdifference = differenceview->stop_playing();
    ws->setWavplayno(slot);
    if ((ws->wavplayno() == before && !fromdifference) || !MPCPlay1->OwnBoard()) return;
    // The queued sound is taken back and made again from the other file at
    // the same positions (the stash replays them).
    const int64_t k = MPCPlay1->Requeue();
    int64_t seam = ws->playcount();
    if (const std::optional<int64_t> at = playtimeline.position(k))
        seam = *at;
    else if (!playtimeline.replay().empty())
        seam = playtimeline.replay().front().position;
    // Not during a blind test: the log on the terminal would tell which file X is.
    if (!abx_active())
        qCInfo(lcPlayback).noquote() << QStringLiteral("Switched to file %1 at frame %2").arg(ws->wavplayno() + 1).arg(seam);
}

void TForm19::create_playback_options() {
    playsettings = new TSetting(this);
    playsettings->setProgId(ProgId1);
    bool on = false;
    // A store that cannot be read leaves the option at its default.
    try {
        playsettings->setLocation(slroaming);
        on = playsettings->ReadBool(kSection, kCrossfadeKey, false);
    } catch (const Exception&) {
    }
    crossfadeaction->setChecked(on);
    MPCPlay1->setCrossfade(on ? kCrossfadeSeconds : 0.0);
}

void TForm19::crossfadeactionExecute() {
    const bool on = crossfadeaction->isChecked();
    // Takes effect at the next switch, also during playback.
    MPCPlay1->setCrossfade(on ? kCrossfadeSeconds : 0.0);
    // Like the recent-files lists: a store that cannot be written costs
    // only the remembering.
    try {
        playsettings->WriteBool(kSection, kCrossfadeKey, on);
    } catch (const Exception&) {
    }
}

}  // namespace wavrell
