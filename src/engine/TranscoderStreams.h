#pragma once

// Per-stream bookkeeping of a transcode: what the set-up decides and the loop updates. Only the
// transcoder's own files use these.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/AudioResampler.h"
#include "engine/TranscoderState.h"
#include "engine/VideoFilter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

namespace kavel {

struct TranscoderFrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using TranscoderFramePtr = std::unique_ptr<AVFrame, TranscoderFrameFree>;

struct TranscoderPacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using TranscoderPacketPtr = std::unique_ptr<AVPacket, TranscoderPacketFree>;

// A channel layout that frees itself.
struct ChannelLayoutHolder {
    AVChannelLayout Layout{};
    ChannelLayoutHolder() = default;
    ChannelLayoutHolder(const ChannelLayoutHolder&) = delete;
    ChannelLayoutHolder& operator=(const ChannelLayoutHolder&) = delete;
    ~ChannelLayoutHolder() { av_channel_layout_uninit(&Layout); }
};

// Loop state of one opened input, beside its InputFile of the option state.
struct InputFileRun {
    bool NoPacket = false;  // the demuxer said "try again" since the last packet
    bool Seeked = false;    // opened at a start time: pictures before it are not output
};

struct InputStream {
    int FileIndex = 0;
    int StreamIndex = 0;  // within its file
    AVStream* Stream = nullptr;
    bool Discard = true;  // until some output stream uses it
    bool DecodingNeeded = false;
    const AVCodec* DecoderCodec = nullptr;
    CodecContextPtr Decoder;
    bool DecoderOpen = false;
    int64_t Start = 0;              // wall clock when the loop started, microseconds
    int64_t NextPts = AV_NOPTS_VALUE;  // microseconds
    int64_t Pts = AV_NOPTS_VALUE;      // microseconds
    bool IsStart = true;
    bool PastRecordingTime = false;
    bool Flushed = false;
};

struct OutputStream {
    int FileIndex = 0;
    int Index = 0;  // within its file
    AVMediaType Kind = AVMEDIA_TYPE_UNKNOWN;
    AVStream* Stream = nullptr;
    int SourceIndex = -1;  // input stream feeding it
    int SyncIndex = -1;    // input stream it keeps time with
    bool StreamCopy = false;
    bool EncodingNeeded = false;
    AVCodecID CodecId = AV_CODEC_ID_NONE;
    const AVCodec* Codec = nullptr;  // null for stream copy, or when no encoder exists
    CodecContextPtr Encoder;
    std::vector<std::string> BitstreamFilters;
    bool EncoderOpen = false;
    int64_t FrameNumber = 0;  // frames written
    int64_t SyncOpts = 0;     // next output position, encoder time-base units
    int Quality = 0;  // of the last encoded picture, lambda units (FF_QP2LAMBDA per quantizer step)

    // Video, taken from the option state when the stream was created.
    int CropTop = 0;
    int CropBottom = 0;
    int CropLeft = 0;
    int CropRight = 0;
    std::string FilterText;
    std::string ScalerOptions;
    bool Filtering = false;  // frames go through Filter
    std::unique_ptr<VideoFilter> Filter;
    TranscoderFramePtr FilteredFrame;

    // Audio.
    std::unique_ptr<AudioResampler> Resampler;
    AudioFifoPtr Fifo;
    TranscoderFramePtr AudioFrame;
    bool AudioStarted = false;
    int64_t NextAudioPts = 0;  // end of the last frame sent, samples
    // What the resampler was built for (or what passed without one).
    int ResampleInRate = 0;
    AVSampleFormat ResampleInFormat = AV_SAMPLE_FMT_NONE;
    ChannelLayoutHolder ResampleInLayout;

    // Stream copy: the first key frame was written.
    bool CopyStarted = false;
    // Output time reached, seconds (for the input choice and the report).
    double MuxedTime = 0.0;
    // Encoded packets scratch.
    TranscoderPacketPtr Packet;
};

}  // namespace kavel
