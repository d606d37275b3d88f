#include "engine/TranscoderHelpers.h"

#include <cstdarg>
#include <cstdio>

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/time.h>
}

namespace kavel {

std::string FormatText(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (length < static_cast<int>(sizeof buffer)) {
        return buffer;
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    va_start(args, format);
    std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    text.resize(static_cast<size_t>(length));
    return text;
}

void ApplyOptions(void* object, const OptionList& list) {
    if (!object) {
        return;
    }
    for (const auto& [name, value] : list) {
        av_opt_set(object, name.c_str(), value.c_str(), AV_OPT_SEARCH_CHILDREN);
    }
}

namespace {
const OptionList EmptyList;
}

const OptionList& CodecOptions(const TranscoderState& state, AVMediaType kind) {
    if (kind < 0 || kind >= MediaKindCount) {
        return EmptyList;
    }
    return state.Generic.Codec[kind];
}

int Strictness(const TranscoderState& state, AVMediaType kind) {
    if (kind >= 0 && kind < MediaKindCount && state.Generic.CodecObjects[kind]) {
        return state.Generic.CodecObjects[kind]->strict_std_compliance;
    }
    return 0;
}

int64_t WallClock() { return av_gettime(); }

}  // namespace kavel
