#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/Bitmap.h"
#include "engine/FrameConverter.h"
#include "player/DisplayEvents.h"
#include "player/EventRing.h"
#include "player/ManualResetEvent.h"
#include "player/PlayState.h"
#include "player/PlaybackContext.h"
#include "player/VideoSurface.h"
#include "probe/MediaProbe.h"

namespace kavel {

class MediaPlayer;

// (Sender, ADuration, AFrameWidth, AFrameHeight, AScreenWidth, AScreenHeight). Raised once inside
// a successful Open, on the main thread. ADuration in microseconds (-1 unknown, 0 for an image
// sequence); the frame size is -1 x -1 without video. The handler may set the drawing area's
// size; a size left at 0 is taken from the surface afterwards.
using FileOpenEvent = std::function<void(MediaPlayer& Sender, int64_t ADuration, int AFrameWidth,
                                         int AFrameHeight, int& AScreenWidth, int& AScreenHeight)>;
// (Sender, ABitmap, APTS). Runs on the video decoding thread for every picture while Hook is
// set. ABitmap is the picture at its own size; what the handler leaves in it is shown. APTS in
// microseconds from the file's start. An exception leaves the picture as decoded.
using HookEvent = std::function<void(MediaPlayer& Sender, Bitmap& ABitmap, int64_t APTS)>;
// (Sender, APTS): the playing position in microseconds from the file's start.
using PositionEvent = std::function<void(MediaPlayer& Sender, int64_t APTS)>;
using PlayStateEvent = std::function<void(MediaPlayer& Sender, PlayState AState)>;

// Plays one media file at a time, with sound, into a VideoSurface, and reports its progress
// through OnFileOpen, OnPosition and OnState.
//
// States: idle -> Open -> psPlay <-> psPause / psResume -> psEnd (still open, can be sought
// back) -> Stop or the next Open -> psStop -> idle. A failed Open leaves the player idle.
//
// Every operation and property belongs to the main thread (the thread of the current
// MainThreadSynchronizer) and returns at once unless it says otherwise. OnPosition and OnState
// come from the player's event thread, on the main thread when TriggerEventInMainThread is set;
// while the main thread waits inside an operation it keeps delivering synchronised calls, so
// handlers never dead-lock it.
class MediaPlayer : private PlaybackHost {
public:
    MediaPlayer();
    // Clears OnPosition, OnState and OnHook, then stops with WaitForEnd.
    ~MediaPlayer() override;
    MediaPlayer(const MediaPlayer&) = delete;
    MediaPlayer& operator=(const MediaPlayer&) = delete;

    // The libraries the player needs: the engine's and SDL.
    static constexpr unsigned PlayerLibraries = 0xFD;

    bool LibrariesLoaded() const;
    // The libraries are linked into the program; this checks their versions. Folder is not used.
    // False with the loader's message in LastErrorMessage.
    bool LoadLibraries(const std::string& folder);

    // Stops what plays, opens fileName and starts playing into surface (null: nothing is shown,
    // sound still plays). Waits for the file to open, delivering main-thread calls meanwhile.
    // False with LastErrorMessage on failure.
    bool Open(const std::string& fileName, VideoSurface* surface, bool openPaused = false);
    void Pause();
    void Resume();
    // Position in microseconds from the start (a byte offset with seekFlags 2); seekFlags:
    // 1 backward, 2 bytes, 4 any frame. With wait, returns once the seek is done and, with
    // video, a picture of the new place is queued.
    void Seek(int64_t position, uint8_t seekFlags, bool wait);
    // Relative to the master clock, delta in seconds.
    void SeekBy(double delta, uint8_t seekFlags, bool wait);
    // The picture on show as a 24-bit bitmap of the video's size (0 x 0 without video, black
    // before the first picture); pts in microseconds from the start, -1 without a picture. The
    // bitmap belongs to the player and is reused by the next call: copy it.
    const Bitmap& CurrentFrame();
    const Bitmap& CurrentFrame(int64_t& pts);
    // Ends playback; with waitForEnd it returns once the play thread has ended (forcing the close
    // after about two seconds when the threads do not run down) and SDL is shut down.
    void Stop(bool waitForEnd);

    // The surface's owner reports changes of its drawing area. Any thread.
    void SurfaceResized(int width, int height);
    void SurfaceExposed();

    // Properties.
    const std::string& About() const { return about_; }
    void SetAbout(const std::string& value) { about_ = value; }
    static std::string Version() { return "1.0"; }
    float AspectRatio() const { return aspectRatio_; }
    // A different value while a file is open redraws the picture at the new aspect.
    void SetAspectRatio(float value);
    kavel::AudioDriver AudioDriver() const { return audioDriver_; }
    void SetAudioDriver(kavel::AudioDriver value) { audioDriver_ = value; }
    int AudioVolume() const { return audioVolume_; }
    // 0..128, read live; values outside are clamped.
    void SetAudioVolume(int value);
    bool DisableAudio() const { return disableAudio_; }
    void SetDisableAudio(bool value) { disableAudio_ = value; }
    bool DisableVideo() const { return disableVideo_; }
    void SetDisableVideo(bool value) { disableVideo_ = value; }
    bool DisableDisplay() const { return disableDisplay_; }
    void SetDisableDisplay(bool value) { disableDisplay_ = value; }
    bool Mute() const { return mute_; }
    void SetMute(bool value) { mute_ = value; }
    int FrameWidth() const { return frameWidth_; }
    void SetFrameWidth(int value) { frameWidth_ = value; }
    int FrameHeight() const { return frameHeight_; }
    void SetFrameHeight(int value) { frameHeight_ = value; }
    bool Hook() const { return hook_; }
    void SetHook(bool value) { hook_ = value; }
    int ScreenWidth() const { return screenWidth_; }
    void SetScreenWidth(int value) { screenWidth_ = value; }
    int ScreenHeight() const { return screenHeight_; }
    void SetScreenHeight(int value) { screenHeight_ = value; }
    bool TriggerEventInMainThread() const { return triggerEventInMainThread_; }
    void SetTriggerEventInMainThread(bool value) { triggerEventInMainThread_ = value; }
    kavel::VideoDriver VideoDriver() const { return videoDriver_; }
    void SetVideoDriver(kavel::VideoDriver value) { videoDriver_ = value; }

    void SetOnFileOpen(FileOpenEvent handler);
    void SetOnHook(HookEvent handler);
    void SetOnPosition(PositionEvent handler);
    void SetOnState(PlayStateEvent handler);

    // Read-only state.
    int64_t Position() const { return position_; }
    PlayState State() const { return state_; }
    std::string LastErrorMessage() const;
    // Describes the open file (attached at Open, detached when it closes).
    MediaProbe& Probe() { return probe_; }
    bool Seeking() const { return seeking_; }

private:
    // PlaybackHost.
    int CurrentAudioVolume() const override { return audioVolume_; }
    bool CurrentMute() const override { return mute_; }
    float CurrentAspectRatio() const override { return aspectRatio_; }
    void CurrentScreenSize(int& width, int& height) const override;
    void SetScreenSize(int width, int height) override;
    VideoSurface* Surface() const override { return surface_; }
    void PictureHook(const AVFrame& picture, AVFrame& overlay, int64_t ptsUS) override;
    void UpdatePosition(PlaybackContext& context) override;
    void SetState(PlayState state) override;
    void SetLastErrorMessage(const std::string& message) override;
    void ClearSeeking() override { seeking_ = false; }
    void DetachProbe() override;
    ManualResetEvent& SeekDoneEvent() override { return seekDone_; }
    ManualResetEvent& PictureQueuedEvent() override { return pictureQueued_; }

    std::shared_ptr<PlaybackContext> Current() const;
    bool Fail(const std::string& message);
    void StartSdl();
    void ShutdownSdl();
    void CloseContext();
    void ResetFileState();
    void PlayThread();
    void EventThread();
    void Deliver(const PlayerEvent& event);
    void CallHandler(const std::function<void()>& call);
    void WaitForEnd();
    void JoinPlayThread();
    void RequestSeek(int64_t target, int64_t hint, int flags, bool wait);

    std::string about_ = "Media player component";
    std::atomic<float> aspectRatio_{0.0f};
    kavel::AudioDriver audioDriver_ = adDefault;
    std::atomic<int> audioVolume_{128};
    bool disableAudio_ = false;
    bool disableVideo_ = false;
    bool disableDisplay_ = false;
    std::atomic<bool> mute_{false};
    int frameWidth_ = 0;
    int frameHeight_ = 0;
    std::atomic<bool> hook_{false};
    std::atomic<int> screenWidth_{0};
    std::atomic<int> screenHeight_{0};
    std::atomic<bool> triggerEventInMainThread_{true};
    kavel::VideoDriver videoDriver_ = vdDefault;

    mutable std::mutex handlersMutex_;
    FileOpenEvent onFileOpen_;
    HookEvent onHook_;
    PositionEvent onPosition_;
    PlayStateEvent onState_;

    std::atomic<int64_t> position_{-1};
    std::atomic<PlayState> state_{psStop};
    mutable std::mutex errorMutex_;
    std::string lastErrorMessage_;
    MediaProbe probe_;
    std::atomic<bool> probeAttached_{false};
    std::atomic<bool> seeking_{false};

    // The per-file state.
    mutable std::mutex contextMutex_;
    std::shared_ptr<PlaybackContext> context_;
    std::atomic<int> liveContexts_{0};
    std::string fileName_;
    VideoSurface* surface_ = nullptr;
    std::mutex positionMutex_;
    bool positionReported_ = false;
    int64_t lastReportedPosition_ = 0;

    // Serialises the display loop against the forced close of Stop.
    std::timed_mutex playerLock_;
    ManualResetEvent seekDone_{true};
    ManualResetEvent pictureQueued_{true};
    ManualResetEvent playThreadIdle_{true};
    DisplayEventQueue displayEvents_;
    std::thread playThread_;
    std::atomic<bool> sdlStarted_{false};

    EventRing ring_;
    std::thread eventThread_;
    std::atomic<bool> eventThreadStop_{false};
    std::atomic<bool> eventThreadDone_{true};

    // Video thread only.
    FrameConverter hookConverter_;
    Bitmap hookBitmap_;
    // Main thread only.
    FrameConverter grabConverter_;
    Bitmap grabBitmap_;
    Bitmap grabPicture_;
};

}  // namespace kavel
