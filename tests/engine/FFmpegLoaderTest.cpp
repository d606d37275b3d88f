#include "engine/FFmpegLoader.h"

#include <gtest/gtest.h>

#include "engine/EngineLogger.h"

namespace kavel {
namespace {

class FFmpegLoaderTest : public testing::Test {
protected:
    void TearDown() override {
        for (int i = 0; i < LibraryCount; ++i) {
            SetLibraryVersionQuery(static_cast<LibraryIndex>(i), nullptr);
        }
        UnloadLibraries(0xFF);
    }
};

TEST_F(FFmpegLoaderTest, RunningLibrariesMatchTheBuild) {
    ASSERT_TRUE(LoadLibraries(EngineLibraries)) << LastLoadError();
    EXPECT_TRUE(LibrariesLoaded(EngineLibraries));
    EXPECT_FALSE(LibrariesLoaded(LibraryBit(libAvdevice)));
    EXPECT_TRUE(EngineLogger::Instance().LibraryCallbackInstalled());
}

TEST_F(FFmpegLoaderTest, VersionMismatchNamesTheLibraryAndUnloadsTheMask) {
    SetLibraryVersionQuery(libAvfilter, [] { return LibraryVersion{7, 8}; });
    EXPECT_FALSE(LoadLibraries(EngineLibraries));
    EXPECT_EQ(LastLoadError(), "Load library libavfilter.so.7 error: major version 8 found, 7 expected");
    // avcodec came first and passed, yet no library of the set stays loaded.
    EXPECT_FALSE(LibrariesLoaded(LibraryBit(libAvcodec)));
    EXPECT_FALSE(LibrariesLoaded(EngineLibraries));
}

TEST_F(FFmpegLoaderTest, UnregisteredSdlFails) {
    EXPECT_FALSE(LoadLibraries(LibraryBit(libSDL)));
    EXPECT_EQ(LastLoadError().rfind("Load library libSDL2-2.0.so.0 error: ", 0), 0u) << LastLoadError();

    SetLibraryVersionQuery(libSDL, [] { return LibraryVersion{2, 2}; });
    EXPECT_TRUE(LoadLibraries(LibraryBit(libSDL)));
    EXPECT_TRUE(LibrariesLoaded(LibraryBit(libSDL)));
}

TEST_F(FFmpegLoaderTest, FileNames) {
    EXPECT_EQ(LibraryFileName(libAvcodec), "libavcodec.so." + std::to_string(QueryLibraryVersion(libAvcodec).Built));
    EXPECT_STREQ(LibraryBaseName(libSwresample), "swresample");
    EXPECT_EQ(EngineLibraries, LibraryBit(libAvcodec) | LibraryBit(libAvfilter) | LibraryBit(libAvformat) |
                                   LibraryBit(libAvutil) | LibraryBit(libSwscale) | LibraryBit(libSwresample));
}

}  // namespace
}  // namespace kavel
