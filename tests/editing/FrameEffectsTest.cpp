#include "editing/FrameEffects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <string>

using namespace kavel;

namespace {

using Bgr = std::array<int, 3>;

Bitmap OnePixel(Bgr pixel) {
    Bitmap bitmap(1, 1);
    for (int c = 0; c < 3; ++c)
        bitmap.Pixel(0, 0)[c] = static_cast<uint8_t>(pixel[c]);
    return bitmap;
}

Bgr PixelOf(const Bitmap& bitmap, int x = 0, int y = 0) {
    const uint8_t* p = bitmap.Pixel(x, y);
    return {p[0], p[1], p[2]};
}

// Every level 0..255 once, as a grey row.
Bitmap GreyRamp() {
    Bitmap bitmap(256, 1);
    for (int i = 0; i < 256; ++i)
        for (int c = 0; c < 3; ++c)
            bitmap.Pixel(i, 0)[c] = static_cast<uint8_t>(i);
    return bitmap;
}

}  // namespace

TEST(FrameEffectsTest, ColorAdjustPixels) {
    struct Case {
        const char* name;
        int brightness, contrast, saturation;
        Bgr in, out;
    } cases[] = {
        {"neutral keeps black", 256, 0, 256, {0, 0, 0}, {0, 0, 0}},
        {"neutral keeps white", 256, 0, 256, {255, 255, 255}, {255, 255, 255}},
        {"neutral keeps colour", 256, 0, 256, {10, 128, 250}, {10, 128, 250}},
        {"brightness 255 takes white to 254", 255, 0, 256, {255, 255, 255}, {254, 254, 254}},
        {"brightness 255 keeps black", 255, 0, 256, {0, 0, 0}, {0, 0, 0}},
        {"default brightness and saturation", 255, 0, 255, {30, 60, 90}, {29, 59, 89}},
        {"brightness 0 gives level 1", 0, 0, 256, {0, 128, 255}, {1, 1, 1}},
        {"brightness 512 doubles", 512, 0, 256, {0, 1, 127}, {0, 1, 253}},
        {"brightness 512 clips", 512, 0, 256, {128, 200, 255}, {255, 255, 255}},
        {"contrast pivot is 170", 256, 99, 256, {169, 170, 171}, {106, 170, 234}},
        {"contrast 100 acts as 99", 256, 100, 256, {169, 170, 171}, {106, 170, 234}},
        {"contrast -50", 256, -50, 256, {0, 255, 100}, {50, 230, 121}},
        {"contrast -100 flattens", 256, -100, 256, {0, 255, 100}, {170, 170, 170}},
        {"saturation 0 gives grey", 256, 0, 0, {30, 60, 90}, {60, 60, 60}},
        {"saturation 512 doubles the deviation", 256, 0, 512, {30, 60, 90}, {0, 60, 120}},
        {"saturation 512 clips", 256, 0, 512, {0, 100, 255}, {0, 82, 255}},
    };
    for (const Case& c : cases) {
        Bitmap bitmap = OnePixel(c.in);
        ApplyColorAdjust(bitmap, c.brightness, c.contrast, c.saturation);
        EXPECT_EQ(PixelOf(bitmap), c.out) << c.name;
    }
}

TEST(FrameEffectsTest, ColorAdjustWholeRange) {
    Bitmap neutral = GreyRamp();
    ApplyColorAdjust(neutral, 256, 0, 256);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(PixelOf(neutral, i), (Bgr{i, i, i})) << i;

    Bitmap flat = GreyRamp();
    ApplyColorAdjust(flat, 256, -100, 256);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(PixelOf(flat, i), (Bgr{170, 170, 170})) << i;

    // Saturation 0 leaves each pixel's grey level, the third of its channels' sum, rounded
    // down: every sum of three bytes once.
    Bitmap sums(766, 1);
    for (int sum = 0; sum < 766; ++sum) {
        const int b = std::min(sum, 255), g = std::min(sum - b, 255), r = sum - b - g;
        sums.Pixel(sum, 0)[0] = static_cast<uint8_t>(b);
        sums.Pixel(sum, 0)[1] = static_cast<uint8_t>(g);
        sums.Pixel(sum, 0)[2] = static_cast<uint8_t>(r);
    }
    ApplyColorAdjust(sums, 256, 0, 0);
    for (int sum = 0; sum < 766; ++sum)
        ASSERT_EQ(PixelOf(sums, sum), (Bgr{sum / 3, sum / 3, sum / 3})) << "sum " << sum;

    Bitmap at99 = GreyRamp(), at100 = GreyRamp();
    ApplyColorAdjust(at99, 300, 99, 300);
    ApplyColorAdjust(at100, 300, 100, 300);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(PixelOf(at99, i), PixelOf(at100, i)) << i;
}

TEST(FrameEffectsTest, ExposureLevels) {
    struct Case {
        float exposure;
        int in, out;
    } cases[] = {
        {0, 0, 0},     {0, 77, 77},     {0, 255, 255},   {128, 0, 0},      {128, 128, 208},
        {128, 255, 255}, {64, 200, 229}, {512, 1, 8},    {-32, 200, 174},  {-64, 64, 10},
        {-128, 128, 0}, {-255, 254, 203}, {-255, 255, 255},
    };
    for (const Case& c : cases) {
        Bitmap bitmap = OnePixel({c.in, c.in, c.in});
        ApplyExposure(bitmap, c.exposure);
        EXPECT_EQ(PixelOf(bitmap), (Bgr{c.out, c.out, c.out}))
            << "exposure " << c.exposure << " level " << c.in;
    }
}

TEST(FrameEffectsTest, BlendPixels) {
    struct Case {
        const char* name;
        int style, alpha;
        Bgr frame, picture, out;
    } cases[] = {
        {"alpha 0 keeps the frame", 1, 0, {10, 100, 250}, {200, 0, 30}, {10, 100, 250}},
        {"alpha 255 almost solid", 1, 255, {0, 100, 255}, {200, 200, 0}, {199, 199, 0}},
        {"alpha 168", 1, 168, {100, 100, 100}, {200, 0, 255}, {165, 34, 201}},
        {"multiply", 2, 168, {200, 255, 90}, {128, 0, 255}, {100, 0, 90}},
        {"white multiplies to nothing", 2, 0, {10, 128, 250}, {255, 255, 255}, {10, 128, 250}},
        {"white multiplies to nothing, any alpha", 2, 255, {10, 128, 250}, {255, 255, 255},
         {10, 128, 250}},
        {"other styles multiply", 7, 168, {200, 255, 90}, {128, 0, 255}, {100, 0, 90}},
    };
    for (const Case& c : cases) {
        Bitmap frame = OnePixel(c.frame);
        BlendPicture(frame, OnePixel(c.picture), 0, 0, c.style, c.alpha);
        EXPECT_EQ(PixelOf(frame), c.out) << c.name;
    }
}

// Each picture pixel is unique, so a misplaced or mis-clipped copy shows.
TEST(FrameEffectsTest, BlendClipsAtTheFrameEdges) {
    Bitmap picture(30, 30);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x) {
            uint8_t* p = picture.Pixel(x, y);
            p[0] = static_cast<uint8_t>(x);
            p[1] = static_cast<uint8_t>(y);
            p[2] = 200;
        }
    struct Case {
        const char* name;
        int x, y;
    } cases[] = {{"larger than the frame at (10, 10)", 10, 10},
                 {"left of and above the frame", -5, -7},
                 {"beyond the right edge", 20, 0},
                 {"beyond the bottom edge", 0, 15},
                 {"far away", 1 << 30, 1 << 30},
                 {"far before", -(1 << 30), 0}};
    for (const Case& c : cases) {
        Bitmap frame(20, 15);
        BlendPicture(frame, picture, c.x, c.y, 1, 128);
        for (int y = 0; y < 15; ++y)
            for (int x = 0; x < 20; ++x) {
                const int px = x - c.x, py = y - c.y;
                const bool covered = px >= 0 && px < 30 && py >= 0 && py < 30;
                const Bgr expected = covered ? Bgr{px * 128 >> 8, py * 128 >> 8, 100} : Bgr{0, 0, 0};
                ASSERT_EQ(PixelOf(frame, x, y), expected) << c.name << " at " << x << "," << y;
            }
    }
}

// The one-pass effects of a row give the two routines' pixels, whole or split into bands, and
// leave the frame alone where the record asks for nothing.
TEST(FrameEffectsTest, OnePassMatchesTheRoutinesInTurn) {
    std::mt19937 random(3);
    Bitmap noise(640, 480);
    for (int y = 0; y < noise.Height(); ++y)
        for (int x = 0; x < noise.Width() * Bitmap::BytesPerPixel; ++x)
            noise.Row(y)[x] = static_cast<uint8_t>(random());
    struct Case {
        int brightness, contrast, saturation, exposure;
    } cases[] = {{300, 20, 320, 40}, {255, 0, 255, -80}, {100, -60, 0, 0}, {255, 0, 255, 0}};
    for (const Case& c : cases) {
        const std::string name = std::to_string(c.brightness) + "/" + std::to_string(c.contrast) + "/" +
                                 std::to_string(c.saturation) + "/" + std::to_string(c.exposure);
        Bitmap expected = noise;
        if (ColorAdjustSet(c.brightness, c.contrast, c.saturation))
            ApplyColorAdjust(expected, c.brightness, c.contrast, c.saturation);
        if (c.exposure != 0)
            ApplyExposure(expected, static_cast<float>(c.exposure));
        const ColourEffects effects(c.brightness, c.contrast, c.saturation, static_cast<float>(c.exposure));
        Bitmap banded = noise;
        for (int first = 0; first < banded.Height(); first += 97)
            effects.Apply(banded, first, first + 97);
        for (int y = 0; y < expected.Height(); ++y)
            ASSERT_EQ(std::memcmp(banded.Row(y), expected.Row(y), expected.Width() * 3), 0) << name << " row " << y;
        EXPECT_EQ(effects.Empty(), c.brightness == 255 && c.contrast == 0 && c.saturation == 255 && c.exposure == 0);
    }
}

TEST(FrameEffectsTest, EmptyBitmapsAreLeftAlone) {
    Bitmap empty;
    ApplyColorAdjust(empty, 300, 50, 300);
    ApplyExposure(empty, 100);
    Bitmap frame = OnePixel({1, 2, 3});
    BlendPicture(frame, empty, 0, 0, 1, 255);
    BlendPicture(empty, frame, 0, 0, 1, 255);
    EXPECT_EQ(PixelOf(frame), (Bgr{1, 2, 3}));
}
