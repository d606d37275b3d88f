#pragma once

// Small helpers shared by the transcoder's files.

#include <cstdint>
#include <string>

#include "engine/TranscoderState.h"

namespace kavel {

// printf into a std::string.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Sets every (name, value) of list on a library object (codec context, format context, scaler),
// its private options included. Names the object does not know are left unused.
void ApplyOptions(void* object, const OptionList& list);

// The "strict" setting gathered for a media kind (0 = normal when none was set).
int Strictness(const TranscoderState& state, AVMediaType kind);

// The generic codec options of a media kind (empty for kinds outside the five).
const OptionList& CodecOptions(const TranscoderState& state, AVMediaType kind);

// Wall clock in microseconds.
int64_t WallClock();

}  // namespace kavel
