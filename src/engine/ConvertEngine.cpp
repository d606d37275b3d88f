#include "engine/ConvertEngine.h"

#include <exception>
#include <stdexcept>

#include "engine/EngineLogger.h"
#include "engine/FFmpegException.h"
#include "engine/FFmpegLoader.h"
#include "engine/LibraryLock.h"
#include "engine/MainThread.h"
#include "engine/TranscoderHelpers.h"
#include "probe/MediaProbe.h"

namespace kavel {

namespace {

constexpr int MinProgressInterval = 100;  // milliseconds

std::string CurrentErrorText() {
    try {
        throw;
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "Unknown error";
    }
}

}  // namespace

// ---- TranscoderList ----

int TranscoderList::Add(std::unique_ptr<TranscoderTask> task) {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    return static_cast<int>(tasks_.size()) - 1;
}

std::unique_ptr<TranscoderTask> TranscoderList::Extract(int index) {
    std::lock_guard lock(mutex_);
    if (index < 0 || index >= static_cast<int>(tasks_.size())) {
        throw std::out_of_range(FormatText("List index out of bounds (%d)", index));
    }
    std::unique_ptr<TranscoderTask> task = std::move(tasks_[static_cast<size_t>(index)]);
    tasks_.erase(tasks_.begin() + index);
    return task;
}

std::vector<std::unique_ptr<TranscoderTask>> TranscoderList::ExtractAll() {
    std::lock_guard lock(mutex_);
    return std::exchange(tasks_, {});
}

TranscoderTask& TranscoderList::Get(int index) const {
    std::lock_guard lock(mutex_);
    if (index < 0 || index >= static_cast<int>(tasks_.size())) {
        throw std::out_of_range(FormatText("List index out of bounds (%d)", index));
    }
    return *tasks_[static_cast<size_t>(index)];
}

int TranscoderList::IndexOf(const TranscoderTask* task) const {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < tasks_.size(); ++i) {
        if (tasks_[i].get() == task) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int TranscoderList::Count() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(tasks_.size());
}

std::vector<TranscoderTask*> TranscoderList::Snapshot() const {
    std::lock_guard lock(mutex_);
    std::vector<TranscoderTask*> tasks;
    tasks.reserve(tasks_.size());
    for (const auto& task : tasks_) {
        tasks.push_back(task.get());
    }
    return tasks;
}

// The list changes only on the main thread, which is also the one calling these, so the
// snapshot stays valid while the tasks are acted on without the list's lock.
void TranscoderList::Pause() {
    for (TranscoderTask* task : Snapshot()) {
        task->Pause();
    }
}

void TranscoderList::Resume() {
    for (TranscoderTask* task : Snapshot()) {
        task->Resume();
    }
}

void TranscoderList::Stop(bool wait) {
    for (TranscoderTask* task : Snapshot()) {
        task->Stop(wait);
    }
}

void TranscoderList::SetPreviewFlag(uint8_t flag, bool on) {
    PreviewLock lock;
    for (TranscoderTask* task : Snapshot()) {
        const uint8_t flags = task->PreviewFlags();
        task->SetPreviewFlags(static_cast<uint8_t>(on ? flags | flag : flags & ~flag));
    }
}

// ---- ConvertEngine ----

ConvertEngine::ConvertEngine() : mediaProbe_(std::make_unique<kavel::MediaProbe>()) {}

ConvertEngine::~ConvertEngine() {
    Stop(true);
    tasks_.ExtractAll().clear();
    ReapDeliveries(true);
}

bool ConvertEngine::LoadLibraries(const std::string& /*path*/) {
    if (!kavel::LoadLibraries(EngineLibraries)) {
        SetLastErrMsg(LastLoadError());
        return false;
    }
    return true;
}

void ConvertEngine::RefuseWhileWorking(const char* method) const {
    if (working_) {
        throw FFmpegException(FormatText("Cannot %s while working.", method));
    }
}

void ConvertEngine::SetLastErrMsg(const std::string& text) {
    std::lock_guard lock(errorMutex_);
    lastErrMsg_ = text;
}

std::string ConvertEngine::LastErrMsg() const {
    std::lock_guard lock(errorMutex_);
    return lastErrMsg_;
}

void ConvertEngine::BindCallbacks(TranscoderTask& task) {
    TaskCallbacks callbacks;
    callbacks.Hook = [this](TranscoderTask& from, TaskHookCall& call) { DoCustomHook(from, call); };
    callbacks.Preview = [this](TranscoderTask& from, const kavel::Bitmap& picture, int frameNumber, int64_t pts) {
        DoPreviewBitmap(from, picture, frameNumber, pts);
    };
    callbacks.Progress = [this](TranscoderTask& from, const ProgressReport& report) { DoProgress(from, report); };
    callbacks.Terminate = [this](TranscoderTask& from) { DoTerminate(from); };
    task.SetCallbacks(std::move(callbacks));
}

int ConvertEngine::AddTask(const std::string& fileName, InputOptions* record) {
    RefuseWhileWorking("AddTask");
    auto task = std::make_unique<TranscoderTask>();
    try {
        TranscoderState& state = task->Engine().State();
        if (LibrariesLoaded(EngineLibraries) && !state.Generic.Created()) {
            state.Generic.Create();
        }
        state.Verbose = Verbosity;
        uint8_t flags = 0;
        if (preview_) {
            flags |= Transcoder::PreviewWindowFlag;
        }
        if (previewBitmap_) {
            flags |= Transcoder::PreviewBitmapFlag;
        }
        task->SetPreviewFlags(flags);
        task->SetCodecThreads(codecThreads_);
        BindCallbacks(*task);
        task->AddInput(fileName, record);
        task->InputProbe(0);
    } catch (...) {
        SetLastErrMsg(CurrentErrorText());
        return -1;
    }
    return tasks_.Add(std::move(task));
}

bool ConvertEngine::SetOutputFile(int taskIndex, const std::string& fileName, OutputOptions* record) {
    RefuseWhileWorking("SetOutputFile");
    TranscoderTask& task = tasks_.Get(taskIndex);
    std::string errorText;
    if (!task.AddOutput(fileName, record, errorText)) {
        SetLastErrMsg(errorText);
        return false;
    }
    return true;
}

void ConvertEngine::RemoveTask(int taskIndex) {
    RefuseWhileWorking("RemoveTask");
    // Freed outside the list's lock: a task in the middle of a report looks itself up.
    tasks_.Extract(taskIndex).reset();
}

void ConvertEngine::ClearTasks() {
    if (working_ && !allDone_) {
        throw FFmpegException("Cannot ClearTasks while working.");
    }
    tasks_.ExtractAll().clear();
    ReapDeliveries(false);
    SetLastErrMsg(std::string());
    ScopedProcessLock lock(terminateMutex_);
    finishedCount_ = 0;
    nextIndex_ = -1;
    remaining_ = 0;
    allDone_ = false;
    threaded_ = false;
    working_ = false;
}

void ConvertEngine::StartTask(int threadCount) {
    RefuseWhileWorking("StartTask");
    ReapDeliveries(false);
    const bool threaded = threadCount > 0;
    {
        // Held while the first tasks start, so a task that ends at once finds the run set up.
        ScopedProcessLock lock(terminateMutex_);
        finishedCount_ = 0;
        nextIndex_ = 0;
        remaining_ = tasks_.Count();
        allDone_ = false;
        threaded_ = threaded;
        working_ = true;
        if (remaining_ == 0) {
            // Nothing to run: the run ends at once rather than never.
            EndRun();
            return;
        }
        if (threaded) {
            for (int count = threadCount; count > 0 && remaining_ > 0; --count) {
                StartNext();
            }
            return;
        }
    }
    while (Remaining() > 0) {
        StartNext();
    }
}

int ConvertEngine::Remaining() {
    ScopedProcessLock lock(terminateMutex_);
    return remaining_;
}

void ConvertEngine::StartNext() {
    TranscoderTask* task = nullptr;
    {
        ScopedProcessLock lock(terminateMutex_);
        if (remaining_ <= 0) {
            return;
        }
        --remaining_;
        task = &tasks_.Get(nextIndex_++);
        task->SetProgressInterval(static_cast<int64_t>(progressInterval_) * 1000);
        task->SetCodecThreads(codecThreads_);
        if (threaded_) {
            // Threaded: the start belongs to the termination handling that asked for it.
            StartOrReport(*task, true);
            return;
        }
    }
    // Synchronous: the task runs here, without the terminate lock, so that a stop from one of
    // its handlers can still report the tasks that never ran.
    StartOrReport(*task, false);
}

void ConvertEngine::StartOrReport(TranscoderTask& task, bool threaded) {
    // A task reported in an earlier run (stopped before it ran) is counted again with its old
    // outcome, so that this run still ends.
    if (task.Terminated()) {
        DoTerminate(task);
        return;
    }
    task.Start(threaded, threadPriority_);
}

void ConvertEngine::Pause() {
    if (working_ && threaded_) {
        tasks_.Pause();
    }
}

void ConvertEngine::Resume() {
    if (working_ && threaded_) {
        tasks_.Resume();
    }
}

void ConvertEngine::Stop(bool wait) {
    {
        ScopedProcessLock lock(terminateMutex_);
        remaining_ = 0;
    }
    tasks_.Stop(wait);
}

kavel::MediaProbe* ConvertEngine::InputProbe(int taskIndex, int inputIndex) {
    return tasks_.Get(taskIndex).InputProbe(inputIndex);
}

void ConvertEngine::SetPreview(bool value) {
    preview_ = value;
    tasks_.SetPreviewFlag(Transcoder::PreviewWindowFlag, value);
}

void ConvertEngine::SetPreviewBitmap(bool value) {
    previewBitmap_ = value;
    tasks_.SetPreviewFlag(Transcoder::PreviewBitmapFlag, value);
}

void ConvertEngine::SetProgressInterval(int milliseconds) {
    progressInterval_ = milliseconds <= MinProgressInterval ? MinProgressInterval : milliseconds;
}

void ConvertEngine::DoCustomHook(TranscoderTask& task, TaskHookCall& call) {
    if (!OnCustomHook) {
        return;
    }
    ScopedProcessLock lock(hookMutex_);
    hookInfo_.TaskIndex = tasks_.IndexOf(&task);
    hookInfo_.Bitmap = call.Picture;
    hookInfo_.FrameNumber = call.FrameNumber;
    hookInfo_.PTS = call.PTS;
    hookInfo_.Update = call.Update;
    hookInfo_.StopHook = call.StopHook;
    try {
        OnCustomHook(*this, &hookInfo_);
        call.Update = hookInfo_.Update;
    } catch (...) {
        // The frame goes on unchanged; later frames are still offered.
        LogText(llError, "Error occurs OnCustomHook: " + CurrentErrorText());
        call.Update = false;
    }
    call.StopHook = hookInfo_.StopHook;
}

void ConvertEngine::DoPreviewBitmap(TranscoderTask& task, const kavel::Bitmap& picture, int frameNumber,
                                    int64_t pts) {
    if (!OnPreviewBitmap) {
        return;
    }
    ScopedProcessLock lock(previewMutex_);
    previewInfo_.TaskIndex = tasks_.IndexOf(&task);
    previewInfo_.Bitmap = &picture;
    previewInfo_.FrameNumber = frameNumber;
    previewInfo_.PTS = pts;
    if (triggerEventInMainThread_) {
        RunInMainThread([this] { OnPreviewBitmap(*this, previewInfo_); });
    } else {
        OnPreviewBitmap(*this, previewInfo_);
    }
}

void ConvertEngine::DoProgress(TranscoderTask& task, const ProgressReport& report) {
    if (!OnProgress) {
        return;
    }
    ScopedProcessLock lock(progressMutex_);
    progressInfo_.TaskIndex = tasks_.IndexOf(&task);
    progressInfo_.FileIndex = report.FileIndex;
    progressInfo_.FrameNumber = report.FrameNumber;
    progressInfo_.FPS = report.FPS;
    progressInfo_.Quality = report.Quality;
    progressInfo_.BitRate = report.BitRate;
    progressInfo_.TotalSize = report.TotalSize;
    progressInfo_.CurrentDuration = report.CurrentDuration;
    progressInfo_.TotalDuration = report.TotalDuration;
    if (triggerEventInMainThread_) {
        RunInMainThread([this] { OnProgress(*this, &progressInfo_); });
    } else {
        OnProgress(*this, &progressInfo_);
    }
}

void ConvertEngine::DoTerminate(TranscoderTask& task) {
    ScopedProcessLock lock(terminateMutex_);
    const int index = tasks_.IndexOf(&task);
    if (index < 0) {
        // Removed from the list while its report was on the way: nobody is waiting for it.
        return;
    }
    if (OnTerminate) {
        terminateInfo_.TaskIndex = index;
        terminateInfo_.Finished = task.Finished();
        terminateInfo_.Exception = task.Exception();
        terminateInfo_.ExceptionMsg = task.ExceptionMsg();
        DeliverTerminate(terminateInfo_);
    }
    ++finishedCount_;
    if (remaining_ < 1) {
        if (finishedCount_ >= tasks_.Count() && !allDone_) {
            EndRun();
        }
    } else if (threaded_) {
        StartNext();
    }
}

void ConvertEngine::EndRun() {
    if (OnTerminate) {
        terminateInfo_.TaskIndex = -1;
        terminateInfo_.Finished = true;
        terminateInfo_.Exception = false;
        terminateInfo_.ExceptionMsg.clear();
        DeliverTerminate(terminateInfo_);
    }
    allDone_ = true;
}

void ConvertEngine::CallOnTerminate(const TerminateInfo& info) {
    try {
        OnTerminate(*this, info);
    } catch (...) {
        LogText(llError, "Error occurs OnTerminate: " + CurrentErrorText());
    }
}

void ConvertEngine::DeliverTerminate(const TerminateInfo& info) {
    if (!threaded_) {
        CallOnTerminate(info);
        return;
    }
    ReapDeliveries(false);
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard lock(deliveryMutex_);
    const uint64_t ticket = nextTicket_++;
    std::thread thread([this, info, ticket, done] {
        // Each event has its own thread, but they take turns, so the events of a run arrive in
        // the order the tasks were reported and the end of the run comes last.
        {
            std::unique_lock turn(deliveryMutex_);
            deliveryTurn_.wait(turn, [&] { return servedTicket_ == ticket; });
        }
        CallOnTerminate(info);
        {
            std::lock_guard turn(deliveryMutex_);
            ++servedTicket_;
        }
        deliveryTurn_.notify_all();
        *done = true;
    });
    deliveries_.push_back({std::move(thread), std::move(done)});
}

void ConvertEngine::ReapDeliveries(bool all) {
    std::vector<Delivery> ended;
    {
        std::lock_guard lock(deliveryMutex_);
        for (auto it = deliveries_.begin(); it != deliveries_.end();) {
            if (all || *it->Done) {
                ended.push_back(std::move(*it));
                it = deliveries_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (Delivery& delivery : ended) {
        // A handler may be handing work to the main thread; keep delivering while it finishes.
        WaitPumping([&] { return delivery.Done->load(); });
        delivery.Thread.join();
    }
}

}  // namespace kavel
