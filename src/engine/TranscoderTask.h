#pragma once

// One conversion task of the engine component: a transcoder with the copies of its option
// records, the probes of its inputs, and the task model around the transcode (start, run on a
// worker thread or in the caller's, pause, stop, termination report).
//
// Task states: Created (inputs and outputs being added) -> Running (Start) -> Terminated (the
// termination was reported). A task is started once; Start on a Running or Terminated task does
// nothing. A task that is stopped before it ever ran is reported from a short-lived thread of
// its own.
//
// Threads: AddInput, AddOutput, Start, Pause, Resume and Stop are called by the component on the
// main thread (Start also from a worker ending its own task, which starts the next one). The
// callbacks are called on the thread that runs the task, the terminate callback on the thread
// that ended it.

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/Bitmap.h"
#include "engine/FrameConverter.h"
#include "engine/OptionRecords.h"
#include "engine/PreviewWindow.h"
#include "engine/ThreadPriority.h"
#include "engine/Transcoder.h"

namespace kavel {

class MediaProbe;
class TranscoderTask;

// What the hook callback gets and gives back for one decoded video frame.
struct TaskHookCall {
    Bitmap* Picture = nullptr;  // the frame as a 24-bit bitmap, drawn into in place
    int FrameNumber = 0;
    int64_t PTS = 0;  // microseconds
    bool Update = true;     // in/out: copy the bitmap back into the frame
    bool StopHook = false;  // in/out: stop calling the hook for the rest of the task
};

// The four client callbacks of a task, bound by the component that owns it. Each may be empty.
struct TaskCallbacks {
    std::function<void(TranscoderTask& task, TaskHookCall& call)> Hook;
    std::function<void(TranscoderTask& task, const Bitmap& picture, int frameNumber, int64_t pts)> Preview;
    std::function<void(TranscoderTask& task, const ProgressReport& report)> Progress;
    std::function<void(TranscoderTask& task)> Terminate;
};

class TranscoderTask {
public:
    TranscoderTask();
    // Stops a running task and waits for it, and waits for a termination report in flight.
    // A task that never ran is not reported.
    ~TranscoderTask();
    TranscoderTask(const TranscoderTask&) = delete;
    TranscoderTask& operator=(const TranscoderTask&) = delete;

    Transcoder& Engine() { return transcoder_; }

    // Binds the hook, preview, progress and terminate callbacks. The hook is only offered frames
    // once BindHook has been called (an output asked for it).
    void SetCallbacks(TaskCallbacks callbacks);
    void BindHook();

    // Applies the input record (a copy is kept; record->FileName is filled from fileName when
    // empty) and opens the input. Throws FFmpegException with the reason; on failure the task
    // must be discarded.
    void AddInput(const std::string& fileName, InputOptions* record);
    // Applies the output record and opens the output. Returns false with the reason in
    // errorText; the task then stays as it was, without the new output. "max output files %d
    // reached" once the task holds 20 outputs.
    bool AddOutput(const std::string& fileName, OutputOptions* record, std::string& errorText);

    int InputCount() const;
    int OutputCount() const;
    const std::vector<InputOptions>& InputRecords() const { return inputRecords_; }
    const std::vector<OutputOptions>& OutputRecords() const { return outputRecords_; }

    // The probe of an opened input, created on first use; nullptr for an index outside the
    // opened inputs. It describes the input until the task's run releases its files, and is
    // empty after that.
    kavel::MediaProbe* InputProbe(int inputIndex);

    void SetPreviewFlags(uint8_t flags);
    uint8_t PreviewFlags() const { return transcoder_.PreviewFlags(); }
    void SetProgressInterval(int64_t microseconds) { transcoder_.SetProgressInterval(microseconds); }
    void SetCodecThreads(int count) { transcoder_.SetThreadCount(count); }

    // Starts the task. Threaded: on a new worker thread at priority, returning at once.
    // Otherwise: runs it to its end in the calling thread. Returns false (and does nothing) when
    // the task was already started or reported. A task without an input or an output is not run:
    // it is reported at once with Exception set.
    bool Start(bool threaded, ThreadPriority priority);
    // Threaded runs only: the worker parks at its next check point until Resume or Stop.
    void Pause();
    void Resume();
    // Running: asks the loop to stop (a parked worker wakes up); with wait, returns once the
    // worker has finished, delivering main-thread calls meanwhile when called on the main
    // thread. Never started: reports the task from a thread of its own; with wait, returns once
    // it was reported. Already reported: nothing.
    void Stop(bool wait);

    bool Running() const;
    bool Terminated() const;
    bool StopRequested() const { return stopRequested_; }
    // Valid once the task was reported.
    bool Finished() const { return finished_; }
    bool Exception() const { return exception_; }
    std::string ExceptionMsg() const;
    // The worker is parked in a pause (for the component's callers and tests).
    bool Parked() const { return parked_; }

private:
    enum class Phase { Created, Running, Reporting, Terminated };

    void Run();
    void RunOnWorker(ThreadPriority priority);
    void ReportTermination();
    void RecordError(const std::string& message);
    void CloseProbes();

    // Transcoder callbacks, on the thread that runs the task.
    bool OnHookPoint(const HookPoint& point);
    bool OnPreviewPoint(const PreviewPoint& point);
    bool Checkpoint();
    void ClearPreviewFlag(uint8_t flag);

    Transcoder transcoder_;
    TaskCallbacks callbacks_;
    std::vector<InputOptions> inputRecords_;
    std::vector<OutputOptions> outputRecords_;
    std::array<std::unique_ptr<kavel::MediaProbe>, MaxInputFiles> probes_;

    mutable std::mutex mutex_;  // guards phase_, exceptionMsg_, paused_ and the threads below
    std::condition_variable wake_;
    Phase phase_ = Phase::Created;
    bool threaded_ = false;
    bool paused_ = false;
    std::atomic<bool> pauseRequested_{false};
    std::atomic<bool> parked_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> exception_{false};
    std::string exceptionMsg_;

    std::thread worker_;
    std::atomic<bool> runDone_{true};
    std::thread terminateReporter_;
    std::atomic<bool> terminateDone_{true};

    // Hook and preview pictures, used on the thread that runs the task.
    Bitmap hookPicture_;
    FrameConverter hookConverter_;
    Bitmap previewPicture_;
    FrameConverter previewConverter_;
    std::unique_ptr<PreviewWindow> previewWindow_;
};

}  // namespace kavel
