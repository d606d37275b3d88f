// Volume, the hook point, codec threads, stop requests and the size limit.

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "TranscoderTestSupport.h"
#include "engine/EngineLogger.h"
#include "support/MediaFixtures.h"

namespace kavel {
namespace {

using testing::Convert;

// A mono 16-bit WAV file of a 440 Hz tone with the given peak.
std::string ToneWav(const std::string& name, int peak, int sampleRate = 44100, double seconds = 0.5) {
    const int samples = static_cast<int>(sampleRate * seconds);
    std::string data;
    for (int i = 0; i < samples; ++i) {
        const auto value = static_cast<int16_t>(std::lrint(peak * std::sin(2 * M_PI * 440.0 * i / sampleRate)));
        data.append(reinterpret_cast<const char*>(&value), 2);
    }
    auto u32 = [](uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [](uint16_t v) { return std::string(reinterpret_cast<const char*>(&v), 2); };
    std::string file = "RIFF" + u32(36 + static_cast<uint32_t>(data.size())) + "WAVEfmt " + u32(16) + u16(1) +
                       u16(1) + u32(sampleRate) + u32(sampleRate * 2) + u16(2) + u16(16) + "data" +
                       u32(static_cast<uint32_t>(data.size())) + data;
    return fixtures::WriteFile(name, file);
}

struct SampleStats {
    int Peak = 0;
    int AtLimit = 0;  // samples at full scale
};

// The samples of a 16-bit PCM WAV file (its data chunk read as is).
SampleStats ReadWavSamples(const std::string& path) {
    SampleStats stats;
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0) {
        return stats;
    }
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(context, packet) >= 0) {
        for (int i = 0; i + 1 < packet->size; i += 2) {
            int16_t value;
            std::memcpy(&value, packet->data + i, 2);
            stats.Peak = std::max(stats.Peak, std::abs(static_cast<int>(value)));
            stats.AtLimit += value == 32767 || value == -32768;
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&context);
    return stats;
}

TEST(TranscoderVolume, ScalesAndClipsSamples) {
    const std::string source = ToneWav("tone_loud.wav", 24000);
    struct Case {
        const char* Volume;
        int Peak;
        bool Clipped;
    };
    for (const Case& c : {Case{"256", 24000, false}, Case{"128", 12000, false}, Case{"512", 32767, true}}) {
        SCOPED_TRACE(c.Volume);
        const std::string output = fixtures::TempPath(std::string("volume_") + c.Volume + ".wav");
        const auto result = Convert(source, {}, output, {{"vol", c.Volume}});
        ASSERT_TRUE(result.Transcoded) << result.Error;
        const SampleStats stats = ReadWavSamples(output);
        EXPECT_NEAR(stats.Peak, c.Peak, 2);
        EXPECT_EQ(stats.AtLimit > 0, c.Clipped);
    }
}

TEST(TranscoderVolume, AppliesToFloatingPointDecodersToo) {
    fixtures::MediaParams params;
    params.Video = false;
    params.Container = "adts";
    params.AudioStreams = 1;
    params.Seconds = 0.5;
    const std::string source = fixtures::MakeMedia(params);
    const std::string plain = fixtures::TempPath("volume_aac_256.wav");
    const std::string quiet = fixtures::TempPath("volume_aac_64.wav");
    ASSERT_TRUE(Convert(source, {}, plain, {}).Transcoded);
    ASSERT_TRUE(Convert(source, {}, quiet, {{"vol", "64"}}).Transcoded);
    EXPECT_NEAR(ReadWavSamples(quiet).Peak, ReadWavSamples(plain).Peak / 4.0, 3);
}

TEST(TranscoderHook, DrawnPicturesAreEncodedAndStopHookEndsCalls) {
    fixtures::MediaParams params;
    params.Seconds = 0.4;
    const std::string source = fixtures::MakeMedia(params);
    const std::string output = fixtures::TempPath("hook_drawn.mp4");
    std::vector<int> numbers;
    const auto result = Convert(source, {}, output, {{"vcodec", "mpeg4"}, {"qscale", "2"}}, [&](Transcoder& t) {
        t.EnableCustomHook();
        t.SetOnHook([&](const HookPoint& point) {
            numbers.push_back(point.FrameNumber);
            // Paint the top rows white on the first three pictures, then stop the hook.
            for (int y = 0; y < 16; ++y) {
                std::memset(point.Frame->data[0] + y * point.Frame->linesize[0], 235, point.Frame->width);
            }
            return point.FrameNumber < 3;
        });
    });
    ASSERT_TRUE(result.Transcoded) << result.Error;
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3}));
    const auto picture = testing::FirstPicture(output);
    ASSERT_EQ(picture.Width, 160);
    EXPECT_GT(picture.Mean(0, 0, 160, 14), 200.0);
}

TEST(TranscoderHook, AnErrorInTheHandlerLeavesThePictureAndKeepsCalling) {
    fixtures::MediaParams params;
    params.Seconds = 0.4;
    const std::string source = fixtures::MakeMedia(params);
    const std::string output = fixtures::TempPath("hook_throws.mp4");
    int calls = 0;
    const auto result = Convert(source, {}, output, {{"vcodec", "mpeg4"}}, [&](Transcoder& t) {
        t.EnableCustomHook();
        t.SetOnHook([&](const HookPoint&) -> bool {
            ++calls;
            throw std::runtime_error("drawing failed");
        });
    });
    ASSERT_TRUE(result.Transcoded) << result.Error;
    EXPECT_EQ(calls, 10);
    EXPECT_EQ(fixtures::DecodeVideo(output).Counters.size(), 10u);
}

// Pictures, their order, times and hook numbers do not depend on the codec thread count.
TEST(TranscoderThreads, SameOutputPicturesWithMoreThreads) {
    fixtures::MediaParams params;
    params.Seconds = 1.0;
    params.MaxBFrames = 2;
    const std::string source = fixtures::MakeMedia(params);
    struct Run {
        std::vector<std::pair<int, int64_t>> Hooked;
        fixtures::DecodedVideo Decoded;
    };
    auto convert = [&](int threads) {
        Run run;
        const std::string output = fixtures::TempPath("threads_" + std::to_string(threads) + ".mp4");
        const auto result = Convert(source, {}, output, {{"vcodec", "libx264"}, {"vpre", "ipod640"}},
                                    [&](Transcoder& t) {
                                        t.SetThreadCount(threads);
                                        t.EnableCustomHook();
                                        t.SetOnHook([&](const HookPoint& point) {
                                            run.Hooked.emplace_back(point.FrameNumber, point.PTS);
                                            return true;
                                        });
                                    });
        EXPECT_TRUE(result.Transcoded) << result.Error;
        run.Decoded = fixtures::DecodeVideo(output);
        return run;
    };
    const Run one = convert(1);
    const Run four = convert(4);
    EXPECT_EQ(one.Hooked.size(), 25u);
    EXPECT_EQ(one.Hooked, four.Hooked);
    EXPECT_EQ(one.Decoded.Counters, four.Decoded.Counters);
    EXPECT_EQ(one.Decoded.PtsUS, four.Decoded.PtsUS);
}

TEST(TranscoderStop, StopMidRunWritesAValidShorterFile) {
    const std::string source = fixtures::MakeMedia({.AudioStreams = 1});
    const std::string output = fixtures::TempPath("stopped.mp4");
    int passes = 0;
    const auto result = Convert(source, {}, output, {{"vcodec", "mpeg4"}}, [&](Transcoder& t) {
        t.SetCheckpoint([&] { return ++passes > 40; });
    });
    ASSERT_TRUE(result.Transcoded) << result.Error;
    EXPECT_FALSE(result.Finished);
    ASSERT_FALSE(result.Reports.empty());
    EXPECT_TRUE(result.Reports.back().Final);
    EXPECT_EQ(result.Reports.back().FileIndex, -1);

    const auto facts = testing::ReadFacts(output);
    ASSERT_TRUE(facts.Readable);
    ASSERT_NE(facts.First("video"), nullptr);
    EXPECT_GT(facts.First("video")->Packets, 0);
    EXPECT_LT(facts.First("video")->Packets, 50);
    const auto decoded = fixtures::DecodeVideo(output);
    ASSERT_FALSE(decoded.Counters.empty());
    EXPECT_EQ(decoded.Counters.front(), 0);
}

TEST(TranscoderStop, RequestStopFromAnotherCallbackEndsAtTheNextPass) {
    const std::string source = fixtures::MakeMedia({});
    const std::string output = fixtures::TempPath("stopped_request.mp4");
    int hooks = 0;
    const auto result = Convert(source, {}, output, {{"vcodec", "mpeg4"}}, [&](Transcoder& t) {
        t.EnableCustomHook();
        t.SetOnHook([&](const HookPoint&) {
            if (++hooks == 5) {
                t.RequestStop();
            }
            return true;
        });
    });
    ASSERT_TRUE(result.Transcoded) << result.Error;
    EXPECT_FALSE(result.Finished);
    EXPECT_LT(fixtures::DecodeVideo(output).Counters.size(), 10u);
}

TEST(TranscoderLimits, FileSizeLimitStopsNearIt) {
    fixtures::MediaParams params;
    params.Seconds = 2.0;
    const std::string source = fixtures::MakeMedia(params);
    const std::string output = fixtures::TempPath("size_limited.avi");
    const auto result = Convert(source, {}, output, {{"vcodec", "mpeg4"}, {"qscale", "2"}, {"fs", "20000"}});
    ASSERT_TRUE(result.Transcoded) << result.Error;
    EXPECT_TRUE(result.Finished);
    const auto size = std::filesystem::file_size(output);
    EXPECT_GE(size, 20000u);
    EXPECT_LT(size, 40000u);
    const auto decoded = fixtures::DecodeVideo(output);
    EXPECT_LT(decoded.Counters.size(), 50u);
    EXPECT_GT(decoded.Counters.size(), 0u);
}

TEST(TranscoderLimits, FrameLimitEndsTheVideo) {
    const std::string source = fixtures::MakeMedia({});
    const std::string output = fixtures::TempPath("frame_limited.mp4");
    const auto result = Convert(source, {}, output, {{"vcodec", "mpeg4"}, {"vframes", "7"}});
    ASSERT_TRUE(result.Transcoded) << result.Error;
    EXPECT_EQ(fixtures::DecodeVideo(output).Counters, (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
}

TEST(TranscoderProgress, ReportsCarryFiguresAndText) {
    const std::string source = fixtures::MakeMedia({.AudioStreams = 1});
    const std::string output = fixtures::TempPath("progress.mp4");
    const auto result = Convert(source, {}, output, {{"vcodec", "mpeg4"}});
    ASSERT_TRUE(result.Transcoded) << result.Error;
    ASSERT_FALSE(result.Reports.empty());
    const ProgressReport& last = result.Reports.back();
    EXPECT_TRUE(last.Final);
    EXPECT_EQ(last.FrameNumber, 50);
    EXPECT_NEAR(static_cast<double>(last.TotalDuration), 2e6, 5e4);
    EXPECT_NEAR(static_cast<double>(last.CurrentDuration), 2e6, 1e5);
    EXPECT_EQ(last.TotalSize, static_cast<int64_t>(std::filesystem::file_size(output)));
    EXPECT_EQ(last.Text.rfind("frame=   50 fps=", 0), 0u) << last.Text;
    EXPECT_NE(last.Text.find(" L"), std::string::npos);
    EXPECT_NE(last.Text.find("size="), std::string::npos);
    EXPECT_EQ(last.Text.find("dup="), std::string::npos);
}

}  // namespace
}  // namespace kavel

namespace kavel {
namespace {

// Audio that starts 0.5 s late: with "async" 1 the output begins with that much silence;
// without it the tone starts at once.
TEST(TranscoderAudioSync, LateAudioIsPrecededBySilence) {
    const std::string source = ToneWav("tone_for_sync.wav", 12000, 8000, 0.5);
    for (const char* sync : {"1", "0"}) {
        SCOPED_TRACE(sync);
        const std::string output = fixtures::TempPath(std::string("async_") + sync + ".wav");
        const auto result = testing::Convert(source, {{"itsoffset", "0.5"}}, output, {{"async", sync}});
        ASSERT_TRUE(result.Transcoded) << result.Error;
        AVFormatContext* context = nullptr;
        ASSERT_GE(avformat_open_input(&context, output.c_str(), nullptr, nullptr), 0);
        std::vector<int16_t> samples;
        AVPacket* packet = av_packet_alloc();
        while (av_read_frame(context, packet) >= 0) {
            const auto* data = reinterpret_cast<const int16_t*>(packet->data);
            samples.insert(samples.end(), data, data + packet->size / 2);
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
        avformat_close_input(&context);
        int firstSound = -1;
        for (size_t i = 0; i < samples.size() && firstSound < 0; ++i) {
            firstSound = std::abs(samples[i]) > 100 ? static_cast<int>(i) : -1;
        }
        if (sync[0] == '1') {
            EXPECT_NEAR(firstSound, 4000, 10);
            EXPECT_NEAR(static_cast<double>(samples.size()), 8000, 10);
        } else {
            EXPECT_LT(firstSound, 10);
            EXPECT_NEAR(static_cast<double>(samples.size()), 4000, 10);
        }
    }
}

TEST(TranscoderPreview, OffersWrittenPicturesAtTheOutputSize) {
    const std::string source = fixtures::MakeMedia({.Seconds = 0.4});
    const std::string output = fixtures::TempPath("preview.mp4");
    std::vector<std::pair<int, int>> sizes;
    const auto result = testing::Convert(source, {}, output, {{"vcodec", "mpeg4"}, {"s", "96x64"}}, [&](Transcoder& t) {
        t.SetPreviewFlags(Transcoder::PreviewBitmapFlag);
        t.SetOnPreview([&](const PreviewPoint& point) {
            sizes.emplace_back(point.Frame->width, point.Frame->height);
            return true;
        });
    });
    ASSERT_TRUE(result.Transcoded) << result.Error;
    ASSERT_FALSE(sizes.empty());
    EXPECT_EQ(sizes.front(), (std::pair<int, int>{96, 64}));
}

}  // namespace
}  // namespace kavel

namespace kavel {
namespace {

// A rate the encoder does not take becomes its closest one, with a warning.
TEST(TranscoderAudioRate, UnsupportedRateFallsBackToTheClosest) {
    const std::string source = ToneWav("tone_44100.wav", 8000, 44100, 0.3);
    const std::string output = fixtures::TempPath("closest_rate.ogg");
    EngineLogger& logger = EngineLogger::Instance();
    const bool inMainThread = logger.GetTriggerEventInMainThread();
    logger.SetTriggerEventInMainThread(false);
    std::vector<std::string> warnings;
    logger.SetOnLog([&](const void*, uint32_t, LogLevel level, const std::string& message) {
        if (level == llWarning) {
            warnings.push_back(message);
        }
    });
    const auto result = testing::Convert(source, {}, output, {{"acodec", "libopus"}, {"ar", "44100"}});
    logger.SetOnLog(nullptr);
    logger.SetTriggerEventInMainThread(inMainThread);
    ASSERT_TRUE(result.Transcoded) << result.Error;
    EXPECT_NE(std::find(warnings.begin(), warnings.end(),
                        "Requested sampling rate unsupported using closest supported (48000)"),
              warnings.end());
    EXPECT_EQ(fixtures::DecodeAudio(output).SampleRate, 48000);
}

}  // namespace
}  // namespace kavel

namespace kavel {
namespace {

// "rc_override" groups of start,end,q separated by "/" reach the encoder; anything else is
// refused when the stream is created.
TEST(TranscoderRateControl, OverrideTextIsParsed) {
    const std::string source = fixtures::MakeMedia({.Seconds = 0.4});
    const auto good = Convert(source, {}, fixtures::TempPath("rc_override.m4v"),
                              {{"vcodec", "mpeg4"}, {"b", "800000"}, {"rc_override", "0,4,31/5,9,-50"}});
    EXPECT_TRUE(good.Transcoded) << good.Error;
    for (const char* text : {"0,4", "a,b,c", "0,4,2/x"}) {
        SCOPED_TRACE(text);
        const auto bad = Convert(source, {}, fixtures::TempPath("rc_bad.m4v"),
                                 {{"vcodec", "mpeg4"}, {"rc_override", text}});
        EXPECT_EQ(bad.Error, "new_video_stream fail: error parsing rc_override");
    }
}

}  // namespace
}  // namespace kavel

namespace kavel {
namespace {

// Before any output stream has written something the report's time is 1e10 s.
TEST(TranscoderProgress, TimeBeforeAnyOutputIsTenBillionSeconds) {
    const std::string source = ToneWav("tone_progress.wav", 8000, 44100, 1.0);
    const auto result = Convert(source, {}, fixtures::TempPath("progress_early.aac"), {{"acodec", "aac"}},
                                [](Transcoder& t) { t.SetProgressInterval(0); });
    ASSERT_TRUE(result.Transcoded) << result.Error;
    ASSERT_GE(result.Reports.size(), 2u);
    EXPECT_EQ(result.Reports.front().CurrentDuration, 10'000'000'000'000'000);
    EXPECT_LT(result.Reports.front().BitRate, 0.001f);
    EXPECT_NEAR(static_cast<double>(result.Reports.back().CurrentDuration), 1e6, 5e4);
}

// A video stream that never wrote a picture: no progress event at all, not even the final one.
TEST(TranscoderProgress, NoEventBeforeTheFirstPicture) {
    const std::string source = fixtures::MakeMedia({.Seconds = 0.4, .AudioStreams = 1});
    const auto result = Convert(source, {}, fixtures::TempPath("no_pictures.mp4"),
                                {{"vcodec", "mpeg4"}, {"vframes", "0"}},
                                [](Transcoder& t) { t.SetProgressInterval(0); });
    ASSERT_TRUE(result.Transcoded) << result.Error;
    EXPECT_TRUE(result.Reports.empty());
}

}  // namespace
}  // namespace kavel
