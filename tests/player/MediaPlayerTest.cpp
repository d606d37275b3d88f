#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "PlayerTestSupport.h"
#include "engine/FFmpegLoader.h"
#include "support/MediaFixtures.h"

namespace kavel {
namespace {

using playertest::MemorySurface;
using playertest::PlayerRecorder;
using playertest::PlayerTest;
using playertest::WaitFor;

constexpr int Width = 160;
constexpr int Height = 120;

// One second of 160 x 120 video at 25 fps; every picture a key frame, so that seeks land on the
// exact picture.
std::string ShortClip() { return fixtures::MakeMedia({.Seconds = 1.0, .GopSize = 1}); }

int ShownCounter(const MemorySurface& surface) {
    const Bitmap picture = surface.Last();
    if (picture.Empty()) {
        return -1;
    }
    return fixtures::ReadFrameCounterBgr(picture.Data(), picture.Width(), picture.Height(), picture.Stride());
}

bool IsRed(const uint8_t* pixel) { return pixel[2] > 200 && pixel[1] < 60 && pixel[0] < 60; }

class MediaPlayerTest : public PlayerTest {
protected:
    // The player goes first, before what it reports to.
    MemorySurface surface{Width, Height};
    PlayerRecorder recorder;
    MediaPlayer player;

    void SetUp() override {
        PlayerTest::SetUp();
        recorder.Attach(player);
    }

    void OpenAndWaitForPicture(const std::string& path) {
        ASSERT_TRUE(player.Open(path, &surface)) << player.LastErrorMessage();
        ASSERT_TRUE(WaitFor([&] { return surface.Shown() > 0 && !recorder.Positions.empty(); }));
    }
};

TEST_F(MediaPlayerTest, PlaysAFileFromOpenToEnd) {
    ASSERT_TRUE(player.Open(ShortClip(), &surface)) << player.LastErrorMessage();
    EXPECT_EQ(recorder.FileOpens, 1);
    EXPECT_NEAR(static_cast<double>(recorder.Duration), 1000000.0, 50000.0);
    EXPECT_EQ(recorder.FrameWidth, Width);
    EXPECT_EQ(recorder.FrameHeight, Height);
    EXPECT_EQ(player.ScreenWidth(), Width);
    EXPECT_EQ(player.ScreenHeight(), Height);

    ASSERT_TRUE(WaitFor([&] { return recorder.Saw(psEnd); })) << "no end";
    ASSERT_FALSE(recorder.States.empty());
    EXPECT_EQ(recorder.States.front(), psPlay);
    ASSERT_GE(recorder.Positions.size(), 3u);
    for (size_t i = 1; i < recorder.Positions.size(); ++i) {
        EXPECT_GE(recorder.Positions[i], recorder.Positions[i - 1]);
    }
    EXPECT_TRUE(WaitFor([&] { return recorder.LastPosition() == recorder.Duration; }));
    EXPECT_EQ(recorder.Count(psEnd), 1);

    player.Stop(true);
    EXPECT_TRUE(WaitFor([&] { return recorder.Saw(psStop); }));
    EXPECT_EQ(player.State(), psStop);
}

TEST_F(MediaPlayerTest, PauseThenResumeGoesOnToTheEnd) {
    OpenAndWaitForPicture(ShortClip());
    player.Pause();
    player.Pause();
    ASSERT_TRUE(WaitFor([&] { return recorder.Saw(psPause); }));
    EXPECT_EQ(player.State(), psPause);
    player.Resume();
    player.Resume();
    ASSERT_TRUE(WaitFor([&] { return recorder.Saw(psEnd); }));
    EXPECT_EQ(recorder.Count(psPause), 1);
    EXPECT_EQ(recorder.Count(psResume), 1);
}

TEST_F(MediaPlayerTest, SeekWhilePausedShowsTheNewPlaceAndStaysPaused) {
    OpenAndWaitForPicture(ShortClip());
    player.Pause();
    player.Seek(600000, 0, true);
    ASSERT_TRUE(WaitFor([&] { return ShownCounter(surface) == 15; })) << "shows " << ShownCounter(surface);
    ASSERT_TRUE(WaitFor([&] { return recorder.LastPosition() >= 560000 && recorder.LastPosition() <= 640000; }))
        << recorder.LastPosition();
    EXPECT_EQ(player.State(), psPause);
    EXPECT_FALSE(recorder.Saw(psResume));
    EXPECT_FALSE(recorder.Saw(psEnd));
}

TEST_F(MediaPlayerTest, SeekBeyondTheDurationLandsAtTheDuration) {
    OpenAndWaitForPicture(ShortClip());
    player.Seek(10000000, 0, false);
    ASSERT_TRUE(WaitFor([&] { return recorder.Saw(psEnd); }));
    EXPECT_TRUE(WaitFor([&] { return recorder.LastPosition() == recorder.Duration; })) << recorder.LastPosition();
}

TEST_F(MediaPlayerTest, RewindWithAnyFrameThenPauseShowsTheFirstPicture) {
    OpenAndWaitForPicture(ShortClip());
    ASSERT_TRUE(WaitFor([&] { return ShownCounter(surface) >= 5; }));
    player.Seek(0, 4, false);
    player.Pause();
    ASSERT_TRUE(WaitFor([&] { return ShownCounter(surface) == 0; })) << "shows " << ShownCounter(surface);
    int64_t pts = -1;
    const Bitmap& frame = player.CurrentFrame(pts);
    EXPECT_EQ(fixtures::ReadFrameCounterBgr(frame.Data(), frame.Width(), frame.Height(), frame.Stride()), 0);
    EXPECT_EQ(pts, 0);
    EXPECT_EQ(player.State(), psPause);
}

TEST_F(MediaPlayerTest, SoundOnlyFileDrawsAWaveformAndEnds) {
    const std::string path = fixtures::MakeMedia(
        {.Container = "wav", .Seconds = 1.0, .Video = false, .AudioStreams = 1, .AudioCodec = "pcm_s16le"});
    ASSERT_TRUE(player.Open(path, &surface)) << player.LastErrorMessage();
    EXPECT_EQ(recorder.FrameWidth, -1);
    EXPECT_EQ(recorder.FrameHeight, -1);
    auto lit = [&] {
        const Bitmap picture = surface.Last();
        for (int y = 0; y < picture.Height(); ++y) {
            for (int x = 0; x < picture.Width(); ++x) {
                if (picture.Pixel(x, y)[0] != 0) {
                    return true;
                }
            }
        }
        return false;
    };
    EXPECT_TRUE(WaitFor(lit));
    ASSERT_TRUE(WaitFor([&] { return recorder.Saw(psEnd); }));
    EXPECT_EQ(player.CurrentFrame().Width(), 0);
}

// Planar float sound from the decoder goes through the converter to 16-bit output, and the
// sound's clock leads the pictures to the end.
TEST_F(MediaPlayerTest, VideoWithCompressedSoundPlaysToTheEnd) {
    player.SetAudioVolume(64);
    const std::string path = fixtures::MakeMedia({.Seconds = 1.0, .AudioStreams = 1});
    OpenAndWaitForPicture(path);
    EXPECT_EQ(recorder.FrameWidth, Width);
    ASSERT_TRUE(WaitFor([&] { return recorder.Saw(psEnd); }));
    EXPECT_GT(recorder.Positions.size(), 3u);
    EXPECT_GT(ShownCounter(surface), 15);
    EXPECT_GT(recorder.LastPosition(), 800000);
}

TEST_F(MediaPlayerTest, FileWithOnlySubtitlesFails) {
    const std::string path =
        fixtures::WriteFile("only.srt", "1\n00:00:00,000 --> 00:00:01,000\nHello\n\n2\n00:00:01,000 --> 00:00:02,000\nWorld\n\n");
    EXPECT_FALSE(player.Open(path, &surface));
    EXPECT_EQ(player.LastErrorMessage(), path + ": could not open codecs, no stream to play.");
    EXPECT_EQ(recorder.FileOpens, 0);
    int64_t pts = 0;
    EXPECT_TRUE(player.CurrentFrame(pts).Empty());
}

TEST_F(MediaPlayerTest, MissingFileFailsWithTheLibraryText) {
    const std::string path = fixtures::TempPath("missing.mp4");
    EXPECT_FALSE(player.Open(path, &surface));
    EXPECT_EQ(player.LastErrorMessage(), path + ": No such file or directory");
}

TEST_F(MediaPlayerTest, HookDrawingIsShown) {
    player.SetHook(true);
    player.SetOnHook([](MediaPlayer&, Bitmap& bitmap, int64_t) {
        for (int y = 20; y < 60; ++y) {
            for (int x = 20; x < 60; ++x) {
                uint8_t* pixel = bitmap.Pixel(x, y);
                pixel[0] = 0;
                pixel[1] = 0;
                pixel[2] = 255;
            }
        }
    });
    OpenAndWaitForPicture(ShortClip());
    EXPECT_TRUE(WaitFor([&] { return IsRed(surface.Last().Pixel(40, 40)); }));
}

TEST_F(MediaPlayerTest, ThrowingHookLeavesThePictureAsDecoded) {
    player.SetHook(true);
    player.SetOnHook([](MediaPlayer&, Bitmap& bitmap, int64_t) {
        std::memset(bitmap.Row(40), 0, static_cast<size_t>(bitmap.Stride()) * 20);
        throw std::runtime_error("hook failed");
    });
    OpenAndWaitForPicture(ShortClip());
    ASSERT_TRUE(WaitFor([&] { return ShownCounter(surface) >= 3; }));
    ASSERT_TRUE(WaitFor([&] { return recorder.Saw(psEnd); }));
}

// A wider drawing area shows the picture centred between black bars; an aspect of -1 then
// stretches it over the whole area.
TEST_F(MediaPlayerTest, ResizeAndAspectChangeRedrawThePausedPicture) {
    OpenAndWaitForPicture(ShortClip());
    player.Pause();
    ASSERT_TRUE(WaitFor([&] { return recorder.Saw(psPause); }));
    auto litAt = [&](int x) {
        const Bitmap picture = surface.Last();
        if (picture.Width() != 2 * Width) {
            return false;
        }
        int sum = 0;
        for (int y = 0; y < picture.Height(); ++y) {
            const uint8_t* pixel = picture.Pixel(x, y);
            sum += pixel[0] + pixel[1] + pixel[2];
        }
        return sum > 0;
    };
    player.SurfaceResized(2 * Width, Height);
    ASSERT_TRUE(WaitFor([&] { return surface.Last().Width() == 2 * Width; }));
    EXPECT_EQ(player.ScreenWidth(), 2 * Width);
    EXPECT_FALSE(litAt(10));
    EXPECT_TRUE(litAt(Width));
    player.SetAspectRatio(-1.0f);
    EXPECT_TRUE(WaitFor([&] { return litAt(10); }));
    EXPECT_EQ(player.State(), psPause);
}

TEST_F(MediaPlayerTest, CurrentFrameIsEmptyWithNothingOpen) {
    int64_t pts = 0;
    const Bitmap& frame = player.CurrentFrame(pts);
    EXPECT_EQ(frame.Width(), 0);
    EXPECT_EQ(frame.Height(), 0);
    EXPECT_EQ(pts, -1);
}

TEST_F(MediaPlayerTest, CurrentFrameHasTheDecodedSize) {
    OpenAndWaitForPicture(ShortClip());
    int64_t pts = -1;
    const Bitmap& frame = player.CurrentFrame(pts);
    EXPECT_EQ(frame.Width(), Width);
    EXPECT_EQ(frame.Height(), Height);
    EXPECT_GE(pts, 0);
    EXPECT_GE(fixtures::ReadFrameCounterBgr(frame.Data(), frame.Width(), frame.Height(), frame.Stride()), 0);
}

TEST_F(MediaPlayerTest, StopWithWaitEndsPlayback) {
    OpenAndWaitForPicture(fixtures::MakeMedia({.Seconds = 2.0}));
    player.Stop(true);
    EXPECT_EQ(player.State(), psStop);
    EXPECT_TRUE(WaitFor([&] { return recorder.Saw(psStop); }));
    EXPECT_FALSE(recorder.Saw(psEnd));
    int64_t pts = 0;
    EXPECT_TRUE(player.CurrentFrame(pts).Empty());
    EXPECT_EQ(player.Position(), -1);
}

TEST_F(MediaPlayerTest, OpeningASecondFileStopsTheFirst) {
    OpenAndWaitForPicture(fixtures::MakeMedia({.Seconds = 2.0}));
    ASSERT_TRUE(player.Open(ShortClip(), &surface)) << player.LastErrorMessage();
    EXPECT_EQ(recorder.FileOpens, 2);
    ASSERT_TRUE(WaitFor([&] { return recorder.Saw(psEnd); }));
    // First file: psPlay ... psStop; second: psPlay ... psEnd.
    ASSERT_GE(recorder.States.size(), 4u);
    EXPECT_EQ(recorder.States[0], psPlay);
    EXPECT_EQ(recorder.Count(psStop), 1);
    EXPECT_EQ(recorder.Count(psPlay), 2);
    EXPECT_NEAR(static_cast<double>(recorder.Duration), 1000000.0, 50000.0);
}

TEST_F(MediaPlayerTest, OpenFailsWithoutLibraries) {
    UnloadLibraries(MediaPlayer::PlayerLibraries);
    EXPECT_FALSE(player.LibrariesLoaded());
    EXPECT_FALSE(player.Open(ShortClip(), &surface));
    EXPECT_EQ(player.LastErrorMessage(), "libav or libsdl not loaded.");
    ASSERT_TRUE(player.LoadLibraries(""));
    EXPECT_TRUE(player.Open(ShortClip(), &surface)) << player.LastErrorMessage();
}

}  // namespace
}  // namespace kavel
