#include "player/EventRing.h"

namespace kavel {

void EventRing::Post(const PlayerEvent& event) {
    std::lock_guard lock(mutex_);
    const bool coalesce = readIndex_ != writeIndex_ && entries_[writeIndex_].Kind == event.Kind;
    if (!coalesce) {
        writeIndex_ = (writeIndex_ + 1) % Capacity;
        if (writeIndex_ == readIndex_) {
            readIndex_ = (readIndex_ + 1) % Capacity;
        }
    }
    entries_[writeIndex_] = event;
    pending_ = true;
    pendingChanged_.notify_all();
}

bool EventRing::Take(PlayerEvent& event) {
    std::lock_guard lock(mutex_);
    if (readIndex_ == writeIndex_) {
        pending_ = false;
        return false;
    }
    readIndex_ = (readIndex_ + 1) % Capacity;
    event = entries_[readIndex_];
    if (readIndex_ == writeIndex_) {
        pending_ = false;
    }
    return true;
}

bool EventRing::WaitPending(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return pendingChanged_.wait_for(lock, timeout, [this] { return pending_; });
}

void EventRing::Wake() {
    std::lock_guard lock(mutex_);
    pending_ = true;
    pendingChanged_.notify_all();
}

void EventRing::Clear() {
    std::lock_guard lock(mutex_);
    readIndex_ = writeIndex_ = 0;
    pending_ = false;
}

int EventRing::Count() const {
    std::lock_guard lock(mutex_);
    return (writeIndex_ - readIndex_ + Capacity) % Capacity;
}

}  // namespace kavel
