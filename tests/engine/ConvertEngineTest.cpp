#include "engine/ConvertEngine.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/EngineLogger.h"
#include "engine/FFmpegException.h"
#include "engine/MainThread.h"
#include "engine/ThreadPriority.h"
#include "probe/MediaProbe.h"
#include "support/MediaFixtures.h"

namespace kavel {
namespace {

using fixtures::MakeMedia;
using fixtures::MediaParams;
using fixtures::TempPath;

// A generous bound for waits that only fail when the engine hangs.
constexpr auto HangLimit = std::chrono::seconds(30);

// Waits for done() while delivering main-thread calls, as a front end's event loop would.
bool PumpUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + HangLimit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        CurrentSynchronizer().DeliverPending(std::chrono::milliseconds(5));
    }
    return true;
}

// A short clip: 10 frames of 160x120 carrying their frame counters.
std::string ShortClip() { return MakeMedia({.Seconds = 0.4}); }
constexpr int ShortClipFrames = 10;
// Long enough that a pause lands in its middle.
std::string LongerClip() { return MakeMedia({.Seconds = 2.0}); }
constexpr int LongerClipFrames = 50;

struct Event {
    enum Kind { Hook, Progress, Preview, Terminate };
    Kind kind = Hook;
    int task = 0;
    int fileIndex = 0;  // progress
    int frameNumber = 0;
    bool finished = false;  // terminate
    bool exception = false;
    std::string message{};
    std::thread::id thread{};
};

// Records every event of an engine in arrival order.
class Recorder {
public:
    void Attach(ConvertEngine& engine, bool hooks = true) {
        if (hooks) {
            engine.OnCustomHook = [this](ConvertEngine&, HookInfo* info) {
                Add({.kind = Event::Hook, .task = info->TaskIndex, .frameNumber = info->FrameNumber});
                if (onHook) {
                    onHook(*info);
                }
            };
        }
        engine.OnProgress = [this](ConvertEngine&, ProgressInfo* info) {
            Add({.kind = Event::Progress, .task = info->TaskIndex, .fileIndex = info->FileIndex,
                 .frameNumber = info->FrameNumber});
        };
        engine.OnPreviewBitmap = [this](ConvertEngine&, const PreviewInfo& info) {
            Add({.kind = Event::Preview, .task = info.TaskIndex, .frameNumber = info.FrameNumber});
        };
        engine.OnTerminate = [this](ConvertEngine&, const TerminateInfo& info) {
            Add({.kind = Event::Terminate, .task = info.TaskIndex, .finished = info.Finished,
                 .exception = info.Exception, .message = info.ExceptionMsg});
        };
    }

    void Add(Event event) {
        event.thread = std::this_thread::get_id();
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }

    std::vector<Event> Events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }

    bool RunEnded() const {
        std::lock_guard lock(mutex_);
        for (const Event& event : events_) {
            if (event.kind == Event::Terminate && event.task == -1) {
                return true;
            }
        }
        return false;
    }

    bool WaitForRunEnd() {
        return PumpUntil([this] { return RunEnded(); });
    }

    std::vector<Event> Terminations() const {
        std::vector<Event> result;
        for (const Event& event : Events()) {
            if (event.kind == Event::Terminate) {
                result.push_back(event);
            }
        }
        return result;
    }

    std::vector<int> HookFrames(int task) const {
        std::vector<int> frames;
        for (const Event& event : Events()) {
            if (event.kind == Event::Hook && event.task == task) {
                frames.push_back(event.frameNumber);
            }
        }
        return frames;
    }

    std::function<void(HookInfo&)> onHook;

private:
    mutable std::mutex mutex_;
    std::vector<Event> events_;
};

// A one-shot flag that a worker sets and the test waits for, without delivering main-thread
// calls (so that a worker then blocked in one stays blocked until the engine delivers it).
class Signal {
public:
    void Set() {
        std::lock_guard lock(mutex_);
        set_ = true;
        changed_.notify_all();
    }
    bool Wait() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, HangLimit, [this] { return set_; });
    }
    bool IsSet() {
        std::lock_guard lock(mutex_);
        return set_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool set_ = false;
};

std::vector<int> Sequence(int first, int count) {
    std::vector<int> values;
    for (int i = 0; i < count; ++i) {
        values.push_back(first + i);
    }
    return values;
}

// Paints the picture as a gray frame-counter picture showing number.
void PaintCounter(Bitmap& bitmap, int number) {
    std::vector<uint8_t> luma(static_cast<size_t>(bitmap.Width() * bitmap.Height()));
    fixtures::DrawFrameCounter(number, luma.data(), bitmap.Width(), bitmap.Height(), bitmap.Width());
    for (int y = 0; y < bitmap.Height(); ++y) {
        for (int x = 0; x < bitmap.Width(); ++x) {
            uint8_t* pixel = bitmap.Pixel(x, y);
            pixel[0] = pixel[1] = pixel[2] = luma[static_cast<size_t>(y * bitmap.Width() + x)];
        }
    }
}

class ConvertEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(engine_.LoadLibraries()) << engine_.LastErrMsg();
        EngineLogger::Instance().SetOnLog(nullptr);
    }

    // A task converting source into a new mpeg4 file; returns the output's path.
    std::string AddConversion(const std::string& source, const std::string& name, bool hook = true) {
        InputOptions input;
        const int index = engine_.AddTask(source, &input);
        EXPECT_EQ(index, engine_.TaskCount() - 1) << engine_.LastErrMsg();
        OutputOptions output;
        output.VideoCodec = "mpeg4";
        output.CustomHook = hook;
        const std::string path = TempPath(name);
        EXPECT_TRUE(engine_.SetOutputFile(index, path, &output)) << engine_.LastErrMsg();
        return path;
    }

    // Declared before the engine: its workers may still use them while it is destroyed.
    Recorder recorder_;
    Signal signal_;
    Signal release_;
    std::atomic<int> policy_{-1};
    ConvertEngine engine_;
};

TEST_F(ConvertEngineTest, ThreadedRunDeliversEachTasksEventsInOrderAndTheRunEndLast) {
    const std::string source = ShortClip();
    std::vector<std::string> outputs;
    for (int i = 0; i < 3; ++i) {
        outputs.push_back(AddConversion(source, "threaded" + std::to_string(i) + ".mp4"));
    }
    recorder_.Attach(engine_);
    const std::thread::id mainThread = std::this_thread::get_id();

    engine_.StartTask(1);
    ASSERT_TRUE(recorder_.WaitForRunEnd());
    ASSERT_TRUE(PumpUntil([this] { return engine_.AllDone(); }));

    const std::vector<Event> events = recorder_.Events();
    // The tasks run one after another: no event of a task before one of an earlier task.
    int lastTask = 0;
    std::vector<int> finalProgressAt(3, -1);
    std::vector<int> terminateAt(3, -1);
    int runEndAt = -1;
    for (int i = 0; i < static_cast<int>(events.size()); ++i) {
        const Event& event = events[static_cast<size_t>(i)];
        if (event.kind == Event::Terminate) {
            EXPECT_NE(event.thread, mainThread);
            if (event.task == -1) {
                EXPECT_EQ(runEndAt, -1) << "one end of the run";
                runEndAt = i;
                EXPECT_TRUE(event.finished);
                continue;
            }
            EXPECT_EQ(terminateAt[static_cast<size_t>(event.task)], -1) << "one termination per task";
            terminateAt[static_cast<size_t>(event.task)] = i;
            EXPECT_TRUE(event.finished);
            EXPECT_FALSE(event.exception) << event.message;
            continue;
        }
        EXPECT_GE(event.task, lastTask) << "event " << i;
        lastTask = event.task;
        if (event.kind == Event::Hook) {
            EXPECT_NE(event.thread, mainThread);
            EXPECT_EQ(finalProgressAt[static_cast<size_t>(event.task)], -1) << "hook after the final progress";
        } else if (event.kind == Event::Progress) {
            EXPECT_EQ(event.thread, mainThread);
            if (event.fileIndex == -1) {
                finalProgressAt[static_cast<size_t>(event.task)] = i;
            }
        }
    }
    for (int task = 0; task < 3; ++task) {
        SCOPED_TRACE(task);
        EXPECT_EQ(recorder_.HookFrames(task), Sequence(1, ShortClipFrames));
        ASSERT_NE(finalProgressAt[static_cast<size_t>(task)], -1);
        EXPECT_GT(terminateAt[static_cast<size_t>(task)], finalProgressAt[static_cast<size_t>(task)]);
        EXPECT_GT(runEndAt, terminateAt[static_cast<size_t>(task)]);
        EXPECT_EQ(fixtures::DecodeVideo(outputs[static_cast<size_t>(task)]).Counters,
                  Sequence(0, ShortClipFrames));
    }
    EXPECT_EQ(runEndAt, static_cast<int>(events.size()) - 1);
}

TEST_F(ConvertEngineTest, SynchronousRunDeliversEverythingInTheCallingThread) {
    const std::string source = ShortClip();
    for (int i = 0; i < 3; ++i) {
        AddConversion(source, "sync" + std::to_string(i) + ".mp4");
    }
    recorder_.Attach(engine_);

    engine_.StartTask(0);

    EXPECT_TRUE(engine_.AllDone());
    const std::vector<Event> events = recorder_.Events();
    ASSERT_FALSE(events.empty());
    for (const Event& event : events) {
        EXPECT_EQ(event.thread, std::this_thread::get_id());
    }
    std::vector<int> terminated;
    for (const Event& event : recorder_.Terminations()) {
        terminated.push_back(event.task);
    }
    EXPECT_EQ(terminated, (std::vector<int>{0, 1, 2, -1}));
    EXPECT_EQ(events.back().kind, Event::Terminate);
    EXPECT_EQ(events.back().task, -1);
}

TEST_F(ConvertEngineTest, TwoThreadsRunTwoTasksAtOnceAndStartTheThirdOnTheFirstEnd) {
    const std::string source = ShortClip();
    for (int i = 0; i < 3; ++i) {
        AddConversion(source, "pair" + std::to_string(i) + ".mp4");
    }
    recorder_.Attach(engine_);
    // Task 0 holds on in its first hook until task 1 has started (or even ended): only possible
    // when both run at the same time. (Hooks take turns, so task 1 may be waiting for this one.)
    std::atomic<bool> bothRunning{false};
    std::atomic<bool> thirdStartedAfterAnEnd{false};
    recorder_.onHook = [&](HookInfo& info) {
        if (info.FrameNumber != 1) {
            return;
        }
        if (info.TaskIndex == 0) {
            const auto deadline = std::chrono::steady_clock::now() + HangLimit;
            const auto started = [this] { return engine_.Task(1).Running() || engine_.Task(1).Terminated(); };
            while (!started() && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::yield();
            }
            bothRunning = started();
        } else if (info.TaskIndex == 2) {
            thirdStartedAfterAnEnd = engine_.Task(0).Terminated() || engine_.Task(1).Terminated();
        }
    };

    engine_.StartTask(2);
    ASSERT_TRUE(recorder_.WaitForRunEnd());

    EXPECT_TRUE(bothRunning);
    EXPECT_TRUE(thirdStartedAfterAnEnd);
    EXPECT_EQ(recorder_.HookFrames(2), Sequence(1, ShortClipFrames));
    EXPECT_EQ(recorder_.Terminations().size(), 4u);
}

TEST_F(ConvertEngineTest, StopBeforeAnyRunReportsEveryTaskAsNotFinished) {
    const std::string source = ShortClip();
    for (int i = 0; i < 3; ++i) {
        AddConversion(source, "never" + std::to_string(i) + ".mp4");
    }
    recorder_.Attach(engine_);

    engine_.Stop(true);

    const std::vector<Event> terminations = recorder_.Terminations();
    ASSERT_EQ(terminations.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(terminations[static_cast<size_t>(i)].task, i);
        EXPECT_FALSE(terminations[static_cast<size_t>(i)].finished);
        EXPECT_FALSE(terminations[static_cast<size_t>(i)].exception);
        EXPECT_NE(terminations[static_cast<size_t>(i)].thread, std::this_thread::get_id());
    }
    EXPECT_EQ(terminations[3].task, -1);
    EXPECT_TRUE(recorder_.HookFrames(0).empty());
    EXPECT_TRUE(engine_.AllDone());
    EXPECT_NO_THROW(engine_.ClearTasks());
    EXPECT_EQ(engine_.TaskCount(), 0);
}

TEST_F(ConvertEngineTest, TaskWithoutOutputEndsWithTheMessage) {
    InputOptions input;
    ASSERT_EQ(engine_.AddTask(ShortClip(), &input), 0) << engine_.LastErrMsg();
    EXPECT_EQ(input.FileName, ShortClip()) << "the file name is filled in";
    recorder_.Attach(engine_);

    engine_.StartTask(1);
    ASSERT_TRUE(recorder_.WaitForRunEnd());

    const std::vector<Event> terminations = recorder_.Terminations();
    ASSERT_EQ(terminations.size(), 2u);
    EXPECT_EQ(terminations[0].task, 0);
    EXPECT_TRUE(terminations[0].exception);
    EXPECT_FALSE(terminations[0].finished);
    EXPECT_EQ(terminations[0].message, "At least one output file must be specified");
    EXPECT_EQ(terminations[1].task, -1);
}

TEST_F(ConvertEngineTest, FailingTaskAmongGoodOnesEndsOnlyItself) {
    const std::string source = ShortClip();
    const std::string first = AddConversion(source, "good0.mp4", false);
    // Frames of a copied stream are never decoded, so they cannot be offered to a hook.
    InputOptions input;
    ASSERT_EQ(engine_.AddTask(source, &input), 1);
    OutputOptions copy;
    copy.VideoCodec = "copy";
    copy.CustomHook = true;
    ASSERT_TRUE(engine_.SetOutputFile(1, TempPath("bad1.mp4"), &copy)) << engine_.LastErrMsg();
    const std::string third = AddConversion(source, "good2.mp4", false);
    recorder_.Attach(engine_);

    engine_.StartTask(1);
    ASSERT_TRUE(recorder_.WaitForRunEnd());

    const std::vector<Event> terminations = recorder_.Terminations();
    ASSERT_EQ(terminations.size(), 4u);
    EXPECT_TRUE(terminations[0].finished);
    EXPECT_FALSE(terminations[0].exception);
    EXPECT_EQ(terminations[1].task, 1);
    EXPECT_TRUE(terminations[1].exception);
    EXPECT_FALSE(terminations[1].message.empty());
    EXPECT_TRUE(terminations[2].finished);
    EXPECT_FALSE(terminations[2].exception) << terminations[2].message;
    EXPECT_EQ(terminations[3].task, -1);
    EXPECT_EQ(fixtures::DecodeVideo(first).Counters, Sequence(0, ShortClipFrames));
    EXPECT_EQ(fixtures::DecodeVideo(third).Counters, Sequence(0, ShortClipFrames));
}

TEST_F(ConvertEngineTest, ListChangesAreRefusedAfterARunUntilCleared) {
    const std::string source = ShortClip();
    AddConversion(source, "refused.mp4", false);
    recorder_.Attach(engine_);
    engine_.StartTask(1);
    ASSERT_TRUE(recorder_.WaitForRunEnd());
    ASSERT_TRUE(engine_.AllDone());

    const struct {
        const char* method;
        std::function<void()> call;
    } cases[] = {
        {"AddTask", [&] { engine_.AddTask(source, nullptr); }},
        {"SetOutputFile", [&] { engine_.SetOutputFile(0, TempPath("refused2.mp4"), nullptr); }},
        {"RemoveTask", [&] { engine_.RemoveTask(0); }},
        {"StartTask", [&] { engine_.StartTask(1); }},
    };
    for (const auto& refused : cases) {
        SCOPED_TRACE(refused.method);
        try {
            refused.call();
            ADD_FAILURE() << "not refused";
        } catch (const FFmpegException& error) {
            EXPECT_EQ(error.what(), std::string("Cannot ") + refused.method + " while working.");
        }
    }
    EXPECT_EQ(engine_.TaskCount(), 1);

    engine_.ClearTasks();
    EXPECT_EQ(engine_.AddTask(source, nullptr), 0) << engine_.LastErrMsg();
}

TEST_F(ConvertEngineTest, ClearTasksIsRefusedWhileARunGoesOn) {
    AddConversion(LongerClip(), "busy.mp4");
    recorder_.Attach(engine_);
    recorder_.onHook = [this](HookInfo& info) {
        if (info.FrameNumber == 1) {
            signal_.Set();
            release_.Wait();
        }
    };
    engine_.StartTask(1);
    ASSERT_TRUE(signal_.Wait());
    EXPECT_THROW(engine_.ClearTasks(), FFmpegException);
    release_.Set();
    ASSERT_TRUE(recorder_.WaitForRunEnd());
    ASSERT_TRUE(PumpUntil([this] { return engine_.AllDone(); }));
    EXPECT_NO_THROW(engine_.ClearTasks());
}

TEST_F(ConvertEngineTest, HookThatSetsStopHookIsNotCalledAgain) {
    const std::string output = AddConversion(ShortClip(), "stophook.mp4");
    recorder_.Attach(engine_);
    recorder_.onHook = [](HookInfo& info) {
        PaintCounter(*info.Bitmap, 1000 + info.FrameNumber);
        info.Update = false;  // this picture stays as it was
        info.StopHook = info.FrameNumber == 3;
    };

    engine_.StartTask(1);
    ASSERT_TRUE(recorder_.WaitForRunEnd());

    EXPECT_EQ(recorder_.HookFrames(0), Sequence(1, 3));
    EXPECT_EQ(fixtures::DecodeVideo(output).Counters, Sequence(0, ShortClipFrames));
}

// What a hook draws reaches the output, unless it declines the update or fails.
TEST_F(ConvertEngineTest, HookEditsReachTheOutputUnlessTheHandlerFails) {
    const std::string output = AddConversion(ShortClip(), "edited.mp4");
    recorder_.Attach(engine_);
    std::atomic<bool> sawSourcePicture{true};
    recorder_.onHook = [&](HookInfo& info) {
        const Bitmap& picture = *info.Bitmap;
        if (fixtures::ReadFrameCounterBgr(picture.Data(), picture.Width(), picture.Height(), picture.Stride()) !=
            info.FrameNumber - 1) {
            sawSourcePicture = false;
        }
        PaintCounter(*info.Bitmap, 1000 + info.FrameNumber);
        if (info.FrameNumber == 4) {
            info.Update = false;
        }
        if (info.FrameNumber == 6) {
            throw std::runtime_error("drawing failed");
        }
    };

    engine_.StartTask(1);
    ASSERT_TRUE(recorder_.WaitForRunEnd());

    EXPECT_TRUE(sawSourcePicture);
    EXPECT_EQ(recorder_.HookFrames(0), Sequence(1, ShortClipFrames)) << "a failing hook is called again";
    std::vector<int> expected;
    for (int frame = 1; frame <= ShortClipFrames; ++frame) {
        expected.push_back(frame == 4 || frame == 6 ? frame - 1 : 1000 + frame);
    }
    EXPECT_EQ(fixtures::DecodeVideo(output).Counters, expected);
    const std::vector<Event> terminations = recorder_.Terminations();
    ASSERT_FALSE(terminations.empty());
    EXPECT_TRUE(terminations[0].finished);
    EXPECT_FALSE(terminations[0].exception);
}

TEST_F(ConvertEngineTest, RunEndsWithoutATerminateHandler) {
    AddConversion(ShortClip(), "unhandled.mp4", false);

    engine_.StartTask(1);

    ASSERT_TRUE(PumpUntil([this] { return engine_.AllDone(); }));
    EXPECT_NO_THROW(engine_.ClearTasks());
    EXPECT_FALSE(engine_.Working());
}

class PausedRun : public ConvertEngineTest {
protected:
    // Starts one task and pauses it while its worker is inside the hook of frame 5; returns once
    // the worker has parked.
    void StartAndPause() {
        output_ = AddConversion(LongerClip(), "paused.mp4");
        recorder_.Attach(engine_);
        recorder_.onHook = [this](HookInfo& info) {
            if (info.FrameNumber == 5) {
                signal_.Set();
                release_.Wait();
            }
        };
        engine_.StartTask(1);
        ASSERT_TRUE(signal_.Wait());
        engine_.Pause();
        release_.Set();
        ASSERT_TRUE(PumpUntil([this] { return engine_.Task(0).Parked(); }));
        hooksWhenParked_ = recorder_.HookFrames(0).size();
    }

    std::string output_;
    size_t hooksWhenParked_ = 0;
};

TEST_F(PausedRun, ResumeContinuesTheSameFile) {
    StartAndPause();
    EXPECT_LT(hooksWhenParked_, static_cast<size_t>(LongerClipFrames));

    engine_.Resume();
    ASSERT_TRUE(recorder_.WaitForRunEnd());

    EXPECT_EQ(recorder_.HookFrames(0), Sequence(1, LongerClipFrames)) << "no frame twice, none skipped";
    const std::vector<Event> terminations = recorder_.Terminations();
    ASSERT_EQ(terminations.size(), 2u);
    EXPECT_TRUE(terminations[0].finished);
    EXPECT_EQ(fixtures::DecodeVideo(output_).Counters, Sequence(0, LongerClipFrames));
}

TEST_F(PausedRun, StopWhilePausedEndsTheTask) {
    StartAndPause();

    engine_.Stop(true);

    EXPECT_FALSE(engine_.Task(0).Running());
    ASSERT_TRUE(recorder_.WaitForRunEnd());
    EXPECT_EQ(recorder_.HookFrames(0).size(), hooksWhenParked_);
    const std::vector<Event> terminations = recorder_.Terminations();
    ASSERT_EQ(terminations.size(), 2u);
    EXPECT_FALSE(terminations[0].finished);
    EXPECT_FALSE(terminations[0].exception) << terminations[0].message;
}

TEST_F(ConvertEngineTest, StopWithWaitDeliversTheEventAWorkerWaitsIn) {
    AddConversion(LongerClip(), "stopwait.mp4");
    engine_.SetPreviewBitmap(true);
    recorder_.Attach(engine_);
    recorder_.onHook = [this](HookInfo& info) {
        if (info.FrameNumber == 1) {
            signal_.Set();
        }
    };
    engine_.StartTask(1);
    // Not delivering here: the worker's first preview waits for the main thread.
    ASSERT_TRUE(signal_.Wait());

    engine_.Stop(true);

    EXPECT_FALSE(engine_.Task(0).Running());
    ASSERT_TRUE(recorder_.WaitForRunEnd());
    const std::vector<Event> terminations = recorder_.Terminations();
    ASSERT_EQ(terminations.size(), 2u);
    EXPECT_FALSE(terminations[0].finished);
}

TEST_F(ConvertEngineTest, WorkerRunsAtTheChosenPriority) {
    AddConversion(ShortClip(), "idle.mp4");
    engine_.SetThreadPriority(tpIdle);
    recorder_.Attach(engine_);
    recorder_.onHook = [this](HookInfo& info) {
        if (info.FrameNumber == 1) {
            policy_ = sched_getscheduler(0);
        }
    };

    engine_.StartTask(1);
    ASSERT_TRUE(recorder_.WaitForRunEnd());

    EXPECT_EQ(policy_, SCHED_IDLE);
}

TEST(ThreadPriorityTest, LowerPrioritiesRaiseTheThreadsNiceValue) {
    const int processNice = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
    const struct {
        ThreadPriority priority;
        int offset;
    } cases[] = {{tpLowest, 10}, {tpLower, 5}, {tpNormal, 0}};
    for (const auto& entry : cases) {
        SCOPED_TRACE(static_cast<int>(entry.priority));
        int nice = 100;
        int policy = -1;
        std::thread([&] {
            ApplyThreadPriority(entry.priority);
            nice = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
            policy = sched_getscheduler(0);
        }).join();
        EXPECT_EQ(nice, std::min(processNice + entry.offset, 19));
        EXPECT_EQ(policy, SCHED_OTHER);
    }
}

TEST_F(ConvertEngineTest, PropertiesKeepTheirFloorsAndDefaults) {
    const struct {
        int set;
        int read;
    } intervals[] = {{50, 100}, {0, 100}, {100, 100}, {101, 101}, {500, 500}};
    EXPECT_EQ(engine_.ProgressInterval(), 500);
    for (const auto& entry : intervals) {
        engine_.SetProgressInterval(entry.set);
        EXPECT_EQ(engine_.ProgressInterval(), entry.read) << entry.set;
    }
    EXPECT_EQ(engine_.CodecThreads(), 1);
    EXPECT_EQ(engine_.ThreadPriority(), tpNormal);
    EXPECT_TRUE(engine_.TriggerEventInMainThread());
    EXPECT_EQ(engine_.Version(), "1.0");
}

TEST_F(ConvertEngineTest, RunWithoutTasksEndsAtOnce) {
    recorder_.Attach(engine_);

    engine_.StartTask(1);

    ASSERT_TRUE(recorder_.WaitForRunEnd());
    EXPECT_TRUE(engine_.AllDone());
    EXPECT_NO_THROW(engine_.ClearTasks());
}

// Tasks reported by a stop before the run are reported once more by the run, which then ends
// instead of waiting for them forever.
TEST_F(ConvertEngineTest, RunAfterAStopReportsTheStoppedTasksAndEnds) {
    AddConversion(ShortClip(), "stoppedfirst.mp4", false);
    engine_.Stop(true);
    recorder_.Attach(engine_);

    engine_.StartTask(1);

    ASSERT_TRUE(recorder_.WaitForRunEnd());
    const std::vector<Event> terminations = recorder_.Terminations();
    ASSERT_EQ(terminations.size(), 2u);
    EXPECT_EQ(terminations[0].task, 0);
    EXPECT_FALSE(terminations[0].finished);
    EXPECT_NO_THROW(engine_.ClearTasks());
}

TEST_F(ConvertEngineTest, TwentyOutputsAreTheLimit) {
    ASSERT_EQ(engine_.AddTask(ShortClip(), nullptr), 0) << engine_.LastErrMsg();
    for (int i = 0; i < MaxOutputFiles; ++i) {
        OutputOptions output;
        output.VideoCodec = "mpeg4";
        ASSERT_TRUE(engine_.SetOutputFile(0, TempPath("limit" + std::to_string(i) + ".mp4"), &output))
            << i << ": " << engine_.LastErrMsg();
    }
    OutputOptions extra;
    EXPECT_FALSE(engine_.SetOutputFile(0, TempPath("limit20.mp4"), &extra));
    EXPECT_EQ(engine_.LastErrMsg(), "max output files 20 reached");
    EXPECT_EQ(extra.FileName, "") << "nothing applied";
}

TEST_F(ConvertEngineTest, AddTaskFailureReturnsMinusOneWithTheReason) {
    EXPECT_EQ(engine_.AddTask(TempPath("missing-file.mp4"), nullptr), -1);
    EXPECT_FALSE(engine_.LastErrMsg().empty());
    EXPECT_EQ(engine_.TaskCount(), 0);
    EXPECT_THROW(engine_.SetOutputFile(0, TempPath("nowhere.mp4"), nullptr), std::out_of_range);
}

TEST_F(ConvertEngineTest, InputProbeDescribesTheOpenedInput) {
    ASSERT_EQ(engine_.AddTask(ShortClip(), nullptr), 0) << engine_.LastErrMsg();
    MediaProbe* probe = engine_.InputProbe(0, 0);
    ASSERT_NE(probe, nullptr);
    VideoStreamInfo video;
    ASSERT_TRUE(probe->GetVideoStreamInfo(-1, video));
    EXPECT_EQ(video.Width, 160);
    EXPECT_EQ(video.Height, 120);
    EXPECT_EQ(engine_.InputProbe(0, 1), nullptr);
}

}  // namespace
}  // namespace kavel
