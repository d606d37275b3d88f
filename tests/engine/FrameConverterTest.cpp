#include "engine/FrameConverter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "support/Frames.h"
#include "support/MediaFixtures.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace kavel {
namespace {

using fixtures::FramePtr;
using fixtures::NewFrame;

// Smooth colours that RGB can hold, the frame counter, and a red block (limited-range BT.601) at
// the bottom left.
FramePtr MakePicture(int width, int height, int counter) {
    FramePtr frame = NewFrame(width, height, AV_PIX_FMT_YUV420P);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            frame->data[0][y * frame->linesize[0] + x] = static_cast<uint8_t>(40 + (x + y) * 150 / (width + height));
        }
    }
    for (int y = 0; y < height / 2; ++y) {
        for (int x = 0; x < width / 2; ++x) {
            frame->data[1][y * frame->linesize[1] + x] = static_cast<uint8_t>(108 + x * 40 / (width / 2));
            frame->data[2][y * frame->linesize[2] + x] = static_cast<uint8_t>(148 - y * 40 / (height / 2));
        }
    }
    fixtures::DrawFrameCounter(counter, frame->data[0], width, height * 3 / 4, frame->linesize[0]);
    for (int y = height * 3 / 4; y < height; ++y) {
        for (int x = 0; x < width / 4; ++x) {
            frame->data[0][y * frame->linesize[0] + x] = 81;
        }
    }
    for (int y = height * 3 / 8; y < height / 2; ++y) {
        for (int x = 0; x < width / 8; ++x) {
            frame->data[1][y * frame->linesize[1] + x] = 90;
            frame->data[2][y * frame->linesize[2] + x] = 240;
        }
    }
    return frame;
}

double MeanDifference(const AVFrame& a, const AVFrame& b, int plane, int width, int height) {
    long total = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            total += std::abs(a.data[plane][y * a.linesize[plane] + x] - b.data[plane][y * b.linesize[plane] + x]);
        }
    }
    return static_cast<double>(total) / (width * height);
}

TEST(FrameConverterTest, RoundTripKeepsThePicture) {
    const int width = 160;
    const int height = 120;
    FramePtr source = MakePicture(width, height, 1234);
    FrameConverter converter;
    Bitmap bitmap;
    ASSERT_TRUE(converter.ToBitmap(*source, bitmap));
    ASSERT_EQ(bitmap.Width(), width);
    ASSERT_EQ(bitmap.Height(), height);
    EXPECT_GE(bitmap.Stride(), width * 3);
    EXPECT_EQ(bitmap.Stride() % 4, 0);

    // Blue, green, red order: the red block is red.
    const uint8_t* red = bitmap.Pixel(8, height - 8);
    EXPECT_LT(red[0], 30);
    EXPECT_LT(red[1], 30);
    EXPECT_GT(red[2], 225);
    EXPECT_EQ(fixtures::ReadFrameCounterBgr(bitmap.Data(), width, height * 3 / 4, bitmap.Stride()), 1234);

    FramePtr back = NewFrame(width, height, AV_PIX_FMT_YUV420P);
    ASSERT_TRUE(converter.FromBitmap(bitmap, *back));
    EXPECT_LT(MeanDifference(*source, *back, 0, width, height), 1.5);
    EXPECT_LT(MeanDifference(*source, *back, 1, width / 2, height / 2), 2.5);
    EXPECT_LT(MeanDifference(*source, *back, 2, width / 2, height / 2), 2.5);
}

TEST(FrameConverterTest, FollowsChangesOfSizeAndFormat) {
    FrameConverter converter;
    Bitmap bitmap;
    ASSERT_TRUE(converter.ToBitmap(*MakePicture(160, 120, 1), bitmap));
    FramePtr small = MakePicture(64, 48, 2);
    ASSERT_TRUE(converter.ToBitmap(*small, bitmap));
    EXPECT_EQ(bitmap.Width(), 64);
    EXPECT_EQ(bitmap.Height(), 48);
    EXPECT_EQ(fixtures::ReadFrameCounterBgr(bitmap.Data(), 64, 36, bitmap.Stride()), 2);

    // Written back into a frame of another format and size, scaled to fit.
    FramePtr rgb = NewFrame(128, 96, AV_PIX_FMT_RGB24);
    ASSERT_TRUE(converter.FromBitmap(bitmap, *rgb));
    const uint8_t* pixel = rgb->data[0] + (96 - 6) * rgb->linesize[0] + 6 * 3;
    EXPECT_GT(pixel[0], 225);  // red first in RGB24
    EXPECT_LT(pixel[2], 30);
}

TEST(FrameConverterTest, SharedFrameIsCopiedBeforeWriting) {
    FramePtr source = MakePicture(64, 48, 3);
    FramePtr shared(av_frame_clone(source.get()));
    Bitmap white(64, 48);
    std::fill(white.Data(), white.Data() + white.Stride() * 48, uint8_t{255});
    FrameConverter converter;
    ASSERT_TRUE(converter.FromBitmap(white, *shared));
    EXPECT_GT(shared->data[0][0], 230);
    EXPECT_NE(source->data[0][0], shared->data[0][0]);
}

// Full-range frames (the "J" formats or a frame marked full range) keep their levels; limited
// range ones are stretched to black and white.
TEST(FrameConverterTest, HonoursTheFrameRange) {
    struct Case {
        AVPixelFormat format;
        AVColorRange range;
        uint8_t luma;
        int expectedGrey;
    };
    const Case cases[] = {
        {AV_PIX_FMT_YUV420P, AVCOL_RANGE_MPEG, 235, 255},  {AV_PIX_FMT_YUV420P, AVCOL_RANGE_MPEG, 16, 0},
        {AV_PIX_FMT_YUV420P, AVCOL_RANGE_JPEG, 235, 235},  {AV_PIX_FMT_YUVJ420P, AVCOL_RANGE_UNSPECIFIED, 16, 16},
        {AV_PIX_FMT_YUVJ420P, AVCOL_RANGE_JPEG, 255, 255},
    };
    FrameConverter converter;  // one converter for all: the range must follow each frame
    for (const Case& c : cases) {
        FramePtr frame = NewFrame(32, 32, c.format);
        frame->color_range = c.range;
        std::memset(frame->data[0], c.luma, frame->linesize[0] * 32);
        std::memset(frame->data[1], 128, frame->linesize[1] * 16);
        std::memset(frame->data[2], 128, frame->linesize[2] * 16);
        Bitmap bitmap;
        ASSERT_TRUE(converter.ToBitmap(*frame, bitmap));
        for (int channel = 0; channel < 3; ++channel) {
            EXPECT_NEAR(bitmap.Pixel(16, 16)[channel], c.expectedGrey, 2) << c.format << " " << c.range;
        }
        FramePtr back = NewFrame(32, 32, c.format);
        back->color_range = c.range;
        ASSERT_TRUE(converter.FromBitmap(bitmap, *back));
        EXPECT_NEAR(back->data[0][16 * back->linesize[0] + 16], c.luma, 2) << c.format << " " << c.range;
    }
}

TEST(FrameConverterTest, RejectsFramesWithoutPicture) {
    FramePtr empty(av_frame_alloc());
    FrameConverter converter;
    Bitmap bitmap;
    EXPECT_FALSE(converter.ToBitmap(*empty, bitmap));
    EXPECT_FALSE(converter.FromBitmap(bitmap, *empty));
}

}  // namespace
}  // namespace kavel
