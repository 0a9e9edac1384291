#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace wavrell {

/// Where the frames handed to the player came from. The playback feeding
/// notes, for every stretch of a chunk, the stream frame it begins at
/// (frames counted from the player's Run) and the play position (frame of
/// the files' common time line) of its first frame. The cursor looks up the
/// position of the frame being heard; a switch takes back the stretches
/// from the seam on, which the feeding then produces again, from the other
/// file, at the same positions, before it goes on at playcount. So a switch
/// changes the file heard, never the time line: not after a seek, a load or
/// (with a producer that wraps) a loop either.
///
/// Neighbouring stretches that continue each other merge, so a few places
/// hold everything between two jumps of the play position. Capacity is
/// fixed at construction: nothing is allocated afterwards; when full, the
/// oldest stretch is forgotten. GUI thread.
class TPlayTimeline {
public:
    struct Stretch {
        int64_t stream = 0;    ///< first stream frame
        int64_t position = 0;  ///< its play position
        int64_t frames = 0;
    };

    explicit TPlayTimeline(size_t capacity = 64);

    /// Forgets everything (a new playback begins at stream frame 0).
    void clear();
    /// Stream frames [stream, stream + frames) came from play positions
    /// [position, position + frames). Replaces whatever was noted from
    /// `stream` on.
    void add(int64_t stream, int64_t position, int64_t frames);
    /// The play position of a stream frame; none when it was never noted or
    /// has been forgotten.
    std::optional<int64_t> position(int64_t stream) const;
    /// Forgets the stretches that end at or before stream frame `stream`
    /// (heard already): keeps the record short.
    void forget_before(int64_t stream);

    /// Takes back what was noted from stream frame `stream` on: its
    /// positions are handed out again by next_replay, in order, ahead of
    /// any taken back earlier and not yet produced again.
    void take_back(int64_t stream);
    /// The next stretch of positions to produce again, at most `frames`
    /// long: true with *position and *count set, false when none waits.
    bool next_replay(int64_t frames, int64_t* position, int64_t* count);
    /// Stretches waiting to be produced again, in order.
    const std::vector<Stretch>& replay() const { return freplay; }
    /// The stretches noted, oldest first.
    const std::vector<Stretch>& noted() const { return fnoted; }

private:
    size_t fcapacity;
    std::vector<Stretch> fnoted;   // ascending, adjacent in stream frames
    std::vector<Stretch> freplay;  // front first; `stream` unused
};

}  // namespace wavrell
