#pragma once

#include <cstdint>
#include <string>

namespace kavel {

// The engine's own text for a negative library error code, e.g. "End of file" for AVERROR_EOF;
// "Error number %d occurred" for codes it has no text for.
std::string ErrorText(int code);

// prefix + ": " + ErrorText(code), e.g. "in.avi: No such file or directory".
std::string ErrorText(const std::string& prefix, int code);

// Name of a media type in messages: 0 "Video", 1 "Audio", 2 "Data", 3 "Subtitle",
// 4 "Attachment", anything else "Unknown" (AVMEDIA_TYPE_* values).
std::string MediaTypeName(int mediaType);

// A time in microseconds as "%.2d:%.2d:%.2d.%.3d" (hours, minutes, seconds, milliseconds);
// "N/A" for AV_NOPTS_VALUE. Negative times get a leading "-".
std::string TimeText(int64_t microseconds);

}  // namespace kavel
