#pragma once

#include <mutex>

namespace kavel {

// The process-wide lock for library calls that are not thread-safe: stream-parameter probing and
// codec open and close, for the engine, the prober and the player alike. Recursive.
std::recursive_mutex& LibraryMutex();
// The process-wide lock of the engine's previews and of the preview flags of all tasks.
std::recursive_mutex& PreviewMutex();

// Scoped holder of one of the locks above. Taken on the main thread it keeps delivering pending
// main-thread calls while it waits, because the holder may be a worker that is itself waiting
// for the main thread (a log line written while a codec opens, say).
class ScopedProcessLock {
public:
    explicit ScopedProcessLock(std::recursive_mutex& mutex);
    ~ScopedProcessLock();
    ScopedProcessLock(const ScopedProcessLock&) = delete;
    ScopedProcessLock& operator=(const ScopedProcessLock&) = delete;

private:
    std::recursive_mutex& mutex_;
};

// { LibraryLock lock; avcodec_open2(...); }
class LibraryLock : public ScopedProcessLock {
public:
    LibraryLock() : ScopedProcessLock(LibraryMutex()) {}
};

class PreviewLock : public ScopedProcessLock {
public:
    PreviewLock() : ScopedProcessLock(PreviewMutex()) {}
};

}  // namespace kavel
