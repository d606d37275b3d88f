#pragma once

// Test media made on demand with the FFmpeg libraries.
//
// Every fixture is written into one temporary folder per test process ($TMPDIR or /tmp), which is
// removed when the process ends normally; the next test process removes folders whose process
// crashed or was killed. Calls may come from any thread. Asking twice for the same parameters
// returns the same file without encoding it again, so a test may call MakeMedia wherever it needs a
// path. Failures to build a fixture are test-setup faults: the functions throw std::runtime_error
// with the library's reason.
//
// Pictures carry a frame counter: the picture is a 4 x 4 grid of dark and light cells, twelve
// cells hold the number of the source frame (0, 1, 2, ... in presentation order) and four hold a
// check value. ReadFrameCounter gives the number back from a decoded or converted picture, also
// after scaling, pixel-format changes, lossy coding and (with CounterGeometry) cropping or
// padding. Audio is a sine tone per stream. Streams are written video first, then audio, then
// subtitles.
//
// Usage (C++20 designated initialisers, members in declaration order):
//
//     std::string plain = fixtures::MakeMedia({});                          // 2 s 160x120 25 fps
//     mp4 std::string ntsc = fixtures::MakeMedia({.Container = "avi",
//                                             .FrameRate = {30000, 1001}});
//     std::string withTone = fixtures::MakeMedia({.AudioStreams = 1, .Channels = 1});
//     std::string audioOnly = fixtures::MakeMedia({.Container = "wav", .Video = false,
//                                                  .AudioStreams = 1,
//                                                  .AudioCodec = "pcm_s16le"});
//     std::string noDuration = fixtures::MakeMedia(fixtures::NoDurationParams());
//     std::string subtitled = fixtures::MakeMedia({.Container = "matroska",
//                                                  .SubtitleStreams = 1});

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
}

namespace kavel::fixtures {

struct MediaParams {
    // Muxer short name ("mp4", "avi", "matroska", "mpegts", "wav", "mjpeg", "m4v", ...).
    std::string Container = "mp4";
    // File name ending without the dot; empty: the muxer's first extension.
    std::string Extension{};
    // Name of the file before its extension; empty: a name made from the parameters. A name with
    // characters beyond ASCII is written as such (UTF-8).
    std::string FileStem{};
    double Seconds = 2.0;

    bool Video = true;
    int Width = 160;
    int Height = 120;
    AVRational FrameRate{25, 1};
    // Pixel format of the coded pictures; when the encoder cannot take it, its nearest one.
    AVPixelFormat PixelFormat = AV_PIX_FMT_YUV420P;
    // Encoder name; when the container cannot hold it, the container's default video codec.
    std::string VideoCodec = "mpeg4";
    // {0, 1}: none stored.
    AVRational SampleAspectRatio{0, 1};
    // 0: constant high quality, so that the frame counter survives.
    int VideoBitRate = 0;
    int GopSize = 12;
    int MaxBFrames = 0;

    // Number of audio streams (each its own tone: ToneHz, ToneHz * 1.5, ...).
    int AudioStreams = 0;
    int Channels = 2;
    int SampleRate = 44100;
    double ToneHz = 440.0;
    // Encoder name; when the container cannot hold it, the container's default audio codec.
    std::string AudioCodec = "aac";
    int AudioBitRate = 96000;
    // Length of each audio stream in seconds, by stream; streams beyond the list (or all, when
    // it is empty) last Seconds.
    std::vector<double> AudioSeconds{};

    // Number of text subtitle streams: one event "Line N" per second, shown for 0.9 s.
    int SubtitleStreams = 0;
    // Encoder name ("subrip", "ass", "mov_text", "webvtt"); when the container cannot hold it,
    // the container's default subtitle codec.
    std::string SubtitleCodec = "subrip";

    // Container metadata ("title", "artist", "comment", "creation_time", ...).
    std::map<std::string, std::string> Metadata{};
    // The "language" of every stream when not empty (e.g. "eng").
    std::string Language{};
};

// 2 s of 25 fps video in a raw MPEG-4 elementary stream: the demuxer knows no duration, neither
// of the file nor of its stream.
MediaParams NoDurationParams();

// Writes the file for these parameters (once per process) and returns its path.
std::string MakeMedia(const MediaParams& params);

// The folder that holds every fixture of this process; tests may write their outputs into it.
std::string FixtureFolder();
// A path in the fixture folder; the file is not created.
std::string TempPath(const std::string& name);

// A file of zero bytes.
std::string MakeEmptyFile();
// A file of exactly Size pseudo-random bytes (the same bytes for the same seed).
std::string MakeRandomFile(std::size_t size, std::uint32_t seed = 1);
// A file with these bytes and this name in the fixture folder (overwritten each call).
std::string WriteFile(const std::string& name, const std::string& bytes);
// A copy of a file cut after its first KeepBytes bytes.
std::string MakeTruncatedCopy(const std::string& path, std::size_t keepBytes);

// Where the source picture lies in an examined picture. The defaults say "the whole examined
// picture is the whole source picture", which holds after any scaling. A crop keeps the part of
// the source between the Source fractions; padding puts the source into the Picture rectangle.
struct CounterGeometry {
    double SourceLeft = 0.0;
    double SourceTop = 0.0;
    double SourceRight = 1.0;
    double SourceBottom = 1.0;
    int PictureX = 0;
    int PictureY = 0;
    // 0: the examined picture's width or height less PictureX / PictureY.
    int PictureWidth = 0;
    int PictureHeight = 0;
};

// Largest frame number the counter holds.
constexpr int kMaxFrameCounter = 4095;

// Draws the counter grid for Number into a picture of 8-bit luma (Width x Height, Stride bytes
// per row). Used by MakeMedia; exposed for tests that make their own pictures.
void DrawFrameCounter(int number, std::uint8_t* luma, int width, int height, int stride);

// The source frame number shown by a picture, or -1 when the grid cannot be read (its check
// value does not match). Any pixel format swscale can turn into gray.
int ReadFrameCounter(const AVFrame& frame, const CounterGeometry& geometry = {});
// The same for a 24-bit picture of blue-green-red bytes per pixel (the engine's bitmaps).
int ReadFrameCounterBgr(const std::uint8_t* pixels, int width, int height, int stride,
                        const CounterGeometry& geometry = {});

// Decodes the first video stream of a file with the plain libraries and returns what each
// picture shows, in decoding output order.
struct DecodedVideo {
    int Width = 0;
    int Height = 0;
    std::vector<int> Counters;
    std::vector<std::int64_t> PtsUS;  // presentation times in microseconds (AV_NOPTS_VALUE: none)
};
DecodedVideo DecodeVideo(const std::string& path, const CounterGeometry& geometry = {});

// Decodes one audio stream of a file (-1: the best one) with the plain libraries.
struct DecodedAudio {
    int Channels = 0;
    int SampleRate = 0;
    std::int64_t Samples = 0;  // per channel
    // The tone of the first channel, from its zero crossings (0 for silence); tells the
    // fixture's streams apart (ToneHz, ToneHz * 1.5, ...) after conversion.
    double ToneHz = 0;
    double Peak = 0;  // largest magnitude, 1.0 = full scale
};
DecodedAudio DecodeAudio(const std::string& path, int streamIndex = -1);

}  // namespace kavel::fixtures
