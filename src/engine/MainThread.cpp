#include "engine/MainThread.h"

#include <atomic>
#include <exception>

namespace kavel {

struct QueueSynchronizer::Request {
    const std::function<void()>* call = nullptr;
    bool done = false;
    std::exception_ptr error;
    std::condition_variable handled;
};

QueueSynchronizer::QueueSynchronizer() : mainThread_(std::this_thread::get_id()) {}

QueueSynchronizer::~QueueSynchronizer() {
    // Callers still waiting must not hang on a synchroniser that is going away.
    if (IsMainThread()) {
        DeliverPending();
    }
}

bool QueueSynchronizer::IsMainThread() const { return std::this_thread::get_id() == mainThread_; }

void QueueSynchronizer::RunInMainThread(const std::function<void()>& call) {
    if (IsMainThread()) {
        call();
        return;
    }
    Request request;
    request.call = &call;
    std::unique_lock lock(mutex_);
    queue_.push_back(&request);
    arrived_.notify_all();
    request.handled.wait(lock, [&] { return request.done; });
    if (request.error) {
        std::rethrow_exception(request.error);
    }
}

void QueueSynchronizer::DeliverPending(std::chrono::milliseconds maxWait) {
    if (!IsMainThread()) {
        return;
    }
    std::unique_lock lock(mutex_);
    if (queue_.empty() && maxWait.count() > 0) {
        arrived_.wait_for(lock, maxWait, [&] { return !queue_.empty(); });
    }
    while (!queue_.empty()) {
        Request* request = queue_.front();
        queue_.pop_front();
        lock.unlock();
        // A call may itself hand work over or deliver pending calls; no lock is held meanwhile.
        try {
            (*request->call)();
        } catch (...) {
            request->error = std::current_exception();
        }
        lock.lock();
        request->done = true;
        request->handled.notify_all();
    }
}

namespace {

QueueSynchronizer& DefaultSynchronizer() {
    // Never destroyed: workers may still hand calls over while the program ends.
    static QueueSynchronizer* synchronizer = new QueueSynchronizer;
    return *synchronizer;
}

// Built during static initialisation, so its main thread is the one that starts the program.
[[maybe_unused]] QueueSynchronizer& defaultAtStart = DefaultSynchronizer();

std::atomic<MainThreadSynchronizer*> current{nullptr};

}  // namespace

MainThreadSynchronizer& CurrentSynchronizer() {
    MainThreadSynchronizer* synchronizer = current.load();
    return synchronizer ? *synchronizer : DefaultSynchronizer();
}

void SetCurrentSynchronizer(MainThreadSynchronizer* synchronizer) { current.store(synchronizer); }

void RunInMainThread(const std::function<void()>& call) { CurrentSynchronizer().RunInMainThread(call); }

bool IsMainThread() { return CurrentSynchronizer().IsMainThread(); }

void WaitPumping(const std::function<bool()>& done, std::chrono::milliseconds step) {
    while (!done()) {
        MainThreadSynchronizer& synchronizer = CurrentSynchronizer();
        if (synchronizer.IsMainThread()) {
            synchronizer.DeliverPending(step);
        } else {
            std::this_thread::sleep_for(step);
        }
    }
}

}  // namespace kavel
