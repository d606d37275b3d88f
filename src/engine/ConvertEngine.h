#pragma once

// The engine component: the conversion service of the application. A client builds a list of
// tasks (one task = one transcode of up to 20 inputs into up to 20 outputs), starts them, and is
// told about their progress, their end and the end of the whole run through four events.
//
// Component states: Idle -> StartTask -> Working -> (every task reported) -> Working with
// AllDone -> ClearTasks -> Idle. AddTask, SetOutputFile, RemoveTask and StartTask are refused
// while Working, also after AllDone: the client clears the list before the next batch. Stop
// does not leave Working.
//
// Threads: every method is called on the main thread. Events arrive on these threads:
// - OnCustomHook: the worker thread of the task (never the main thread in a threaded run);
// - OnProgress, OnPreviewBitmap: the main thread when TriggerEventInMainThread (the worker waits
//   for the handler, so the main thread must keep delivering main-thread calls; Stop(true)
//   does), else the worker thread;
// - OnTerminate: in a threaded run a short-lived thread of its own per event, never
//   synchronised with the main thread; in a synchronous run the caller's thread. Events of one
//   run are delivered one after another in the order the tasks were reported, so the TaskIndex
//   -1 event is always the last of its run.
// Assign the events while the component is idle.

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/Bitmap.h"
#include "engine/OptionRecords.h"
#include "engine/ThreadPriority.h"
#include "engine/TranscoderTask.h"

namespace kavel {

class MediaProbe;
class ConvertEngine;

// One decoded video frame offered to OnCustomHook. The record lives in the component and is
// overwritten by the next frame.
struct HookInfo {
    int TaskIndex = 0;
    kavel::Bitmap* Bitmap = nullptr;  // the frame as 24-bit BGR, drawn into in place
    int FrameNumber = 0;              // decoded video frames of the task, the first is 1
    int64_t PTS = 0;                  // microseconds, time of the frame in its input
    bool Update = true;     // in/out: leave true to copy the bitmap back into the frame
    bool StopHook = false;  // in/out: set true to stop calling the hook for the rest of the task
};

// One preview picture: a written video picture at the output's size, borrowed for the call.
struct PreviewInfo {
    int TaskIndex = 0;
    const kavel::Bitmap* Bitmap = nullptr;
    int FrameNumber = 0;
    int64_t PTS = 0;  // microseconds
};

struct ProgressInfo {
    int TaskIndex = 0;
    int FileIndex = 0;    // the input the last packet came from; -1 in the final report
    int FrameNumber = 0;  // frames encoded by the first video output stream
    int FPS = 0;
    float Quality = -1.0f;  // the encoder's quantizer, -1 for copied video
    float BitRate = 0.0f;   // kbit/s
    int64_t TotalSize = 0;        // bytes written
    int64_t CurrentDuration = 0;  // microseconds of output written
    int64_t TotalDuration = -1;   // microseconds expected, -1 = no total
};

struct TerminateInfo {
    int TaskIndex = 0;  // -1: the whole run has ended
    bool Finished = false;   // the loop reached its natural end without a stop request
    bool Exception = false;  // the task ended with an error
    std::string ExceptionMsg;
};

using CustomHookEvent = std::function<void(ConvertEngine& sender, HookInfo* info)>;
using PreviewBitmapEvent = std::function<void(ConvertEngine& sender, const PreviewInfo& info)>;
using ProgressEvent = std::function<void(ConvertEngine& sender, ProgressInfo* info)>;
using TerminateEvent = std::function<void(ConvertEngine& sender, const TerminateInfo& info)>;

// The component's tasks; owns them (removing an entry frees the task). Index access is guarded
// so that termination reports on other threads can look a task up while the list is stable.
class TranscoderList {
public:
    int Add(std::unique_ptr<TranscoderTask> task);
    // Takes the task out of the list; the caller frees it (outside the list's lock).
    std::unique_ptr<TranscoderTask> Extract(int index);
    std::vector<std::unique_ptr<TranscoderTask>> ExtractAll();
    // Throws std::out_of_range("List index out of bounds (%d)").
    TranscoderTask& Get(int index) const;
    int IndexOf(const TranscoderTask* task) const;
    int Count() const;

    // The all-task actions, in list order.
    void Pause();
    void Resume();
    void Stop(bool wait);
    void SetPreviewFlag(uint8_t flag, bool on);

private:
    std::vector<TranscoderTask*> Snapshot() const;

    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<TranscoderTask>> tasks_;
};

class ConvertEngine {
public:
    ConvertEngine();
    // Stops every task with wait (never-started ones are reported), waits for every event
    // delivery still in flight, then frees the tasks and the probe.
    ~ConvertEngine();
    ConvertEngine(const ConvertEngine&) = delete;
    ConvertEngine& operator=(const ConvertEngine&) = delete;

    // The libraries are linked at build time: this checks their versions (the folder is kept
    // for callers that name one). False with the reason in LastErrMsg.
    bool LoadLibraries(const std::string& path = std::string());

    // Creates a task with one input and returns its index, or -1 with the reason in LastErrMsg
    // (the task is discarded). record may be null; its FileName is filled in when empty.
    // Throws FFmpegException "Cannot AddTask while working." while Working.
    int AddTask(const std::string& fileName, InputOptions* record);
    // Adds an output to a task; false with the reason in LastErrMsg (the task stays as it was).
    // record may be null. Throws FFmpegException "Cannot SetOutputFile while working." while
    // Working, and std::out_of_range for an index outside the list.
    bool SetOutputFile(int taskIndex, const std::string& fileName, OutputOptions* record);
    // Frees a task; later indexes shift down. Refused while Working.
    void RemoveTask(int taskIndex);
    // Frees every task and returns to Idle. Throws "Cannot ClearTasks while working." while a
    // run is still going on (Working and not AllDone).
    void ClearTasks();
    // Starts a run. threadCount > 0: up to that many tasks at once, each on a worker thread, the
    // next one started whenever one ends; returns at once. 0: every task runs in turn in the
    // calling thread before this returns. Refused while Working.
    void StartTask(int threadCount);
    // Threaded runs only: every running worker parks at its next check point (between packets
    // and between duplicated frames) until Resume or Stop; the task continues where it stopped.
    void Pause();
    void Resume();
    // Starts no further task and stops every task in list order; tasks that never ran are
    // reported with Finished false. With wait, returns once every running task has ended and
    // been reported, delivering main-thread calls meanwhile.
    void Stop(bool wait);

    int TaskCount() const { return tasks_.Count(); }
    // The probe of an opened input of a task (nullptr outside the opened inputs); it describes
    // the input until the task runs. Throws std::out_of_range for a bad task index.
    kavel::MediaProbe* InputProbe(int taskIndex, int inputIndex);
    // A probe owned by the component, free for the client's use.
    kavel::MediaProbe& MediaProbe() { return *mediaProbe_; }
    // The task at index (for inspection). Throws std::out_of_range.
    TranscoderTask& Task(int index) { return tasks_.Get(index); }

    bool Preview() const { return preview_; }
    void SetPreview(bool value);
    bool PreviewBitmap() const { return previewBitmap_; }
    void SetPreviewBitmap(bool value);
    // Milliseconds between progress events (default 500); 100 or less is stored as 100.
    int ProgressInterval() const { return progressInterval_; }
    void SetProgressInterval(int milliseconds);
    kavel::ThreadPriority ThreadPriority() const { return threadPriority_; }
    void SetThreadPriority(kavel::ThreadPriority value) { threadPriority_ = value; }
    bool TriggerEventInMainThread() const { return triggerEventInMainThread_; }
    void SetTriggerEventInMainThread(bool value) { triggerEventInMainThread_ = value; }
    // Threads of every task's encoders and decoders (default 1); 0 lets the library choose.
    int CodecThreads() const { return codecThreads_; }
    void SetCodecThreads(int count) { codecThreads_ = count < 0 ? 0 : count; }
    const std::string& About() const { return about_; }
    void SetAbout(const std::string& value) { about_ = value; }
    std::string Version() const { return "1.0"; }
    std::string LastErrMsg() const;

    bool Working() const { return working_; }
    bool AllDone() const { return allDone_; }

    CustomHookEvent OnCustomHook;
    PreviewBitmapEvent OnPreviewBitmap;
    ProgressEvent OnProgress;
    TerminateEvent OnTerminate;

protected:
    // Called by the tasks, on the thread that runs them.
    virtual void DoCustomHook(TranscoderTask& task, TaskHookCall& call);
    virtual void DoPreviewBitmap(TranscoderTask& task, const kavel::Bitmap& picture, int frameNumber, int64_t pts);
    virtual void DoProgress(TranscoderTask& task, const ProgressReport& report);
    virtual void DoTerminate(TranscoderTask& task);

private:
    void RefuseWhileWorking(const char* method) const;
    void SetLastErrMsg(const std::string& text);
    void BindCallbacks(TranscoderTask& task);
    int Remaining();
    void StartNext();
    void StartOrReport(TranscoderTask& task, bool threaded);
    // Under the terminate lock: the -1 event, then AllDone.
    void EndRun();
    // Delivers one OnTerminate: from a thread of its own in a threaded run, else right here.
    void DeliverTerminate(const TerminateInfo& info);
    void CallOnTerminate(const TerminateInfo& info);
    void ReapDeliveries(bool all);

    TranscoderList tasks_;
    std::unique_ptr<kavel::MediaProbe> mediaProbe_;

    std::atomic<bool> preview_{false};
    std::atomic<bool> previewBitmap_{false};
    std::atomic<int> progressInterval_{500};
    std::atomic<kavel::ThreadPriority> threadPriority_{tpNormal};
    std::atomic<bool> triggerEventInMainThread_{true};
    std::atomic<int> codecThreads_{1};
    std::string about_;
    mutable std::mutex errorMutex_;
    std::string lastErrMsg_;
    static constexpr int Verbosity = 1;

    // Run state, guarded by terminateMutex_.
    int finishedCount_ = 0;
    int nextIndex_ = -1;
    int remaining_ = 0;
    std::atomic<bool> allDone_{false};
    std::atomic<bool> threaded_{false};
    std::atomic<bool> working_{false};

    // One lock per event kind; the terminate lock covers the whole termination handling.
    std::recursive_mutex hookMutex_;
    std::recursive_mutex previewMutex_;
    std::recursive_mutex progressMutex_;
    std::recursive_mutex terminateMutex_;
    HookInfo hookInfo_;
    PreviewInfo previewInfo_;
    ProgressInfo progressInfo_;
    TerminateInfo terminateInfo_;

    // Terminate deliveries of threaded runs: one thread per event, served in ticket order.
    struct Delivery {
        std::thread Thread;
        std::shared_ptr<std::atomic<bool>> Done;
    };
    std::mutex deliveryMutex_;
    std::condition_variable deliveryTurn_;
    uint64_t nextTicket_ = 0;
    uint64_t servedTicket_ = 0;
    std::vector<Delivery> deliveries_;
};

}  // namespace kavel
