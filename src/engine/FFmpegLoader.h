#pragma once

#include <functional>
#include <string>

namespace kavel {

// The libraries the program is built against, by table index; sets of them are bit masks over
// these indexes.
enum LibraryIndex {
    libAvcodec = 0,
    libAvdevice = 1,
    libAvfilter = 2,
    libAvformat = 3,
    libAvutil = 4,
    libSwscale = 5,
    libSwresample = 6,
    libSDL = 7,
    LibraryCount = 8
};

inline constexpr unsigned LibraryBit(LibraryIndex index) { return 1u << index; }
// avcodec, avfilter, avformat, avutil, swscale, swresample: what the engine and the prober need.
inline constexpr unsigned EngineLibraries = 0x7D;

struct LibraryVersion {
    int Built = -1;    // major version this program was compiled against; -1: not known here
    int Running = -1;  // major version of the library in this process
};

// Base name ("avcodec", ..., "SDL2") and the file name built from it ("libavcodec.so.59").
const char* LibraryBaseName(LibraryIndex index);
std::string LibraryFileName(LibraryIndex index);

// The libraries are linked at build time, so "loading" checks each library of mask, in index
// order, for the major version the program was built with. On the first mismatch every library
// of mask is marked unloaded again, the last error becomes "Load library %s error: %s" with the
// library's file name, and the result is false. Loading avutil installs the process-wide logger
// as the libraries' log callback and pushes its level. Main thread.
bool LoadLibraries(unsigned mask);
// True when every library of mask has been loaded successfully.
bool LibrariesLoaded(unsigned mask);
void UnloadLibraries(unsigned mask);
std::string LastLoadError();

// The engine does not link SDL; the player registers how to ask for its versions. Tests use this
// to inject versions of any library. An empty query restores the built-in one.
void SetLibraryVersionQuery(LibraryIndex index, std::function<LibraryVersion()> query);
LibraryVersion QueryLibraryVersion(LibraryIndex index);

}  // namespace kavel
