#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "engine/EngineLogger.h"
#include "engine/ErrorText.h"
#include "engine/FFmpegException.h"
#include "engine/TranscoderHelpers.h"
#include "engine/TranscoderRun.h"

extern "C" {
#include <libavutil/intreadwrite.h>
}

namespace kavel {

namespace {

int64_t ToMicroseconds(int64_t value, AVRational base) {
    return value == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : av_rescale_q(value, base, AV_TIME_BASE_Q);
}

// Frame limit index of a media kind (video, audio, data), or -1 when the kind has none.
int LimitIndex(AVMediaType kind) {
    return kind == AVMEDIA_TYPE_VIDEO || kind == AVMEDIA_TYPE_AUDIO || kind == AVMEDIA_TYPE_DATA ? kind : -1;
}

}  // namespace

bool TranscoderRun::CheckStop() {
    if (owner_.checkpoint_ && owner_.checkpoint_()) {
        owner_.stopRequested_ = true;
    }
    return owner_.stopRequested_;
}

int TranscoderRun::ChooseInput(bool& limitReached) {
    double smallestOutput = 1e100;
    double smallestInput = 1e100;
    int chosen = -1;
    for (const auto& output : outputs_) {
        const InputStream& input = *inputs_[output->SourceIndex];
        const int limit = LimitIndex(output->Kind);
        if (limit >= 0 && output->FrameNumber >= state_.MaxFrames[limit]) {
            limitReached = true;
            return -1;
        }
        const InputFile& file = state_.InputFiles[input.FileIndex];
        if (input.PastRecordingTime || owner_.inputRuns_[input.FileIndex]->NoPacket || file.EndOfFile) {
            continue;
        }
        const double outputTime = output->MuxedTime;
        const double inputTime = input.Pts == AV_NOPTS_VALUE ? 0.0 : static_cast<double>(input.Pts);
        if (state_.InputSync ? inputTime < smallestInput : outputTime < smallestOutput) {
            smallestInput = inputTime;
            smallestOutput = outputTime;
            chosen = input.FileIndex;
        }
    }
    return chosen;
}

bool TranscoderRun::SizeLimitReached() const {
    if (state_.FileSizeLimit <= 0 || state_.OutputFiles.empty()) {
        return false;
    }
    AVIOContext* io = state_.OutputFiles[0].Get()->pb;
    return io && avio_tell(io) >= state_.FileSizeLimit;
}

void TranscoderRun::MainLoop() {
    while (!CheckStop()) {
        bool limitReached = false;
        const int fileIndex = ChooseInput(limitReached);
        if (limitReached) {
            break;
        }
        if (fileIndex < 0) {
            bool anyNoPacket = false;
            for (auto& run : owner_.inputRuns_) {
                anyNoPacket = anyNoPacket || run->NoPacket;
                run->NoPacket = false;
            }
            if (!anyNoPacket) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        if (SizeLimitReached()) {
            break;
        }
        InputFile& file = state_.InputFiles[fileIndex];
        AVPacket* packet = packet_.get();
        const int read = av_read_frame(file.Context.get(), packet);
        if (read == AVERROR(EAGAIN)) {
            owner_.inputRuns_[fileIndex]->NoPacket = true;
            continue;
        }
        if (read < 0) {
            file.EndOfFile = true;
            if (state_.Shortest) {
                break;
            }
            continue;
        }
        for (auto& run : owner_.inputRuns_) {
            run->NoPacket = false;
        }
        if (state_.PacketDump) {
            av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, packet, state_.HexDump,
                             file.Context->streams[packet->stream_index]);
        }
        if (packet->stream_index >= file.StreamCount) {
            av_packet_unref(packet);
            continue;
        }
        InputStream& input = *inputs_[file.FirstStreamIndex + packet->stream_index];
        if (input.Discard || input.PastRecordingTime) {
            av_packet_unref(packet);
            continue;
        }
        ApplyTimestampOffset(file, input, packet);

        if (state_.RecordingTime != INT64_MAX) {
            const int64_t time = ToMicroseconds(packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts,
                                                input.Stream->time_base);
            if (time != AV_NOPTS_VALUE && time >= state_.StartTime + state_.RecordingTime) {
                input.PastRecordingTime = true;
                av_packet_unref(packet);
                continue;
            }
        }

        if (!ProcessPacket(input, packet)) {
            const std::string text = FormatText("Error while decoding stream #%d.%d (%s)", input.FileIndex,
                                                input.StreamIndex,
                                                MediaTypeName(input.Stream->codecpar->codec_type).c_str());
            av_packet_unref(packet);
            if (state_.ExitOnError) {
                throw FFmpegException(text);
            }
            if (state_.Verbose >= 0) {
                LogText(llVerbose, text);
            }
            continue;
        }
        av_packet_unref(packet);

        if (WallClock() - lastReport_ >= owner_.progressInterval_) {
            Report(false, fileIndex);
        }
    }
}

void TranscoderRun::ApplyTimestampOffset(InputFile& file, InputStream& input, AVPacket* packet) {
    const AVRational base = input.Stream->time_base;
    const int64_t offset = av_rescale_q(file.TimestampOffset, AV_TIME_BASE_Q, base);
    if (packet->dts != AV_NOPTS_VALUE) {
        packet->dts += offset;
    }
    if (packet->pts != AV_NOPTS_VALUE) {
        packet->pts += offset;
    }
    const double scale = input.StreamIndex < MaxStreams ? file.TimestampScales[input.StreamIndex] : 0.0;
    if (scale > 0) {
        if (packet->dts != AV_NOPTS_VALUE) {
            packet->dts = static_cast<int64_t>(packet->dts * scale);
        }
        if (packet->pts != AV_NOPTS_VALUE) {
            packet->pts = static_cast<int64_t>(packet->pts * scale);
        }
    }

    // Formats whose timestamps may jump (transport streams and the like) are made continuous.
    if (packet->dts == AV_NOPTS_VALUE || input.NextPts == AV_NOPTS_VALUE || state_.CopyTimestamps ||
        !(file.Context->iformat->flags & AVFMT_TS_DISCONT)) {
        return;
    }
    const int64_t dts = ToMicroseconds(packet->dts, base);
    const int64_t delta = dts - input.NextPts;
    const int64_t tick = av_rescale_q(1, base, AV_TIME_BASE_Q);
    if (std::llabs(delta) > static_cast<int64_t>(state_.DtsDeltaThreshold * AV_TIME_BASE) ||
        (input.Pts != AV_NOPTS_VALUE && dts + tick < input.Pts)) {
        file.TimestampOffset -= delta;
        const int64_t shift = av_rescale_q(delta, AV_TIME_BASE_Q, base);
        packet->dts -= shift;
        if (packet->pts != AV_NOPTS_VALUE) {
            packet->pts -= shift;
        }
        if (state_.Verbose >= 3) {
            Log(llVerbose, "timestamp discontinuity %d, new offset= %d", static_cast<int>(delta),
                static_cast<int>(file.TimestampOffset));
        }
    }
}

bool TranscoderRun::BeforeStart(const InputStream& input, int64_t duration) const {
    const bool seeked = owner_.inputRuns_[input.FileIndex]->Seeked;
    if (state_.StartTime == 0 && !seeked) {
        return false;
    }
    // A picture counts from the start when most of it lies at or after it.
    return input.Pts + duration / 2 < state_.StartTime;
}

void TranscoderRun::PaceToInput(const InputStream& input) {
    if (!state_.ReadAtNativeRate || input.Pts == AV_NOPTS_VALUE) {
        return;
    }
    const int64_t ahead = input.Pts - state_.StartTime - (WallClock() - input.Start);
    if (ahead > 1000) {
        std::this_thread::sleep_for(std::chrono::microseconds(ahead));
    }
}

bool TranscoderRun::ProcessPacket(InputStream& input, const AVPacket* packet) {
    const AVRational base = input.Stream->time_base;
    if (input.NextPts == AV_NOPTS_VALUE) {
        input.NextPts = packet && packet->dts != AV_NOPTS_VALUE ? ToMicroseconds(packet->dts, base)
                        : input.Pts != AV_NOPTS_VALUE          ? input.Pts
                                                                : 0;
    }
    if (packet && packet->pts != AV_NOPTS_VALUE) {
        input.Pts = ToMicroseconds(packet->pts, base);
    }

    if (!input.DecodingNeeded) {
        if (!packet) {
            return true;
        }
        if (input.Pts == AV_NOPTS_VALUE || packet->pts == AV_NOPTS_VALUE) {
            input.Pts = input.NextPts;
        }
        int64_t duration = packet->duration > 0 ? ToMicroseconds(packet->duration, base) : 0;
        if (duration == 0 && input.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            input.Stream->avg_frame_rate.num > 0) {
            duration = static_cast<int64_t>(AV_TIME_BASE / av_q2d(input.Stream->avg_frame_rate));
        }
        input.NextPts = input.Pts + duration;
        PaceToInput(input);
        if (BeforeStart(input, duration)) {
            return true;
        }
        for (auto& output : outputs_) {
            if (inputs_[output->SourceIndex].get() == &input && output->StreamCopy) {
                CopyPacket(*output, input, packet);
            }
        }
        return true;
    }

    if (input.Stream->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE) {
        return DecodeSubtitle(input, packet);
    }
    // Send/receive: every frame the packet completes is taken at once. A decoder that is full
    // answers EAGAIN to the packet; it is drained and takes the packet then. A null packet
    // drains it for good.
    AVCodecContext* decoder = input.Decoder.get();
    int sent = avcodec_send_packet(decoder, packet);
    if (sent == AVERROR_EOF) {
        sent = 0;
    }
    bool ok = sent >= 0;
    while (true) {
        const int received = avcodec_receive_frame(decoder, decoded_.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) {
            break;
        }
        if (received < 0) {
            ok = false;
            break;
        }
        HandleDecodedFrame(input, decoded_.get());
        av_frame_unref(decoded_.get());
    }
    if (sent == AVERROR(EAGAIN)) {
        // The decoder was full; it has been drained above, so it takes the packet now.
        ok = avcodec_send_packet(decoder, packet) >= 0;
        while (ok && avcodec_receive_frame(decoder, decoded_.get()) >= 0) {
            HandleDecodedFrame(input, decoded_.get());
            av_frame_unref(decoded_.get());
        }
    }
    if (!packet) {
        input.Flushed = true;
    }
    return ok;
}

void TranscoderRun::HandleDecodedFrame(InputStream& input, AVFrame* frame) {
    const AVRational base = input.Stream->time_base;
    const AVMediaType kind = input.Stream->codecpar->codec_type;
    const int64_t timestamp = frame->best_effort_timestamp;
    input.Pts = timestamp != AV_NOPTS_VALUE ? ToMicroseconds(timestamp, base) : input.NextPts;

    int64_t duration = 0;
    if (kind == AVMEDIA_TYPE_AUDIO) {
        if (frame->sample_rate > 0) {
            duration = static_cast<int64_t>(frame->nb_samples) * AV_TIME_BASE / frame->sample_rate;
        }
    } else if (frame->pkt_duration > 0) {
        duration = ToMicroseconds(frame->pkt_duration, base);
    } else {
        AVRational rate = input.Decoder->framerate;
        if (rate.num <= 0 || rate.den <= 0) {
            rate = input.Stream->avg_frame_rate;
        }
        if (rate.num <= 0 || rate.den <= 0) {
            rate = input.Stream->r_frame_rate;
        }
        if (rate.num > 0 && rate.den > 0) {
            duration = av_rescale_q(2 + frame->repeat_pict, av_inv_q(rate), AVRational{1, 2 * AV_TIME_BASE});
        }
    }
    input.NextPts = input.Pts + duration;

    if (kind == AVMEDIA_TYPE_VIDEO) {
        PreProcess(input, frame);
    } else if (kind == AVMEDIA_TYPE_AUDIO && state_.AudioVolume != 256) {
        ApplyVolume(*frame, state_.AudioVolume);
    }
    PaceToInput(input);
    if (BeforeStart(input, duration)) {
        return;
    }
    for (auto& output : outputs_) {
        if (inputs_[output->SourceIndex].get() != &input || output->StreamCopy) {
            continue;
        }
        if (kind == AVMEDIA_TYPE_VIDEO) {
            VideoOut(*output, input, frame);
        } else if (kind == AVMEDIA_TYPE_AUDIO) {
            AudioOut(*output, input, frame);
        }
    }
}

void TranscoderRun::CopyPacket(OutputStream& output, InputStream& input, const AVPacket* packet) {
    if (!output.CopyStarted && !(packet->flags & AV_PKT_FLAG_KEY) && !state_.CopyInitialNonKeyFrames &&
        output.FrameNumber == 0) {
        return;
    }
    output.CopyStarted = true;
    AVPacket* copy = output.Packet.get();
    if (av_packet_ref(copy, packet) < 0) {
        throw FFmpegException("Not enough memory");
    }
    const AVRational inBase = input.Stream->time_base;
    const AVRational outBase = output.Stream->time_base;
    const int64_t startOffset = av_rescale_q(state_.StartTime, AV_TIME_BASE_Q, outBase);
    copy->pts = packet->pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : av_rescale_q(packet->pts, inBase, outBase) - startOffset;
    copy->dts = packet->dts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : av_rescale_q(packet->dts, inBase, outBase) - startOffset;
    copy->duration = av_rescale_q(packet->duration, inBase, outBase);
    copy->time_base = outBase;
    if (output.Kind == AVMEDIA_TYPE_VIDEO) {
        videoSize_ += copy->size;
    } else if (output.Kind == AVMEDIA_TYPE_AUDIO) {
        audioSize_ += copy->size;
    }
    output.FrameNumber++;
    WritePacket(output, copy);
}

void TranscoderRun::WritePacket(OutputStream& output, AVPacket* packet) {
    AVFormatContext* context = state_.OutputFiles[output.FileIndex].Get();
    packet->stream_index = output.Stream->index;
    if (output.EncodingNeeded) {
        av_packet_rescale_ts(packet, output.Encoder->time_base, output.Stream->time_base);
    }
    const int64_t last = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (last != AV_NOPTS_VALUE) {
        const double end = (last + std::max<int64_t>(packet->duration, 0)) * av_q2d(output.Stream->time_base);
        output.MuxedTime = std::max(output.MuxedTime, end);
    }
    const int written = av_interleaved_write_frame(context, packet);
    av_packet_unref(packet);
    if (written < 0) {
        throw FFmpegException(kavel::ErrorText("av_interleaved_write_frame()", written));
    }
}

void TranscoderRun::EncodeFrame(OutputStream& output, const AVFrame* frame) {
    AVCodecContext* encoder = output.Encoder.get();
    const int sent = avcodec_send_frame(encoder, frame);
    if (sent < 0 && sent != AVERROR_EOF) {
        throw FFmpegException(output.Kind == AVMEDIA_TYPE_VIDEO ? "Video encoding failed" : "Audio encoding failed");
    }
    AVPacket* packet = output.Packet.get();
    while (true) {
        const int received = avcodec_receive_packet(encoder, packet);
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) {
            break;
        }
        if (received < 0) {
            throw FFmpegException(output.Kind == AVMEDIA_TYPE_VIDEO ? "Video encoding failed"
                                                                    : "Audio encoding failed");
        }
        if (output.Kind == AVMEDIA_TYPE_VIDEO) {
            videoSize_ += packet->size;
            size_t size = 0;
            const uint8_t* stats = av_packet_get_side_data(packet, AV_PKT_DATA_QUALITY_STATS, &size);
            if (stats && size >= 4) {
                output.Quality = static_cast<int>(AV_RL32(stats));
            }
        } else {
            audioSize_ += packet->size;
        }
        WritePacket(output, packet);
    }
}

bool TranscoderRun::DecodeSubtitle(InputStream& input, const AVPacket* packet) {
    if (!packet) {
        input.Flushed = true;
        return true;
    }
    AVSubtitle subtitle{};
    int got = 0;
    if (avcodec_decode_subtitle2(input.Decoder.get(), &subtitle, &got, const_cast<AVPacket*>(packet)) < 0) {
        return false;
    }
    if (!got) {
        return true;
    }
    struct SubtitleFree {
        AVSubtitle* Subtitle;
        ~SubtitleFree() { avsubtitle_free(Subtitle); }
    } release{&subtitle};
    if (subtitle.pts != AV_NOPTS_VALUE) {
        input.Pts = subtitle.pts;
    }
    const int64_t shown = static_cast<int64_t>(subtitle.end_display_time - subtitle.start_display_time) * 1000;
    if (BeforeStart(input, shown)) {
        return true;
    }
    // Encoders take the display start as the subtitle's time.
    if (subtitle.pts != AV_NOPTS_VALUE) {
        subtitle.pts += static_cast<int64_t>(subtitle.start_display_time) * 1000;
    }
    subtitle.end_display_time -= subtitle.start_display_time;
    subtitle.start_display_time = 0;
    for (auto& output : outputs_) {
        if (inputs_[output->SourceIndex].get() == &input && output->EncodingNeeded) {
            SubtitleOut(*output, subtitle);
        }
    }
    return true;
}

void TranscoderRun::SubtitleOut(OutputStream& output, const AVSubtitle& subtitle) {
    if (subtitle.pts == AV_NOPTS_VALUE) {
        if (state_.ExitOnError) {
            throw FFmpegException("Subtitle packets must have a pts");
        }
        LogText(llError, "Subtitle packets must have a pts");
        return;
    }
    if (subtitleBuffer_.empty()) {
        subtitleBuffer_.resize(1 << 20);
    }
    const int size = avcodec_encode_subtitle(output.Encoder.get(), subtitleBuffer_.data(),
                                             static_cast<int>(subtitleBuffer_.size()), &subtitle);
    if (size < 0) {
        throw FFmpegException("Subtitle encoding failed");
    }
    if (size == 0) {
        return;
    }
    AVPacket* packet = output.Packet.get();
    if (av_new_packet(packet, size) < 0) {
        throw FFmpegException("Not enough memory");
    }
    std::memcpy(packet->data, subtitleBuffer_.data(), size);
    packet->pts = packet->dts = subtitle.pts - state_.StartTime;
    packet->duration = static_cast<int64_t>(subtitle.end_display_time) * 1000;
    packet->flags |= AV_PKT_FLAG_KEY;
    ++output.FrameNumber;
    WritePacket(output, packet);
}

void TranscoderRun::Finish() {
    for (auto& input : inputs_) {
        if (input->DecodingNeeded && !input->Flushed) {
            ProcessPacket(*input, nullptr);
        }
    }
    for (auto& output : outputs_) {
        if (!output->EncodingNeeded) {
            continue;
        }
        if (output->Kind == AVMEDIA_TYPE_VIDEO) {
            FlushFilter(*output);
        } else if (output->Kind == AVMEDIA_TYPE_AUDIO) {
            EncodeAudioFifo(*output, true);
        } else {
            continue;  // subtitle encoders hold nothing back
        }
        EncodeFrame(*output, nullptr);
    }
    for (auto& file : state_.OutputFiles) {
        const int written = av_write_trailer(file.Get());
        if (written < 0) {
            throw FFmpegException(kavel::ErrorText("av_write_trailer()", written));
        }
    }
    Report(true, -1);
}

}  // namespace kavel
