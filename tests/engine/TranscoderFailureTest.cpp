// Refusals with their texts, and damaged inputs that must never bring the process down.

#include <gtest/gtest.h>

#include <fstream>

#include "TranscoderTestSupport.h"
#include "support/MediaFixtures.h"

namespace kavel {
namespace {

using testing::Convert;

struct FailureCase {
    const char* Name;
    testing::Options InputOptions;
    testing::Options OutputOptions;
    int Hook;  // 1: a custom hook is bound, 2: preview pictures are asked for
    const char* Message;
};

class FailureTable : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailureTable, FailsWithItsText) {
    const FailureCase& c = GetParam();
    const std::string source = fixtures::MakeMedia({.Seconds = 0.4, .AudioStreams = 1});
    const std::string output = fixtures::TempPath(std::string("failure_") + c.Name + ".mp4");
    const auto result = Convert(source, c.InputOptions, output, c.OutputOptions, [&](Transcoder& t) {
        if (c.Hook == 1) {
            t.EnableCustomHook();
            t.SetOnHook([](const HookPoint&) { return true; });
        } else if (c.Hook == 2) {
            t.SetPreviewFlags(Transcoder::PreviewBitmapFlag);
            t.SetOnPreview([](const PreviewPoint&) { return true; });
        }
    });
    EXPECT_FALSE(result.Transcoded);
    EXPECT_EQ(result.Error, c.Message);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, FailureTable,
    ::testing::Values(
        FailureCase{"unknown_encoder", {}, {{"vcodec", "nosuchcodec"}}, 0,
                    "new_video_stream fail: Unknown encoder 'nosuchcodec'"},
        FailureCase{"decoder_only", {}, {{"acodec", "mp3float"}}, 0,
                    "new_audio_stream fail: Unknown encoder 'mp3float'"},
        FailureCase{"no_streams", {}, {{"vn", ""}, {"an", ""}}, 0, "Output file #0 does not contain any stream"},
        FailureCase{"maps_count", {}, {{"map", "0.0"}}, 0, "Number of stream maps must match number of output streams"},
        FailureCase{"maps_missing", {}, {{"map", "0.0"}, {"map", "0.7"}}, 0, "Could not find input stream #0.7"},
        FailureCase{"maps_type", {}, {{"map", "0.1"}, {"map", "0.0"}}, 0,
                    "Codec type mismatch for mapping #0.1 (Audio) -> #0.0 (Video)"},
        FailureCase{"copy_with_hook", {}, {{"vcodec", "copy"}}, 1,
                    "-vcodec copy and CustomHook are incompatible (frames are not decoded)"},
        FailureCase{"copy_with_preview", {}, {{"vcodec", "copy"}}, 2,
                    "-vcodec copy and PostHooks are incompatible (frames are not decoded)"},
        FailureCase{"copy_with_volume", {}, {{"acodec", "copy"}, {"vol", "300"}}, 0,
                    "-acodec copy and -vol are incompatible (frames are not decoded)"},
        FailureCase{"unknown_output_format", {}, {{"f", "nosuchformat"}}, 0,
                    "Requested output format 'nosuchformat' is not a suitable output format"},
        FailureCase{"unknown_input_format", {{"f", "nosuchformat"}}, {}, 0,
                    "Unknown input format: \"nosuchformat\""}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.Name); });

TEST(TranscoderFailures, AnInputThatIsNotMedia) {
    const std::string noise = fixtures::MakeRandomFile(4096, 7);
    const auto result = Convert(noise, {}, fixtures::TempPath("not_media.mp4"), {});
    EXPECT_FALSE(result.Opened);
    EXPECT_EQ(result.Error, noise + ": Invalid data found when processing input");
    const std::string missing = fixtures::TempPath("no_such_input.avi");
    EXPECT_EQ(Convert(missing, {}, fixtures::TempPath("x.mp4"), {}).Error, missing + ": No such file or directory");
}

TEST(TranscoderFailures, OutputFolderMustExistAndAnOldFileIsReplaced) {
    const std::string source = fixtures::MakeMedia({.Seconds = 0.4});
    const std::string nowhere = fixtures::TempPath("no_such_folder/out.mp4");
    EXPECT_EQ(Convert(source, {}, nowhere, {}).Error, nowhere + ": No such file or directory");

    const std::string existing = fixtures::WriteFile("existing_output.avi", std::string(100000, 'x'));
    const auto result = Convert(source, {}, existing, {{"vcodec", "mpeg4"}});
    ASSERT_TRUE(result.Transcoded) << result.Error;
    EXPECT_EQ(fixtures::DecodeVideo(existing).Counters.size(), 10u);
    std::ifstream in(existing, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes.find(std::string(64, 'x')), std::string::npos);
}

TEST(TranscoderFailures, ProgramIdMustExist) {
    const std::string ts = fixtures::MakeMedia({.Container = "mpegts", .Seconds = 0.4});
    EXPECT_EQ(Convert(ts, {{"programid", "7"}}, fixtures::TempPath("program7.mp4"), {}).Error,
              "Specified program id not found");
    const auto result = Convert(ts, {{"programid", "1"}}, fixtures::TempPath("program1.mp4"), {{"vcodec", "mpeg4"}});
    EXPECT_TRUE(result.Transcoded) << result.Error;
}

TEST(TranscoderFailures, AnOutputWithoutAKnownFormat) {
    const std::string source = fixtures::MakeMedia({.Seconds = 0.4});
    const std::string output = fixtures::TempPath("unknown.nosuchextension");
    EXPECT_EQ(Convert(source, {}, output, {}).Error,
              "Unable to find a suitable output format for '" + output + "'");
}

// Damaged files either fail with a text or convert what they can; nothing crashes.
TEST(TranscoderFailures, DamagedInputsNeverCrash) {
    const std::string avi = fixtures::MakeMedia({.Container = "avi", .Seconds = 1.0, .AudioStreams = 1,
                                                 .AudioCodec = "mp2"});
    const std::string ts = fixtures::MakeMedia({.Container = "mpegts", .Seconds = 1.0, .AudioStreams = 1,
                                                .AudioCodec = "mp2"});
    const std::string mp4 = fixtures::MakeMedia({.Seconds = 1.0});
    const std::string mkv = fixtures::MakeMedia({.Container = "matroska", .Seconds = 1.0, .AudioStreams = 1,
                                                 .SubtitleStreams = 1});
    std::vector<std::string> damaged = {fixtures::MakeTruncatedCopy(avi, 9000), fixtures::MakeTruncatedCopy(ts, 12000),
                                        fixtures::MakeTruncatedCopy(mp4, 3000), fixtures::MakeEmptyFile()};
    // Garbage in the middle of otherwise good files.
    for (const std::string& good : {avi, ts, mkv, mp4}) {
        std::ifstream in(good, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (size_t i = bytes.size() / 3; i < bytes.size() / 3 + 3000 && i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
        }
        damaged.push_back(fixtures::WriteFile("garbled_" + std::to_string(damaged.size()) +
                                                  good.substr(good.rfind('.')),
                                              bytes));
    }
    for (size_t i = 0; i < damaged.size(); ++i) {
        SCOPED_TRACE(damaged[i]);
        const std::string output = fixtures::TempPath("from_damaged_" + std::to_string(i) + ".mp4");
        const auto result = Convert(damaged[i], {}, output, {{"vcodec", "mpeg4"}});
        if (!result.Transcoded) {
            EXPECT_FALSE(result.Error.empty());
        } else {
            EXPECT_TRUE(testing::ReadFacts(output).Readable);
        }
    }
}

}  // namespace
}  // namespace kavel
