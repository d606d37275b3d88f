#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace kavel {

// Hands calls from worker threads to the main thread. The window application implements it on
// its event loop; QueueSynchronizer is the plain version for the command line and the tests.
// Code that waits on the main thread for a worker must keep calling DeliverPending, or a worker
// blocked in RunInMainThread can never finish.
class MainThreadSynchronizer {
public:
    virtual ~MainThreadSynchronizer() = default;

    // Runs call on the main thread and returns once it has run. Called on the main thread it
    // runs at once. An exception thrown by call is rethrown in the calling thread.
    virtual void RunInMainThread(const std::function<void()>& call) = 0;

    virtual bool IsMainThread() const = 0;

    // Main thread only: runs every call handed over so far (and, in a window application, the
    // pending window messages). When nothing is pending it waits up to maxWait for a call.
    virtual void DeliverPending(std::chrono::milliseconds maxWait = std::chrono::milliseconds(0)) = 0;
};

// A queue of calls drained by the main thread in DeliverPending. The main thread is the thread
// that created the object.
class QueueSynchronizer : public MainThreadSynchronizer {
public:
    QueueSynchronizer();
    ~QueueSynchronizer() override;

    void RunInMainThread(const std::function<void()>& call) override;
    bool IsMainThread() const override;
    void DeliverPending(std::chrono::milliseconds maxWait = std::chrono::milliseconds(0)) override;

private:
    struct Request;

    std::thread::id mainThread_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Request*> queue_;
};

// The synchroniser every engine, probe and player event goes through. Until a front end installs
// its own it is a QueueSynchronizer whose main thread is the thread that started the program.
MainThreadSynchronizer& CurrentSynchronizer();
// Installs synchronizer (not owned; it must outlive its use); nullptr restores the default.
void SetCurrentSynchronizer(MainThreadSynchronizer* synchronizer);

// Runs call through the current synchroniser: at once on the main thread, else on the main
// thread while the caller waits.
void RunInMainThread(const std::function<void()>& call);
bool IsMainThread();

// Waits until done() is true. On the main thread it keeps delivering pending calls meanwhile,
// checking done() at least every step; elsewhere it just sleeps in steps.
void WaitPumping(const std::function<bool()>& done,
                 std::chrono::milliseconds step = std::chrono::milliseconds(10));

}  // namespace kavel
