#include "engine/Presets.h"

#include <fstream>
#include <sstream>

#include "engine/FFmpegException.h"
#include "engine/OptionText.h"

namespace kavel {

namespace {

// Partition sets of the speed presets.
constexpr const char* PartitionsA = "+parti8x8+parti4x4+partp8x8+partb8x8";
constexpr const char* PartitionsB = "-parti8x8-parti4x4-partp8x8-partb8x8";
constexpr const char* PartitionsC = "-parti8x8-parti4x4-partp8x8-partp4x4-partb8x8";
constexpr const char* PartitionsD = "+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8";
constexpr const char* PartitionsE = "+parti8x8+parti4x4-partp8x8-partb8x8";

// The values in which the speed presets differ; the other lines are common.
struct SpeedPreset {
    const char* Name;
    const char* Coder;
    const char* Flags;
    const char* Partitions;
    const char* MeMethod;
    const char* Subq;
    const char* MeRange;
    const char* ScThreshold;
    const char* BStrategy;
    const char* Bf;
    const char* Refs;
    const char* DirectPred;
    const char* Trellis;
    const char* Flags2;
    const char* Wpredp;
};

// clang-format off
constexpr SpeedPreset SpeedPresets[] = {
    {"libx264-default", "1", "+loop", PartitionsA, "hex", "7", "16", "40", "1", "3", "3", "1", "1", "+mixed_refs+wpred+dct8x8+fastpskip", "2"},
    {"libx264-fast", "1", "+loop", PartitionsA, "hex", "6", "16", "40", "1", "3", "2", "1", "1", "+bpyramid+mixed_refs+wpred+dct8x8+fastpskip", "2"},
    {"libx264-fast_firstpass", "1", "+loop", PartitionsB, "dia", "2", "16", "40", "1", "3", "1", "1", "0", "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip", "2"},
    {"libx264-faster", "1", "+loop", PartitionsA, "hex", "4", "16", "40", "1", "3", "2", "1", "1", "+bpyramid-mixed_refs+wpred+dct8x8+fastpskip", "1"},
    {"libx264-faster_firstpass", "1", "+loop", PartitionsB, "dia", "2", "16", "40", "1", "3", "1", "1", "0", "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip", "1"},
    {"libx264-fastfirstpass", "1", "+loop", PartitionsC, "dia", "2", "16", "40", "1", "3", "1", "3", "0", "-bpyramid-wpred-mixed_refs-dct8x8+fastpskip", "2"},
    {"libx264-hq", "1", "+loop", PartitionsA, "umh", "8", "16", "40", "2", "3", "4", "3", "1", "+wpred+mixed_refs+dct8x8+fastpskip", "2"},
    {"libx264-max", "1", "+loop", PartitionsD, "tesa", "10", "24", "40", "2", "3", "16", "3", "2", "+wpred+mixed_refs+dct8x8-fastpskip", "2"},
    {"libx264-medium", "1", "+loop", PartitionsA, "hex", "7", "16", "40", "1", "3", "3", "1", "1", "+bpyramid+mixed_refs+wpred+dct8x8+fastpskip", "2"},
    {"libx264-normal", "1", "+loop", PartitionsA, "hex", "6", "16", "40", "1", "3", "2", "3", "0", "+wpred+dct8x8+fastpskip", "2"},
    {"libx264-placebo", "1", "+loop", PartitionsD, "tesa", "10", "24", "40", "2", "16", "16", "3", "2", "+bpyramid+mixed_refs+wpred+dct8x8-fastpskip", "2"},
    {"libx264-slow", "1", "+loop", PartitionsA, "umh", "8", "16", "40", "2", "3", "5", "3", "1", "+bpyramid+mixed_refs+wpred+dct8x8+fastpskip", "2"},
    {"libx264-slow_firstpass", "1", "+loop", PartitionsB, "dia", "2", "16", "40", "2", "3", "1", "3", "0", "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip", "2"},
    {"libx264-slower", "1", "+loop", PartitionsD, "umh", "9", "16", "40", "2", "3", "8", "3", "2", "+bpyramid+mixed_refs+wpred+dct8x8+fastpskip", "2"},
    {"libx264-slowfirstpass", "1", "+loop", PartitionsA, "hex", "6", "16", "40", "2", "3", "1", "3", "0", "+wpred+dct8x8+fastpskip", "2"},
    {"libx264-superfast", "1", "+loop", PartitionsE, "dia", "1", "16", "40", "1", "3", "1", "1", "0", "+bpyramid-mixed_refs+wpred+dct8x8+fastpskip-mbtree", "0"},
    {"libx264-superfast_firstpass", "1", "+loop", PartitionsB, "dia", "1", "16", "40", "1", "3", "1", "1", "0", "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip-mbtree", "0"},
    {"libx264-ultrafast", "0", "-loop", PartitionsB, "dia", "0", "16", "0", "0", "0", "1", "1", "0", "-bpyramid-mixed_refs-wpred-dct8x8+fastpskip-mbtree", "0"},
    {"libx264-veryfast", "1", "+loop", PartitionsA, "hex", "2", "16", "40", "1", "3", "1", "1", "0", "+bpyramid-mixed_refs+wpred+dct8x8+fastpskip-mbtree", "0"},
    {"libx264-veryfast_firstpass", "1", "+loop", PartitionsB, "dia", "2", "16", "40", "1", "3", "1", "1", "0", "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip-mbtree", "0"},
    {"libx264-veryslow", "1", "+loop", PartitionsD, "umh", "10", "24", "40", "2", "8", "16", "3", "2", "+bpyramid+mixed_refs+wpred+dct8x8+fastpskip", "2"},
    {"libx264-veryslow_firstpass", "1", "+loop", PartitionsB, "dia", "2", "24", "40", "2", "8", "1", "3", "0", "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip", "2"},
};

// The lossless presets; an empty value means the line is absent.
struct LosslessPreset {
    const char* Name;
    const char* Coder;
    const char* Partitions;
    const char* MeMethod;
    const char* Subq;
    const char* Refs;
    const char* Flags2;
    const char* Wpredp;
};

constexpr LosslessPreset LosslessPresets[] = {
    {"libx264-lossless_fast", "0", "-parti8x8+parti4x4+partp8x8-partp4x4-partb8x8", "hex", "3", "", "+fastpskip", "0"},
    {"libx264-lossless_max", "1", "+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8", "esa", "8", "16", "+mixed_refs+dct8x8+fastpskip", "2"},
    {"libx264-lossless_medium", "1", "-parti8x8+parti4x4+partp8x8+partp4x4-partb8x8", "hex", "5", "", "+fastpskip", "2"},
    {"libx264-lossless_slow", "1", "+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8", "umh", "6", "2", "+dct8x8+fastpskip", "2"},
    {"libx264-lossless_slower", "1", "+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8", "umh", "8", "4", "+mixed_refs+dct8x8+fastpskip", "2"},
    {"libx264-lossless_ultrafast", "0", "-parti8x8-parti4x4-partp8x8-partp4x4-partb8x8", "dia", "0", "", "+fastpskip", ""},
};
// clang-format on

// Builds an option text from (name, value) pairs, leaving out empty values.
class TextBuilder {
public:
    TextBuilder& Add(const char* name, const char* value) {
        if (*value == '\0')
            return *this;
        if (!text_.empty())
            text_ += '\n';
        text_ += name;
        text_ += '=';
        text_ += value;
        return *this;
    }
    std::string Text() const { return text_; }

private:
    std::string text_;
};

std::string SpeedText(const SpeedPreset& p) {
    return TextBuilder()
        .Add("coder", p.Coder)
        .Add("flags", p.Flags)
        .Add("cmp", "+chroma")
        .Add("partitions", p.Partitions)
        .Add("me_method", p.MeMethod)
        .Add("subq", p.Subq)
        .Add("me_range", p.MeRange)
        .Add("g", "250")
        .Add("keyint_min", "25")
        .Add("sc_threshold", p.ScThreshold)
        .Add("i_qfactor", "0.71")
        .Add("b_strategy", p.BStrategy)
        .Add("qcomp", "0.6")
        .Add("qmin", "10")
        .Add("qmax", "51")
        .Add("qdiff", "4")
        .Add("bf", p.Bf)
        .Add("refs", p.Refs)
        .Add("directpred", p.DirectPred)
        .Add("trellis", p.Trellis)
        .Add("flags2", p.Flags2)
        .Add("wpredp", p.Wpredp)
        .Text();
}

std::string LosslessText(const LosslessPreset& p) {
    return TextBuilder()
        .Add("coder", p.Coder)
        .Add("flags", "+loop")
        .Add("cmp", "+chroma")
        .Add("partitions", p.Partitions)
        .Add("me_method", p.MeMethod)
        .Add("subq", p.Subq)
        .Add("me_range", "16")
        .Add("g", "250")
        .Add("keyint_min", "25")
        .Add("sc_threshold", "40")
        .Add("i_qfactor", "0.71")
        .Add("b_strategy", "1")
        .Add("qcomp", "0.6")
        .Add("qmin", "10")
        .Add("qmax", "51")
        .Add("qdiff", "4")
        .Add("refs", p.Refs)
        .Add("directpred", "1")
        .Add("flags2", p.Flags2)
        .Add("cqp", "0")
        .Add("wpredp", p.Wpredp)
        .Text();
}

// The portable-player presets differ from the PSP one in a few lines.
struct DevicePreset {
    const char* Name;
    const char* Coder;
    const char* Partitions;
    const char* Bf;
    const char* Bitrate;
    const char* MaxRate;
};

constexpr DevicePreset PspPreset{"libx264-psp", "1",       "+parti4x4+parti8x8+partp8x8+partb8x8",
                                 "3",           "1250000", "1500000"};
constexpr DevicePreset Ps3Preset{"libx264-ps3", "1", "+parti4x4+parti8x8+partp8x8+partb8x8",
                                 "3",           "",  "3500000"};
constexpr DevicePreset IpodPreset{"libx264-ipod", "0",      "+parti4x4+parti8x8+partp8x8", "",
                                  "1000000",      "1250000"};

std::string DeviceText(const DevicePreset& p) {
    return TextBuilder()
        .Add("coder", p.Coder)
        .Add("flags", "+loop")
        .Add("level", "30")
        .Add("cmp", "+chroma")
        .Add("partitions", p.Partitions)
        .Add("me_method", "umh")
        .Add("subq", "7")
        .Add("me_range", "16")
        .Add("g", "250")
        .Add("keyint_min", "25")
        .Add("sc_threshold", "40")
        .Add("i_qfactor", "0.71")
        .Add("b_strategy", "1")
        .Add("qcomp", "0.6")
        .Add("qmin", "10")
        .Add("qmax", "51")
        .Add("qdiff", "4")
        .Add("bf", p.Bf)
        .Add("refs", "1")
        .Add("directpred", "1")
        .Add("trellis", "2")
        .Add("b", p.Bitrate)
        .Add("maxrate", p.MaxRate)
        .Add("bufsize", "4000000")
        .Add("bt", "256000")
        .Add("sc_threshold", "40")
        .Text();
}

const char* const BaselineText = "coder=0\nbf=0\nflags2=-wpred-dct8x8\nwpredp=0";
const char* const MainText = "flags2=-dct8x8";
const char* const Ipod320Text =
    "coder=0\nbf=0\nflags2=-wpred-dct8x8\nlevel=13\nmaxrate=768000\nbufsize=3000000\nwpredp=0";
const char* const Ipod640Text =
    "coder=0\nbf=0\nrefs=1\nflags2=-wpred-dct8x8\nlevel=30\nmaxrate=10000000\nbufsize=10000000\n"
    "wpredp=0";

std::string SpeedTextOf(std::string_view name) {
    for (const SpeedPreset& preset : SpeedPresets)
        if (name == preset.Name)
            return SpeedText(preset);
    return {};
}

std::string LosslessTextOf(std::string_view name) {
    for (const LosslessPreset& preset : LosslessPresets)
        if (name == preset.Name)
            return LosslessText(preset);
    return {};
}

std::vector<BuiltinPreset> MakeBuiltinPresets() {
    // Table order; presets that share another's text name that one.
    const std::pair<const char*, std::string> table[] = {
        {"libx264-baseline", BaselineText},
        {"libx264-default", SpeedTextOf("libx264-default")},
        {"libx264-fast", SpeedTextOf("libx264-fast")},
        {"libx264-fast_firstpass", SpeedTextOf("libx264-fast_firstpass")},
        {"libx264-faster", SpeedTextOf("libx264-faster")},
        {"libx264-faster_firstpass", SpeedTextOf("libx264-faster_firstpass")},
        {"libx264-fastfirstpass", SpeedTextOf("libx264-fastfirstpass")},
        {"libx264-hq", SpeedTextOf("libx264-hq")},
        {"libx264-ipod320", Ipod320Text},
        {"libx264-ipod640", Ipod640Text},
        {"libx264-lossless_fast", LosslessTextOf("libx264-lossless_fast")},
        {"libx264-lossless_max", LosslessTextOf("libx264-lossless_max")},
        {"libx264-lossless_medium", LosslessTextOf("libx264-lossless_medium")},
        {"libx264-lossless_slow", LosslessTextOf("libx264-lossless_slow")},
        {"libx264-lossless_slower", LosslessTextOf("libx264-lossless_slower")},
        {"libx264-lossless_ultrafast", LosslessTextOf("libx264-lossless_ultrafast")},
        {"libx264-main", MainText},
        {"libx264-max", SpeedTextOf("libx264-max")},
        {"libx264-medium", SpeedTextOf("libx264-medium")},
        {"libx264-medium_firstpass", SpeedTextOf("libx264-fast_firstpass")},
        {"libx264-normal", SpeedTextOf("libx264-normal")},
        {"libx264-placebo", SpeedTextOf("libx264-placebo")},
        {"libx264-placebo_firstpass", SpeedTextOf("libx264-placebo")},
        {"libx264-slow", SpeedTextOf("libx264-slow")},
        {"libx264-slow_firstpass", SpeedTextOf("libx264-slow_firstpass")},
        {"libx264-slower", SpeedTextOf("libx264-slower")},
        {"libx264-slower_firstpass", SpeedTextOf("libx264-slow_firstpass")},
        {"libx264-slowfirstpass", SpeedTextOf("libx264-slowfirstpass")},
        {"libx264-superfast", SpeedTextOf("libx264-superfast")},
        {"libx264-superfast_firstpass", SpeedTextOf("libx264-superfast_firstpass")},
        {"libx264-ultrafast", SpeedTextOf("libx264-ultrafast")},
        {"libx264-ultrafast_firstpass", SpeedTextOf("libx264-ultrafast")},
        {"libx264-veryfast", SpeedTextOf("libx264-veryfast")},
        {"libx264-veryfast_firstpass", SpeedTextOf("libx264-veryfast_firstpass")},
        {"libx264-veryslow", SpeedTextOf("libx264-veryslow")},
        {"libx264-veryslow_firstpass", SpeedTextOf("libx264-veryslow_firstpass")},
        {"libx264-psp", DeviceText(PspPreset)},
        {"libx264-ps3", DeviceText(Ps3Preset)},
        {"libx264-ipod", DeviceText(IpodPreset)},
        {"libx264-mp4", DeviceText(PspPreset)},
    };
    std::vector<BuiltinPreset> presets;
    for (const auto& [name, text] : table) presets.push_back({name, text});
    return presets;
}

std::string ReadWholeFile(const std::string& fileName, bool& ok) {
    std::ifstream file(fileName, std::ios::binary);
    ok = static_cast<bool>(file);
    std::ostringstream content;
    if (ok)
        content << file.rdbuf();
    return content.str();
}

}  // namespace

const std::vector<BuiltinPreset>& BuiltinPresets() {
    static const std::vector<BuiltinPreset> presets = MakeBuiltinPresets();
    return presets;
}

const std::string* FindBuiltinPreset(std::string_view name) {
    for (const BuiltinPreset& preset : BuiltinPresets())
        if (SameTextIgnoringCase(preset.Name, name))
            return &preset.Text;
    return nullptr;
}

std::string PresetText(char kind, const std::string& name, const std::string& codecName) {
    if (kind != 'f') {
        if (const std::string* text = FindBuiltinPreset(name))
            return *text;
        if (!codecName.empty())
            if (const std::string* text = FindBuiltinPreset(codecName + "-" + name))
                return *text;
    }
    bool ok = false;
    std::string text = ReadWholeFile(name, ok);
    if (!ok)
        throw FFmpegException("Preset \"" + name + "\" not found");
    return text;
}

bool IsLibx264Preset(char kind, const std::string& name, const std::string& codecName) {
    if (kind == 'f')
        return false;
    auto isLibx264 = [](const std::string* text, std::string_view resolved) {
        return text && resolved.size() > 8 && SameTextIgnoringCase(resolved.substr(0, 8), "libx264-");
    };
    if (const std::string* text = FindBuiltinPreset(name))
        return isLibx264(text, name);
    if (codecName.empty())
        return false;
    const std::string prefixed = codecName + "-" + name;
    return isLibx264(FindBuiltinPreset(prefixed), prefixed);
}

const std::vector<LegacyDefault>& Libx264LegacyDefaults() {
    static const std::vector<LegacyDefault> defaults = {
        {"coder", "0", "coder"},
        {"bf", "0", "bf"},
        {"refs", "1", "refs"},
        {"flags2", "-dct8x8", "8x8dct"},
        {"flags2", "-wpred", "weightb"},
        {"wpredp", "0", "weightp"},
        {"flags2", "-mixed_refs", "mixed-refs"},
        {"flags2", "-bpyramid", "b-pyramid"},
    };
    return defaults;
}

std::vector<std::string> PresetLines(const std::string& text) {
    std::vector<std::string> lines;
    for (const std::string& line : SplitLines(NormaliseLineBreaks(TrimText(text)))) {
        std::string trimmed = TrimText(line);
        if (!trimmed.empty())
            lines.push_back(std::move(trimmed));
    }
    return lines;
}

}  // namespace kavel
