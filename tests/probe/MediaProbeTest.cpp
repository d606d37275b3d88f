#include "probe/MediaProbe.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "engine/EngineLogger.h"
#include "engine/FFmpegException.h"
#include "engine/FFmpegLoader.h"
#include "engine/FileNames.h"
#include "support/MediaFixtures.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace kavel {
namespace {

using fixtures::MakeMedia;
using fixtures::MediaParams;

class MediaProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadLibraries(EngineLibraries)) << LastLoadError();
        EngineLogger& logger = EngineLogger::Instance();
        logger.SetTriggerEventInMainThread(false);
        logger.SetLogLevel(llInfo);
        logger.SetOnLog([this](const void*, uint32_t, LogLevel level, const std::string& text) {
            std::lock_guard lock(loggedMutex_);
            logged_.push_back({level, text});
        });
    }
    void TearDown() override { EngineLogger::Instance().SetOnLog(nullptr); }

    bool Logged(LogLevel level, const std::string& text) {
        std::lock_guard lock(loggedMutex_);
        for (const auto& [l, t] : logged_) {
            if (l == level && t == text) {
                return true;
            }
        }
        return false;
    }

    static std::string VideoMp4() { return MakeMedia({}); }
    static std::string NtscAviWithMonoTone() {
        return MakeMedia({.Container = "avi",
                          .FrameRate = {30000, 1001},
                          .AudioStreams = 1,
                          .Channels = 1,
                          .SampleRate = 22050,
                          .AudioCodec = "pcm_s16le"});
    }
    static std::string TransportStreamTwoTones() {
        return MakeMedia(
            {.Container = "mpegts", .AudioStreams = 2, .AudioCodec = "mp2", .Language = "eng"});
    }
    static std::string AudioOnlyWav() {
        return MakeMedia(
            {.Container = "wav", .Video = false, .AudioStreams = 1, .AudioCodec = "pcm_s16le"});
    }
    static std::string MatroskaWithMetadata() {
        return MakeMedia({.Container = "matroska",
                          .AudioStreams = 1,
                          .Metadata = {{"title", "Probe title"},
                                       {"artist", "Probe artist"},
                                       {"comment", "made for the probe"},
                                       {"date", "2009-05-01"},
                                       {"track", "3/12"}}});
    }

    std::mutex loggedMutex_;
    std::vector<std::pair<LogLevel, std::string>> logged_;
};

void ExpectNoFile(const MediaProbe& probe) {
    EXPECT_EQ(probe.FileSize(), -1);
    EXPECT_EQ(probe.StreamCount(), -1);
    EXPECT_EQ(probe.ProgramCount(), -1);
    EXPECT_EQ(probe.AudioStreamCount(), -1);
    EXPECT_EQ(probe.VideoStreamCount(), -1);
    EXPECT_EQ(probe.SubtitleStreamCount(), -1);
    EXPECT_EQ(probe.FirstAudioStream(), -1);
    EXPECT_EQ(probe.FirstVideoStream(), -1);
    EXPECT_EQ(probe.FirstSubtitleStream(), -1);
    EXPECT_EQ(probe.DefaultStream(), -1);
    EXPECT_EQ(probe.DefaultStartTime(), 0);
    EXPECT_EQ(probe.FileName(), "");
    EXPECT_EQ(probe.FormatShortName(), "");
    EXPECT_EQ(probe.Context(), nullptr);
}

TEST_F(MediaProbeTest, CountsAndFirstStreams) {
    struct Case {
        const char* Name;
        std::string File;
        int Streams, Programs, Video, Audio, Subtitles, FirstVideo, FirstAudio, FirstSubtitle,
            Default;
    };
    const Case cases[] = {
        {"video only", VideoMp4(), 1, 0, 1, 0, 0, 0, -1, -1, 0},
        {"video and tone", NtscAviWithMonoTone(), 2, 0, 1, 1, 0, 0, 1, -1, 0},
        {"two tones in a program", TransportStreamTwoTones(), 3, 1, 1, 2, 0, 0, 1, -1, 0},
        {"audio only", AudioOnlyWav(), 1, 0, 0, 1, 0, -1, 0, -1, 0},
        {"tone and subtitles",
         MakeMedia(
             {.Container = "matroska", .Video = false, .AudioStreams = 1, .SubtitleStreams = 1}),
         2, 0, 0, 1, 1, -1, 0, 1, 0},
    };
    for (const Case& c : cases) {
        MediaProbe probe;
        ASSERT_TRUE(probe.LoadFile(c.File)) << c.Name << ": " << probe.LastErrMsg();
        EXPECT_EQ(probe.StreamCount(), c.Streams) << c.Name;
        EXPECT_EQ(probe.ProgramCount(), c.Programs) << c.Name;
        EXPECT_EQ(probe.VideoStreamCount(), c.Video) << c.Name;
        EXPECT_EQ(probe.AudioStreamCount(), c.Audio) << c.Name;
        EXPECT_EQ(probe.SubtitleStreamCount(), c.Subtitles) << c.Name;
        EXPECT_EQ(probe.FirstVideoStream(), c.FirstVideo) << c.Name;
        EXPECT_EQ(probe.FirstAudioStream(), c.FirstAudio) << c.Name;
        EXPECT_EQ(probe.FirstSubtitleStream(), c.FirstSubtitle) << c.Name;
        EXPECT_EQ(probe.DefaultStream(), c.Default) << c.Name;
        EXPECT_EQ(probe.FileName(), c.File) << c.Name;
        EXPECT_TRUE(probe.OwnsContext()) << c.Name;
        EXPECT_GT(probe.FileSize(), 0) << c.Name;
        probe.Close();
        ExpectNoFile(probe);
    }
}

TEST_F(MediaProbeTest, NothingLoadedAtStartAndCloseIsAlwaysSafe) {
    MediaProbe probe;
    ExpectNoFile(probe);
    probe.Close();
    probe.Close();
    ExpectNoFile(probe);
}

TEST_F(MediaProbeTest, VideoStreamRecord) {
    MediaProbe probe;
    ASSERT_TRUE(probe.LoadFile(NtscAviWithMonoTone())) << probe.LastErrMsg();
    VideoStreamInfo video;
    ASSERT_TRUE(probe.GetVideoStreamInfo(-1, video)) << probe.LastErrMsg();
    EXPECT_EQ(video.Width, 160);
    EXPECT_EQ(video.Height, 120);
    EXPECT_EQ(video.FrameRateNum, 30000);
    EXPECT_EQ(video.FrameRateDen, 1001);
    EXPECT_EQ(video.PixelFormat, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(video.Codec, "mpeg4(MPEG-4 part 2)");
    EXPECT_NEAR(video.DisplayAspectRatio, 4.0 / 3.0, 1e-4);
    EXPECT_EQ(video.StartTimeUS, 0);
    EXPECT_NEAR(static_cast<double>(video.DurationUS), 2002000.0, 40000.0);
    EXPECT_EQ(video.Duration, 60);  // frames in a 1001/30000 time base
    EXPECT_GT(video.BitRate, 0);
    EXPECT_EQ(video.Language, "");
}

TEST_F(MediaProbeTest, AudioStreamRecord) {
    MediaProbe probe;
    ASSERT_TRUE(probe.LoadFile(NtscAviWithMonoTone())) << probe.LastErrMsg();
    AudioStreamInfo audio;
    ASSERT_TRUE(probe.GetAudioStreamInfo(-1, audio)) << probe.LastErrMsg();
    EXPECT_EQ(audio.Channels, 1);
    EXPECT_EQ(audio.SampleRate, 22050);
    EXPECT_EQ(audio.SampleFormat, AV_SAMPLE_FMT_S16);
    EXPECT_EQ(audio.BitRate, 22050 * 16);
    EXPECT_EQ(audio.Codec.rfind("pcm_s16le(", 0), 0u) << audio.Codec;

    ASSERT_TRUE(probe.LoadFile(TransportStreamTwoTones())) << probe.LastErrMsg();
    ASSERT_TRUE(probe.GetAudioStreamInfo(2, audio)) << probe.LastErrMsg();
    EXPECT_EQ(audio.Channels, 2);
    EXPECT_EQ(audio.SampleRate, 44100);
    EXPECT_EQ(audio.Language, "eng");
    EXPECT_GE(audio.StartTimeUS, 0);
    EXPECT_NE(audio.DurationUS, -1);
}

TEST_F(MediaProbeTest, FileRecordAndMetadata) {
    MediaProbe probe;
    ASSERT_TRUE(probe.LoadFile(MatroskaWithMetadata())) << probe.LastErrMsg();
    FileStreamInfo file;
    ASSERT_TRUE(probe.GetFileStreamInfo(file));
    EXPECT_EQ(file.Title, "Probe title");
    EXPECT_EQ(file.Author, "Probe artist");
    EXPECT_EQ(file.Comment, "made for the probe");
    EXPECT_EQ(file.Year, 2009);
    EXPECT_EQ(file.Track, 3);
    EXPECT_EQ(file.Album, "");
    EXPECT_EQ(file.StartTime, 0);
    EXPECT_NEAR(static_cast<double>(file.Duration), 2000000.0, 80000.0);
    EXPECT_GT(file.BitRate, 0);
    EXPECT_EQ(file.Timestamp, -1);
}

TEST_F(MediaProbeTest, CreationTimeBecomesTimestampInLocalTime) {
    MediaProbe probe;
    ASSERT_TRUE(probe.LoadFile(MakeMedia(
        {.Seconds = 0.5, .Metadata = {{"creation_time", "2020-01-02T03:04:05.000000Z"}}})))
        << probe.LastErrMsg();
    FileStreamInfo file;
    ASSERT_TRUE(probe.GetFileStreamInfo(file));
    EXPECT_EQ(file.Timestamp, 1577934245);
    const std::time_t seconds = 1577934245;
    std::tm local{};
    localtime_r(&seconds, &local);
    char expected[64];
    std::strftime(expected, sizeof(expected), "Time Stamp: %Y-%m-%d %H:%M:%S\n", &local);
    EXPECT_NE(probe.Description().find(expected), std::string::npos) << probe.Description();
}

TEST_F(MediaProbeTest, FailingQueriesKeepDefaultsAndSayWhy) {
    const std::string twoStreams = NtscAviWithMonoTone();
    struct Case {
        const char* Name;
        std::string File;  // empty: no file loaded
        int Index;
        bool Video;
        std::string Message;
        LogLevel Level;
    };
    const Case cases[] = {
        {"no file, video", "", -1, true, "file not loaded.", llWarning},
        {"no file, audio", "", 0, false, "file not loaded.", llWarning},
        {"audio-only file", AudioOnlyWav(), -1, true, "no video stream.", llError},
        {"video-only file", VideoMp4(), -1, false, "no audio stream.", llError},
        {"index past the end", twoStreams, 5, false, "stream index #5 is invalid.", llError},
        {"negative index", twoStreams, -2, true, "stream index #-2 is invalid.", llError},
        {"video stream as audio", twoStreams, 0, false, "stream #0 is not audio stream.", llError},
        {"audio stream as video", twoStreams, 1, true, "stream #1 is not video stream.", llError},
    };
    for (const Case& c : cases) {
        MediaProbe probe;
        if (!c.File.empty()) {
            ASSERT_TRUE(probe.LoadFile(c.File)) << c.Name;
        }
        {
            std::lock_guard lock(loggedMutex_);
            logged_.clear();
        }
        if (c.Video) {
            VideoStreamInfo info;
            info.Width = 99;
            info.Codec = "stale";
            EXPECT_FALSE(probe.GetVideoStreamInfo(c.Index, info)) << c.Name;
            EXPECT_EQ(info.Width, -1) << c.Name;
            EXPECT_EQ(info.Codec, "") << c.Name;
            EXPECT_EQ(info.DisplayAspectRatio, -1.0f) << c.Name;
        } else {
            AudioStreamInfo info;
            info.Channels = 2;
            EXPECT_FALSE(probe.GetAudioStreamInfo(c.Index, info)) << c.Name;
            EXPECT_EQ(info.Channels, -1) << c.Name;
            EXPECT_EQ(info.SampleRate, -1) << c.Name;
        }
        EXPECT_EQ(probe.LastErrMsg(), c.Message) << c.Name;
        EXPECT_TRUE(Logged(c.Level, c.Message)) << c.Name;
    }
}

TEST_F(MediaProbeTest, IsAudioAndIsVideoStream) {
    MediaProbe probe;
    EXPECT_FALSE(probe.IsVideoStream(0));
    EXPECT_EQ(probe.LastErrMsg(), "file not loaded.");
    ASSERT_TRUE(probe.LoadFile(NtscAviWithMonoTone()));
    EXPECT_TRUE(probe.IsVideoStream(0));
    EXPECT_TRUE(probe.IsAudioStream(1));
    EXPECT_FALSE(probe.IsAudioStream(0));
    EXPECT_EQ(probe.LastErrMsg(), "stream #0 is not audio stream.");
    EXPECT_FALSE(probe.IsVideoStream(-1));
    EXPECT_EQ(probe.LastErrMsg(), "stream index #-1 is invalid.");
}

TEST_F(MediaProbeTest, FileRecordWithoutFileIsCleared) {
    MediaProbe probe;
    FileStreamInfo file;
    file.Duration = 5;
    file.Title = "stale";
    EXPECT_FALSE(probe.GetFileStreamInfo(file));
    EXPECT_EQ(file.Duration, -1);
    EXPECT_EQ(file.BitRate, -1);
    EXPECT_EQ(file.Title, "");
    EXPECT_EQ(probe.LastErrMsg(), "file not loaded.");
    EXPECT_EQ(probe.Description(), "");
    EXPECT_TRUE(Logged(llWarning, "file not loaded."));
}

TEST_F(MediaProbeTest, FilesThatAreNotMediaFailCleanly) {
    const std::string mp4 = VideoMp4();
    const std::string cases[] = {
        fixtures::MakeEmptyFile(),
        fixtures::MakeRandomFile(4096, 7),
        fixtures::MakeTruncatedCopy(mp4, 600),
        fixtures::WriteFile("notes.avi", "this is a text file, not a video\n"),
        fixtures::TempPath("missing.mp4"),
    };
    for (const std::string& file : cases) {
        MediaProbe probe;
        {
            std::lock_guard lock(loggedMutex_);
            logged_.clear();
        }
        EXPECT_FALSE(probe.LoadFile(file)) << file;
        EXPECT_EQ(probe.LastErrMsg().rfind(file + ": ", 0), 0u) << probe.LastErrMsg();
        EXPECT_GT(probe.LastErrMsg().size(), file.size() + 2) << file;
        EXPECT_TRUE(Logged(llError, probe.LastErrMsg())) << file;
        ExpectNoFile(probe);
    }
    MediaProbe probe;
    EXPECT_FALSE(probe.LoadFile(fixtures::TempPath("missing.mp4")));
    EXPECT_EQ(probe.LastErrMsg(),
              fixtures::TempPath("missing.mp4") + ": No such file or directory");
}

TEST_F(MediaProbeTest, ForcedFormat) {
    MediaProbe probe;
    EXPECT_FALSE(probe.LoadFile(VideoMp4(), "nosuchformat"));
    EXPECT_EQ(probe.LastErrMsg(), "Unknown input format: nosuchformat");
    ExpectNoFile(probe);

    ASSERT_TRUE(probe.LoadFile(fixtures::MakeRandomFile(2000), "u8")) << probe.LastErrMsg();
    EXPECT_EQ(probe.FormatName(), "u8");
    EXPECT_EQ(probe.FormatShortName(), "u8");
    EXPECT_EQ(probe.AudioStreamCount(), 1);
    probe.Close();
    EXPECT_EQ(probe.FormatName(), "");
}

TEST_F(MediaProbeTest, AttachLeavesTheContextToItsOwner) {
    AVFormatContext* context = nullptr;
    ASSERT_EQ(OpenInputFormat(&context, NtscAviWithMonoTone(), nullptr, nullptr), 0);
    ASSERT_GE(avformat_find_stream_info(context, nullptr), 0);
    {
        MediaProbe probe;
        probe.Attach(context);
        EXPECT_FALSE(probe.OwnsContext());
        EXPECT_EQ(probe.Context(), context);
        EXPECT_EQ(probe.StreamCount(), 2);
        EXPECT_EQ(probe.FirstAudioStream(), 1);
        EXPECT_EQ(probe.FileName(), NtscAviWithMonoTone());
        probe.Close();
        ExpectNoFile(probe);
        probe.Attach(context);
    }  // destroying the probe must not close the context either
    AVPacket* packet = av_packet_alloc();
    EXPECT_EQ(av_read_frame(context, packet), 0);
    av_packet_free(&packet);
    CloseInputFormat(&context);
}

TEST_F(MediaProbeTest, MissingLibrariesRaise) {
    MediaProbe probe;
    UnloadLibraries(LibraryBit(libAvformat));
    EXPECT_THROW(
        {
            try {
                probe.LoadFile(VideoMp4());
            } catch (const FFmpegException& e) {
                EXPECT_STREQ(e.what(), "LibAVFormat not loaded.");
                throw;
            }
        },
        FFmpegException);
    EXPECT_THROW(probe.Attach(nullptr), FFmpegException);
    ASSERT_TRUE(LoadLibraries(EngineLibraries));
    EXPECT_TRUE(probe.LoadFile(VideoMp4()));
}

TEST_F(MediaProbeTest, NameBeyondAsciiRoundTrips) {
    const std::string file = MakeMedia({.FileStem = "vidéo-日本語", .Seconds = 0.5});
    const std::string savedLocale = std::setlocale(LC_ALL, nullptr);
    // "C" cannot hold these letters, so the file goes through the engine's own file access;
    // under UTF-8 the name is handed over as it is. Either way it comes back unchanged.
    for (const char* locale : {"C", "C.UTF-8"}) {
        ASSERT_TRUE(std::setlocale(LC_ALL, locale)) << locale;
        MediaProbe probe;
        ASSERT_TRUE(probe.LoadFile(file)) << locale << ": " << probe.LastErrMsg();
        const std::string libraryName = probe.Context()->url;
        EXPECT_EQ(libraryName.rfind(UnicodePrefix, 0) == 0, std::string(locale) == "C")
            << libraryName;
        EXPECT_EQ(probe.FileName(), file) << locale;
        EXPECT_EQ(probe.VideoStreamCount(), 1) << locale;
        EXPECT_NE(probe.Description().find("File Name: " + file + "\n"), std::string::npos);
    }
    std::setlocale(LC_ALL, savedLocale.c_str());
}

TEST(FileSizeTextTest, UnitEdges) {
    const std::pair<int64_t, const char*> cases[] = {
        {0, "0 Byte"},
        {1024, "1024 Byte"},
        {1025, "1.00 KB"},
        {1536, "1.50 KB"},
        {1048576, "1024.00 KB"},
        {1048577, "1.00 MB"},
        {1073741824, "1024.00 MB"},
        {1073741825, "1.00 GB"},
        {5LL * 1073741824, "5.00 GB"},
    };
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(FileSizeText(bytes), text) << bytes;
    }
}

TEST(RateTextTest, ThreeFormats) {
    EXPECT_EQ(RateText(30000.0 / 1001, "fps"), ", 29.97 fps");
    EXPECT_EQ(RateText(25, "tbr"), ", 25 tbr");
    EXPECT_EQ(RateText(90000, "tbn"), ", 90k tbn");
    EXPECT_EQ(RateText(1000, "tbn"), ", 1k tbn");
    EXPECT_EQ(RateText(12800, "tbn"), ", 12800 tbn");
}

TEST(MetadataDisplayNameTest, KnownTagsAndOthers) {
    EXPECT_EQ(MetadataDisplayName("TIT2"), "title");
    EXPECT_EQ(MetadataDisplayName("TP1"), "artist");
    EXPECT_EQ(MetadataDisplayName("TYER"), "year");
    EXPECT_EQ(MetadataDisplayName("encoder"), "encoder");
    EXPECT_EQ(MetadataDisplayName("tit2"), "tit2");
}

class MediaProbeDescriptionTest : public MediaProbeTest {
protected:
    std::string Describe(const std::string& file, const std::string& format = "") {
        MediaProbe probe;
        EXPECT_TRUE(probe.LoadFile(file, format)) << probe.LastErrMsg();
        return probe.Description();
    }
    static bool HasLine(const std::string& text, const std::string& line) {
        return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
    }
    static std::string LineStarting(const std::string& text, const std::string& start) {
        const size_t at = ("\n" + text).find("\n" + start);
        if (at == std::string::npos) {
            return "";
        }
        return text.substr(at, text.find('\n', at) - at);
    }
};

TEST_F(MediaProbeDescriptionTest, FileSizeLineAtUnitEdges) {
    // Raw unsigned 8-bit samples: any byte count is a valid file of exactly that size.
    const std::pair<size_t, const char*> cases[] = {
        {1024, "File Size: 1024 Byte"},
        {1025, "File Size: 1.00 KB"},
        {1048577, "File Size: 1.00 MB"},
    };
    for (const auto& [bytes, line] : cases) {
        const std::string text = Describe(fixtures::MakeRandomFile(bytes), "u8");
        EXPECT_TRUE(HasLine(text, line)) << text;
    }
}

TEST_F(MediaProbeDescriptionTest, HeaderLines) {
    const std::string file = VideoMp4();
    const std::string text = Describe(file);
    EXPECT_EQ(text.rfind("File Name: " + file +
                             "\nFormat Name: mov,mp4,m4a,3gp,3g2,mj2\n"
                             "Format Long Name: QuickTime / MOV\nFile Size: ",
                         0),
              0u)
        << text;
    EXPECT_TRUE(HasLine(text, "Duration: 00:00:02.000")) << text;
    EXPECT_TRUE(HasLine(text, "StartTime: 0.000000")) << text;
    EXPECT_EQ(LineStarting(text, "Bit Rate: ").find(" kb/s"),
              LineStarting(text, "Bit Rate: ").size() - 5)
        << text;
}

TEST_F(MediaProbeDescriptionTest, ContainerWithoutDuration) {
    const std::string text = Describe(MakeMedia(fixtures::NoDurationParams()));
    EXPECT_TRUE(HasLine(text, "Duration: N/A")) << text;
    EXPECT_TRUE(HasLine(text, "Bit Rate: N/A")) << text;
    const std::string stream = LineStarting(text, "Stream #0");
    ASSERT_FALSE(stream.empty()) << text;
    EXPECT_EQ(stream.substr(stream.size() - 15), ", Duration: N/A") << stream;
}

TEST_F(MediaProbeDescriptionTest, RateFiguresOfStreamLines) {
    const std::string ntsc = LineStarting(Describe(NtscAviWithMonoTone()), "Stream #0");
    EXPECT_NE(ntsc.find(", 29.97 fps, 29.97 tbr"), std::string::npos) << ntsc;
    const std::string pal = LineStarting(Describe(VideoMp4()), "Stream #0");
    EXPECT_NE(pal.find(", 25 fps, 25 tbr, 12800 tbn, 25 tbc"), std::string::npos) << pal;
    EXPECT_NE(pal.find(", 1/12800: Video: mpeg4"), std::string::npos) << pal;
    const std::string ts = LineStarting(Describe(TransportStreamTwoTones()), "Stream #0");
    EXPECT_NE(ts.find(", 90k tbn"), std::string::npos) << ts;
}

TEST_F(MediaProbeDescriptionTest, ProgramsStreamIdsAndLanguages) {
    const std::string text = Describe(TransportStreamTwoTones());
    EXPECT_TRUE(HasLine(text, "Program 1 FFmpeg@Service01")) << text;
    EXPECT_TRUE(HasLine(text, "  Metadata:")) << text;
    EXPECT_TRUE(HasLine(text, "    service_name    : Service01")) << text;
    EXPECT_EQ(
        LineStarting(text, "Stream #1").rfind("Stream #1[0x101](eng), 1/90000: Audio: mp2", 0), 0u)
        << text;
    // Each stream appears once, under its program.
    EXPECT_EQ(text.find("Stream #2"), text.rfind("Stream #2")) << text;
}

TEST_F(MediaProbeDescriptionTest, MetadataBlock) {
    const std::string text = Describe(MatroskaWithMetadata());
    EXPECT_NE(text.find("\nMetadata:\n"), std::string::npos) << text;
    EXPECT_TRUE(HasLine(text, "  title           : Probe title")) << text;
    EXPECT_TRUE(HasLine(text, "  COMMENT         : made for the probe")) << text;
    // A stream whose only metadata is its language shows no block.
    const std::string ts = Describe(TransportStreamTwoTones());
    const size_t audio = ts.find("Stream #1");
    EXPECT_EQ(ts.find("Metadata:", audio), std::string::npos) << ts;
}

TEST_F(MediaProbeDescriptionTest, LongMetadataValueIsKeptWhole) {
    const std::string comment(3000, 'x');
    const std::string text = Describe(
        MakeMedia({.Container = "matroska", .Seconds = 0.5, .Metadata = {{"comment", comment}}}));
    EXPECT_TRUE(HasLine(text, "  COMMENT         : " + comment)) << text.size();
}

TEST_F(MediaProbeDescriptionTest, AudioCodecIsFoundAfterAudioTag) {
    // The file information dialog takes the text after "Audio: " up to the next comma.
    const std::string text = Describe(NtscAviWithMonoTone());
    const size_t at = text.find("Audio: ");
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_EQ(text.substr(at + 7, text.find(',', at) - at - 7).rfind("pcm_s16le", 0), 0u) << text;
}

}  // namespace
}  // namespace kavel
