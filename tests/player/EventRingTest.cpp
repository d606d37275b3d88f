#include <gtest/gtest.h>

#include <vector>

#include "player/EventRing.h"

namespace kavel {
namespace {

PlayerEvent Position(int64_t pts) { return {PlayerEventKind::Position, psPlay, pts}; }
PlayerEvent State(PlayState state) { return {PlayerEventKind::State, state, 0}; }

std::vector<PlayerEvent> Drain(EventRing& ring) {
    std::vector<PlayerEvent> taken;
    PlayerEvent event;
    while (ring.Take(event)) {
        taken.push_back(event);
    }
    return taken;
}

TEST(EventRingTest, BurstOfOneKindKeepsTheLatest) {
    EventRing ring;
    ring.Post(Position(100));
    ring.Post(Position(200));
    const auto taken = Drain(ring);
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].PTS, 200);
}

TEST(EventRingTest, StateBetweenPositionsKeepsAllThree) {
    EventRing ring;
    ring.Post(Position(100));
    ring.Post(State(psPause));
    ring.Post(Position(200));
    const auto taken = Drain(ring);
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_EQ(taken[0].PTS, 100);
    EXPECT_EQ(taken[1].Kind, PlayerEventKind::State);
    EXPECT_EQ(taken[1].State, psPause);
    EXPECT_EQ(taken[2].PTS, 200);
}

TEST(EventRingTest, MoreThanNineEntriesDropTheOldest) {
    EventRing ring;
    for (int i = 0; i < 12; ++i) {
        if (i % 2 == 0) {
            ring.Post(Position(i));
        } else {
            ring.Post(State(psResume));
        }
    }
    EXPECT_EQ(ring.Count(), EventRing::Capacity - 1);
    const auto taken = Drain(ring);
    ASSERT_EQ(taken.size(), 9u);
    // Entries 0, 1 and 2 were dropped; entry 3 (a state) is now the oldest.
    EXPECT_EQ(taken.front().Kind, PlayerEventKind::State);
    EXPECT_EQ(taken.back().Kind, PlayerEventKind::State);
    EXPECT_EQ(taken[1].PTS, 4);
}

TEST(EventRingTest, PendingFollowsTheEntries) {
    EventRing ring;
    EXPECT_FALSE(ring.WaitPending(std::chrono::milliseconds(0)));
    ring.Post(State(psPlay));
    EXPECT_TRUE(ring.WaitPending(std::chrono::milliseconds(0)));
    Drain(ring);
    EXPECT_FALSE(ring.WaitPending(std::chrono::milliseconds(0)));
}

}  // namespace
}  // namespace kavel
