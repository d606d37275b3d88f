#pragma once

// The option records of an engine task: one InputOptions per input file, one
// OutputOptions per output file. The walkers turn every field that is set
// into one named option for the task's transcoder, in a fixed order, so a
// record means exactly what the same options written in front of the file
// would mean. Fields left at their "not set" value produce no option.

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/avutil.h>
}

namespace kavel {

class OptionParser;

inline constexpr int64_t NoTime = AV_NOPTS_VALUE;

struct InputOptions {
    std::string FileName;        // UTF-8; filled in from the file argument when empty
    std::string FileFormat;      // "f", empty = detect
    int64_t StartTime = NoTime;  // microseconds
    int ProgramID = -1;
    std::string ExtOptions;  // extended options text
    int Reserved1 = 0;       // not read by the engine
    int Reserved2 = 0;
};

struct StreamInfo {
    // Days since 30 December 1899, local time: 0 = the current moment, > 0 =
    // that moment, < 0 = not set.
    double Timestamp = -1.0;
    int Year = -1;
    int Track = -1;
    std::string Title;
    std::string Author;
    std::string Copyright;
    std::string Comment;
    std::string Album;
    std::string Genre;
};

struct OutputOptions {
    std::string FileName;  // UTF-8; filled in from the file argument when empty
    std::string Reserved;  // not read by the engine
    std::string FileFormat;
    int PacketSize = -1;
    int MuxRate = -1;
    float MuxDelay = -1.0f;    // seconds
    float MuxPreload = -1.0f;  // seconds
    std::string AudioCodec;    // "copy" = copy the stream
    std::string AudioPreset;
    bool DisableAudio = false;
    int AudioVolume = -1;  // 256 = unchanged
    int AudioChannels = -1;
    int AudioSampleRate = -1;  // Hz
    int AudioBitrate = -1;     // bit/s
    int AudioBitrateTolerance = -1;
    std::string AudioLanguage;  // always applied
    int AudioSyncMethod = 0;    // always applied
    std::string AudioTag;       // exactly 4 characters
    std::string VideoCodec;     // "copy" = copy the stream
    std::string VideoPreset;
    bool DisableVideo = false;
    std::string FrameRate;
    std::string FrameSize;
    std::string AspectRatio;  // "4:3", "16:9" or a decimal number
    int CropTop = -1;
    int CropBottom = -1;
    int CropLeft = -1;
    int CropRight = -1;
    int GopSize = -1;
    int VideoBitrate = -1;  // bit/s
    int VideoMaxRate = -1;
    int VideoMinRate = -1;
    int VideoBitrateTolerance = -1;
    int VideoBufSize = -1;
    int VideoSyncMethod = -1;  // always applied; -1 = automatic
    std::string VideoTag;      // exactly 4 characters
    std::string VideoFilters;
    std::string VideoLanguage;  // always applied
    std::string SubtitleCodec;
    std::string SubtitlePreset;
    bool DisableSubtitle = false;
    std::string SubtitleLanguage;  // always applied
    bool InputSync = false;        // always applied
    bool CopyTimestamps = false;
    int64_t StartTime = NoTime;  // microseconds
    int64_t Duration = NoTime;   // microseconds; also the task's progress total
    kavel::StreamInfo StreamInfo;
    int TargetType = 0;         // 0 none, 1 "vcd", 2 "svcd", 3 "dvd"
    int TargetNorm = 0;         // 0 auto, 1 pal, 2 ntsc; other values auto
    int TargetDefaultNorm = 1;  // 1 pal, other values ntsc
    bool CustomHook = false;    // offer every decoded video frame to the custom hook
    bool Join = false;          // write all inputs one after another into this output
    std::string ExtOptions;     // extended options text
    int Reserved1 = 0;          // not read by the engine
    int Reserved2 = 0;
};

// Every field to its default.
void InitInputOptions(InputOptions& record);
void InitOutputOptions(OutputOptions& record);

struct OptionLine {
    std::string Name;  // lower case
    std::string Value;
};

// The lines of an extended options text: trimmed, line breaks and the
// literal "<CRLF>" turned into line feeds, each line split at its first "="
// (the whole line is the name when it has none), names in lower case,
// values unchanged.
std::vector<OptionLine> ExtendedOptionLines(const std::string& text);

// The creation time of an output in whole seconds since 1970 UTC for a
// date-time in local time (days since 30 December 1899); 0 = now.
// localOffsetDays is the local zone's offset from UTC in days.
int64_t TimestampSeconds(double dateTime, double localOffsetDays);
// The same with the system's current zone offset.
int64_t TimestampSeconds(double dateTime);
// The system's current offset of local time from UTC, in days.
double LocalOffsetDays();

// The input walker of AddTask: fills record->FileName from fileName when it
// is empty, applies the record's options (none when record is null) and
// opens the input. Runs on the caller's thread. Throws FFmpegException with
// the text for the last error when an option is rejected or the input does
// not open; options applied before the failure stay applied.
void ApplyInputRecord(OptionParser& parser, InputOptions* record, const std::string& fileName);

// The output walker of SetOutputFile: fills record->FileName when empty,
// applies the record's options (none when record is null), opens the output
// and then adds the streams asked for by "newaudio" / "newvideo" /
// "newsubtitle" lines. Returns the output's index. Throws FFmpegException on
// failure; when the output itself fails to open, *record is reset to its
// defaults first.
int ApplyOutputRecord(OptionParser& parser, OutputOptions* record, const std::string& fileName);

}  // namespace kavel
