#pragma once

// Disc and camcorder targets: "vcd", "svcd", "dvd", "dv" and "dv50" set the
// codecs, container, picture and rates those media require, for PAL, NTSC or
// film material. OptionParser::ApplyTarget applies them.

#include "engine/OptionParser.h"
#include "engine/TranscoderState.h"

namespace kavel {

// The norm of the material when none was asked for: from the current frame
// rate (23.976 or 29.97 -> NTSC, 25 -> PAL), else from the first video stream
// of the opened inputs that has one of those rates, else defaultNorm (Film,
// Ntsc, anything else Pal). Throws FFmpegException "frame_rate is invalid."
// when the frame rate has a zero denominator.
TargetNorm DetectTargetNorm(const TranscoderState& state, TargetNorm defaultNorm);

}  // namespace kavel
