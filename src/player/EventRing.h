#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "player/PlayState.h"

namespace kavel {

enum class PlayerEventKind { Position = 1, State = 2, EndOfDelivery = 3 };

struct PlayerEvent {
    PlayerEventKind Kind = PlayerEventKind::Position;
    PlayState State = psPlay;
    int64_t PTS = 0;
};

// The events waiting for the player's event thread. A burst of one kind keeps only its latest
// entry, so a slow handler sees the newest position instead of a backlog; at most Capacity - 1
// entries wait, the oldest being dropped. Every member may be called from any thread.
class EventRing {
public:
    static constexpr int Capacity = 10;

    // Overwrites the latest entry when it has the same kind, else appends (dropping the oldest
    // when full), and sets the pending flag.
    void Post(const PlayerEvent& event);
    // The oldest entry; false when there is none. Clears the pending flag once the ring is empty.
    bool Take(PlayerEvent& event);
    // Waits until the pending flag is set; false after timeout.
    bool WaitPending(std::chrono::milliseconds timeout);
    // Sets the pending flag without an entry (wakes the event thread to look at its stop flag).
    void Wake();
    void Clear();
    int Count() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable pendingChanged_;
    std::array<PlayerEvent, Capacity> entries_{};
    int readIndex_ = 0;   // the slot before the oldest entry
    int writeIndex_ = 0;  // the latest entry; equal indexes mean empty
    bool pending_ = false;
};

}  // namespace kavel
