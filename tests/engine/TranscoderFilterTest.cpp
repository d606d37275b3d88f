// Crop, scale and the user's filter text: output size, where the picture lies and where the
// black bars are.

#include <gtest/gtest.h>

#include "TranscoderTestSupport.h"
#include "support/MediaFixtures.h"

namespace kavel {
namespace {

using testing::Convert;

struct Bar {
    int X, Y, Width, Height;
};

struct FilterCase {
    const char* Name;
    testing::Options OutputOptions;
    int Width;
    int Height;
    fixtures::CounterGeometry Geometry;  // where the source picture lies in the output
    std::vector<Bar> BlackBars;
};

class FilterTable : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FilterTable, SizeBarsAndPicture) {
    const FilterCase& c = GetParam();
    fixtures::MediaParams params;
    params.Seconds = 0.4;
    const std::string source = fixtures::MakeMedia(params);
    const std::string output = fixtures::TempPath(std::string("filter_") + c.Name + ".mp4");
    testing::Options options{{"vcodec", "mpeg4"}, {"qscale", "2"}};
    options.insert(options.end(), c.OutputOptions.begin(), c.OutputOptions.end());
    const auto result = Convert(source, {}, output, options);
    ASSERT_TRUE(result.Transcoded) << result.Error;

    const auto decoded = fixtures::DecodeVideo(output, c.Geometry);
    EXPECT_EQ(decoded.Width, c.Width);
    EXPECT_EQ(decoded.Height, c.Height);
    ASSERT_FALSE(decoded.Counters.empty());
    EXPECT_EQ(decoded.Counters.front(), 0);
    EXPECT_EQ(decoded.Counters.back(), static_cast<int>(decoded.Counters.size()) - 1);

    const auto picture = testing::FirstPicture(output);
    ASSERT_EQ(picture.Width, c.Width);
    for (const Bar& bar : c.BlackBars) {
        EXPECT_LT(picture.Mean(bar.X, bar.Y, bar.Width, bar.Height), 24.0)
            << "bar at " << bar.X << "," << bar.Y;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Filters, FilterTable,
    ::testing::Values(
        FilterCase{"letterbox",
                   {{"s", "160x90"}, {"vf", "pad=160:120:0:15:black"}},
                   160, 120, {.PictureX = 0, .PictureY = 15, .PictureWidth = 160, .PictureHeight = 90},
                   {{0, 0, 160, 14}, {0, 106, 160, 14}}},
        FilterCase{"pad",
                   {{"vf", "pad=200:160:20:20:black"}},
                   200, 160, {.PictureX = 20, .PictureY = 20, .PictureWidth = 160, .PictureHeight = 120},
                   {{0, 0, 200, 18}, {0, 142, 200, 18}, {0, 0, 18, 160}, {182, 0, 18, 160}}},
        FilterCase{"crop",
                   {{"croptop", "20"}, {"cropbottom", "20"}, {"cropleft", "16"}, {"cropright", "16"}},
                   128, 80, {.SourceLeft = 16.0 / 160, .SourceTop = 20.0 / 120, .SourceRight = 144.0 / 160,
                             .SourceBottom = 100.0 / 120},
                   {}},
        FilterCase{"crop_then_scale",
                   {{"croptop", "20"}, {"cropbottom", "20"}, {"s", "320x160"}, {"sws_flags", "neighbor"}},
                   320, 160, {.SourceTop = 20.0 / 120, .SourceBottom = 100.0 / 120},
                   {}}),
    [](const ::testing::TestParamInfo<FilterCase>& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace kavel
