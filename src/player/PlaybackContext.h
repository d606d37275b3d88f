#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/Bitmap.h"
#include "engine/FrameConverter.h"
#include "player/DisplayEvents.h"
#include "player/ManualResetEvent.h"
#include "player/PacketQueue.h"
#include "player/PlayState.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

struct AVFilterContext;
struct AVFilterGraph;
struct AVFormatContext;
struct AVFrame;
struct SwrContext;
struct SwsContext;

namespace kavel {

class PlaybackContext;
class VideoSurface;

// What a playback context needs from the player that owns it. The player outlives its contexts.
class PlaybackHost {
public:
    virtual ~PlaybackHost() = default;

    // Read live by the audio output (any thread).
    virtual int CurrentAudioVolume() const = 0;
    virtual bool CurrentMute() const = 0;
    // Read by the display loop.
    virtual float CurrentAspectRatio() const = 0;
    virtual void CurrentScreenSize(int& width, int& height) const = 0;
    virtual void SetScreenSize(int width, int height) = 0;
    virtual VideoSurface* Surface() const = 0;

    // Video thread: the picture was copied into overlay; the hook may draw into overlay.
    // ptsUS is the picture's time from the file's start.
    virtual void PictureHook(const AVFrame& picture, AVFrame& overlay, int64_t ptsUS) = 0;
    // Play thread after displayed pictures, video thread at the end of the video stream.
    virtual void UpdatePosition(PlaybackContext& context) = 0;
    virtual void SetState(PlayState state) = 0;
    virtual void SetLastErrorMessage(const std::string& message) = 0;
    virtual void ClearSeeking() = 0;
    // Read thread, before the demuxer context goes away.
    virtual void DetachProbe() = 0;
    virtual ManualResetEvent& SeekDoneEvent() = 0;
    virtual ManualResetEvent& PictureQueuedEvent() = 0;
};

struct PlaybackSettings {
    bool DisableAudio = false;
    bool DisableVideo = false;
    bool DisableDisplay = false;
    int FrameWidth = 0;
    int FrameHeight = 0;
    bool OpenPaused = false;
};

// One opened file: the read thread, the decoders with their threads, the queues between them,
// the clocks, and the drawing of pictures or of the waveform. Created by Open on the caller's
// thread; the display events run on the player's play thread; destruction closes the file and
// may happen on any thread except the context's own.
class PlaybackContext {
public:
    // Starts reading fileName and waits for the verdict, delivering main-thread calls meanwhile
    // when called on the main thread. Null on failure, with the message handed to the host.
    static std::unique_ptr<PlaybackContext> Open(PlaybackHost& host, DisplayEventQueue& events,
                                                 const std::string& fileName, const PlaybackSettings& settings);
    ~PlaybackContext();
    PlaybackContext(const PlaybackContext&) = delete;
    PlaybackContext& operator=(const PlaybackContext&) = delete;

    // Play thread. False for Quit: the caller closes the context and leaves its loop.
    bool HandleEvent(const DisplayEvent& event);

    // Main thread.
    void TogglePause();
    // Queues a seek for the read thread (target in microseconds or bytes, flags AVSEEK_FLAG_*).
    // False while another one is pending.
    bool RequestSeek(int64_t target, int64_t hint, int flags);

    double MasterClock() const;
    double VideoClock() const;
    double AudioClock() const;

    AVFormatContext* Format() const { return format_; }
    bool HasVideo() const { return videoStream_ >= 0; }
    bool HasAudio() const { return audioStream_ >= 0; }
    int VideoWidth() const { return videoWidth_; }
    int VideoHeight() const { return videoHeight_; }
    // Microseconds; start 0 and duration -1 when the container does not know them.
    int64_t StartTime() const { return startTime_; }
    int64_t Duration() const { return duration_; }
    int64_t AudioDuration() const { return audioDuration_; }
    int64_t BitRate() const;
    // The input's current byte position.
    int64_t BytePosition() const;
    bool ImageSequence() const { return imageSequence_; }
    bool LiveCapture() const { return liveCapture_; }
    bool Paused() const { return paused_; }
    bool Ended() const { return ended_; }
    bool EndReported() const { return endReported_; }
    void SetEndReported(bool value) { endReported_ = value; }
    bool Reading() const { return reading_; }
    bool SeekPending() const { return seekPending_; }

    // The picture on show (or, before the first one, the next one queued) as a bitmap of its
    // overlay's size; ptsSeconds its time. False when there is none. Main thread.
    bool GrabPicture(FrameConverter& converter, Bitmap& bitmap, double& ptsSeconds);

private:
    struct FrameFree {
        void operator()(AVFrame* frame) const;
    };
    using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
    struct CodecFree {
        void operator()(AVCodecContext* codec) const;
    };
    using CodecPtr = std::unique_ptr<AVCodecContext, CodecFree>;
    struct GraphFree {
        void operator()(AVFilterGraph* graph) const;
    };
    struct SwrFree {
        void operator()(SwrContext* context) const;
    };
    struct SwsFree {
        void operator()(SwsContext* context) const;
    };

    struct PictureSlot {
        double Pts = 0;
        int64_t Position = -1;
        double TargetTime = 0;
        FramePtr Overlay;  // YUV 4:2:0, even size
        int Width = 0;
        int Height = 0;
        bool Allocated = false;
        int RequestedWidth = 0;
        int RequestedHeight = 0;
        std::mutex OverlayLock;
    };
    struct SubpictureSlot {
        AVSubtitle Subtitle{};
        double Pts = 0;
        bool Filled = false;
    };

    PlaybackContext(PlaybackHost& host, DisplayEventQueue& events, const std::string& fileName,
                    const PlaybackSettings& settings);

    // Read thread.
    void ReadThread();
    int OpenInput();
    void ReadLoop();
    void PerformSeek();
    bool OpenStream(int index);
    void CloseStream(int index);
    void CloseInput();
    bool QueuesFull() const;
    static int InterruptCallback(void* opaque);

    // Video thread.
    void VideoThread();
    int NextFilteredPicture(AVFrame& decoded, AVFrame& filtered);
    int DecodePicture(AVFrame& picture);
    void HandleVideoFlush();
    bool ConfigureGraph(const AVFrame& picture);
    bool QueuePicture(const AVFrame& picture, double pts, int64_t position);
    double TargetDisplayTime(double pts);

    // Subtitle thread.
    void SubtitleThread();

    // Refresh thread.
    void RefreshThread();

    // Audio (SDL's callback thread).
    static void AudioCallback(void* opaque, uint8_t* stream, int length);
    void FillAudio(uint8_t* stream, int length);
    int DecodeAudioChunk();
    int ConvertAudioFrame(const AVFrame& frame);
    void AppendToHistory(const uint8_t* data, int bytes);

    // Display (play thread).
    void Refresh(bool advance);
    void AllocatePicture();
    void EnsureArea(bool force);
    void Draw();
    void DrawPicture(const AVFrame& overlay, double pts);
    void DrawWaveformArea();
    void ShowArea();
    void DropExpiredSubtitles(double picturePts);

    PlaybackHost& host_;
    DisplayEventQueue& events_;
    const std::string fileName_;
    const PlaybackSettings settings_;

    // Input.
    AVFormatContext* format_ = nullptr;
    std::atomic<int> openStatus_{0};
    std::atomic<bool> abort_{false};
    bool imageSequence_ = false;
    bool liveCapture_ = false;
    bool seekByBytes_ = false;
    int64_t startTime_ = 0;
    int64_t duration_ = -1;
    // Read by every thread of the context; closing a stream clears its index.
    std::atomic<int> audioStream_{-1};
    std::atomic<int> videoStream_{-1};
    std::atomic<int> subtitleStream_{-1};
    PacketQueue audioQueue_;
    PacketQueue videoQueue_;
    PacketQueue subtitleQueue_;
    CodecPtr audioCodec_;
    CodecPtr videoCodec_;
    CodecPtr subtitleCodec_;
    bool eof_ = false;

    // Control.
    std::atomic<bool> paused_{false};
    bool lastPaused_ = false;
    std::atomic<int> readPauseResult_{0};
    std::mutex seekMutex_;
    std::atomic<bool> seekPending_{false};
    int64_t seekTarget_ = 0;
    int64_t seekHint_ = 0;
    int seekFlags_ = 0;
    std::atomic<bool> ended_{false};
    bool endLogged_ = false;
    std::atomic<bool> endReported_{false};
    std::atomic<bool> reading_{false};
    std::atomic<bool> afterSeek_{false};
    std::atomic<bool> flushSeen_{false};
    std::atomic<bool> pausedAtSeek_{false};
    std::atomic<bool> shownSinceFlush_{false};
    std::atomic<int> afterOpenCount_{0};

    // Audio.
    uint32_t audioDevice_ = 0;  // SDL_AudioDeviceID
    int audioChannels_ = 0;     // of the output
    int audioRate_ = 0;
    std::vector<uint8_t> audioBuffer_;  // converted 16-bit samples
    int audioBufferSize_ = 0;
    int audioBufferIndex_ = 0;
    FramePtr audioFrame_;
    bool audioPacketPending_ = false;  // a packet was sent and its frames are not all received
    std::atomic<double> audioClock_{0.0};
    std::unique_ptr<SwrContext, SwrFree> resampler_;
    int resamplerFormat_ = -1;
    int resamplerChannels_ = 0;
    int resamplerRate_ = 0;
    int64_t audioDuration_ = -1;
    std::atomic<int64_t> lastAudioCallback_{0};
    std::atomic<int> audioBytesBuffered_{0};
    std::mutex historyMutex_;
    std::vector<int16_t> history_;
    int historyIndex_ = 0;

    // Video.
    int videoWidth_ = 0;
    int videoHeight_ = 0;
    double frameDuration_ = 0.04;
    std::array<PictureSlot, 2> pictures_;
    int pictureReadIndex_ = 0;
    int pictureWriteIndex_ = 0;
    int pictureCount_ = 0;
    std::mutex pictureMutex_;
    std::condition_variable pictureChanged_;
    double frameTimer_ = 0;
    double frameLastPts_ = 0;
    bool frameLastPtsKnown_ = false;
    double frameLastDelay_ = 0;
    double decoderClock_ = 0;  // time of the next decoded picture
    std::atomic<double> currentPts_{0.0};
    std::atomic<double> ptsDrift_{0.0};
    std::atomic<int64_t> currentPosition_{-1};
    std::atomic<double> skipFactor_{1.0};
    double skipCounter_ = 0;
    int faultyPts_ = 0;
    int faultyDts_ = 0;
    int64_t lastPtsSeen_ = INT64_MIN;
    int64_t lastDtsSeen_ = INT64_MIN;
    bool decoderHasInput_ = false;
    std::unique_ptr<AVFilterGraph, GraphFree> graph_;
    AVFilterContext* graphSource_ = nullptr;
    AVFilterContext* graphSink_ = nullptr;
    int graphWidth_ = 0;
    int graphHeight_ = 0;
    int graphFormat_ = -1;
    std::mutex shownMutex_;
    FramePtr shown_;  // a reference to the overlay on show
    double shownPts_ = 0;

    // Subtitles.
    std::array<SubpictureSlot, 4> subpictures_;
    int subpictureReadIndex_ = 0;
    int subpictureWriteIndex_ = 0;
    int subpictureCount_ = 0;
    bool subpicturesStopping_ = false;
    std::mutex subpictureMutex_;
    std::condition_variable subpictureChanged_;

    // Display (play thread).
    std::atomic<bool> waveform_{false};
    std::atomic<bool> refreshPending_{false};
    bool areaOpen_ = false;
    Bitmap area_;
    FramePtr blendScratch_;
    std::unique_ptr<SwsContext, SwsFree> displayScaler_;

    std::atomic<bool> readDone_{false};
    std::atomic<bool> refreshDone_{false};
    std::thread readThread_;
    std::thread refreshThread_;
    std::thread videoThread_;
    std::thread subtitleThread_;
};

}  // namespace kavel
