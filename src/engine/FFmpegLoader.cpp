#include "engine/FFmpegLoader.h"

#include <array>
#include <cstdio>
#include <mutex>

#include "engine/EngineLogger.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace kavel {

namespace {

struct LibraryItem {
    const char* baseName;
    LibraryVersion (*builtIn)();
};

LibraryVersion Version(int built, unsigned running) {
    return {built, static_cast<int>(AV_VERSION_MAJOR(running))};
}

const std::array<LibraryItem, LibraryCount> Libraries = {{
    {"avcodec", [] { return Version(LIBAVCODEC_VERSION_MAJOR, avcodec_version()); }},
    {"avdevice", [] { return Version(LIBAVDEVICE_VERSION_MAJOR, avdevice_version()); }},
    {"avfilter", [] { return Version(LIBAVFILTER_VERSION_MAJOR, avfilter_version()); }},
    {"avformat", [] { return Version(LIBAVFORMAT_VERSION_MAJOR, avformat_version()); }},
    {"avutil", [] { return Version(LIBAVUTIL_VERSION_MAJOR, avutil_version()); }},
    {"swscale", [] { return Version(LIBSWSCALE_VERSION_MAJOR, swscale_version()); }},
    {"swresample", [] { return Version(LIBSWRESAMPLE_VERSION_MAJOR, swresample_version()); }},
    // The engine does not link SDL; the player registers its query.
    {"SDL2", [] { return LibraryVersion{}; }},
}};

struct LoaderState {
    std::mutex mutex;
    std::array<bool, LibraryCount> loaded{};
    std::array<std::function<LibraryVersion()>, LibraryCount> queries;
    std::string lastError;
};

LoaderState& State() {
    static LoaderState state;
    return state;
}

bool InMask(unsigned mask, int index) { return (mask >> index) & 1u; }

std::string LoadError(const std::string& name, const std::string& reason) {
    char text[512];
    std::snprintf(text, sizeof text, "Load library %s error: %s", name.c_str(), reason.c_str());
    return text;
}

std::string FileName(LibraryIndex index, int builtMajor) {
    if (index == libSDL) {
        return "libSDL2-2.0.so.0";
    }
    return std::string("lib") + Libraries[index].baseName + ".so." + std::to_string(builtMajor);
}

}  // namespace

const char* LibraryBaseName(LibraryIndex index) {
    return index >= 0 && index < LibraryCount ? Libraries[index].baseName : "";
}

std::string LibraryFileName(LibraryIndex index) { return FileName(index, QueryLibraryVersion(index).Built); }

void SetLibraryVersionQuery(LibraryIndex index, std::function<LibraryVersion()> query) {
    LoaderState& state = State();
    std::lock_guard lock(state.mutex);
    state.queries[index] = std::move(query);
}

LibraryVersion QueryLibraryVersion(LibraryIndex index) {
    std::function<LibraryVersion()> query;
    {
        LoaderState& state = State();
        std::lock_guard lock(state.mutex);
        query = state.queries[index];
    }
    return query ? query() : Libraries[index].builtIn();
}

bool LoadLibraries(unsigned mask) {
    LoaderState& state = State();
    for (int i = 0; i < LibraryCount; ++i) {
        if (!InMask(mask, i)) {
            continue;
        }
        const auto index = static_cast<LibraryIndex>(i);
        {
            std::lock_guard lock(state.mutex);
            if (state.loaded[i]) {
                continue;
            }
        }
        const LibraryVersion version = QueryLibraryVersion(index);
        std::string error;
        if (version.Built < 0) {
            error = LoadError(FileName(index, version.Built), "not available to this program");
        } else if (version.Running != version.Built) {
            error = LoadError(FileName(index, version.Built), "major version " + std::to_string(version.Running) +
                                                          " found, " + std::to_string(version.Built) +
                                                          " expected");
        }
        if (!error.empty()) {
            std::lock_guard lock(state.mutex);
            state.lastError = error;
            for (int j = 0; j < LibraryCount; ++j) {
                if (InMask(mask, j)) {
                    state.loaded[j] = false;
                }
            }
            return false;
        }
        {
            std::lock_guard lock(state.mutex);
            state.loaded[i] = true;
        }
        if (index == libAvutil) {
            EngineLogger::Instance().InstallLibraryCallback();
        }
    }
    return true;
}

bool LibrariesLoaded(unsigned mask) {
    LoaderState& state = State();
    std::lock_guard lock(state.mutex);
    for (int i = 0; i < LibraryCount; ++i) {
        if (InMask(mask, i) && !state.loaded[i]) {
            return false;
        }
    }
    return true;
}

void UnloadLibraries(unsigned mask) {
    LoaderState& state = State();
    std::lock_guard lock(state.mutex);
    for (int i = 0; i < LibraryCount; ++i) {
        if (InMask(mask, i)) {
            state.loaded[i] = false;
        }
    }
}

std::string LastLoadError() {
    LoaderState& state = State();
    std::lock_guard lock(state.mutex);
    return state.lastError;
}

}  // namespace kavel
