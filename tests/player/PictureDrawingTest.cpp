#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "player/PictureDrawing.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace kavel {
namespace {

struct FitCase {
    const char* Name;
    int AreaWidth;
    int AreaHeight;
    double Aspect;
    PictureRect Expected;
};

class FitPictureTest : public testing::TestWithParam<FitCase> {};

TEST_P(FitPictureTest, FitsAndCentres) {
    const FitCase& c = GetParam();
    const PictureRect rect = FitPicture(c.AreaWidth, c.AreaHeight, c.Aspect);
    EXPECT_EQ(rect.X, c.Expected.X);
    EXPECT_EQ(rect.Y, c.Expected.Y);
    EXPECT_EQ(rect.Width, c.Expected.Width);
    EXPECT_EQ(rect.Height, c.Expected.Height);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FitPictureTest,
    testing::Values(FitCase{"SameAspect", 160, 120, 4.0 / 3.0, {0, 0, 160, 120}},
                    FitCase{"WideInSquare", 200, 200, 16.0 / 9.0, {0, 44, 200, 112}},
                    FitCase{"HeightMadeEven", 201, 300, 1.0, {0, 50, 201, 200}},
                    FitCase{"NarrowInWide", 320, 120, 4.0 / 3.0, {80, 0, 160, 120}},
                    FitCase{"WidthMadeEven", 101, 75, 1.0, {13, 0, 74, 75}},
                    FitCase{"NoArea", 0, 0, 1.0, {0, 0, 0, 0}}),
    [](const testing::TestParamInfo<FitCase>& info) { return std::string(info.param.Name); });

TEST(DisplayAspectTest, FollowsTheSetting) {
    EXPECT_DOUBLE_EQ(DisplayAspect(2.0f, 160, 120, 0, 1, 300, 100), 2.0);
    EXPECT_DOUBLE_EQ(DisplayAspect(0.0f, 160, 120, 0, 1, 300, 100), 160.0 / 120.0);
    EXPECT_DOUBLE_EQ(DisplayAspect(0.0f, 160, 120, 2, 1, 300, 100), 2 * 160.0 / 120.0);
    EXPECT_DOUBLE_EQ(DisplayAspect(-1.0f, 160, 120, 0, 1, 300, 100), 3.0);
}

struct ColourCase {
    int Red, Green, Blue;
    int Y, Cb, Cr;
};

TEST(RgbToYuv601Test, StudioRange) {
    const ColourCase cases[] = {
        {0, 0, 0, 16, 128, 128},       {255, 255, 255, 235, 128, 128}, {255, 0, 0, 82, 90, 240},
        {0, 255, 0, 145, 54, 34},      {0, 0, 255, 41, 240, 110},
    };
    for (const ColourCase& c : cases) {
        const YuvColor color = RgbToYuv601(c.Red, c.Green, c.Blue);
        EXPECT_NEAR(color.Y, c.Y, 1) << c.Red << "," << c.Green << "," << c.Blue;
        EXPECT_NEAR(color.Cb, c.Cb, 1) << c.Red << "," << c.Green << "," << c.Blue;
        EXPECT_NEAR(color.Cr, c.Cr, 1) << c.Red << "," << c.Green << "," << c.Blue;
    }
}

// A 4 x 4 subtitle rectangle at (2, 2) in a grey 8 x 8 picture: opaque white left half,
// transparent right half.
TEST(BlendSubtitleRectTest, BlendsLumaPerPixelAndChromaPerBlock) {
    AVFrame* picture = av_frame_alloc();
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = 8;
    picture->height = 8;
    ASSERT_GE(av_frame_get_buffer(picture, 0), 0);
    for (int plane = 0; plane < 3; ++plane) {
        const int rows = plane == 0 ? 8 : 4;
        std::memset(picture->data[plane], plane == 0 ? 100 : 128, static_cast<size_t>(picture->linesize[plane]) * rows);
    }
    std::vector<uint8_t> indexes(16);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            indexes[y * 4 + x] = x < 2 ? 1 : 0;
        }
    }
    uint32_t palette[2] = {0x00000000u, 0xFFFF0000u};  // transparent, opaque red
    AVSubtitleRect rect{};
    rect.type = SUBTITLE_BITMAP;
    rect.x = 2;
    rect.y = 2;
    rect.w = 4;
    rect.h = 4;
    rect.nb_colors = 2;
    rect.data[0] = indexes.data();
    rect.linesize[0] = 4;
    rect.data[1] = reinterpret_cast<uint8_t*>(palette);

    PaletteToYuva(rect);
    BlendSubtitleRect(*picture, rect);

    const YuvColor red = RgbToYuv601(255, 0, 0);
    EXPECT_EQ(picture->data[0][2 * picture->linesize[0] + 2], red.Y);
    EXPECT_EQ(picture->data[0][2 * picture->linesize[0] + 4], 100);
    EXPECT_EQ(picture->data[0][0], 100);
    // Chroma block (1, 1) covers pixels 2..3 of rows 2..3: all opaque red.
    EXPECT_EQ(picture->data[2][1 * picture->linesize[2] + 1], red.Cr);
    // Block (2, 1) is fully transparent.
    EXPECT_EQ(picture->data[2][1 * picture->linesize[2] + 2], 128);
    av_frame_free(&picture);
}

TEST(WaveformTest, DrawsTheToneAndTheBandLine) {
    std::vector<int16_t> history(4096);
    for (size_t i = 0; i < history.size(); ++i) {
        history[i] = static_cast<int16_t>((i / 2) % 40 < 20 ? 16000 : -16000);
    }
    Bitmap area(64, 40);
    const int start = WaveformStart(history.data(), static_cast<int>(history.size()), 2000, 2, 128);
    DrawWaveform(area, history.data(), static_cast<int>(history.size()), start, 2);
    int white = 0;
    for (int y = 0; y < area.Height(); ++y) {
        for (int x = 0; x < area.Width(); ++x) {
            white += area.Pixel(x, y)[0] == 0xFF;
        }
    }
    EXPECT_GT(white, area.Width());  // more than the line between the bands
    EXPECT_EQ(area.Pixel(5, 20)[1], 0xFF);
}

}  // namespace
}  // namespace kavel
