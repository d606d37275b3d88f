#include <gtest/gtest.h>

#include "engine/CodecNames.h"
#include "engine/FFmpegException.h"

namespace kavel {
namespace {

std::string LookupError(const std::string& name, AVMediaType type, bool encoder = true) {
    try {
        LookupCodec(name, type, encoder, FF_COMPLIANCE_NORMAL);
    } catch (const FFmpegException& error) {
        return error.what();
    }
    return "";
}

TEST(CodecNamesTest, StoredEncoderNamesGiveWorkingEncoders) {
    const std::pair<const char*, const char*> cases[] = {{"libfaac", "aac"},
                                                         {"libflac", "flac"},
                                                         {"vorbis", "libvorbis"},
                                                         {"mpeg4", "mpeg4"},
                                                         {"mp2", "mp2"}};
    for (const auto& [stored, current] : cases) {
        if (!avcodec_find_encoder_by_name(current))
            continue;
        const AVCodec* codec = FindEncoder(stored);
        ASSERT_NE(codec, nullptr) << stored;
        EXPECT_STREQ(codec->name, current) << stored;
        EXPECT_EQ(LookupError(stored, codec->type), "") << stored;
    }
}

TEST(CodecNamesTest, NamesWithoutEncoderFailClearly) {
    if (!avcodec_find_encoder_by_name("libopencore_amrnb")) {
        EXPECT_EQ(LookupError("libamr_nb", AVMEDIA_TYPE_AUDIO), "Unknown encoder 'libamr_nb'");
    }
    EXPECT_EQ(LookupError("vp6", AVMEDIA_TYPE_VIDEO), "Unknown encoder 'vp6'");  // decoder only
    EXPECT_EQ(LookupError("nonesuch", AVMEDIA_TYPE_VIDEO, false), "Unknown decoder 'nonesuch'");
    EXPECT_EQ(LookupError("mp2", AVMEDIA_TYPE_VIDEO), "Invalid encoder type 'mp2'");
}

TEST(CodecNamesTest, ExperimentalEncoderNamesItsMatureTwin) {
    if (!avcodec_find_encoder_by_name("opus") || !avcodec_find_encoder_by_name("libopus"))
        GTEST_SKIP() << "needs both opus encoders";
    EXPECT_EQ(LookupError("opus", AVMEDIA_TYPE_AUDIO),
              "encoder 'opus' is experimental and might produce bad results.\r\n"
              "Add '-strict experimental' if you want to use it.\r\n"
              "Or use the non experimental encoder 'libopus'.");
    EXPECT_NO_THROW(LookupCodec("opus", AVMEDIA_TYPE_AUDIO, true, FF_COMPLIANCE_EXPERIMENTAL));
}

TEST(CodecNamesTest, LegacyDecoderNames) {
    const AVCodec* codec = FindDecoder("libfaad");
    ASSERT_NE(codec, nullptr);
    EXPECT_STREQ(codec->name, "aac");
}

}  // namespace
}  // namespace kavel
