#include "engine/MainThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "engine/LibraryLock.h"

namespace kavel {
namespace {

TEST(MainThreadTest, WorkerCallRunsOnMainThreadWhileMainPumps) {
    QueueSynchronizer synchronizer;
    const std::thread::id mainId = std::this_thread::get_id();
    std::thread::id ranOn;
    std::atomic<bool> workerDone{false};
    bool returnedAfterRun = false;

    std::thread worker([&] {
        bool ran = false;
        synchronizer.RunInMainThread([&] {
            ranOn = std::this_thread::get_id();
            ran = true;
        });
        returnedAfterRun = ran;
        workerDone = true;
    });
    while (!workerDone) {
        synchronizer.DeliverPending(std::chrono::milliseconds(5));
    }
    worker.join();

    EXPECT_EQ(ranOn, mainId);
    EXPECT_TRUE(returnedAfterRun);
    EXPECT_TRUE(synchronizer.IsMainThread());
}

TEST(MainThreadTest, CallOnMainThreadRunsAtOnce) {
    QueueSynchronizer synchronizer;
    int runs = 0;
    synchronizer.RunInMainThread([&] { ++runs; });
    EXPECT_EQ(runs, 1);
}

TEST(MainThreadTest, ExceptionReachesTheWaitingWorker) {
    QueueSynchronizer synchronizer;
    std::atomic<bool> workerDone{false};
    std::string caught;
    std::thread worker([&] {
        try {
            synchronizer.RunInMainThread([] { throw std::runtime_error("handler failed"); });
        } catch (const std::runtime_error& error) {
            caught = error.what();
        }
        workerDone = true;
    });
    while (!workerDone) {
        synchronizer.DeliverPending(std::chrono::milliseconds(5));
    }
    worker.join();
    EXPECT_EQ(caught, "handler failed");
}

TEST(MainThreadTest, WaitPumpingServesTheDefaultSynchronizer) {
    std::atomic<bool> workerDone{false};
    bool onMain = false;
    std::thread worker([&] {
        RunInMainThread([&] { onMain = IsMainThread(); });
        workerDone = true;
    });
    WaitPumping([&] { return workerDone.load(); });
    worker.join();
    EXPECT_TRUE(onMain);
}

// A worker holding the library lock waits for the main thread; the main thread asking for the
// same lock must keep serving it instead of blocking.
TEST(MainThreadTest, LibraryLockOnMainThreadKeepsDelivering) {
    std::atomic<bool> workerHoldsLock{false};
    std::atomic<bool> workerDone{false};
    std::thread worker([&] {
        LibraryLock lock;
        workerHoldsLock = true;
        RunInMainThread([] {});
        workerDone = true;
    });
    while (!workerHoldsLock) {
        std::this_thread::yield();
    }
    {
        LibraryLock lock;
        EXPECT_TRUE(workerDone);
    }
    worker.join();
}

}  // namespace
}  // namespace kavel
