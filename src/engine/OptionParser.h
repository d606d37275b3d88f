#pragma once

// The single option entry point of a transcode task. Every setting reaches
// the transcoder as a named option with a text value; set-option dispatches
// it through a table of names to handlers and hands every name without a
// handler to the libraries' own named options (generic-option).
//
// Threads: one parser per task, used on the thread that adds the task's
// files. Failures raise FFmpegException; nothing applied before the failing
// option is rolled back.

#include <string>

#include "engine/TranscoderState.h"

namespace kavel {

enum class TargetNorm { Pal, Ntsc, Film, Auto };

class OptionParser {
public:
    OptionParser(TranscoderState& state, TranscoderFiles& files);

    TranscoderState& State() { return state_; }
    TranscoderFiles& Files() { return files_; }

    // Applies one option. The name is compared exactly (callers pass lower
    // case). Throws FFmpegException with the option's message when the value
    // is rejected; an unknown name changes nothing and raises nothing.
    void SetOption(const std::string& name, const std::string& value);

    // The libraries' named options: the generic codec options of each media
    // kind, the container's, the scaler's, and the private options of the
    // encoder chosen for a kind (and of a forced muxer). Legacy names and
    // values are translated first. Returns false, silently, when no option
    // set knows the name or the name or value is blank; false after logging
    // "Invalid value ..." when the value is rejected. Known options are kept
    // in State().Generic for the set-up to hand on.
    bool GenericOption(const std::string& name, const std::string& value);

    // kind is 'a', 'v', 's' or 'f'; an empty name does nothing. Throws
    // "Preset "%s" not found", the syntax error and the invalid-option error.
    void ApplyPreset(char kind, const std::string& name);

    // type "vcd", "svcd", "dvd", "dv" or "dv50"; the default norm decides when
    // norm is Auto and neither the frame rate nor the inputs do.
    void ApplyTarget(const std::string& type, TargetNorm norm, TargetNorm defaultNorm);

private:
    TranscoderState& state_;
    TranscoderFiles& files_;
};

}  // namespace kavel
