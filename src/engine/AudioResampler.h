#pragma once

// The audio path between a decoder and an encoder: volume, sample-rate, channel-layout and
// sample-format conversion with drift compensation, and the FIFO that cuts encoder frames.

#include <memory>

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
}

struct SwrContext;

namespace kavel {

// Scales every sample of a decoded frame by volume / 256 and clips it to the format's range;
// 16-bit samples are rounded as (s * volume + 128) >> 8. The frame is made writable first.
// Returns False when the frame could not be made writable (it is then unchanged).
bool ApplyVolume(AVFrame& frame, int volume);

struct AudioFormat {
    int SampleRate = 0;
    AVChannelLayout Layout{};  // owned by the caller; copied by AudioResampler
    AVSampleFormat SampleFormat = AV_SAMPLE_FMT_NONE;
};

class AudioResampler {
public:
    AudioResampler();
    ~AudioResampler();
    AudioResampler(const AudioResampler&) = delete;
    AudioResampler& operator=(const AudioResampler&) = delete;

    // Throws FFmpegException "Can not resample %d channels @ %d Hz to %d channels @ %d Hz".
    void Open(const AudioFormat& input, const AudioFormat& output);
    bool IsOpen() const { return context_ != nullptr; }

    // Converts count input samples (planes as in AVFrame::extended_data; null to drain) and
    // appends the result to fifo, after dropping the first skipOutput output samples.
    // Throws FFmpegException on a library error. Returns the samples appended.
    int Convert(const uint8_t* const* input, int count, AVAudioFifo* fifo, int skipOutput = 0);

    // Asks for delta more (or, negative, fewer) output samples spread over distance samples.
    void Compensate(int delta, int distance);

private:
    struct SwrFree {
        void operator()(SwrContext* context) const;
    };
    std::unique_ptr<SwrContext, SwrFree> context_;
    AudioFormat output_;
    AVChannelLayout outputLayout_{};
    int inputRate_ = 0;
    uint8_t** buffer_ = nullptr;
    int bufferSamples_ = 0;
};

struct AudioFifoFree {
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoFree>;

}  // namespace kavel
