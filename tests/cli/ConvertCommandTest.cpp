#include "cli/ConvertCommand.h"

#include "support/MediaFixtures.h"
#include "support/RunProgram.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace kavel {
namespace {

namespace fs = std::filesystem;

class ConvertCommandTest : public testing::Test {
protected:
    void SetUp() override {
        folder_ = fixtures::TempPath(testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }

    // The program with its own settings file and output folder.
    RunResult Convert(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--settings", folder_ + "/settings.ini",
                                             "--output-dir", folder_ + "/out"});
        return RunProgram(arguments);
    }

    std::vector<std::string> Outputs() const {
        std::vector<std::string> names;
        if (fs::exists(folder_ + "/out"))
            for (const auto& entry : fs::directory_iterator(folder_ + "/out"))
                names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string folder_;
};

TEST_F(ConvertCommandTest, ConvertsWithAProfileAndNeverOverwrites) {
    const std::string source = fixtures::MakeMedia({.Seconds = 0.5, .AudioStreams = 1});
    for (int run = 0; run < 2; ++run) {
        const RunResult result = Convert({"--profile", "0", source});
        ASSERT_EQ(result.Status, 0) << result.Out << result.Errors;
        EXPECT_NE(result.Out.find("1 of 1 files converted"), std::string::npos) << result.Out;
        EXPECT_NE(result.Out.find("converted"), std::string::npos);
    }
    const std::string stem = fs::path(source).stem().string();
    EXPECT_EQ(Outputs(), (std::vector<std::string>{stem + "_(new).mp4", stem + "_(new_1).mp4"}));
    // The profile's defaults were stored before it converted; the chosen profile was not.
    const std::string settings = ReadAll(folder_ + "/settings.ini");
    EXPECT_NE(settings.find("[formatInfo0]"), std::string::npos) << settings;
    EXPECT_EQ(settings.find("FormatCode"), std::string::npos) << settings;
}

TEST_F(ConvertCommandTest, AnEditedProfileConvertsWithItsValuesAndStaysAsItWas) {
    const std::string settings = "[formatInfo402]\nparaVideoEncoder=mpeg4\nparaVideoSize=176x144\n"
                                 "paraZoom=full\nmyOwnKey=kept\n";
    std::ofstream(folder_ + "/settings.ini") << settings;
    const RunResult result =
        Convert({"--profile", "402", fixtures::MakeMedia({.Seconds = 0.4, .AudioStreams = 1})});
    ASSERT_EQ(result.Status, 0) << result.Out << result.Errors;
    ASSERT_EQ(Outputs().size(), 1u);
    const RunResult info = RunProgram({"--info", folder_ + "/out/" + Outputs()[0]});
    EXPECT_NE(info.Out.find("176x144"), std::string::npos) << info.Out;
    // No audio encoder stored: the job has no audio, as the stored values say.
    EXPECT_EQ(info.Out.find("Audio:"), std::string::npos) << info.Out;
    EXPECT_EQ(ReadAll(folder_ + "/settings.ini"), settings);
}

TEST_F(ConvertCommandTest, TrimAndAudioProfileByName) {
    const std::string source = fixtures::MakeMedia({.Seconds = 2.0, .AudioStreams = 1});
    const RunResult result =
        Convert({"--profile", "MP3 MPEG Layer-3 Audio", "--trim", "1,0.5", source});
    ASSERT_EQ(result.Status, 0) << result.Out << result.Errors;
    ASSERT_EQ(Outputs().size(), 1u);
    const RunResult info = RunProgram({"--info", folder_ + "/out/" + Outputs()[0]});
    EXPECT_NE(info.Out.find("Audio: mp3"), std::string::npos) << info.Out;
    EXPECT_EQ(info.Out.find("Video:"), std::string::npos) << info.Out;
}

TEST_F(ConvertCommandTest, FailuresAndUsageErrors) {
    struct Case {
        std::vector<std::string> arguments;
        int status;
        const char* message;
    } cases[] = {
        {{"--profile", "999", "x.avi"}, 2, "unknown profile 999"},
        {{"--zoom", "wide", "x.avi"}, 2, "invalid value 'wide' for --zoom"},
        {{"--trim", "1", "x.avi"}, 2, "invalid value '1' for --trim"},
        {{"--crop", "1,2,3", "x.avi"}, 2, "invalid value '1,2,3' for --crop"},
        {{"--font-color", "red", "x.avi"}, 2, "invalid value 'red' for --font-color"},
        {{"--jobs", "0", "x.avi"}, 2, "invalid value '0' for --jobs"},
        {{fixtures::MakeRandomFile(4096)}, 1, "skipped: not a media file"},
    };
    for (const Case& c : cases) {
        const RunResult result = Convert(c.arguments);
        EXPECT_EQ(result.Status, c.status) << c.message;
        EXPECT_NE((result.Out + result.Errors).find(c.message), std::string::npos)
            << result.Out << result.Errors;
    }
    EXPECT_TRUE(Outputs().empty());
}

TEST_F(ConvertCommandTest, OneBadFileDoesNotStopTheOthers) {
    const std::string good = fixtures::MakeMedia({.Seconds = 0.4});
    const RunResult result = Convert({"--profile", "402", fixtures::MakeEmptyFile(), good});
    EXPECT_EQ(result.Status, 1);
    EXPECT_NE(result.Out.find("1 of 2 files converted"), std::string::npos) << result.Out;
    EXPECT_EQ(Outputs().size(), 1u);
}

TEST(ConvertCommandTextTest, TimesAndProfileNames) {
    struct Case {
        const char* text;
        bool ok;
        int64_t us;
    } times[] = {{"90", true, 90000000},       {"1.5", true, 1500000},
                 {"01:02:03.250", true, 3723250000}, {"2:30", true, 150000000},
                 {"", false, 0},                {"1:2:3:4", false, 0},
                 {"-1", false, 0},              {"1x", false, 0}};
    for (const Case& c : times) {
        int64_t us = 0;
        EXPECT_EQ(ParseTimeText(c.text, &us), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(us, c.us) << c.text;
        }
    }
    EXPECT_EQ(ResolveProfile("205"), 205);
    EXPECT_EQ(ResolveProfile("apple h.264 720p (1280 x 720) (*.mp4)"), 205);
    EXPECT_EQ(ResolveProfile("Apple H.264 720p (1280 x 720)"), 205);
    EXPECT_EQ(ResolveProfile("999"), -1);
    EXPECT_EQ(ResolveProfile("nothing"), -1);
}

}  // namespace
}  // namespace kavel
