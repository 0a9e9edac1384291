#include "workspace/loop_range.h"

#include <algorithm>

namespace wavrell {

std::vector<TPlayPiece> loop_pieces(int64_t pos, int frames, const TLoopRange& loop, int64_t* next, bool* wrapped) {
    std::vector<TPlayPiece> pieces;
    if (wrapped) *wrapped = false;
    if (!loop.active()) {
        if (frames > 0) pieces.push_back({pos, frames});
        *next = pos + std::max(frames, 0);
        return pieces;
    }
    int left = frames;
    while (left > 0) {
        if (pos >= loop.to) {
            pos = loop.from;
            if (wrapped) *wrapped = true;
        }
        // Before the loop, playback runs into it; within it, up to its end.
        const int n = int(std::min<int64_t>(left, loop.to - pos));
        pieces.push_back({pos, n});
        pos += n;
        left -= n;
    }
    if (pos >= loop.to) {
        pos = loop.from;
        if (wrapped) *wrapped = true;
    }
    *next = pos;
    return pieces;
}

}  // namespace wavrell
