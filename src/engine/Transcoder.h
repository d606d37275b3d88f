#pragma once

// The transcoder of one task: opens its inputs and outputs from the option state, then, in
// Transcode(), sets up streams and codecs and runs the read-decode-filter-encode-mux loop.
//
// Where the work lives: TranscoderInput.cpp opens inputs, TranscoderOutput.cpp opens outputs and
// creates their streams, TranscoderSetup.cpp maps streams and opens codecs, filters and headers,
// TranscoderLoop.cpp reads, decodes and writes packets, TranscoderVideo.cpp and
// TranscoderAudio.cpp are the two output paths (VideoFilter, AudioResampler), and
// TranscoderReport.cpp builds the progress report. TranscoderRun holds the state of one run.
//
// Threads: OpenInputFile, OpenOutputFile and NewStream run on the thread that adds the task
// (normally the main thread); Transcode runs on the task's worker thread, or on the caller's
// in a synchronous run. The callbacks are called synchronously from inside Transcode, on the
// thread that runs it. RequestStop may be called from any thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/TranscoderState.h"

struct AVFrame;

namespace kavel {

struct InputStream;
struct OutputStream;
struct InputFileRun;

// Figures and text of one progress report. FileIndex is -1 in the final report.
struct ProgressReport {
    int FileIndex = 0;
    int FrameNumber = 0;  // frames written by the first video output stream
    int FPS = 0;
    float Quality = -1.0f;  // the encoder's quantizer; -1 for copied video
    float BitRate = 0.0f;   // kbit/s
    int64_t TotalSize = 0;  // bytes written to the first output
    int64_t CurrentDuration = 0;  // microseconds of output written
    int64_t TotalDuration = -1;   // microseconds expected, -1 = no total
    std::string Text;             // "frame=... size=... time=... bitrate=..." line
    bool Final = false;
};

// One decoded video frame offered to the task's hook, before any output uses it. The frame is
// writable; what the hook draws into it is what gets encoded.
struct HookPoint {
    AVFrame* Frame = nullptr;
    int FrameNumber = 0;  // decoded video frames of the task, the first is 1
    int64_t PTS = 0;      // microseconds, time of the frame in its input
};

// One written video picture offered as a preview (output size and pixel format).
struct PreviewPoint {
    const AVFrame* Frame = nullptr;
    int FrameNumber = 0;
    int64_t PTS = 0;  // microseconds
};

class Transcoder : public TranscoderFiles {
public:
    // Bits of the preview flags.
    static constexpr uint8_t PreviewWindowFlag = 1;  // the engine's own preview window
    static constexpr uint8_t PreviewBitmapFlag = 2;  // pictures through the preview callback

    // Returns False to stop calling the hook for the rest of the task (StopHook). An exception
    // thrown by the handler is logged and the frame is encoded as it is.
    using HookCallback = std::function<bool(const HookPoint&)>;
    // Returns False when the picture could not be shown; previews then stay off for the task.
    using PreviewCallback = std::function<bool(const PreviewPoint&)>;
    using ProgressCallback = std::function<void(const ProgressReport&)>;
    // Called at every pass of the loop and between the frames of one picture. Returns True
    // when the task should stop. A paused task blocks inside it until resumed.
    using CheckpointCallback = std::function<bool()>;

    Transcoder();
    ~Transcoder() override;
    Transcoder(const Transcoder&) = delete;
    Transcoder& operator=(const Transcoder&) = delete;

    TranscoderState& State() { return state_; }
    const TranscoderState& State() const { return state_; }

    // TranscoderFiles. The openers never throw; they return False / -1 with ErrorText().
    bool OpenInputFile(const std::string& fileName) override;
    int OpenOutputFile(const std::string& fileName, bool join) override;
    std::string ErrorText() const override { return errorText_; }
    void NewStream(AVMediaType kind) override;
    bool AddVideoHook(const std::vector<std::string>& args) override;
    void EnableCustomHook() override { customHook_ = true; }

    void SetOnHook(HookCallback callback) { onHook_ = std::move(callback); }
    void SetOnPreview(PreviewCallback callback) { onPreview_ = std::move(callback); }
    void SetOnProgress(ProgressCallback callback) { onProgress_ = std::move(callback); }
    void SetCheckpoint(CheckpointCallback callback) { checkpoint_ = std::move(callback); }

    // Threads of every encoder and decoder the task opens; 0 lets the library choose.
    // Frame order, timestamps and hook frame numbers do not depend on it.
    void SetThreadCount(int count) { threadCount_ = count; }
    int ThreadCount() const { return threadCount_; }
    // Microseconds between progress reports (default 500 000).
    void SetProgressInterval(int64_t microseconds) { progressInterval_ = microseconds; }
    void SetPreviewFlags(uint8_t flags) { previewFlags_ = flags; }
    uint8_t PreviewFlags() const { return previewFlags_; }
    // Total for progress (microseconds, -1 = none); opening inputs raises it to their duration.
    void SetTotalDuration(int64_t microseconds) { totalDuration_ = microseconds; }
    int64_t TotalDuration() const { return totalDuration_; }
    bool Join() const { return join_; }

    // Any thread: the loop ends at its next pass; outputs are still finished properly.
    void RequestStop() { stopRequested_ = true; }
    bool StopRequested() const { return stopRequested_; }

    // The whole run: set-up, main loop, flushes, trailers, final report, clean-up.
    // Throws FFmpegException; codecs and buffers are released whatever happened, but no
    // trailer is written after an error. A task is transcoded once.
    void Transcode();
    // The loop ended for any reason but a stop request.
    bool Finished() const { return finished_; }

    int FramesDuplicated() const { return framesDuplicated_; }
    int FramesDropped() const { return framesDropped_; }

    // Closes every codec still open, then files and option state (back to a new task).
    void Release();

private:
    friend class TranscoderRun;

    // Opening inputs and outputs.
    void OpenInput(const std::string& fileName);
    int OpenOutput(const std::string& fileName);
    void AddVideoStream(AVFormatContext* context, int fileIndex);
    void AddAudioStream(AVFormatContext* context, int fileIndex);
    void AddSubtitleStream(AVFormatContext* context, int fileIndex);
    OutputStream& AddStreamCommon(AVFormatContext* context, int fileIndex, AVMediaType kind);

    TranscoderState state_;
    std::string errorText_;

    std::vector<std::unique_ptr<InputStream>> inputStreams_;
    std::vector<std::unique_ptr<InputFileRun>> inputRuns_;
    std::vector<std::unique_ptr<OutputStream>> outputStreams_;
    // Channel layout of the last audio stream opened, for the next audio output stream.
    AVChannelLayout inputChannelLayout_{};

    HookCallback onHook_;
    PreviewCallback onPreview_;
    ProgressCallback onProgress_;
    CheckpointCallback checkpoint_;
    bool customHook_ = false;

    int threadCount_ = 1;
    int64_t progressInterval_ = 500000;
    std::atomic<uint8_t> previewFlags_{0};
    int64_t totalDuration_ = -1;
    bool join_ = false;           // Join mode entered
    bool joinRequested_ = false;  // an output asked for Join
    std::atomic<bool> stopRequested_{false};
    bool finished_ = false;
    bool transcoded_ = false;
    int framesDuplicated_ = 0;
    int framesDropped_ = 0;
};

}  // namespace kavel
