#include "workspace/play_timeline.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace wavrell {
namespace {

using Replay = std::vector<std::pair<int64_t, int64_t>>;  // position, frames

// Everything waiting to be produced again, in pieces of at most `piece`.
Replay drain(TPlayTimeline& t, int64_t piece) {
    Replay out;
    int64_t position = 0, frames = 0;
    while (t.next_replay(piece, &position, &frames)) out.emplace_back(position, frames);
    return out;
}

// Chunks that continue each other merge; a jump of the play position (a
// seek) starts a new stretch; noting from an earlier stream frame replaces
// what was noted from there on.
TEST(PlayTimelineTest, NotesAndLooksUpPositions) {
    TPlayTimeline t;
    t.add(0, 1000, 100);
    t.add(100, 1100, 100);
    t.add(200, 5000, 50);
    ASSERT_EQ(t.noted().size(), 2u);
    EXPECT_EQ(t.noted()[0].frames, 200);
    EXPECT_EQ(t.position(0), 1000);
    EXPECT_EQ(t.position(199), 1199);
    EXPECT_EQ(t.position(200), 5000);
    EXPECT_EQ(t.position(249), 5049);
    EXPECT_EQ(t.position(250), std::nullopt);
    EXPECT_EQ(t.position(-1), std::nullopt);

    t.add(150, 7000, 10);
    EXPECT_EQ(t.position(149), 1149);
    EXPECT_EQ(t.position(150), 7000);
    EXPECT_EQ(t.position(160), std::nullopt);

    // Heard stretches are forgotten; the one being heard stays whole.
    t.forget_before(155);
    EXPECT_EQ(t.position(149), std::nullopt);
    EXPECT_EQ(t.position(150), 7000);
    t.clear();
    EXPECT_EQ(t.position(150), std::nullopt);
    int64_t p = 0, n = 0;
    EXPECT_FALSE(t.next_replay(10, &p, &n));
}

// A switch takes back from a stream frame inside a stretch: the part before
// stays noted, the positions from there on come back in order, across a
// seek, and a second switch before they have all been produced again puts
// its positions in front of the rest, so the time line stays unbroken.
TEST(PlayTimelineTest, TakesBackAndReplaysInOrder) {
    TPlayTimeline t;
    t.add(0, 1000, 100);
    t.add(100, 5000, 100);
    t.take_back(50);
    EXPECT_EQ(t.position(49), 1049);
    EXPECT_EQ(t.position(50), std::nullopt);
    EXPECT_EQ(t.replay().size(), 2u);

    // The feeding produces 30 frames again, then the next switch comes.
    int64_t p = 0, n = 0;
    ASSERT_TRUE(t.next_replay(30, &p, &n));
    EXPECT_EQ(std::make_pair(p, n), std::make_pair(int64_t(1050), int64_t(30)));
    t.add(50, p, n);
    t.take_back(60);
    EXPECT_EQ(t.position(59), 1059);
    EXPECT_EQ(drain(t, 15), (Replay{{1060, 15}, {1075, 5}, {1080, 15}, {1095, 5}, {5000, 15}, {5015, 15},
                                    {5030, 15}, {5045, 15}, {5060, 15}, {5075, 15}, {5090, 10}}));

    // Taking back at the end of what was noted gives nothing to replay.
    t.add(60, 1060, 40);
    t.take_back(100);
    EXPECT_TRUE(t.replay().empty());
    EXPECT_EQ(t.position(99), 1099);
}

// With the record full the oldest stretch goes; nothing else changes.
TEST(PlayTimelineTest, FullRecordForgetsTheOldest) {
    TPlayTimeline t(2);
    t.add(0, 100, 10);
    t.add(10, 500, 10);
    t.add(20, 900, 10);
    EXPECT_EQ(t.position(5), std::nullopt);
    EXPECT_EQ(t.position(15), 505);
    EXPECT_EQ(t.position(25), 905);
}

}  // namespace
}  // namespace wavrell
