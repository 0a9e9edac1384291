// Playback: the "Play" commands and the player's requests for chunks, taken
// from whichever file is being played at the play position, level-matched
// or replaced by the error of level matching; and the cursor on the frame
// being heard.
#include "app/main_window.h"

#include "app/difference_view.h"
#include "app/view_navigation.h"

#include "workspace/workspace.h"
#include "audio/mpc_play.h"
#include "audio/wav_file.h"
#include "common/message_box.h"
#include "common/number_text.h"

#include <QAction>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <optional>

namespace wavrell {

void TForm19::playactionExecute() {
    if (!playaction->isChecked()) {
        cursortimer->stop();
        MPCPlay1->Stop();
        playfile1action->setEnabled(false);
        playfile2action->setEnabled(false);
        return;
    }
    const bool has0 = ws->wav(0)->nsamples() > 0, has1 = ws->wav(1)->nsamples() > 0;
    if (!has0) {
        if (!has1) {
            playaction->setChecked(false);  // nothing to play
            return;
        }
        ws->setWavplayno(1);
    } else if (!has1) {
        ws->setWavplayno(0);
    }
    const TWav& w = *ws->wav(ws->wavplayno());
    // At the end (played to it before, the cursor stays there) or past it
    // nothing would be heard: "Play" starts again from the beginning.
    if (ws->playcount() >= timeline_end_frame() && !loop_frames(w.sampfreq()).active()) ws->setPlaycount(0);
    // The player counts the values of a second in 32 bits: a file of
    // thousands of channels (65535 at 44.1 kHz) would wrap it around.
    const int64_t values_per_second = int64_t(w.sampfreq()) * int64_t(w.nchans());
    if (values_per_second > INT32_MAX) {
        playaction->setChecked(false);
        message_box(QStringLiteral("Cannot play \"%1\": %2 channels at %3 Hz are more than playback can take.")
                        .arg(w.filename())
                        .arg(w.nchans())
                        .arg(w.sampfreq()),
                    QStringLiteral("Play"), mb::OK | mb::ICONEXCLAMATION);
        return;
    }
    MPCPlay1->setSfTot(int32_t(values_per_second));
    MPCPlay1->setNChans(w.nchans());
    // A nChans-frame excerpt per chunk: sized once here, reused while playing.
    playbuf.reserve(size_t(MPCPlay1->nChunkSamples()) + size_t(w.nchans()));
    playtimeline.clear();
    MPCPlay1->Run();
    playfile1action->setEnabled(true);
    playfile2action->setEnabled(true);
    // Between two chunks the cursor moves on by itself.
    cursortimer->start();
}

void TForm19::stop_playback() { MPCPlay1->Stop(); }

void TForm19::produce_frames(int slot, int64_t position, int frames, int16_t* out) {
    if (differenceview->playing()) return differenceview->produce(position, frames, MPCPlay1->nChans(), out);
    const TWav& w = *ws->wav(slot);
    const int N = MPCPlay1->nChans();
    const double f = ws->filefactor(slot);

    static thread_local std::vector<int32_t> chans;
    chans.resize(size_t(N));
    for (int k = 0; k < N; ++k) chans[size_t(k)] = k;
    // Timeline frame k is frame k of file 1 and frame k + offset of file 2
    // (negated when its polarity is corrected): a switch replays the same
    // moments from the other file.
    const int64_t first = position + ws->slot_offset(slot);
    const int sign = ws->slot_sign(slot);
    if (first > INT32_MAX || first + frames <= 0)
        playbuf.assign(size_t(N) * size_t(std::max(frames, 0)), 0);  // wholly outside the file
    else
        w.playchunk(chans, int32_t(std::max<int64_t>(first, INT32_MIN)), frames, playbuf);

    const bool error = ws->showerror(), normalize = ws->normalize();
    const int values = N * frames;
    for (int i = 0; i < values && size_t(i) < playbuf.size(); ++i) {
        const double v = sign * double(playbuf[size_t(i)]);
        if (error)
            out[i] = float_to_sample16(float_to_sample16(v * f) / f - v);
        else if (normalize)
            out[i] = float_to_sample16(v * f);
        else
            out[i] = int16_t(std::min(v, 32767.0));  // −(−32768) is one step beyond
    }
}

void TForm19::MPCPlay1Stash(std::vector<int16_t>& arr, int32_t& used, bool&) {
    const int s = ws->wavplayno();
    const int N = MPCPlay1->nChans();
    const int F = used / N;
    const int64_t first = MPCPlay1->StreamFrame();

    // Positions taken back by a switch come first, then the play position.
    const TLoopRange loop = loop_frames(ws->wav(s)->sampfreq());
    for (int done = 0; done < F;) {
        int64_t position = 0, frames = 0;
        if (playtimeline.next_replay(F - done, &position, &frames)) {
            produce_frames(s, position, int(frames), arr.data() + ptrdiff_t(done) * N);
            playtimeline.add(first + done, position, frames);
            done += int(frames);
            continue;
        }
        // With a loop range the rest may run to the loop's end and go on at
        // its start: one run each, so the seam neither loses nor repeats a
        // frame, and the record keeps where each run came from.
        int64_t next = 0;
        for (const TPlayPiece& p : loop_pieces(ws->playcount(), F - done, loop, &next)) {
            produce_frames(s, p.start, p.frames, arr.data() + ptrdiff_t(done) * N);
            playtimeline.add(first + done, p.start, p.frames);
            done += p.frames;
        }
        // Past the end the chunks are silent; after some thirteen hours at
        // 44.1 kHz the frame index stops growing instead of wrapping around.
        ws->setPlaycount(int32_t(std::min<int64_t>(next, INT32_MAX)));
    }
    // Whole frames only: with a channel count that does not divide the chunk
    // the rest of the chunk would hold stale values of an earlier chunk.
    used = N * F;

    show_heard_frame(first + F);
}

void TForm19::show_heard_frame(int64_t queued) {
    // The play count less what waits in the queue, as the sound server
    // reports what has been heard, through the record of where each queued
    // frame came from (so also right after a switch or a seek).
    const int64_t heard = std::min(MPCPlay1->HeardFrame(), queued);
    playtimeline.forget_before(heard);
    const std::optional<int64_t> at = playtimeline.position(heard);
    const double position = at ? double(*at) : double(ws->playcount()) - double(queued - heard);
    const TWav& w = *ws->wav(ws->wavplayno());
    if (w.sampfreq() <= 0) return;
    // At the end of the time line playback ends (a loop repeats instead),
    // rather than playing the silence queued past it.
    const double end = timeline_end_frame();
    if (position >= end && !loop_frames(w.sampfreq()).active() && MPCPlay1->OwnBoard()) {
        end_playback_at(end);
        return;
    }
    ws->setCursorpos(position / w.sampfreq());
    navigation->follow(ws->cursorpos());
}

double TForm19::timeline_end_frame() const {
    const TWav& w = *ws->wav(ws->wavplayno());
    return std::min(std::nearbyint(w.sampfreq() * ws->timeline_duration()), double(INT32_MAX));
}

void TForm19::end_playback_at(double end) {
    playaction->setChecked(false);
    playactionExecute();
    // The cursor stays on the last frame heard, the end.
    ws->setPlaycount(int32_t(end));
    ws->setCursorpos(end / ws->wav(ws->wavplayno())->sampfreq());
    navigation->follow(ws->cursorpos());
    invalidate_views(false);
}

void TForm19::MPCPlay1Closed() {
    // The notice is posted: when "Play" was used again before it arrived,
    // it belongs to the session stopped then, and the new one plays on.
    if (MPCPlay1->OwnBoard()) return;
    cursortimer->stop();
    playaction->setChecked(false);
    invalidate_views(false);
}

}  // namespace wavrell
