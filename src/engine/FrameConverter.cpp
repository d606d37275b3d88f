#include "engine/FrameConverter.h"

#include <cstring>

#include "engine/RowBands.h"
#include "engine/Yuv420Conversion.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace kavel {

namespace {

constexpr int ScaleFlags = SWS_BICUBIC | SWS_ACCURATE_RND;

// How a frame's YUV samples are to be read: its format with the full-range ("J") variants
// replaced by their plain twins, which the scaler prefers, and the range and matrix to use.
struct FrameColour {
    AVPixelFormat format;
    bool yuv = false;
    bool fullRange = false;
    const int* coefficients = nullptr;
};

FrameColour ColourOf(const AVFrame& frame) {
    FrameColour colour{static_cast<AVPixelFormat>(frame.format)};
    switch (colour.format) {
    case AV_PIX_FMT_YUVJ420P: colour.format = AV_PIX_FMT_YUV420P; colour.fullRange = true; break;
    case AV_PIX_FMT_YUVJ422P: colour.format = AV_PIX_FMT_YUV422P; colour.fullRange = true; break;
    case AV_PIX_FMT_YUVJ444P: colour.format = AV_PIX_FMT_YUV444P; colour.fullRange = true; break;
    case AV_PIX_FMT_YUVJ440P: colour.format = AV_PIX_FMT_YUV440P; colour.fullRange = true; break;
    case AV_PIX_FMT_YUVJ411P: colour.format = AV_PIX_FMT_YUV411P; colour.fullRange = true; break;
    default: break;
    }
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(colour.format);
    colour.yuv = descriptor != nullptr && !(descriptor->flags & AV_PIX_FMT_FLAG_RGB) && descriptor->nb_components >= 3;
    colour.fullRange = colour.fullRange || frame.color_range == AVCOL_RANGE_JPEG;
    colour.coefficients = sws_getCoefficients(frame.colorspace);
    return colour;
}

// Sets the YUV side of a context to the frame's range and matrix, leaving the RGB side alone.
// Only a change costs anything, so the cached context stays cheap from frame to frame.
void MatchColour(SwsContext* context, const FrameColour& colour, bool yuvIsSource) {
    if (!colour.yuv) {
        return;
    }
    int* inverseTable = nullptr;
    int* table = nullptr;
    int sourceRange = 0;
    int destinationRange = 0;
    int brightness = 0;
    int contrast = 0;
    int saturation = 0;
    if (sws_getColorspaceDetails(context, &inverseTable, &sourceRange, &table, &destinationRange, &brightness,
                                 &contrast, &saturation) < 0) {
        return;
    }
    const int range = colour.fullRange ? 1 : 0;
    const int* current = yuvIsSource ? inverseTable : table;
    const int currentRange = yuvIsSource ? sourceRange : destinationRange;
    if (currentRange == range && std::memcmp(current, colour.coefficients, 4 * sizeof(int)) == 0) {
        return;
    }
    int copyInverse[4];
    int copyTable[4];
    std::memcpy(copyInverse, yuvIsSource ? colour.coefficients : inverseTable, sizeof copyInverse);
    std::memcpy(copyTable, yuvIsSource ? table : colour.coefficients, sizeof copyTable);
    sws_setColorspaceDetails(context, copyInverse, yuvIsSource ? range : sourceRange, copyTable,
                             yuvIsSource ? destinationRange : range, brightness, contrast, saturation);
}

// 4:2:0 at the same size is what nearly every decoder gives and every encoder takes: it has a
// path of its own that converts bands of rows on all processors.
bool OwnPath(const FrameColour& colour, const AVFrame& frame) {
    return colour.format == AV_PIX_FMT_YUV420P && frame.data[1] != nullptr && frame.data[2] != nullptr;
}

const Yuv420Conversion& TablesFor(std::unique_ptr<Yuv420Conversion>& tables, const FrameColour& colour) {
    if (!tables || !tables->Matches(colour.fullRange, colour.coefficients))
        tables = std::make_unique<Yuv420Conversion>(colour.fullRange, colour.coefficients);
    return *tables;
}

}  // namespace

void FrameConverter::SwsFree::operator()(SwsContext* context) const { sws_freeContext(context); }

FrameConverter::FrameConverter() = default;
FrameConverter::~FrameConverter() = default;

bool FrameConverter::ToBitmap(const AVFrame& frame, Bitmap& bitmap) {
    if (frame.width <= 0 || frame.height <= 0 || frame.format < 0 || frame.data[0] == nullptr) {
        return false;
    }
    const FrameColour colour = ColourOf(frame);
    if (OwnPath(colour, frame)) {
        const Yuv420Conversion& tables = TablesFor(toBitmapTables_, colour);
        bitmap.Resize(frame.width, frame.height);
        RunInRowBands(frame.height, 2, frame.width,
                      [&](int first, int end) { tables.ToBitmapRows(frame, bitmap, first, end); });
        return true;
    }
    // Returns the same context while nothing changed; frees the old one otherwise.
    toBitmap_.reset(sws_getCachedContext(toBitmap_.release(), frame.width, frame.height, colour.format, frame.width,
                                         frame.height, AV_PIX_FMT_BGR24, ScaleFlags, nullptr, nullptr, nullptr));
    if (!toBitmap_) {
        return false;
    }
    MatchColour(toBitmap_.get(), colour, true);
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
    const FrameColour colour = ColourOf(frame);
    if (OwnPath(colour, frame) && bitmap.Width() == frame.width && bitmap.Height() == frame.height) {
        const Yuv420Conversion& tables = TablesFor(fromBitmapTables_, colour);
        RunInRowBands(frame.height, 2, frame.width,
                      [&](int first, int end) { tables.FromBitmapRows(bitmap, frame, first, end); });
        return true;
    }
    fromBitmap_.reset(sws_getCachedContext(fromBitmap_.release(), bitmap.Width(), bitmap.Height(),
                                           AV_PIX_FMT_BGR24, frame.width, frame.height, colour.format, ScaleFlags,
                                           nullptr, nullptr, nullptr));
    if (!fromBitmap_) {
        return false;
    }
    MatchColour(fromBitmap_.get(), colour, false);
    const uint8_t* source[4] = {bitmap.Data(), nullptr, nullptr, nullptr};
    const int sourceStride[4] = {bitmap.Stride(), 0, 0, 0};
    return sws_scale(fromBitmap_.get(), source, sourceStride, 0, bitmap.Height(), frame.data, frame.linesize) > 0;
}

}  // namespace kavel
