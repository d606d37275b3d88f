#include "engine/TranscoderTask.h"

#include <algorithm>
#include <chrono>
#include <exception>

#include "engine/EngineLogger.h"
#include "engine/FFmpegException.h"
#include "engine/LibraryLock.h"
#include "engine/MainThread.h"
#include "engine/OptionParser.h"
#include "engine/TranscoderHelpers.h"
#include "probe/MediaProbe.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace kavel {

namespace {

// Step of the waits for a worker: short enough to notice the end at once, long enough not to spin.
constexpr auto StopWaitStep = std::chrono::milliseconds(20);

constexpr uint8_t AllPreviewFlags = Transcoder::PreviewWindowFlag | Transcoder::PreviewBitmapFlag;

std::string CurrentErrorText() {
    try {
        throw;
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "Unknown error";
    }
}

void JoinOrDetach(std::thread& thread) {
    if (!thread.joinable()) {
        return;
    }
    if (thread.get_id() == std::this_thread::get_id()) {
        thread.detach();
    } else {
        thread.join();
    }
}

}  // namespace

TranscoderTask::TranscoderTask() {
    transcoder_.SetCheckpoint([this] { return Checkpoint(); });
    transcoder_.SetOnPreview([this](const PreviewPoint& point) { return OnPreviewPoint(point); });
    transcoder_.SetOnProgress([this](const ProgressReport& report) {
        if (callbacks_.Progress) {
            callbacks_.Progress(*this, report);
        }
    });
}

TranscoderTask::~TranscoderTask() {
    {
        std::lock_guard lock(mutex_);
        if (phase_ == Phase::Running) {
            stopRequested_ = true;
            transcoder_.RequestStop();
            paused_ = false;
            pauseRequested_ = false;
            wake_.notify_all();
        }
    }
    const std::thread::id self = std::this_thread::get_id();
    if (worker_.get_id() != self && terminateReporter_.get_id() != self) {
        WaitPumping([this] { return runDone_.load() && terminateDone_.load(); }, StopWaitStep);
    }
    JoinOrDetach(worker_);
    JoinOrDetach(terminateReporter_);
    CloseProbes();
}

void TranscoderTask::SetCallbacks(TaskCallbacks callbacks) { callbacks_ = std::move(callbacks); }

void TranscoderTask::BindHook() {
    transcoder_.SetOnHook([this](const HookPoint& point) { return OnHookPoint(point); });
}

void TranscoderTask::AddInput(const std::string& fileName, InputOptions* record) {
    if (record != nullptr && record->FileName.empty()) {
        record->FileName = fileName;
    }
    InputOptions copy;
    if (record != nullptr) {
        copy = *record;
    } else {
        copy.FileName = fileName;
    }
    OptionParser parser(transcoder_.State(), transcoder_);
    ApplyInputRecord(parser, record != nullptr ? &copy : nullptr, fileName);
    // Converting from a start position writes only the rest of the file: progress is measured
    // against that rest, so it reaches 100 % at the end.
    const int64_t total = transcoder_.TotalDuration();
    if (copy.StartTime != NoTime && copy.StartTime > 0 && total > copy.StartTime)
        transcoder_.SetTotalDuration(total - copy.StartTime);
    inputRecords_.push_back(std::move(copy));
}

bool TranscoderTask::AddOutput(const std::string& fileName, OutputOptions* record, std::string& errorText) {
    if (OutputCount() >= MaxOutputFiles) {
        errorText = FormatText("max output files %d reached", MaxOutputFiles);
        return false;
    }
    if (record != nullptr && record->FileName.empty()) {
        record->FileName = fileName;
    }
    OutputOptions copy;
    if (record != nullptr) {
        copy = *record;
    } else {
        copy.FileName = fileName;
    }
    try {
        OptionParser parser(transcoder_.State(), transcoder_);
        ApplyOutputRecord(parser, record != nullptr ? &copy : nullptr, fileName);
    } catch (...) {
        errorText = CurrentErrorText();
        return false;
    }
    // A recording length is what the task will write, so it is the progress total.
    if (copy.Duration != NoTime && copy.Duration > 0)
        transcoder_.SetTotalDuration(copy.Duration);
    if (copy.CustomHook) {
        BindHook();
    }
    outputRecords_.push_back(std::move(copy));
    return true;
}

int TranscoderTask::InputCount() const {
    std::lock_guard lock(mutex_);
    return phase_ == Phase::Created ? static_cast<int>(transcoder_.State().InputFiles.size())
                                    : static_cast<int>(inputRecords_.size());
}

int TranscoderTask::OutputCount() const {
    std::lock_guard lock(mutex_);
    const int opened = phase_ == Phase::Created ? static_cast<int>(transcoder_.State().OutputFiles.size()) : 0;
    return std::max(opened, static_cast<int>(outputRecords_.size()));
}

kavel::MediaProbe* TranscoderTask::InputProbe(int inputIndex) {
    if (inputIndex < 0 || inputIndex >= MaxInputFiles) {
        return nullptr;
    }
    std::lock_guard lock(mutex_);
    auto& probe = probes_[static_cast<size_t>(inputIndex)];
    // Only a task that has not started yet still has its inputs open on this thread's side.
    if (!probe && phase_ == Phase::Created &&
        inputIndex < static_cast<int>(transcoder_.State().InputFiles.size())) {
        auto created = std::make_unique<kavel::MediaProbe>();
        created->Attach(transcoder_.State().InputFiles[static_cast<size_t>(inputIndex)].Context.get());
        probe = std::move(created);
    }
    return probe.get();
}

void TranscoderTask::CloseProbes() {
    // The probes only borrow the inputs' contexts, which the run is about to free.
    for (auto& probe : probes_) {
        if (probe) {
            probe->Close();
        }
    }
}

void TranscoderTask::SetPreviewFlags(uint8_t flags) {
    PreviewLock lock;
    transcoder_.SetPreviewFlags(flags);
}

void TranscoderTask::ClearPreviewFlag(uint8_t flag) {
    PreviewLock lock;
    transcoder_.SetPreviewFlags(static_cast<uint8_t>(transcoder_.PreviewFlags() & ~flag));
}

bool TranscoderTask::Start(bool threaded, ThreadPriority priority) {
    std::unique_lock lock(mutex_);
    if (phase_ != Phase::Created) {
        return false;
    }
    const char* missing = nullptr;
    if (transcoder_.State().OutputFiles.empty()) {
        missing = "At least one output file must be specified";
    } else if (transcoder_.State().InputFiles.empty()) {
        missing = "At least one input file must be specified";
    }
    if (missing != nullptr) {
        phase_ = Phase::Reporting;
        lock.unlock();
        CloseProbes();
        transcoder_.Release();
        RecordError(missing);  // logged at the always-shown level
        ReportTermination();
        return false;
    }
    phase_ = Phase::Running;
    threaded_ = threaded;
    stopRequested_ = false;
    finished_ = false;
    if (threaded) {
        runDone_ = false;
        worker_ = std::thread([this, priority] { RunOnWorker(priority); });
        return true;
    }
    lock.unlock();
    Run();
    return true;
}

void TranscoderTask::RunOnWorker(ThreadPriority priority) {
    if (!ApplyThreadPriority(priority)) {
        Log(llDebug, "Thread priority %d not fully applied", static_cast<int>(priority));
    }
    Run();
    // Last touch of the task: whoever waits for the worker may free it from here on.
    runDone_ = true;
}

void TranscoderTask::Run() {
    finished_ = false;
    // Each step runs even when the one before failed; the last error's text is the one kept.
    try {
        transcoder_.Transcode();
    } catch (...) {
        RecordError(CurrentErrorText());
    }
    finished_ = transcoder_.Finished();
    try {
        CloseProbes();
    } catch (...) {
        RecordError(CurrentErrorText());
    }
    try {
        // Codecs still open after a failed transcode first, then files and option state.
        transcoder_.Release();
    } catch (...) {
        RecordError(CurrentErrorText());
    }
    try {
        ReportTermination();
    } catch (...) {
        RecordError(CurrentErrorText());
    }
}

void TranscoderTask::RecordError(const std::string& message) {
    LogText(llQuiet, message);
    std::lock_guard lock(mutex_);
    exceptionMsg_ = message;
    exception_ = true;
}

void TranscoderTask::ReportTermination() {
    {
        std::lock_guard lock(mutex_);
        phase_ = Phase::Terminated;
        paused_ = false;
        pauseRequested_ = false;
    }
    if (callbacks_.Terminate) {
        callbacks_.Terminate(*this);
    }
}

void TranscoderTask::Pause() {
    std::lock_guard lock(mutex_);
    if (phase_ == Phase::Running && threaded_ && !stopRequested_) {
        paused_ = true;
        pauseRequested_ = true;
    }
}

void TranscoderTask::Resume() {
    std::lock_guard lock(mutex_);
    paused_ = false;
    pauseRequested_ = false;
    wake_.notify_all();
}

void TranscoderTask::Stop(bool wait) {
    bool waitable = wait;
    {
        std::lock_guard lock(mutex_);
        switch (phase_) {
            case Phase::Created:
                phase_ = Phase::Reporting;
                terminateDone_ = false;
                terminateReporter_ = std::thread([this] {
                    ReportTermination();
                    terminateDone_ = true;
                });
                break;
            case Phase::Running:
                stopRequested_ = true;
                transcoder_.RequestStop();
                paused_ = false;
                pauseRequested_ = false;
                wake_.notify_all();
                break;
            case Phase::Reporting:
            case Phase::Terminated:
                break;
        }
        // A worker asking to stop itself must not wait for its own end.
        const std::thread::id self = std::this_thread::get_id();
        if (worker_.get_id() == self || terminateReporter_.get_id() == self) {
            waitable = false;
        }
    }
    if (waitable) {
        // Also waits for a worker that has reported but not yet left the component's termination
        // handling, so that a run stopped with wait has ended when this returns.
        WaitPumping([this] { return runDone_.load() && terminateDone_.load(); }, StopWaitStep);
    }
}

bool TranscoderTask::Running() const {
    std::lock_guard lock(mutex_);
    return phase_ == Phase::Running;
}

bool TranscoderTask::Terminated() const {
    std::lock_guard lock(mutex_);
    return phase_ == Phase::Terminated;
}

std::string TranscoderTask::ExceptionMsg() const {
    std::lock_guard lock(mutex_);
    return exceptionMsg_;
}

bool TranscoderTask::Checkpoint() {
    if (!pauseRequested_) {
        return stopRequested_;
    }
    std::unique_lock lock(mutex_);
    parked_ = true;
    wake_.wait(lock, [this] { return !paused_ || stopRequested_; });
    parked_ = false;
    return stopRequested_;
}

bool TranscoderTask::OnHookPoint(const HookPoint& point) {
    if (!callbacks_.Hook || point.Frame == nullptr) {
        return true;
    }
    if (!hookConverter_.ToBitmap(*point.Frame, hookPicture_)) {
        LogText(llError, "Cannot initialize the toRGB conversion context");
        return false;
    }
    TaskHookCall call;
    call.Picture = &hookPicture_;
    call.FrameNumber = point.FrameNumber;
    call.PTS = point.PTS;
    callbacks_.Hook(*this, call);
    if (call.Update && !hookConverter_.FromBitmap(hookPicture_, *point.Frame)) {
        LogText(llError, "Cannot initialize the fromRGB conversion context");
        return false;
    }
    return !call.StopHook;
}

bool TranscoderTask::OnPreviewPoint(const PreviewPoint& point) {
    const uint8_t flags = transcoder_.PreviewFlags();
    if ((flags & AllPreviewFlags) == 0 || point.Frame == nullptr) {
        return (flags & AllPreviewFlags) != 0;
    }
    if ((flags & Transcoder::PreviewBitmapFlag) != 0 && callbacks_.Preview) {
        if (previewConverter_.ToBitmap(*point.Frame, previewPicture_)) {
            callbacks_.Preview(*this, previewPicture_, point.FrameNumber, point.PTS);
        } else {
            LogText(llError, "Cannot initialize the toRGB conversion context");
            ClearPreviewFlag(Transcoder::PreviewBitmapFlag);
        }
    } else if ((flags & Transcoder::PreviewWindowFlag) != 0) {
        if (!previewWindow_) {
            previewWindow_ = CreatePreviewWindow();
        }
        // No window to show in, a picture that does not convert, or a window the user closed.
        if (!previewWindow_ || !previewConverter_.ToBitmap(*point.Frame, previewPicture_) ||
            !previewWindow_->Show(previewPicture_, point.FrameNumber, point.PTS)) {
            ClearPreviewFlag(Transcoder::PreviewWindowFlag);
        }
    }
    return (transcoder_.PreviewFlags() & AllPreviewFlags) != 0;
}

}  // namespace kavel
