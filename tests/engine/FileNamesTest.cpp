#include "engine/FileNames.h"

#include <gtest/gtest.h>

#include <clocale>
#include <fstream>
#include <iterator>
#include <string>

#include "engine/ErrorText.h"
#include "support/MediaFixtures.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

namespace kavel {
namespace {

const std::string Cafe = "caf\xc3\xa9";  // "café" in UTF-8

// Runs a test under one character-set locale and restores the previous one.
class LocaleScope {
public:
    explicit LocaleScope(const char* name) : previous_(std::setlocale(LC_CTYPE, nullptr)) {
        ok_ = std::setlocale(LC_CTYPE, name) != nullptr;
    }
    ~LocaleScope() { std::setlocale(LC_CTYPE, previous_.c_str()); }
    bool ok() const { return ok_; }

private:
    std::string previous_;
    bool ok_ = false;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(FileNamesTest, NamesInAnAsciiLocale) {
    LocaleScope locale("C");
    struct Case {
        std::string name;
        bool needsUnicode;
        std::string libraryName;
    };
    const Case cases[] = {
        {"/media/clip.avi", false, "/media/clip.avi"},
        {"/media/" + Cafe + ".avi", true, "unicode:utf8:/media/" + Cafe + ".avi"},
        {"http://host/" + Cafe + ".mp4", false, "http://host/" + Cafe + ".mp4"},
        {"udp:" + Cafe, false, "udp:" + Cafe},
        {"unicode:utf8:/media/" + Cafe, false, "unicode:utf8:/media/" + Cafe},
        // Only the listed protocols count; anything else before a colon is a file name.
        {"file:" + Cafe, true, "unicode:utf8:file:" + Cafe},
        {"ttp:" + Cafe, true, "unicode:utf8:ttp:" + Cafe},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NeedsUnicode(c.name), c.needsUnicode) << c.name;
        EXPECT_EQ(LibraryName(c.name), c.libraryName) << c.name;
    }
}

TEST(FileNamesTest, Utf8LocaleNeedsNoConversion) {
    LocaleScope locale("C.UTF-8");
    if (!locale.ok()) {
        GTEST_SKIP() << "no C.UTF-8 locale";
    }
    EXPECT_FALSE(NeedsUnicode("/media/" + Cafe));
    EXPECT_EQ(LibraryName("/media/" + Cafe), "/media/" + Cafe);
}

TEST(FileNamesTest, DisplayName) {
    LocaleScope locale("C");
    EXPECT_EQ(DisplayName("unicode:utf8:/media/" + Cafe), "/media/" + Cafe);
    EXPECT_EQ(DisplayName("unicode:utf8:a"), "a");
    EXPECT_EQ(DisplayName("unicode:utf8:"), "unicode:utf8:");
    EXPECT_EQ(DisplayName("/media/clip.avi"), "/media/clip.avi");
    EXPECT_EQ(DisplayName(LibraryName("/media/" + Cafe)), "/media/" + Cafe);
}

TEST(FileNamesTest, OwnFileAccessWritesReadsSeeksAndSizes) {
    const std::string path = fixtures::TempPath("unicode-io-" + Cafe + ".bin");
    std::string bytes;
    for (int i = 0; i < 100000; ++i) {
        bytes += static_cast<char>(i * 7 % 251);
    }

    AVIOContext* pb = nullptr;
    ASSERT_EQ(OpenIO(&pb, UnicodePrefix + path, AVIO_FLAG_WRITE), 0);
    avio_write(pb, reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    EXPECT_EQ(avio_seek(pb, 10, SEEK_SET), 10);
    avio_w8(pb, 0xEE);
    EXPECT_EQ(CloseIO(&pb), 0);
    EXPECT_EQ(pb, nullptr);
    bytes[10] = static_cast<char>(0xEE);
    EXPECT_EQ(ReadAll(path), bytes);

    ASSERT_EQ(OpenIO(&pb, UnicodePrefix + path, AVIO_FLAG_READ), 0);
    EXPECT_EQ(avio_size(pb), static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(avio_seek(pb, 70000, SEEK_SET), 70000);
    unsigned char chunk[16];
    ASSERT_EQ(avio_read(pb, chunk, sizeof chunk), 16);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(chunk), 16), bytes.substr(70000, 16));
    const int64_t nearEnd = static_cast<int64_t>(bytes.size()) - 4;
    EXPECT_EQ(avio_seek(pb, nearEnd, SEEK_SET), nearEnd);
    EXPECT_EQ(avio_read(pb, chunk, sizeof chunk), 4);
    EXPECT_EQ(avio_read(pb, chunk, sizeof chunk), AVERROR_EOF);
    EXPECT_EQ(CloseIO(&pb), 0);
}

TEST(FileNamesTest, OpenModesOfOwnFileAccess) {
    struct Case {
        const char* name;
        bool exists;
        int flags;
        int result;
        int64_t sizeAfterOpen;  // -1: file absent afterwards
    };
    const Case cases[] = {
        {"read of a missing file", false, AVIO_FLAG_READ, AVERROR(ENOENT), -1},
        {"read keeps the file", true, AVIO_FLAG_READ, 0, 5},
        {"write creates", false, AVIO_FLAG_WRITE, 0, 0},
        {"write truncates", true, AVIO_FLAG_WRITE, 0, 0},
        {"read-write creates", false, AVIO_FLAG_READ_WRITE, 0, 0},
        {"read-write truncates", true, AVIO_FLAG_READ_WRITE, 0, 0},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string path = fixtures::TempPath("mode-" + std::to_string(++n) + "-" + Cafe);
        if (c.exists) {
            fixtures::WriteFile("mode-" + std::to_string(n) + "-" + Cafe, "12345");
        }
        AVIOContext* pb = nullptr;
        EXPECT_EQ(OpenIO(&pb, UnicodePrefix + path, c.flags), c.result) << c.name;
        EXPECT_EQ(pb != nullptr, c.result == 0) << c.name;
        if (pb != nullptr) {
            EXPECT_EQ(avio_size(pb), c.sizeAfterOpen) << c.name;
        }
        EXPECT_EQ(CloseIO(&pb), 0) << c.name;
        const std::ifstream file(path);
        EXPECT_EQ(file.good(), c.sizeAfterOpen >= 0) << c.name;
    }
}

TEST(FileNamesTest, MissingFileIsNoSuchFile) {
    AVIOContext* pb = nullptr;
    const int result = OpenIO(&pb, UnicodePrefix + fixtures::TempPath("absent-" + Cafe), AVIO_FLAG_READ);
    EXPECT_EQ(ErrorText(result), "No such file or directory");
    EXPECT_EQ(pb, nullptr);

    AVFormatContext* ctx = nullptr;
    EXPECT_EQ(OpenInputFormat(&ctx, UnicodePrefix + fixtures::TempPath("absent.mp4"), nullptr, nullptr),
              AVERROR(ENOENT));
    EXPECT_EQ(ctx, nullptr);
}

TEST(FileNamesTest, InvalidMediaThroughOwnAccessFailsCleanly) {
    const std::string path = fixtures::WriteFile("not-media-" + Cafe + ".mp4", std::string(64, '\0'));
    AVFormatContext* ctx = nullptr;
    EXPECT_LT(OpenInputFormat(&ctx, UnicodePrefix + path, nullptr, nullptr), 0);
    EXPECT_EQ(ctx, nullptr);
}

// Demuxing and muxing a real file under a name beyond the code page, through the one open function.
TEST(FileNamesTest, MediaRoundTripUnderUnicodeName) {
    LocaleScope locale("C");
    const std::string source = fixtures::MakeMedia({.Container = "matroska", .FileStem = "source-" + Cafe});
    InputFormatPtr input;
    {
        AVFormatContext* ctx = nullptr;
        ASSERT_EQ(OpenInputFormat(&ctx, source, nullptr, nullptr), 0);
        input.reset(ctx);
    }
    EXPECT_EQ(std::string(input->url), UnicodePrefix + source);
    ASSERT_GE(avformat_find_stream_info(input.get(), nullptr), 0);
    ASSERT_EQ(input->nb_streams, 1u);

    const std::string target = fixtures::TempPath("copy-" + Cafe + ".mp4");
    OutputFormatPtr output;
    {
        AVFormatContext* ctx = nullptr;
        ASSERT_GE(AllocOutputFormat(&ctx, nullptr, nullptr, target), 0);
        output.reset(ctx);
    }
    EXPECT_STREQ(output->oformat->name, "mp4");
    AVStream* stream = avformat_new_stream(output.get(), nullptr);
    ASSERT_NE(stream, nullptr);
    ASSERT_GE(avcodec_parameters_copy(stream->codecpar, input->streams[0]->codecpar), 0);
    stream->codecpar->codec_tag = 0;
    stream->time_base = input->streams[0]->time_base;
    ASSERT_EQ(OpenOutputFormatIO(output.get(), target), 0);
    // faststart makes the muxer reopen the file by its name: the nested open takes our road too.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "faststart", 0);
    ASSERT_GE(avformat_write_header(output.get(), &options), 0);
    av_dict_free(&options);
    AVPacket* packet = av_packet_alloc();
    int packets = 0;
    while (av_read_frame(input.get(), packet) >= 0) {
        packet->stream_index = 0;
        av_packet_rescale_ts(packet, input->streams[0]->time_base, stream->time_base);
        ASSERT_GE(av_interleaved_write_frame(output.get(), packet), 0);
        ++packets;
    }
    av_packet_free(&packet);
    ASSERT_GE(av_write_trailer(output.get()), 0);
    output.reset();
    input.reset();

    const fixtures::DecodedVideo decoded = fixtures::DecodeVideo(target);
    EXPECT_EQ(static_cast<int>(decoded.Counters.size()), packets);
    EXPECT_EQ(decoded.Width, 160);
}

}  // namespace
}  // namespace kavel
