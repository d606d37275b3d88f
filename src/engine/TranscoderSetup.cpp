#include <climits>
#include <cstring>

#include "engine/EngineLogger.h"
#include "engine/ErrorText.h"
#include "engine/FFmpegException.h"
#include "engine/LibraryLock.h"
#include "engine/TranscoderHelpers.h"
#include "engine/TranscoderRun.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace kavel {

namespace {

// The media type names of the messages, as lasting texts for printf-style formatting.
const char* KindName(AVMediaType kind) {
    static const char* const names[] = {"Video", "Audio", "Data", "Subtitle", "Attachment"};
    return kind >= AVMEDIA_TYPE_VIDEO && kind <= AVMEDIA_TYPE_ATTACHMENT ? names[kind] : "Unknown";
}

// How many frames the stream holds, for choosing among streams of one kind: the container's
// count when it has one, else what its duration and rate give.
int64_t FrameCountEstimate(const AVStream* stream) {
    if (stream->nb_frames > 0) {
        return stream->nb_frames;
    }
    double seconds = 0;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
        seconds = stream->duration * av_q2d(stream->time_base);
    }
    const AVCodecParameters* parameters = stream->codecpar;
    if (parameters->codec_type == AVMEDIA_TYPE_VIDEO && stream->avg_frame_rate.num > 0) {
        return static_cast<int64_t>(seconds * av_q2d(stream->avg_frame_rate));
    }
    if (parameters->codec_type == AVMEDIA_TYPE_AUDIO && parameters->sample_rate > 0) {
        const int frameSize = parameters->frame_size > 0 ? parameters->frame_size : 1024;
        return static_cast<int64_t>(seconds * parameters->sample_rate / frameSize);
    }
    return 0;
}

}  // namespace

TranscoderRun::TranscoderRun(Transcoder& transcoder)
    : owner_(transcoder),
      state_(transcoder.state_),
      inputs_(transcoder.inputStreams_),
      outputs_(transcoder.outputStreams_),
      decoded_(av_frame_alloc()),
      packet_(av_packet_alloc()) {
    if (!decoded_ || !packet_) {
        throw FFmpegException("Not enough memory");
    }
}

void TranscoderRun::SetUp() {
    CheckStreamCounts();
    MapStreams();
    for (auto& output : outputs_) {
        PrepareStream(*output);
    }
    LogStreamMapping();
    OpenEncoders();
    OpenDecoders();
    for (auto& input : inputs_) {
        const AVRational rate = input->Stream->avg_frame_rate;
        input->Pts = 0;
        if (input->Decoder && rate.num > 0 && rate.den > 0 &&
            input->Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            input->Pts = -static_cast<int64_t>(input->Decoder->has_b_frames * AV_TIME_BASE / av_q2d(rate));
        }
        input->NextPts = AV_NOPTS_VALUE;
        input->IsStart = true;
    }
    for (const MetaDataMap& map : state_.MetaDataMaps) {
        if (map.OutFile < 0 || map.OutFile >= static_cast<int>(state_.OutputFiles.size())) {
            throw FFmpegException(FormatText("Invalid output file index %d map_meta_data(%d,%d)", map.OutFile,
                                             map.OutFile, map.InFile));
        }
        if (map.InFile < 0 || map.InFile >= static_cast<int>(state_.InputFiles.size())) {
            throw FFmpegException(FormatText("Invalid input file index %d map_meta_data(%d,%d)", map.InFile,
                                             map.OutFile, map.InFile));
        }
        av_dict_copy(&state_.OutputFiles[map.OutFile].Get()->metadata,
                     state_.InputFiles[map.InFile].Context->metadata, AV_DICT_DONT_OVERWRITE);
    }
    if (state_.MetaDataMaps.empty() && !state_.InputFiles.empty()) {
        for (auto& file : state_.OutputFiles) {
            av_dict_copy(&file.Get()->metadata, state_.InputFiles[0].Context->metadata, AV_DICT_DONT_OVERWRITE);
        }
    }
    WriteHeaders();
    startTime_ = WallClock();
    lastReport_ = startTime_;
    for (auto& input : inputs_) {
        input->Start = startTime_;
    }
}

void TranscoderRun::CheckStreamCounts() {
    for (size_t file = 0; file < state_.OutputFiles.size(); ++file) {
        if (!state_.OutputFiles[file].Get()->nb_streams) {
            throw FFmpegException(
                FormatText("Output file #%d does not contain any stream", static_cast<int>(file)));
        }
    }
    if (state_.StreamMaps.empty()) {
        return;
    }
    if (state_.StreamMaps.size() != outputs_.size()) {
        throw FFmpegException("Number of stream maps must match number of output streams");
    }
    const int inputCount = static_cast<int>(state_.InputFiles.size());
    for (const StreamMap& map : state_.StreamMaps) {
        if (map.FileIndex < 0 || map.FileIndex >= inputCount || map.StreamIndex < 0 ||
            map.StreamIndex >= state_.InputFiles[map.FileIndex].StreamCount) {
            throw FFmpegException(FormatText("Could not find input stream #%d.%d", map.FileIndex, map.StreamIndex));
        }
        if (map.SyncFileIndex < 0 || map.SyncFileIndex >= inputCount || map.SyncStreamIndex < 0 ||
            map.SyncStreamIndex >= state_.InputFiles[map.SyncFileIndex].StreamCount) {
            throw FFmpegException(
                FormatText("Could not find sync stream #%d.%d", map.SyncFileIndex, map.SyncStreamIndex));
        }
    }
}

void TranscoderRun::MapStreams() {
    for (size_t i = 0; i < outputs_.size(); ++i) {
        OutputStream& output = *outputs_[i];
        if (!state_.StreamMaps.empty()) {
            const StreamMap& map = state_.StreamMaps[i];
            const int source = state_.InputFiles[map.FileIndex].FirstStreamIndex + map.StreamIndex;
            const int sync = state_.InputFiles[map.SyncFileIndex].FirstStreamIndex + map.SyncStreamIndex;
            const AVMediaType kind = inputs_[source]->Stream->codecpar->codec_type;
            if (kind != output.Kind) {
                throw FFmpegException(FormatText("Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)",
                                                 map.FileIndex, map.StreamIndex, KindName(kind),
                                                 output.FileIndex, output.Index, KindName(output.Kind)));
            }
            output.SourceIndex = source;
            output.SyncIndex = sync;
        } else {
            int best = -1;
            int64_t bestFrames = -1;
            for (size_t j = 0; j < inputs_.size(); ++j) {
                const InputStream& input = *inputs_[j];
                if (!input.Discard || input.Stream->discard == AVDISCARD_ALL ||
                    input.Stream->codecpar->codec_type != output.Kind) {
                    continue;
                }
                const int64_t frames = FrameCountEstimate(input.Stream);
                if (frames > bestFrames) {
                    best = static_cast<int>(j);
                    bestFrames = frames;
                }
            }
            if (best < 0) {
                for (size_t j = 0; j < inputs_.size(); ++j) {
                    const InputStream& input = *inputs_[j];
                    if (input.Stream->codecpar->codec_type == output.Kind &&
                        input.Stream->discard != AVDISCARD_ALL) {
                        best = static_cast<int>(j);
                    }
                }
            }
            if (best < 0) {
                AVFormatContext* context = state_.OutputFiles[output.FileIndex].Get();
                av_dump_format(context, output.FileIndex, context->url, 1);
                throw FFmpegException(FormatText("Could not find input stream matching output stream #%d.%d (%s)",
                                                 output.FileIndex, output.Index, KindName(output.Kind)));
            }
            output.SourceIndex = best;
            output.SyncIndex = best;
        }
        inputs_[output.SourceIndex]->Discard = false;
    }
}

void TranscoderRun::PrepareStream(OutputStream& output) {
    InputStream& input = *inputs_[output.SourceIndex];
    AVStream* inStream = input.Stream;
    AVStream* outStream = output.Stream;
    av_dict_copy(&outStream->metadata, inStream->metadata, AV_DICT_DONT_OVERWRITE);
    outStream->disposition = inStream->disposition;
    if (output.StreamCopy) {
        PrepareCopy(output, input);
        return;
    }
    output.EncodingNeeded = true;
    input.DecodingNeeded = true;
    if (output.Kind == AVMEDIA_TYPE_VIDEO) {
        PrepareVideo(output, input);
    } else if (output.Kind == AVMEDIA_TYPE_AUDIO) {
        PrepareAudio(output, input);
    } else if (output.Kind == AVMEDIA_TYPE_SUBTITLE) {
        // Subtitle timestamps are handed over in microseconds.
        output.Encoder->time_base = AV_TIME_BASE_Q;
    }
}

void TranscoderRun::PrepareCopy(OutputStream& output, InputStream& input) {
    const AVCodecParameters* source = input.Stream->codecpar;
    if (output.Kind == AVMEDIA_TYPE_VIDEO) {
        if (owner_.customHook_ && owner_.onHook_) {
            throw FFmpegException("-vcodec copy and CustomHook are incompatible (frames are not decoded)");
        }
        if (owner_.previewFlags_ & (Transcoder::PreviewWindowFlag | Transcoder::PreviewBitmapFlag)) {
            throw FFmpegException("-vcodec copy and PostHooks are incompatible (frames are not decoded)");
        }
    }
    if (output.Kind == AVMEDIA_TYPE_AUDIO && state_.AudioVolume != 256) {
        throw FFmpegException("-acodec copy and -vol are incompatible (frames are not decoded)");
    }
    if (source->extradata_size > INT32_MAX - 8) {
        throw FFmpegException("icodec.extradata_size is invalid (too large)");
    }
    AVCodecParameters* target = output.Stream->codecpar;
    const AVRational aspect = output.Stream->sample_aspect_ratio;
    if (avcodec_parameters_copy(target, source) < 0) {
        throw FFmpegException("Not enough memory");
    }
    // Keep the input's tag only when the output format accepts it for this codec.
    const AVOutputFormat* format = state_.OutputFiles[output.FileIndex].Get()->oformat;
    target->codec_tag = 0;
    if (!format->codec_tag || av_codec_get_id(format->codec_tag, source->codec_tag) == source->codec_id ||
        !av_codec_get_tag(format->codec_tag, source->codec_id)) {
        target->codec_tag = source->codec_tag;
    }
    if (output.Encoder->codec_tag) {
        target->codec_tag = output.Encoder->codec_tag;
    }
    const AVRational streamBase = input.Stream->time_base;
    AVRational codecBase{0, 1};
    if (input.Stream->r_frame_rate.num > 0 && input.Stream->r_frame_rate.den > 0) {
        codecBase = av_inv_q(input.Stream->r_frame_rate);
    }
    if (output.Kind == AVMEDIA_TYPE_VIDEO && codecBase.num > 0 && av_q2d(streamBase) < av_q2d(codecBase) &&
        av_q2d(streamBase) < 0.001) {
        output.Stream->time_base = codecBase;
    } else {
        output.Stream->time_base = streamBase;
    }
    if (output.Kind == AVMEDIA_TYPE_VIDEO) {
        output.Stream->avg_frame_rate = input.Stream->avg_frame_rate;
        output.Stream->r_frame_rate = input.Stream->r_frame_rate;
        output.Stream->sample_aspect_ratio =
            aspect.num > 0 ? aspect : input.Stream->sample_aspect_ratio;
        target->sample_aspect_ratio = output.Stream->sample_aspect_ratio;
    }
}

void TranscoderRun::PrepareVideo(OutputStream& output, InputStream& input) {
    AVCodecContext* encoder = output.Encoder.get();
    if (encoder->pix_fmt == AV_PIX_FMT_NONE) {
        throw FFmpegException("Video pixel format is unknown, stream cannot be encoded");
    }
    const AVCodecParameters* source = input.Stream->codecpar;
    VideoFilterSettings settings;
    settings.InputWidth = source->width;
    settings.InputHeight = source->height;
    settings.InputFormat = source->format < 0 ? AV_PIX_FMT_YUV420P : static_cast<AVPixelFormat>(source->format);
    settings.InputSampleAspect = input.Stream->sample_aspect_ratio;
    settings.CropTop = output.CropTop;
    settings.CropBottom = output.CropBottom;
    settings.CropLeft = output.CropLeft;
    settings.CropRight = output.CropRight;
    settings.OutputWidth = encoder->width;
    settings.OutputHeight = encoder->height;
    settings.OutputFormat = encoder->pix_fmt;
    settings.ScalerOptions = output.ScalerOptions;
    settings.FilterText = output.FilterText;
    if (encoder->width <= 0 || encoder->height <= 0) {
        settings.OutputWidth = encoder->width = source->width;
        settings.OutputHeight = encoder->height = source->height;
    }
    output.FilteredFrame.reset(av_frame_alloc());
    if (!output.FilteredFrame) {
        throw FFmpegException("Not enough memory");
    }
    output.Filter = std::make_unique<VideoFilter>();
    output.Filtering = !VideoFilter::PassesUnchanged(settings);
    if (output.Filtering) {
        output.Filter->Open(settings);
        encoder->width = output.Filter->OutputWidth();
        encoder->height = output.Filter->OutputHeight();
        if (!output.FilterText.empty()) {
            const AVRational aspect = output.Filter->OutputSampleAspect();
            if (aspect.num > 0 && aspect.den > 0 && encoder->sample_aspect_ratio.num == 0) {
                encoder->sample_aspect_ratio = aspect;
                output.Stream->sample_aspect_ratio = aspect;
            }
        }
    } else {
        // Remember what passes unchanged, so that a change of picture size is noticed.
        output.Filter->Remember(settings);
    }
}

void TranscoderRun::PrepareAudio(OutputStream& output, InputStream& input) {
    (void)input;
    output.AudioFrame.reset(av_frame_alloc());
    if (!output.AudioFrame) {
        throw FFmpegException("Not enough memory");
    }
}

void TranscoderRun::LogStreamMapping() {
    LogText(llVerbose, "Stream mapping:");
    for (const auto& output : outputs_) {
        const InputStream& source = *inputs_[output->SourceIndex];
        std::string line = FormatText("Stream #%d.%d -> #%d.%d (%s)", source.FileIndex, source.StreamIndex,
                                      output->FileIndex, output->Index,
                                      output->StreamCopy ? "copy"
                                      : output->Codec    ? output->Codec->name
                                                         : avcodec_get_name(output->CodecId));
        if (output->SyncIndex != output->SourceIndex) {
            const InputStream& sync = *inputs_[output->SyncIndex];
            line += FormatText(" [sync #%d.%d (%s)]", sync.FileIndex, sync.StreamIndex,
                               KindName(sync.Stream->codecpar->codec_type));
        }
        LogText(llVerbose, line);
    }
}

void TranscoderRun::OpenEncoders() {
    for (auto& output : outputs_) {
        if (!output->EncodingNeeded) {
            continue;
        }
        AVCodecContext* encoder = output->Encoder.get();
        if (!output->Codec) {
            throw FFmpegException(FormatText("Encoder (codec id %d) not found for output stream #%d.%d (%s)",
                                             static_cast<int>(output->CodecId), output->FileIndex, output->Index,
                                             KindName(output->Kind)));
        }
        encoder->thread_count = owner_.threadCount_;
        if (output->Kind == AVMEDIA_TYPE_SUBTITLE) {
            // Text subtitle encoders take their style header from the decoder.
            InputStream& input = *inputs_[output->SourceIndex];
            OpenDecoder(input);
            const AVCodecContext* decoder = input.Decoder.get();
            if (decoder->subtitle_header && !encoder->subtitle_header) {
                encoder->subtitle_header = static_cast<uint8_t*>(av_mallocz(decoder->subtitle_header_size + 1));
                if (!encoder->subtitle_header) {
                    throw FFmpegException("Not enough memory");
                }
                std::memcpy(encoder->subtitle_header, decoder->subtitle_header, decoder->subtitle_header_size);
                encoder->subtitle_header_size = decoder->subtitle_header_size;
            }
        }
        int opened;
        {
            LibraryLock lock;
            opened = avcodec_open2(encoder, output->Codec, nullptr);
        }
        if (opened < 0) {
            throw FFmpegException(FormatText(
                "Error while opening encoder for output stream #%d.%d (%s) - maybe incorrect parameters such "
                "as bit_rate, rate, width or height. Please check error log message to find out more detail "
                "information.",
                output->FileIndex, output->Index, KindName(output->Kind)));
        }
        output->EncoderOpen = true;
        extraSize_ += encoder->extradata_size;
        if (avcodec_parameters_from_context(output->Stream->codecpar, encoder) < 0) {
            throw FFmpegException("Not enough memory");
        }
        output->Stream->time_base = encoder->time_base;
        // Buffer sizes and the like, which muxers of disc formats read from the stream.
        for (int i = 0; i < encoder->nb_coded_side_data; ++i) {
            const AVPacketSideData& data = encoder->coded_side_data[i];
            uint8_t* copy = av_stream_new_side_data(output->Stream, data.type, data.size);
            if (!copy) {
                throw FFmpegException("Not enough memory");
            }
            std::memcpy(copy, data.data, data.size);
        }
        if (output->Kind == AVMEDIA_TYPE_VIDEO) {
            output->Stream->avg_frame_rate = encoder->framerate;
        }
        if (output->Kind == AVMEDIA_TYPE_AUDIO) {
            output->Fifo.reset(av_audio_fifo_alloc(encoder->sample_fmt, encoder->ch_layout.nb_channels,
                                                   encoder->frame_size > 0 ? encoder->frame_size : 4096));
            if (!output->Fifo) {
                throw FFmpegException("av_fifo_alloc fail");
            }
        }
        output->Packet.reset(av_packet_alloc());
        if (!output->Packet) {
            throw FFmpegException("Not enough memory");
        }
    }
    for (auto& output : outputs_) {
        if (!output->Packet) {
            output->Packet.reset(av_packet_alloc());
        }
    }
}

void TranscoderRun::OpenDecoders() {
    for (auto& input : inputs_) {
        if (input->DecodingNeeded) {
            OpenDecoder(*input);
        }
    }
}

void TranscoderRun::OpenDecoder(InputStream& input) {
    if (input.DecoderOpen) {
        return;
    }
    const AVCodecParameters* parameters = input.Stream->codecpar;
    const AVCodec* decoder = input.DecoderCodec;
    if (!decoder) {
        throw FFmpegException(FormatText("Decoder (codec id %d) not found for input stream #%d.%d (%s)",
                                         static_cast<int>(parameters->codec_id), input.FileIndex, input.StreamIndex,
                                         KindName(parameters->codec_type)));
    }
    input.Decoder->thread_count = owner_.threadCount_;
    int opened;
    {
        LibraryLock lock;
        opened = avcodec_open2(input.Decoder.get(), decoder, nullptr);
    }
    if (opened < 0) {
        throw FFmpegException(FormatText("Error while opening decoder for input stream #%d.%d (%s)", input.FileIndex,
                                         input.StreamIndex, KindName(parameters->codec_type)));
    }
    input.DecoderOpen = true;
}

void TranscoderRun::WriteHeaders() {
    for (size_t file = 0; file < state_.OutputFiles.size(); ++file) {
        AVFormatContext* context = state_.OutputFiles[file].Get();
        const int written = avformat_write_header(context, nullptr);
        if (written < 0) {
            LogStreamMapping();
            const std::string text = FormatText(
                "Could not write header for output file #%d (incorrect codec parameters ?)", static_cast<int>(file));
            LogText(llError, text);
            throw FFmpegException(text);
        }
    }
}

void TranscoderRun::CloseCodecs() {
    LibraryLock lock;
    for (auto& output : outputs_) {
        if (output->EncoderOpen) {
            output->Encoder.reset();
            output->EncoderOpen = false;
        }
    }
    for (auto& input : inputs_) {
        if (input->DecoderOpen) {
            input->Decoder.reset();
            input->DecoderOpen = false;
        }
    }
}

}  // namespace kavel
