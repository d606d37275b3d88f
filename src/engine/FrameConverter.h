#pragma once

#include <memory>

#include "engine/Bitmap.h"

struct AVFrame;
struct SwsContext;

namespace kavel {

// Converts decoded video frames into Bitmaps of the same size and writes Bitmaps back into
// frames, with bicubic scaling. Each direction keeps its scaling context and rebuilds it only
// when a size or pixel format changes. One converter per thread (it is not shared).
class FrameConverter {
public:
    FrameConverter();
    ~FrameConverter();
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;

    // bitmap takes the frame's size and picture. False (bitmap unchanged in size) when the
    // frame's format cannot be converted.
    bool ToBitmap(const AVFrame& frame, Bitmap& bitmap);
    // Writes bitmap into frame in the frame's own pixel format and size (scaling when the sizes
    // differ); makes the frame writable first. False when that fails or the format is not
    // supported.
    bool FromBitmap(const Bitmap& bitmap, AVFrame& frame);

private:
    struct SwsFree {
        void operator()(SwsContext* context) const;
    };
    std::unique_ptr<SwsContext, SwsFree> toBitmap_;
    std::unique_ptr<SwsContext, SwsFree> fromBitmap_;
};

}  // namespace kavel
