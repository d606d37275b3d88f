#include <cmath>

#include "engine/CodecNames.h"
#include "engine/EngineLogger.h"
#include "engine/ErrorText.h"
#include "engine/FFmpegException.h"
#include "engine/FileNames.h"
#include "engine/LibraryLock.h"
#include "engine/Transcoder.h"
#include "engine/TranscoderHelpers.h"
#include "engine/TranscoderStreams.h"

extern "C" {
#include <libavutil/dict.h>
#include <libavutil/pixdesc.h>
}

namespace kavel {

namespace {

struct DictionaryFree {
    void operator()(AVDictionary* dictionary) const { av_dict_free(&dictionary); }
};

// The format parameters of the option state, for demuxers of raw data and capture devices.
AVDictionary* FormatParameters(const TranscoderState& state) {
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "sample_rate", state.AudioSampleRate, 0);
    av_dict_set_int(&options, "channels", state.AudioChannels, 0);
    if (state.FrameRate.num > 0 && state.FrameRate.den > 0) {
        av_dict_set(&options, "framerate",
                    FormatText("%d/%d", state.FrameRate.num, state.FrameRate.den).c_str(), 0);
    }
    if (state.FrameWidth > 0 && state.FrameHeight > 0) {
        av_dict_set(&options, "video_size",
                    FormatText("%dx%d", state.FrameWidth, state.FrameHeight).c_str(), 0);
    }
    if (state.FramePixelFormat != AV_PIX_FMT_NONE) {
        av_dict_set(&options, "pixel_format", av_get_pix_fmt_name(state.FramePixelFormat), 0);
    }
    if (state.VideoChannel) {
        av_dict_set_int(&options, "channel", state.VideoChannel, 0);
    }
    if (!state.VideoStandard.empty()) {
        av_dict_set(&options, "standard", state.VideoStandard.c_str(), 0);
    }
    if (state.LoopInput) {
        av_dict_set_int(&options, "loop", 1, 0);
    }
    for (const auto& [name, value] : state.Generic.Format) {
        av_dict_set(&options, name.c_str(), value.c_str(), 0);
    }
    return options;
}

const AVCodec* ForcedDecoder(const TranscoderState& state, AVMediaType kind) {
    const std::string& name = kind == AVMEDIA_TYPE_VIDEO   ? state.VideoCodecName
                              : kind == AVMEDIA_TYPE_AUDIO ? state.AudioCodecName
                                                           : state.SubtitleCodecName;
    if (name.empty()) {
        return nullptr;
    }
    return LookupCodec(name, kind, false, Strictness(state, kind));
}

}  // namespace

bool Transcoder::OpenInputFile(const std::string& fileName) {
    errorText_.clear();
    try {
        OpenInput(fileName);
        return true;
    } catch (const std::exception& error) {
        errorText_ = error.what();
        return false;
    }
}

void Transcoder::OpenInput(const std::string& fileName) {
    if (static_cast<int>(state_.InputFiles.size()) >= MaxInputFiles) {
        throw FFmpegException(FormatText("max input files %d reached", MaxInputFiles));
    }
    const AVInputFormat* format = nullptr;
    if (!state_.ForcedFormat.empty()) {
        format = av_find_input_format(state_.ForcedFormat.c_str());
        if (!format) {
            throw FFmpegException(FormatText("Unknown input format: \"%s\"", state_.ForcedFormat.c_str()));
        }
        state_.ForcedFormat.clear();
    }

    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) {
        throw FFmpegException("avformat_alloc_context failed");
    }
    std::unique_ptr<AVDictionary, DictionaryFree> options(FormatParameters(state_));

    // Forced decoders; a failing lookup ends the open with its own text.
    const AVCodec* forcedVideo = nullptr;
    const AVCodec* forcedAudio = nullptr;
    const AVCodec* forcedSubtitle = nullptr;
    try {
        forcedVideo = ForcedDecoder(state_, AVMEDIA_TYPE_VIDEO);
        forcedAudio = ForcedDecoder(state_, AVMEDIA_TYPE_AUDIO);
        forcedSubtitle = ForcedDecoder(state_, AVMEDIA_TYPE_SUBTITLE);
    } catch (...) {
        avformat_free_context(raw);
        throw;
    }
    if (forcedVideo) {
        raw->video_codec_id = forcedVideo->id;
        raw->video_codec = forcedVideo;
    }
    if (forcedAudio) {
        raw->audio_codec_id = forcedAudio->id;
        raw->audio_codec = forcedAudio;
    }
    if (forcedSubtitle) {
        raw->subtitle_codec_id = forcedSubtitle->id;
        raw->subtitle_codec = forcedSubtitle;
    }

    AVDictionary* rawOptions = options.release();
    const int opened = OpenInputFormat(&raw, fileName, format, &rawOptions);
    options.reset(rawOptions);
    if (opened < 0) {
        throw FFmpegException(kavel::ErrorText(fileName, opened));
    }
    InputFormatPtr context(raw);

    if (state_.ProgramId) {
        bool found = false;
        for (unsigned i = 0; i < context->nb_streams; ++i) {
            context->streams[i]->discard = AVDISCARD_ALL;
        }
        for (unsigned p = 0; p < context->nb_programs; ++p) {
            AVProgram* program = context->programs[p];
            if (program->id != state_.ProgramId) {
                continue;
            }
            found = true;
            for (unsigned s = 0; s < program->nb_stream_indexes; ++s) {
                context->streams[program->stream_index[s]]->discard = AVDISCARD_DEFAULT;
            }
        }
        if (!found) {
            throw FFmpegException("Specified program id not found");
        }
        state_.ProgramId = 0;
    }

    {
        LibraryLock lock;
        const int found = avformat_find_stream_info(context.get(), nullptr);
        if (found < 0) {
            const std::string text = FormatText("%s: could not find codec parameters", fileName.c_str());
            if (state_.Verbose >= 0) {
                LogText(llVerbose, text);
            }
            throw FFmpegException(text);
        }
    }

    auto run = std::make_unique<InputFileRun>();
    if (state_.StartTime != 0) {
        int64_t target = state_.StartTime;
        if (context->start_time != AV_NOPTS_VALUE) {
            target += context->start_time;
        }
        const int sought = av_seek_frame(context.get(), -1, target, AVSEEK_FLAG_BACKWARD);
        if (sought < 0 && state_.Verbose > 0) {
            Log(llVerbose, "%s: could not seek to position %0.3f", fileName.c_str(),
                static_cast<double>(target) / AV_TIME_BASE);
        }
        run->Seeked = true;
    }
    const int64_t inputStart = state_.StartTime;
    state_.StartTime = 0;

    const int fileIndex = static_cast<int>(state_.InputFiles.size());
    const int firstStream = static_cast<int>(inputStreams_.size());
    std::vector<std::unique_ptr<InputStream>> streams;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        AVStream* stream = context->streams[i];
        AVCodecParameters* parameters = stream->codecpar;
        if (parameters->codec_type < AVMEDIA_TYPE_VIDEO || parameters->codec_type > AVMEDIA_TYPE_ATTACHMENT) {
            throw FFmpegException("invalid codec_type");
        }
        auto input = std::make_unique<InputStream>();
        input->FileIndex = fileIndex;
        input->StreamIndex = static_cast<int>(i);
        input->Stream = stream;

        const AVCodec* decoder = parameters->codec_type == AVMEDIA_TYPE_VIDEO   ? forcedVideo
                                 : parameters->codec_type == AVMEDIA_TYPE_AUDIO ? forcedAudio
                                 : parameters->codec_type == AVMEDIA_TYPE_SUBTITLE ? forcedSubtitle
                                                                                   : nullptr;
        if (!decoder) {
            decoder = avcodec_find_decoder(parameters->codec_id);
        }
        input->DecoderCodec = decoder;
        input->Decoder.reset(avcodec_alloc_context3(decoder));
        if (!input->Decoder) {
            throw FFmpegException("Not enough memory");
        }
        avcodec_parameters_to_context(input->Decoder.get(), parameters);
        input->Decoder->pkt_timebase = stream->time_base;
        input->Decoder->thread_count = threadCount_;
        ApplyOptions(input->Decoder.get(), CodecOptions(state_, parameters->codec_type));

        switch (parameters->codec_type) {
            case AVMEDIA_TYPE_VIDEO: {
                const int lowres = input->Decoder->lowres;
                state_.FrameWidth = parameters->width >> lowres;
                state_.FrameHeight = parameters->height >> lowres;
                AVRational aspect = stream->sample_aspect_ratio.num ? stream->sample_aspect_ratio
                                                                    : parameters->sample_aspect_ratio;
                if (aspect.num > 0 && aspect.den > 0 && parameters->height > 0) {
                    state_.FrameAspectRatio = av_q2d(aspect) * parameters->width / parameters->height;
                } else if (parameters->height > 0 && parameters->width > 0) {
                    state_.FrameAspectRatio = static_cast<double>(parameters->width) / parameters->height;
                } else {
                    state_.FrameAspectRatio = 4.0 / 3.0;
                }
                state_.FramePixelFormat =
                    parameters->format < 0 ? static_cast<AVPixelFormat>(0)
                                           : static_cast<AVPixelFormat>(parameters->format);
                AVRational real = stream->r_frame_rate;
                const AVRational average = stream->avg_frame_rate;
                if (real.num <= 0 || real.den <= 0) {
                    real = average;
                }
                // Timestamp ticks (1000 or 90000 per second) are no picture rate; the average
                // is then the better guess.
                if (real.num > 0 && real.den > 0 && av_q2d(real) > 240 && average.num > 0 && average.den > 0 &&
                    av_q2d(average) <= 240) {
                    real = average;
                }
                if (average.num > 0 && average.den > 0 && real.num > 0 && av_cmp_q(average, real) != 0 &&
                    state_.Verbose >= 0) {
                    Log(llInfo,
                        "Seems stream %d codec frame rate differs from container frame rate: %2.2f "
                        "(%d/%d) -> %2.2f (%d/%d)",
                        static_cast<int>(i), av_q2d(average), average.num, average.den, av_q2d(real),
                        real.num, real.den);
                }
                if (real.num > 0 && real.den > 0) {
                    state_.FrameRate = real;
                }
                if (state_.VideoDisable) {
                    stream->discard = AVDISCARD_ALL;
                } else if (state_.VideoDiscard) {
                    stream->discard = static_cast<AVDiscard>(state_.VideoDiscard);
                }
                break;
            }
            case AVMEDIA_TYPE_AUDIO:
                state_.AudioSampleRate = parameters->sample_rate;
                state_.AudioChannels = parameters->ch_layout.nb_channels;
                state_.AudioSampleFormat = static_cast<AVSampleFormat>(parameters->format);
                av_channel_layout_uninit(&inputChannelLayout_);
                av_channel_layout_copy(&inputChannelLayout_, &parameters->ch_layout);
                if (state_.AudioDisable) {
                    stream->discard = AVDISCARD_ALL;
                }
                break;
            case AVMEDIA_TYPE_SUBTITLE:
                if (state_.SubtitleDisable) {
                    stream->discard = AVDISCARD_ALL;
                }
                break;
            default:
                break;
        }
        streams.push_back(std::move(input));
    }

    if (context->duration != AV_NOPTS_VALUE && context->duration > totalDuration_) {
        totalDuration_ = context->duration;
    }

    InputFile file;
    file.FirstStreamIndex = firstStream;
    file.StreamCount = static_cast<int>(context->nb_streams);
    const int64_t fileStart = context->start_time == AV_NOPTS_VALUE ? 0 : context->start_time;
    file.TimestampOffset = state_.InputTimestampOffset - (state_.CopyTimestamps ? 0 : inputStart + fileStart);
    file.TimestampScales = state_.InputTimestampScales[fileIndex];

    if (state_.Verbose >= 0) {
        av_dump_format(context.get(), fileIndex, fileName.c_str(), 0);
    }
    state_.VideoChannel = 0;
    state_.VideoCodecName.clear();
    state_.AudioCodecName.clear();
    state_.SubtitleCodecName.clear();

    file.Context = std::move(context);
    state_.InputFiles.push_back(std::move(file));
    inputRuns_.push_back(std::move(run));
    for (auto& stream : streams) {
        inputStreams_.push_back(std::move(stream));
    }
}

}  // namespace kavel
