#include <gtest/gtest.h>

#include <vector>

#include "support/MediaFixtures.h"

namespace kavel {
namespace {

using fixtures::CounterGeometry;

// A picture in the engine's bitmap layout, grey levels copied from a drawn counter.
std::vector<uint8_t> BgrPicture(int number, int width, int height) {
    std::vector<uint8_t> luma(static_cast<size_t>(width) * height);
    fixtures::DrawFrameCounter(number, luma.data(), width, height, width);
    std::vector<uint8_t> bgr(luma.size() * 3);
    for (size_t i = 0; i < luma.size(); ++i) {
        bgr[i * 3] = bgr[i * 3 + 1] = bgr[i * 3 + 2] = luma[i];
    }
    return bgr;
}

TEST(MediaFixturesTest, CounterReadsBackFromDrawnPicture) {
    for (int number : {0, 1, 2, 7, 100, 1234, fixtures::kMaxFrameCounter}) {
        const std::vector<uint8_t> bgr = BgrPicture(number, 64, 48);
        EXPECT_EQ(fixtures::ReadFrameCounterBgr(bgr.data(), 64, 48, 64 * 3), number) << number;
    }
}

TEST(MediaFixturesTest, CounterReadsBackThroughCropAndPadding) {
    // Source 160x120 with 20 pixels cropped on the left and 15 at the top (fractions 0.125),
    // then placed at (10, 5) in a larger padded picture.
    const int sourceWidth = 160, sourceHeight = 120;
    const std::vector<uint8_t> source = BgrPicture(321, sourceWidth, sourceHeight);
    const int keptWidth = 140, keptHeight = 105;
    const int width = 170, height = 120;
    std::vector<uint8_t> picture(static_cast<size_t>(width) * height * 3, 0);
    for (int y = 0; y < keptHeight; ++y) {
        for (int x = 0; x < keptWidth; ++x) {
            for (int c = 0; c < 3; ++c) {
                picture[((y + 5) * width + x + 10) * 3 + c] =
                    source[((y + 15) * sourceWidth + x + 20) * 3 + c];
            }
        }
    }
    CounterGeometry geometry;
    geometry.SourceLeft = 0.125;
    geometry.SourceTop = 0.125;
    geometry.PictureX = 10;
    geometry.PictureY = 5;
    geometry.PictureWidth = keptWidth;
    geometry.PictureHeight = keptHeight;
    EXPECT_EQ(fixtures::ReadFrameCounterBgr(picture.data(), width, height, width * 3, geometry),
              321);
}

TEST(MediaFixturesTest, UnreadablePictureGivesMinusOne) {
    std::vector<uint8_t> white(64 * 48 * 3, 255);
    EXPECT_EQ(fixtures::ReadFrameCounterBgr(white.data(), 64, 48, 64 * 3), -1);
    std::vector<uint8_t> black(64 * 48 * 3, 0);
    EXPECT_EQ(fixtures::ReadFrameCounterBgr(black.data(), 64, 48, 64 * 3), -1);
}

struct EncodedCase {
    const char* Name;
    fixtures::MediaParams Params;
    size_t Frames;
};

TEST(MediaFixturesTest, EncodedFramesCarryTheirNumbers) {
    const EncodedCase cases[] = {
        {"mp4 mpeg4 25 fps", {}, 50},
        {"avi 29.97 fps", {.Container = "avi", .Seconds = 1.0, .FrameRate = {30000, 1001}}, 30},
        {"mjpeg 4:2:2 small",
         {.Container = "avi",
          .Seconds = 1.0,
          .Width = 64,
          .Height = 48,
          .PixelFormat = AV_PIX_FMT_YUVJ422P,
          .VideoCodec = "mjpeg"},
         25},
        {"raw stream", fixtures::NoDurationParams(), 50},
    };
    for (const EncodedCase& c : cases) {
        const fixtures::DecodedVideo video = fixtures::DecodeVideo(fixtures::MakeMedia(c.Params));
        ASSERT_EQ(video.Counters.size(), c.Frames) << c.Name;
        for (size_t i = 0; i < video.Counters.size(); ++i) {
            EXPECT_EQ(video.Counters[i], static_cast<int>(i)) << c.Name << " picture " << i;
        }
        EXPECT_EQ(video.Width, c.Params.Width) << c.Name;
    }
}

TEST(MediaFixturesTest, AudioStreamsHaveTheirOwnToneAndLength) {
    const std::string file = fixtures::MakeMedia({.Container = "matroska",
                                                  .Video = false,
                                                  .AudioStreams = 2,
                                                  .Channels = 1,
                                                  .SampleRate = 48000,
                                                  .AudioSeconds = {2.0, 1.0}});
    const fixtures::DecodedAudio first = fixtures::DecodeAudio(file, 0);
    const fixtures::DecodedAudio second = fixtures::DecodeAudio(file, 1);
    EXPECT_EQ(first.Channels, 1);
    EXPECT_EQ(first.SampleRate, 48000);
    EXPECT_NEAR(first.ToneHz, 440.0, 5.0);
    EXPECT_NEAR(second.ToneHz, 660.0, 5.0);
    EXPECT_NEAR(static_cast<double>(first.Samples), 96000.0, 2048.0);
    EXPECT_NEAR(static_cast<double>(second.Samples), 48000.0, 2048.0);
    EXPECT_GT(first.Peak, 0.25);  // a 0.3 sine; the codec overshoots at its abrupt start
    EXPECT_LT(first.Peak, 0.5);
}

TEST(MediaFixturesTest, SameParametersGiveTheSameFile) {
    const fixtures::MediaParams params{.Seconds = 0.5};
    EXPECT_EQ(fixtures::MakeMedia(params), fixtures::MakeMedia(params));
    EXPECT_NE(fixtures::MakeMedia(params), fixtures::MakeMedia({.Seconds = 0.6}));
}

}  // namespace
}  // namespace kavel
