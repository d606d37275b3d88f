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

// The lines of a preset text: trimmed, line breaks normalised, each line
// trimmed, empty lines left out.
std::vector<std::string> PresetLines(const std::string& text);

}  // namespace kavel
