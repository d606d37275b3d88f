#include "engine/AudioResampler.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "engine/ErrorText.h"
#include "engine/FFmpegException.h"

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace kavel {

namespace {

template <typename Sample>
void ScaleInteger(Sample* samples, int count, int volume, int64_t low, int64_t high, int64_t bias) {
    for (int i = 0; i < count; ++i) {
        const int64_t centred = static_cast<int64_t>(samples[i]) - bias;
        const int64_t scaled = (centred * volume + 128) >> 8;
        samples[i] = static_cast<Sample>(std::clamp(scaled, low, high) + bias);
    }
}

template <typename Sample>
void ScaleFloat(Sample* samples, int count, int volume) {
    const Sample factor = static_cast<Sample>(volume) / 256;
    for (int i = 0; i < count; ++i) {
        samples[i] = std::clamp(samples[i] * factor, Sample(-1), Sample(1));
    }
}

}  // namespace

bool ApplyVolume(AVFrame& frame, int volume) {
    if (volume == 256) {
        return true;
    }
    if (av_frame_make_writable(&frame) < 0) {
        return false;
    }
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const int channels = frame.ch_layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(format);
    const int planes = planar ? channels : 1;
    const int count = planar ? frame.nb_samples : frame.nb_samples * channels;
    for (int plane = 0; plane < planes; ++plane) {
        uint8_t* data = frame.extended_data[plane];
        switch (av_get_packed_sample_fmt(format)) {
            case AV_SAMPLE_FMT_U8:
                ScaleInteger(data, count, volume, -128, 127, 128);
                break;
            case AV_SAMPLE_FMT_S16:
                ScaleInteger(reinterpret_cast<int16_t*>(data), count, volume, INT16_MIN, INT16_MAX, 0);
                break;
            case AV_SAMPLE_FMT_S32:
                ScaleInteger(reinterpret_cast<int32_t*>(data), count, volume, INT32_MIN, INT32_MAX, 0);
                break;
            case AV_SAMPLE_FMT_FLT:
                ScaleFloat(reinterpret_cast<float*>(data), count, volume);
                break;
            case AV_SAMPLE_FMT_DBL:
                ScaleFloat(reinterpret_cast<double*>(data), count, volume);
                break;
            default:
                break;  // 64-bit integer samples are left alone
        }
    }
    return true;
}

void AudioResampler::SwrFree::operator()(SwrContext* context) const { swr_free(&context); }

AudioResampler::AudioResampler() = default;

AudioResampler::~AudioResampler() {
    if (buffer_) {
        av_freep(&buffer_[0]);
        av_freep(&buffer_);
    }
    av_channel_layout_uninit(&outputLayout_);
}

void AudioResampler::Open(const AudioFormat& input, const AudioFormat& output) {
    SwrContext* raw = nullptr;
    // This libswresample takes the layouts through non-const pointers but only reads them.
    int result = swr_alloc_set_opts2(&raw, const_cast<AVChannelLayout*>(&output.Layout),
                                     output.SampleFormat, output.SampleRate,
                                     const_cast<AVChannelLayout*>(&input.Layout),
                                     input.SampleFormat, input.SampleRate, 0, nullptr);
    context_.reset(raw);
    if (result >= 0) {
        // Windowed-sinc filter of 16 taps and 10 phase bits, no linear interpolation, cut-off 0.8.
        av_opt_set_int(raw, "filter_size", 16, 0);
        av_opt_set_int(raw, "phase_shift", 10, 0);
        av_opt_set_int(raw, "linear_interp", 0, 0);
        av_opt_set_double(raw, "cutoff", 0.8, 0);
        result = swr_init(raw);
    }
    if (result < 0) {
        context_.reset();
        char text[160];
        std::snprintf(text, sizeof text, "Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                      input.Layout.nb_channels, input.SampleRate, output.Layout.nb_channels,
                      output.SampleRate);
        throw FFmpegException(text);
    }
    av_channel_layout_uninit(&outputLayout_);
    av_channel_layout_copy(&outputLayout_, &output.Layout);
    output_ = output;
    output_.Layout = outputLayout_;
    inputRate_ = input.SampleRate;
}

int AudioResampler::Convert(const uint8_t* const* input, int count, AVAudioFifo* fifo, int skipOutput) {
    const int bound = swr_get_out_samples(context_.get(), count);
    if (bound < 0) {
        throw FFmpegException(kavel::ErrorText("av_audio_convert() failed", bound));
    }
    // Drift compensation may stretch a block a little beyond the plain bound.
    const int capacity = bound + bound / 8 + 256;
    if (capacity > bufferSamples_) {
        if (buffer_) {
            av_freep(&buffer_[0]);
            av_freep(&buffer_);
        }
        bufferSamples_ = 0;
        if (av_samples_alloc_array_and_samples(&buffer_, nullptr, output_.Layout.nb_channels,
                                               capacity, output_.SampleFormat, 0) < 0) {
            throw FFmpegException("Out of memory in do_audio_out");
        }
        bufferSamples_ = capacity;
    }
    const int converted = swr_convert(context_.get(), buffer_, bufferSamples_,
                                      const_cast<const uint8_t**>(input), count);
    if (converted < 0) {
        throw FFmpegException(kavel::ErrorText("av_audio_convert() failed", converted));
    }
    const int skip = std::min(skipOutput, converted);
    if (converted - skip <= 0) {
        return 0;
    }
    uint8_t* planes[AV_NUM_DATA_POINTERS * 8];
    const int planeCount = av_sample_fmt_is_planar(output_.SampleFormat) ? output_.Layout.nb_channels : 1;
    const int offset = skip * av_get_bytes_per_sample(output_.SampleFormat) *
                       (planeCount == 1 ? output_.Layout.nb_channels : 1);
    for (int i = 0; i < planeCount && i < static_cast<int>(std::size(planes)); ++i) {
        planes[i] = buffer_[i] + offset;
    }
    if (av_audio_fifo_write(fifo, reinterpret_cast<void**>(planes), converted - skip) < converted - skip) {
        throw FFmpegException("av_fifo_realloc2() failed");
    }
    return converted - skip;
}

void AudioResampler::Compensate(int delta, int distance) {
    swr_set_compensation(context_.get(), delta, distance);
}

}  // namespace kavel
