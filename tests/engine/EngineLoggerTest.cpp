#include "engine/EngineLogger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "engine/MainThread.h"

extern "C" {
#include <libavutil/log.h>
}

namespace kavel {
namespace {

struct Delivered {
    uint32_t threadId;
    LogLevel level;
    std::string message;
};

class EngineLoggerTest : public testing::Test {
protected:
    void SetUp() override {
        logger().SetLogLevel(llInfo);
        logger().SetTriggerEventInMainThread(false);
        logger().SetOnLog([this](const void*, uint32_t threadId, LogLevel level, const std::string& message) {
            std::lock_guard lock(mutex_);
            delivered_.push_back({threadId, level, message});
        });
    }
    void TearDown() override {
        logger().SetOnLog(nullptr);
        logger().SetLogLevel(llInfo);
        logger().SetTriggerEventInMainThread(true);
    }
    static EngineLogger& logger() { return EngineLogger::Instance(); }

    std::vector<Delivered> delivered() {
        std::lock_guard lock(mutex_);
        return delivered_;
    }
    std::vector<std::string> messages() {
        std::vector<std::string> result;
        for (const Delivered& d : delivered()) {
            result.push_back(d.message);
        }
        return result;
    }

    std::mutex mutex_;
    std::vector<Delivered> delivered_;
};

// Calls the library callback body the way av_log would.
void LibraryLine(void* context, int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    EngineLogger::Instance().LibraryLog(context, level, format, args);
    va_end(args);
}

TEST(LogLevelTest, MappingToAndFromLibraryLevels) {
    struct Case {
        LogLevel level;
        int library;
    };
    const Case cases[] = {{llQuiet, AV_LOG_QUIET},     {llPanic, AV_LOG_PANIC}, {llFatal, AV_LOG_FATAL},
                          {llError, AV_LOG_ERROR},     {llWarning, AV_LOG_WARNING}, {llInfo, AV_LOG_INFO},
                          {llVerbose, AV_LOG_VERBOSE}, {llDebug, AV_LOG_DEBUG}};
    for (const Case& c : cases) {
        EXPECT_EQ(LogLevelToLibrary(c.level), c.library) << c.level;
        EXPECT_EQ(LogLevelFromLibrary(c.library), c.level) << c.library;
    }
    const Case between[] = {{llQuiet, -100}, {llQuiet, -1}, {llPanic, 7},  {llError, 23},
                            {llInfo, 39},    {llVerbose, 47}, {llDebug, AV_LOG_TRACE}, {llDebug, 1000}};
    for (const Case& c : between) {
        EXPECT_EQ(LogLevelFromLibrary(c.library), c.level) << c.library;
    }
}

TEST(LogLevelTest, ParsesNamesAndNumbers) {
    struct Case {
        const char* text;
        bool ok;
        LogLevel level;
    };
    const Case cases[] = {{"quiet", true, llQuiet},  {"PANIC", true, llPanic},     {"Fatal", true, llFatal},
                          {"error", true, llError},  {"warning", true, llWarning}, {"info", true, llInfo},
                          {"verbose", true, llVerbose}, {"debug", true, llDebug},  {"24", true, llWarning},
                          {"-8", true, llQuiet},     {"48", true, llDebug},        {"", false, llDebug},
                          {"loud", false, llDebug},  {"16x", false, llDebug}};
    for (const Case& c : cases) {
        LogLevel level = llDebug;
        EXPECT_EQ(ParseLogLevel(c.text, level), c.ok) << c.text;
        EXPECT_EQ(level, c.level) << c.text;
    }
}

TEST_F(EngineLoggerTest, DeliveryRule) {
    struct Case {
        LogLevel setting;
        LogLevel message;
        bool delivered;
    };
    const Case cases[] = {
        {llInfo, llInfo, true},        {llInfo, llDebug, false},   {llError, llWarning, false},
        {llError, llError, true},      {llError, llVerbose, true},  {llPanic, llVerbose, true},
        {llQuiet, llVerbose, false},   {llQuiet, llError, false},   {llQuiet, llQuiet, true},
        {llDebug, llDebug, true},
    };
    for (const Case& c : cases) {
        delivered_.clear();
        logger().SetLogLevel(c.setting);
        logger().Log(nullptr, c.message, "line");
        EXPECT_EQ(delivered().size(), c.delivered ? 1u : 0u) << c.setting << " " << c.message;
    }
}

TEST_F(EngineLoggerTest, FormatsAndReportsCallerThread) {
    Log(llInfo, "frame %d of %s", 7, "clip");
    ASSERT_EQ(delivered().size(), 1u);
    EXPECT_EQ(delivered()[0].message, "frame 7 of clip");
    EXPECT_EQ(delivered()[0].threadId, CurrentThreadId());
    EXPECT_EQ(delivered()[0].level, llInfo);
}

TEST_F(EngineLoggerTest, LibraryLineInTwoPiecesIsDeliveredOnce) {
    LibraryLine(nullptr, AV_LOG_WARNING, "first half, ");
    EXPECT_TRUE(delivered().empty());
    LibraryLine(nullptr, AV_LOG_WARNING, "second half %d\n", 2);
    ASSERT_EQ(delivered().size(), 1u);
    EXPECT_EQ(delivered()[0].message, "first half, second half 2");
    EXPECT_EQ(delivered()[0].level, llWarning);
}

TEST_F(EngineLoggerTest, SeveralLinesInOneMessage) {
    LibraryLine(nullptr, AV_LOG_INFO, "one\ntwo\nthr");
    LibraryLine(nullptr, AV_LOG_INFO, "ee\n");
    EXPECT_EQ(messages(), (std::vector<std::string>{"one", "two", "three"}));
}

TEST_F(EngineLoggerTest, LibraryLinesAboveTheLibraryLevelAreDropped) {
    logger().InstallLibraryCallback();
    logger().SetLogLevel(llWarning);
    LibraryLine(nullptr, AV_LOG_INFO, "info\n");
    LibraryLine(nullptr, AV_LOG_ERROR, "error\n");
    EXPECT_EQ(messages(), (std::vector<std::string>{"error"}));
    // Through the real entry point as well.
    av_log(nullptr, AV_LOG_ERROR, "from av_log\n");
    EXPECT_EQ(messages().back(), "from av_log");
}

TEST_F(EngineLoggerTest, ContextPrefixStartsTheLineOnly) {
    AVClass testClass{};
    testClass.class_name = "tester";
    testClass.item_name = av_default_item_name;
    testClass.version = LIBAVUTIL_VERSION_INT;
    struct {
        const AVClass* avClass;
    } context{&testClass};
    LibraryLine(&context, AV_LOG_ERROR, "bad ");
    LibraryLine(&context, AV_LOG_ERROR, "packet\n");
    char expected[128];
    std::snprintf(expected, sizeof expected, "[tester @ %p] bad packet", static_cast<void*>(&context));
    EXPECT_EQ(messages(), (std::vector<std::string>{expected}));
}

TEST_F(EngineLoggerTest, LongMessageIsCutAndEndsItsLine) {
    const std::string longText(5000, 'x');
    LibraryLine(nullptr, AV_LOG_INFO, "%s\n", longText.c_str());
    LibraryLine(nullptr, AV_LOG_INFO, "next\n");
    const std::vector<std::string> lines = messages();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], std::string(EngineLogger::MessageLimit - 1, 'x'));
    EXPECT_EQ(lines[1], "next");
}

TEST_F(EngineLoggerTest, PiecesAreGatheredPerThread) {
    std::barrier halfway(2);
    auto writer = [&](const char* name) {
        LibraryLine(nullptr, AV_LOG_INFO, "%s begins ", name);
        halfway.arrive_and_wait();
        LibraryLine(nullptr, AV_LOG_INFO, "%s ends\n", name);
    };
    std::thread a(writer, "A");
    std::thread b(writer, "B");
    a.join();
    b.join();
    std::vector<std::string> lines = messages();
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"A begins A ends", "B begins B ends"}));
    EXPECT_NE(delivered()[0].threadId, delivered()[1].threadId);
}

TEST_F(EngineLoggerTest, WorkerLinesReachOnLogOnTheMainThread) {
    logger().SetTriggerEventInMainThread(true);
    bool handledOnMain = false;
    logger().SetOnLog([&](const void*, uint32_t, LogLevel, const std::string&) { handledOnMain = IsMainThread(); });
    std::atomic<bool> done{false};
    std::thread worker([&] {
        LibraryLine(nullptr, AV_LOG_INFO, "from worker\n");
        done = true;
    });
    WaitPumping([&] { return done.load(); });
    worker.join();
    EXPECT_TRUE(handledOnMain);
}

TEST_F(EngineLoggerTest, ThrowingHandlerDoesNotEscape) {
    logger().SetOnLog([](const void*, uint32_t, LogLevel, const std::string&) { throw std::runtime_error("x"); });
    EXPECT_NO_THROW(logger().Log(nullptr, llError, "line"));
}

TEST_F(EngineLoggerTest, OnlyOneInstance) {
    EngineLogger& existing = EngineLogger::Instance();
    try {
        EngineLogger second;
        FAIL() << "a second logger was created";
    } catch (const std::logic_error& error) {
        EXPECT_STREQ(error.what(), "Allow creating only one instance of TEngineLogger.");
    }
    EXPECT_EQ(&EngineLogger::Instance(), &existing);
}

}  // namespace
}  // namespace kavel
