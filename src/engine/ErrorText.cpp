#include "engine/ErrorText.h"

#include <cerrno>
#include <cstdio>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/error.h>
}

namespace kavel {

namespace {

struct ErrorTextEntry {
    int code;
    const char* text;
};

// The codes of this FFmpeg that carry each meaning of the engine's table; EINVAL is kept beside
// AVERROR_INVALIDDATA because older libraries reported bad input with it.
const ErrorTextEntry ErrorTexts[] = {
    {AVERROR_PATCHWELCOME, "Not yet implemented in FFmpeg"},
    {AVERROR_PROTOCOL_NOT_FOUND, "Unsupported network protocol"},
    {AVERROR(EPROTONOSUPPORT), "Unsupported network protocol"},
    {AVERROR_DEMUXER_NOT_FOUND, "Unknown format"},
    {AVERROR_MUXER_NOT_FOUND, "Unknown format"},
    {AVERROR(EILSEQ), "Unknown format"},
    {AVERROR(EDOM), "Number syntax expected in filename"},
    {AVERROR_EOF, "End of file"},
    {AVERROR_INVALIDDATA, "Invalid data found when processing input"},
    {AVERROR(EINVAL), "Invalid data found when processing input"},
    {AVERROR(ENOMEM), "Not enough memory"},
    {AVERROR(EIO), "I/O error"},
    {AVERROR(ENOENT), "No such file or directory"},
};

}  // namespace

std::string ErrorText(int code) {
    for (const ErrorTextEntry& entry : ErrorTexts) {
        if (entry.code == code) {
            return entry.text;
        }
    }
    char text[64];
    std::snprintf(text, sizeof text, "Error number %d occurred", code);
    return text;
}

std::string ErrorText(const std::string& prefix, int code) {
    return prefix + ": " + ErrorText(code);
}

std::string MediaTypeName(int mediaType) {
    switch (mediaType) {
    case AVMEDIA_TYPE_VIDEO:
        return "Video";
    case AVMEDIA_TYPE_AUDIO:
        return "Audio";
    case AVMEDIA_TYPE_DATA:
        return "Data";
    case AVMEDIA_TYPE_SUBTITLE:
        return "Subtitle";
    case AVMEDIA_TYPE_ATTACHMENT:
        return "Attachment";
    default:
        return "Unknown";
    }
}

std::string TimeText(int64_t microseconds) {
    if (microseconds == AV_NOPTS_VALUE) {
        return "N/A";
    }
    const bool negative = microseconds < 0;
    // Magnitude as unsigned so the most negative value does not overflow.
    const uint64_t value = negative ? 0 - static_cast<uint64_t>(microseconds) : microseconds;
    const uint64_t milliseconds = value / 1000;
    const uint64_t seconds = milliseconds / 1000;
    char text[64];
    std::snprintf(text, sizeof text, "%s%.2d:%.2d:%.2d.%.3d", negative ? "-" : "",
                  static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                  static_cast<int>(seconds % 60), static_cast<int>(milliseconds % 1000));
    return text;
}

}  // namespace kavel
