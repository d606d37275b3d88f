#pragma once

// The option state of one transcode task: every setting the option parser
// writes and the transcoder reads when it opens the next input, the next
// output or adds a stream. A default-constructed state is the state of a new
// task; Reset() returns to it (files included).
//
// Threads: the state belongs to its task. Options are applied on the thread
// that calls AddTask/SetOutputFile; the set-up and the loop read it later on
// the worker thread, never at the same time.

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
#include <libavutil/samplefmt.h>
#include <libswscale/swscale.h>
}

#include "engine/FileNames.h"

namespace kavel {

inline constexpr int MaxInputFiles = 20;
inline constexpr int MaxOutputFiles = 20;
inline constexpr int MaxStreams = 20;

// Media kinds that carry their own generic codec options, in the library's
// order (AVMEDIA_TYPE_VIDEO .. AVMEDIA_TYPE_ATTACHMENT).
inline constexpr int MediaKindCount = 5;

struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FormatContextDeleter {
    void operator()(AVFormatContext* context) const { avformat_free_context(context); }
};
struct SwsContextDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextDeleter>;
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextDeleter>;

// One (name, value) pair per option, in the order first set; setting a name
// again replaces its value in place.
using OptionList = std::vector<std::pair<std::string, std::string>>;

// Replaces the value of name or appends the pair.
void SetListOption(OptionList& list, const std::string& name, const std::string& value);
// The value of name, or nullptr when the list has none.
const std::string* FindListOption(const OptionList& list, const std::string& name);

// Library options accepted by generic-option, remembered so that the set-up
// can hand them on: Codec[kind] to every new encoder (and decoder) of that
// kind, Format to the muxer / demuxer, Scaler to every scaler.
//
// Values are stored as the library reads them back after setting, so flag
// lists given in pieces ("+a" then "+b") arrive whole. Encoder-private
// options (libx264's "motion-est" and the like) are kept with their value
// as given; hand the lists over with av_opt_set(..., AV_OPT_SEARCH_CHILDREN)
// or as an AVDictionary to avcodec_open2 (unknown names then stay unused).
struct GenericOptions {
    std::array<OptionList, MediaKindCount> Codec;
    OptionList Format;
    OptionList Scaler;
    // Names set so far, in order, without repeats.
    std::vector<std::string> SetNames;

    // The libraries' default option objects, used to check names and values
    // and to read the accumulated value back. Created by Create(), freed by
    // Release(); null before Create().
    std::array<CodecContextPtr, MediaKindCount> CodecObjects;
    FormatContextPtr FormatObject;
    SwsContextPtr ScalerObject;

    // Allocates the option objects with the libraries' defaults; does nothing
    // when they exist (Release() first for fresh ones). Throws std::bad_alloc
    // when the library cannot allocate them.
    void Create();
    void Release();
    bool Created() const { return FormatObject != nullptr; }
};

// A "map" option: output stream fed by input FileIndex.StreamIndex, synced
// on SyncFileIndex.SyncStreamIndex.
struct StreamMap {
    int FileIndex = 0;
    int StreamIndex = 0;
    int SyncFileIndex = 0;
    int SyncStreamIndex = 0;
};

// A "map_meta_data" option: metadata of input InFile copied to output OutFile.
struct MetaDataMap {
    int OutFile = 0;
    int InFile = 0;
};

struct MetadataEntry {
    std::string Key;
    std::string Value;
};

// An opened input (opened and closed through the engine's file access). The
// transcoder adds its per-file bookkeeping here.
struct InputFile {
    InputFormatPtr Context;
    int FirstStreamIndex = 0;  // index of its first stream among all input streams
    int StreamCount = 0;
    bool EndOfFile = false;
    int64_t TimestampOffset = 0;  // microseconds
    std::array<double, MaxStreams> TimestampScales{};
};

// An opened output. In Join mode several entries share one context; only the
// first owns it.
struct OutputFile {
    OutputFormatPtr Context;
    AVFormatContext* Shared = nullptr;  // non-owning, set for the extra Join entries
    AVFormatContext* Get() const { return Context ? Context.get() : Shared; }
};

// What the option parser and the record walkers need from the transcoder.
// The transcoder implements it; the engine component provides the hooks.
class TranscoderFiles {
public:
    virtual ~TranscoderFiles() = default;

    // Opens the next input with the options gathered so far and clears the
    // per-file ones. False on failure, with the reason in ErrorText().
    virtual bool OpenInputFile(const std::string& fileName) = 0;
    // Opens the next output; returns its index, or -1 with the reason in
    // ErrorText(). Join asks for all inputs to be written into this output.
    virtual int OpenOutputFile(const std::string& fileName, bool join) = 0;
    virtual std::string ErrorText() const = 0;

    // Adds one stream of kind (video, audio or subtitle) to the output opened
    // last, from the current option state. Throws FFmpegException on failure.
    virtual void NewStream(AVMediaType kind) = 0;

    // Loads a video hook module; args[0] is the module path. False when the
    // module cannot be loaded or configured.
    virtual bool AddVideoHook(const std::vector<std::string>& args) = 0;

    // Offers every decoded video frame of the task to the engine's custom hook.
    virtual void EnableCustomHook() = 0;
};

// Settings gathered from the options, with the values a new task starts with.
struct TranscoderState {
    // Container
    std::string ForcedFormat;   // empty = detect / guess
    bool PgmYuv = false;        // "pgmyuv" was asked for and became image2
    int64_t FileSizeLimit = 0;  // bytes, 0 = none
    int64_t RecordingTime = std::numeric_limits<int64_t>::max();  // microseconds, max = none
    int64_t StartTime = 0;                                        // microseconds
    int64_t RecordingTimestamp = 0;       // seconds since 1970 UTC, 0 = none
    int64_t InputTimestampOffset = 0;     // microseconds
    std::vector<MetadataEntry> Metadata;  // gathered in order; written last first
    std::vector<StreamMap> StreamMaps;
    std::vector<MetaDataMap> MetaDataMaps;
    // [input file][stream] scale for the input opened with that index; 0 = not set.
    std::array<std::array<double, MaxStreams>, MaxInputFiles> InputTimestampScales{};
    std::array<int, MaxStreams> StreamIdMap{};  // ids for the next output's streams
    float MuxPreload = 0.5f;                    // seconds
    float MuxMaxDelay = 0.7f;                   // seconds
    bool LoopInput = false;
    int LoopOutput = -1;  // -1 = no loop
    int ProgramId = 0;
    std::vector<std::string> VideoBitstreamFilters;
    std::vector<std::string> AudioBitstreamFilters;
    std::vector<std::string> SubtitleBitstreamFilters;

    // Video
    int FrameWidth = 0;
    int FrameHeight = 0;
    double FrameAspectRatio = 0.0;
    AVPixelFormat FramePixelFormat = AV_PIX_FMT_NONE;
    int FrameTopBand = 0;
    int FrameBottomBand = 0;
    int FrameLeftBand = 0;
    int FrameRightBand = 0;
    // Frame limits indexed by AVMEDIA_TYPE_VIDEO, _AUDIO, _DATA.
    std::array<int64_t, 3> MaxFrames{std::numeric_limits<int32_t>::max(),
                                     std::numeric_limits<int32_t>::max(),
                                     std::numeric_limits<int32_t>::max()};
    AVRational FrameRate{0, 0};         // 0/0 = none
    float VideoQScale = 0.0f;           // 0 = not fixed
    std::vector<uint16_t> IntraMatrix;  // 64 coefficients, empty = none
    std::vector<uint16_t> InterMatrix;
    std::string VideoRcOverride;
    bool VideoDisable = false;
    int VideoDiscard = 0;
    uint32_t VideoCodecTag = 0;
    std::string VideoLanguage;
    bool SameQuality = false;
    bool Deinterlace = false;
    int TopFieldFirst = -1;
    int MeThreshold = 0;
    int IntraDcPrecision = 8;
    bool QpHistogram = false;
    std::string VideoFilters;
    bool IntraOnly = false;
    std::string VideoCodecName;  // empty = the format's default
    bool VideoStreamCopy = false;
    int VideoChannel = 0;
    std::string VideoStandard;  // TV standard, empty = none
    int VideoGlobalHeader = 0;
    bool ForceFps = false;

    // Audio
    int AudioSampleRate = 44100;
    int AudioChannels = 2;
    AVSampleFormat AudioSampleFormat = AV_SAMPLE_FMT_NONE;
    float AudioQScale = -99999.0f;  // -99999 = none
    bool AudioDisable = false;
    std::string AudioCodecName;
    uint32_t AudioCodecTag = 0;
    std::string AudioLanguage;
    bool AudioStreamCopy = false;
    int AudioVolume = 256;  // 256 = unchanged
    float AudioDriftThreshold = 0.1f;

    // Subtitle
    bool SubtitleDisable = false;
    std::string SubtitleCodecName;
    uint32_t SubtitleCodecTag = 0;
    std::string SubtitleLanguage;
    bool SubtitleStreamCopy = false;

    // Timing
    int VideoSyncMethod = -1;  // -1 = automatic
    int AudioSyncMethod = 0;
    bool CopyTimestamps = false;
    bool Shortest = false;
    float DtsDeltaThreshold = 10.0f;
    bool InputSync = false;
    int CopyInitialNonKeyFrames = 0;
    bool ReadAtNativeRate = false;

    // Diagnostics
    int Verbose = 1;
    bool PacketDump = false;
    bool HexDump = false;
    bool DoPsnr = false;
    bool ExitOnError = false;
    int Pass = 0;                   // 0 = single pass
    std::string PassLogFilePrefix;  // empty = "ffmpeg2pass"
    std::string VideoStatsFile;     // empty = none

    // Scaler
    int ScalerFlags = SWS_BICUBIC;

    // Generic library options (created by GenericOptions::Create).
    GenericOptions Generic;

    // Legacy x264 partition flags given as "+parti8x8"-style lists, accumulated
    // so that each list adds to or removes from the previous one.
    unsigned LegacyPartitions = 0;

    // Files opened so far, filled by the transcoder.
    std::vector<InputFile> InputFiles;
    std::vector<OutputFile> OutputFiles;

    TranscoderState() = default;
    TranscoderState(const TranscoderState&) = delete;
    TranscoderState& operator=(const TranscoderState&) = delete;
    TranscoderState(TranscoderState&&) = default;
    TranscoderState& operator=(TranscoderState&&) = default;

    // Back to the values of a new task: files closed, generic options freed.
    void Reset();
};

}  // namespace kavel
