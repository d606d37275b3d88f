#include "player/MediaPlayer.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "engine/EngineLogger.h"
#include "engine/FFmpegLoader.h"
#include "engine/MainThread.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace kavel {

namespace {

// Positions closer than this to the last reported one are not reported again.
constexpr int64_t PositionStep = 10000;
constexpr int ForcedClosePasses = 20;
constexpr int ForcedClosePassesWhileReading = 10;

void RegisterSdlVersion() {
    static const bool registered = [] {
        SetLibraryVersionQuery(libSDL, [] {
            SDL_version running{};
            SDL_GetVersion(&running);
            return LibraryVersion{SDL_MAJOR_VERSION, running.major};
        });
        return true;
    }();
    (void)registered;
}

// SDL_AUDIODRIVER as the process found it, so that adDefault keeps the user's choice even after
// another driver was asked for.
const std::optional<std::string>& InheritedAudioDriver() {
    static const std::optional<std::string> inherited = []() -> std::optional<std::string> {
        const char* value = std::getenv("SDL_AUDIODRIVER");
        return value ? std::optional<std::string>(value) : std::nullopt;
    }();
    return inherited;
}

void SelectAudioDriver(AudioDriver driver) {
    const std::optional<std::string>& inherited = InheritedAudioDriver();
    const char* name = nullptr;
    if (driver == adDirectSound) {
        name = "pulseaudio";
    } else if (driver == adWaveOut) {
        name = "alsa";
    } else if (inherited) {
        name = inherited->c_str();
    }
    if (name) {
        setenv("SDL_AUDIODRIVER", name, 1);
    } else {
        unsetenv("SDL_AUDIODRIVER");
    }
}

// Waits up to timeout for event; a main thread keeps delivering synchronised calls meanwhile.
bool WaitEventPumping(const ManualResetEvent& event, std::chrono::milliseconds timeout) {
    MainThreadSynchronizer& synchronizer = CurrentSynchronizer();
    if (!synchronizer.IsMainThread()) {
        return event.WaitFor(timeout);
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (event.IsSet()) {
            return true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        synchronizer.DeliverPending(std::min(left, std::chrono::milliseconds(5)));
        event.WaitFor(std::chrono::milliseconds(1));
    }
}

}  // namespace

MediaPlayer::MediaPlayer() { RegisterSdlVersion(); }

MediaPlayer::~MediaPlayer() {
    {
        std::lock_guard lock(handlersMutex_);
        onPosition_ = nullptr;
        onState_ = nullptr;
        onHook_ = nullptr;
    }
    Stop(true);
    if (eventThread_.joinable()) {
        eventThreadStop_ = true;
        ring_.Wake();
        WaitPumping([this] { return eventThreadDone_.load(); });
        eventThread_.join();
    }
    probe_.Close();
}

// ---------------------------------------------------------------------------------------------
// Libraries

bool MediaPlayer::LibrariesLoaded() const { return kavel::LibrariesLoaded(PlayerLibraries); }

bool MediaPlayer::LoadLibraries(const std::string& folder) {
    (void)folder;
    if (kavel::LoadLibraries(PlayerLibraries)) {
        return true;
    }
    SetLastErrorMessage(LastLoadError());
    return false;
}

// ---------------------------------------------------------------------------------------------
// Properties

void MediaPlayer::SetAspectRatio(float value) {
    if (value == aspectRatio_) {
        return;
    }
    aspectRatio_ = value;
    if (Current()) {
        displayEvents_.Post({DisplayEventType::AspectChanged});
    }
}

void MediaPlayer::SetAudioVolume(int value) { audioVolume_ = std::clamp(value, 0, SDL_MIX_MAXVOLUME); }

void MediaPlayer::SetOnFileOpen(FileOpenEvent handler) {
    std::lock_guard lock(handlersMutex_);
    onFileOpen_ = std::move(handler);
}

void MediaPlayer::SetOnHook(HookEvent handler) {
    std::lock_guard lock(handlersMutex_);
    onHook_ = std::move(handler);
}

void MediaPlayer::SetOnPosition(PositionEvent handler) {
    std::lock_guard lock(handlersMutex_);
    onPosition_ = std::move(handler);
}

void MediaPlayer::SetOnState(PlayStateEvent handler) {
    std::lock_guard lock(handlersMutex_);
    onState_ = std::move(handler);
}

std::string MediaPlayer::LastErrorMessage() const {
    std::lock_guard lock(errorMutex_);
    return lastErrorMessage_;
}

void MediaPlayer::SetLastErrorMessage(const std::string& message) {
    std::lock_guard lock(errorMutex_);
    lastErrorMessage_ = message;
}

bool MediaPlayer::Fail(const std::string& message) {
    LogText(llError, message);
    SetLastErrorMessage(message);
    return false;
}

void MediaPlayer::CurrentScreenSize(int& width, int& height) const {
    width = screenWidth_;
    height = screenHeight_;
}

void MediaPlayer::SetScreenSize(int width, int height) {
    screenWidth_ = width;
    screenHeight_ = height;
}

std::shared_ptr<PlaybackContext> MediaPlayer::Current() const {
    std::lock_guard lock(contextMutex_);
    return context_;
}

// ---------------------------------------------------------------------------------------------
// SDL

void MediaPlayer::StartSdl() {
    SelectAudioDriver(audioDriver_);
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        char message[512];
        std::snprintf(message, sizeof message, "Could not initialize SDL with ScreenHandle(%u): %s",
                      static_cast<unsigned>(reinterpret_cast<uintptr_t>(surface_)), SDL_GetError());
        throw std::runtime_error(message);
    }
    sdlStarted_ = true;
    const char* driver = SDL_GetCurrentAudioDriver();
    av_log(nullptr, AV_LOG_DEBUG, "using audio driver: %s\n", driver ? driver : "(none)");
}

void MediaPlayer::ShutdownSdl() {
    if (sdlStarted_.exchange(false)) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
}

// ---------------------------------------------------------------------------------------------
// Open and Stop

bool MediaPlayer::Open(const std::string& fileName, VideoSurface* surface, bool openPaused) {
    if (!LibrariesLoaded()) {
        return Fail("libav or libsdl not loaded.");
    }
    Stop(true);

    surface_ = surface;
    try {
        StartSdl();
    } catch (const std::runtime_error& error) {
        surface_ = nullptr;
        return Fail(error.what());
    }
    if (disableDisplay_) {
        disableVideo_ = true;
    }
    displayEvents_.Clear();
    ResetFileState();
    seekDone_.Set();
    pictureQueued_.Set();

    PlaybackSettings settings;
    settings.DisableAudio = disableAudio_;
    settings.DisableVideo = disableVideo_;
    settings.DisableDisplay = disableDisplay_;
    settings.FrameWidth = frameWidth_;
    settings.FrameHeight = frameHeight_;
    settings.OpenPaused = openPaused;
    std::unique_ptr<PlaybackContext> opened = PlaybackContext::Open(*this, displayEvents_, fileName, settings);
    if (opened) {
        ++liveContexts_;
    }
    // The count drops only once the context is completely closed.
    std::shared_ptr<PlaybackContext> context(opened.release(), [this](PlaybackContext* closing) {
        if (closing) {
            delete closing;
            --liveContexts_;
        }
    });
    if (!context) {
        ResetFileState();
        ShutdownSdl();
        surface_ = nullptr;
        return false;
    }
    {
        std::lock_guard lock(contextMutex_);
        context_ = context;
    }
    fileName_ = fileName;
    try {
        probe_.Attach(context->Format());
        probeAttached_ = true;
    } catch (const std::exception& error) {
        LogText(llError, error.what());
    }

    int screenWidth = screenWidth_;
    int screenHeight = screenHeight_;
    FileOpenEvent onFileOpen;
    {
        std::lock_guard lock(handlersMutex_);
        onFileOpen = onFileOpen_;
    }
    if (onFileOpen) {
        const int64_t duration = context->ImageSequence() ? 0 : context->Duration();
        const int frameWidth = context->HasVideo() ? context->VideoWidth() : -1;
        const int frameHeight = context->HasVideo() ? context->VideoHeight() : -1;
        CallHandler([&] { onFileOpen(*this, duration, frameWidth, frameHeight, screenWidth, screenHeight); });
    }
    if (surface_ && (screenWidth == 0 || screenHeight == 0)) {
        surface_->ClientSize(screenWidth, screenHeight);
    }
    screenWidth_ = screenWidth;
    screenHeight_ = screenHeight;

    if (!eventThread_.joinable()) {
        eventThreadStop_ = false;
        eventThreadDone_ = false;
        eventThread_ = std::thread(&MediaPlayer::EventThread, this);
    }
    playThreadIdle_.Reset();
    playThread_ = std::thread(&MediaPlayer::PlayThread, this);
    return true;
}

void MediaPlayer::ResetFileState() {
    position_ = -1;
    std::lock_guard lock(positionMutex_);
    positionReported_ = false;
    lastReportedPosition_ = 0;
    seeking_ = false;
}

void MediaPlayer::DetachProbe() {
    if (!probeAttached_.exchange(false)) {
        return;
    }
    RunInMainThread([this] { probe_.Close(); });
}

void MediaPlayer::CloseContext() {
    std::shared_ptr<PlaybackContext> closing;
    {
        std::lock_guard lock(contextMutex_);
        closing.swap(context_);
    }
    closing.reset();
    // An operation on the main thread may hold the context a moment longer and close it then;
    // SDL must not be shut down before its audio device is closed.
    WaitPumping([this] { return liveContexts_ == 0; }, std::chrono::milliseconds(1));
    ResetFileState();
}

void MediaPlayer::Stop(bool waitForEnd) {
    if (std::shared_ptr<PlaybackContext> context = Current()) {
        // Forget the demuxer here, so that closing it never needs this thread.
        DetachProbe();
        if (context->Paused()) {
            context->TogglePause();
        }
        context.reset();
        displayEvents_.Post({DisplayEventType::Quit});
    }
    if (waitForEnd) {
        WaitForEnd();
        JoinPlayThread();
        ShutdownSdl();
        surface_ = nullptr;
    }
}

void MediaPlayer::WaitForEnd() {
    int pass = 1;
    for (;;) {
        if (WaitEventPumping(playThreadIdle_, std::chrono::milliseconds(100))) {
            return;
        }
        if (IsMainThread()) {
            CurrentSynchronizer().DeliverPending();
        }
        if (!Current()) {
            return;
        }
        std::unique_lock lock(playerLock_, std::defer_lock);
        if (!lock.try_lock_for(std::chrono::milliseconds(100))) {
            continue;
        }
        ++pass;
        std::shared_ptr<PlaybackContext> context = Current();
        const bool reading = context && context->Reading();
        context.reset();
        if (pass > ForcedClosePasses || (pass > ForcedClosePassesWhileReading && reading)) {
            LogText(llWarning, "the play thread did not end in time; closing the file");
            CloseContext();
            ShutdownSdl();
            // The play thread finds nothing open and leaves its loop.
            displayEvents_.Post({DisplayEventType::Quit});
            return;
        }
        displayEvents_.Post({DisplayEventType::Quit});
    }
}

void MediaPlayer::JoinPlayThread() {
    if (!playThread_.joinable()) {
        return;
    }
    WaitPumping([this] { return playThreadIdle_.IsSet(); });
    playThread_.join();
}

// ---------------------------------------------------------------------------------------------
// Threads

void MediaPlayer::PlayThread() {
    SetState(psPlay);
    for (;;) {
        const DisplayEvent event = displayEvents_.Wait();
        std::lock_guard lock(playerLock_);
        std::shared_ptr<PlaybackContext> context = Current();
        if (!context) {
            break;
        }
        bool quit = false;
        try {
            quit = !context->HandleEvent(event);
        } catch (const std::exception& error) {
            LogText(llFatal, std::string("PlayThread Exception: ") + error.what());
            quit = true;
        }
        if (quit) {
            context.reset();
            CloseContext();
            break;
        }
    }
    ShutdownSdl();
    SetState(psStop);
    playThreadIdle_.Set();
}

void MediaPlayer::EventThread() {
    while (!eventThreadStop_) {
        PlayerEvent event;
        while (!eventThreadStop_ && ring_.Take(event)) {
            Deliver(event);
        }
        ring_.WaitPending(std::chrono::milliseconds(1000));
    }
    eventThreadDone_ = true;
}

void MediaPlayer::CallHandler(const std::function<void()>& call) {
    try {
        if (triggerEventInMainThread_ && !IsMainThread()) {
            RunInMainThread(call);
        } else {
            call();
        }
    } catch (const std::exception& error) {
        LogText(llError, std::string("Error occurs in a player event handler: ") + error.what());
    } catch (...) {
        LogText(llError, "Error occurs in a player event handler");
    }
}

void MediaPlayer::Deliver(const PlayerEvent& event) {
    // The handler is looked up where it runs, so that one cleared meanwhile (the destructor
    // clears them) is no longer called.
    switch (event.Kind) {
    case PlayerEventKind::Position:
        CallHandler([&] {
            PositionEvent handler;
            {
                std::lock_guard lock(handlersMutex_);
                handler = onPosition_;
            }
            if (handler) {
                handler(*this, event.PTS);
            }
        });
        break;
    case PlayerEventKind::State:
        CallHandler([&] {
            PlayStateEvent handler;
            {
                std::lock_guard lock(handlersMutex_);
                handler = onState_;
            }
            if (handler) {
                handler(*this, event.State);
            }
        });
        break;
    case PlayerEventKind::EndOfDelivery:
        break;
    }
}

void MediaPlayer::SetState(PlayState state) {
    state_ = state;
    bool hasHandler;
    {
        std::lock_guard lock(handlersMutex_);
        hasHandler = static_cast<bool>(onState_);
    }
    if (hasHandler) {
        ring_.Post({PlayerEventKind::State, state, 0});
    } else if (state == psStop) {
        ring_.Post({PlayerEventKind::EndOfDelivery, state, 0});
    }
}

// ---------------------------------------------------------------------------------------------
// Position and end

void MediaPlayer::UpdatePosition(PlaybackContext& context) {
    if (context.ImageSequence()) {
        return;
    }
    const int64_t start = context.StartTime();
    const int64_t duration = context.Duration();
    int64_t position;
    if (context.HasVideo()) {
        position = std::llround(context.VideoClock() * 1000000.0) - start;
    } else if (context.HasAudio()) {
        position = static_cast<int64_t>(context.AudioClock() * 1000000.0) - start;
        const int64_t audioDuration = context.AudioDuration();
        // A sound that ends before its container reports the container's end.
        if (audioDuration > 0 && position >= audioDuration && position < duration) {
            position = duration;
        }
    } else {
        return;
    }
    bool report = false;
    {
        std::lock_guard lock(positionMutex_);
        if (duration > 0 && position >= duration) {
            position = duration;
            if (!positionReported_ || position != lastReportedPosition_) {
                positionReported_ = true;
                lastReportedPosition_ = 0;
            }
        }
        position_ = position;
        if (!positionReported_ || std::llabs(position - lastReportedPosition_) > PositionStep) {
            positionReported_ = true;
            lastReportedPosition_ = position;
            report = true;
        }
    }
    if (report) {
        bool hasHandler;
        {
            std::lock_guard lock(handlersMutex_);
            hasHandler = static_cast<bool>(onPosition_);
        }
        if (hasHandler) {
            ring_.Post({PlayerEventKind::Position, psPlay, position});
        }
    }
    if (!context.LiveCapture() && context.Ended() && !context.EndReported()) {
        SetState(psEnd);
        if (context.HasVideo()) {
            context.SetEndReported(true);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Pause, resume and seeking

void MediaPlayer::Pause() {
    std::shared_ptr<PlaybackContext> context = Current();
    if (!context || context->Paused()) {
        return;
    }
    context->TogglePause();
    SetState(psPause);
}

void MediaPlayer::Resume() {
    std::shared_ptr<PlaybackContext> context = Current();
    if (!context || !context->Paused()) {
        return;
    }
    context->TogglePause();
    SetState(psResume);
}

void MediaPlayer::RequestSeek(int64_t target, int64_t hint, int flags, bool wait) {
    std::shared_ptr<PlaybackContext> context = Current();
    if (!context || context->SeekPending()) {
        return;
    }
    seeking_ = true;
    seekDone_.Reset();
    if (!context->RequestSeek(target, hint, flags)) {
        return;
    }
    if (!wait) {
        return;
    }
    const bool video = context->HasVideo();
    context.reset();
    auto done = [this](ManualResetEvent& event) {
        while (!WaitEventPumping(event, std::chrono::milliseconds(100))) {
            if (!Current()) {
                return false;
            }
        }
        return true;
    };
    if (done(seekDone_) && video) {
        done(pictureQueued_);
    }
}

void MediaPlayer::Seek(int64_t position, uint8_t seekFlags, bool wait) {
    std::shared_ptr<PlaybackContext> context = Current();
    if (!context) {
        return;
    }
    if (seekFlags & AVSEEK_FLAG_BYTE) {
        RequestSeek(position, 0, seekFlags, wait);
        return;
    }
    int64_t target = position;
    if (context->Duration() > 0 && target > context->Duration()) {
        target = context->Duration();
    }
    if (context->Format() && context->Format()->start_time != AV_NOPTS_VALUE) {
        target += context->Format()->start_time;
    }
    RequestSeek(target, position <= 0 ? 1 : 0, seekFlags, wait);
}

void MediaPlayer::SeekBy(double delta, uint8_t seekFlags, bool wait) {
    std::shared_ptr<PlaybackContext> context = Current();
    if (!context) {
        return;
    }
    if (seekFlags & AVSEEK_FLAG_BYTE) {
        const int64_t bitRate = context->BitRate();
        const double bytes = bitRate > 0 ? delta * bitRate / 8.0 : delta * 180000.0;
        RequestSeek(context->BytePosition() + static_cast<int64_t>(bytes), 0, seekFlags, wait);
        return;
    }
    const int64_t target = static_cast<int64_t>((context->MasterClock() + delta) * 1000000.0);
    RequestSeek(target, static_cast<int64_t>(delta * 1000000.0), seekFlags, wait);
}

// ---------------------------------------------------------------------------------------------
// Surface

void MediaPlayer::SurfaceResized(int width, int height) {
    if (Current()) {
        displayEvents_.Post({DisplayEventType::Resized, width, height});
    }
}

void MediaPlayer::SurfaceExposed() {
    if (Current()) {
        displayEvents_.Post({DisplayEventType::Exposed});
    }
}

// ---------------------------------------------------------------------------------------------
// Picture hook and frame grab

void MediaPlayer::PictureHook(const AVFrame& picture, AVFrame& overlay, int64_t ptsUS) {
    if (!hook_) {
        return;
    }
    HookEvent handler;
    {
        std::lock_guard lock(handlersMutex_);
        handler = onHook_;
    }
    if (!handler) {
        return;
    }
    if (!hookConverter_.ToBitmap(picture, hookBitmap_)) {
        LogText(llError, "Cannot initialize the toRGB conversion context");
        return;
    }
    try {
        handler(*this, hookBitmap_, ptsUS);
    } catch (const std::exception& error) {
        LogText(llError, std::string("Error occurs OnHook: ") + error.what());
        return;
    } catch (...) {
        LogText(llError, "Error occurs OnHook: unknown exception");
        return;
    }
    if (!hookConverter_.FromBitmap(hookBitmap_, overlay)) {
        LogText(llError, "Cannot initialize the fromRGB conversion context");
    }
}

const Bitmap& MediaPlayer::CurrentFrame() {
    int64_t pts;
    return CurrentFrame(pts);
}

const Bitmap& MediaPlayer::CurrentFrame(int64_t& pts) {
    pts = -1;
    std::shared_ptr<PlaybackContext> context = Current();
    if (!context || !context->HasVideo()) {
        grabBitmap_.Resize(0, 0);
        return grabBitmap_;
    }
    grabBitmap_.Resize(context->VideoWidth(), context->VideoHeight());
    std::memset(grabBitmap_.Data(), 0, static_cast<size_t>(grabBitmap_.Stride()) * grabBitmap_.Height());
    double ptsSeconds = 0;
    if (!context->GrabPicture(grabConverter_, grabPicture_, ptsSeconds)) {
        return grabBitmap_;
    }
    pts = std::llround(ptsSeconds * 1000000.0) - context->StartTime();
    const int width = std::min(grabPicture_.Width(), grabBitmap_.Width());
    const int height = std::min(grabPicture_.Height(), grabBitmap_.Height());
    for (int y = 0; y < height; ++y) {
        std::memcpy(grabBitmap_.Row(y), grabPicture_.Row(y), static_cast<size_t>(width) * Bitmap::BytesPerPixel);
    }
    return grabBitmap_;
}

}  // namespace kavel
