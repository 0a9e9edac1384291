// The runs of frames a chunk holds while playback repeats a loop.

#include "workspace/loop_range.h"

#include <gtest/gtest.h>

#include <vector>

namespace wavrell {
namespace {

// Follows many chunks through a loop and checks that the frames form the
// loop repeated: after the loop's last frame comes its first, nothing is
// lost or doubled, whatever the chunk size against the loop length.
TEST(LoopRange, ChunksRepeatTheLoopFrameByFrame) {
    struct Case {
        int64_t start;
        int chunk;
        TLoopRange loop;
    };
    const Case cases[] = {
        {0, 2048, {1000, 67150}},      // from before the loop, 1.5 s at 44.1 kHz
        {50000, 2048, {1000, 67150}},  // from inside
        {90000, 2048, {1000, 67150}},  // from after: straight to the start
        {0, 2048, {0, 1000}},          // a loop shorter than a chunk
        {5, 3, {5, 6}},                // one frame
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.start << " " << c.chunk << " [" << c.loop.from << ", " << c.loop.to << ")");
        int64_t pos = c.start, expected = c.start >= c.loop.to ? c.loop.from : c.start;
        int wraps = 0;
        for (int n = 0; n < 200; ++n) {
            int64_t next = 0;
            bool wrapped = false;
            const auto pieces = loop_pieces(pos, c.chunk, c.loop, &next, &wrapped);
            int total = 0;
            for (const TPlayPiece& p : pieces) {
                ASSERT_GT(p.frames, 0);
                ASSERT_EQ(p.start, expected);
                ASSERT_LE(p.start + p.frames, c.loop.to);
                expected = p.start + p.frames;
                if (expected == c.loop.to) expected = c.loop.from;
                total += p.frames;
            }
            ASSERT_EQ(total, c.chunk);
            ASSERT_EQ(next, expected);
            wraps += wrapped;
            pos = next;
        }
        EXPECT_GT(wraps, 0);
    }
    // No loop: one run, on and on.
    int64_t next = 0;
    const auto plain = loop_pieces(70000, 2048, TLoopRange{}, &next);
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_EQ(plain[0].start, 70000);
    EXPECT_EQ(next, 72048);
}

}  // namespace
}  // namespace wavrell
