#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/MediaFixtures.h"

namespace kavel {

struct RunResult {
    int Status = -1;
    std::string Out;
    std::string Errors;
};

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// Runs the built program, as a user would, and collects what it writes.
inline RunResult RunProgram(const std::vector<std::string>& arguments) {
    const std::string program = std::string(KAVEL_BIN_DIR) + "/kavel-convert";
    EXPECT_TRUE(std::filesystem::exists(program)) << "build the kavel-convert target first";
    const std::string out = fixtures::TempPath("cli.out");
    const std::string errors = fixtures::TempPath("cli.err");
    std::string command = Quoted(program);
    for (const std::string& argument : arguments) {
        command += " " + Quoted(argument);
    }
    command += " >" + Quoted(out) + " 2>" + Quoted(errors) + " </dev/null";
    RunResult result;
    const int status = std::system(command.c_str());
    result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.Out = ReadAll(out);
    result.Errors = ReadAll(errors);
    return result;
}

}  // namespace kavel
