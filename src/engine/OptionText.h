#pragma once

// Text helpers shared by the option records, the option parser and the presets.

#include <string>
#include <string_view>
#include <vector>

namespace kavel {

// Removes blanks and control characters (every byte up to ' ') from both ends.
std::string TrimText(std::string_view text);
// ASCII lower case; other bytes unchanged.
std::string LowerText(std::string_view text);
bool SameTextIgnoringCase(std::string_view a, std::string_view b);
// CR LF, lone CR and lone LF all become LF.
std::string NormaliseLineBreaks(std::string_view text);
// Splits at LF; a trailing LF gives no empty last line.
std::vector<std::string> SplitLines(std::string_view text);

// Strict conversions in the manner of the platform's: the whole text (after
// trimming blanks) must be the number. Throw FFmpegException
// "'%s' is not a valid integer value" / "'%s' is not a valid floating point value".
int ParseInteger(const std::string& text);
int64_t ParseInteger64(const std::string& text);
double ParseFloat(const std::string& text);

}  // namespace kavel
