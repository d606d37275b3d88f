#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

struct AVPacket;

namespace kavel {

struct PacketFree {
    void operator()(AVPacket* packet) const;
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

// Flush tells a decoder that a seek happened; EndOfInput makes it hand out its last pictures.
enum class PacketKind { Data, Flush, EndOfInput };

struct QueuedPacket {
    PacketKind Kind = PacketKind::Data;
    PacketPtr Packet;  // set for Data only
};

// The packets read for one stream and not yet decoded, between the read thread and a decoder.
// Every member may be called from any thread.
class PacketQueue {
public:
    // Bytes counted per queued packet on top of its data, so that many tiny packets still fill
    // the queue.
    static constexpr int64_t NodeOverhead = 72;

    PacketQueue() = default;
    ~PacketQueue() = default;
    PacketQueue(const PacketQueue&) = delete;
    PacketQueue& operator=(const PacketQueue&) = delete;

    // Empties the queue and clears the abort flag, ready for a stream.
    void Start();
    // Takes over the packet's data (the packet is left blank).
    void Put(AVPacket& packet);
    void PutFlush();
    void PutEndOfInput();

    // -1 once aborted, 1 with the oldest entry, 0 when empty and not blocking (with block it
    // waits for an entry or the abort).
    int Get(QueuedPacket& entry, bool block);
    // Wakes every waiter; Get answers -1 from now on.
    void Abort();
    // Frees every waiting packet.
    void Flush();

    bool Aborted() const;
    int Count() const;
    int64_t Size() const;

private:
    void Append(QueuedPacket entry, int64_t size);

    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<QueuedPacket> entries_;
    int64_t size_ = 0;
    bool aborted_ = false;
};

}  // namespace kavel
