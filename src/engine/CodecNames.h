#pragma once

// Codec lookup by name. Stored profiles and option texts name encoders of an
// older library generation; names this FFmpeg lacks (or marks experimental
// while a mature one exists) resolve to their successor here, wherever an
// encoder or decoder is looked up by name.

#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace kavel {

// The name the library is asked for: the successor of a legacy name when the
// named codec is missing or experimental and the successor exists, else the
// name itself. "libfaac" -> "aac", "libflac" -> "flac", "vorbis" -> "libvorbis".
std::string EncoderName(const std::string& name);
std::string DecoderName(const std::string& name);

// The codec for name after the translation above, or nullptr.
const AVCodec* FindEncoder(const std::string& name);
const AVCodec* FindDecoder(const std::string& name);

// The checked lookup of a forced decoder or an encoder: throws FFmpegException
// "Unknown %s '%s'" when there is none, "Invalid %s type '%s'" when it is of
// another media type, and the experimental refusal when the codec is
// experimental and strictness (the "strict" option) is above experimental.
// The messages name the codec as given.
const AVCodec* LookupCodec(const std::string& name, AVMediaType type, bool encoder, int strictness);

}  // namespace kavel
