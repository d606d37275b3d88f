#pragma once

// A transcoder stand-in for the option tests: it records what the parser and
// the walkers ask of it, together with the option state at that moment, and
// captures the engine's log lines.

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/EngineLogger.h"
#include "engine/FFmpegException.h"
#include "engine/OptionParser.h"
#include "engine/TranscoderState.h"

namespace kavel::testing {

struct OpenedOutput {
    std::string FileName;
    bool Join = false;
    std::string VideoCodec;
    std::string AudioCodec;
};

struct AddedStream {
    AVMediaType Kind;
    std::string Codec;  // the kind's codec name when the stream was asked for
    int FrameWidth;
};

class FakeFiles : public TranscoderFiles {
public:
    explicit FakeFiles(TranscoderState& state) : state_(state) {}

    bool OpenInputFile(const std::string& fileName) override {
        InputNames.push_back(fileName);
        InputFormats.push_back(state_.ForcedFormat);
        state_.ForcedFormat.clear();
        if (!InputError.empty())
            return false;
        // An opened input makes its picture the current frame.
        state_.FrameWidth = InputWidth;
        state_.FrameHeight = InputHeight;
        return true;
    }

    int OpenOutputFile(const std::string& fileName, bool join) override {
        if (!OutputError.empty())
            return -1;
        Outputs.push_back({fileName, join, state_.VideoCodecName, state_.AudioCodecName});
        state_.OutputFiles.emplace_back();
        state_.VideoCodecName.clear();
        state_.AudioCodecName.clear();
        return static_cast<int>(state_.OutputFiles.size()) - 1;
    }

    std::string ErrorText() const override {
        return !InputError.empty() ? InputError : OutputError;
    }

    void NewStream(AVMediaType kind) override {
        const std::string& codec = kind == AVMEDIA_TYPE_VIDEO   ? state_.VideoCodecName
                                   : kind == AVMEDIA_TYPE_AUDIO ? state_.AudioCodecName
                                                                : state_.SubtitleCodecName;
        Streams.push_back({kind, codec, state_.FrameWidth});
    }

    bool AddVideoHook(const std::vector<std::string>& args) override {
        HookArgs = args;
        return HookLoads;
    }

    void EnableCustomHook() override { CustomHookEnabled = true; }

    std::vector<std::string> InputNames;
    std::vector<std::string> InputFormats;
    std::vector<OpenedOutput> Outputs;
    std::vector<AddedStream> Streams;
    std::vector<std::string> HookArgs;
    bool HookLoads = true;
    bool CustomHookEnabled = false;
    std::string InputError;
    std::string OutputError;
    int InputWidth = 160;
    int InputHeight = 120;

private:
    TranscoderState& state_;
};

// Gathers the log lines delivered while it lives.
class LogCapture {
public:
    LogCapture() {
        EngineLogger& logger = EngineLogger::Instance();
        savedLevel_ = logger.GetLogLevel();
        savedTrigger_ = logger.GetTriggerEventInMainThread();
        logger.SetTriggerEventInMainThread(false);
        logger.SetLogLevel(llDebug);
        logger.SetOnLog([this](const void*, uint32_t, LogLevel level, const std::string& message) {
            Lines.emplace_back(level, message);
        });
    }
    ~LogCapture() {
        EngineLogger& logger = EngineLogger::Instance();
        logger.SetOnLog(nullptr);
        logger.SetLogLevel(savedLevel_);
        logger.SetTriggerEventInMainThread(savedTrigger_);
    }

    bool Has(LogLevel level, const std::string& message) const {
        for (const auto& [lineLevel, text] : Lines)
            if (lineLevel == level && text == message)
                return true;
        return false;
    }
    bool HasContaining(const std::string& part) const {
        for (const auto& line : Lines)
            if (line.second.find(part) != std::string::npos)
                return true;
        return false;
    }

    std::vector<std::pair<LogLevel, std::string>> Lines;

private:
    LogLevel savedLevel_ = llInfo;
    bool savedTrigger_ = true;
};

// A fresh task's option state with the stand-in and a parser over both.
class OptionTest : public ::testing::Test {
protected:
    TranscoderState State;
    FakeFiles Files{State};
    OptionParser Parser{State, Files};
    LogCapture Logs;

    const std::string* CodecOption(AVMediaType kind, const std::string& name) const {
        return FindListOption(State.Generic.Codec[kind], name);
    }

    // The message of the FFmpegException that applying the option raises, or "".
    std::string ErrorOf(const std::string& name, const std::string& value);
};

inline std::string OptionTest::ErrorOf(const std::string& name, const std::string& value) {
    try {
        Parser.SetOption(name, value);
    } catch (const FFmpegException& error) {
        return error.what();
    }
    return "";
}

}  // namespace kavel::testing
