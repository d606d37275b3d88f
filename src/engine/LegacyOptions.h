#pragma once

// Translation of codec option names and flag values of the older library
// generation (as found in the built-in presets and in stored option texts)
// into the options that carry the same meaning on this FFmpeg, mostly the
// private options of libx264 and of the MPEG video encoders.

#include <optional>
#include <string>
#include <vector>

namespace kavel {

struct LibraryOption {
    std::string Name;
    std::string Value;
};

// nullopt when name=value is today's vocabulary already. Otherwise the
// options to set instead, possibly none (a legacy setting with no successor
// is dropped). partitions carries the "+parti8x8"-style partition set
// between calls so that each list adds to or removes from the last one.
std::optional<std::vector<LibraryOption>> TranslateLegacyOption(const std::string& name,
                                                                const std::string& value,
                                                                unsigned& partitions);

// True for names that the older generation knew as generic codec options and
// that live on today only as private options of some encoders (or as nothing):
// such an option is not an error when the chosen encoder lacks it.
bool IsLegacyCodecOption(const std::string& name);

// True for generic options that the older generation applied to video only;
// today's library shares them with audio ("b" would set the audio bit rate).
bool IsVideoOnlyOption(const std::string& name);

// Muxer options that the older generation had on every container and that
// live on today as private options of some muxers ("muxrate").
bool IsLegacyFormatOption(const std::string& name);

}  // namespace kavel
