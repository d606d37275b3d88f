#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/MediaFixtures.h"
#include "support/RunProgram.h"

namespace kavel {
namespace {

TEST(InfoCommandTest, DescribesEveryFile) {
    const std::string video = fixtures::MakeMedia({});
    const std::string stream =
        fixtures::MakeMedia({.Container = "mpegts", .AudioStreams = 1, .AudioCodec = "mp2"});
    const RunResult result = RunProgram({"--info", video, stream});
    EXPECT_EQ(result.Status, 0);
    EXPECT_EQ(result.Errors, "");
    EXPECT_EQ(
        result.Out.rfind("File Name: " + video + "\nFormat Name: mov,mp4,m4a,3gp,3g2,mj2\n", 0), 0u)
        << result.Out;
    EXPECT_NE(result.Out.find("\n\nFile Name: " + stream + "\nFormat Name: mpegts\n"),
              std::string::npos)
        << result.Out;
    EXPECT_NE(result.Out.find("Stream #1[0x101], 1/90000: Audio: mp2"), std::string::npos)
        << result.Out;
}

TEST(InfoCommandTest, FileThatCannotBeOpenedGivesOneLineAndFailureStatus) {
    const std::string missing = fixtures::TempPath("missing.avi");
    const std::string noise = fixtures::MakeRandomFile(3000, 11);
    const std::string video = fixtures::MakeMedia({});
    const RunResult result = RunProgram({"--info", missing, video, noise});
    EXPECT_EQ(result.Status, 1);
    EXPECT_NE(result.Out.find("File Name: " + video + "\n"), std::string::npos) << result.Out;
    std::istringstream lines(result.Errors);
    std::string first, second, third;
    std::getline(lines, first);
    std::getline(lines, second);
    EXPECT_FALSE(std::getline(lines, third)) << result.Errors;
    EXPECT_EQ(first, "kavel-convert: " + missing + ": No such file or directory");
    EXPECT_EQ(second.rfind("kavel-convert: " + noise + ": ", 0), 0u) << second;
    EXPECT_GT(second.size(), ("kavel-convert: " + noise + ": ").size()) << second;
}

TEST(InfoCommandTest, UsageAndWrongArguments) {
    struct Case {
        std::vector<std::string> Arguments;
        int Status;
        std::string ErrorStart;
    };
    const Case cases[] = {
        {{"--help"}, 0, ""},
        {{}, 2, "Usage: kavel-convert"},
        {{"--info"}, 2, "kavel-convert: --info needs at least one FILE"},
        {{"--bogus", "x"}, 2, "kavel-convert: unknown option --bogus"},
        {{"--info", "--loglevel"}, 2, "kavel-convert: option --loglevel needs a value"},
    };
    for (const Case& c : cases) {
        const RunResult result = RunProgram(c.Arguments);
        EXPECT_EQ(result.Status, c.Status) << c.ErrorStart;
        EXPECT_EQ(result.Errors.rfind(c.ErrorStart, 0), 0u) << result.Errors;
    }
    const RunResult help = RunProgram({"--help"});
    EXPECT_NE(help.Out.find("  --info"), std::string::npos) << help.Out;
    EXPECT_EQ(help.Errors, "");
}

}  // namespace
}  // namespace kavel
