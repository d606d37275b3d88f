#include "engine/RowBands.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kavel {

namespace {

constexpr int64_t MinPixelsPerBand = 64 * 1024;
constexpr int MaxBands = 8;

// Set on helper threads and on a caller while its bands run: work that splits again runs
// inline instead of starting helpers of helpers or re-entering a round in progress.
thread_local bool insideBands = false;

int ProcessorCount() {
    static const int count = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, MaxBands);
    return count;
}

// The helper threads of one calling thread. A round hands every helper one band; the caller
// works band 0 and then waits for the helpers' bands. The rounds of one picture follow each
// other within a fraction of a millisecond (conversion, effects, conversion back), so both
// sides spin briefly before they sleep: waking a sleeping thread costs about as much as a band.
class BandHelpers {
public:
    explicit BandHelpers(int helperCount) {
        threads_.reserve(helperCount);
        for (int i = 0; i < helperCount; ++i)
            threads_.emplace_back([this, i] { Serve(i + 1); });
    }

    ~BandHelpers() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::thread& thread : threads_)
            thread.join();
    }

    // Runs band(index) for index 0 .. bandCount - 1; bandCount - 1 must not exceed the number
    // of helpers.
    void Run(int bandCount, const std::function<void(int)>& band) {
        {
            std::lock_guard lock(mutex_);
            band_ = &band;
            bandCount_ = bandCount;
            pending_.store(bandCount - 1, std::memory_order_relaxed);
            error_ = nullptr;
            round_.store(round_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
        }
        wake_.notify_all();
        std::exception_ptr own;
        try {
            band(0);
        } catch (...) {
            own = std::current_exception();
        }
        SpinUntil([this] { return pending_.load(std::memory_order_acquire) == 0; });
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return pending_.load(std::memory_order_acquire) == 0; });
        band_ = nullptr;
        if (own)
            std::rethrow_exception(own);
        if (error_)
            std::rethrow_exception(error_);
    }

private:
    static constexpr auto SpinTime = std::chrono::microseconds(100);

    template <typename Condition>
    static bool SpinUntil(Condition condition) {
        const auto until = std::chrono::steady_clock::now() + SpinTime;
        do {
            for (int i = 0; i < 64; ++i) {
                if (condition())
                    return true;
            }
            std::this_thread::yield();
        } while (std::chrono::steady_clock::now() < until);
        return condition();
    }

    void Serve(int index) {
        insideBands = true;
        uint64_t seen = 0;
        for (;;) {
            SpinUntil([&] { return round_.load(std::memory_order_acquire) != seen; });
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || round_.load(std::memory_order_relaxed) != seen; });
            if (stopping_)
                return;
            seen = round_.load(std::memory_order_relaxed);
            if (index >= bandCount_)
                continue;
            const std::function<void(int)>* band = band_;
            lock.unlock();
            std::exception_ptr error;
            try {
                (*band)(index);
            } catch (...) {
                error = std::current_exception();
            }
            lock.lock();
            if (error && !error_)
                error_ = error;
            if (pending_.fetch_sub(1, std::memory_order_acq_rel) == 1)
                done_.notify_one();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::vector<std::thread> threads_;
    const std::function<void(int)>* band_ = nullptr;  // guarded by mutex_
    int bandCount_ = 0;                                 // guarded by mutex_
    std::atomic<int> pending_{0};
    std::atomic<uint64_t> round_{0};
    bool stopping_ = false;  // guarded by mutex_
    std::exception_ptr error_;  // guarded by mutex_
};

BandHelpers& HelpersOfThisThread() {
    thread_local std::unique_ptr<BandHelpers> helpers;
    if (!helpers)
        helpers = std::make_unique<BandHelpers>(ProcessorCount() - 1);
    return *helpers;
}

}  // namespace

void RunInRowBands(int rows, int rowStep, int64_t pixelsPerRow, const std::function<void(int, int)>& work) {
    if (rows <= 0)
        return;
    rowStep = std::max(rowStep, 1);
    const int64_t steps = (rows + rowStep - 1) / rowStep;
    const int64_t bySize = std::max<int64_t>(1, int64_t{rows} * std::max<int64_t>(pixelsPerRow, 1) / MinPixelsPerBand);
    const int bandCount = static_cast<int>(std::min<int64_t>({ProcessorCount(), bySize, steps}));
    if (bandCount <= 1 || insideBands) {
        work(0, rows);
        return;
    }
    // Whole steps shared out as evenly as they go; the last band also takes a short last step.
    auto edge = [&](int band) {
        return static_cast<int>(std::min<int64_t>(rows, steps * band / bandCount * rowStep));
    };
    BandHelpers& helpers = HelpersOfThisThread();
    insideBands = true;
    struct Leave {
        ~Leave() { insideBands = false; }
    } leave;
    helpers.Run(bandCount, [&](int band) {
        const int first = edge(band);
        const int end = band + 1 == bandCount ? rows : edge(band + 1);
        if (first < end)
            work(first, end);
    });
}

}  // namespace kavel
