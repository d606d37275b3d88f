#pragma once

// Runs whole conversions through the transcoder with named options, and reads outputs back.

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/FFmpegException.h"
#include "engine/OptionParser.h"
#include "engine/Transcoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace kavel::testing {

using Options = std::vector<std::pair<std::string, std::string>>;

struct ConversionResult {
    bool Opened = false;       // input and output opened
    bool Transcoded = false;   // Transcode returned without an error
    bool Finished = false;
    std::string Error;         // opener's text or the error raised by Transcode
    int Duplicated = 0;
    int Dropped = 0;
    std::vector<ProgressReport> Reports;
};

// Options are applied in order, exactly as the record walkers would: the input's before it is
// opened, the output's before the output is opened. prepare runs before Transcode.
template <typename Prepare>
ConversionResult Convert(const std::string& input, const Options& inputOptions, const std::string& output,
                         const Options& outputOptions, Prepare prepare) {
    ConversionResult result;
    Transcoder transcoder;
    transcoder.State().Generic.Create();
    OptionParser parser(transcoder.State(), transcoder);
    transcoder.SetOnProgress([&](const ProgressReport& report) { result.Reports.push_back(report); });
    try {
        for (const auto& [name, value] : inputOptions) {
            parser.SetOption(name, value);
        }
        if (!transcoder.OpenInputFile(input)) {
            result.Error = transcoder.ErrorText();
            return result;
        }
        for (const auto& [name, value] : outputOptions) {
            parser.SetOption(name, value);
        }
        if (transcoder.OpenOutputFile(output, false) < 0) {
            result.Error = transcoder.ErrorText();
            return result;
        }
    } catch (const FFmpegException& error) {
        result.Error = error.what();
        return result;
    }
    result.Opened = true;
    prepare(transcoder);
    try {
        transcoder.Transcode();
        result.Transcoded = true;
    } catch (const FFmpegException& error) {
        result.Error = error.what();
    }
    result.Finished = transcoder.Finished();
    result.Duplicated = transcoder.FramesDuplicated();
    result.Dropped = transcoder.FramesDropped();
    transcoder.Release();
    return result;
}

inline ConversionResult Convert(const std::string& input, const Options& inputOptions,
                                const std::string& output, const Options& outputOptions) {
    return Convert(input, inputOptions, output, outputOptions, [](Transcoder&) {});
}

struct StreamFacts {
    std::string Kind;   // "video", "audio", "subtitle"
    std::string Codec;  // codec name
    int Width = 0;
    int Height = 0;
    double FrameRate = 0;  // average
    std::string PixelFormat;
    int SampleRate = 0;
    int Channels = 0;
    int Packets = 0;
    double Seconds = 0;  // from the first packet's start to the last packet's end
};

struct FileFacts {
    bool Readable = false;
    std::string Format;  // demuxer name
    std::vector<StreamFacts> Streams;
    const StreamFacts* First(const std::string& kind) const {
        for (const auto& stream : Streams) {
            if (stream.Kind == kind) {
                return &stream;
            }
        }
        return nullptr;
    }
};

// Opens a file with the plain libraries and walks all its packets.
inline FileFacts ReadFacts(const std::string& path) {
    FileFacts facts;
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0) {
        return facts;
    }
    if (avformat_find_stream_info(context, nullptr) < 0) {
        avformat_close_input(&context);
        return facts;
    }
    facts.Readable = true;
    facts.Format = context->iformat->name;
    std::vector<int64_t> first(context->nb_streams, INT64_MAX);
    std::vector<int64_t> last(context->nb_streams, INT64_MIN);
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* stream = context->streams[i];
        const AVCodecParameters* parameters = stream->codecpar;
        StreamFacts entry;
        const char* kind = av_get_media_type_string(parameters->codec_type);
        entry.Kind = kind ? kind : "unknown";
        entry.Codec = avcodec_get_name(parameters->codec_id);
        entry.Width = parameters->width;
        entry.Height = parameters->height;
        entry.FrameRate = stream->avg_frame_rate.den ? av_q2d(stream->avg_frame_rate) : 0;
        if (parameters->codec_type == AVMEDIA_TYPE_VIDEO && parameters->format >= 0) {
            entry.PixelFormat = av_get_pix_fmt_name(static_cast<AVPixelFormat>(parameters->format));
        }
        entry.SampleRate = parameters->sample_rate;
        entry.Channels = parameters->ch_layout.nb_channels;
        facts.Streams.push_back(entry);
    }
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(context, packet) >= 0) {
        const int index = packet->stream_index;
        const AVRational base = context->streams[index]->time_base;
        const int64_t start = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (start != AV_NOPTS_VALUE) {
            const int64_t begin = av_rescale_q(start, base, AV_TIME_BASE_Q);
            const int64_t end = av_rescale_q(start + packet->duration, base, AV_TIME_BASE_Q);
            first[index] = std::min(first[index], begin);
            last[index] = std::max(last[index], end);
        }
        facts.Streams[index].Packets++;
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        if (last[i] > first[i]) {
            facts.Streams[i].Seconds = static_cast<double>(last[i] - first[i]) / AV_TIME_BASE;
        }
    }
    avformat_close_input(&context);
    return facts;
}

// The first decoded picture of a file as 8-bit luma rows (empty when there is none).
struct GrayPicture {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Pixels;
    // Mean luma of a rectangle.
    double Mean(int x, int y, int width, int height) const {
        double sum = 0;
        for (int row = y; row < y + height; ++row) {
            for (int column = x; column < x + width; ++column) {
                sum += Pixels[static_cast<size_t>(row) * Width + column];
            }
        }
        return width > 0 && height > 0 ? sum / (static_cast<double>(width) * height) : 0;
    }
};

inline GrayPicture FirstPicture(const std::string& path) {
    GrayPicture picture;
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0) {
        return picture;
    }
    avformat_find_stream_info(context, nullptr);
    const int index = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) {
        avformat_close_input(&context);
        return picture;
    }
    const AVCodec* codec = avcodec_find_decoder(context->streams[index]->codecpar->codec_id);
    AVCodecContext* decoder = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(decoder, context->streams[index]->codecpar);
    avcodec_open2(decoder, codec, nullptr);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bool got = false;
    while (!got && av_read_frame(context, packet) >= 0) {
        if (packet->stream_index == index && avcodec_send_packet(decoder, packet) >= 0) {
            got = avcodec_receive_frame(decoder, frame) >= 0;
        }
        av_packet_unref(packet);
    }
    if (!got) {
        avcodec_send_packet(decoder, nullptr);
        got = avcodec_receive_frame(decoder, frame) >= 0;
    }
    if (got) {
        picture.Width = frame->width;
        picture.Height = frame->height;
        picture.Pixels.resize(static_cast<size_t>(frame->width) * frame->height);
        SwsContext* scaler = sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                            frame->width, frame->height, AV_PIX_FMT_GRAY8, SWS_POINT, nullptr,
                                            nullptr, nullptr);
        uint8_t* planes[4] = {picture.Pixels.data(), nullptr, nullptr, nullptr};
        int strides[4] = {frame->width, 0, 0, 0};
        sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, strides);
        sws_freeContext(scaler);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&context);
    return picture;
}

// The line of the final progress report (empty when there was none).
inline std::string FinalReportText(const ConversionResult& result) {
    for (const auto& report : result.Reports) {
        if (report.Final) {
            return report.Text;
        }
    }
    return {};
}

}  // namespace kavel::testing
