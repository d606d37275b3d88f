#include <fstream>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include "engine/CodecNames.h"
#include "engine/OptionTestSupport.h"
#include "engine/Presets.h"
#include "support/MediaFixtures.h"

namespace kavel::testing {
namespace {

TEST(PresetsTest, TableHoldsTheFortyNamesInOrder) {
    const std::vector<std::string> expected = {"libx264-baseline",
                                               "libx264-default",
                                               "libx264-fast",
                                               "libx264-fast_firstpass",
                                               "libx264-faster",
                                               "libx264-faster_firstpass",
                                               "libx264-fastfirstpass",
                                               "libx264-hq",
                                               "libx264-ipod320",
                                               "libx264-ipod640",
                                               "libx264-lossless_fast",
                                               "libx264-lossless_max",
                                               "libx264-lossless_medium",
                                               "libx264-lossless_slow",
                                               "libx264-lossless_slower",
                                               "libx264-lossless_ultrafast",
                                               "libx264-main",
                                               "libx264-max",
                                               "libx264-medium",
                                               "libx264-medium_firstpass",
                                               "libx264-normal",
                                               "libx264-placebo",
                                               "libx264-placebo_firstpass",
                                               "libx264-slow",
                                               "libx264-slow_firstpass",
                                               "libx264-slower",
                                               "libx264-slower_firstpass",
                                               "libx264-slowfirstpass",
                                               "libx264-superfast",
                                               "libx264-superfast_firstpass",
                                               "libx264-ultrafast",
                                               "libx264-ultrafast_firstpass",
                                               "libx264-veryfast",
                                               "libx264-veryfast_firstpass",
                                               "libx264-veryslow",
                                               "libx264-veryslow_firstpass",
                                               "libx264-psp",
                                               "libx264-ps3",
                                               "libx264-ipod",
                                               "libx264-mp4"};
    std::vector<std::string> names;
    for (const BuiltinPreset& preset : BuiltinPresets()) names.push_back(preset.Name);
    EXPECT_EQ(names, expected);
}

TEST(PresetsTest, SharedTexts) {
    const std::pair<const char*, const char*> shared[] = {
        {"libx264-medium_firstpass", "libx264-fast_firstpass"},
        {"libx264-placebo_firstpass", "libx264-placebo"},
        {"libx264-slower_firstpass", "libx264-slow_firstpass"},
        {"libx264-ultrafast_firstpass", "libx264-ultrafast"},
        {"libx264-mp4", "libx264-psp"}};
    for (const auto& [name, original] : shared)
        EXPECT_EQ(*FindBuiltinPreset(name), *FindBuiltinPreset(original)) << name;
}

TEST(PresetsTest, TextsAsWritten) {
    EXPECT_EQ(*FindBuiltinPreset("libx264-baseline"),
              "coder=0\nbf=0\nflags2=-wpred-dct8x8\nwpredp=0");
    EXPECT_EQ(
        *FindBuiltinPreset("libx264-medium"),
        "coder=1\nflags=+loop\ncmp=+chroma\npartitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
        "me_method=hex\nsubq=7\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\n"
        "i_qfactor=0.71\nb_strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=3\nrefs=3\n"
        "directpred=1\ntrellis=1\nflags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\nwpredp=2");
    EXPECT_EQ(
        *FindBuiltinPreset("libx264-ipod"),
        "coder=0\nflags=+loop\nlevel=30\ncmp=+chroma\npartitions=+parti4x4+parti8x8+partp8x8\n"
        "me_method=umh\nsubq=7\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\n"
        "i_qfactor=0.71\nb_strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nrefs=1\n"
        "directpred=1\ntrellis=2\nb=1000000\nmaxrate=1250000\nbufsize=4000000\nbt=256000\n"
        "sc_threshold=40");
    EXPECT_EQ(PresetLines(*FindBuiltinPreset("libx264-ps3")).size(), 25u);
    EXPECT_EQ(PresetLines(*FindBuiltinPreset("libx264-lossless_ultrafast")).size(), 19u);
    for (const char* speed : {"libx264-fast", "libx264-veryslow_firstpass", "libx264-default"})
        EXPECT_EQ(PresetLines(*FindBuiltinPreset(speed)).size(), 22u) << speed;
}

TEST(PresetsTest, LookupIgnoresLetterCase) {
    EXPECT_EQ(FindBuiltinPreset("LIBX264-Fast"), FindBuiltinPreset("libx264-fast"));
    EXPECT_EQ(FindBuiltinPreset("libx264-none"), nullptr);
}

// Every preset must mean on this FFmpeg what it meant then: each line is
// accepted with libx264 chosen, and libx264 opens with all of them.
TEST_F(OptionTest, EveryPresetAppliesToLibx264) {
    const AVCodec* x264 = FindEncoder("libx264");
    if (!x264)
        GTEST_SKIP() << "libx264 is not in this FFmpeg";
    for (const BuiltinPreset& preset : BuiltinPresets()) {
        TranscoderState state;
        FakeFiles files(state);
        OptionParser parser(state, files);
        parser.SetOption("vcodec", "libx264");
        ASSERT_NO_THROW(parser.ApplyPreset('v', preset.Name)) << preset.Name;

        CodecContextPtr encoder(avcodec_alloc_context3(x264));
        encoder->width = 64;
        encoder->height = 64;
        encoder->pix_fmt = AV_PIX_FMT_YUV420P;
        encoder->time_base = {1, 25};
        for (const auto& [name, value] : state.Generic.Codec[AVMEDIA_TYPE_VIDEO])
            EXPECT_GE(
                av_opt_set(encoder.get(), name.c_str(), value.c_str(), AV_OPT_SEARCH_CHILDREN), 0)
                << preset.Name << ": " << name << "=" << value;
        EXPECT_EQ(avcodec_open2(encoder.get(), x264, nullptr), 0) << preset.Name;
    }
    EXPECT_FALSE(Logs.HasContaining("Invalid value"));
}

TEST_F(OptionTest, LegacyPresetLinesKeepTheirMeaning) {
    if (!FindEncoder("libx264"))
        GTEST_SKIP() << "libx264 is not in this FFmpeg";
    Parser.SetOption("vcodec", "libx264");
    Parser.SetOption("vpre", "fast");  // not a table name: "libx264-fast"
    const OptionList& video = State.Generic.Codec[AVMEDIA_TYPE_VIDEO];
    const std::pair<const char*, const char*> expected[] = {
        {"coder", "1"},        {"partitions", "i4x4,i8x8,p8x8,b8x8"},
        {"motion-est", "hex"}, {"subq", "6"},
        {"direct-pred", "1"},  {"b-pyramid", "normal"},
        {"mixed-refs", "1"},   {"weightb", "1"},
        {"8x8dct", "1"},       {"fast-pskip", "1"},
        {"weightp", "2"},      {"refs", "2"}};
    for (const auto& [name, value] : expected) {
        ASSERT_NE(FindListOption(video, name), nullptr) << name;
        EXPECT_EQ(*FindListOption(video, name), value) << name;
    }
    EXPECT_EQ(*FindListOption(video, "deblock"), "true");
    Parser.ApplyPreset('v', "ultrafast");
    EXPECT_EQ(*FindListOption(video, "partitions"), "none");
    EXPECT_EQ(*FindListOption(video, "deblock"), "false");
    EXPECT_EQ(*FindListOption(video, "mbtree"), "0");
    Parser.ApplyPreset('v', "lossless_fast");
    EXPECT_EQ(*FindListOption(video, "partitions"), "i4x4,p8x8");
    EXPECT_EQ(*FindListOption(video, "qp"), "0");
}

// The presets were written for a library that left B-frames, extra references, CABAC, the 8x8
// transform, weighted prediction, mixed references and the B-pyramid off unless a line asked for
// them; today's libx264 turns them on by default, which makes streams an iPod refuses.
TEST_F(OptionTest, Libx264PresetsStartFromTheOldLibraryDefaults) {
    if (!FindEncoder("libx264"))
        GTEST_SKIP() << "libx264 is not in this FFmpeg";
    struct Case {
        const char* preset;
        std::vector<std::pair<const char*, const char*>> settings;
    } cases[] = {
        {"libx264-ipod",
         {{"coder", "0"}, {"bf", "0"}, {"refs", "1"}, {"8x8dct", "0"}, {"weightb", "0"},
          {"weightp", "0"}, {"mixed-refs", "0"}, {"b-pyramid", "none"}}},
        {"libx264-psp",
         {{"coder", "1"}, {"bf", "3"}, {"refs", "1"}, {"8x8dct", "0"}, {"weightb", "0"},
          {"weightp", "0"}, {"b-pyramid", "none"}}},
        {"libx264-main", {{"coder", "0"}, {"bf", "0"}, {"8x8dct", "0"}}},
        {"libx264-medium",
         {{"coder", "1"}, {"bf", "3"}, {"refs", "3"}, {"8x8dct", "1"}, {"weightb", "1"},
          {"weightp", "2"}, {"mixed-refs", "1"}, {"b-pyramid", "normal"}}},
        {"libx264-default", {{"b-pyramid", "none"}, {"8x8dct", "1"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.preset);
        TranscoderState state;
        FakeFiles files(state);
        OptionParser parser(state, files);
        parser.SetOption("vcodec", "libx264");
        parser.ApplyPreset('v', c.preset);
        const OptionList& video = state.Generic.Codec[AVMEDIA_TYPE_VIDEO];
        for (const auto& [name, value] : c.settings) {
            ASSERT_NE(FindListOption(video, name), nullptr) << name;
            EXPECT_EQ(*FindListOption(video, name), value) << name;
        }
    }
    // A combination keeps what the first preset switched on.
    Parser.SetOption("vcodec", "libx264");
    Parser.ApplyPreset('v', "libx264-medium");
    Parser.ApplyPreset('v', "libx264-main");
    const OptionList& video = State.Generic.Codec[AVMEDIA_TYPE_VIDEO];
    EXPECT_EQ(*FindListOption(video, "bf"), "3");
    EXPECT_EQ(*FindListOption(video, "b-pyramid"), "normal");
    EXPECT_EQ(*FindListOption(video, "8x8dct"), "0");
    EXPECT_FALSE(Logs.HasContaining("Invalid value"));
}

TEST(PresetsTest, Libx264FamilyIsFoundAsTheTableIsSearched) {
    EXPECT_TRUE(IsLibx264Preset('v', "LIBX264-IPOD", ""));
    EXPECT_TRUE(IsLibx264Preset('v', "fast", "libx264"));
    EXPECT_FALSE(IsLibx264Preset('v', "fast", "mpeg4"));
    EXPECT_FALSE(IsLibx264Preset('f', "libx264-fast", "libx264"));
}

TEST_F(OptionTest, LegacyLinesWaitForAnEncoderNotYetChosen) {
    Parser.ApplyPreset('v', "libx264-baseline");
    const OptionList& video = State.Generic.Codec[AVMEDIA_TYPE_VIDEO];
    EXPECT_EQ(*FindListOption(video, "coder"), "0");
    EXPECT_EQ(*FindListOption(video, "weightb"), "0");
    EXPECT_EQ(*FindListOption(video, "weightp"), "0");
}

TEST_F(OptionTest, LegacyLinesAreHarmlessForOtherEncoders) {
    Parser.SetOption("vcodec", "mpeg4");
    EXPECT_NO_THROW(Parser.ApplyPreset('v', "libx264-medium"));
    const OptionList& video = State.Generic.Codec[AVMEDIA_TYPE_VIDEO];
    EXPECT_EQ(FindListOption(video, "b-pyramid"), nullptr);
    EXPECT_EQ(*FindListOption(video, "bf"), "3");
}

TEST_F(OptionTest, PresetFiles) {
    const std::string good =
        fixtures::WriteFile("good.ffpreset", "  vcodec=mpeg4\r\n\r\n g = 30 \nbf=2\n");
    Parser.SetOption("fpre", good);
    EXPECT_EQ(State.VideoCodecName, "mpeg4");
    EXPECT_EQ(*CodecOption(AVMEDIA_TYPE_VIDEO, "g"), "30");

    const std::string syntax = fixtures::WriteFile("syntax.ffpreset", "g=30\n=5\n");
    EXPECT_EQ(ErrorOf("fpre", syntax), syntax + ": Invalid syntax: \"=5\"");
    const std::string unknown = fixtures::WriteFile("unknown.ffpreset", "no_such=1");
    EXPECT_EQ(
        ErrorOf("vpre", unknown),
        unknown + ": Invalid option or argument: \"no_such=1\", parsed as \"no_such\" = \"1\"");
    EXPECT_EQ(ErrorOf("apre", ""), "");
}

}  // namespace
}  // namespace kavel::testing
