// Every profile converts a short clip into a file its device plays: each profile with its catalog
// defaults, and the device families also through every item of their size, bit-rate and encoder
// lists. The outputs are read back with the libraries, never compared byte by byte.

#include "app/Settings.h"
#include "engine/EngineLogger.h"
#include "engine/FFmpegLoader.h"
#include "engine/MainThread.h"
#include "probe/MediaProbe.h"
#include "profiles/ProfileCatalog.h"
#include "profiles/ProfileTable.h"
#include "queue/BatchRun.h"
#include "queue/ConversionList.h"
#include "support/MediaFixtures.h"
#include "support/ScriptedPrompter.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/pixdesc.h>
}

using namespace kavel;

namespace {

const QString kCatalog = QStringLiteral(KAVEL_SOURCE_DIR "/data/kaveliphoneformat.ini");

// What a converted file holds, as the libraries read it back.
struct OutputFacts {
    std::string Format;  // demuxer name
    std::string Brand;   // "major_brand" of MP4-family files
    bool HasVideo = false;
    AVCodecID VideoCodec = AV_CODEC_ID_NONE;
    uint32_t VideoTag = 0;
    int VideoProfile = FF_PROFILE_UNKNOWN;
    int VideoLevel = FF_LEVEL_UNKNOWN;
    bool Reordered = false;  // a packet shown before one decoded earlier: B-frames
    AVPixelFormat PixelFormat = AV_PIX_FMT_NONE;
    int Width = 0;
    int Height = 0;
    double FrameRate = 0.0;
    bool HasAudio = false;
    AVCodecID AudioCodec = AV_CODEC_ID_NONE;
    int AudioProfile = FF_PROFILE_UNKNOWN;
    int SampleRate = 0;
    int Channels = 0;
};

struct InputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
using InputPtr = std::unique_ptr<AVFormatContext, InputCloser>;

struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

OutputFacts ReadOutput(const std::string& path) {
    OutputFacts facts;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return facts;
    InputPtr input(raw);
    if (avformat_find_stream_info(input.get(), nullptr) < 0)
        return facts;
    facts.Format = input->iformat->name;
    if (const AVDictionaryEntry* brand = av_dict_get(input->metadata, "major_brand", nullptr, 0))
        facts.Brand = brand->value;

    const int video = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const int audio = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (video >= 0) {
        const AVStream* stream = input->streams[video];
        const AVCodecParameters* p = stream->codecpar;
        facts.HasVideo = true;
        facts.VideoCodec = p->codec_id;
        facts.VideoTag = p->codec_tag;
        facts.VideoProfile = p->profile;
        facts.VideoLevel = p->level;
        facts.PixelFormat = AVPixelFormat(p->format);
        facts.Width = p->width;
        facts.Height = p->height;
        const AVRational rate =
            stream->avg_frame_rate.num ? stream->avg_frame_rate : stream->r_frame_rate;
        facts.FrameRate = av_q2d(rate);
        facts.Reordered = p->video_delay > 0;
    }
    if (audio >= 0) {
        const AVCodecParameters* p = input->streams[audio]->codecpar;
        facts.HasAudio = true;
        facts.AudioCodec = p->codec_id;
        facts.AudioProfile = p->profile;
        facts.SampleRate = p->sample_rate;
        facts.Channels = p->ch_layout.nb_channels;
    }
    // Packets in decoding order: presentation times that go back mean reordered pictures.
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    int64_t latest = AV_NOPTS_VALUE;
    while (video >= 0 && av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == video && packet->pts != AV_NOPTS_VALUE) {
            if (latest != AV_NOPTS_VALUE && packet->pts < latest)
                facts.Reordered = true;
            latest = std::max(latest, packet->pts);
        }
        av_packet_unref(packet.get());
    }
    return facts;
}

std::string Describe(const OutputFacts& f) {
    std::string text = f.Format + " [" + f.Brand + "]";
    if (f.HasVideo) {
        text += " video " + std::string(avcodec_get_name(f.VideoCodec));
        if (const AVCodecDescriptor* d = avcodec_descriptor_get(f.VideoCodec))
            if (const char* name = av_get_profile_name(avcodec_find_decoder(d->id), f.VideoProfile))
                text += std::string(" ") + name;
        text += " level " + std::to_string(f.VideoLevel);
        text += f.Reordered ? " B-frames" : " no B-frames";
        const char* pix = av_get_pix_fmt_name(f.PixelFormat);
        text += std::string(" ") + (pix ? pix : "?");
        text += " " + std::to_string(f.Width) + "x" + std::to_string(f.Height);
        text += " " + std::to_string(f.FrameRate) + " fps";
        char tag[AV_FOURCC_MAX_STRING_SIZE] = {};
        text += std::string(" tag ") + av_fourcc_make_string(tag, f.VideoTag);
    }
    if (f.HasAudio) {
        text += " audio " + std::string(avcodec_get_name(f.AudioCodec));
        text += " profile " + std::to_string(f.AudioProfile);
        text += " " + std::to_string(f.SampleRate) + " Hz " + std::to_string(f.Channels) + " ch";
    }
    return text;
}

// The limits of the device families, as the players' specifications give them.
constexpr int kIpod = 0, kIphone = 1, kAppleTv = 2;

struct DeviceLimits {
    int MaxWidth;
    int MaxHeight;
    int MaxKbps;
    int MaxH264Level;
};

// Profiles made for the small screen: their bit rate stays at 768 kbit/s.
bool IsSmallScreenProfile(int code) {
    for (int small : {2, 3, 4, 7, 102, 203})
        if (code == small)
            return true;
    return false;
}

DeviceLimits LimitsOf(int code, AVCodecID codec) {
    const int family = code / 100;
    DeviceLimits limits{640, 480, IsSmallScreenProfile(code) ? 768 : 2500, 30};
    if (code == 104)
        limits.MaxWidth = 720, limits.MaxHeight = 576;
    if (family == kAppleTv) {
        limits = codec == AV_CODEC_ID_H264 ? DeviceLimits{1280, 720, 5000, 31}
                                           : DeviceLimits{720, 480, 3000, 0};
    }
    return limits;
}

bool IsDeviceFamily(int code) {
    const int family = code / 100;
    return family == kIpod || family == kIphone || family == kAppleTv;
}

// What every output of an iPod, iPhone or Apple TV profile must be to play on its device.
void ExpectDevicePlays(int code, const OutputFacts& f) {
    const int family = code / 100;
    SCOPED_TRACE(Describe(f));
    EXPECT_NE(f.Format.find("mp4"), std::string::npos);
    EXPECT_EQ(f.Brand, family == kAppleTv ? "isom" : "M4V ");
    ASSERT_TRUE(f.HasVideo);
    const DeviceLimits limits = LimitsOf(code, f.VideoCodec);
    if (f.VideoCodec == AV_CODEC_ID_H264) {
        if (family == kAppleTv) {
            EXPECT_EQ(f.VideoProfile, FF_PROFILE_H264_MAIN);
        } else {
            EXPECT_EQ(f.VideoProfile & ~FF_PROFILE_H264_CONSTRAINED, FF_PROFILE_H264_BASELINE);
            EXPECT_FALSE(f.Reordered);
        }
        EXPECT_LE(f.VideoLevel, limits.MaxH264Level);
        EXPECT_GT(f.VideoLevel, 0);
    } else {
        EXPECT_EQ(f.VideoCodec, AV_CODEC_ID_MPEG4);
        EXPECT_EQ(f.VideoProfile, FF_PROFILE_MPEG4_SIMPLE);
        EXPECT_FALSE(f.Reordered);
    }
    EXPECT_EQ(f.PixelFormat, AV_PIX_FMT_YUV420P);
    EXPECT_LE(f.Width, limits.MaxWidth);
    EXPECT_LE(f.Height, limits.MaxHeight);
    EXPECT_LE(f.FrameRate, 30.001);
    ASSERT_TRUE(f.HasAudio);
    EXPECT_EQ(f.AudioCodec, AV_CODEC_ID_AAC);
    EXPECT_EQ(f.AudioProfile, FF_PROFILE_AAC_LOW);
    EXPECT_LE(f.SampleRate, 48000);
    EXPECT_GE(f.Channels, 1);
    EXPECT_LE(f.Channels, 2);
}

class DeviceOutputTest : public testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(LoadLibraries(EngineLibraries)) << LastLoadError(); }

    void SetUp() override {
        settings_.SetOutPutDir(dir_.filePath("out"));
        run_.OnTaskEnded = [this](int, int, const TerminateInfo& info) {
            taskError_ = info.ExceptionMsg;
        };
        EngineLogger::Instance().SetOnLog(
            [this](const void*, uint32_t, LogLevel level, const std::string& message) {
                if (level == llWarning && message.rfind("Profile ", 0) == 0)
                    warnings_.push_back(message);
            });
    }

    void TearDown() override { EngineLogger::Instance().SetOnLog(nullptr); }

    // A 4:4:4 source with a stereo tone: today's encoders keep 4:4:4 unless told otherwise,
    // and what iPods refuse first is exactly that. Intra-only pictures give a large one a bit
    // rate above what the small screens take.
    static std::string Source(double seconds, int width = 320, int height = 240,
                              bool intraOnly = false) {
        fixtures::MediaParams params;
        params.Seconds = seconds;
        params.Width = width;
        params.Height = height;
        params.VideoCodec = "libx264";
        params.PixelFormat = AV_PIX_FMT_YUV444P;
        if (intraOnly) {
            params.GopSize = 1;
            params.VideoBitRate = 4000000;
        }
        params.AudioStreams = 1;
        params.Channels = 2;
        params.SampleRate = 44100;
        return fixtures::MakeMedia(params);
    }

    // Restores the profile's defaults as the "Default" button does, and chooses the profile.
    void UseProfile(int code) {
        settings_.SetFormat(QString::number(code), QString::fromLatin1(FindProfile(code)->Name));
        RestoreDefaults(settings_.ini(), catalog_, code);
    }

    QString Stored(int code, const QString& key) const {
        return settings_.ini().readString(ProfileSection(code), key, QString());
    }

    // Converts the source through the batch run and reads the output back; empty facts and a
    // failure when the run did not convert.
    OutputFacts Convert(const std::string& source) {
        list_.Clear();
        list_.Add({QString::fromStdString(source)});
        taskError_.clear();
        warnings_.clear();
        if (!run_.Start()) {
            ADD_FAILURE() << "nothing started: " << prompter_.messages.join("; ").toStdString();
            return {};
        }
        WaitPumping([this] { return !run_.Running(); });
        run_.Finish();
        const QString output = list_.Row(0).Record.DestFile;
        EXPECT_EQ(list_.Row(0).Progress, "100%") << taskError_;
        OutputFacts facts = ReadOutput(output.toStdString());
        QFile::remove(output);
        return facts;
    }

    QTemporaryDir dir_;
    AppSettings settings_{dir_.filePath("settings.ini")};
    ProfileCatalog catalog_{kCatalog};
    test::ScriptedPrompter prompter_;
    ConvertEngine engine_;
    ConversionList list_{
        settings_, catalog_, prompter_, [](const QString& path, int64_t* us) {
            MediaProbe probe;
            FileStreamInfo info;
            if (!probe.LoadFile(path.toStdString()) || !probe.GetFileStreamInfo(info))
                return false;
            *us = info.Duration;
            return true;
        }};
    BatchRun run_{engine_, list_, settings_, catalog_, prompter_};
    std::string taskError_;
    std::vector<std::string> warnings_;
};

// What each profile gives with its catalog defaults.
struct DefaultCase {
    int Code;
    const char* Format;  // part of the demuxer's name
    const char* Brand;   // "major_brand", "" where the container has none
    AVCodecID Video;     // AV_CODEC_ID_NONE: audio only
    const char* Tag;     // four-character tag, nullptr: not checked
    int Width, Height;
    double FrameRate;
    AVPixelFormat PixelFormat;
    AVCodecID Audio;
    int SampleRate;
};

constexpr AVCodecID kNoVideo = AV_CODEC_ID_NONE;
constexpr AVPixelFormat k420 = AV_PIX_FMT_YUV420P;
constexpr AVPixelFormat kNone = AV_PIX_FMT_NONE;

// clang-format off
const DefaultCase kDefaults[] = {
    {0,   "mp4", "M4V ", AV_CODEC_ID_MPEG4, nullptr, 320, 240, 29.97, k420, AV_CODEC_ID_AAC, 44100},
    {1,   "mp4", "M4V ", AV_CODEC_ID_H264,  nullptr, 320, 240, 29.97, k420, AV_CODEC_ID_AAC, 44100},
    {2,   "mp4", "M4V ", AV_CODEC_ID_MPEG4, nullptr, 320, 240, 29.97, k420, AV_CODEC_ID_AAC, 44100},
    {3,   "mp4", "M4V ", AV_CODEC_ID_MPEG4, nullptr, 320, 240, 29.97, k420, AV_CODEC_ID_AAC, 44100},
    {4,   "mp4", "M4V ", AV_CODEC_ID_MPEG4, nullptr, 320, 240, 29.97, k420, AV_CODEC_ID_AAC, 44100},
    {5,   "mp4", "M4V ", AV_CODEC_ID_MPEG4, nullptr, 640, 480, 29.97, k420, AV_CODEC_ID_AAC, 44100},
    {6,   "mp4", "M4V ", AV_CODEC_ID_MPEG4, nullptr, 480, 320, 29.97, k420, AV_CODEC_ID_AAC, 44100},
    {7,   "mp4", "M4V ", AV_CODEC_ID_MPEG4, nullptr, 320, 240, 29.97, k420, AV_CODEC_ID_AAC, 44100},
    {8,   "mp4", "M4V ", AV_CODEC_ID_MPEG4, nullptr, 480, 272, 29.97, k420, AV_CODEC_ID_AAC, 44100},
    {100, "mp4", "M4V ", AV_CODEC_ID_MPEG4, nullptr, 480, 320, 29.97, k420, AV_CODEC_ID_AAC, 44100},
    {101, "mp4", "M4V ", AV_CODEC_ID_MPEG4, nullptr, 480, 272, 29.97, k420, AV_CODEC_ID_AAC, 44100},
    {102, "mp4", "M4V ", AV_CODEC_ID_MPEG4, nullptr, 320, 240, 29.97, k420, AV_CODEC_ID_AAC, 44100},
    {103, "mp4", "M4V ", AV_CODEC_ID_MPEG4, nullptr, 640, 480, 29.97, k420, AV_CODEC_ID_AAC, 44100},
    {104, "mp4", "M4V ", AV_CODEC_ID_MPEG4, nullptr, 720, 576, 25.0,  k420, AV_CODEC_ID_AAC, 48000},
    {200, "mp4", "isom", AV_CODEC_ID_MPEG4, nullptr, 640, 480, 29.97, k420, AV_CODEC_ID_AAC, 44100},
    {201, "mp4", "isom", AV_CODEC_ID_MPEG4, nullptr, 640, 480, 29.97, k420, AV_CODEC_ID_AAC, 44100},
    {202, "mp4", "isom", AV_CODEC_ID_MPEG4, nullptr, 640, 480, 29.97, k420, AV_CODEC_ID_AAC, 44100},
    {203, "mp4", "isom", AV_CODEC_ID_H264,  nullptr, 320, 240, 29.97, k420, AV_CODEC_ID_AAC, 44100},
    {204, "mp4", "isom", AV_CODEC_ID_H264,  nullptr, 640, 480, 29.97, k420, AV_CODEC_ID_AAC, 44100},
    {205, "mp4", "isom", AV_CODEC_ID_H264,  nullptr, 1280, 720, 29.97, k420, AV_CODEC_ID_AAC, 44100},
    {300, "mov", "qt  ", AV_CODEC_ID_H264,  nullptr, 640, 480, 29.97, k420, AV_CODEC_ID_AAC, 44100},
    {400, "mpeg", "", AV_CODEC_ID_MPEG1VIDEO, nullptr, 352, 240, 29.97, k420, AV_CODEC_ID_MP2, 44100},
    {401, "mpeg", "", AV_CODEC_ID_MPEG2VIDEO, nullptr, 720, 480, 29.97, k420, AV_CODEC_ID_MP2, 48000},
    {402, "mp4", "isom", AV_CODEC_ID_MPEG4, nullptr, 640, 480, 29.97, k420, AV_CODEC_ID_AAC, 44100},
    {403, "mp4", "isom", AV_CODEC_ID_H264,  nullptr, 640, 480, 29.97, k420, AV_CODEC_ID_AAC, 44100},
    {404, "avi", "", AV_CODEC_ID_MPEG4,     nullptr, 640, 480, 29.97, k420, AV_CODEC_ID_MP3, 44100},
    {405, "asf", "", AV_CODEC_ID_WMV2,      nullptr, 640, 480, 29.97, k420, AV_CODEC_ID_WMAV2, 44100},
    {406, "avi", "", AV_CODEC_ID_MPEG4,     "DIVX",  640, 480, 29.97, k420, AV_CODEC_ID_MP3, 44100},
    {407, "avi", "", AV_CODEC_ID_MPEG4,     "XVID",  640, 480, 29.97, k420, AV_CODEC_ID_MP3, 44100},
    {408, "dv", "", AV_CODEC_ID_DVVIDEO,    nullptr, 720, 480, 29.97, AV_PIX_FMT_YUV411P, AV_CODEC_ID_PCM_S16LE, 48000},
    {409, "dv", "", AV_CODEC_ID_DVVIDEO,    nullptr, 720, 576, 25.0,  k420, AV_CODEC_ID_PCM_S16LE, 48000},
    {500, "mp3", "", kNoVideo, nullptr, 0, 0, 0, kNone, AV_CODEC_ID_MP3, 44100},
    {501, "aac", "", kNoVideo, nullptr, 0, 0, 0, kNone, AV_CODEC_ID_AAC, 44100},
    {502, "mp4", "M4A ", kNoVideo, nullptr, 0, 0, 0, kNone, AV_CODEC_ID_AAC, 44100},
    {503, "asf", "", kNoVideo, nullptr, 0, 0, 0, kNone, AV_CODEC_ID_WMAV2, 44100},
    {504, "wav", "", kNoVideo, nullptr, 0, 0, 0, kNone, AV_CODEC_ID_PCM_S16LE, 44100},
    {505, "ogg", "", kNoVideo, nullptr, 0, 0, 0, kNone, AV_CODEC_ID_VORBIS, 44100},
    {506, "ac3", "", kNoVideo, nullptr, 0, 0, 0, kNone, AV_CODEC_ID_AC3, 48000},
};
// clang-format on

TEST_F(DeviceOutputTest, EveryProfileWithItsDefaults) {
    EXPECT_EQ(std::size(kDefaults), size_t(ProfileCount()));
    const std::string source = Source(0.5);
    for (const DefaultCase& c : kDefaults) {
        SCOPED_TRACE(std::to_string(c.Code) + " " + FindProfile(c.Code)->Name);
        UseProfile(c.Code);
        const OutputFacts f = Convert(source);
        SCOPED_TRACE(Describe(f));
        EXPECT_NE(f.Format.find(c.Format), std::string::npos);
        if (*c.Brand) {  // other containers may carry the source's brand as a plain tag
            EXPECT_EQ(f.Brand, c.Brand);
        }
        EXPECT_EQ(f.HasVideo, c.Video != kNoVideo);
        if (c.Video != kNoVideo) {
            EXPECT_EQ(f.VideoCodec, c.Video);
            if (c.Tag) {
                EXPECT_EQ(f.VideoTag, MKTAG(c.Tag[0], c.Tag[1], c.Tag[2], c.Tag[3]));
            }
            EXPECT_EQ(f.PixelFormat, c.PixelFormat);
            EXPECT_EQ(f.Width, c.Width);
            EXPECT_EQ(f.Height, c.Height);
            EXPECT_NEAR(f.FrameRate, c.FrameRate, 0.01);
        }
        ASSERT_TRUE(f.HasAudio);
        EXPECT_EQ(f.AudioCodec, c.Audio);
        if (c.Audio == AV_CODEC_ID_AAC) {
            EXPECT_EQ(f.AudioProfile, FF_PROFILE_AAC_LOW);
        }
        EXPECT_EQ(f.SampleRate, c.SampleRate);
        EXPECT_EQ(f.Channels, 2);
        if (IsDeviceFamily(c.Code))
            ExpectDevicePlays(c.Code, f);
    }
}

// A user who picks another item of a device profile's lists still gets a file the device plays.
TEST_F(DeviceOutputTest, EveryListItemOfTheDeviceProfiles) {
    const std::string source = Source(0.3);
    MediaProbe probe;
    ASSERT_TRUE(probe.LoadFile(source));
    VideoStreamInfo sourceVideo;
    ASSERT_TRUE(probe.GetVideoStreamInfo(probe.FirstVideoStream(), sourceVideo));

    for (const ProfileFamily& family : ProfileFamilies()) {
        for (const ProfileEntry& entry : family.Profiles) {
            const int code = entry.Code;
            if (!IsDeviceFamily(code))
                continue;
            for (ProfileParameter parameter :
                 {ProfileParameter::VideoSize, ProfileParameter::VideoBitRate,
                  ProfileParameter::VideoEncoder}) {
                const QStringList items = catalog_.Choices(code, parameter).Items;
                for (int index = 0; index < items.size(); ++index) {
                    const QString& item = items[index];
                    SCOPED_TRACE(std::to_string(code) + " " + entry.Name + ": item " +
                                 item.toStdString());
                    UseProfile(code);
                    StoreParameter(settings_.ini(), catalog_, code, parameter, index, item);
                    const OutputFacts f = Convert(source);
                    ExpectDevicePlays(code, f);

                    if (parameter == ProfileParameter::VideoSize) {
                        const QString size = IsFrameSizeAsSource(item) ? "320x240" : item;
                        EXPECT_EQ(QString("%1x%2").arg(f.Width).arg(f.Height), size);
                    }
                    if (parameter == ProfileParameter::VideoEncoder) {
                        EXPECT_EQ(f.VideoCodec,
                                  item == "H264" ? AV_CODEC_ID_H264 : AV_CODEC_ID_MPEG4);
                    }
                    // The rates the profile offers are the device's; "as source" beyond them
                    // is reported.
                    const QString bitrate = Stored(code, profile::paraVideoBitRate);
                    const int limit = LimitsOf(code, f.VideoCodec).MaxKbps;
                    if (!IsAsSource(bitrate)) {
                        EXPECT_LE(bitrate.toInt(), limit);
                    }
                    if (IsAsSource(bitrate) && sourceVideo.BitRate > limit * 1000) {
                        EXPECT_FALSE(warnings_.empty());
                    } else {
                        EXPECT_TRUE(warnings_.empty()) << warnings_.front();
                    }
                    EXPECT_LE(Stored(code, profile::paraAudioBitRate).toDouble(), 160.0);
                }
            }
        }
    }
}

// A source larger than the device takes, converted "as source", is said so in the log.
TEST_F(DeviceOutputTest, AsSourceBeyondTheDeviceIsReported) {
    const std::string source = Source(0.3, 1280, 720, true);
    MediaProbe probe;
    ASSERT_TRUE(probe.LoadFile(source));
    VideoStreamInfo sourceVideo;
    ASSERT_TRUE(probe.GetVideoStreamInfo(probe.FirstVideoStream(), sourceVideo));
    ASSERT_GT(sourceVideo.BitRate, 768000);

    UseProfile(2);
    StoreParameter(settings_.ini(), catalog_, 2, ProfileParameter::VideoSize, 5, "as source");
    StoreParameter(settings_.ini(), catalog_, 2, ProfileParameter::VideoBitRate, 7, "as source");
    const OutputFacts f = Convert(source);
    EXPECT_EQ(f.Width, 1280);
    EXPECT_EQ(f.Height, 720);
    ASSERT_EQ(warnings_.size(), 2u);
    EXPECT_NE(warnings_[0].find("1280x720"), std::string::npos) << warnings_[0];
    EXPECT_NE(warnings_[0].find("320x240"), std::string::npos) << warnings_[0];
    EXPECT_NE(warnings_[1].find("768 kbit/s"), std::string::npos) << warnings_[1];
}

}  // namespace
