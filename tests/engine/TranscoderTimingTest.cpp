// Start time, recording time and the constant-rate video sync: which pictures come out, and how
// often.

#include <gtest/gtest.h>

#include <fstream>

#include "TranscoderTestSupport.h"
#include "support/MediaFixtures.h"

namespace kavel {
namespace {

using testing::Convert;

struct StartCase {
    const char* Name;
    testing::Options InputOptions;
    testing::Options OutputOptions;
};

class StartAndLength : public ::testing::TestWithParam<StartCase> {};

// A 2 s clip at 25 fps: "ss" 1 s and "t" 0.5 s take the pictures 25 to 37, whether the start
// is a seek of the input or a cut at the output.
TEST_P(StartAndLength, TakesHalfASecondFromOneSecond) {
    const StartCase& c = GetParam();
    const std::string source = fixtures::MakeMedia({});
    const std::string output = fixtures::TempPath(std::string("start_") + c.Name + ".mp4");
    const auto result = Convert(source, c.InputOptions, output, c.OutputOptions);
    ASSERT_TRUE(result.Transcoded) << result.Error;

    const auto decoded = fixtures::DecodeVideo(output);
    ASSERT_FALSE(decoded.Counters.empty());
    EXPECT_EQ(decoded.Counters.front(), 25);
    EXPECT_GE(decoded.Counters.size(), 12u);
    EXPECT_LE(decoded.Counters.size(), 13u);
    for (size_t i = 1; i < decoded.Counters.size(); ++i) {
        EXPECT_EQ(decoded.Counters[i], decoded.Counters[i - 1] + 1);
    }
    const auto facts = testing::ReadFacts(output);
    ASSERT_NE(facts.First("video"), nullptr);
    EXPECT_NEAR(facts.First("video")->Seconds, 0.5, 0.04 + 1e-6);
}

INSTANTIATE_TEST_SUITE_P(
    Timing, StartAndLength,
    ::testing::Values(StartCase{"input_seek", {{"ss", "1"}}, {{"vcodec", "mpeg4"}, {"t", "0.5"}}},
                      StartCase{"output_cut", {}, {{"vcodec", "mpeg4"}, {"ss", "1"}, {"t", "0.5"}}}),
    [](const ::testing::TestParamInfo<StartCase>& info) { return std::string(info.param.Name); });

struct SyncCase {
    const char* Name;
    AVRational SourceRate;
    const char* OutputRate;
    int Duplicated;
    int Dropped;
    int Written;
};

class ConstantRate : public ::testing::TestWithParam<SyncCase> {};

// One second of pictures into a constant-rate output with the automatic video sync.
TEST_P(ConstantRate, DuplicatesOrDropsPictures) {
    const SyncCase& c = GetParam();
    fixtures::MediaParams params;
    params.Seconds = 1.0;
    params.FrameRate = c.SourceRate;
    const std::string source = fixtures::MakeMedia(params);
    const std::string output = fixtures::TempPath(std::string("sync_") + c.Name + ".mp4");
    const auto result = Convert(source, {}, output, {{"vcodec", "mpeg4"}, {"r", c.OutputRate}});
    ASSERT_TRUE(result.Transcoded) << result.Error;
    EXPECT_EQ(result.Duplicated, c.Duplicated);
    EXPECT_EQ(result.Dropped, c.Dropped);
    const std::string counts = " dup=" + std::to_string(c.Duplicated) + " drop=" + std::to_string(c.Dropped);
    EXPECT_NE(testing::FinalReportText(result).find(counts), std::string::npos) << testing::FinalReportText(result);

    const auto decoded = fixtures::DecodeVideo(output);
    EXPECT_EQ(static_cast<int>(decoded.Counters.size()), c.Written);
    if (c.Duplicated) {
        // The first two pictures once, every later one twice.
        ASSERT_GE(decoded.Counters.size(), 6u);
        EXPECT_EQ((std::vector<int>(decoded.Counters.begin(), decoded.Counters.begin() + 6)),
                  (std::vector<int>{0, 1, 2, 2, 3, 3}));
    } else {
        // The first three pictures, then every second one.
        ASSERT_GE(decoded.Counters.size(), 6u);
        EXPECT_EQ((std::vector<int>(decoded.Counters.begin(), decoded.Counters.begin() + 6)),
                  (std::vector<int>{0, 1, 2, 4, 6, 8}));
    }
}

INSTANTIATE_TEST_SUITE_P(Timing, ConstantRate,
                         ::testing::Values(SyncCase{"15_into_30", {15, 1}, "30", 13, 0, 28},
                                           SyncCase{"50_into_25", {50, 1}, "25", 0, 24, 26}),
                         [](const ::testing::TestParamInfo<SyncCase>& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace kavel

namespace kavel {
namespace {

// Two transport streams joined byte by byte: the second restarts its clock and has a smaller
// picture. The output keeps going in time and scales the second part to the first's size.
TEST(TranscoderDiscontinuity, ClockRestartAndPictureSizeChange) {
    const std::string first = fixtures::MakeMedia({.Container = "mpegts", .Seconds = 0.8});
    const std::string second = fixtures::MakeMedia({.Container = "mpegts", .Seconds = 0.8, .Width = 96, .Height = 64});
    auto bytes = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    const std::string joined = fixtures::WriteFile("joined.ts", bytes(first) + bytes(second));
    const std::string output = fixtures::TempPath("joined.mp4");
    const auto result = Convert(joined, {}, output, {{"vcodec", "mpeg4"}, {"qscale", "2"}});
    ASSERT_TRUE(result.Transcoded) << result.Error;

    const auto decoded = fixtures::DecodeVideo(output);
    EXPECT_EQ(decoded.Width, 160);
    EXPECT_EQ(decoded.Height, 120);
    std::vector<int> expected;
    for (int part = 0; part < 2; ++part) {
        for (int i = 0; i < 20; ++i) {
            expected.push_back(i);
        }
    }
    EXPECT_EQ(decoded.Counters, expected);
    ASSERT_EQ(decoded.PtsUS.size(), 40u);
    EXPECT_NEAR(static_cast<double>(decoded.PtsUS.back() - decoded.PtsUS.front()), 39 * 40000.0, 1000.0);
}

}  // namespace
}  // namespace kavel

namespace kavel {
namespace {

// Formats that allow a variable rate keep every picture once under the automatic sync; "vsync"
// 1 forces the constant rate there too.
TEST(TranscoderVariableRate, AutomaticSyncKeepsPicturesOnce) {
    fixtures::MediaParams params;
    params.Seconds = 1.0;
    params.FrameRate = {15, 1};
    const std::string source = fixtures::MakeMedia(params);
    const std::string variable = fixtures::TempPath("variable_rate.mkv");
    const auto automatic = Convert(source, {}, variable, {{"vcodec", "mpeg4"}, {"r", "30"}});
    ASSERT_TRUE(automatic.Transcoded) << automatic.Error;
    EXPECT_EQ(automatic.Duplicated, 0);
    EXPECT_EQ(fixtures::DecodeVideo(variable).Counters.size(), 15u);

    const std::string constant = fixtures::TempPath("forced_constant_rate.mkv");
    const auto forced = Convert(source, {}, constant, {{"vcodec", "mpeg4"}, {"r", "30"}, {"vsync", "1"}});
    ASSERT_TRUE(forced.Transcoded) << forced.Error;
    EXPECT_EQ(forced.Duplicated, 13);
    EXPECT_EQ(fixtures::DecodeVideo(constant).Counters.size(), 28u);
}

}  // namespace
}  // namespace kavel
