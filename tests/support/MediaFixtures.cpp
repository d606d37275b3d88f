#include "support/MediaFixtures.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <numbers>
#include <random>
#include <sstream>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace kavel::fixtures {

namespace {

struct CodecContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsFree {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct OutputContextFree {
    void operator()(AVFormatContext* c) const {
        if (c->pb && !(c->oformat->flags & AVFMT_NOFILE)) {
            avio_closep(&c->pb);
        }
        avformat_free_context(c);
    }
};
struct InputContextFree {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFree>;
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextFree>;
using InputContextPtr = std::unique_ptr<AVFormatContext, InputContextFree>;

std::string ErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof(text));
    return text;
}

void Check(int code, const std::string& what) {
    if (code < 0) {
        throw std::runtime_error("fixture: " + what + ": " + ErrorText(code));
    }
}

template <typename T>
T* CheckAlloc(T* value, const std::string& what) {
    if (!value) {
        throw std::runtime_error("fixture: cannot allocate " + what);
    }
    return value;
}

// The fixture folder and the files made so far, for the whole test process.
class FixtureStore {
public:
    static FixtureStore& Instance() {
        static FixtureStore store;
        return store;
    }

    ~FixtureStore() {
        // A forked child (a death test that exits) must not take the parent's files with it.
        if (getpid() != owner_) {
            return;
        }
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    const std::string& Folder() const { return folder_; }

    std::mutex& Mutex() { return mutex_; }
    std::map<std::string, std::string>& Made() { return made_; }
    int NextNumber() { return ++counter_; }

private:
    FixtureStore() {
        const char* tmp = std::getenv("TMPDIR");
        const std::string parent = tmp && *tmp ? tmp : "/tmp";
        owner_ = getpid();
        RemoveOrphans(parent);
        std::string pattern = parent + "/" + kFolderPrefix + std::to_string(owner_) + "-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            throw std::runtime_error("fixture: cannot create a temporary folder");
        }
        folder_ = pattern;
    }

    // Test processes that crashed or were killed leave their folders behind; the folder name
    // carries the owner's process id, so folders of processes that are gone can be removed.
    static void RemoveOrphans(const std::string& parent) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(parent, error)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind(kFolderPrefix, 0) != 0) {
                continue;
            }
            char* end = nullptr;
            const long pid = std::strtol(name.c_str() + std::strlen(kFolderPrefix), &end, 10);
            if (pid > 0 && *end == '-' && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
                std::error_code ignored;
                std::filesystem::remove_all(entry.path(), ignored);
            }
        }
    }

    static constexpr const char* kFolderPrefix = "kavel-fixtures-";

    std::string folder_;
    pid_t owner_ = 0;
    std::mutex mutex_;
    std::map<std::string, std::string> made_;
    int counter_ = 0;
};

std::string Key(const MediaParams& p) {
    std::ostringstream key;
    key << p.Container << '|' << p.Extension << '|' << p.FileStem << '|' << p.Seconds << '|'
        << p.Video << '|' << p.Width << 'x' << p.Height << '|' << p.FrameRate.num << '/'
        << p.FrameRate.den << '|' << p.PixelFormat << '|' << p.VideoCodec << '|'
        << p.SampleAspectRatio.num << ':' << p.SampleAspectRatio.den << '|' << p.VideoBitRate << '|'
        << p.GopSize << '|' << p.MaxBFrames << '|' << p.AudioStreams << '|' << p.Channels << '|'
        << p.SampleRate << '|' << p.ToneHz << '|' << p.AudioCodec << '|' << p.AudioBitRate << '|'
        << p.SubtitleStreams << '|' << p.SubtitleCodec << '|' << p.Language;
    for (const auto& [name, value] : p.Metadata) {
        key << '|' << name << '=' << value;
    }
    for (double seconds : p.AudioSeconds) {
        key << "|a" << seconds;
    }
    return key.str();
}

std::string FirstExtension(const AVOutputFormat* format, const std::string& container) {
    if (!format->extensions || !*format->extensions) {
        return container;
    }
    std::string all = format->extensions;
    return all.substr(0, all.find(','));
}

// Frame counter layout: cell k of the 4 x 4 grid is row k / 4, column k % 4; cells 0..11 hold the
// number (bit k), cells 12..15 its check value.
constexpr int kGrid = 4;
constexpr int kNumberBits = 12;
constexpr std::uint8_t kDark = 32;
constexpr std::uint8_t kLight = 220;

int CheckValue(int number) {
    return ~(number ^ (number >> 4) ^ (number >> 8)) & 0xF;
}

int GridBits(int number) {
    return (number & 0xFFF) | (CheckValue(number) << kNumberBits);
}

// Samples 8-bit luma values of the examined picture.
template <typename Luma>
int ReadCounter(int width, int height, const CounterGeometry& g, Luma luma) {
    const double pictureWidth = g.PictureWidth > 0 ? g.PictureWidth : width - g.PictureX;
    const double pictureHeight = g.PictureHeight > 0 ? g.PictureHeight : height - g.PictureY;
    const double keptWidth = g.SourceRight - g.SourceLeft;
    const double keptHeight = g.SourceBottom - g.SourceTop;
    if (pictureWidth <= 0 || pictureHeight <= 0 || keptWidth <= 0 || keptHeight <= 0) {
        return -1;
    }
    auto toX = [&](double source) {
        return g.PictureX + (source - g.SourceLeft) / keptWidth * pictureWidth;
    };
    auto toY = [&](double source) {
        return g.PictureY + (source - g.SourceTop) / keptHeight * pictureHeight;
    };
    int bits = 0;
    for (int cell = 0; cell < kGrid * kGrid; ++cell) {
        const int row = cell / kGrid;
        const int column = cell % kGrid;
        // The middle of the cell only, as far as the crop kept it: edges blur under scaling
        // and lossy coding.
        const double left = std::max((column + 0.3) / kGrid, g.SourceLeft);
        const double right = std::min((column + 0.7) / kGrid, g.SourceRight);
        const double top = std::max((row + 0.3) / kGrid, g.SourceTop);
        const double bottom = std::min((row + 0.7) / kGrid, g.SourceBottom);
        if (left >= right || top >= bottom) {
            return -1;
        }
        const int x0 = std::max(static_cast<int>(std::lround(toX(left))), 0);
        const int y0 = std::max(static_cast<int>(std::lround(toY(top))), 0);
        const int x1 = std::min(std::max(static_cast<int>(std::lround(toX(right))), x0 + 1), width);
        const int y1 =
            std::min(std::max(static_cast<int>(std::lround(toY(bottom))), y0 + 1), height);
        if (x0 >= x1 || y0 >= y1) {
            return -1;
        }
        long sum = 0;
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) {
                sum += luma(x, y);
            }
        }
        const long count = static_cast<long>(x1 - x0) * (y1 - y0);
        if (sum > 128 * count) {
            bits |= 1 << cell;
        }
    }
    const int number = bits & 0xFFF;
    return (bits >> kNumberBits) == CheckValue(number) ? number : -1;
}

struct OutputStream {
    AVStream* Stream = nullptr;
    CodecContextPtr Codec;
    FramePtr Frame;
    FramePtr Source;  // video: the drawn picture in YUV 4:4:4
    SwsPtr Scaler;
    std::int64_t NextPts = 0;
    std::int64_t Total = 0;  // frames (video) or samples (audio) to write
    double ToneHz = 0;
    bool Finished = false;
};

const AVCodec* FindEncoder(const std::string& name, const AVOutputFormat* format,
                           AVMediaType type) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
    if (codec && avformat_query_codec(format, codec->id, FF_COMPLIANCE_EXPERIMENTAL) == 0) {
        codec = nullptr;
    }
    if (!codec) {
        const AVCodecID fallback = type == AVMEDIA_TYPE_VIDEO   ? format->video_codec
                                   : type == AVMEDIA_TYPE_AUDIO ? format->audio_codec
                                                                : format->subtitle_codec;
        codec = fallback == AV_CODEC_ID_NONE ? nullptr : avcodec_find_encoder(fallback);
    }
    // Containers without a default of this kind: the first encoder they say they can hold (for
    // subtitles a text one, since the events are text).
    void* iterator = nullptr;
    while (!codec) {
        const AVCodec* candidate = av_codec_iterate(&iterator);
        if (!candidate) {
            break;
        }
        const AVCodecDescriptor* descriptor = avcodec_descriptor_get(candidate->id);
        const bool textIfSubtitle = type != AVMEDIA_TYPE_SUBTITLE ||
                                    (descriptor && (descriptor->props & AV_CODEC_PROP_TEXT_SUB));
        if (candidate->type == type && av_codec_is_encoder(candidate) && textIfSubtitle &&
            !(candidate->capabilities & AV_CODEC_CAP_EXPERIMENTAL) &&
            avformat_query_codec(format, candidate->id, FF_COMPLIANCE_NORMAL) == 1) {
            codec = candidate;
        }
    }
    if (!codec) {
        throw std::runtime_error("fixture: no encoder " + name + " for " + format->name);
    }
    return codec;
}

class MediaWriter {
public:
    MediaWriter(const MediaParams& params, const std::string& path) : params_(params) {
        AVFormatContext* raw = nullptr;
        Check(avformat_alloc_output_context2(&raw, nullptr, params.Container.c_str(), path.c_str()),
              "container " + params.Container);
        context_.reset(raw);
        context_->flags |= AVFMT_FLAG_BITEXACT;
        for (const auto& [name, value] : params.Metadata) {
            av_dict_set(&context_->metadata, name.c_str(), value.c_str(), 0);
        }
        if (params.Video) {
            AddVideo();
        }
        for (int i = 0; i < params.AudioStreams; ++i) {
            const double seconds = static_cast<size_t>(i) < params.AudioSeconds.size()
                                       ? params.AudioSeconds[static_cast<size_t>(i)]
                                       : params.Seconds;
            AddAudio(params.ToneHz * (1.0 + 0.5 * i), seconds);
        }
        for (int i = 0; i < params.SubtitleStreams; ++i) {
            AddSubtitles();
        }
        if (streams_.empty()) {
            throw std::runtime_error("fixture: no stream asked for");
        }
        if (!(context_->oformat->flags & AVFMT_NOFILE)) {
            Check(avio_open(&context_->pb, path.c_str(), AVIO_FLAG_WRITE), "open " + path);
        }
    }

    void Write() {
        Check(avformat_write_header(context_.get(), nullptr), "write header");
        PacketPtr packet(CheckAlloc(av_packet_alloc(), "packet"));
        for (;;) {
            OutputStream* next = nullptr;
            for (auto& s : streams_) {
                if (!s->Finished &&
                    (!next || av_compare_ts(s->NextPts, s->Codec->time_base, next->NextPts,
                                            next->Codec->time_base) < 0)) {
                    next = s.get();
                }
            }
            if (!next) {
                break;
            }
            if (next->Codec->codec_type == AVMEDIA_TYPE_SUBTITLE) {
                next->Finished = !WriteSubtitle(*next, packet.get());
                continue;
            }
            AVFrame* frame = next->Codec->codec_type == AVMEDIA_TYPE_VIDEO ? NextPicture(*next)
                                                                           : NextSamples(*next);
            Encode(*next, frame, packet.get());
            if (!frame) {
                next->Finished = true;
            }
        }
        Check(av_write_trailer(context_.get()), "write trailer");
    }

private:
    OutputStream& NewStream(const AVCodec* codec) {
        auto s = std::make_unique<OutputStream>();
        s->Stream = CheckAlloc(avformat_new_stream(context_.get(), nullptr), "stream");
        s->Codec.reset(CheckAlloc(avcodec_alloc_context3(codec), "codec context"));
        s->Codec->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
        if (context_->oformat->flags & AVFMT_GLOBALHEADER) {
            s->Codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        if (!params_.Language.empty()) {
            av_dict_set(&s->Stream->metadata, "language", params_.Language.c_str(), 0);
        }
        streams_.push_back(std::move(s));
        return *streams_.back();
    }

    void Open(OutputStream& s, AVDictionary** options) {
        const int opened = avcodec_open2(s.Codec.get(), s.Codec->codec, options);
        av_dict_free(options);
        Check(opened, std::string("open encoder ") + s.Codec->codec->name);
        Check(avcodec_parameters_from_context(s.Stream->codecpar, s.Codec.get()),
              "stream parameters");
        s.Stream->time_base = s.Codec->time_base;
    }

    void AddVideo() {
        const AVCodec* codec =
            FindEncoder(params_.VideoCodec, context_->oformat, AVMEDIA_TYPE_VIDEO);
        OutputStream& s = NewStream(codec);
        AVCodecContext* c = s.Codec.get();
        c->width = params_.Width;
        c->height = params_.Height;
        c->time_base = av_inv_q(params_.FrameRate);
        c->framerate = params_.FrameRate;
        c->gop_size = params_.GopSize;
        c->max_b_frames = params_.MaxBFrames;
        c->pix_fmt = params_.PixelFormat;
        if (codec->pix_fmts) {
            bool supported = false;
            for (const AVPixelFormat* f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f) {
                supported = supported || *f == params_.PixelFormat;
            }
            if (!supported) {
                c->pix_fmt = avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, params_.PixelFormat,
                                                               0, nullptr);
            }
        }
        if (params_.SampleAspectRatio.num > 0) {
            c->sample_aspect_ratio = params_.SampleAspectRatio;
            s.Stream->sample_aspect_ratio = params_.SampleAspectRatio;
        }
        AVDictionary* options = nullptr;
        const std::string name = codec->name;
        if (params_.VideoBitRate > 0) {
            c->bit_rate = params_.VideoBitRate;
        } else if (name == "libx264" || name == "libx265") {
            av_dict_set(&options, "crf", "16", 0);
        } else {
            c->flags |= AV_CODEC_FLAG_QSCALE;
            c->global_quality = FF_QP2LAMBDA * 3;
            c->bit_rate = 4000000;  // for encoders without a constant-quality mode
        }
        if (name == "libx264" || name == "libx265") {
            av_dict_set(&options, "preset", "ultrafast", 0);
        }
        s.Stream->avg_frame_rate = params_.FrameRate;
        s.Stream->r_frame_rate = params_.FrameRate;
        Open(s, &options);
        s.Total = std::llround(params_.Seconds * av_q2d(params_.FrameRate));

        s.Frame.reset(CheckAlloc(av_frame_alloc(), "frame"));
        s.Frame->format = c->pix_fmt;
        s.Frame->width = c->width;
        s.Frame->height = c->height;
        Check(av_frame_get_buffer(s.Frame.get(), 0), "picture");
        s.Source.reset(CheckAlloc(av_frame_alloc(), "frame"));
        s.Source->format = AV_PIX_FMT_YUV444P;
        s.Source->width = c->width;
        s.Source->height = c->height;
        Check(av_frame_get_buffer(s.Source.get(), 0), "picture");
        s.Scaler.reset(
            CheckAlloc(sws_getContext(c->width, c->height, AV_PIX_FMT_YUV444P, c->width, c->height,
                                      c->pix_fmt, SWS_POINT, nullptr, nullptr, nullptr),
                       "scaler"));
    }

    void AddAudio(double toneHz, double seconds) {
        const AVCodec* codec =
            FindEncoder(params_.AudioCodec, context_->oformat, AVMEDIA_TYPE_AUDIO);
        OutputStream& s = NewStream(codec);
        AVCodecContext* c = s.Codec.get();
        c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
        c->sample_rate = params_.SampleRate;
        if (codec->supported_samplerates) {
            int best = codec->supported_samplerates[0];
            for (const int* r = codec->supported_samplerates; *r; ++r) {
                if (std::abs(*r - params_.SampleRate) < std::abs(best - params_.SampleRate)) {
                    best = *r;
                }
            }
            c->sample_rate = best;
        }
        av_channel_layout_default(&c->ch_layout, params_.Channels);
        c->bit_rate = params_.AudioBitRate;
        c->time_base = AVRational{1, c->sample_rate};
        AVDictionary* options = nullptr;
        Open(s, &options);
        s.ToneHz = toneHz;
        s.Total = std::llround(seconds * c->sample_rate);

        s.Frame.reset(CheckAlloc(av_frame_alloc(), "frame"));
        s.Frame->format = c->sample_fmt;
        s.Frame->sample_rate = c->sample_rate;
        Check(av_channel_layout_copy(&s.Frame->ch_layout, &c->ch_layout), "channel layout");
        const bool anySize =
            c->frame_size == 0 || (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
        s.Frame->nb_samples = anySize ? 1024 : c->frame_size;
        Check(av_frame_get_buffer(s.Frame.get(), 0), "samples");
    }

    void AddSubtitles() {
        const AVCodec* codec =
            FindEncoder(params_.SubtitleCodec, context_->oformat, AVMEDIA_TYPE_SUBTITLE);
        OutputStream& s = NewStream(codec);
        AVCodecContext* c = s.Codec.get();
        c->time_base = AVRational{1, 1000};
        // Text subtitle encoders read their styles from an ASS header.
        static const char header[] =
            "[Script Info]\r\nScriptType: v4.00+\r\nPlayResX: 384\r\nPlayResY: 288\r\n\r\n"
            "[V4+ Styles]\r\nFormat: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, "
            "OutlineColour, BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, "
            "Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, "
            "Encoding\r\nStyle: Default,Arial,16,&Hffffff,&Hffffff,&H0,&H0,0,0,0,0,100,100,0,0,"
            "1,1,0,2,10,10,10,0\r\n\r\n[Events]\r\nFormat: Layer, Start, End, Style, Name, "
            "MarginL, MarginR, MarginV, Effect, Text\r\n";
        c->subtitle_header = reinterpret_cast<uint8_t*>(CheckAlloc(av_strdup(header), "header"));
        c->subtitle_header_size = static_cast<int>(sizeof(header) - 1);
        AVDictionary* options = nullptr;
        Open(s, &options);
        s.Total = std::llround(params_.Seconds * 1000);
    }

    // One event per second; false once the stream has no more.
    bool WriteSubtitle(OutputStream& s, AVPacket* packet) {
        if (s.NextPts >= s.Total) {
            return false;
        }
        constexpr int kShownMs = 900;
        const std::string event =
            "0,0,Default,,0,0,0,,Line " + std::to_string(s.NextPts / 1000 + 1);
        AVSubtitleRect rect{};
        rect.type = SUBTITLE_ASS;
        rect.ass = const_cast<char*>(event.c_str());
        AVSubtitleRect* rects[] = {&rect};
        AVSubtitle subtitle{};
        subtitle.num_rects = 1;
        subtitle.rects = rects;
        subtitle.end_display_time = kShownMs;
        subtitle.pts = av_rescale_q(s.NextPts, s.Codec->time_base, AV_TIME_BASE_Q);
        std::vector<uint8_t> buffer(4096);
        const int size = avcodec_encode_subtitle(s.Codec.get(), buffer.data(),
                                                 static_cast<int>(buffer.size()), &subtitle);
        Check(size, "encode subtitle");
        Check(av_new_packet(packet, size), "subtitle packet");
        std::memcpy(packet->data, buffer.data(), static_cast<size_t>(size));
        packet->pts = packet->dts =
            av_rescale_q(s.NextPts, s.Codec->time_base, s.Stream->time_base);
        packet->duration = av_rescale_q(kShownMs, s.Codec->time_base, s.Stream->time_base);
        packet->stream_index = s.Stream->index;
        Check(av_interleaved_write_frame(context_.get(), packet), "write packet");
        s.NextPts += 1000;
        return true;
    }

    AVFrame* NextPicture(OutputStream& s) {
        if (s.NextPts >= s.Total) {
            return nullptr;
        }
        AVFrame* source = s.Source.get();
        Check(av_frame_make_writable(source), "picture");
        const int number = static_cast<int>(s.NextPts);
        DrawFrameCounter(number, source->data[0], source->width, source->height,
                         source->linesize[0]);
        // A tint per quarter so the picture is not plain grey; luma alone carries the counter.
        for (int y = 0; y < source->height; ++y) {
            for (int x = 0; x < source->width; ++x) {
                const int column = x * kGrid / source->width;
                const int row = y * kGrid / source->height;
                source->data[1][y * source->linesize[1] + x] =
                    static_cast<std::uint8_t>(128 + (column - 1) * 16);
                source->data[2][y * source->linesize[2] + x] =
                    static_cast<std::uint8_t>(128 + (row - 1) * 16);
            }
        }
        AVFrame* frame = s.Frame.get();
        Check(av_frame_make_writable(frame), "picture");
        sws_scale(s.Scaler.get(), source->data, source->linesize, 0, source->height, frame->data,
                  frame->linesize);
        frame->pts = s.NextPts++;
        frame->quality = s.Codec->global_quality;
        frame->pict_type = AV_PICTURE_TYPE_NONE;
        return frame;
    }

    AVFrame* NextSamples(OutputStream& s) {
        if (s.NextPts >= s.Total) {
            return nullptr;
        }
        AVFrame* frame = s.Frame.get();
        Check(av_frame_make_writable(frame), "samples");
        const AVSampleFormat format = static_cast<AVSampleFormat>(frame->format);
        const int channels = frame->ch_layout.nb_channels;
        const bool planar = av_sample_fmt_is_planar(format);
        const int bytes = av_get_bytes_per_sample(format);
        for (int i = 0; i < frame->nb_samples; ++i) {
            const std::int64_t n = s.NextPts + i;
            const double value =
                n < s.Total
                    ? 0.3 * std::sin(2.0 * std::numbers::pi * s.ToneHz * n / s.Codec->sample_rate)
                    : 0.0;
            for (int ch = 0; ch < channels; ++ch) {
                std::uint8_t* at = planar ? frame->data[ch] + i * bytes
                                          : frame->data[0] + (i * channels + ch) * bytes;
                StoreSample(format, at, value);
            }
        }
        frame->pts = s.NextPts;
        s.NextPts += frame->nb_samples;
        return frame;
    }

    static void StoreSample(AVSampleFormat format, std::uint8_t* at, double value) {
        switch (av_get_packed_sample_fmt(format)) {
            case AV_SAMPLE_FMT_U8:
                *at = static_cast<std::uint8_t>(128 + std::lround(value * 127));
                break;
            case AV_SAMPLE_FMT_S16: {
                const auto v = static_cast<std::int16_t>(std::lround(value * 32767));
                std::memcpy(at, &v, sizeof v);
                break;
            }
            case AV_SAMPLE_FMT_S32: {
                const auto v = static_cast<std::int32_t>(std::lround(value * 2147483647.0));
                std::memcpy(at, &v, sizeof v);
                break;
            }
            case AV_SAMPLE_FMT_S64: {
                const auto v = static_cast<std::int64_t>(std::llround(value * 9.2e18));
                std::memcpy(at, &v, sizeof v);
                break;
            }
            case AV_SAMPLE_FMT_FLT: {
                const auto v = static_cast<float>(value);
                std::memcpy(at, &v, sizeof v);
                break;
            }
            case AV_SAMPLE_FMT_DBL:
                std::memcpy(at, &value, sizeof value);
                break;
            default:
                throw std::runtime_error("fixture: unknown sample format");
        }
    }

    void Encode(OutputStream& s, AVFrame* frame, AVPacket* packet) {
        Check(avcodec_send_frame(s.Codec.get(), frame), "encode");
        for (;;) {
            const int received = avcodec_receive_packet(s.Codec.get(), packet);
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) {
                return;
            }
            Check(received, "encode");
            av_packet_rescale_ts(packet, s.Codec->time_base, s.Stream->time_base);
            packet->stream_index = s.Stream->index;
            Check(av_interleaved_write_frame(context_.get(), packet), "write packet");
        }
    }

    const MediaParams& params_;
    OutputContextPtr context_;
    std::vector<std::unique_ptr<OutputStream>> streams_;
};

std::string WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("fixture: cannot write " + path);
    }
    return path;
}

}  // namespace

MediaParams NoDurationParams() {
    MediaParams params;
    params.Container = "m4v";
    params.VideoCodec = "mpeg4";
    return params;
}

std::string FixtureFolder() {
    return FixtureStore::Instance().Folder();
}

std::string TempPath(const std::string& name) {
    return FixtureFolder() + "/" + name;
}

std::string MakeMedia(const MediaParams& params) {
    FixtureStore& store = FixtureStore::Instance();
    std::lock_guard lock(store.Mutex());
    const std::string key = Key(params);
    if (auto found = store.Made().find(key); found != store.Made().end()) {
        return found->second;
    }
    const AVOutputFormat* format = av_guess_format(params.Container.c_str(), nullptr, nullptr);
    if (!format) {
        throw std::runtime_error("fixture: unknown container " + params.Container);
    }
    const std::string stem =
        params.FileStem.empty() ? "media-" + std::to_string(store.NextNumber()) : params.FileStem;
    const std::string extension =
        params.Extension.empty() ? FirstExtension(format, params.Container) : params.Extension;
    const std::string path = store.Folder() + "/" + stem + "." + extension;
    MediaWriter(params, path).Write();
    store.Made()[key] = path;
    return path;
}

std::string MakeEmptyFile() {
    return WriteBytes(TempPath("empty.bin"), "");
}

std::string MakeRandomFile(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& b : bytes) {
        b = static_cast<char>(generator() & 0xFF);
    }
    return WriteBytes(
        TempPath("random-" + std::to_string(seed) + "-" + std::to_string(size) + ".bin"), bytes);
}

std::string WriteFile(const std::string& name, const std::string& bytes) {
    return WriteBytes(TempPath(name), bytes);
}

std::string MakeTruncatedCopy(const std::string& path, std::size_t keepBytes) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes(keepBytes, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(keepBytes));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    const std::string name = std::filesystem::path(path).stem().string() + "-cut" +
                             std::to_string(keepBytes) +
                             std::filesystem::path(path).extension().string();
    return WriteBytes(TempPath(name), bytes);
}

void DrawFrameCounter(int number, std::uint8_t* luma, int width, int height, int stride) {
    const int bits = GridBits(number);
    for (int y = 0; y < height; ++y) {
        const int row = y * kGrid / height;
        for (int x = 0; x < width; ++x) {
            const int cell = row * kGrid + x * kGrid / width;
            luma[y * stride + x] = (bits >> cell) & 1 ? kLight : kDark;
        }
    }
}

int ReadFrameCounter(const AVFrame& frame, const CounterGeometry& geometry) {
    const auto format = static_cast<AVPixelFormat>(frame.format);
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    if (!descriptor) {
        return -1;
    }
    const bool lumaPlane =
        !(descriptor->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BE)) &&
        descriptor->comp[0].plane == 0 && descriptor->comp[0].depth == 8 &&
        descriptor->comp[0].step == 1 && descriptor->comp[0].offset == 0;
    if (lumaPlane) {
        return ReadCounter(frame.width, frame.height, geometry,
                           [&](int x, int y) { return frame.data[0][y * frame.linesize[0] + x]; });
    }
    SwsPtr scaler(sws_getContext(frame.width, frame.height, format, frame.width, frame.height,
                                 AV_PIX_FMT_GRAY8, SWS_POINT, nullptr, nullptr, nullptr));
    if (!scaler) {
        return -1;
    }
    std::vector<std::uint8_t> gray(static_cast<std::size_t>(frame.width) * frame.height);
    std::uint8_t* planes[4] = {gray.data(), nullptr, nullptr, nullptr};
    int strides[4] = {frame.width, 0, 0, 0};
    sws_scale(scaler.get(), frame.data, frame.linesize, 0, frame.height, planes, strides);
    return ReadCounter(frame.width, frame.height, geometry,
                       [&](int x, int y) { return gray[y * frame.width + x]; });
}

int ReadFrameCounterBgr(const std::uint8_t* pixels, int width, int height, int stride,
                        const CounterGeometry& geometry) {
    return ReadCounter(width, height, geometry, [&](int x, int y) {
        const std::uint8_t* p = pixels + y * stride + x * 3;
        return (29 * p[0] + 150 * p[1] + 77 * p[2]) >> 8;
    });
}

namespace {

// One stream of a file opened for decoding with the plain libraries.
struct DecodingInput {
    InputContextPtr Input;
    CodecContextPtr Codec;
    int Index = -1;

    DecodingInput(const std::string& path, AVMediaType type, int wanted) {
        AVFormatContext* raw = nullptr;
        Check(avformat_open_input(&raw, path.c_str(), nullptr, nullptr), "open " + path);
        Input.reset(raw);
        Check(avformat_find_stream_info(Input.get(), nullptr), "stream info of " + path);
        const AVCodec* decoder = nullptr;
        Index = av_find_best_stream(Input.get(), type, wanted, -1, &decoder, 0);
        Check(Index, std::string(av_get_media_type_string(type)) + " stream of " + path);
        Codec.reset(CheckAlloc(avcodec_alloc_context3(decoder), "decoder"));
        Check(avcodec_parameters_to_context(Codec.get(), Stream()->codecpar), "decoder parameters");
        Check(avcodec_open2(Codec.get(), decoder, nullptr), "open decoder");
    }

    const AVStream* Stream() const { return Input->streams[Index]; }

    // Calls onFrame for every decoded frame of the stream, the delayed ones included.
    template <typename OnFrame>
    void DecodeAll(OnFrame onFrame) {
        FramePtr frame(CheckAlloc(av_frame_alloc(), "frame"));
        PacketPtr packet(CheckAlloc(av_packet_alloc(), "packet"));
        auto drain = [&] {
            while (avcodec_receive_frame(Codec.get(), frame.get()) >= 0) {
                onFrame(*frame);
                av_frame_unref(frame.get());
            }
        };
        while (av_read_frame(Input.get(), packet.get()) >= 0) {
            if (packet->stream_index == Index) {
                avcodec_send_packet(Codec.get(), packet.get());
                drain();
            }
            av_packet_unref(packet.get());
        }
        avcodec_send_packet(Codec.get(), nullptr);
        drain();
    }
};

double LoadSample(AVSampleFormat format, const std::uint8_t* at) {
    switch (av_get_packed_sample_fmt(format)) {
        case AV_SAMPLE_FMT_U8:
            return (*at - 128) / 128.0;
        case AV_SAMPLE_FMT_S16: {
            std::int16_t v;
            std::memcpy(&v, at, sizeof v);
            return v / 32768.0;
        }
        case AV_SAMPLE_FMT_S32: {
            std::int32_t v;
            std::memcpy(&v, at, sizeof v);
            return v / 2147483648.0;
        }
        case AV_SAMPLE_FMT_S64: {
            std::int64_t v;
            std::memcpy(&v, at, sizeof v);
            return static_cast<double>(v) / 9.2233720368547758e18;
        }
        case AV_SAMPLE_FMT_FLT: {
            float v;
            std::memcpy(&v, at, sizeof v);
            return v;
        }
        case AV_SAMPLE_FMT_DBL: {
            double v;
            std::memcpy(&v, at, sizeof v);
            return v;
        }
        default:
            return 0;
    }
}

}  // namespace

DecodedVideo DecodeVideo(const std::string& path, const CounterGeometry& geometry) {
    DecodingInput decoding(path, AVMEDIA_TYPE_VIDEO, -1);
    const AVRational timeBase = decoding.Stream()->time_base;
    DecodedVideo result;
    decoding.DecodeAll([&](const AVFrame& frame) {
        result.Width = frame.width;
        result.Height = frame.height;
        result.Counters.push_back(ReadFrameCounter(frame, geometry));
        const std::int64_t pts = frame.best_effort_timestamp;
        result.PtsUS.push_back(pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE
                                                     : av_rescale_q(pts, timeBase, AV_TIME_BASE_Q));
    });
    return result;
}

DecodedAudio DecodeAudio(const std::string& path, int streamIndex) {
    DecodingInput decoding(path, AVMEDIA_TYPE_AUDIO, streamIndex);
    DecodedAudio result;
    std::int64_t crossings = 0;
    double previous = 0;
    decoding.DecodeAll([&](const AVFrame& frame) {
        const auto format = static_cast<AVSampleFormat>(frame.format);
        const int channels = frame.ch_layout.nb_channels;
        const int bytes = av_get_bytes_per_sample(format);
        const bool planar = av_sample_fmt_is_planar(format);
        result.Channels = channels;
        result.SampleRate = frame.sample_rate;
        for (int i = 0; i < frame.nb_samples; ++i) {
            for (int ch = 0; ch < channels; ++ch) {
                const std::uint8_t* at = planar
                                             ? frame.extended_data[ch] + i * bytes
                                             : frame.extended_data[0] + (i * channels + ch) * bytes;
                const double value = LoadSample(format, at);
                result.Peak = std::max(result.Peak, std::abs(value));
                if (ch == 0) {
                    // A small dead band keeps codec noise around silence from counting.
                    if ((previous < -1e-3 && value >= 1e-3) ||
                        (previous > 1e-3 && value <= -1e-3)) {
                        ++crossings;
                    }
                    if (std::abs(value) >= 1e-3) {
                        previous = value;
                    }
                }
            }
        }
        result.Samples += frame.nb_samples;
    });
    if (result.Samples > 0 && result.SampleRate > 0) {
        result.ToneHz = crossings / 2.0 / (static_cast<double>(result.Samples) / result.SampleRate);
    }
    return result;
}

}  // namespace kavel::fixtures
