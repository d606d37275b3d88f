#include "engine/FrameConverter.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace kavel {

namespace {

constexpr int ScaleFlags = SWS_BICUBIC | SWS_ACCURATE_RND;

}  // namespace

void FrameConverter::SwsFree::operator()(SwsContext* context) const { sws_freeContext(context); }

FrameConverter::FrameConverter() = default;
FrameConverter::~FrameConverter() = default;

bool FrameConverter::ToBitmap(const AVFrame& frame, Bitmap& bitmap) {
    if (frame.width <= 0 || frame.height <= 0 || frame.format < 0 || frame.data[0] == nullptr) {
        return false;
    }
    const auto format = static_cast<AVPixelFormat>(frame.format);
    // Returns the same context while nothing changed; frees the old one otherwise.
    toBitmap_.reset(sws_getCachedContext(toBitmap_.release(), frame.width, frame.height, format, frame.width,
                                         frame.height, AV_PIX_FMT_BGR24, ScaleFlags, nullptr, nullptr, nullptr));
    if (!toBitmap_) {
        return false;
    }
    bitmap.Resize(frame.width, frame.height);
    uint8_t* destination[4] = {bitmap.Data(), nullptr, nullptr, nullptr};
    int destinationStride[4] = {bitmap.Stride(), 0, 0, 0};
    return sws_scale(toBitmap_.get(), frame.data, frame.linesize, 0, frame.height, destination,
                     destinationStride) > 0;
}

bool FrameConverter::FromBitmap(const Bitmap& bitmap, AVFrame& frame) {
    if (bitmap.Empty() || frame.width <= 0 || frame.height <= 0 || frame.format < 0) {
        return false;
    }
    // A frame sharing its buffers with others gets its own copy first; a frame over memory it
    // does not reference-count is written in place.
    if (frame.buf[0] != nullptr && av_frame_make_writable(&frame) < 0) {
        return false;
    }
    if (frame.data[0] == nullptr) {
        return false;
    }
    const auto format = static_cast<AVPixelFormat>(frame.format);
    fromBitmap_.reset(sws_getCachedContext(fromBitmap_.release(), bitmap.Width(), bitmap.Height(),
                                           AV_PIX_FMT_BGR24, frame.width, frame.height, format, ScaleFlags,
                                           nullptr, nullptr, nullptr));
    if (!fromBitmap_) {
        return false;
    }
    const uint8_t* source[4] = {bitmap.Data(), nullptr, nullptr, nullptr};
    const int sourceStride[4] = {bitmap.Stride(), 0, 0, 0};
    return sws_scale(fromBitmap_.get(), source, sourceStride, 0, bitmap.Height(), frame.data, frame.linesize) > 0;
}

}  // namespace kavel
