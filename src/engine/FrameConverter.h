#pragma once

#include <memory>

#include "engine/Bitmap.h"

struct AVFrame;
struct SwsContext;

namespace kavel {

class Yuv420Conversion;

// Converts decoded video frames into Bitmaps of the same size and writes Bitmaps back into
// frames, following each frame's range and colour matrix. 4:2:0 frames of the bitmap's size
// take a path of their own (Yuv420Conversion) whose bands of rows run on all processors; other
// formats and sizes go through the scaler, with bicubic scaling. Each direction keeps its
// context and rebuilds it only when a size, format, range or matrix changes. One converter per
// thread (it is not shared).
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
    std::unique_ptr<Yuv420Conversion> toBitmapTables_;
    std::unique_ptr<Yuv420Conversion> fromBitmapTables_;
};

}  // namespace kavel
