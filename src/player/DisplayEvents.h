#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

namespace kavel {

// The events of a player's display loop. The first four keep the numbers they have always had
// in the display protocol; the surface adds resize and expose.
enum class DisplayEventType {
    AllocPicture = 24,
    Refresh = 25,
    Quit = 26,
    AspectChanged = 27,
    Resized = 100,
    Exposed = 101,
};

struct DisplayEvent {
    DisplayEventType Type = DisplayEventType::Refresh;
    int Width = 0;   // Resized only
    int Height = 0;  // Resized only
};

// The queue the play thread waits on. Every member may be called from any thread.
class DisplayEventQueue {
public:
    void Post(const DisplayEvent& event) {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
        arrived_.notify_one();
    }
    DisplayEvent Wait() {
        std::unique_lock lock(mutex_);
        arrived_.wait(lock, [this] { return !events_.empty(); });
        const DisplayEvent event = events_.front();
        events_.pop_front();
        return event;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<DisplayEvent> events_;
};

}  // namespace kavel
