// Whole conversions of generated clips, read back and checked.

#include <gtest/gtest.h>

#include <cmath>

#include "TranscoderTestSupport.h"
#include "support/MediaFixtures.h"

namespace kavel {
namespace {

using testing::Convert;
using testing::ReadFacts;

struct ConversionCase {
    const char* Name;
    fixtures::MediaParams Source;
    testing::Options OutputOptions;
    const char* Extension;
    int StreamCount;
    // Video expectations (codec empty = no video stream).
    const char* VideoCodec;
    int Width;
    int Height;
    double FrameRate;
    const char* PixelFormat;
    // Audio expectations (codec empty = no audio stream).
    const char* AudioCodec;
    int SampleRate;
    int Channels;
    double Seconds;
};

fixtures::MediaParams ClipWithTone() {
    fixtures::MediaParams params;
    params.Seconds = 1.0;
    params.AudioStreams = 1;
    return params;
}

fixtures::MediaParams ToneOnly() {
    fixtures::MediaParams params;
    params.Container = "wav";
    params.Video = false;
    params.Seconds = 1.0;
    params.AudioStreams = 1;
    params.AudioCodec = "pcm_s16le";
    return params;
}

class ConversionTable : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(ConversionTable, OutputReadsBackAsAsked) {
    const ConversionCase& c = GetParam();
    const std::string source = fixtures::MakeMedia(c.Source);
    const std::string output = fixtures::TempPath(std::string("conversion_") + c.Name + "." + c.Extension);
    const auto result = Convert(source, {}, output, c.OutputOptions);
    ASSERT_TRUE(result.Transcoded) << result.Error;
    EXPECT_TRUE(result.Finished);

    const auto facts = ReadFacts(output);
    ASSERT_TRUE(facts.Readable);
    // Navigation packets of disc formats read back as a data stream; they are not counted.
    int mediaStreams = 0;
    for (const auto& stream : facts.Streams) {
        mediaStreams += stream.Kind != "data";
    }
    EXPECT_EQ(mediaStreams, c.StreamCount);
    const auto* video = facts.First("video");
    if (c.VideoCodec[0]) {
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(video->Codec, c.VideoCodec);
        EXPECT_EQ(video->Width, c.Width);
        EXPECT_EQ(video->Height, c.Height);
        EXPECT_NEAR(video->FrameRate, c.FrameRate, 0.01);
        EXPECT_EQ(video->PixelFormat, c.PixelFormat);
        EXPECT_NEAR(video->Seconds, c.Seconds, 1.0 / c.FrameRate + 1e-6);
    } else {
        EXPECT_EQ(video, nullptr);
    }
    const auto* audio = facts.First("audio");
    if (c.AudioCodec[0]) {
        ASSERT_NE(audio, nullptr);
        EXPECT_EQ(audio->Codec, c.AudioCodec);
        EXPECT_EQ(audio->SampleRate, c.SampleRate);
        EXPECT_EQ(audio->Channels, c.Channels);
        // An audio frame holds up to 2048 samples, plus the encoder's priming.
        EXPECT_NEAR(audio->Seconds, c.Seconds, 0.1);
    } else {
        EXPECT_EQ(audio, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ConversionTable,
    ::testing::Values(
        ConversionCase{"mpeg4_mp4", ClipWithTone(), {{"vcodec", "mpeg4"}, {"s", "176x144"}, {"ar", "48000"}},
                       "mp4", 2, "mpeg4", 176, 144, 25, "yuv420p", "aac", 48000, 2, 1.0},
        ConversionCase{"h264_ipod_mp4", ClipWithTone(),
                       {{"vcodec", "libx264"}, {"vpre", "ipod320"}, {"s", "320x240"}, {"ac", "1"}},
                       "mp4", 2, "h264", 320, 240, 25, "yuv420p", "aac", 44100, 1, 1.0},
        ConversionCase{"mpeg1_mpg", ClipWithTone(), {{"vcodec", "mpeg1video"}, {"r", "25"}},
                       "mpg", 2, "mpeg1video", 160, 120, 25, "yuv420p", "mp2", 44100, 2, 1.0},
        ConversionCase{"dvd_target", ClipWithTone(), {{"target", "pal-dvd"}},
                       "vob", 2, "mpeg2video", 720, 576, 25, "yuv420p", "ac3", 48000, 2, 1.0},
        ConversionCase{"dv_pal", ClipWithTone(), {{"target", "pal-dv"}},
                       "dv", 2, "dvvideo", 720, 576, 25, "yuv420p", "pcm_s16le", 48000, 2, 1.0},
        ConversionCase{"wmv2_asf", ClipWithTone(), {{"vcodec", "wmv2"}, {"acodec", "wmav2"}},
                       "asf", 2, "wmv2", 160, 120, 25, "yuv420p", "wmav2", 44100, 2, 1.0},
        ConversionCase{"xvid_avi", ClipWithTone(), {{"vcodec", "mpeg4"}, {"vtag", "XVID"}, {"acodec", "libmp3lame"}},
                       "avi", 2, "mpeg4", 160, 120, 25, "yuv420p", "mp3", 44100, 2, 1.0},
        ConversionCase{"mp3_only", ClipWithTone(), {{"acodec", "libmp3lame"}, {"ab", "128000"}},
                       "mp3", 1, "", 0, 0, 0, "", "mp3", 44100, 2, 1.0},
        ConversionCase{"aac_adts", ToneOnly(), {{"acodec", "aac"}, {"ar", "22050"}},
                       "aac", 1, "", 0, 0, 0, "", "aac", 22050, 2, 1.0},
        ConversionCase{"wav", ClipWithTone(), {{"ac", "1"}},
                       "wav", 1, "", 0, 0, 0, "", "pcm_s16le", 44100, 1, 1.0},
        ConversionCase{"from_mpegts",
                       fixtures::MediaParams{.Container = "mpegts", .Seconds = 1.0, .AudioStreams = 1,
                                             .AudioCodec = "mp2"},
                       {{"vcodec", "mpeg4"}}, "mp4", 2, "mpeg4", 160, 120, 25, "yuv420p", "aac", 44100, 2, 1.0},
        ConversionCase{"stream_copy", ClipWithTone(), {{"vcodec", "copy"}, {"acodec", "copy"}},
                       "mkv", 2, "mpeg4", 160, 120, 25, "yuv420p", "aac", 44100, 2, 1.0}),
    [](const ::testing::TestParamInfo<ConversionCase>& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace kavel

namespace kavel {
namespace {

struct SubtitleCase {
    const char* Name;
    testing::Options OutputOptions;
    const char* Extension;
    const char* SubtitleCodec;
    int Packets;  // the two events, and for MP4 the empty sample that fills the gap between them
};

class SubtitleTable : public ::testing::TestWithParam<SubtitleCase> {};

// Text subtitles are converted into the output's subtitle codec, or copied; every event arrives.
TEST_P(SubtitleTable, EveryEventArrives) {
    const SubtitleCase& c = GetParam();
    const std::string source = fixtures::MakeMedia({.Container = "matroska", .SubtitleStreams = 1});
    const std::string output = fixtures::TempPath(std::string("subtitles_") + c.Name + "." + c.Extension);
    testing::Options options{{"vcodec", "mpeg4"}};
    options.insert(options.end(), c.OutputOptions.begin(), c.OutputOptions.end());
    const auto result = testing::Convert(source, {}, output, options);
    ASSERT_TRUE(result.Transcoded) << result.Error;
    const auto facts = testing::ReadFacts(output);
    const auto* subtitles = facts.First("subtitle");
    ASSERT_NE(subtitles, nullptr);
    EXPECT_EQ(subtitles->Codec, c.SubtitleCodec);
    EXPECT_EQ(subtitles->Packets, c.Packets);
}

INSTANTIATE_TEST_SUITE_P(Subtitles, SubtitleTable,
                         ::testing::Values(SubtitleCase{"to_ass", {}, "mkv", "ass", 2},
                                           SubtitleCase{"to_mov_text", {{"scodec", "mov_text"}}, "mp4", "mov_text", 3},
                                           SubtitleCase{"copy", {{"scodec", "copy"}}, "mkv", "subrip", 2}),
                         [](const ::testing::TestParamInfo<SubtitleCase>& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace kavel

namespace kavel {
namespace {

TEST(TranscoderFileNames, NamesBeyondAsciiInAndOut) {
    const std::string source = fixtures::MakeMedia({.FileStem = "clip_\xc3\xa4\xe2\x82\xac", .Seconds = 0.4});
    const std::string output = fixtures::TempPath("ausgabe_\xc3\xb6\xe6\x97\xa5.mp4");
    const auto result = testing::Convert(source, {}, output, {{"vcodec", "mpeg4"}});
    ASSERT_TRUE(result.Transcoded) << result.Error;
    EXPECT_EQ(fixtures::DecodeVideo(output).Counters.size(), 10u);
}

}  // namespace
}  // namespace kavel

namespace kavel {
namespace {

// One input into two outputs of their own sizes, each with all the pictures.
TEST(TranscoderOutputs, OneInputTwoOutputs) {
    const std::string source = fixtures::MakeMedia({.Seconds = 0.4, .AudioStreams = 1});
    const std::string large = fixtures::TempPath("two_outputs_large.mp4");
    const std::string small = fixtures::TempPath("two_outputs_small.avi");
    Transcoder transcoder;
    transcoder.State().Generic.Create();
    OptionParser parser(transcoder.State(), transcoder);
    ASSERT_TRUE(transcoder.OpenInputFile(source)) << transcoder.ErrorText();
    parser.SetOption("vcodec", "mpeg4");
    parser.SetOption("s", "320x240");
    ASSERT_EQ(transcoder.OpenOutputFile(large, false), 0) << transcoder.ErrorText();
    parser.SetOption("vcodec", "mpeg4");
    parser.SetOption("s", "80x60");
    parser.SetOption("acodec", "mp2");
    ASSERT_EQ(transcoder.OpenOutputFile(small, false), 1) << transcoder.ErrorText();
    ASSERT_NO_THROW(transcoder.Transcode());
    EXPECT_TRUE(transcoder.Finished());
    transcoder.Release();

    const auto first = fixtures::DecodeVideo(large);
    const auto second = fixtures::DecodeVideo(small);
    EXPECT_EQ(first.Width, 320);
    EXPECT_EQ(second.Width, 80);
    EXPECT_EQ(first.Counters, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(second.Counters, first.Counters);
    ASSERT_NE(testing::ReadFacts(small).First("audio"), nullptr);
    EXPECT_EQ(testing::ReadFacts(small).First("audio")->Codec, "mp2");
}

// Video of one input and audio of another, chosen by stream maps.
TEST(TranscoderOutputs, StreamMapsPickStreamsOfTwoInputs) {
    const std::string pictures = fixtures::MakeMedia({.Seconds = 0.4});
    const std::string tone = fixtures::MakeMedia({.Container = "wav", .Seconds = 0.4, .Video = false,
                                                  .AudioStreams = 1, .Channels = 1, .AudioCodec = "pcm_s16le"});
    const std::string output = fixtures::TempPath("mapped.mp4");
    Transcoder transcoder;
    transcoder.State().Generic.Create();
    OptionParser parser(transcoder.State(), transcoder);
    ASSERT_TRUE(transcoder.OpenInputFile(pictures)) << transcoder.ErrorText();
    ASSERT_TRUE(transcoder.OpenInputFile(tone)) << transcoder.ErrorText();
    parser.SetOption("vcodec", "mpeg4");
    parser.SetOption("map", "0.0");
    parser.SetOption("map", "1.0");
    ASSERT_EQ(transcoder.OpenOutputFile(output, false), 0) << transcoder.ErrorText();
    ASSERT_NO_THROW(transcoder.Transcode());
    transcoder.Release();
    const auto facts = testing::ReadFacts(output);
    ASSERT_NE(facts.First("audio"), nullptr);
    EXPECT_EQ(facts.First("audio")->Channels, 1);
    EXPECT_EQ(fixtures::DecodeVideo(output).Counters.size(), 10u);
}

}  // namespace
}  // namespace kavel

namespace kavel {
namespace {

// Without maps an output audio stream takes the input audio stream with the most frames (the
// first of equals); "newaudio" adds a stream fed by the one left over.
TEST(TranscoderMapping, AudioStreamWithMostFramesThenTheOther) {
    struct Case {
        std::vector<double> Lengths;
        double FirstTone;
    };
    for (const Case& c : {Case{{1.0, 1.0}, 440.0}, Case{{0.5, 1.0}, 660.0}}) {
        SCOPED_TRACE(c.FirstTone);
        const std::string source = fixtures::MakeMedia(
            {.Seconds = 1.0, .Video = false, .AudioStreams = 2, .AudioSeconds = c.Lengths});
        const std::string output = fixtures::TempPath("two_tones_" + std::to_string(c.Lengths[0]) + ".mkv");
        Transcoder transcoder;
        transcoder.State().Generic.Create();
        OptionParser parser(transcoder.State(), transcoder);
        ASSERT_TRUE(transcoder.OpenInputFile(source)) << transcoder.ErrorText();
        parser.SetOption("acodec", "pcm_s16le");
        ASSERT_EQ(transcoder.OpenOutputFile(output, false), 0) << transcoder.ErrorText();
        parser.SetOption("acodec", "pcm_s16le");
        parser.SetOption("newaudio", "");
        ASSERT_NO_THROW(transcoder.Transcode());
        transcoder.Release();
        // The tones are told apart by their zero crossings, which the coding shifts a little.
        const auto first = fixtures::DecodeAudio(output, 0);
        const auto second = fixtures::DecodeAudio(output, 1);
        EXPECT_NEAR(first.ToneHz, c.FirstTone, 20.0);
        EXPECT_NEAR(second.ToneHz, 1100.0 - c.FirstTone, 20.0);
        const double firstLength = c.FirstTone == 440.0 ? c.Lengths[0] : c.Lengths[1];
        EXPECT_NEAR(static_cast<double>(first.Samples), 44100 * firstLength, 1024);
    }
}

}  // namespace
}  // namespace kavel
