#pragma once

#include <memory>

extern "C" {
#include <libavutil/frame.h>
}

namespace kavel::fixtures {

struct FrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

// A frame with its own picture buffers of this size and format (contents undefined); null
// when they cannot be allocated.
inline FramePtr NewFrame(int width, int height, AVPixelFormat format = AV_PIX_FMT_YUV420P) {
    FramePtr frame(av_frame_alloc());
    frame->width = width;
    frame->height = height;
    frame->format = format;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        return nullptr;
    return frame;
}

}  // namespace kavel::fixtures
