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

#include <cmath>

namespace wavrell {

namespace {

Q_LOGGING_CATEGORY(lcPlayback, "wavrell.playback", QtInfoMsg)

const QString kSection = QStringLiteral("Playback");
const QString kCrossfadeKey = QStringLiteral("CrossfadeSwitches");
constexpr double kCrossfadeSeconds = 0.005;
// Each half of the blind test's transition: long enough to leave no click,
// short enough not to mask what follows.
constexpr double kDipSeconds = 0.010;

}  // namespace

void TForm19::switch_playback(int slot) {
    const int before = ws->wavplayno();
    const bool fromdifference = differenceview->stop_playing();
    ws->setWavplayno(slot);
    // In a blind test every press of A, B or X sounds alike: a dip, also
    // when the file stays, so that no click or cut tells that X changed.
    const bool blind = abx_active();
    if ((ws->wavplayno() == before && !blind && !fromdifference) || !MPCPlay1->OwnBoard()) return;
    MPCPlay1->setDip(blind ? kDipSeconds : 0.0);
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

QString TForm19::abx_transition_text() {
    return QStringLiteral("a %1 ms fade-out and %1 ms fade-in at every press of A, B or X, also when the file stays")
        .arg(std::lround(kDipSeconds * 1000));
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
