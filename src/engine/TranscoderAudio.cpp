#include <algorithm>
#include <cmath>

#include "engine/EngineLogger.h"
#include "engine/FFmpegException.h"
#include "engine/TranscoderHelpers.h"
#include "engine/TranscoderRun.h"

namespace kavel {

void TranscoderRun::EnsureResampler(OutputStream& output, AVFrame* frame) {
    const AVCodecContext* encoder = output.Encoder.get();
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        // A bare channel count (WAV files and the like) means the usual layout for it.
        const int channels = frame->ch_layout.nb_channels;
        av_channel_layout_uninit(&frame->ch_layout);
        av_channel_layout_default(&frame->ch_layout, channels);
    }
    const auto format = static_cast<AVSampleFormat>(frame->format);
    const bool inputChanged = frame->sample_rate != output.ResampleInRate || format != output.ResampleInFormat ||
                              av_channel_layout_compare(&frame->ch_layout, &output.ResampleInLayout.Layout) != 0;
    if (!inputChanged && (output.Resampler || output.AudioStarted)) {
        return;
    }
    output.ResampleInRate = frame->sample_rate;
    output.ResampleInFormat = format;
    av_channel_layout_uninit(&output.ResampleInLayout.Layout);
    av_channel_layout_copy(&output.ResampleInLayout.Layout, &frame->ch_layout);

    const bool needed = frame->sample_rate != encoder->sample_rate || format != encoder->sample_fmt ||
                        av_channel_layout_compare(&frame->ch_layout, &encoder->ch_layout) != 0 ||
                        state_.AudioSyncMethod > 1;
    if (!needed) {
        output.Resampler.reset();
        return;
    }
    AudioFormat in;
    in.SampleRate = frame->sample_rate;
    in.Layout = frame->ch_layout;
    in.SampleFormat = format;
    AudioFormat out;
    out.SampleRate = encoder->sample_rate;
    out.Layout = encoder->ch_layout;
    out.SampleFormat = encoder->sample_fmt;
    output.Resampler = std::make_unique<AudioResampler>();
    output.Resampler->Open(in, out);
}

void TranscoderRun::AppendSilence(OutputStream& output, int samples) {
    const AVCodecContext* encoder = output.Encoder.get();
    const int channels = encoder->ch_layout.nb_channels;
    const int chunk = 4096;
    struct SampleBuffer {
        uint8_t** Planes = nullptr;
        ~SampleBuffer() {
            if (Planes) {
                av_freep(&Planes[0]);
                av_freep(&Planes);
            }
        }
    } silence;
    if (av_samples_alloc_array_and_samples(&silence.Planes, nullptr, channels, chunk, encoder->sample_fmt, 0) < 0) {
        throw FFmpegException("Out of memory in do_audio_out");
    }
    av_samples_set_silence(silence.Planes, 0, chunk, channels, encoder->sample_fmt);
    // Long gaps are encoded as they are filled, so the FIFO never holds more than a chunk.
    for (int written = 0; written < samples;) {
        const int count = std::min(chunk, samples - written);
        if (av_audio_fifo_write(output.Fifo.get(), reinterpret_cast<void**>(silence.Planes), count) < count) {
            throw FFmpegException("av_fifo_realloc2() failed");
        }
        written += count;
        EncodeAudioFifo(output, false);
    }
}

void TranscoderRun::AudioOut(OutputStream& output, InputStream& input, AVFrame* frame) {
    const AVCodecContext* encoder = output.Encoder.get();
    const int outputRate = encoder->sample_rate;
    EnsureResampler(output, frame);

    const double syncIpts = static_cast<double>(input.Pts - state_.StartTime) / AV_TIME_BASE;
    const int waiting = av_audio_fifo_size(output.Fifo.get());
    int skip = 0;
    if (state_.AudioSyncMethod) {
        const double delta = syncIpts * outputRate - static_cast<double>(output.SyncOpts) - waiting;
        const int blockSamples =
            frame->sample_rate > 0 ? static_cast<int>(static_cast<int64_t>(frame->nb_samples) * outputRate / frame->sample_rate)
                                   : frame->nb_samples;
        if (std::fabs(delta) > 50) {
            if (input.IsStart || std::fabs(delta) > state_.AudioDriftThreshold * outputRate) {
                if (delta < 0) {
                    skip = std::min(static_cast<int>(-delta), blockSamples);
                    if (state_.Verbose > 2) {
                        Log(llVerbose, "discarding %d audio samples", skip);
                    }
                } else {
                    const int silence = static_cast<int>(delta);
                    if (state_.Verbose > 2) {
                        Log(llVerbose, "adding %d audio samples of silence", silence);
                    }
                    AppendSilence(output, silence);
                }
                input.IsStart = false;
            } else if (state_.AudioSyncMethod > 1 && output.Resampler) {
                const int compensation = static_cast<int>(
                    std::clamp(delta, -static_cast<double>(state_.AudioSyncMethod),
                               static_cast<double>(state_.AudioSyncMethod)));
                output.Resampler->Compensate(compensation, outputRate);
                if (state_.Verbose > 2) {
                    Log(llVerbose, "compensating audio timestamp drift:%f compensation:%d in:%d", delta, compensation,
                        frame->nb_samples);
                }
            }
        }
    } else {
        output.SyncOpts = std::llrint(syncIpts * outputRate) - waiting;
        if (!output.AudioStarted && output.SyncOpts < 0) {
            // What lies before the output's start is not written.
            skip = static_cast<int>(-output.SyncOpts);
            output.SyncOpts = 0;
        }
    }
    output.AudioStarted = true;

    if (output.Resampler) {
        output.Resampler->Convert(frame->extended_data, frame->nb_samples, output.Fifo.get(), skip);
    } else if (skip < frame->nb_samples) {
        const int channels = encoder->ch_layout.nb_channels;
        const bool planar = av_sample_fmt_is_planar(encoder->sample_fmt);
        const int bytes = av_get_bytes_per_sample(encoder->sample_fmt);
        std::vector<uint8_t*> planes(planar ? channels : 1);
        for (size_t i = 0; i < planes.size(); ++i) {
            planes[i] = frame->extended_data[i] + static_cast<size_t>(skip) * bytes * (planar ? 1 : channels);
        }
        const int count = frame->nb_samples - skip;
        if (av_audio_fifo_write(output.Fifo.get(), reinterpret_cast<void**>(planes.data()), count) < count) {
            throw FFmpegException("av_fifo_realloc2() failed");
        }
    }
    EncodeAudioFifo(output, false);
}

void TranscoderRun::EncodeAudioFifo(OutputStream& output, bool flush) {
    AVCodecContext* encoder = output.Encoder.get();
    AVAudioFifo* fifo = output.Fifo.get();
    if (flush && output.Resampler) {
        output.Resampler->Convert(nullptr, 0, fifo);
    }
    const bool variable = encoder->frame_size <= 0 ||
                          (encoder->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
    const bool smallLast = encoder->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME;
    AVFrame* frame = output.AudioFrame.get();
    while (true) {
        const int available = av_audio_fifo_size(fifo);
        if (available <= 0) {
            break;
        }
        int samples = variable ? available : encoder->frame_size;
        if (available < samples) {
            if (!flush) {
                break;
            }
            if (smallLast) {
                samples = available;
            }
        }
        if (state_.MaxFrames[AVMEDIA_TYPE_AUDIO] <= output.FrameNumber) {
            av_audio_fifo_drain(fifo, available);
            break;
        }
        av_frame_unref(frame);
        frame->nb_samples = samples;
        frame->format = encoder->sample_fmt;
        frame->sample_rate = encoder->sample_rate;
        av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout);
        if (av_frame_get_buffer(frame, 0) < 0) {
            throw FFmpegException("Out of memory in do_audio_out");
        }
        const int taken = av_audio_fifo_read(fifo, reinterpret_cast<void**>(frame->extended_data),
                                             std::min(samples, available));
        if (taken < samples) {
            // The encoder takes whole frames only: the end of the last one is silence.
            av_samples_set_silence(frame->extended_data, taken, samples - taken, encoder->ch_layout.nb_channels,
                                   encoder->sample_fmt);
        }
        output.SyncOpts = std::max(output.SyncOpts, output.NextAudioPts);
        frame->pts = output.SyncOpts;
        EncodeFrame(output, frame);
        output.SyncOpts += samples;
        output.NextAudioPts = output.SyncOpts;
        ++output.FrameNumber;
    }
}

}  // namespace kavel
