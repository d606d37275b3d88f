#pragma once

// The built-in encoder presets and the reading of preset texts. A preset text
// is a list of "name=value" lines; OptionParser applies it line by line.

#include <string>
#include <string_view>
#include <vector>

namespace kavel {

struct BuiltinPreset {
    std::string Name;
    std::string Text;  // LF-separated "name=value" lines
};

// The 40 built-in presets in table order.
const std::vector<BuiltinPreset>& BuiltinPresets();

// The text of the built-in preset called name (any letter case), or nullptr.
const std::string* FindBuiltinPreset(std::string_view name);

// The text of a preset for the option kind ('a', 'v', 's' or 'f'). Except for
// 'f', the built-in table is searched for name, then for codecName + "-" +
// name when codecName is not empty; otherwise (and always for 'f') name is a
// file whose whole content is the text. Throws FFmpegException
// "Preset "%s" not found" when the file cannot be read.
std::string PresetText(char kind, const std::string& name, const std::string& codecName);

// True when a preset for the option kind resolves to a built-in preset of
// the libx264 family (searched as PresetText searches the table).
bool IsLibx264Preset(char kind, const std::string& name, const std::string& codecName);

// One setting that the library generation the libx264 presets were written
// for left at its own default where today's libx264 chooses otherwise: the
// line in the presets' vocabulary, and the option today's library knows it by.
struct LegacyDefault {
    const char* Name;
    const char* Value;
    const char* CurrentName;
};

// No B-frames, one reference frame, CAVLC, no 8x8 transform, no weighted
// prediction, no mixed references, no B-pyramid. Applied before the lines of
// a libx264 preset, each unless something set its option already (an earlier
// preset of a combination), so that only what a line asks for is switched on.
const std::vector<LegacyDefault>& Libx264LegacyDefaults();

// The lines of a preset text: trimmed, line breaks normalised, each line
// trimmed, empty lines left out.
std::vector<std::string> PresetLines(const std::string& text);

}  // namespace kavel
