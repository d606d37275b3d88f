#include <ctime>

#include <gtest/gtest.h>

#include "engine/FFmpegException.h"
#include "engine/OptionRecords.h"
#include "engine/OptionTestSupport.h"

namespace kavel::testing {
namespace {

std::string OutputError(OptionParser& parser, OutputOptions& record) {
    try {
        ApplyOutputRecord(parser, &record, "out.mp4");
    } catch (const FFmpegException& error) {
        return error.what();
    }
    return "";
}

TEST(OptionRecordsTest, ExtendedTextLines) {
    const std::vector<OptionLine> lines =
        ExtendedOptionLines("  VCodec=mpeg4\r\nmetadata=title=a=b<CRLF>an\rAB= 128 \ng=1\n\n");
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].Name, "vcodec");
    EXPECT_EQ(lines[0].Value, "mpeg4");
    EXPECT_EQ(lines[1].Name, "metadata");
    EXPECT_EQ(lines[1].Value, "title=a=b");
    EXPECT_EQ(lines[2].Name, "an");
    EXPECT_EQ(lines[2].Value, "");
    EXPECT_EQ(lines[3].Name, "ab");
    EXPECT_EQ(lines[3].Value, " 128 ");
}

TEST(OptionRecordsTest, InitialisersSetTheSentinels) {
    OutputOptions output;
    output.AudioVolume = 100;
    output.StreamInfo.Title = "x";
    InitOutputOptions(output);
    EXPECT_EQ(output.AudioVolume, -1);
    EXPECT_EQ(output.MuxDelay, -1.0f);
    EXPECT_EQ(output.Duration, AV_NOPTS_VALUE);
    EXPECT_EQ(output.VideoSyncMethod, -1);
    EXPECT_EQ(output.TargetDefaultNorm, 1);
    EXPECT_EQ(output.StreamInfo.Timestamp, -1.0);
    EXPECT_TRUE(output.StreamInfo.Title.empty());
    InputOptions input;
    input.ProgramID = 3;
    InitInputOptions(input);
    EXPECT_EQ(input.ProgramID, -1);
    EXPECT_EQ(input.StartTime, AV_NOPTS_VALUE);
}

TEST(OptionRecordsTest, TimestampConversion) {
    EXPECT_EQ(TimestampSeconds(25569.0, 0.0), 0);
    // Noon local time at UTC+2 on 1 January 1970 is 10:00 UTC.
    EXPECT_EQ(TimestampSeconds(25569.5, 2.0 / 24.0), 10 * 3600);
    // 2009-06-15 12:30:00 local at UTC-5 (a date-time of 39979.520833...).
    EXPECT_EQ(TimestampSeconds(39979.0 + 12.5 / 24.0, -5.0 / 24.0), 1245087000);
    const int64_t now = std::time(nullptr);
    EXPECT_NEAR(static_cast<double>(TimestampSeconds(0.0, 1.0 / 24.0)), static_cast<double>(now),
                2.0);
    EXPECT_NEAR(static_cast<double>(TimestampSeconds(0.0)), static_cast<double>(now), 2.0);
}

TEST_F(OptionTest, InputRecordAppliesInOrderAndOpens) {
    InputOptions record;
    record.FileFormat = "avi";
    record.StartTime = 1500000;
    record.ProgramID = 2;
    record.ExtOptions = "vcodec=h264\nvf=crop=10:10\nnewvideo=\nvpre=fast\nf=mp4";
    ApplyInputRecord(Parser, &record, "in.avi");
    EXPECT_EQ(record.FileName, "in.avi");
    ASSERT_EQ(Files.InputNames, std::vector<std::string>{"in.avi"});
    EXPECT_EQ(Files.InputFormats[0], "avi");  // the field comes after the text
    EXPECT_EQ(State.StartTime, 1500000);
    EXPECT_EQ(State.ProgramId, 2);
    EXPECT_EQ(State.VideoCodecName, "h264");  // a forced decoder
    EXPECT_TRUE(State.VideoFilters.empty());  // "vf" means nothing for an input
    EXPECT_TRUE(Files.Streams.empty());
}

TEST_F(OptionTest, InputThatDoesNotOpen) {
    Files.InputError = "in.avi: No such file or directory";
    InputOptions record;
    record.FileName = "kept.avi";
    try {
        ApplyInputRecord(Parser, &record, "in.avi");
        FAIL() << "no error";
    } catch (const FFmpegException& error) {
        EXPECT_STREQ(error.what(), "in.avi: No such file or directory");
    }
    EXPECT_EQ(record.FileName, "kept.avi");
    EXPECT_THROW(ApplyInputRecord(Parser, nullptr, "in.avi"), FFmpegException);
}

TEST_F(OptionTest, DefaultRecordOnlyRepeatsTheTranscoderDefaults) {
    OutputOptions record;
    ApplyOutputRecord(Parser, &record, "out.mp4");
    const TranscoderState fresh;
    EXPECT_EQ(State.AudioSyncMethod, fresh.AudioSyncMethod);
    EXPECT_EQ(State.VideoSyncMethod, fresh.VideoSyncMethod);
    EXPECT_EQ(State.InputSync, fresh.InputSync);
    EXPECT_EQ(State.AudioVolume, fresh.AudioVolume);
    EXPECT_EQ(State.RecordingTime, fresh.RecordingTime);
    EXPECT_EQ(State.RecordingTimestamp, 0);
    EXPECT_TRUE(State.Metadata.empty());
    EXPECT_TRUE(State.Generic.SetNames.empty());
    ASSERT_EQ(Files.Outputs.size(), 1u);
    EXPECT_FALSE(Files.Outputs[0].Join);
    EXPECT_FALSE(Files.CustomHookEnabled);
    EXPECT_EQ(record.FileName, "out.mp4");
}

TEST_F(OptionTest, TextCodecBecomesTheDefaultAndServesTheAddedStream) {
    OutputOptions record;
    record.ExtOptions = "vcodec=mpeg4\nnewvideo=";
    ApplyOutputRecord(Parser, &record, "out.mkv");
    EXPECT_EQ(Files.Outputs.at(0).VideoCodec, "mpeg4");
    ASSERT_EQ(Files.Streams.size(), 1u);
    EXPECT_EQ(Files.Streams[0].Kind, AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(Files.Streams[0].Codec, "mpeg4");
}

TEST_F(OptionTest, FieldCodecWinsAndTheTextServesLaterStreams) {
    OutputOptions record;
    record.AudioCodec = "aac";
    record.ExtOptions = "acodec=mp2\nnewaudio=\nacodec=ac3\nnewaudio=\nnewaudio=";
    ApplyOutputRecord(Parser, &record, "out.mkv");
    EXPECT_EQ(Files.Outputs.at(0).AudioCodec, "aac");
    ASSERT_EQ(Files.Streams.size(), 3u);
    EXPECT_EQ(Files.Streams[0].Codec, "mp2");
    EXPECT_EQ(Files.Streams[1].Codec, "ac3");
    EXPECT_EQ(Files.Streams[2].Codec, "aac");  // queue empty: the default again
}

TEST_F(OptionTest, AddedVideoStreamTakesItsQueuedSize) {
    OutputOptions record;
    record.FrameSize = "320x240";
    record.ExtOptions = "s=176x144\nnewvideo=\nnewvideo=";
    ApplyOutputRecord(Parser, &record, "out.mkv");
    EXPECT_EQ(State.FrameWidth, 320);  // "s" for the first streams comes from the field
    ASSERT_EQ(Files.Streams.size(), 2u);
    EXPECT_EQ(Files.Streams[0].FrameWidth, 176);
    EXPECT_EQ(Files.Streams[1].FrameWidth, 320);
}

TEST_F(OptionTest, AlwaysCopiedFieldsOverrideTheText) {
    OutputOptions record;
    record.ExtOptions = "async=1\nvsync=2\nalang=fre\nisync=1\ng=50";
    ApplyOutputRecord(Parser, &record, "out.mp4");
    EXPECT_EQ(State.AudioSyncMethod, 0);
    EXPECT_EQ(State.VideoSyncMethod, -1);
    EXPECT_EQ(State.AudioLanguage, "");
    EXPECT_FALSE(State.InputSync);
    EXPECT_EQ(*CodecOption(AVMEDIA_TYPE_VIDEO, "g"), "50");  // not a record field: stays
}

TEST_F(OptionTest, AudioVolumeZeroIsApplied) {
    OutputOptions silent;
    silent.AudioVolume = 0;
    ApplyOutputRecord(Parser, &silent, "a.mp4");
    EXPECT_EQ(State.AudioVolume, 0);

    TranscoderState other;
    FakeFiles files(other);
    OptionParser parser(other, files);
    OutputOptions unset;
    unset.ExtOptions = "vol=512";
    ApplyOutputRecord(parser, &unset, "b.mp4");
    EXPECT_EQ(other.AudioVolume, 512);  // -1 applies nothing
}

TEST_F(OptionTest, CropBeyondTheInputHeightFails) {
    ApplyInputRecord(Parser, nullptr, "in.mp4");  // a 160x120 input
    OutputOptions record;
    record.CropTop = 120;
    EXPECT_EQ(OutputError(Parser, record),
              "Vertical crop dimensions are outside the range of the original image.\n"
              "Remember to crop first and scale second.");
    EXPECT_TRUE(Files.Outputs.empty());

    TranscoderState other;
    FakeFiles files(other);
    OptionParser parser(other, files);
    ApplyInputRecord(parser, nullptr, "in.mp4");
    OutputOptions ignored;
    ignored.CropTop = 0;
    ignored.CropLeft = 10;
    ignored.FrameSize = "320x240";
    ApplyOutputRecord(parser, &ignored, "out.mp4");
    EXPECT_EQ(other.FrameLeftBand, 10);  // crops the input picture, before the new size
    EXPECT_EQ(other.FrameTopBand, 0);
    EXPECT_EQ(other.FrameWidth, 320);
}

TEST_F(OptionTest, FieldsReachTheState) {
    OutputOptions record;
    record.MuxDelay = 0.3f;
    record.MuxPreload = 0.2f;
    record.AudioChannels = 1;
    record.AudioSampleRate = 22050;
    record.AudioBitrate = 64000;
    record.VideoBitrate = 800000;
    record.VideoTag = "DIVX";
    record.FrameRate = "15";
    record.AspectRatio = "4:3";
    record.DisableSubtitle = true;
    record.CopyTimestamps = true;
    record.StartTime = 2000000;
    record.Duration = 5000000;
    record.CustomHook = true;
    record.Join = true;
    ApplyOutputRecord(Parser, &record, "out.avi");
    EXPECT_FLOAT_EQ(State.MuxMaxDelay, 0.3f);
    EXPECT_FLOAT_EQ(State.MuxPreload, 0.2f);
    EXPECT_EQ(State.AudioChannels, 1);
    EXPECT_EQ(State.AudioSampleRate, 22050);
    EXPECT_EQ(*CodecOption(AVMEDIA_TYPE_AUDIO, "ab"), "64000");
    EXPECT_EQ(*CodecOption(AVMEDIA_TYPE_VIDEO, "b"), "800000");
    EXPECT_EQ(State.VideoCodecTag, MKTAG('D', 'I', 'V', 'X'));
    EXPECT_EQ(State.FrameRate.num, 15);
    EXPECT_TRUE(State.SubtitleDisable);
    EXPECT_TRUE(State.CopyTimestamps);
    EXPECT_EQ(State.StartTime, 2000000);
    EXPECT_EQ(State.RecordingTime, 5000000);
    EXPECT_TRUE(Files.CustomHookEnabled);
    EXPECT_TRUE(Files.Outputs.at(0).Join);
}

TEST_F(OptionTest, TimestampAndMetadataOrder) {
    OutputOptions record;
    record.ExtOptions = "metadata=title=From text";
    record.StreamInfo.Timestamp = 25569.0 + LocalOffsetDays();  // the epoch, in local time
    record.StreamInfo.Year = 2009;
    record.StreamInfo.Title = "From record";
    record.StreamInfo.Genre = "Pop";
    ApplyOutputRecord(Parser, &record, "out.mp4");
    EXPECT_EQ(State.RecordingTimestamp, 0);
    ASSERT_EQ(State.Metadata.size(), 4u);
    EXPECT_EQ(State.Metadata[0].Value, "From text");  // gathered first: kept on write
    EXPECT_EQ(State.Metadata[1].Key, "year");
    EXPECT_EQ(State.Metadata[1].Value, "2009");
    EXPECT_EQ(State.Metadata[2].Key, "title");
    EXPECT_EQ(State.Metadata[3].Key, "genre");
}

TEST_F(OptionTest, TimestampZeroMeansNow) {
    OutputOptions record;
    record.StreamInfo.Timestamp = 0.0;
    ApplyOutputRecord(Parser, &record, "out.mp4");
    EXPECT_NEAR(static_cast<double>(State.RecordingTimestamp),
                static_cast<double>(std::time(nullptr)), 2.0);
}

TEST_F(OptionTest, TargetFromTheRecord) {
    State.FrameRate = {30, 1};  // decides nothing
    OutputOptions record;
    record.TargetType = 3;
    record.TargetNorm = 0;
    record.TargetDefaultNorm = 1;
    ApplyOutputRecord(Parser, &record, "out.mpg");
    EXPECT_EQ(State.FrameHeight, 576);
    EXPECT_EQ(Files.Outputs.at(0).VideoCodec, "mpeg2video");
    EXPECT_TRUE(Logs.Has(llVerbose, "Assuming PAL for target."));

    TranscoderState other;
    FakeFiles files(other);
    OptionParser parser(other, files);
    OutputOptions ntsc;
    ntsc.TargetType = 1;
    ntsc.TargetNorm = 7;  // not a norm: auto
    ntsc.TargetDefaultNorm = 0;
    other.FrameRate = {30, 1};
    ApplyOutputRecord(parser, &ntsc, "out.mpg");
    EXPECT_EQ(other.FrameHeight, 240);
}

TEST_F(OptionTest, OutputThatDoesNotOpenResetsTheStoredRecord) {
    Files.OutputError = "Unable to find a suitable output format for 'out.xyz'";
    OutputOptions record;
    record.VideoBitrate = 500000;
    EXPECT_EQ(OutputError(Parser, record), "Unable to find a suitable output format for 'out.xyz'");
    EXPECT_EQ(record.VideoBitrate, -1);
    EXPECT_TRUE(record.FileName.empty());
}

TEST_F(OptionTest, RejectedFieldStopsBeforeTheOutputOpens) {
    OutputOptions record;
    record.AudioTag = "mp3";
    EXPECT_EQ(OutputError(Parser, record), "audio tag parameter must be 4 chars");
    EXPECT_TRUE(Files.Outputs.empty());
    EXPECT_EQ(record.FileName, "out.mp4");  // not reset: the output never opened
}

}  // namespace
}  // namespace kavel::testing
