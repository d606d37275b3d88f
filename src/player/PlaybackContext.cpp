#include "player/PlaybackContext.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "engine/EngineLogger.h"
#include "engine/ErrorText.h"
#include "engine/FileNames.h"
#include "engine/LibraryLock.h"
#include "engine/MainThread.h"
#include "player/PictureDrawing.h"
#include "player/VideoSurface.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace kavel {

namespace {

constexpr int AudioBufferBytes = 288000;
constexpr int HistorySamples = 131072;
constexpr int SamplesPerCallback = 1024;
constexpr int64_t MaxQueuedBytes = 15 * 1024 * 1024;
constexpr int64_t MinAudioQueueBytes = 20 * 16 * 1024;
constexpr int MinQueuedPackets = 5;
constexpr double NoSyncThreshold = 10.0;
constexpr double SyncThreshold = 0.01;
constexpr int ScalerFlags = SWS_BICUBIC;

double Now() { return av_gettime_relative() / 1000000.0; }

void SleepMs(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

bool IsLiveCaptureFormat(const char* name) {
    static const char* const live[] = {"vfwcap", "vfwcapture", "video4linux2,v4l2", "x11grab"};
    for (const char* candidate : live) {
        if (std::strcmp(name, candidate) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

void PlaybackContext::FrameFree::operator()(AVFrame* frame) const { av_frame_free(&frame); }
void PlaybackContext::CodecFree::operator()(AVCodecContext* codec) const { avcodec_free_context(&codec); }
void PlaybackContext::GraphFree::operator()(AVFilterGraph* graph) const { avfilter_graph_free(&graph); }
void PlaybackContext::SwrFree::operator()(SwrContext* context) const { swr_free(&context); }
void PlaybackContext::SwsFree::operator()(SwsContext* context) const { sws_freeContext(context); }

PlaybackContext::PlaybackContext(PlaybackHost& host, DisplayEventQueue& events, const std::string& fileName,
                                 const PlaybackSettings& settings)
    : host_(host), events_(events), fileName_(fileName), settings_(settings) {
    audioBuffer_.resize(AudioBufferBytes);
    history_.assign(HistorySamples, 0);
    audioFrame_.reset(av_frame_alloc());
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

std::unique_ptr<PlaybackContext> PlaybackContext::Open(PlaybackHost& host, DisplayEventQueue& events,
                                                       const std::string& fileName,
                                                       const PlaybackSettings& settings) {
    std::unique_ptr<PlaybackContext> context(new (std::nothrow) PlaybackContext(host, events, fileName, settings));
    if (!context || !context->audioFrame_) {
        host.SetLastErrorMessage("av_mallocz() failed.");
        LogText(llError, "av_mallocz() failed.");
        return nullptr;
    }
    if (settings.OpenPaused) {
        context->paused_ = true;
        context->afterOpenCount_ = 1;
    }
    try {
        context->readThread_ = std::thread(&PlaybackContext::ReadThread, context.get());
    } catch (const std::system_error&) {
        host.SetLastErrorMessage("SDL_CreateThread() failed.");
        LogText(llError, "SDL_CreateThread() failed.");
        return nullptr;
    }
    PlaybackContext* raw = context.get();
    WaitPumping([raw] { return raw->openStatus_ != 0; });
    if (context->openStatus_ != 1) {
        // The destructor waits for the read thread, which has already cleaned up.
        return nullptr;
    }
    if (!context->HasVideo() && !settings.DisableDisplay) {
        context->waveform_ = true;
    }
    try {
        context->refreshThread_ = std::thread(&PlaybackContext::RefreshThread, context.get());
    } catch (const std::system_error&) {
        host.SetLastErrorMessage("SDL_CreateThread() failed.");
        LogText(llError, "SDL_CreateThread() failed.");
        return nullptr;
    }
    return context;
}

PlaybackContext::~PlaybackContext() {
    abort_ = true;
    // The read thread closes the streams, which wakes and waits for the decoder threads. Any of
    // them may be handing a log line to the main thread meanwhile, so a main thread keeps
    // delivering while it waits.
    if (readThread_.joinable()) {
        WaitPumping([this] { return readDone_.load(); });
        readThread_.join();
    }
    if (refreshThread_.joinable()) {
        WaitPumping([this] { return refreshDone_.load(); });
        refreshThread_.join();
    }
    for (SubpictureSlot& slot : subpictures_) {
        if (slot.Filled) {
            avsubtitle_free(&slot.Subtitle);
            slot.Filled = false;
        }
    }
}

int PlaybackContext::InterruptCallback(void* opaque) {
    return static_cast<PlaybackContext*>(opaque)->abort_ ? 1 : 0;
}

int64_t PlaybackContext::BitRate() const { return format_ ? format_->bit_rate : 0; }

int64_t PlaybackContext::BytePosition() const {
    const int64_t position = currentPosition_;
    if (position >= 0) {
        return position;
    }
    return format_ && format_->pb ? avio_tell(format_->pb) : 0;
}

// ---------------------------------------------------------------------------------------------
// Read thread

int PlaybackContext::OpenInput() {
    format_ = avformat_alloc_context();
    if (format_ == nullptr) {
        host_.SetLastErrorMessage("av_mallocz() failed.");
        return -1;
    }
    format_->interrupt_callback.callback = &PlaybackContext::InterruptCallback;
    format_->interrupt_callback.opaque = this;

    AVDictionary* options = nullptr;
    if (settings_.FrameWidth > 0 && settings_.FrameHeight > 0) {
        const std::string size = std::to_string(settings_.FrameWidth) + "x" + std::to_string(settings_.FrameHeight);
        av_dict_set(&options, "video_size", size.c_str(), 0);
    }
    const int opened = OpenInputFormat(&format_, fileName_, nullptr, &options);
    av_dict_free(&options);
    if (opened < 0) {
        host_.SetLastErrorMessage(ErrorText(fileName_, opened));
        return -1;
    }
    int found;
    {
        LibraryLock lock;
        found = avformat_find_stream_info(format_, nullptr);
    }
    if (found < 0) {
        host_.SetLastErrorMessage(fileName_ + ": could not find codec parameters");
        return -1;
    }
    if (format_->pb) {
        format_->pb->eof_reached = 0;
    }
    seekByBytes_ = (format_->iformat->flags & AVFMT_TS_DISCONT) != 0;
    imageSequence_ = std::strcmp(format_->iformat->name, "image2") == 0;
    liveCapture_ = IsLiveCaptureFormat(format_->iformat->name);
    if (format_->start_time != AV_NOPTS_VALUE) {
        startTime_ = format_->start_time;
    }
    duration_ = format_->duration != AV_NOPTS_VALUE ? format_->duration : -1;

    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        format_->streams[i]->discard = AVDISCARD_ALL;
    }
    const int audio = settings_.DisableAudio ? -1 : av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    const int video = settings_.DisableVideo ? -1 : av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const int subtitle =
        settings_.DisableVideo ? -1 : av_find_best_stream(format_, AVMEDIA_TYPE_SUBTITLE, -1, -1, nullptr, 0);
    if (audio >= 0) {
        OpenStream(audio);
    }
    if (video >= 0) {
        OpenStream(video);
    }
    if (subtitle >= 0) {
        OpenStream(subtitle);
    }
    if (audioStream_ < 0 && videoStream_ < 0) {
        host_.SetLastErrorMessage(fileName_ + ": could not open codecs, no stream to play.");
        return -1;
    }
    return 0;
}

void PlaybackContext::ReadThread() {
    if (OpenInput() == 0) {
        openStatus_ = 1;
        ReadLoop();
        while (!abort_) {
            SleepMs(100);
        }
    }
    const bool failed = openStatus_ != 1;
    if (failed) {
        openStatus_ = -1;
    }
    CloseInput();
    if (failed) {
        openStatus_ = -2;
    }
    readDone_ = true;
}

void PlaybackContext::CloseInput() {
    if (audioStream_ >= 0) {
        CloseStream(audioStream_);
    }
    if (videoStream_ >= 0) {
        CloseStream(videoStream_);
    }
    if (subtitleStream_ >= 0) {
        CloseStream(subtitleStream_);
    }
    host_.DetachProbe();
    if (format_) {
        format_->interrupt_callback.callback = nullptr;
        format_->interrupt_callback.opaque = nullptr;
        CloseInputFormat(&format_);
    }
    format_ = nullptr;
}

bool PlaybackContext::QueuesFull() const {
    if (audioQueue_.Size() + videoQueue_.Size() + subtitleQueue_.Size() > MaxQueuedBytes) {
        return true;
    }
    return (audioStream_ < 0 || audioQueue_.Size() > MinAudioQueueBytes) &&
           (videoStream_ < 0 || videoQueue_.Count() > MinQueuedPackets) &&
           (subtitleStream_ < 0 || subtitleQueue_.Count() > MinQueuedPackets);
}

void PlaybackContext::ReadLoop() {
    PacketPtr packet(av_packet_alloc());
    if (!packet) {
        return;
    }
    while (!abort_) {
        const bool paused = paused_;
        if (paused != lastPaused_) {
            lastPaused_ = paused;
            if (paused) {
                readPauseResult_ = av_read_pause(format_);
            } else {
                av_read_play(format_);
            }
        }
        if (seekPending_) {
            PerformSeek();
        }
        if (QueuesFull()) {
            SleepMs(10);
            continue;
        }
        // Only the demuxer's own end counts: the I/O layer may reach the end of the file while
        // the demuxer still holds packets.
        if (eof_) {
            if (videoStream_ >= 0) {
                videoQueue_.PutEndOfInput();
                host_.PictureQueuedEvent().Set();
            }
            SleepMs(10);
            if (audioQueue_.Size() + videoQueue_.Size() + subtitleQueue_.Size() == 0) {
                ended_ = true;
            }
            continue;
        }
        reading_ = true;
        const int result = av_read_frame(format_, packet.get());
        reading_ = false;
        if (abort_) {
            av_packet_unref(packet.get());
            break;
        }
        if (result < 0) {
            if (result == AVERROR(EAGAIN)) {
                SleepMs(10);
                continue;
            }
            if (videoStream_ >= 0) {
                host_.PictureQueuedEvent().Set();
            }
            if (!imageSequence_ && !endLogged_) {
                endLogged_ = true;
                if (result == AVERROR_EOF) {
                    Log(llInfo, "reach end of file: %s", fileName_.c_str());
                } else {
                    Log(llError, "error #%d while reading file: %s", result, fileName_.c_str());
                }
            }
            if (result == AVERROR_EOF) {
                eof_ = true;
            }
            if (format_->pb && format_->pb->error) {
                break;
            }
            if (!eof_) {
                SleepMs(100);
            }
            continue;
        }
        if (packet->stream_index == audioStream_) {
            audioQueue_.Put(*packet);
        } else if (packet->stream_index == videoStream_) {
            videoQueue_.Put(*packet);
        } else if (packet->stream_index == subtitleStream_) {
            subtitleQueue_.Put(*packet);
        } else {
            av_packet_unref(packet.get());
        }
    }
}

void PlaybackContext::PerformSeek() {
    int64_t target;
    int64_t hint;
    int flags;
    {
        std::lock_guard lock(seekMutex_);
        target = seekTarget_;
        hint = seekHint_;
        flags = seekFlags_;
    }
    // The hint says from which side of the target the caller came; landing on that side of it
    // again would look like no seek at all.
    const int64_t lowest = hint > 0 ? target - hint + 2 : INT64_MIN;
    const int64_t highest = hint < 0 ? target - hint - 2 : INT64_MAX;
    int result = avformat_seek_file(format_, -1, lowest, target, highest, flags);
    if (result < 0) {
        result = av_seek_frame(format_, -1, target, flags);
    }
    if (result < 0) {
        result = av_seek_frame(format_, -1, target, flags ^ AVSEEK_FLAG_BACKWARD);
    }
    if (result < 0) {
        Log(llError, "%s: error while seeking", fileName_.c_str());
        if (videoStream_ >= 0) {
            host_.PictureQueuedEvent().Set();
        }
    } else {
        afterSeek_ = true;
        if (audioStream_ >= 0) {
            audioQueue_.Flush();
            audioQueue_.PutFlush();
        }
        if (subtitleStream_ >= 0) {
            subtitleQueue_.Flush();
            subtitleQueue_.PutFlush();
        }
        if (videoStream_ >= 0) {
            flushSeen_ = false;
            videoQueue_.Flush();
            videoQueue_.PutFlush();
            host_.PictureQueuedEvent().Reset();
        }
    }
    endLogged_ = false;
    ended_ = false;
    seekPending_ = false;
    afterSeek_ = true;
    host_.SeekDoneEvent().Set();
    if (videoStream_ < 0) {
        host_.ClearSeeking();
    }
    eof_ = false;
}

bool PlaybackContext::OpenStream(int index) {
    AVStream* stream = format_->streams[index];
    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    if (decoder == nullptr) {
        LogText(llError, "avcodec_open() failed.");
        return false;
    }
    CodecPtr codec(avcodec_alloc_context3(decoder));
    if (!codec || avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0) {
        LogText(llError, "avcodec_open() failed.");
        return false;
    }
    codec->pkt_timebase = stream->time_base;
    codec->workaround_bugs = FF_BUG_AUTODETECT;
    codec->err_recognition = AV_EF_CAREFUL;
    codec->error_concealment = 3;
    codec->thread_count = 1;
    int opened;
    {
        LibraryLock lock;
        opened = avcodec_open2(codec.get(), decoder, nullptr);
    }
    if (opened < 0) {
        LogText(llError, "avcodec_open() failed.");
        LibraryLock lock;
        codec.reset();
        return false;
    }

    switch (codec->codec_type) {
    case AVMEDIA_TYPE_AUDIO: {
        const int channels = codec->ch_layout.nb_channels;
        SDL_AudioSpec wanted{};
        SDL_AudioSpec obtained{};
        wanted.freq = codec->sample_rate;
        wanted.format = AUDIO_S16SYS;
        // More than two channels are mixed down to two.
        wanted.channels = static_cast<Uint8>(channels >= 1 && channels <= 2 ? channels : 2);
        wanted.silence = 0;
        wanted.samples = SamplesPerCallback;
        wanted.callback = &PlaybackContext::AudioCallback;
        wanted.userdata = this;
        const SDL_AudioDeviceID device = wanted.freq > 0 ? SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0) : 0;
        if (device == 0) {
            LogText(llError, std::string("SDL_OpenAudio() failed: ") + SDL_GetError());
            LibraryLock lock;
            codec.reset();
            return false;
        }
        audioDevice_ = device;
        audioChannels_ = wanted.channels;
        audioRate_ = wanted.freq;
        audioDuration_ = stream->duration != AV_NOPTS_VALUE
                             ? av_rescale_q(stream->duration, stream->time_base, AVRational{1, AV_TIME_BASE})
                             : -1;
        audioBufferSize_ = 0;
        audioBufferIndex_ = 0;
        audioPacketPending_ = false;
        audioStream_ = index;
        audioCodec_ = std::move(codec);
        audioQueue_.Start();
        audioQueue_.PutFlush();
        SDL_PauseAudioDevice(audioDevice_, 0);
        break;
    }
    case AVMEDIA_TYPE_VIDEO: {
        videoWidth_ = codec->width;
        videoHeight_ = codec->height;
        const AVRational rate = av_guess_frame_rate(format_, stream, nullptr);
        if (rate.num > 0 && rate.den > 0) {
            frameDuration_ = av_q2d(av_inv_q(rate));
        }
        videoStream_ = index;
        videoCodec_ = std::move(codec);
        videoQueue_.Start();
        videoQueue_.PutFlush();
        videoThread_ = std::thread(&PlaybackContext::VideoThread, this);
        break;
    }
    case AVMEDIA_TYPE_SUBTITLE: {
        subtitleStream_ = index;
        subtitleCodec_ = std::move(codec);
        {
            std::lock_guard lock(subpictureMutex_);
            subpicturesStopping_ = false;
        }
        subtitleQueue_.Start();
        subtitleQueue_.PutFlush();
        subtitleThread_ = std::thread(&PlaybackContext::SubtitleThread, this);
        break;
    }
    default: {
        LibraryLock lock;
        codec.reset();
        return false;
    }
    }
    stream->discard = AVDISCARD_DEFAULT;
    return true;
}

void PlaybackContext::CloseStream(int index) {
    if (index == audioStream_) {
        audioQueue_.Abort();
        SDL_CloseAudioDevice(audioDevice_);
        audioDevice_ = 0;
        resampler_.reset();
        audioQueue_.Flush();
        {
            LibraryLock lock;
            audioCodec_.reset();
        }
        audioStream_ = -1;
        audioDuration_ = -1;
    } else if (index == videoStream_) {
        videoQueue_.Abort();
        {
            std::lock_guard lock(pictureMutex_);
            pictureChanged_.notify_all();
        }
        if (videoThread_.joinable()) {
            videoThread_.join();
        }
        videoQueue_.Flush();
        {
            LibraryLock lock;
            videoCodec_.reset();
        }
        videoStream_ = -1;
    } else if (index == subtitleStream_) {
        subtitleQueue_.Abort();
        {
            std::lock_guard lock(subpictureMutex_);
            subpicturesStopping_ = true;
            subpictureChanged_.notify_all();
        }
        if (subtitleThread_.joinable()) {
            subtitleThread_.join();
        }
        subtitleQueue_.Flush();
        {
            LibraryLock lock;
            subtitleCodec_.reset();
        }
        subtitleStream_ = -1;
    } else {
        return;
    }
    format_->streams[index]->discard = AVDISCARD_ALL;
}

// ---------------------------------------------------------------------------------------------
// Control (main thread)

void PlaybackContext::TogglePause() {
    if (!host_.SeekDoneEvent().WaitFor(std::chrono::milliseconds(250))) {
        host_.SeekDoneEvent().Set();
    }
    if (paused_) {
        const double now = Now();
        {
            std::lock_guard lock(pictureMutex_);
            frameTimer_ += now + ptsDrift_ - currentPts_;
        }
        if (readPauseResult_ != AVERROR(ENOSYS)) {
            currentPts_ = ptsDrift_ + now;
        }
        ptsDrift_ = currentPts_ - now;
        paused_ = false;
    } else {
        if (HasVideo() && !host_.PictureQueuedEvent().WaitFor(std::chrono::milliseconds(250))) {
            host_.PictureQueuedEvent().Set();
        }
        paused_ = true;
    }
}

bool PlaybackContext::RequestSeek(int64_t target, int64_t hint, int flags) {
    if (seekPending_) {
        return false;
    }
    {
        std::lock_guard lock(seekMutex_);
        seekTarget_ = target;
        seekHint_ = hint;
        seekFlags_ = flags;
    }
    pausedAtSeek_ = paused_.load();
    seekPending_ = true;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Clocks

double PlaybackContext::AudioClock() const {
    const int bytesPerSecond = 2 * audioChannels_ * audioRate_;
    const double buffered = bytesPerSecond > 0 ? static_cast<double>(audioBytesBuffered_) / bytesPerSecond : 0.0;
    return audioClock_ - buffered;
}

double PlaybackContext::VideoClock() const {
    if (paused_) {
        return currentPts_;
    }
    const double drift = ptsDrift_;
    if (drift != 0) {
        return drift + Now();
    }
    return startTime_ / 1000000.0;
}

double PlaybackContext::MasterClock() const { return HasAudio() ? AudioClock() : VideoClock(); }

// ---------------------------------------------------------------------------------------------
// Video thread

void PlaybackContext::VideoThread() {
    FramePtr decoded(av_frame_alloc());
    FramePtr filtered(av_frame_alloc());
    if (!decoded || !filtered) {
        return;
    }
    for (;;) {
        // Paused, decoding still goes on up to the first picture after a seek, whether the pause
        // came before the seek request or after it.
        while (paused_ && !abort_ && !pausedAtSeek_ && !afterSeek_ && afterOpenCount_ == 0 &&
               !videoQueue_.Aborted()) {
            SleepMs(10);
        }
        if (abort_ || videoQueue_.Aborted()) {
            break;
        }
        if (NextFilteredPicture(*decoded, *filtered) < 0) {
            break;
        }
        if (afterSeek_ && flushSeen_) {
            afterSeek_ = false;
            pausedAtSeek_ = false;
        }
        const AVRational timeBase = av_buffersink_get_time_base(graphSink_);
        // Only a picture without any timestamp continues the clock; a time of 0 is a real time
        // (the first picture after a rewind has it).
        double pts;
        if (filtered->pts != AV_NOPTS_VALUE) {
            pts = filtered->pts * av_q2d(timeBase);
            decoderClock_ = pts;
        } else {
            pts = decoderClock_;
        }
        decoderClock_ += frameDuration_ + filtered->repeat_pict * (frameDuration_ * 0.5);
        const bool queued = QueuePicture(*filtered, pts, filtered->pkt_pos);
        av_frame_unref(filtered.get());
        if (!queued) {
            break;
        }
        host_.PictureQueuedEvent().Set();
        endReported_ = false;
        if (!seekPending_) {
            host_.ClearSeeking();
        }
        if (afterOpenCount_ > 0 && ++afterOpenCount_ > 2) {
            afterOpenCount_ = 0;
            host_.SetState(psPause);
        }
    }
    graph_.reset();
    graphSource_ = graphSink_ = nullptr;
}

int PlaybackContext::NextFilteredPicture(AVFrame& decoded, AVFrame& filtered) {
    for (;;) {
        if (graphSink_) {
            const int result = av_buffersink_get_frame(graphSink_, &filtered);
            if (result >= 0) {
                return 0;
            }
            if (result != AVERROR(EAGAIN)) {
                return -1;
            }
        }
        if (DecodePicture(decoded) < 0) {
            return -1;
        }
        if (!graphSink_ || decoded.width != graphWidth_ || decoded.height != graphHeight_ ||
            decoded.format != graphFormat_) {
            if (!ConfigureGraph(decoded)) {
                av_frame_unref(&decoded);
                return -1;
            }
        }
        if (av_buffersrc_add_frame(graphSource_, &decoded) < 0) {
            av_frame_unref(&decoded);
            return -1;
        }
    }
}

bool PlaybackContext::ConfigureGraph(const AVFrame& picture) {
    graph_.reset(avfilter_graph_alloc());
    graphSource_ = graphSink_ = nullptr;
    if (!graph_) {
        return false;
    }
    const std::string scaler = "flags=" + std::to_string(ScalerFlags);
    graph_->scale_sws_opts = av_strdup(scaler.c_str());
    const AVStream* stream = format_->streams[videoStream_];
    const AVRational aspect = picture.sample_aspect_ratio.num > 0 ? picture.sample_aspect_ratio : AVRational{0, 1};
    char arguments[256];
    std::snprintf(arguments, sizeof arguments, "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d",
                  picture.width, picture.height, picture.format, stream->time_base.num, stream->time_base.den,
                  aspect.num, aspect.den > 0 ? aspect.den : 1);
    if (avfilter_graph_create_filter(&graphSource_, avfilter_get_by_name("buffer"), "src", arguments, nullptr,
                                     graph_.get()) < 0 ||
        avfilter_graph_create_filter(&graphSink_, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr,
                                     graph_.get()) < 0) {
        graphSource_ = graphSink_ = nullptr;
        return false;
    }
    const AVPixelFormat formats[] = {AV_PIX_FMT_YUV420P, AV_PIX_FMT_NONE};
    if (av_opt_set_int_list(graphSink_, "pix_fmts", formats, AV_PIX_FMT_NONE, AV_OPT_SEARCH_CHILDREN) < 0 ||
        avfilter_link(graphSource_, 0, graphSink_, 0) < 0 || avfilter_graph_config(graph_.get(), nullptr) < 0) {
        graphSource_ = graphSink_ = nullptr;
        graph_.reset();
        return false;
    }
    graphWidth_ = picture.width;
    graphHeight_ = picture.height;
    graphFormat_ = picture.format;
    return true;
}

int PlaybackContext::DecodePicture(AVFrame& picture) {
    AVCodecContext* codec = videoCodec_.get();
    for (;;) {
        if (decoderHasInput_) {
            const int result = avcodec_receive_frame(codec, &picture);
            if (result == 0) {
                const int64_t dts = picture.pkt_dts;
                const int64_t reordered = picture.pts;
                if (dts != AV_NOPTS_VALUE) {
                    faultyDts_ += dts <= lastDtsSeen_;
                    lastDtsSeen_ = dts;
                }
                if (reordered != AV_NOPTS_VALUE) {
                    faultyPts_ += reordered <= lastPtsSeen_;
                    lastPtsSeen_ = reordered;
                }
                if (reordered != AV_NOPTS_VALUE && (faultyPts_ < faultyDts_ || dts == AV_NOPTS_VALUE)) {
                    picture.pts = reordered;
                } else if (dts != AV_NOPTS_VALUE) {
                    picture.pts = dts;
                } else {
                    picture.pts = AV_NOPTS_VALUE;
                }
                skipCounter_ += 1;
                const double factor = skipFactor_;
                if (skipCounter_ >= factor) {
                    skipCounter_ -= std::max(1.0, factor);
                    return 0;
                }
                av_frame_unref(&picture);
                continue;
            }
            decoderHasInput_ = false;
            if (result == AVERROR_EOF) {
                // The decoder has handed out everything before the end of the input.
                host_.UpdatePosition(*this);
            }
        }
        QueuedPacket entry;
        if (videoQueue_.Get(entry, true) < 0) {
            return -1;
        }
        switch (entry.Kind) {
        case PacketKind::Flush:
            avcodec_flush_buffers(codec);
            HandleVideoFlush();
            if (videoQueue_.Aborted()) {
                return -1;
            }
            break;
        case PacketKind::EndOfInput:
            avcodec_send_packet(codec, nullptr);
            decoderHasInput_ = true;
            break;
        case PacketKind::Data:
            avcodec_send_packet(codec, entry.Packet.get());
            decoderHasInput_ = true;
            break;
        }
    }
}

void PlaybackContext::HandleVideoFlush() {
    std::unique_lock lock(pictureMutex_);
    for (PictureSlot& slot : pictures_) {
        slot.Position = -1;
    }
    pictureChanged_.wait(lock, [this] { return pictureCount_ == 0 || videoQueue_.Aborted(); });
    lastPtsSeen_ = INT64_MIN;
    lastDtsSeen_ = INT64_MIN;
    frameLastPtsKnown_ = false;
    frameLastDelay_ = 0;
    frameTimer_ = Now();
    skipFactor_ = 1.0;
    skipCounter_ = 0;
    decoderHasInput_ = false;
    shownSinceFlush_ = false;
    flushSeen_ = true;
}

double PlaybackContext::TargetDisplayTime(double pts) {
    double delay = frameLastPtsKnown_ ? pts - frameLastPts_ : 0.0;
    if (delay <= 0 || delay >= 10.0) {
        delay = frameLastDelay_;
    } else {
        frameLastDelay_ = delay;
    }
    frameLastPts_ = pts;
    frameLastPtsKnown_ = true;
    if (HasAudio()) {
        const double difference = VideoClock() - AudioClock();
        if (std::fabs(difference) < NoSyncThreshold) {
            const double threshold = std::max(SyncThreshold, delay);
            if (difference <= -threshold) {
                delay = 0;
            } else if (difference >= threshold) {
                delay *= 2;
            }
        }
    }
    frameTimer_ += delay;
    return frameTimer_;
}

bool PlaybackContext::QueuePicture(const AVFrame& picture, double pts, int64_t position) {
    const int width = picture.width & ~1;
    const int height = picture.height & ~1;
    if (width <= 0 || height <= 0) {
        return true;
    }
    PictureSlot* slot;
    {
        std::unique_lock lock(pictureMutex_);
        if (pictureCount_ >= 2 && !refreshPending_) {
            skipFactor_ = std::max(0.95, skipFactor_ * 0.95);
        }
        pictureChanged_.wait(lock, [this] { return pictureCount_ < 2 || videoQueue_.Aborted(); });
        if (videoQueue_.Aborted()) {
            return false;
        }
        slot = &pictures_[pictureWriteIndex_];
        if (!slot->Allocated || slot->Width != width || slot->Height != height) {
            slot->Allocated = false;
            slot->RequestedWidth = width;
            slot->RequestedHeight = height;
            events_.Post({DisplayEventType::AllocPicture});
            pictureChanged_.wait(lock, [&] { return slot->Allocated || videoQueue_.Aborted(); });
            if (videoQueue_.Aborted()) {
                return false;
            }
        }
    }
    {
        std::lock_guard overlayLock(slot->OverlayLock);
        AVFrame* overlay = slot->Overlay.get();
        if (overlay == nullptr) {
            return false;
        }
        // The picture on show may still share this buffer; it keeps its own.
        if (!av_frame_is_writable(overlay)) {
            av_frame_unref(overlay);
            overlay->format = AV_PIX_FMT_YUV420P;
            overlay->width = width;
            overlay->height = height;
            if (av_frame_get_buffer(overlay, 0) < 0) {
                return false;
            }
        }
        av_image_copy(overlay->data, overlay->linesize, const_cast<const uint8_t**>(picture.data), picture.linesize,
                      AV_PIX_FMT_YUV420P, width, height);
        overlay->sample_aspect_ratio = picture.sample_aspect_ratio;
        host_.PictureHook(picture, *overlay, std::llround(pts * 1000000.0) - startTime_);
    }
    {
        std::lock_guard lock(pictureMutex_);
        slot->Pts = pts;
        slot->Position = position;
        pictureWriteIndex_ = (pictureWriteIndex_ + 1) % 2;
        slot->TargetTime = TargetDisplayTime(pts);
        ++pictureCount_;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Subtitle thread

void PlaybackContext::SubtitleThread() {
    const AVStream* stream = format_->streams[subtitleStream_];
    for (;;) {
        while (paused_ && !abort_ && !subtitleQueue_.Aborted()) {
            SleepMs(10);
        }
        QueuedPacket entry;
        if (subtitleQueue_.Get(entry, true) < 0) {
            return;
        }
        if (entry.Kind == PacketKind::Flush) {
            avcodec_flush_buffers(subtitleCodec_.get());
            continue;
        }
        if (entry.Kind != PacketKind::Data) {
            continue;
        }
        SubpictureSlot* slot;
        {
            std::unique_lock lock(subpictureMutex_);
            subpictureChanged_.wait(lock, [this] { return subpictureCount_ < 4 || subpicturesStopping_; });
            if (subpicturesStopping_) {
                return;
            }
            slot = &subpictures_[subpictureWriteIndex_];
        }
        AVSubtitle subtitle{};
        int got = 0;
        if (avcodec_decode_subtitle2(subtitleCodec_.get(), &subtitle, &got, entry.Packet.get()) < 0 || !got) {
            continue;
        }
        const double pts =
            entry.Packet->pts != AV_NOPTS_VALUE ? entry.Packet->pts * av_q2d(stream->time_base) : 0.0;
        if (subtitle.format == 0) {
            for (unsigned i = 0; i < subtitle.num_rects; ++i) {
                PaletteToYuva(*subtitle.rects[i]);
            }
        }
        std::lock_guard lock(subpictureMutex_);
        if (slot->Filled) {
            avsubtitle_free(&slot->Subtitle);
        }
        slot->Subtitle = subtitle;
        slot->Pts = pts;
        slot->Filled = true;
        subpictureWriteIndex_ = (subpictureWriteIndex_ + 1) % 4;
        ++subpictureCount_;
    }
}

// ---------------------------------------------------------------------------------------------
// Refresh thread

void PlaybackContext::RefreshThread() {
    while (!abort_) {
        if (!refreshPending_.exchange(true)) {
            events_.Post({DisplayEventType::Refresh});
        }
        SleepMs(waveform_ ? 20 : 5);
    }
    refreshDone_ = true;
}

// ---------------------------------------------------------------------------------------------
// Audio output

void PlaybackContext::AudioCallback(void* opaque, uint8_t* stream, int length) {
    static_cast<PlaybackContext*>(opaque)->FillAudio(stream, length);
}

void PlaybackContext::FillAudio(uint8_t* stream, int length) {
    lastAudioCallback_ = av_gettime_relative();
    std::memset(stream, 0, static_cast<size_t>(length));
    const bool mute = host_.CurrentMute();
    const int volume = std::clamp(host_.CurrentAudioVolume(), 0, SDL_MIX_MAXVOLUME);
    while (length > 0) {
        if (audioBufferIndex_ >= audioBufferSize_) {
            const int size = DecodeAudioChunk();
            if (audioQueue_.Aborted()) {
                break;
            }
            if (size < 0) {
                audioBufferSize_ = std::min<int>(1024, static_cast<int>(audioBuffer_.size()));
                std::memset(audioBuffer_.data(), 0, static_cast<size_t>(audioBufferSize_));
            } else {
                audioBufferSize_ = size;
                if (waveform_) {
                    AppendToHistory(audioBuffer_.data(), size);
                }
            }
            audioBufferIndex_ = 0;
        }
        const int count = std::min(audioBufferSize_ - audioBufferIndex_, length);
        if (!mute) {
            SDL_MixAudioFormat(stream, audioBuffer_.data() + audioBufferIndex_, AUDIO_S16SYS,
                               static_cast<Uint32>(count), volume);
        }
        length -= count;
        stream += count;
        audioBufferIndex_ += count;
        audioBytesBuffered_ = audioBufferSize_ - audioBufferIndex_;
    }
}

void PlaybackContext::AppendToHistory(const uint8_t* data, int bytes) {
    const auto* samples = reinterpret_cast<const int16_t*>(data);
    const int count = bytes / 2;
    std::lock_guard lock(historyMutex_);
    for (int i = 0; i < count; ++i) {
        history_[historyIndex_] = samples[i];
        historyIndex_ = (historyIndex_ + 1) % HistorySamples;
    }
}

int PlaybackContext::ConvertAudioFrame(const AVFrame& frame) {
    const int channels = frame.ch_layout.nb_channels;
    const bool direct = frame.format == AV_SAMPLE_FMT_S16 && channels == audioChannels_ && frame.sample_rate == audioRate_;
    if (direct) {
        resampler_.reset();
        resamplerFormat_ = -1;
        const int bytes = frame.nb_samples * channels * 2;
        if (static_cast<size_t>(bytes) > audioBuffer_.size()) {
            audioBuffer_.resize(static_cast<size_t>(bytes));
        }
        std::memcpy(audioBuffer_.data(), frame.data[0], static_cast<size_t>(bytes));
        return bytes;
    }
    if (!resampler_ || resamplerFormat_ != frame.format || resamplerChannels_ != channels ||
        resamplerRate_ != frame.sample_rate) {
        resampler_.reset();
        AVChannelLayout output{};
        AVChannelLayout input{};
        av_channel_layout_default(&output, audioChannels_);
        av_channel_layout_copy(&input, &frame.ch_layout);
        SwrContext* context = nullptr;
        const int made = swr_alloc_set_opts2(&context, &output, AV_SAMPLE_FMT_S16, audioRate_, &input,
                                             static_cast<AVSampleFormat>(frame.format), frame.sample_rate, 0, nullptr);
        av_channel_layout_uninit(&output);
        av_channel_layout_uninit(&input);
        if (made < 0 || swr_init(context) < 0) {
            swr_free(&context);
            const char* from = av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame.format));
            Log(llError, "Cannot convert %s sample format to %s sample format", from ? from : "unknown",
                av_get_sample_fmt_name(AV_SAMPLE_FMT_S16));
            resamplerFormat_ = -1;
            return -1;
        }
        resampler_.reset(context);
        resamplerFormat_ = frame.format;
        resamplerChannels_ = channels;
        resamplerRate_ = frame.sample_rate;
    }
    const int capacity = swr_get_out_samples(resampler_.get(), frame.nb_samples);
    const size_t needed = static_cast<size_t>(std::max(capacity, 0)) * audioChannels_ * 2;
    if (needed > audioBuffer_.size()) {
        audioBuffer_.resize(needed);
    }
    uint8_t* output[1] = {audioBuffer_.data()};
    const int converted = swr_convert(resampler_.get(), output, capacity,
                                      const_cast<const uint8_t**>(frame.extended_data), frame.nb_samples);
    if (converted < 0) {
        LogText(llError, "av_audio_convert() failed");
        return -1;
    }
    return converted * audioChannels_ * 2;
}

int PlaybackContext::DecodeAudioChunk() {
    AVCodecContext* codec = audioCodec_.get();
    const AVStream* stream = format_->streams[audioStream_];
    for (;;) {
        while (audioPacketPending_) {
            const int result = avcodec_receive_frame(codec, audioFrame_.get());
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
                audioPacketPending_ = false;
                break;
            }
            if (result < 0) {
                LogText(llInfo, "avcodec_decode_audio2() failed");
                audioPacketPending_ = false;
                break;
            }
            const int size = ConvertAudioFrame(*audioFrame_);
            av_frame_unref(audioFrame_.get());
            if (size <= 0) {
                continue;
            }
            const int bytesPerSecond = 2 * audioChannels_ * audioRate_;
            audioClock_ = audioClock_ + static_cast<double>(size) / bytesPerSecond;
            return size;
        }
        if (paused_ || audioQueue_.Aborted()) {
            return -1;
        }
        QueuedPacket entry;
        if (audioQueue_.Get(entry, false) != 1) {
            return -1;
        }
        if (entry.Kind == PacketKind::Flush) {
            avcodec_flush_buffers(codec);
            continue;
        }
        if (entry.Kind != PacketKind::Data) {
            continue;
        }
        if (entry.Packet->pts != AV_NOPTS_VALUE) {
            audioClock_ = entry.Packet->pts * av_q2d(stream->time_base);
        }
        if (avcodec_send_packet(codec, entry.Packet.get()) < 0) {
            LogText(llInfo, "avcodec_decode_audio2() failed");
            continue;
        }
        audioPacketPending_ = true;
    }
}

// ---------------------------------------------------------------------------------------------
// Display (play thread)

bool PlaybackContext::HandleEvent(const DisplayEvent& event) {
    switch (event.Type) {
    case DisplayEventType::Quit:
        return false;
    case DisplayEventType::Resized:
        if (event.Width > 0 && event.Height > 0) {
            area_.Resize(event.Width, event.Height);
            areaOpen_ = true;
            host_.SetScreenSize(event.Width, event.Height);
            // The old picture does not fit the new size, so it is drawn again at once, playing or
            // not.
            Refresh(false);
        }
        break;
    case DisplayEventType::Exposed:
        if (paused_) {
            Refresh(false);
        } else {
            Draw();
        }
        break;
    case DisplayEventType::AllocPicture:
        AllocatePicture();
        break;
    case DisplayEventType::Refresh:
        Refresh(true);
        refreshPending_ = false;
        break;
    case DisplayEventType::AspectChanged:
        EnsureArea(true);
        Draw();
        break;
    }
    return true;
}

void PlaybackContext::EnsureArea(bool force) {
    int width = 0;
    int height = 0;
    host_.CurrentScreenSize(width, height);
    if (width <= 0 || height <= 0) {
        width = videoWidth_ & ~1;
        height = videoHeight_ & ~1;
    }
    if (width <= 0 || height <= 0) {
        width = 640;
        height = 480;
    }
    // A memory area needs no re-creation when only the aspect changed; force only matters for
    // its size.
    if (areaOpen_ && area_.Width() == width && area_.Height() == height) {
        return;
    }
    (void)force;
    area_.Resize(width, height);
    areaOpen_ = true;
}

void PlaybackContext::AllocatePicture() {
    EnsureArea(false);
    PictureSlot* slot;
    int width;
    int height;
    {
        std::lock_guard lock(pictureMutex_);
        slot = &pictures_[pictureWriteIndex_];
        width = slot->RequestedWidth;
        height = slot->RequestedHeight;
    }
    FramePtr overlay(av_frame_alloc());
    if (overlay) {
        overlay->format = AV_PIX_FMT_YUV420P;
        overlay->width = width;
        overlay->height = height;
        if (av_frame_get_buffer(overlay.get(), 0) < 0) {
            overlay.reset();
        }
    }
    {
        std::lock_guard overlayLock(slot->OverlayLock);
        slot->Overlay = std::move(overlay);
        slot->Width = width;
        slot->Height = height;
    }
    std::lock_guard lock(pictureMutex_);
    slot->Allocated = true;
    pictureChanged_.notify_all();
}

void PlaybackContext::DropExpiredSubtitles(double picturePts) {
    std::lock_guard lock(subpictureMutex_);
    auto dropFirst = [this] {
        SubpictureSlot& first = subpictures_[subpictureReadIndex_];
        if (first.Filled) {
            avsubtitle_free(&first.Subtitle);
            first.Filled = false;
        }
        subpictureReadIndex_ = (subpictureReadIndex_ + 1) % 4;
        --subpictureCount_;
        subpictureChanged_.notify_all();
    };
    if (subpicturesStopping_) {
        while (subpictureCount_ > 0) {
            dropFirst();
        }
        return;
    }
    if (subpictureCount_ == 0) {
        return;
    }
    const SubpictureSlot& first = subpictures_[subpictureReadIndex_];
    const bool expired = picturePts > first.Pts + first.Subtitle.end_display_time / 1000.0;
    bool overtaken = false;
    if (subpictureCount_ > 1) {
        const SubpictureSlot& second = subpictures_[(subpictureReadIndex_ + 1) % 4];
        overtaken = picturePts > second.Pts + second.Subtitle.start_display_time / 1000.0;
    }
    if (expired || overtaken) {
        dropFirst();
    }
}

void PlaybackContext::Refresh(bool advance) {
    if (!advance) {
        // A redraw shows the picture on show again; the queue is left to the next refresh.
        Draw();
        host_.UpdatePosition(*this);
        return;
    }
    bool dropped = false;
    if (HasVideo()) {
        for (;;) {
            PictureSlot* slot;
            double nextTarget;
            {
                std::lock_guard lock(pictureMutex_);
                if (pictureCount_ == 0) {
                    slot = nullptr;
                } else {
                    slot = &pictures_[pictureReadIndex_];
                }
                if (slot != nullptr) {
                    // Paused, the picture on show stays; only the first picture after a seek
                    // (or after opening) still comes, so that it shows the new place.
                    if (paused_ && !afterSeek_ && shownSinceFlush_) {
                        return;
                    }
                    if (Now() < slot->TargetTime) {
                        return;
                    }
                    currentPts_ = slot->Pts;
                    ptsDrift_ = slot->Pts - Now();
                    currentPosition_ = slot->Position;
                    if (pictureCount_ > 1) {
                        // Target times only grow while nothing is flushed; keep the order if a
                        // stream's timestamps say otherwise.
                        nextTarget = std::max(pictures_[(pictureReadIndex_ + 1) % 2].TargetTime, slot->TargetTime);
                    } else {
                        nextTarget = slot->TargetTime + VideoClock() - slot->Pts;
                    }
                    const double now = Now();
                    if ((now > nextTarget && !liveCapture_) || afterSeek_) {
                        skipFactor_ = skipFactor_ * 1.05;
                        if (pictureCount_ == 2 || now > nextTarget + 0.5 || afterSeek_) {
                            pictureReadIndex_ = (pictureReadIndex_ + 1) % 2;
                            --pictureCount_;
                            pictureChanged_.notify_all();
                            dropped = true;
                            continue;
                        }
                    }
                }
            }
            if (slot == nullptr) {
                break;
            }
            if (subtitleStream_ >= 0) {
                DropExpiredSubtitles(currentPts_);
            }
            {
                std::lock_guard overlayLock(slot->OverlayLock);
                if (slot->Overlay) {
                    {
                        std::lock_guard shownLock(shownMutex_);
                        if (!shown_) {
                            shown_.reset(av_frame_alloc());
                        }
                        if (shown_) {
                            av_frame_unref(shown_.get());
                            av_frame_ref(shown_.get(), slot->Overlay.get());
                            shownPts_ = slot->Pts;
                        }
                    }
                    DrawPicture(*slot->Overlay, slot->Pts);
                }
            }
            {
                std::lock_guard lock(pictureMutex_);
                pictureReadIndex_ = (pictureReadIndex_ + 1) % 2;
                --pictureCount_;
                pictureChanged_.notify_all();
            }
            shownSinceFlush_ = true;
            break;
        }
    } else if (HasAudio()) {
        Draw();
    }
    if (!dropped) {
        host_.UpdatePosition(*this);
    }
}

void PlaybackContext::Draw() {
    EnsureArea(false);
    if (waveform_) {
        DrawWaveformArea();
        return;
    }
    if (!HasVideo()) {
        return;
    }
    std::lock_guard shownLock(shownMutex_);
    if (shown_ && shown_->data[0]) {
        DrawPicture(*shown_, shownPts_);
    }
}

void PlaybackContext::ShowArea() {
    if (settings_.DisableDisplay) {
        return;
    }
    if (VideoSurface* surface = host_.Surface()) {
        surface->ShowPicture(area_);
    }
}

void PlaybackContext::DrawPicture(const AVFrame& overlay, double pts) {
    if (host_.Surface() == nullptr || settings_.DisableDisplay || area_.Empty()) {
        return;
    }
    const AVFrame* source = &overlay;
    {
        std::lock_guard lock(subpictureMutex_);
        if (subtitleStream_ >= 0 && subpictureCount_ > 0) {
            const SubpictureSlot& current = subpictures_[subpictureReadIndex_];
            if (current.Filled && current.Subtitle.format == 0 &&
                pts >= current.Pts + current.Subtitle.start_display_time / 1000.0) {
                if (!blendScratch_) {
                    blendScratch_.reset(av_frame_alloc());
                }
                if (blendScratch_) {
                    av_frame_unref(blendScratch_.get());
                    blendScratch_->format = overlay.format;
                    blendScratch_->width = overlay.width;
                    blendScratch_->height = overlay.height;
                    if (av_frame_get_buffer(blendScratch_.get(), 0) >= 0 &&
                        av_frame_copy(blendScratch_.get(), &overlay) >= 0) {
                        for (unsigned i = 0; i < current.Subtitle.num_rects; ++i) {
                            BlendSubtitleRect(*blendScratch_, *current.Subtitle.rects[i]);
                        }
                        source = blendScratch_.get();
                    }
                }
            }
        }
    }
    const double aspect = DisplayAspect(host_.CurrentAspectRatio(), overlay.width, overlay.height,
                                        overlay.sample_aspect_ratio.num, overlay.sample_aspect_ratio.den,
                                        area_.Width(), area_.Height());
    const PictureRect rect = FitPicture(area_.Width(), area_.Height(), aspect);
    std::memset(area_.Data(), 0, static_cast<size_t>(area_.Stride()) * area_.Height());
    if (rect.Width > 0 && rect.Height > 0) {
        displayScaler_.reset(sws_getCachedContext(displayScaler_.release(), source->width, source->height,
                                                  static_cast<AVPixelFormat>(source->format), rect.Width,
                                                  rect.Height, AV_PIX_FMT_BGR24, ScalerFlags, nullptr, nullptr,
                                                  nullptr));
        if (displayScaler_) {
            uint8_t* destination[4] = {area_.Pixel(rect.X, rect.Y), nullptr, nullptr, nullptr};
            int stride[4] = {area_.Stride(), 0, 0, 0};
            sws_scale(displayScaler_.get(), source->data, source->linesize, 0, source->height, destination, stride);
        }
    }
    ShowArea();
}

void PlaybackContext::DrawWaveformArea() {
    if (host_.Surface() == nullptr || area_.Empty() || audioChannels_ <= 0) {
        return;
    }
    const int width = area_.Width();
    int wanted = audioBytesBuffered_ / (2 * audioChannels_);
    const int64_t sinceCallback = av_gettime_relative() - lastAudioCallback_;
    if (lastAudioCallback_ != 0) {
        wanted -= static_cast<int>(sinceCallback * audioRate_ / 1000000);
    }
    wanted += 2 * width;
    wanted = std::max(wanted, width);
    {
        std::lock_guard lock(historyMutex_);
        const int start = WaveformStart(history_.data(), HistorySamples, historyIndex_, audioChannels_, wanted);
        DrawWaveform(area_, history_.data(), HistorySamples, start, audioChannels_);
    }
    ShowArea();
}

bool PlaybackContext::GrabPicture(FrameConverter& converter, Bitmap& bitmap, double& ptsSeconds) {
    {
        std::lock_guard shownLock(shownMutex_);
        if (shown_ && shown_->data[0]) {
            ptsSeconds = shownPts_;
            return converter.ToBitmap(*shown_, bitmap);
        }
    }
    PictureSlot* slot;
    {
        std::lock_guard lock(pictureMutex_);
        if (pictureCount_ == 0) {
            return false;
        }
        slot = &pictures_[pictureReadIndex_];
        ptsSeconds = slot->Pts;
    }
    std::lock_guard overlayLock(slot->OverlayLock);
    return slot->Overlay && converter.ToBitmap(*slot->Overlay, bitmap);
}

}  // namespace kavel
