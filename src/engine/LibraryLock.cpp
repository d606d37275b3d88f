#include "engine/LibraryLock.h"

#include "engine/MainThread.h"

namespace kavel {

std::recursive_mutex& LibraryMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

std::recursive_mutex& PreviewMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

ScopedProcessLock::ScopedProcessLock(std::recursive_mutex& mutex) : mutex_(mutex) {
    MainThreadSynchronizer& synchronizer = CurrentSynchronizer();
    if (!synchronizer.IsMainThread()) {
        mutex_.lock();
        return;
    }
    while (!mutex_.try_lock()) {
        synchronizer.DeliverPending(std::chrono::milliseconds(1));
    }
}

ScopedProcessLock::~ScopedProcessLock() { mutex_.unlock(); }

}  // namespace kavel
