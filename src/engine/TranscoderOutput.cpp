#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "engine/CodecNames.h"
#include "engine/EngineLogger.h"
#include "engine/ErrorText.h"
#include "engine/FFmpegException.h"
#include "engine/FileNames.h"
#include "engine/Transcoder.h"
#include "engine/TranscoderHelpers.h"
#include "engine/TranscoderStreams.h"

extern "C" {
#include <libavutil/avstring.h>
#include <libavutil/dict.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace kavel {

namespace {

bool InputsHave(const std::vector<std::unique_ptr<InputStream>>& streams, AVMediaType kind) {
    for (const auto& stream : streams) {
        if (stream->Stream->codecpar->codec_type == kind) {
            return true;
        }
    }
    return false;
}

// "start,end,q/start,end,q...": q >= 1 fixes the quantizer, q < 1 scales the quality by -q/100.
void ParseRcOverride(AVCodecContext* encoder, const std::string& text) {
    std::vector<RcOverride> overrides;
    const char* p = text.c_str();
    while (*p) {
        int start = 0;
        int end = 0;
        int q = 0;
        if (std::sscanf(p, "%d,%d,%d", &start, &end, &q) != 3) {
            throw FFmpegException("error parsing rc_override");
        }
        RcOverride entry{};
        entry.start_frame = start;
        entry.end_frame = end;
        if (q > 0) {
            entry.qscale = q;
            entry.quality_factor = 1.0f;
        } else {
            entry.qscale = 0;
            entry.quality_factor = -q / 100.0f;
        }
        overrides.push_back(entry);
        p = std::strchr(p, '/');
        if (!p) {
            break;
        }
        ++p;
    }
    if (overrides.empty()) {
        return;
    }
    encoder->rc_override = static_cast<RcOverride*>(av_malloc_array(overrides.size(), sizeof(RcOverride)));
    if (!encoder->rc_override) {
        throw FFmpegException("Not enough memory");
    }
    std::copy(overrides.begin(), overrides.end(), encoder->rc_override);
    encoder->rc_override_count = static_cast<int>(overrides.size());
}

uint16_t* CopyMatrix(const std::vector<uint16_t>& matrix) {
    auto* copy = static_cast<uint16_t*>(av_malloc(64 * sizeof(uint16_t)));
    if (copy) {
        std::copy_n(matrix.begin(), 64, copy);
    }
    return copy;
}

bool ListsPixelFormat(const AVCodec* codec, AVPixelFormat format, int strictness) {
    if (!codec->pix_fmts) {
        return true;
    }
    for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p) {
        if (*p == format) {
            return true;
        }
    }
    // The MJPEG encoder takes full-range formats only, unless strictness lets it accept these.
    if (codec->id == AV_CODEC_ID_MJPEG && strictness <= FF_COMPLIANCE_UNOFFICIAL &&
        (format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUV422P)) {
        return true;
    }
    return false;
}

bool ListsSampleFormat(const AVCodec* codec, AVSampleFormat format) {
    if (!codec->sample_fmts) {
        return true;
    }
    for (const AVSampleFormat* p = codec->sample_fmts; *p != AV_SAMPLE_FMT_NONE; ++p) {
        if (*p == format) {
            return true;
        }
    }
    return false;
}

int ClosestSampleRate(const AVCodec* codec, int rate) {
    if (!codec->supported_samplerates) {
        return rate;
    }
    int best = codec->supported_samplerates[0];
    for (const int* p = codec->supported_samplerates; *p; ++p) {
        if (std::abs(*p - rate) < std::abs(best - rate)) {
            best = *p;
        }
    }
    return best;
}

void SetLanguage(AVStream* stream, std::string& language) {
    if (!language.empty()) {
        av_dict_set(&stream->metadata, "language", language.c_str(), 0);
    }
    language.clear();
}

// Audio-only containers whose default video codec only carries cover pictures.
bool VideoIsCoverOnly(const AVOutputFormat* format) {
    return format->video_codec == AV_CODEC_ID_PNG && format->audio_codec != AV_CODEC_ID_NONE;
}

}  // namespace

int Transcoder::OpenOutputFile(const std::string& fileName, bool join) {
    errorText_.clear();
    try {
        if (join_) {
            throw FFmpegException("Cannot join more than one output file.");
        }
        joinRequested_ = joinRequested_ || join;
        return OpenOutput(fileName);
    } catch (const std::exception& error) {
        errorText_ = error.what();
        return -1;
    }
}

int Transcoder::OpenOutput(const std::string& fileName) {
    if (static_cast<int>(state_.OutputFiles.size()) >= MaxOutputFiles) {
        throw FFmpegException(FormatText("max output files %d reached", MaxOutputFiles));
    }
    const AVOutputFormat* format = nullptr;
    if (!state_.ForcedFormat.empty()) {
        format = av_guess_format(state_.ForcedFormat.c_str(), nullptr, nullptr);
        if (!format) {
            const std::string name = state_.ForcedFormat;
            state_.ForcedFormat.clear();
            throw FFmpegException(
                FormatText("Requested output format '%s' is not a suitable output format", name.c_str()));
        }
        state_.ForcedFormat.clear();
    } else {
        format = av_guess_format(nullptr, fileName.c_str(), nullptr);
        if (!format) {
            throw FFmpegException(
                FormatText("Unable to find a suitable output format for '%s'", fileName.c_str()));
        }
    }
    AVFormatContext* raw = nullptr;
    const int allocated = AllocOutputFormat(&raw, format, nullptr, fileName);
    if (allocated < 0 || !raw) {
        throw FFmpegException("avformat_alloc_context failed");
    }
    OutputFormatPtr context(raw);
    const int fileIndex = static_cast<int>(state_.OutputFiles.size());

    try {
        bool useVideo = (format->video_codec != AV_CODEC_ID_NONE && !VideoIsCoverOnly(format)) ||
                        !state_.VideoCodecName.empty() || state_.VideoStreamCopy;
        bool useAudio = format->audio_codec != AV_CODEC_ID_NONE || !state_.AudioCodecName.empty() ||
                        state_.AudioStreamCopy;
        bool useSubtitle = format->subtitle_codec != AV_CODEC_ID_NONE ||
                           !state_.SubtitleCodecName.empty() || state_.SubtitleStreamCopy;
        if (!inputStreams_.empty()) {
            useVideo = useVideo && InputsHave(inputStreams_, AVMEDIA_TYPE_VIDEO);
            useAudio = useAudio && InputsHave(inputStreams_, AVMEDIA_TYPE_AUDIO);
            useSubtitle = useSubtitle && InputsHave(inputStreams_, AVMEDIA_TYPE_SUBTITLE);
        }
        if (state_.VideoDisable) {
            useVideo = false;
        }
        if (state_.AudioDisable) {
            useAudio = false;
        }
        if (state_.SubtitleDisable) {
            useSubtitle = false;
        }
        if (useVideo) {
            try {
                AddVideoStream(context.get(), fileIndex);
            } catch (const std::exception& error) {
                throw FFmpegException(std::string("new_video_stream fail: ") + error.what());
            }
        }
        if (useAudio) {
            try {
                AddAudioStream(context.get(), fileIndex);
            } catch (const std::exception& error) {
                throw FFmpegException(std::string("new_audio_stream fail: ") + error.what());
            }
        }
        if (useSubtitle) {
            try {
                AddSubtitleStream(context.get(), fileIndex);
            } catch (const std::exception& error) {
                throw FFmpegException(std::string("new_subtitle_stream fail: ") + error.what());
            }
        }

        if (state_.RecordingTimestamp) {
            const time_t seconds = static_cast<time_t>(state_.RecordingTimestamp);
            std::tm utc{};
            gmtime_r(&seconds, &utc);
            char text[32];
            std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &utc);
            av_dict_set(&context->metadata, "creation_time", text, 0);
        }
        for (auto entry = state_.Metadata.rbegin(); entry != state_.Metadata.rend(); ++entry) {
            av_dict_set(&context->metadata, entry->Key.c_str(), entry->Value.c_str(), 0);
        }

        if ((format->flags & AVFMT_NEEDNUMBER) && !av_filename_number_test(fileName.c_str())) {
            throw FFmpegException("Number syntax expected in filename");
        }
        const int opened = OpenOutputFormatIO(context.get(), fileName);
        if (opened < 0) {
            throw FFmpegException(kavel::ErrorText(fileName, opened));
        }

        av_opt_set_int(context.get(), "preload", static_cast<int64_t>(state_.MuxPreload * AV_TIME_BASE),
                       AV_OPT_SEARCH_CHILDREN);
        context->max_delay = static_cast<int>(state_.MuxMaxDelay * AV_TIME_BASE);
        if (state_.LoopOutput >= 0) {
            av_opt_set_int(context.get(), "loop", state_.LoopOutput, AV_OPT_SEARCH_CHILDREN);
        }
        context->flags |= AVFMT_FLAG_NONBLOCK;
        ApplyOptions(context.get(), state_.Generic.Format);
        state_.StreamIdMap.fill(0);
    } catch (...) {
        std::erase_if(outputStreams_, [&](const auto& stream) { return stream->FileIndex == fileIndex; });
        throw;
    }

    OutputFile file;
    file.Context = std::move(context);
    state_.OutputFiles.push_back(std::move(file));
    return fileIndex;
}

void Transcoder::NewStream(AVMediaType kind) {
    if (state_.OutputFiles.empty()) {
        throw FFmpegException("At least one output file must be specified");
    }
    const int fileIndex = static_cast<int>(state_.OutputFiles.size()) - 1;
    AVFormatContext* context = state_.OutputFiles.back().Get();
    switch (kind) {
        case AVMEDIA_TYPE_VIDEO:
            AddVideoStream(context, fileIndex);
            break;
        case AVMEDIA_TYPE_AUDIO:
            AddAudioStream(context, fileIndex);
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            AddSubtitleStream(context, fileIndex);
            break;
        default:
            throw FFmpegException("invalid codec_type");
    }
}

bool Transcoder::AddVideoHook(const std::vector<std::string>& args) {
    // Video hook modules are not loaded by this engine yet.
    Log(llError, "Failed to find Process entrypoint in %s", args.empty() ? "" : args[0].c_str());
    return false;
}

OutputStream& Transcoder::AddStreamCommon(AVFormatContext* context, int fileIndex, AVMediaType kind) {
    const int index = static_cast<int>(context->nb_streams);
    AVStream* stream = avformat_new_stream(context, nullptr);
    if (!stream) {
        throw FFmpegException("Could not alloc stream");
    }
    if (index < MaxStreams && state_.StreamIdMap[index]) {
        stream->id = state_.StreamIdMap[index];
    }
    auto output = std::make_unique<OutputStream>();
    output->FileIndex = fileIndex;
    output->Index = index;
    output->Kind = kind;
    output->Stream = stream;

    std::vector<std::string>& filters = kind == AVMEDIA_TYPE_VIDEO   ? state_.VideoBitstreamFilters
                                        : kind == AVMEDIA_TYPE_AUDIO ? state_.AudioBitstreamFilters
                                                                     : state_.SubtitleBitstreamFilters;
    output->BitstreamFilters = std::move(filters);
    filters.clear();

    const bool copy = kind == AVMEDIA_TYPE_VIDEO   ? state_.VideoStreamCopy
                      : kind == AVMEDIA_TYPE_AUDIO ? state_.AudioStreamCopy
                                                   : state_.SubtitleStreamCopy;
    const std::string& codecName = kind == AVMEDIA_TYPE_VIDEO   ? state_.VideoCodecName
                                   : kind == AVMEDIA_TYPE_AUDIO ? state_.AudioCodecName
                                                                : state_.SubtitleCodecName;
    output->StreamCopy = copy;
    if (!copy) {
        if (!codecName.empty()) {
            output->Codec = LookupCodec(codecName, kind, true, Strictness(state_, kind));
            output->CodecId = output->Codec->id;
        } else {
            output->CodecId = av_guess_codec(context->oformat, nullptr, context->url, nullptr, kind);
            output->Codec = avcodec_find_encoder(output->CodecId);
        }
    }
    output->Encoder.reset(avcodec_alloc_context3(output->Codec));
    if (!output->Encoder) {
        throw FFmpegException("Not enough memory");
    }
    AVCodecContext* encoder = output->Encoder.get();
    encoder->codec_type = kind;
    encoder->codec_id = output->CodecId;
    encoder->thread_count = threadCount_;

    const uint32_t tag = kind == AVMEDIA_TYPE_VIDEO   ? state_.VideoCodecTag
                         : kind == AVMEDIA_TYPE_AUDIO ? state_.AudioCodecTag
                                                      : state_.SubtitleCodecTag;
    if (tag) {
        encoder->codec_tag = tag;
    }
    bool globalHeader = context->oformat->flags & AVFMT_GLOBALHEADER;
    if (kind == AVMEDIA_TYPE_VIDEO) {
        globalHeader = (state_.VideoGlobalHeader & 1) || (state_.VideoGlobalHeader == 0 && globalHeader);
        if (state_.VideoGlobalHeader & 2) {
            encoder->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
        }
    }
    if (globalHeader) {
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (!copy) {
        ApplyOptions(encoder, CodecOptions(state_, kind));
    }
    outputStreams_.push_back(std::move(output));
    return *outputStreams_.back();
}

void Transcoder::AddVideoStream(AVFormatContext* context, int fileIndex) {
    OutputStream& output = AddStreamCommon(context, fileIndex, AVMEDIA_TYPE_VIDEO);
    AVCodecContext* encoder = output.Encoder.get();
    AVStream* stream = output.Stream;

    const double aspect = state_.FrameAspectRatio;
    AVRational sampleAspect{0, 1};
    if (aspect > 0) {
        const double value = state_.FrameWidth > 0 && state_.FrameHeight > 0
                                 ? aspect * state_.FrameHeight / state_.FrameWidth
                                 : aspect * 3.0 / 4.0;
        sampleAspect = av_d2q(value, 255);
    }
    if (output.StreamCopy) {
        stream->sample_aspect_ratio = sampleAspect;
    } else {
        AVRational rate = state_.FrameRate;
        if (rate.num <= 0 || rate.den <= 0) {
            rate = AVRational{25, 1};
        }
        if (output.Codec && output.Codec->supported_framerates && !state_.ForceFps) {
            rate = output.Codec->supported_framerates[av_find_nearest_q_idx(rate, output.Codec->supported_framerates)];
        }
        encoder->framerate = rate;
        encoder->time_base = av_inv_q(rate);
        encoder->width = state_.FrameWidth;
        encoder->height = state_.FrameHeight;
        encoder->sample_aspect_ratio = sampleAspect;
        stream->sample_aspect_ratio = sampleAspect;

        AVPixelFormat pixelFormat = state_.FramePixelFormat;
        if (output.Codec && (pixelFormat == AV_PIX_FMT_NONE ||
                             !ListsPixelFormat(output.Codec, pixelFormat, Strictness(state_, AVMEDIA_TYPE_VIDEO)))) {
            pixelFormat = output.Codec->pix_fmts ? output.Codec->pix_fmts[0] : AV_PIX_FMT_YUV420P;
        }
        if (pixelFormat == AV_PIX_FMT_NONE) {
            pixelFormat = AV_PIX_FMT_YUV420P;
        }
        encoder->pix_fmt = pixelFormat;

        if (state_.IntraOnly) {
            encoder->gop_size = 0;
        }
        if (state_.VideoQScale > 0 || state_.SameQuality) {
            encoder->flags |= AV_CODEC_FLAG_QSCALE;
            encoder->global_quality = static_cast<int>(FF_QP2LAMBDA * state_.VideoQScale);
        }
        if (state_.IntraMatrix.size() == 64) {
            encoder->intra_matrix = CopyMatrix(state_.IntraMatrix);
        }
        if (state_.InterMatrix.size() == 64) {
            encoder->inter_matrix = CopyMatrix(state_.InterMatrix);
        }
        if (!state_.VideoRcOverride.empty()) {
            ParseRcOverride(encoder, state_.VideoRcOverride);
        }
        if (!encoder->rc_initial_buffer_occupancy) {
            encoder->rc_initial_buffer_occupancy = encoder->rc_buffer_size * 3 / 4;
        }
        encoder->intra_dc_precision = state_.IntraDcPrecision - 8;
        if (state_.DoPsnr) {
            encoder->flags |= AV_CODEC_FLAG_PSNR;
        }
        if (state_.Pass == 1) {
            encoder->flags |= AV_CODEC_FLAG_PASS1;
        } else if (state_.Pass == 2) {
            encoder->flags |= AV_CODEC_FLAG_PASS2;
        }
    }
    output.CropTop = state_.FrameTopBand;
    output.CropBottom = state_.FrameBottomBand;
    output.CropLeft = state_.FrameLeftBand;
    output.CropRight = state_.FrameRightBand;
    output.FilterText = state_.VideoFilters;
    if (state_.Deinterlace) {
        // Deinterlacing runs first in the stream's filter graph.
        output.FilterText = output.FilterText.empty() ? "yadif" : "yadif," + output.FilterText;
    }
    // The scaler flags given as "sws_flags" replace the default ones.
    const std::string* flags = FindListOption(state_.Generic.Scaler, "sws_flags");
    output.ScalerOptions =
        flags ? "flags=" + *flags : FormatText("flags=0x%X", static_cast<unsigned>(state_.ScalerFlags));
    for (const auto& [name, value] : state_.Generic.Scaler) {
        if (name != "sws_flags") {
            output.ScalerOptions += ":" + name + "=" + value;
        }
    }

    SetLanguage(stream, state_.VideoLanguage);
    state_.VideoDisable = false;
    state_.VideoCodecName.clear();
    state_.VideoStreamCopy = false;
    state_.FramePixelFormat = AV_PIX_FMT_NONE;
}

void Transcoder::AddAudioStream(AVFormatContext* context, int fileIndex) {
    OutputStream& output = AddStreamCommon(context, fileIndex, AVMEDIA_TYPE_AUDIO);
    AVCodecContext* encoder = output.Encoder.get();
    if (!output.StreamCopy) {
        if (state_.AudioQScale > -99999) {
            encoder->flags |= AV_CODEC_FLAG_QSCALE;
            encoder->global_quality = static_cast<int>(FF_QP2LAMBDA * state_.AudioQScale);
        }
        av_channel_layout_uninit(&encoder->ch_layout);
        if (inputChannelLayout_.nb_channels == state_.AudioChannels &&
            inputChannelLayout_.order != AV_CHANNEL_ORDER_UNSPEC) {
            av_channel_layout_copy(&encoder->ch_layout, &inputChannelLayout_);
        } else {
            av_channel_layout_default(&encoder->ch_layout, state_.AudioChannels);
        }
        AVSampleFormat sampleFormat = state_.AudioSampleFormat;
        if (output.Codec && (sampleFormat == AV_SAMPLE_FMT_NONE || !ListsSampleFormat(output.Codec, sampleFormat))) {
            sampleFormat = output.Codec->sample_fmts ? output.Codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
        }
        if (sampleFormat == AV_SAMPLE_FMT_NONE) {
            sampleFormat = AV_SAMPLE_FMT_S16;
        }
        encoder->sample_fmt = sampleFormat;
        int rate = state_.AudioSampleRate;
        if (output.Codec) {
            const int closest = ClosestSampleRate(output.Codec, rate);
            if (closest != rate) {
                Log(llWarning, "Requested sampling rate unsupported using closest supported (%d)", closest);
                rate = closest;
            }
        }
        encoder->sample_rate = rate;
        encoder->time_base = AVRational{1, rate};
    }
    SetLanguage(output.Stream, state_.AudioLanguage);
    state_.AudioDisable = false;
    state_.AudioCodecName.clear();
    state_.AudioStreamCopy = false;
}

void Transcoder::AddSubtitleStream(AVFormatContext* context, int fileIndex) {
    OutputStream& output = AddStreamCommon(context, fileIndex, AVMEDIA_TYPE_SUBTITLE);
    SetLanguage(output.Stream, state_.SubtitleLanguage);
    state_.SubtitleDisable = false;
    state_.SubtitleCodecName.clear();
    state_.SubtitleStreamCopy = false;
}

}  // namespace kavel
