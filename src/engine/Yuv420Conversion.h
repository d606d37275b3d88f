#pragma once

#include <array>
#include <cstdint>

#include "engine/Bitmap.h"

struct AVFrame;

namespace kavel {

// Same-size conversion between 8-bit 4:2:0 planar frames and Bitmaps, in integer arithmetic and
// by rows, so that the bands of one picture can be converted on several threads (see
// RunInRowBands). Each chroma sample is shared by its 2x2 block of pixels on the way to RGB and
// is the block's average on the way back, so the parts of a picture that a hook leaves alone
// come back with the chroma they had instead of being blurred by each trip.
//
// The arithmetic is fixed point with 13 fraction bits; on x86-64 the inner loops work 16 pixels
// (to RGB) or 8 (from RGB) at a time in SSE2 and give exactly the same bytes as the plain loops,
// which do the edges and run everywhere else.
class Yuv420Conversion {
public:
    // fullRange: luma and chroma use 0..255 instead of 16..235 and 16..240. coefficients: the
    // matrix as the scaler describes it (sws_getCoefficients: red from Cr, blue from Cb, green
    // from Cb and Cr, in 1/65536, for the limited range).
    Yuv420Conversion(bool fullRange, const int* coefficients);

    bool Matches(bool fullRange, const int* coefficients) const;

    // Rows [firstRow, endRow) of frame into the same rows of bitmap, which has the frame's size.
    void ToBitmapRows(const AVFrame& frame, Bitmap& bitmap, int firstRow, int endRow) const;
    // Rows [firstRow, endRow) of bitmap into frame (luma rows and the chroma rows they cover),
    // which has the bitmap's size and writable planes. firstRow must be even, endRow even or
    // the picture's height.
    void FromBitmapRows(const Bitmap& bitmap, AVFrame& frame, int firstRow, int endRow) const;

    // The same conversions without the vector loops, to check those against.
    void ToBitmapRowsPlain(const AVFrame& frame, Bitmap& bitmap, int firstRow, int endRow) const;
    void FromBitmapRowsPlain(const Bitmap& bitmap, AVFrame& frame, int firstRow, int endRow) const;

    // The weights, in 1/8192; all fit in 16 bits.
    struct ToRgb {
        int16_t luma, lumaOffset, blueFromCb, greenFromCb, greenFromCr, redFromCr;
    };
    struct FromRgb {
        int16_t lumaBlue, lumaGreen, lumaRed, lumaOffset;
        int16_t cbBlue, cbGreen, cbRed;
        int16_t crBlue, crGreen, crRed;
    };

private:
    void ToBitmapRowsWith(bool vector, const AVFrame& frame, Bitmap& bitmap, int firstRow, int endRow) const;
    void FromBitmapRowsWith(bool vector, const Bitmap& bitmap, AVFrame& frame, int firstRow, int endRow) const;
    void ToBitmapRow(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, uint8_t* out, int first, int width) const;
    void FromBitmapRowPair(const uint8_t* top, const uint8_t* bottom, uint8_t* lumaTop, uint8_t* lumaBottom,
                           uint8_t* cb, uint8_t* cr, int first, int width) const;

    bool fullRange_;
    std::array<int, 4> coefficients_;
    ToRgb to_{};
    FromRgb from_{};
};

}  // namespace kavel
