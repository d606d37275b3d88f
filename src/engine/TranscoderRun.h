#pragma once

// One run of a task's transcode: the set-up after the files are open, the main loop, the
// flushes and the final report. Lives only inside Transcoder::Transcode, on the thread that
// runs it.

#include <array>
#include <cstdint>
#include <string>

#include "engine/Transcoder.h"
#include "engine/TranscoderStreams.h"

namespace kavel {

class TranscoderRun {
public:
    explicit TranscoderRun(Transcoder& transcoder);

    // Streams, codecs, filters and headers. Throws FFmpegException.
    void SetUp();
    // Until a stop request, the end of every input, a frame, size or "shortest" limit.
    void MainLoop();
    // Decoder and encoder flushes, trailers and the final report.
    void Finish();
    // Closes every codec still open; safe after any failure.
    void CloseCodecs();

private:
    // Set-up steps.
    void CheckStreamCounts();
    void MapStreams();
    void PrepareStream(OutputStream& output);
    void PrepareCopy(OutputStream& output, InputStream& input);
    void PrepareVideo(OutputStream& output, InputStream& input);
    void PrepareAudio(OutputStream& output, InputStream& input);
    void LogStreamMapping();
    void OpenEncoders();
    void OpenDecoders();
    void OpenDecoder(InputStream& input);
    void WriteHeaders();

    // Loop steps.
    int ChooseInput(bool& limitReached);
    bool SizeLimitReached() const;
    void ApplyTimestampOffset(InputFile& file, InputStream& input, AVPacket* packet);
    // False when the packet could not be decoded.
    bool ProcessPacket(InputStream& input, const AVPacket* packet);
    void HandleDecodedFrame(InputStream& input, AVFrame* frame);
    void CopyPacket(OutputStream& output, InputStream& input, const AVPacket* packet);
    bool BeforeStart(const InputStream& input, int64_t duration) const;
    void PaceToInput(const InputStream& input);
    bool CheckStop();

    // Video path.
    void PreProcess(InputStream& input, AVFrame* frame);
    void VideoOut(OutputStream& output, InputStream& input, AVFrame* frame);
    void EnsureFilterFits(OutputStream& output, const InputStream& input, const AVFrame* frame);
    void WriteVideoFrames(OutputStream& output, InputStream& input, AVFrame* frame, int64_t pts);
    void OfferPreview(const AVFrame* frame, int64_t pts);
    void FlushFilter(OutputStream& output);

    // Audio path.
    void AudioOut(OutputStream& output, InputStream& input, AVFrame* frame);
    void EnsureResampler(OutputStream& output, AVFrame* frame);
    void AppendSilence(OutputStream& output, int samples);
    void EncodeAudioFifo(OutputStream& output, bool flush);

    // Subtitle path.
    bool DecodeSubtitle(InputStream& input, const AVPacket* packet);
    void SubtitleOut(OutputStream& output, const AVSubtitle& subtitle);

    // Packets.
    void EncodeFrame(OutputStream& output, const AVFrame* frame);
    void WritePacket(OutputStream& output, AVPacket* packet);

    // Progress.
    void Report(bool final, int fileIndex);

    Transcoder& owner_;
    TranscoderState& state_;
    std::vector<std::unique_ptr<InputStream>>& inputs_;
    std::vector<std::unique_ptr<OutputStream>>& outputs_;

    int64_t videoSize_ = 0;
    int64_t audioSize_ = 0;
    int64_t extraSize_ = 0;
    bool reportNow_ = false;
    int64_t startTime_ = 0;
    int64_t lastReport_ = 0;
    int64_t lastPreview_ = 0;
    int decodedVideoFrames_ = 0;
    bool hookStopped_ = false;
    TranscoderFramePtr decoded_;
    TranscoderPacketPtr packet_;
    std::array<int, 52> qpHistogram_{};
    std::vector<uint8_t> subtitleBuffer_;  // 1 MiB, allocated on first use
};

}  // namespace kavel
