#pragma once

#include <cstdint>
#include <vector>

namespace wavrell {

/// A stretch of sample frames [from, to) that playback repeats; inactive
/// while empty.
struct TLoopRange {
    int64_t from = 0;
    int64_t to = 0;
    bool active() const { return to > from && from >= 0; }
    int64_t length() const { return to - from; }
};

/// A run of `frames` consecutive frames of a file from frame `start`.
struct TPlayPiece {
    int64_t start = 0;
    int frames = 0;
};

/// The runs of frames that one chunk of `frames` frames holds when playback
/// at frame `pos` repeats `loop`: at the loop's end (or at any position at
/// or after it) playback goes on at the loop's start, within the chunk, so
/// that the seam neither loses nor repeats a frame. Without an active loop
/// it is the one run from `pos`. *next receives the play position after the
/// chunk, *wrapped whether the chunk went back to the loop's start.
std::vector<TPlayPiece> loop_pieces(int64_t pos, int frames, const TLoopRange& loop, int64_t* next,
                                    bool* wrapped = nullptr);

}  // namespace wavrell
