#include <clocale>
#include <iostream>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/InfoCommand.h"
#include "engine/EngineLogger.h"
#include "engine/FFmpegLoader.h"

namespace {

constexpr int kUsageError = 2;

// Engine and library messages go to standard error, and only as far as --loglevel asks: the
// command's own output and its one-line failures are what the user reads.
bool SetUpLogging(const std::string& levelText) {
    kavel::EngineLogger& logger = kavel::EngineLogger::Instance();
    logger.SetTriggerEventInMainThread(false);
    logger.SetOnLog([](const void*, uint32_t, kavel::LogLevel, const std::string& message) {
        std::cerr << message << '\n';
    });
    if (levelText.empty()) {
        logger.SetLogLevel(kavel::llQuiet);
        return true;
    }
    return logger.SetLogLevel(levelText);
}

}  // namespace

int main(int argc, char** argv) {
    // File names are converted through the user's character set.
    std::setlocale(LC_ALL, "");
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    kavel::CommandLine commandLine;
    std::string error;
    if (!kavel::ParseCommandLine(arguments, commandLine, error)) {
        std::cerr << "kavel-convert: " << error << "\n" << kavel::UsageText();
        return kUsageError;
    }
    switch (commandLine.Action) {
        case kavel::CommandAction::Help:
            std::cout << kavel::UsageText();
            return 0;
        case kavel::CommandAction::None:
            std::cerr << kavel::UsageText();
            return kUsageError;
        case kavel::CommandAction::ListProfiles:
            return kavel::RunListProfiles(commandLine.SettingsFile, std::cout);
        case kavel::CommandAction::Info:
        case kavel::CommandAction::Convert:
            break;
    }
    if (commandLine.Action == kavel::CommandAction::Info && commandLine.Files.empty()) {
        std::cerr << "kavel-convert: --info needs at least one FILE\n";
        return kUsageError;
    }
    if (!SetUpLogging(commandLine.LogLevel)) {
        std::cerr << "kavel-convert: unknown log level " << commandLine.LogLevel << "\n";
        return kUsageError;
    }
    if (!kavel::LoadLibraries(kavel::EngineLibraries)) {
        std::cerr << "kavel-convert: " << kavel::LastLoadError() << "\n";
        return 1;
    }
    if (commandLine.Action == kavel::CommandAction::Convert)
        return kavel::RunConvert(commandLine.Convert, std::cout, std::cerr);
    return kavel::RunInfo(commandLine.Files, std::cout, std::cerr);
}
