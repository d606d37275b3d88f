#include "engine/ErrorText.h"

#include <gtest/gtest.h>

#include <cerrno>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/error.h>
}

namespace kavel {
namespace {

struct ErrorCase {
    int code;
    const char* text;
};

TEST(ErrorTextTest, LibraryCodesByMeaning) {
    const ErrorCase cases[] = {
        {AVERROR_PATCHWELCOME, "Not yet implemented in FFmpeg"},
        {AVERROR_PROTOCOL_NOT_FOUND, "Unsupported network protocol"},
        {AVERROR_DEMUXER_NOT_FOUND, "Unknown format"},
        {AVERROR(EDOM), "Number syntax expected in filename"},
        {AVERROR_EOF, "End of file"},
        {AVERROR_INVALIDDATA, "Invalid data found when processing input"},
        {AVERROR(ENOMEM), "Not enough memory"},
        {AVERROR(EIO), "I/O error"},
        {AVERROR(ENOENT), "No such file or directory"},
        {-1234, "Error number -1234 occurred"},
        {AVERROR_DECODER_NOT_FOUND, "Error number -1128613112 occurred"},
    };
    for (const ErrorCase& c : cases) {
        EXPECT_EQ(ErrorText(c.code), c.text) << c.code;
    }
}

TEST(ErrorTextTest, PrefixIsJoinedWithColon) {
    EXPECT_EQ(ErrorText("clip.avi", AVERROR(ENOENT)), "clip.avi: No such file or directory");
}

TEST(ErrorTextTest, MediaTypeNames) {
    EXPECT_EQ(MediaTypeName(AVMEDIA_TYPE_VIDEO), "Video");
    EXPECT_EQ(MediaTypeName(AVMEDIA_TYPE_AUDIO), "Audio");
    EXPECT_EQ(MediaTypeName(AVMEDIA_TYPE_DATA), "Data");
    EXPECT_EQ(MediaTypeName(AVMEDIA_TYPE_SUBTITLE), "Subtitle");
    EXPECT_EQ(MediaTypeName(AVMEDIA_TYPE_ATTACHMENT), "Attachment");
    EXPECT_EQ(MediaTypeName(AVMEDIA_TYPE_UNKNOWN), "Unknown");
    EXPECT_EQ(MediaTypeName(17), "Unknown");
}

TEST(ErrorTextTest, TimeText) {
    EXPECT_EQ(TimeText(AV_NOPTS_VALUE), "N/A");
    EXPECT_EQ(TimeText(0), "00:00:00.000");
    EXPECT_EQ(TimeText(3723456789LL), "01:02:03.456");
    EXPECT_EQ(TimeText(999), "00:00:00.000");
    EXPECT_EQ(TimeText(-1500000), "-00:00:01.500");
    EXPECT_EQ(TimeText(100LL * 3600 * 1000000), "100:00:00.000");
}

}  // namespace
}  // namespace kavel
