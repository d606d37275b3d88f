#include "engine/VideoFilter.h"

#include <cstdio>

#include "engine/ErrorText.h"
#include "engine/FFmpegException.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
}

namespace kavel {

namespace {

[[noreturn]] void FailOpen(const std::string& reason) {
    throw FFmpegException("Error opening filters: " + reason);
}

void CheckOpen(int result, const char* step) {
    if (result < 0) {
        FailOpen(std::string(step) + ": " + kavel::ErrorText(result));
    }
}

struct InOutFree {
    void operator()(AVFilterInOut* inOut) const { avfilter_inout_free(&inOut); }
};
using InOutPtr = std::unique_ptr<AVFilterInOut, InOutFree>;

InOutPtr MakeInOut(const char* label, AVFilterContext* context) {
    InOutPtr inOut(avfilter_inout_alloc());
    if (!inOut) {
        FailOpen("Not enough memory");
    }
    inOut->name = av_strdup(label);
    inOut->filter_ctx = context;
    inOut->pad_idx = 0;
    inOut->next = nullptr;
    return inOut;
}

}  // namespace

void VideoFilter::GraphFree::operator()(AVFilterGraph* graph) const { avfilter_graph_free(&graph); }

VideoFilter::VideoFilter() = default;
VideoFilter::~VideoFilter() = default;

bool VideoFilter::PassesUnchanged(const VideoFilterSettings& settings) {
    return !settings.Crops() && settings.FilterText.empty() &&
           settings.InputWidth == settings.OutputWidth &&
           settings.InputHeight == settings.OutputHeight &&
           settings.InputFormat == settings.OutputFormat;
}

void VideoFilter::Open(const VideoFilterSettings& settings) {
    graph_.reset();
    source_ = sink_ = nullptr;
    settings_ = settings;

    graph_.reset(avfilter_graph_alloc());
    if (!graph_) {
        FailOpen("Not enough memory");
    }
    // Filters run on the task's thread; the codecs carry the task's thread count.
    graph_->nb_threads = 1;
    if (!settings.ScalerOptions.empty()) {
        graph_->scale_sws_opts = av_strdup(settings.ScalerOptions.c_str());
    }

    AVRational aspect = settings.InputSampleAspect;
    if (aspect.num <= 0 || aspect.den <= 0) {
        aspect = AVRational{0, 1};
    }
    char args[256];
    std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=1/1000000:pixel_aspect=%d/%d",
                  settings.InputWidth, settings.InputHeight, static_cast<int>(settings.InputFormat),
                  aspect.num, aspect.den);
    CheckOpen(avfilter_graph_create_filter(&source_, avfilter_get_by_name("buffer"), "src", args,
                                           nullptr, graph_.get()),
              "buffer");

    // The sink accepts only the encoder's pixel format, so the graph converts into it.
    sink_ = avfilter_graph_alloc_filter(graph_.get(), avfilter_get_by_name("buffersink"),
                                        "ffmpeg_output");
    if (!sink_) {
        FailOpen("Not enough memory");
    }
    const AVPixelFormat formats[] = {settings.OutputFormat, AV_PIX_FMT_NONE};
    CheckOpen(av_opt_set_int_list(sink_, "pix_fmts", formats, AV_PIX_FMT_NONE, AV_OPT_SEARCH_CHILDREN),
              "buffersink");
    CheckOpen(avfilter_init_str(sink_, nullptr), "buffersink");

    AVFilterContext* last = source_;
    auto append = [&](const char* filterName, const char* instance, const std::string& options) {
        AVFilterContext* next = nullptr;
        CheckOpen(avfilter_graph_create_filter(&next, avfilter_get_by_name(filterName), instance,
                                               options.c_str(), nullptr, graph_.get()),
                  filterName);
        CheckOpen(avfilter_link(last, 0, next, 0), filterName);
        last = next;
    };

    if (settings.Crops()) {
        const int width = settings.InputWidth - settings.CropLeft - settings.CropRight;
        const int height = settings.InputHeight - settings.CropTop - settings.CropBottom;
        std::snprintf(args, sizeof args, "%d:%d:%d:%d", width, height, settings.CropLeft,
                      settings.CropTop);
        append("crop", "cropping", args);
    }
    const int croppedWidth = settings.InputWidth - settings.CropLeft - settings.CropRight;
    const int croppedHeight = settings.InputHeight - settings.CropTop - settings.CropBottom;
    if (settings.OutputWidth != croppedWidth || settings.OutputHeight != croppedHeight) {
        std::snprintf(args, sizeof args, "%d:%d", settings.OutputWidth, settings.OutputHeight);
        append("scale", "scale", args);
    }

    if (settings.FilterText.empty()) {
        CheckOpen(avfilter_link(last, 0, sink_, 0), "link");
    } else {
        // The text's "in" is fed by our chain, its "out" feeds the sink.
        InOutPtr outputs = MakeInOut("in", last);
        InOutPtr inputs = MakeInOut("out", sink_);
        AVFilterInOut* rawInputs = inputs.release();
        AVFilterInOut* rawOutputs = outputs.release();
        const int result = avfilter_graph_parse_ptr(graph_.get(), settings.FilterText.c_str(),
                                                    &rawInputs, &rawOutputs, nullptr);
        inputs.reset(rawInputs);
        outputs.reset(rawOutputs);
        if (result < 0) {
            FailOpen(kavel::ErrorText(result));
        }
    }
    const int configured = avfilter_graph_config(graph_.get(), nullptr);
    if (configured < 0) {
        FailOpen(kavel::ErrorText(configured));
    }
}

int VideoFilter::OutputWidth() const { return av_buffersink_get_w(sink_); }
int VideoFilter::OutputHeight() const { return av_buffersink_get_h(sink_); }
AVRational VideoFilter::OutputSampleAspect() const { return av_buffersink_get_sample_aspect_ratio(sink_); }

void VideoFilter::Send(const AVFrame* frame) {
    const int result = av_buffersrc_add_frame_flags(source_, const_cast<AVFrame*>(frame),
                                                    AV_BUFFERSRC_FLAG_KEEP_REF);
    if (result < 0 && result != AVERROR_EOF) {
        throw FFmpegException(kavel::ErrorText("Error while filtering", result));
    }
}

bool VideoFilter::Receive(AVFrame* frame) {
    const int result = av_buffersink_get_frame(sink_, frame);
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
        return false;
    }
    if (result < 0) {
        throw FFmpegException(kavel::ErrorText("Error while filtering", result));
    }
    return true;
}

}  // namespace kavel
