#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/opt.h>
}

#include "engine/FileNames.h"
#include "engine/OptionParser.h"
#include "engine/OptionTestSupport.h"
#include "engine/Targets.h"
#include "engine/TranscoderState.h"
#include "support/MediaFixtures.h"

namespace kavel::testing {
namespace {

std::string Matrix(int count, int value = 16) {
    std::string text;
    for (int i = 0; i < count; ++i) text += (i ? "," : "") + std::to_string(value);
    return text;
}

struct RejectedCase {
    const char* Name;
    std::string Value;
    std::string Message;
};

class RejectedOptionTest : public OptionTest, public ::testing::WithParamInterface<RejectedCase> {};

TEST_P(RejectedOptionTest, RaisesItsMessage) {
    State.FrameWidth = 160;
    State.FrameHeight = 120;
    EXPECT_EQ(ErrorOf(GetParam().Name, GetParam().Value), GetParam().Message);
}

INSTANTIATE_TEST_SUITE_P(
    Options, RejectedOptionTest,
    ::testing::Values(
        RejectedCase{"threads", "2", "TODO: option - threads"},
        RejectedCase{"padtop", "8", "Please use vfilters=pad"},
        RejectedCase{"padcolor", "000000", "Please use vfilters=pad"},
        RejectedCase{"intra_matrix", Matrix(63),
                     "Syntax error in matrix \"" + Matrix(63) + "\" at coeff 62"},
        RejectedCase{"inter_matrix", Matrix(64, 0),
                     "Syntax error in matrix \"" + Matrix(64, 0) + "\" at coeff 0"},
        RejectedCase{"croptop", "120",
                     "Vertical crop dimensions are outside the range of the original image.\n"
                     "Remember to crop first and scale second."},
        RejectedCase{"cropright", "200",
                     "Horizontal crop dimensions are outside the range of the original image.\n"
                     "Remember to crop first and scale second."},
        RejectedCase{"r", "fast", "Incorrect frame rate"},
        RejectedCase{"s", "huge", "Incorrect frame size"},
        RejectedCase{"aspect", "16:0", "Incorrect aspect ratio specification."},
        RejectedCase{"aspect", "wide", "Incorrect aspect ratio specification."},
        RejectedCase{"pix_fmt", "rgb99", "Unknown pixel format requested: rgb99"},
        RejectedCase{"qscale", "0", "qscale must be > 0.0 and <= 255"},
        RejectedCase{"qscale", "256", "qscale must be > 0.0 and <= 255"},
        RejectedCase{"pass", "3", "pass number can be only 1 or 2"},
        RejectedCase{"vtag", "XVI", "video tag parameter must be 4 chars"},
        RejectedCase{"atag", "mp4aa", "audio tag parameter must be 4 chars"},
        RejectedCase{"stag", "", "subtitle tag parameter must be 4 chars"},
        RejectedCase{"metadata", "title", "Missing ="},
        RejectedCase{"itsscale", "20:1.5", "stream index over MAX_STREAMS(20)"},
        RejectedCase{
            "streamid", "1",
            "Invalid value \"1\" for option \"streamid\", required syntax is \"index:value\""},
        RejectedCase{
            "streamid", ":5",
            "Invalid value \":5\" for option \"streamid\", required syntax is \"index:value\""},
        RejectedCase{"ss", "later", "Invalid duration specification for ss: later"},
        RejectedCase{"timestamp", "someday", "Invalid date specification for timestamp: someday"},
        RejectedCase{"vbsf", "no_such_filter", "Unknown bitstream filter no_such_filter"},
        RejectedCase{"newvideo", "", "At least one output file must be specified"},
        RejectedCase{"vol", "loud", "'loud' is not a valid integer value"},
        RejectedCase{"muxdelay", "soon", "'soon' is not a valid floating point value"},
        RejectedCase{"target", "pal-laserdisc", "Unknown target type"},
        RejectedCase{"target", "dvd", "frame_rate is invalid."},
        RejectedCase{"fpre", "libx264-fast", "Preset \"libx264-fast\" not found"},
        RejectedCase{"vpre", "no-such-preset", "Preset \"no-such-preset\" not found"}),
    [](const auto& info) {
        return std::string(info.param.Name) + "_" + std::to_string(info.index);
    });

struct AcceptedCase {
    const char* Name;
    const char* Value;
    std::function<bool(const TranscoderState&)> Holds;
};

class AcceptedOptionTest : public OptionTest, public ::testing::WithParamInterface<AcceptedCase> {};

TEST_P(AcceptedOptionTest, SetsTheState) {
    State.FrameWidth = 160;
    State.FrameHeight = 120;
    Parser.SetOption(GetParam().Name, GetParam().Value);
    EXPECT_TRUE(GetParam().Holds(State));
}

INSTANTIATE_TEST_SUITE_P(
    Options, AcceptedOptionTest,
    ::testing::Values(
        AcceptedCase{"an", "", [](const auto& s) { return s.AudioDisable; }},
        AcceptedCase{"vn", "yes", [](const auto& s) { return s.VideoDisable; }},
        AcceptedCase{"sn", "0", [](const auto& s) { return !s.SubtitleDisable; }},
        AcceptedCase{"copyts", "0", [](const auto& s) { return s.CopyTimestamps; }},
        AcceptedCase{"vol", "-5", [](const auto& s) { return s.AudioVolume == -5; }},
        AcceptedCase{"ar", "0", [](const auto& s) { return s.AudioSampleRate == 44100; }},
        AcceptedCase{"ac", "1", [](const auto& s) { return s.AudioChannels == 1; }},
        AcceptedCase{"r", "30000/1001", [](const auto& s) { return s.FrameRate.num == 30000 && s.FrameRate.den == 1001; }},
        AcceptedCase{"r", "", [](const auto& s) { return s.FrameRate.den == 0; }},
        AcceptedCase{"s", "qcif", [](const auto& s) { return s.FrameWidth == 176 && s.FrameHeight == 144; }},
        AcceptedCase{"aspect", "16:9", [](const auto& s) { return std::abs(s.FrameAspectRatio - 16.0 / 9.0) < 1e-9; }},
        AcceptedCase{"aspect", "1.5", [](const auto& s) { return s.FrameAspectRatio == 1.5; }},
        AcceptedCase{"croptop", "8", [](const auto& s) { return s.FrameTopBand == 8 && s.FrameHeight == 112; }},
        AcceptedCase{"cropleft", "0", [](const auto& s) { return s.FrameLeftBand == 0 && s.FrameWidth == 160; }},
        AcceptedCase{"intra_matrix", "8,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,16,99,rest",
                     [](const auto& s) { return s.IntraMatrix.size() == 64 && s.IntraMatrix[0] == 8 && s.IntraMatrix[63] == 99; }},
        AcceptedCase{"vtag", "XVID", [](const auto& s) { return s.VideoCodecTag == MKTAG('X', 'V', 'I', 'D'); }},
        AcceptedCase{"vcodec", "copy", [](const auto& s) { return s.VideoStreamCopy && s.VideoCodecName.empty(); }},
        AcceptedCase{"acodec", "libmp3lame", [](const auto& s) { return s.AudioCodecName == "libmp3lame"; }},
        AcceptedCase{"map", "0.1", [](const auto& s) { return s.StreamMaps.size() == 1 && s.StreamMaps[0].SyncFileIndex == 0 && s.StreamMaps[0].SyncStreamIndex == 1; }},
        AcceptedCase{"map", "1:0,0:2", [](const auto& s) { const auto& m = s.StreamMaps.at(0); return m.FileIndex == 1 && m.StreamIndex == 0 && m.SyncFileIndex == 0 && m.SyncStreamIndex == 2; }},
        AcceptedCase{"map_meta_data", "0:1", [](const auto& s) { return s.MetaDataMaps.size() == 1 && s.MetaDataMaps[0].InFile == 1; }},
        AcceptedCase{"t", "00:00:01.5", [](const auto& s) { return s.RecordingTime == 1500000; }},
        AcceptedCase{"ss", "2.25", [](const auto& s) { return s.StartTime == 2250000; }},
        AcceptedCase{"timestamp", "1970-01-02 00:00:00Z", [](const auto& s) { return s.RecordingTimestamp == 86400; }},
        AcceptedCase{"itsscale", "1:0.5", [](const auto& s) { return s.InputTimestampScales[0][1] == 0.5; }},
        AcceptedCase{"metadata", "title=a=b", [](const auto& s) { return s.Metadata.size() == 1 && s.Metadata[0].Key == "title" && s.Metadata[0].Value == "a=b"; }},
        AcceptedCase{"streamid", "2:301", [](const auto& s) { return s.StreamIdMap[2] == 301; }},
        AcceptedCase{"f", "pgmyuv", [](const auto& s) { return s.ForcedFormat == "image2" && s.PgmYuv; }},
        AcceptedCase{"vbsf", "h264_mp4toannexb=x", [](const auto& s) { return s.VideoBitstreamFilters == std::vector<std::string>{"h264_mp4toannexb"}; }},
        AcceptedCase{"absf", "=aac_adtstoasc", [](const auto& s) { return s.AudioBitstreamFilters.empty(); }},
        AcceptedCase{"sample_fmt", "s16", [](const auto& s) { return s.AudioSampleFormat == AV_SAMPLE_FMT_S16; }},
        AcceptedCase{"vframes", "100", [](const auto& s) { return s.MaxFrames[AVMEDIA_TYPE_VIDEO] == 100; }},
        AcceptedCase{"muxpreload", "0.25", [](const auto& s) { return s.MuxPreload == 0.25f; }},
        AcceptedCase{"vf", "", [](const auto& s) { return s.VideoFilters.empty(); }},
        AcceptedCase{"vfilters", "pad=200:200", [](const auto& s) { return s.VideoFilters == "pad=200:200"; }}),
    [](const auto& info) { return std::string(info.param.Name) + "_" + std::to_string(info.index); });

TEST_F(OptionTest, SwitchTurnsOffWithZeroOnly) {
    Parser.SetOption("an", "");
    EXPECT_TRUE(State.AudioDisable);
    Parser.SetOption("an", "0");
    EXPECT_FALSE(State.AudioDisable);
}

TEST_F(OptionTest, UnknownNameChangesNothing) {
    EXPECT_NO_THROW(Parser.SetOption("no_such_option", "1"));
    EXPECT_FALSE(Parser.GenericOption("no_such_option", "1"));
    for (const OptionList& list : State.Generic.Codec) EXPECT_TRUE(list.empty());
    EXPECT_TRUE(State.Generic.Format.empty());
    EXPECT_TRUE(State.Generic.SetNames.empty());
}

TEST_F(OptionTest, BlankNameOrValueIsNoGenericOption) {
    EXPECT_FALSE(Parser.GenericOption(" ", "1"));
    EXPECT_FALSE(Parser.GenericOption("g", "  "));
}

TEST_F(OptionTest, LowBitrateWarns) {
    Parser.SetOption("b", "128");
    EXPECT_TRUE(Logs.Has(llWarning,
                         "WARNING: The bitrate parameter is set too low. It takes bits/s as "
                         "argument, not kbits/s"));
    ASSERT_NE(CodecOption(AVMEDIA_TYPE_VIDEO, "b"), nullptr);
    EXPECT_EQ(*CodecOption(AVMEDIA_TYPE_VIDEO, "b"), "128");
}

TEST_F(OptionTest, VideoBitrateStaysOffTheAudioEncoder) {
    Parser.SetOption("ab", "128000");
    Parser.SetOption("vb", "1500000");
    Parser.SetOption("b", "2000000");
    EXPECT_FALSE(Logs.HasContaining("too low"));
    int64_t video = 0;
    int64_t audio = 0;
    av_opt_get_int(State.Generic.CodecObjects[AVMEDIA_TYPE_VIDEO].get(), "b", 0, &video);
    av_opt_get_int(State.Generic.CodecObjects[AVMEDIA_TYPE_AUDIO].get(), "b", 0, &audio);
    EXPECT_EQ(video, 2000000);
    EXPECT_EQ(audio, 128000);
    EXPECT_EQ(CodecOption(AVMEDIA_TYPE_AUDIO, "b"), nullptr);
}

TEST_F(OptionTest, RejectedLibraryValueOnlyLogs) {
    EXPECT_NO_THROW(Parser.SetOption("bf", "many"));
    EXPECT_TRUE(Logs.Has(llError, "Invalid value \"many\" for option \"bf\""));
    EXPECT_EQ(CodecOption(AVMEDIA_TYPE_VIDEO, "bf"), nullptr);
}

TEST_F(OptionTest, FlagListsAccumulate) {
    ASSERT_TRUE(Parser.GenericOption("flags", "+loop"));
    ASSERT_TRUE(Parser.GenericOption("flags", "+gray"));
    int64_t flags = 0;
    av_opt_get_int(State.Generic.CodecObjects[AVMEDIA_TYPE_VIDEO].get(), "flags", 0, &flags);
    EXPECT_EQ(flags, AV_CODEC_FLAG_LOOP_FILTER | AV_CODEC_FLAG_GRAY);
    EXPECT_EQ(State.Generic.SetNames, std::vector<std::string>{"flags"});
}

TEST_F(OptionTest, ContainerAndScalerOptions) {
    EXPECT_TRUE(Parser.GenericOption("packetsize", "2324"));
    EXPECT_TRUE(Parser.GenericOption("sws_flags", "lanczos"));
    EXPECT_EQ(*FindListOption(State.Generic.Format, "packetsize"), "2324");
    EXPECT_NE(FindListOption(State.Generic.Scaler, "sws_flags"), nullptr);
}

TEST_F(OptionTest, EncoderPrivateOptionsAreCheckedOnTheChosenEncoder) {
    EXPECT_FALSE(Parser.GenericOption("preset", "veryfast"));  // no encoder chosen
    Parser.SetOption("vcodec", "libx264");
    EXPECT_TRUE(Parser.GenericOption("preset", "veryfast"));
    EXPECT_EQ(*CodecOption(AVMEDIA_TYPE_VIDEO, "preset"), "veryfast");
    EXPECT_FALSE(Parser.GenericOption("crf", "lots"));
    EXPECT_TRUE(Logs.Has(llError, "Invalid value \"lots\" for option \"crf\""));
    Parser.SetOption("acodec", "libmp3lame");
    EXPECT_TRUE(Parser.GenericOption("reservoir", "0"));
    EXPECT_NE(CodecOption(AVMEDIA_TYPE_AUDIO, "reservoir"), nullptr);
}

TEST_F(OptionTest, MuxerPrivateOptionWaitsForTheMuxer) {
    EXPECT_TRUE(Parser.GenericOption("muxrate", "1411200"));
    EXPECT_EQ(*FindListOption(State.Generic.Format, "muxrate"), "1411200");
    Parser.SetOption("f", "mp4");
    EXPECT_FALSE(Parser.GenericOption("muxrate", "1"));  // not an mp4 option
}

TEST_F(OptionTest, DebugSettingRaisesTheLogLevel) {
    Parser.GenericOption("debug", "pict");
    EXPECT_EQ(EngineLogger::Instance().GetLogLevel(), llDebug);
    EngineLogger::Instance().SetLogLevel(llInfo);
    Parser.GenericOption("g", "12");
    EXPECT_EQ(EngineLogger::Instance().GetLogLevel(), llDebug);
}

TEST_F(OptionTest, InformationalOptionsOnlyLog) {
    Parser.SetOption("version", "");
    EXPECT_TRUE(Logs.Has(llInfo, "Do nothing: option - version"));
    Parser.SetOption("timelimit", "10");
    EXPECT_TRUE(Logs.Has(llWarning, "Warning: -timelimit not implemented on Windows"));
}

TEST_F(OptionTest, LogLevelByNameAndNumber) {
    Parser.SetOption("loglevel", "Warning");
    EXPECT_EQ(EngineLogger::Instance().GetLogLevel(), llWarning);
    Parser.SetOption("loglevel", "48");
    EXPECT_EQ(EngineLogger::Instance().GetLogLevel(), llDebug);
    EXPECT_NE(ErrorOf("loglevel", "chatty"), "");
}

TEST_F(OptionTest, CropReducesTheCurrentFrame) {
    State.FrameWidth = 160;
    State.FrameHeight = 120;
    Parser.SetOption("croptop", "10");
    Parser.SetOption("cropbottom", "10");
    EXPECT_EQ(State.FrameHeight, 100);
    EXPECT_TRUE(Logs.Has(llWarning, "CropTop is deprecated in favor of the crop avfilter"));
    EXPECT_NE(ErrorOf("cropbottom", "100"), "");
    Parser.SetOption("s", "320x240");
    Parser.SetOption("croptop", "200");
    EXPECT_EQ(State.FrameHeight, 40);
}

TEST_F(OptionTest, VideoHookSplitsItsArguments) {
    Parser.SetOption("vhook", "hook.so -a 1");
    EXPECT_EQ(Files.HookArgs, (std::vector<std::string>{"hook.so", "-a", "1"}));
    Parser.SetOption("vhook", "my hook.so|-t|big text");
    EXPECT_EQ(Files.HookArgs, (std::vector<std::string>{"my hook.so", "-t", "big text"}));
    Files.HookLoads = false;
    EXPECT_EQ(ErrorOf("vhook", "missing.so"), "Failed to add video hook function: missing.so");
}

TEST_F(OptionTest, NewStreamsGoToTheLastOutputAndResetTheirKind) {
    State.OutputFiles.emplace_back();
    Parser.SetOption("vcodec", "mpeg4");
    Parser.SetOption("pix_fmt", "yuv422p");
    Parser.SetOption("newvideo", "");
    ASSERT_EQ(Files.Streams.size(), 1u);
    EXPECT_EQ(Files.Streams[0].Codec, "mpeg4");
    EXPECT_TRUE(State.VideoCodecName.empty());
    EXPECT_EQ(State.FramePixelFormat, AV_PIX_FMT_NONE);
}

TEST_F(OptionTest, VideoStatsFileIsNamedByTheClock) {
    Parser.SetOption("vstats", "");
    const std::string name = std::filesystem::path(State.VideoStatsFile).filename().string();
    EXPECT_EQ(name.rfind("vstats_", 0), 0u);
    EXPECT_EQ(name.size(), std::string("vstats_hhnnss.log").size());
}

// Targets

std::string Option(const OptionList& list, const std::string& name) {
    const std::string* value = FindListOption(list, name);
    return value ? *value : "(none)";
}

TEST_F(OptionTest, FilmDvdTarget) {
    Parser.SetOption("target", "film-dvd");
    EXPECT_EQ(State.FrameRate.num, 24000);
    EXPECT_EQ(State.FrameRate.den, 1001);
    EXPECT_EQ(State.FrameWidth, 720);
    EXPECT_EQ(State.FrameHeight, 480);
    EXPECT_EQ(Option(State.Generic.Codec[AVMEDIA_TYPE_VIDEO], "g"), "18");
    EXPECT_EQ(State.VideoCodecName, "mpeg2video");
    EXPECT_EQ(State.AudioCodecName, "ac3");
    EXPECT_EQ(State.ForcedFormat, "dvd");
    EXPECT_EQ(State.AudioSampleRate, 48000);
    EXPECT_EQ(Option(State.Generic.Codec[AVMEDIA_TYPE_AUDIO], "ab"), "448000");
    EXPECT_EQ(Option(State.Generic.Format, "muxrate"), "10080000");
    EXPECT_EQ(Option(State.Generic.Format, "packetsize"), "2048");
    EXPECT_DOUBLE_EQ(State.FrameAspectRatio, 16.0 / 9.0);
    EXPECT_TRUE(Logs.Has(llInfo, "Assuming 16:9 for aspect ratio"));
    EXPECT_FALSE(Logs.HasContaining("for target."));
}

TEST_F(OptionTest, DvdAfterPalInputAssumesPal) {
    State.FrameRate = {25, 1};  // what opening a 25 fps input leaves
    Parser.SetOption("target", "dvd");
    EXPECT_TRUE(Logs.Has(llVerbose, "Assuming PAL for target."));
    EXPECT_EQ(State.FrameHeight, 576);
    EXPECT_EQ(Option(State.Generic.Codec[AVMEDIA_TYPE_VIDEO], "g"), "15");
}

TEST_F(OptionTest, NormFromTheOpenedInputsStreams) {
    const std::string pal = fixtures::MakeMedia({.FrameRate = {25, 1}});
    AVFormatContext* context = nullptr;
    ASSERT_EQ(OpenInputFormat(&context, pal, nullptr, nullptr), 0);
    State.InputFiles.emplace_back();
    State.InputFiles.back().Context.reset(context);
    ASSERT_GE(avformat_find_stream_info(context, nullptr), 0);

    State.FrameRate = {10, 1};
    EXPECT_EQ(DetectTargetNorm(State, TargetNorm::Ntsc), TargetNorm::Pal);
    State.InputFiles.clear();
    EXPECT_EQ(DetectTargetNorm(State, TargetNorm::Ntsc), TargetNorm::Ntsc);
    EXPECT_EQ(DetectTargetNorm(State, TargetNorm::Film), TargetNorm::Film);
    EXPECT_EQ(DetectTargetNorm(State, TargetNorm::Auto), TargetNorm::Pal);
}

TEST_F(OptionTest, NtscVcdTarget) {
    State.FrameRate = {30000, 1001};
    State.AudioChannels = 1;
    Parser.SetOption("target", "vcd");
    EXPECT_TRUE(Logs.Has(llVerbose, "Assuming NTSC for target."));
    EXPECT_EQ(State.FrameWidth, 352);
    EXPECT_EQ(State.FrameHeight, 240);
    EXPECT_EQ(State.AudioChannels, 2);
    EXPECT_FLOAT_EQ(State.MuxPreload, 0.44f);
    EXPECT_EQ(Option(State.Generic.Format, "muxrate"), "1411200");
    EXPECT_EQ(Option(State.Generic.Codec[AVMEDIA_TYPE_VIDEO], "minrate"), "1150000");
    EXPECT_TRUE(Logs.Has(llInfo, "Assuming 4:3 for aspect ratio"));
}

TEST_F(OptionTest, SvcdTargetKeepsTheScanOffset) {
    Parser.SetOption("target", "pal-svcd");
    EXPECT_EQ(State.FrameWidth, 480);
    EXPECT_EQ(State.FrameHeight, 576);
    EXPECT_EQ(Option(State.Generic.Codec[AVMEDIA_TYPE_VIDEO], "scan_offset"), "1");
}

TEST_F(OptionTest, DvTargets) {
    Parser.SetOption("target", "ntsc-dv");
    EXPECT_EQ(State.FramePixelFormat, AV_PIX_FMT_YUV411P);
    Parser.SetOption("target", "pal-dv");
    EXPECT_EQ(State.FramePixelFormat, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(State.FrameHeight, 576);
    Parser.SetOption("target", "pal-dv50");
    EXPECT_EQ(State.FramePixelFormat, AV_PIX_FMT_YUV422P);
    EXPECT_EQ(State.ForcedFormat, "dv");
    EXPECT_EQ(State.AudioSampleRate, 48000);
}

}  // namespace
}  // namespace kavel::testing
