#pragma once

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace kavel {

// Ordinal 0..7. Messages at llQuiet are always shown: they pass every filter.
enum LogLevel { llQuiet, llPanic, llFatal, llError, llWarning, llInfo, llVerbose, llDebug };

// To the libraries' numbers: (ordinal - 1) * 8, so llQuiet -> -8 (AV_LOG_QUIET), llInfo -> 32.
int LogLevelToLibrary(LogLevel level);
// From the libraries' numbers: below -8 -> llQuiet, 48 and above -> llDebug, between them the
// level whose band the value falls in (-8..-1 -> llQuiet, 0..7 -> llPanic, ..., 40..47 -> llVerbose).
LogLevel LogLevelFromLibrary(int libraryLevel);
// "quiet" .. "debug" (any letter case) or a numeric library level. False, level untouched, otherwise.
bool ParseLogLevel(const std::string& text, LogLevel& level);

// (sender, thread id of the logging thread, level, message without line feed)
using LogEvent = std::function<void(const void* sender, uint32_t threadId, LogLevel level,
                                    const std::string& message)>;

// The one process-wide logger. It receives the libraries' log lines (once installed as their
// callback) and the engine's own messages, and hands them to OnLog.
// Every member may be called from any thread. When TriggerEventInMainThread is set (default),
// OnLog runs on the main thread through the current main-thread synchroniser and the logging
// thread waits for it; the main thread must keep delivering pending calls while it waits for
// workers (see MainThread.h).
class EngineLogger {
public:
    // Creates the instance. Throws std::logic_error("Allow creating only one instance of
    // TEngineLogger.") while another instance exists.
    EngineLogger();
    // Clears the accessor; the next Instance() creates a fresh logger.
    ~EngineLogger();
    EngineLogger(const EngineLogger&) = delete;
    EngineLogger& operator=(const EngineLogger&) = delete;

    // The process-wide instance, created on first use.
    static EngineLogger& Instance();

    LogLevel GetLogLevel() const;
    // Stores the level and, once installed as the libraries' callback, pushes it to them.
    void SetLogLevel(LogLevel level);
    // The "loglevel" option: a name or a numeric library level. False when not understood.
    bool SetLogLevel(const std::string& text);

    bool GetTriggerEventInMainThread() const;
    void SetTriggerEventInMainThread(bool value);

    void SetOnLog(LogEvent handler);

    // Delivers when OnLog is set and level <= LogLevel, or level is llVerbose and LogLevel is not
    // llQuiet (progress lines reach every non-quiet logger). Never throws.
    void Log(const void* sender, LogLevel level, const std::string& message);
    void LogFormat(const void* sender, LogLevel level, const char* format, ...)
        __attribute__((format(printf, 4, 5)));
    void LogFormatV(const void* sender, LogLevel level, const char* format, va_list args);

    // Makes this logger the libraries' log callback and pushes its level to them.
    void InstallLibraryCallback();
    bool LibraryCallbackInstalled() const;

    // The body of the libraries' callback (exposed for tests): drops messages above the
    // libraries' current level, formats at most 2048 bytes, prefixes "[class @ address] " at the
    // start of a line when a context is given, and gathers text per thread; each complete line
    // is delivered once, when its line feed arrives.
    void LibraryLog(void* context, int libraryLevel, const char* format, va_list args);

    // Limit of one formatted library message, and of a line gathered without a line feed.
    static constexpr size_t MessageLimit = 2048;

private:
    void Deliver(const void* sender, uint32_t threadId, LogLevel level, const std::string& message);

    mutable std::mutex mutex_;  // guards the settings below, never held while delivering
    LogLevel logLevel_ = llInfo;
    bool triggerEventInMainThread_ = true;
    bool libraryCallbackInstalled_ = false;
    LogEvent onLog_;

    struct PendingLine {
        std::string text;
        LogLevel level = llInfo;
    };
    std::mutex pendingMutex_;
    std::map<uint32_t, PendingLine> pending_;  // per thread id
};

// The calling thread's id as the logger reports it (the kernel thread id).
uint32_t CurrentThreadId();

// Short forms for engine code: log through the process-wide logger without a sender.
void Log(LogLevel level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void LogText(LogLevel level, const std::string& message);

}  // namespace kavel
