#include "profiles/JobBuilder.h"

#include "app/IniFile.h"
#include "engine/FFmpegLoader.h"
#include "engine/OptionRecords.h"
#include "probe/MediaProbe.h"
#include "profiles/ProfileCatalog.h"
#include "queue/FilesRecord.h"
#include "support/MediaFixtures.h"
#include "support/ScriptedPrompter.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <map>

using namespace kavel;

namespace {

constexpr int kCode = 104;

using Values = std::map<QString, QString>;

class JobBuilderTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(LoadLibraries(EngineLibraries)) << LastLoadError(); }

    // A source of this size (video only, a fraction of a second) opened in the probe.
    void OpenSource(int width, int height, bool video = true) {
        fixtures::MediaParams params;
        params.Seconds = 0.2;
        params.Width = width;
        params.Height = height;
        if (!video) {
            params.Container = "wav";
            params.Video = false;
            params.AudioStreams = 1;
            params.AudioCodec = "pcm_s16le";
        }
        ASSERT_TRUE(probe_.LoadFile(fixtures::MakeMedia(params))) << probe_.LastErrMsg();
    }

    void Store(const Values& values) {
        for (const auto& [key, value] : values)
            settings_.writeString(ProfileSection(kCode), key, value);
    }

    void Build(const QString& zoom, const QString& format = QString()) {
        if (!format.isNull())
            catalogIni_.writeString(ProfileSection(kCode), profile::Format, format);
        record_.Zoom = zoom;
        BuildConversionJob({settings_, catalog_, prompter_}, record_, kCode, output_, probe_, input_);
    }

    QTemporaryDir dir_;
    IniFile settings_{dir_.filePath("settings.ini")};
    IniFile catalogIni_{dir_.filePath("catalog.ini")};
    ProfileCatalog catalog_{dir_.filePath("catalog.ini")};
    test::ScriptedPrompter prompter_;
    FilesRecord record_;
    MediaProbe probe_;
    OutputOptions output_;
    InputOptions input_;
};

struct GeometryCase {
    const char* name;
    int sourceWidth, sourceHeight;
    const char* zoom;
    const char* size;
    const char* codec;
    int cropTop, cropLeft, cropBottom, cropRight;  // the row's crop margins
    const char* frameSize;
    const char* aspect;
    const char* filters;
    int outCropTop, outCropLeft, outCropBottom, outCropRight;
};

const GeometryCase kGeometry[] = {
    {"lbox wide source", 1280, 720, "lbox", "320x240", "mpeg4", 0, 0, 0, 0,
     "320x180", "320:180", "pad=320:240:0:30", 0, 0, 0, 0},
    {"lbox tall source", 720, 576, "lbox", "320x240", "mpeg4", 0, 0, 0, 0,
     "300x240", "300:240", "pad=320:240:10:0", 0, 0, 0, 0},
    {"lbox with crop", 1280, 720, "lbox", "320x240", "mpeg4", 10, 20, 30, 40,
     "", "320:180", "crop=20:10:1220:680,scale=320:180,pad=320:240:0:30", 0, 0, 0, 0},
    {"lbox as source", 320, 240, "lbox", "as source", "mpeg4", 0, 0, 0, 0,
     "320x240", "320:240", "pad=320:240:0:0", 0, 0, 0, 0},
    {"full as source", 640, 480, "full", "As Source", "mpeg4", 0, 0, 0, 0,
     "640x480", "640:480", "", 0, 0, 0, 0},
    {"full with crop", 640, 480, "full", "320x240", "mpeg4", 2, 4, 6, 8,
     "320x240", "320:240", "", 2, 4, 6, 8},
    {"pan wide source", 1280, 720, "pan", "320x240", "mpeg4", 0, 0, 0, 0,
     "320x240", "320:240", "", 0, 284, 0, 284},
    {"pan 4:3 source", 640, 480, "pan", "320x240", "mpeg4", 0, 0, 0, 0,
     "320x240", "320:240", "", 0, 0, 0, 0},
    {"center wide source", 1280, 720, "center", "320x240", "mpeg4", 0, 0, 0, 0,
     "320x240", "320:240", "pad=320:240:0:30:black", 0, 0, 0, 0},
    {"center tall source", 720, 576, "center", "320x240", "mpeg4", 0, 0, 0, 0,
     "300x240", "320:240", "pad=740:576:10:0:black", 0, 0, 0, 0},
    {"h263 size moves up to 4CIF", 352, 288, "full", "400x300", "h263", 0, 0, 0, 0,
     "704x576", "704:576", "", 0, 0, 0, 0},
    {"h263 listed size stays", 352, 288, "full", "176x144", "h263", 0, 0, 0, 0,
     "176x144", "176:144", "", 0, 0, 0, 0},
    {"h263 size moves up to CIF", 352, 288, "full", "180x150", "h263", 0, 0, 0, 0,
     "352x288", "352:288", "", 0, 0, 0, 0},
    {"unknown zoom sets no size", 352, 288, "zoomed", "320x240", "mpeg4", 0, 0, 0, 0,
     "", "", "", 0, 0, 0, 0},
};

TEST_F(JobBuilderTest, Geometry) {
    for (const GeometryCase& c : kGeometry) {
        SCOPED_TRACE(c.name);
        OpenSource(c.sourceWidth, c.sourceHeight);
        Store({{profile::paraVideoEncoder, c.codec}, {profile::paraVideoSize, c.size}});
        output_ = OutputOptions();
        record_.CropTop = c.cropTop;
        record_.CropLeft = c.cropLeft;
        record_.CropBottom = c.cropBottom;
        record_.CropRight = c.cropRight;
        Build(c.zoom);
        EXPECT_EQ(output_.VideoCodec, c.codec);
        EXPECT_EQ(output_.FrameSize, c.frameSize);
        EXPECT_EQ(output_.AspectRatio, c.aspect);
        EXPECT_EQ(output_.VideoFilters, c.filters);
        EXPECT_EQ(output_.CropTop, c.outCropTop);
        EXPECT_EQ(output_.CropLeft, c.outCropLeft);
        EXPECT_EQ(output_.CropBottom, c.outCropBottom);
        EXPECT_EQ(output_.CropRight, c.outCropRight);
    }
    EXPECT_TRUE(prompter_.questions.isEmpty());
}

TEST_F(JobBuilderTest, SizeWithoutLowerCaseXAsksForTheDefault) {
    OpenSource(640, 480);
    Store({{profile::paraVideoEncoder, "mpeg4"}, {profile::paraVideoSize, "320X240"}});
    Build("full");
    EXPECT_EQ(output_.FrameSize, "320x240");
    ASSERT_EQ(prompter_.questions.size(), 1);
    EXPECT_EQ(prompter_.questions[0],
              "Warning: Error output Video Size.Use the default size 320x240?");

    test::ScriptedPrompter no(false);
    OutputOptions output;
    BuildConversionJob({settings_, catalog_, no}, record_, kCode, output, probe_, input_);
    EXPECT_EQ(output.FrameSize, "640x480");
}

TEST_F(JobBuilderTest, DiscTargets) {
    struct Case {
        const char* format;
        const char* codec;
        const char* size;
        int type, norm;
        const char* aspect;  // with a zoom that sets no aspect of its own
    } cases[] = {
        {"ntsc-dvd", "mpeg2video", "720x480", 3, 2, "16:9"},
        {"pal-dvd", "mpeg2video", "352x288", 3, 1, "4:3"},
        {"pal-svcd", "mpeg2video", "480x576", 3, 1, "4:3"},
        {"ntsc-vcd", "mpeg1video", "352x240", 1, 2, "4:3"},
        {"PAL-VCD", "mpeg1video", "352x288", 1, 1, "4:3"},
    };
    OpenSource(352, 288);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        Store({{profile::paraVideoEncoder, c.codec}, {profile::paraVideoSize, c.size}});
        output_ = OutputOptions();
        Build("none", c.format);
        EXPECT_EQ(output_.TargetType, c.type);
        EXPECT_EQ(output_.TargetNorm, c.norm);
        EXPECT_EQ(output_.AspectRatio, c.aspect);
        EXPECT_EQ(output_.FileFormat, "");
    }
    // The zoom step replaces the target's aspect.
    output_ = OutputOptions();
    Build("full", "ntsc-vcd");
    EXPECT_EQ(output_.AspectRatio, "352:288");
}

TEST_F(JobBuilderTest, ContainerAndH264Preset) {
    struct Case {
        const char* format;
        const char* fileFormat;
        const char* preset;
    } cases[] = {{"ipod", "ipod", "libx264-ipod"}, {"PSP", "PSP", "libx264-psp"},
                 {"ps3", "", "libx264-ps3"},       {"mp4", "", "libx264-mp4"},
                 {"mov", "mov", "libx264-mp4"}};
    OpenSource(320, 240);
    Store({{profile::paraVideoEncoder, "libx264"}, {profile::paraVideoSize, "320x240"}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        output_ = OutputOptions();
        Build("full", c.format);
        EXPECT_EQ(output_.FileFormat, c.fileFormat);
        EXPECT_EQ(output_.VideoPreset, c.preset);
    }
}

TEST_F(JobBuilderTest, RatesAndVolume) {
    struct Case {
        const char* name;
        Values values;
        int videoBitrate, audioBitrate, volume, channels, sampleRate;
        const char* frameRate;
    } cases[] = {
        {"stored values", {{"paraVideoBitRate", "768"}, {"paraAudioBitRate", "96.5"},
                           {"paraVolume", "128"}, {"paraChannel", "1"},
                           {"paraSampleRate", "22050"}, {"paraFrameRate", "25"}},
         768000, 96500, 128, 1, 22050, "25"},
        {"read defaults", {}, 512000, 128000, 3, 2, 44100, "29.97"},
        {"unchanged and zero", {{"paraVideoBitRate", "0"}, {"paraAudioBitRate", "0"},
                                {"paraVolume", "256"}, {"paraChannel", "as source"},
                                {"paraSampleRate", "as source"}, {"paraFrameRate", "as source"}},
         -1, -1, -1, -1, -1, ""},
    };
    OpenSource(320, 240);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        settings_ = IniFile(dir_.filePath(QString("%1.ini").arg(c.name)));
        Store(c.values);
        Store({{profile::paraVideoEncoder, "mpeg4"}, {profile::paraAudioEncoder, "libfaac"}});
        output_ = OutputOptions();
        Build("full");
        EXPECT_EQ(output_.VideoBitrate, c.videoBitrate);
        EXPECT_EQ(output_.AudioBitrate, c.audioBitrate);
        EXPECT_EQ(output_.AudioVolume, c.volume);
        EXPECT_EQ(output_.AudioChannels, c.channels);
        EXPECT_EQ(output_.AudioSampleRate, c.sampleRate);
        EXPECT_EQ(output_.FrameRate, c.frameRate);
        EXPECT_EQ(output_.AudioCodec, "libfaac");
        EXPECT_FALSE(output_.DisableAudio);
    }

    // "as source" copies the source stream's bit rate, whatever the probe says of it.
    VideoStreamInfo info;
    ASSERT_TRUE(probe_.GetVideoStreamInfo(probe_.FirstVideoStream(), info));
    Store({{profile::paraVideoEncoder, "mpeg4"}, {"paraVideoBitRate", "as source"}});
    output_ = OutputOptions();
    Build("full");
    EXPECT_EQ(output_.VideoBitrate, info.BitRate);

    Store({{"paraVolume", "loud"}});
    EXPECT_THROW(Build("full"), InvalidIntegerError);
}

TEST_F(JobBuilderTest, AudioOnlyJobs) {
    // No stored video encoder: audio only, even for a video source.
    OpenSource(320, 240);
    Build("lbox");
    EXPECT_EQ(input_.ExtOptions, "vn=1");
    EXPECT_TRUE(output_.DisableVideo);
    EXPECT_TRUE(output_.DisableSubtitle);
    EXPECT_EQ(output_.AudioCodec, "libfaac");
    EXPECT_EQ(output_.AudioChannels, 2);
    EXPECT_EQ(output_.AudioSampleRate, 44100);
    EXPECT_EQ(output_.AudioBitrate, 128000);
    EXPECT_EQ(output_.AudioVolume, 3);
    EXPECT_EQ(output_.FrameSize, "");

    // A video profile on a source without pictures keeps the job's audio.
    OpenSource(0, 0, false);
    Store({{profile::paraVideoEncoder, "mpeg4"}, {profile::paraVideoSize, "320x240"},
           {profile::paraAudioEncoder, "libamr_nb"}});
    output_ = OutputOptions();
    input_ = InputOptions();
    Build("lbox");
    EXPECT_TRUE(output_.DisableVideo);
    EXPECT_EQ(output_.VideoFilters, "");
    EXPECT_EQ(output_.FrameSize, "");
    EXPECT_EQ(output_.AudioCodec, "libopencore_amrnb");
    EXPECT_EQ(input_.ExtOptions, "");

    Store({{profile::paraAudioEncoder, " "}});
    output_ = OutputOptions();
    Build("lbox");
    EXPECT_TRUE(output_.DisableAudio);
}

}  // namespace
