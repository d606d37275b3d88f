#include "engine/LegacyOptions.h"

#include <string_view>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

namespace kavel {

namespace {

struct FlagToken {
    char Sign = 0;  // '+', '-' or 0 when the token had none
    std::string Name;
};

std::vector<FlagToken> SplitFlags(const std::string& value) {
    std::vector<FlagToken> tokens;
    FlagToken current;
    auto flush = [&] {
        if (!current.Name.empty())
            tokens.push_back(current);
        current = FlagToken();
    };
    for (char c : value) {
        if (c == '+' || c == '-') {
            flush();
            current.Sign = c;
        } else if (c != ' ') {
            current.Name += c;
        }
    }
    flush();
    return tokens;
}

bool IsOn(const FlagToken& token) {
    return token.Sign != '-';
}

// A flag constant of today's generic codec options.
bool KnownFlag(const std::string& unit, const std::string& name) {
    const AVClass* codecClass = avcodec_get_class();
    return av_opt_find(&codecClass, name.c_str(), unit.c_str(), 0, AV_OPT_SEARCH_FAKE_OBJ) !=
           nullptr;
}

// A legacy flag that became a private option; OnValue / OffValue are its
// values. A private option name starting with "+" marks a flag-list option.
struct FlagSuccessor {
    std::string_view Flag;
    std::string_view Option;
    std::string_view OnValue;
    std::string_view OffValue;
};

constexpr FlagSuccessor FlagsSuccessors[] = {
    {"scan_offset", "scan_offset", "1", "0"},
    {"gmc", "gmc", "1", "0"},
    {"obmc", "obmc", "1", "0"},
    {"part", "data_partitioning", "1", "0"},
    {"umv", "umv", "1", "0"},
    {"aiv", "aiv", "1", "0"},
    {"slice", "structured_slices", "1", "0"},
    {"alt", "alternate_scan", "1", "0"},
    {"mv0", "mpv_flags", "+mv0", "-mv0"},
    {"naq", "mpv_flags", "+naq", "-naq"},
    {"cbp", "mpv_flags", "+cbp_rd", "-cbp_rd"},
    {"qprd", "mpv_flags", "+qp_rd", "-qp_rd"},
};

constexpr FlagSuccessor Flags2Successors[] = {
    {"bpyramid", "b-pyramid", "normal", "none"},
    {"wpred", "weightb", "1", "0"},
    {"mixed_refs", "mixed-refs", "1", "0"},
    {"dct8x8", "8x8dct", "1", "0"},
    {"fastpskip", "fast-pskip", "1", "0"},
    {"mbtree", "mbtree", "1", "0"},
    {"aud", "aud", "1", "0"},
    {"psy", "psy", "1", "0"},
    {"ssim", "ssim", "1", "0"},
    {"intra_refresh", "intra-refresh", "1", "0"},
    {"non_linear_q", "non_linear_quant", "1", "0"},
    {"drop_frame_timecode", "drop_frame_timecode", "1", "0"},
    {"reservoir", "reservoir", "1", "0"},
    {"skiprd", "mpv_flags", "+skip_rd", "-skip_rd"},
};

// Flags that still exist but no longer reach every encoder that once read
// them: libx264 takes its loop filter from its own option now.
constexpr FlagSuccessor SharedFlags[] = {
    {"loop", "deblock", "true", "false"},
};

// A flag list ("+loop-mv4", "fast") where some flags no longer exist: the
// ones that do stay in the generic list, the others become their successors.
template <size_t N>
std::optional<std::vector<LibraryOption>> TranslateFlags(const std::string& unit,
                                                         const std::string& value,
                                                         const FlagSuccessor (&successors)[N]) {
    const std::vector<FlagToken> tokens = SplitFlags(value);
    bool translate = false;
    for (const FlagToken& token : tokens) {
        if (!KnownFlag(unit, token.Name))
            translate = true;
        for (const FlagSuccessor& shared : SharedFlags)
            if (unit == "flags" && shared.Flag == token.Name)
                translate = true;
    }
    if (!translate)
        return std::nullopt;

    std::vector<LibraryOption> result;
    std::string generic;
    auto addSuccessor = [&](const FlagSuccessor& successor, const FlagToken& token) {
        result.push_back({std::string(successor.Option),
                          std::string(IsOn(token) ? successor.OnValue : successor.OffValue)});
    };
    for (const FlagToken& token : tokens) {
        if (KnownFlag(unit, token.Name)) {
            if (token.Sign)
                generic += token.Sign;
            else if (!generic.empty())
                generic += '+';
            generic += token.Name;
            if (unit == "flags")
                for (const FlagSuccessor& shared : SharedFlags)
                    if (shared.Flag == token.Name)
                        addSuccessor(shared, token);
            continue;
        }
        for (const FlagSuccessor& successor : successors)
            if (successor.Flag == token.Name)
                addSuccessor(successor, token);
    }
    if (!generic.empty())
        result.insert(result.begin(), {unit, generic});
    return result;
}

// Old partition flags and libx264's names for them.
struct PartitionName {
    std::string_view Legacy;
    std::string_view Current;
    unsigned Bit;
};

constexpr PartitionName PartitionNames[] = {
    {"parti4x4", "i4x4", 1u << 0}, {"parti8x8", "i8x8", 1u << 1}, {"partp4x4", "p4x4", 1u << 2},
    {"partp8x8", "p8x8", 1u << 3}, {"partb8x8", "b8x8", 1u << 4},
};

std::optional<std::vector<LibraryOption>> TranslatePartitions(const std::string& value,
                                                              unsigned& partitions) {
    const std::vector<FlagToken> tokens = SplitFlags(value);
    if (tokens.empty() || tokens.front().Name.rfind("part", 0) != 0)
        return std::nullopt;
    // A list that starts without a sign replaces the set, as a flag list does.
    if (tokens.front().Sign == 0)
        partitions = 0;
    for (const FlagToken& token : tokens) {
        for (const PartitionName& partition : PartitionNames) {
            if (partition.Legacy != token.Name)
                continue;
            if (IsOn(token))
                partitions |= partition.Bit;
            else
                partitions &= ~partition.Bit;
        }
    }
    std::string list;
    for (const PartitionName& partition : PartitionNames) {
        if (!(partitions & partition.Bit))
            continue;
        if (!list.empty())
            list += ',';
        list += partition.Current;
    }
    return std::vector<LibraryOption>{{"partitions", list.empty() ? "none" : list}};
}

// Old motion-estimation methods, as libx264 and the MPEG video encoders name
// the nearest method they have.
struct MotionMethod {
    std::string_view Legacy;
    std::string_view X264;
    std::string_view Mpeg;
};

constexpr MotionMethod MotionMethods[] = {
    {"zero", "dia", "zero"}, {"full", "esa", "epzs"},  {"epzs", "dia", "epzs"},
    {"esa", "esa", "epzs"},  {"tesa", "tesa", "epzs"}, {"dia", "dia", "epzs"},
    {"log", "dia", "epzs"},  {"phods", "dia", "epzs"}, {"x1", "hex", "xone"},
    {"hex", "hex", "epzs"},  {"umh", "umh", "epzs"},   {"iter", "umh", "epzs"},
};

std::vector<LibraryOption> TranslateMotionMethod(const std::string& value) {
    for (const MotionMethod& method : MotionMethods)
        if (method.Legacy == value)
            return {{"motion-est", std::string(method.X264)},
                    {"motion_est", std::string(method.Mpeg)}};
    return {};
}

// Renamed options whose values kept their meaning.
struct Rename {
    std::string_view Legacy;
    std::string_view Current;
};

constexpr Rename Renames[] = {
    {"directpred", "direct-pred"},
    {"wpredp", "weightp"},
    {"cqp", "qp"},
    {"rc_lookahead", "rc-lookahead"},
    {"aq_mode", "aq-mode"},
    {"aq_strength", "aq-strength"},
    {"psy_rd", "psy-rd"},
    {"bframebias", "b-bias"},
    {"nr", "noise_reduction"},
};

// Old generic options that today are private options under the same name.
constexpr std::string_view PrivateNow[] = {
    "coder",        "sc_threshold", "b_strategy", "crf",   "crf_max",
    "chromaoffset", "me_method",    "partitions", "flags", "flags2",
};

constexpr std::string_view VideoOnly[] = {"b", "bt", "maxrate", "minrate", "bufsize"};

}  // namespace

std::optional<std::vector<LibraryOption>> TranslateLegacyOption(const std::string& name,
                                                                const std::string& value,
                                                                unsigned& partitions) {
    if (name == "flags")
        return TranslateFlags("flags", value, FlagsSuccessors);
    if (name == "flags2")
        return TranslateFlags("flags2", value, Flags2Successors);
    if (name == "partitions")
        return TranslatePartitions(value, partitions);
    if (name == "me_method")
        return TranslateMotionMethod(value);
    for (const Rename& rename : Renames)
        if (rename.Legacy == name)
            return std::vector<LibraryOption>{{std::string(rename.Current), value}};
    // Old deblocking strengths have no one-to-one successor.
    if (name == "deblockalpha" || name == "deblockbeta")
        return std::vector<LibraryOption>{};
    return std::nullopt;
}

bool IsLegacyCodecOption(const std::string& name) {
    for (std::string_view legacy : PrivateNow)
        if (legacy == name)
            return true;
    for (const Rename& rename : Renames)
        if (rename.Current == name)
            return true;
    for (const FlagSuccessor& successor : FlagsSuccessors)
        if (successor.Option == name)
            return true;
    for (const FlagSuccessor& successor : Flags2Successors)
        if (successor.Option == name)
            return true;
    for (const FlagSuccessor& shared : SharedFlags)
        if (shared.Option == name)
            return true;
    return name == "motion-est" || name == "motion_est";
}

bool IsVideoOnlyOption(const std::string& name) {
    for (std::string_view video : VideoOnly)
        if (video == name)
            return true;
    return false;
}

bool IsLegacyFormatOption(const std::string& name) {
    return name == "muxrate";
}

}  // namespace kavel
