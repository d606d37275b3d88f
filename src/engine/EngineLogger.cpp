#include "engine/EngineLogger.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "engine/MainThread.h"

extern "C" {
#include <libavutil/log.h>
}

namespace kavel {

namespace {

const char* const LevelNames[] = {"quiet", "panic", "fatal", "error", "warning", "info", "verbose", "debug"};

std::recursive_mutex& InstanceMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

EngineLogger* instance = nullptr;

void LibraryCallback(void* context, int level, const char* format, va_list args) {
    EngineLogger::Instance().LibraryLog(context, level, format, args);
}

bool EqualsIgnoringCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) {
            return false;
        }
    }
    return i == a.size() && b[i] == '\0';
}

}  // namespace

int LogLevelToLibrary(LogLevel level) { return (static_cast<int>(level) - 1) * 8; }

LogLevel LogLevelFromLibrary(int libraryLevel) {
    if (libraryLevel < AV_LOG_QUIET) {
        return llQuiet;
    }
    if (libraryLevel >= AV_LOG_DEBUG) {
        return llDebug;
    }
    // Floor division: -8..-1 is the quiet band, so AV_LOG_QUIET maps back to llQuiet.
    const int band = libraryLevel < 0 ? (libraryLevel - 7) / 8 : libraryLevel / 8;
    return static_cast<LogLevel>(band + 1);
}

bool ParseLogLevel(const std::string& text, LogLevel& level) {
    for (int i = llQuiet; i <= llDebug; ++i) {
        if (EqualsIgnoringCase(text, LevelNames[i])) {
            level = static_cast<LogLevel>(i);
            return true;
        }
    }
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0') {
        return false;
    }
    level = LogLevelFromLibrary(static_cast<int>(std::clamp(value, -1000L, 1000L)));
    return true;
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(gettid()); }

EngineLogger::EngineLogger() {
    std::lock_guard lock(InstanceMutex());
    if (instance != nullptr) {
        throw std::logic_error("Allow creating only one instance of TEngineLogger.");
    }
    instance = this;
}

EngineLogger::~EngineLogger() {
    std::lock_guard lock(InstanceMutex());
    if (instance == this) {
        instance = nullptr;
    }
}

EngineLogger& EngineLogger::Instance() {
    std::lock_guard lock(InstanceMutex());
    if (instance == nullptr) {
        // Never destroyed: the libraries and worker threads may log until the very end.
        new EngineLogger;
    }
    return *instance;
}

LogLevel EngineLogger::GetLogLevel() const {
    std::lock_guard lock(mutex_);
    return logLevel_;
}

void EngineLogger::SetLogLevel(LogLevel level) {
    std::lock_guard lock(mutex_);
    logLevel_ = level;
    if (libraryCallbackInstalled_) {
        av_log_set_level(LogLevelToLibrary(level));
    }
}

bool EngineLogger::SetLogLevel(const std::string& text) {
    LogLevel level;
    if (!ParseLogLevel(text, level)) {
        return false;
    }
    SetLogLevel(level);
    return true;
}

bool EngineLogger::GetTriggerEventInMainThread() const {
    std::lock_guard lock(mutex_);
    return triggerEventInMainThread_;
}

void EngineLogger::SetTriggerEventInMainThread(bool value) {
    std::lock_guard lock(mutex_);
    triggerEventInMainThread_ = value;
}

void EngineLogger::SetOnLog(LogEvent handler) {
    std::lock_guard lock(mutex_);
    onLog_ = std::move(handler);
}

void EngineLogger::Log(const void* sender, LogLevel level, const std::string& message) {
    const LogLevel current = GetLogLevel();
    if (level <= current || (level == llVerbose && current != llQuiet)) {
        Deliver(sender, CurrentThreadId(), level, message);
    }
}

void EngineLogger::LogFormat(const void* sender, LogLevel level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogFormatV(sender, level, format, args);
    va_end(args);
}

void EngineLogger::LogFormatV(const void* sender, LogLevel level, const char* format, va_list args) {
    char text[MessageLimit];
    if (std::vsnprintf(text, sizeof text, format, args) < 0) {
        return;
    }
    Log(sender, level, text);
}

void EngineLogger::InstallLibraryCallback() {
    std::lock_guard lock(mutex_);
    libraryCallbackInstalled_ = true;
    av_log_set_level(LogLevelToLibrary(logLevel_));
    av_log_set_callback(&LibraryCallback);
}

bool EngineLogger::LibraryCallbackInstalled() const {
    std::lock_guard lock(mutex_);
    return libraryCallbackInstalled_;
}

void EngineLogger::LibraryLog(void* context, int libraryLevel, const char* format, va_list args) {
    if (libraryLevel > av_log_get_level()) {
        return;
    }
    char text[MessageLimit];
    const int length = std::vsnprintf(text, sizeof text, format, args);
    if (length < 0) {
        return;
    }
    // A cut message has lost its line feed; it still ends the line.
    const bool truncated = static_cast<size_t>(length) >= sizeof text;

    const uint32_t threadId = CurrentThreadId();
    std::vector<PendingLine> complete;
    {
        std::lock_guard lock(pendingMutex_);
        PendingLine& pending = pending_[threadId];
        if (pending.text.empty()) {
            pending.level = LogLevelFromLibrary(libraryLevel);
            const AVClass* avClass = context ? *static_cast<AVClass* const*>(context) : nullptr;
            if (avClass != nullptr && avClass->item_name != nullptr) {
                char prefix[256];
                std::snprintf(prefix, sizeof prefix, "[%s @ %p] ", avClass->item_name(context), context);
                pending.text = prefix;
            }
        }
        pending.text += text;
        if (truncated) {
            pending.text += '\n';
        }
        size_t start = 0;
        for (size_t end; (end = pending.text.find('\n', start)) != std::string::npos; start = end + 1) {
            complete.push_back({pending.text.substr(start, end - start), pending.level});
        }
        pending.text.erase(0, start);
        // A thread that never ends its line must not grow the pending text without bound.
        if (pending.text.size() >= MessageLimit) {
            complete.push_back({std::move(pending.text), pending.level});
            pending.text.clear();
        }
        if (pending.text.empty()) {
            pending_.erase(threadId);
        }
    }
    for (const PendingLine& line : complete) {
        Deliver(context, threadId, line.level, line.text);
    }
}

void EngineLogger::Deliver(const void* sender, uint32_t threadId, LogLevel level, const std::string& message) {
    LogEvent handler;
    bool inMainThread;
    {
        std::lock_guard lock(mutex_);
        handler = onLog_;
        inMainThread = triggerEventInMainThread_;
    }
    if (!handler) {
        return;
    }
    try {
        if (inMainThread) {
            RunInMainThread([&] { handler(sender, threadId, level, message); });
        } else {
            handler(sender, threadId, level, message);
        }
    } catch (...) {
        // Logging never raises.
    }
}

void Log(LogLevel level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    EngineLogger::Instance().LogFormatV(nullptr, level, format, args);
    va_end(args);
}

void LogText(LogLevel level, const std::string& message) { EngineLogger::Instance().Log(nullptr, level, message); }

}  // namespace kavel
