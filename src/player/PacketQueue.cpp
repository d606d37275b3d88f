#include "player/PacketQueue.h"

extern "C" {
#include <libavcodec/packet.h>
}

namespace kavel {

void PacketFree::operator()(AVPacket* packet) const { av_packet_free(&packet); }

namespace {

int64_t EntrySize(const QueuedPacket& entry) {
    return (entry.Packet ? entry.Packet->size : 0) + PacketQueue::NodeOverhead;
}

}  // namespace

void PacketQueue::Start() {
    std::lock_guard lock(mutex_);
    entries_.clear();
    size_ = 0;
    aborted_ = false;
}

void PacketQueue::Append(QueuedPacket entry, int64_t size) {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
    size_ += size;
    arrived_.notify_all();
}

void PacketQueue::Put(AVPacket& packet) {
    QueuedPacket entry;
    entry.Packet.reset(av_packet_alloc());
    if (!entry.Packet) {
        av_packet_unref(&packet);
        return;
    }
    av_packet_move_ref(entry.Packet.get(), &packet);
    const int64_t size = EntrySize(entry);
    Append(std::move(entry), size);
}

void PacketQueue::PutFlush() {
    QueuedPacket entry;
    entry.Kind = PacketKind::Flush;
    Append(std::move(entry), NodeOverhead);
}

void PacketQueue::PutEndOfInput() {
    QueuedPacket entry;
    entry.Kind = PacketKind::EndOfInput;
    Append(std::move(entry), NodeOverhead);
}

int PacketQueue::Get(QueuedPacket& entry, bool block) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (aborted_) {
            return -1;
        }
        if (!entries_.empty()) {
            entry = std::move(entries_.front());
            entries_.pop_front();
            size_ -= EntrySize(entry);
            return 1;
        }
        if (!block) {
            return 0;
        }
        arrived_.wait(lock);
    }
}

void PacketQueue::Abort() {
    std::lock_guard lock(mutex_);
    aborted_ = true;
    arrived_.notify_all();
}

void PacketQueue::Flush() {
    std::deque<QueuedPacket> dropped;
    {
        std::lock_guard lock(mutex_);
        dropped.swap(entries_);
        size_ = 0;
    }
}

bool PacketQueue::Aborted() const {
    std::lock_guard lock(mutex_);
    return aborted_;
}

int PacketQueue::Count() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(entries_.size());
}

int64_t PacketQueue::Size() const {
    std::lock_guard lock(mutex_);
    return size_;
}

}  // namespace kavel
