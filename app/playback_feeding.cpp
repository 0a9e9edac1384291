// Playback: the "Play" commands and the player's requests for chunks, taken
// from whichever file is being played at the play position, level-matched
// or replaced by the error of level matching.
#include "app/main_window.h"

#include "workspace/workspace.h"
#include "audio/mpc_play.h"
#include "audio/wav_file.h"
#include "common/number_text.h"

#include <QAction>

#include <algorithm>
#include <climits>
#include <cstdint>

namespace wavrell {

void TForm19::playactionExecute() {
    if (!playaction->isChecked()) {
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
    MPCPlay1->setSfTot(w.sampfreq() * w.nchans());
    MPCPlay1->setNChans(w.nchans());
    // A nChans-frame excerpt per chunk: sized once here, reused while playing.
    playbuf.reserve(size_t(MPCPlay1->nChunkSamples()) + size_t(w.nchans()));
    floopwrapped = false;
    MPCPlay1->Run();
    playfile1action->setEnabled(true);
    playfile2action->setEnabled(true);
}

void TForm19::stop_playback() { MPCPlay1->Stop(); }

void TForm19::MPCPlay1Stash(std::vector<int16_t>& arr, int32_t& used, bool&) {
    const int s = ws->wavplayno();
    const TWav& w = *ws->wav(s);
    const int N = MPCPlay1->nChans();
    const int F = used / N;
    const double f = ws->filefactor(s);

    static thread_local std::vector<int32_t> chans;
    chans.resize(size_t(N));
    for (int k = 0; k < N; ++k) chans[size_t(k)] = k;
    // Timeline frame k is frame k of file 1 and frame k + offset of file 2
    // (negated when its polarity is corrected): switching keeps the moment.
    const int64_t offset = ws->slot_offset(s);
    const int sign = ws->slot_sign(s);
    const auto excerpt = [&](int64_t start, int frames, tsmallintarr& into) {
        const int64_t first = start + offset;
        if (first > INT32_MAX || first + frames <= 0)
            into.assign(size_t(N) * size_t(frames), 0);  // wholly outside the file
        else
            w.playchunk(chans, int32_t(std::max<int64_t>(first, INT32_MIN)), frames, into);
    };
    // With a loop range the chunk may run to the loop's end and go on at its
    // start: one excerpt per run, so the seam neither loses nor repeats a frame.
    const TLoopRange loop = loop_frames(w.sampfreq());
    int64_t next = 0;
    bool wrapped = false;
    const std::vector<TPlayPiece> pieces = loop_pieces(ws->playcount(), F, loop, &next, &wrapped);
    if (pieces.size() == 1) {
        excerpt(pieces[0].start, pieces[0].frames, playbuf);
    } else {
        static thread_local tsmallintarr piece;
        playbuf.clear();
        for (const TPlayPiece& p : pieces) {
            excerpt(p.start, p.frames, piece);
            playbuf.insert(playbuf.end(), piece.begin(), piece.end());
        }
    }
    floopwrapped = floopwrapped || wrapped;

    // Whole frames only: with a channel count that does not divide the chunk
    // the rest of the chunk would hold stale values of an earlier chunk.
    used = N * F;
    const bool error = ws->showerror(), normalize = ws->normalize();
    for (int i = 0; i < used && size_t(i) < playbuf.size(); ++i) {
        const double v = sign * double(playbuf[size_t(i)]);
        if (error)
            arr[size_t(i)] = float_to_sample16(float_to_sample16(v * f) / f - v);
        else if (normalize)
            arr[size_t(i)] = float_to_sample16(v * f);
        else
            arr[size_t(i)] = int16_t(std::min(v, 32767.0));  // −(−32768) is one step beyond
    }
    // Past the end the chunks are silent; after some thirteen hours at
    // 44.1 kHz the frame index stops growing instead of wrapping around.
    ws->setPlaycount(int32_t(std::min<int64_t>(next, INT32_MAX)));
    // The chunk now heard lies nBuffers − 1 chunks behind the one just filled
    // (within the loop, once playback has gone round it).
    const int64_t queued = int64_t(MPCPlay1->nBuffers() - 1) * MPCPlay1->nChunkSamples();
    if (w.sampfreq() > 0) {
        double heard = ws->playcount() - double(queued) / N;
        if (loop.active() && floopwrapped)
            heard = double(loop_heard_position(ws->playcount(), queued / N, loop)) - double(queued % N) / N;
        ws->setCursorpos(heard / w.sampfreq());
    }
}

void TForm19::MPCPlay1Closed() {
    // The notice is posted: when "Play" was used again before it arrived,
    // it belongs to the session stopped then, and the new one plays on.
    if (MPCPlay1->OwnBoard()) return;
    playaction->setChecked(false);
    invalidate_views(false);
    if (abxpanel) abx_show_state();
}

}  // namespace wavrell
