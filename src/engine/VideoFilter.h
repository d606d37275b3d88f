#pragma once

// The video path between a decoder and an encoder: crop, scale, the user's filter text and the
// pixel-format conversion, all in one filter graph.

#include <memory>
#include <string>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
}

struct AVFilterGraph;
struct AVFilterContext;

namespace kavel {

struct VideoFilterSettings {
    // What the decoder delivers.
    int InputWidth = 0;
    int InputHeight = 0;
    AVPixelFormat InputFormat = AV_PIX_FMT_NONE;
    AVRational InputSampleAspect{0, 1};
    // Crop bands in pixels; all 0 = no crop.
    int CropTop = 0;
    int CropBottom = 0;
    int CropLeft = 0;
    int CropRight = 0;
    // The encoder's size before the user's filter text, and the only format the sink accepts.
    int OutputWidth = 0;
    int OutputHeight = 0;
    AVPixelFormat OutputFormat = AV_PIX_FMT_NONE;
    // Scaler option text ("flags=0x4:..."), for every scaler the graph inserts.
    std::string ScalerOptions;
    // The user's filter text, linked between the labels "in" and "out"; empty = none.
    std::string FilterText;

    bool Crops() const { return CropTop || CropBottom || CropLeft || CropRight; }
};

// Frames go in with pts in microseconds and come out with pts in microseconds.
class VideoFilter {
public:
    VideoFilter();
    ~VideoFilter();
    VideoFilter(const VideoFilter&) = delete;
    VideoFilter& operator=(const VideoFilter&) = delete;

    // True when frames of the decoder need no filter work at all for these settings.
    static bool PassesUnchanged(const VideoFilterSettings& settings);

    // Builds and configures the graph. Throws FFmpegException "Error opening filters: " + the
    // reason when the graph cannot be built.
    void Open(const VideoFilterSettings& settings);
    // Keeps the settings without building a graph (frames pass unchanged).
    void Remember(const VideoFilterSettings& settings) { settings_ = settings; }
    bool IsOpen() const { return graph_ != nullptr; }
    const VideoFilterSettings& Settings() const { return settings_; }

    // What the sink delivers (known after Open).
    int OutputWidth() const;
    int OutputHeight() const;
    AVRational OutputSampleAspect() const;

    // Adds a frame (the graph takes its own reference); null marks the end of the stream.
    // Throws FFmpegException on a library error.
    void Send(const AVFrame* frame);
    // Moves the next filtered frame into frame; False when the graph has none ready.
    bool Receive(AVFrame* frame);

private:
    struct GraphFree {
        void operator()(AVFilterGraph* graph) const;
    };
    std::unique_ptr<AVFilterGraph, GraphFree> graph_;
    AVFilterContext* source_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    VideoFilterSettings settings_;
};

}  // namespace kavel
