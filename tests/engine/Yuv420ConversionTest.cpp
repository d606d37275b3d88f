#include "engine/Yuv420Conversion.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>

#include "engine/FrameConverter.h"
#include "support/Frames.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace kavel {
namespace {

using fixtures::FramePtr;
using fixtures::NewFrame;

int PlaneWidth(const AVFrame& frame, int plane) { return plane == 0 ? frame.width : (frame.width + 1) / 2; }
int PlaneHeight(const AVFrame& frame, int plane) { return plane == 0 ? frame.height : (frame.height + 1) / 2; }

void FillRandom(AVFrame& frame, std::mt19937& random) {
    for (int plane = 0; plane < 3; ++plane)
        for (int y = 0; y < PlaneHeight(frame, plane); ++y)
            for (int x = 0; x < PlaneWidth(frame, plane); ++x)
                frame.data[plane][y * frame.linesize[plane] + x] = static_cast<uint8_t>(random());
}

void FillRandom(Bitmap& bitmap, std::mt19937& random) {
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width() * Bitmap::BytesPerPixel; ++x)
            bitmap.Row(y)[x] = static_cast<uint8_t>(random());
}

bool SamePlanes(const AVFrame& a, const AVFrame& b) {
    for (int plane = 0; plane < 3; ++plane)
        for (int y = 0; y < PlaneHeight(a, plane); ++y)
            if (std::memcmp(a.data[plane] + y * a.linesize[plane], b.data[plane] + y * b.linesize[plane],
                            PlaneWidth(a, plane)) != 0)
                return false;
    return true;
}

bool SamePixels(const Bitmap& a, const Bitmap& b) {
    for (int y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.Row(y), b.Row(y), a.Width() * Bitmap::BytesPerPixel) != 0)
            return false;
    return true;
}

// The vector loops must give the plain loops' bytes at every size, the edges included (odd
// widths and heights, widths just below and above a vector's pixels, rows without padding),
// for every matrix.
TEST(Yuv420ConversionTest, VectorLoopsMatchThePlainOnes) {
    std::mt19937 random(7);
    for (int width : {1, 2, 7, 8, 9, 15, 16, 17, 32, 33, 641})
        for (int height : {1, 2, 3, 17})
            for (bool full : {false, true})
                for (int matrix : {SWS_CS_ITU601, SWS_CS_ITU709, SWS_CS_BT2020}) {
                    const Yuv420Conversion conversion(full, sws_getCoefficients(matrix));
                    const std::string name = std::to_string(width) + "x" + std::to_string(height) +
                                             (full ? " full" : " limited") + " matrix " + std::to_string(matrix);
                    FramePtr frame = NewFrame(width, height);
                    FillRandom(*frame, random);
                    Bitmap fast(width, height), plain(width, height);
                    conversion.ToBitmapRows(*frame, fast, 0, height);
                    conversion.ToBitmapRowsPlain(*frame, plain, 0, height);
                    EXPECT_TRUE(SamePixels(fast, plain)) << "to RGB " << name;

                    FillRandom(fast, random);
                    FramePtr fastFrame = NewFrame(width, height);
                    FramePtr plainFrame = NewFrame(width, height);
                    conversion.FromBitmapRows(fast, *fastFrame, 0, height);
                    conversion.FromBitmapRowsPlain(fast, *plainFrame, 0, height);
                    EXPECT_TRUE(SamePlanes(*fastFrame, *plainFrame)) << "from RGB " << name;
                }
}

// Flat colours against the scaler's exact conversion: the same samples from RGB but for a
// rare rounding step, and back to the colour within the one step that 8-bit samples lose. The
// matrices and ranges are the ones the frame asks for.
TEST(Yuv420ConversionTest, AgreesWithTheScalerOnFlatColours) {
    int offByOne = 0;
    const uint8_t colours[][3] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0},    {255, 255, 255},
                                  {0, 0, 0},   {128, 128, 128}, {30, 140, 250}, {200, 60, 90}};
    for (bool full : {false, true})
        for (AVColorSpace space : {AVCOL_SPC_BT470BG, AVCOL_SPC_BT709}) {
            const int* coefficients = sws_getCoefficients(space);
            const Yuv420Conversion conversion(full, coefficients);
            std::unique_ptr<SwsContext, void (*)(SwsContext*)> scaler(
                sws_getContext(16, 16, AV_PIX_FMT_BGR24, 16, 16, AV_PIX_FMT_YUV420P,
                               SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr),
                sws_freeContext);
            ASSERT_TRUE(scaler);
            int* inverse = nullptr;
            int* table = nullptr;
            int sourceRange = 0, destinationRange = 0, brightness = 0, contrast = 0, saturation = 0;
            sws_getColorspaceDetails(scaler.get(), &inverse, &sourceRange, &table, &destinationRange, &brightness,
                                     &contrast, &saturation);
            sws_setColorspaceDetails(scaler.get(), inverse, sourceRange, coefficients, full ? 1 : 0, brightness,
                                     contrast, saturation);
            for (const auto& colour : colours) {
                const std::string name = std::string(full ? "full" : "limited") + " space " + std::to_string(space) +
                                         " colour " + std::to_string(colour[0]) + "," + std::to_string(colour[1]) +
                                         "," + std::to_string(colour[2]);
                Bitmap bitmap(16, 16);
                for (int y = 0; y < 16; ++y)
                    for (int x = 0; x < 16; ++x)
                        std::memcpy(bitmap.Pixel(x, y), colour, 3);
                FramePtr own = NewFrame(16, 16);
                FramePtr reference = NewFrame(16, 16);
                conversion.FromBitmapRows(bitmap, *own, 0, 16);
                const uint8_t* source[4] = {bitmap.Data(), nullptr, nullptr, nullptr};
                const int stride[4] = {bitmap.Stride(), 0, 0, 0};
                sws_scale(scaler.get(), source, stride, 0, 16, reference->data, reference->linesize);
                for (int plane = 0; plane < 3; ++plane) {
                    EXPECT_NEAR(own->data[plane][0], reference->data[plane][0], 1) << name << " plane " << plane;
                    offByOne += own->data[plane][0] != reference->data[plane][0];
                }

                Bitmap back(16, 16);
                conversion.ToBitmapRows(*reference, back, 0, 16);
                for (int c = 0; c < 3; ++c)
                    EXPECT_NEAR(back.Pixel(8, 8)[c], colour[c], 1) << name << " channel " << c;
            }
        }
    EXPECT_LE(offByOne, 3) << "of 96 samples";
}

// A frame large enough to be split into bands converts to the same pixels as one pass, both
// ways, with an odd height so the last band ends on a row without a partner.
TEST(Yuv420ConversionTest, BandsGiveTheSamePictureAsOnePass) {
    std::mt19937 random(11);
    FramePtr frame = NewFrame(1281, 723);
    FillRandom(*frame, random);
    const Yuv420Conversion conversion(false, sws_getCoefficients(SWS_CS_DEFAULT));
    FrameConverter converter;
    Bitmap banded, whole(1281, 723);
    ASSERT_TRUE(converter.ToBitmap(*frame, banded));
    conversion.ToBitmapRowsPlain(*frame, whole, 0, 723);
    EXPECT_TRUE(SamePixels(banded, whole));

    FillRandom(whole, random);
    FramePtr bandedFrame = NewFrame(1281, 723);
    FramePtr wholeFrame = NewFrame(1281, 723);
    ASSERT_TRUE(converter.FromBitmap(whole, *bandedFrame));
    conversion.FromBitmapRowsPlain(whole, *wholeFrame, 0, 723);
    EXPECT_TRUE(SamePlanes(*bandedFrame, *wholeFrame));
}

}  // namespace
}  // namespace kavel
