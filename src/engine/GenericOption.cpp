// generic-option: the fall-back of set-option to the libraries' own named
// options, with the translation of legacy names and values.

#include <algorithm>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

#include "engine/CodecNames.h"
#include "engine/EngineLogger.h"
#include "engine/LegacyOptions.h"
#include "engine/OptionParser.h"
#include "engine/OptionText.h"

namespace kavel {

namespace {

// The option flag each media kind's codec options are looked up with; 0
// (data, attachment) matches every codec option.
constexpr int KindFlags[MediaKindCount] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0,
                                           AV_OPT_FLAG_SUBTITLE_PARAM, 0};

enum class SetResult { Set, Unknown, Rejected };

// The value as the option object holds it now (flag lists accumulated).
std::string ReadBack(void* object, const std::string& name, const std::string& fallback) {
    uint8_t* text = nullptr;
    if (av_opt_get(object, name.c_str(), 0, &text) < 0 || !text)
        return fallback;
    std::string value(reinterpret_cast<char*>(text));
    av_free(text);
    return value;
}

// Flag-list values given in pieces ("+a", then "-b") are kept together.
void KeepPrivateOption(OptionList& list, const AVOption* option, const std::string& name,
                       const std::string& value) {
    const std::string* previous = FindListOption(list, name);
    const bool piece = !value.empty() && (value[0] == '+' || value[0] == '-');
    if (option->type == AV_OPT_TYPE_FLAGS && previous && piece)
        SetListOption(list, name, *previous + value);
    else
        SetListOption(list, name, value);
}

class LibraryOptions {
public:
    explicit LibraryOptions(TranscoderState& state) : state_(state), generic_(state.Generic) {}

    SetResult Set(const std::string& name, const std::string& value) {
        SetResult result = SetCodecOptions(name, value);
        if (result == SetResult::Unknown)
            result = SetObjectOption(generic_.FormatObject.get(), generic_.Format, name, value);
        if (result == SetResult::Unknown)
            result = SetObjectOption(generic_.ScalerObject.get(), generic_.Scaler, name, value);
        if (result == SetResult::Unknown)
            result = SetEncoderPrivateOption(name, value);
        if (result == SetResult::Unknown)
            result = SetMuxerPrivateOption(name, value);
        if (result == SetResult::Unknown)
            result = SetPrefixedOption(name, value);
        return result;
    }

    // A legacy option that no option set of today knows: kept for the video
    // encoder when none is chosen yet (it may be one that knows it), else
    // dropped, as the older generation ignored it for encoders without it.
    void KeepLegacy(const std::string& name, const std::string& value) {
        if (state_.VideoCodecName.empty() && !state_.VideoStreamCopy)
            SetListOption(generic_.Codec[AVMEDIA_TYPE_VIDEO], name, value);
    }

private:
    SetResult SetCodecOptions(const std::string& name, const std::string& value) {
        const bool videoOnly = IsVideoOnlyOption(name);
        bool matched = false;
        for (int kind = 0; kind < MediaKindCount; ++kind) {
            if (videoOnly && kind != AVMEDIA_TYPE_VIDEO)
                continue;
            // Found through the video option object with the kind's flag.
            if (!av_opt_find(generic_.CodecObjects[AVMEDIA_TYPE_VIDEO].get(), name.c_str(), nullptr,
                             KindFlags[kind], 0))
                continue;
            AVCodecContext* object = generic_.CodecObjects[kind].get();
            if (av_opt_set(object, name.c_str(), value.c_str(), 0) < 0)
                return SetResult::Rejected;
            SetListOption(generic_.Codec[kind], name, ReadBack(object, name, value));
            matched = true;
        }
        return matched ? SetResult::Set : SetResult::Unknown;
    }

    static SetResult SetObjectOption(void* object, OptionList& list, const std::string& name,
                                     const std::string& value) {
        if (!av_opt_find(object, name.c_str(), nullptr, 0, 0))
            return SetResult::Unknown;
        if (av_opt_set(object, name.c_str(), value.c_str(), 0) < 0)
            return SetResult::Rejected;
        SetListOption(list, name, ReadBack(object, name, value));
        return SetResult::Set;
    }

    SetResult SetEncoderPrivateOption(const std::string& name, const std::string& value) {
        const std::pair<AVMediaType, const std::string*> chosen[] = {
            {AVMEDIA_TYPE_VIDEO, &state_.VideoCodecName},
            {AVMEDIA_TYPE_AUDIO, &state_.AudioCodecName},
            {AVMEDIA_TYPE_SUBTITLE, &state_.SubtitleCodecName},
        };
        for (const auto& [kind, codecName] : chosen) {
            if (codecName->empty())
                continue;
            const AVCodec* codec = FindEncoder(*codecName);
            if (!codec || !codec->priv_class)
                continue;
            const AVClass* privateClass = codec->priv_class;
            const AVOption* option =
                av_opt_find(&privateClass, name.c_str(), nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ);
            if (!option)
                continue;
            // The value is checked on a context of that encoder, with its defaults.
            CodecContextPtr check(avcodec_alloc_context3(codec));
            if (!check || !check->priv_data)
                continue;
            if (av_opt_set(check->priv_data, name.c_str(), value.c_str(), 0) < 0)
                return SetResult::Rejected;
            KeepPrivateOption(generic_.Codec[kind], option, name, value);
            return SetResult::Set;
        }
        return SetResult::Unknown;
    }

    SetResult SetMuxerPrivateOption(const std::string& name, const std::string& value) {
        if (state_.ForcedFormat.empty()) {
            // Without a chosen muxer the option waits for the one the file name picks.
            if (!IsLegacyFormatOption(name))
                return SetResult::Unknown;
            SetListOption(generic_.Format, name, value);
            return SetResult::Set;
        }
        const AVOutputFormat* format =
            av_guess_format(state_.ForcedFormat.c_str(), nullptr, nullptr);
        if (!format || !format->priv_class)
            return SetResult::Unknown;
        const AVClass* privateClass = format->priv_class;
        const AVOption* option =
            av_opt_find(&privateClass, name.c_str(), nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ);
        if (!option)
            return SetResult::Unknown;
        AVFormatContext* raw = nullptr;
        if (avformat_alloc_output_context2(&raw, format, nullptr, nullptr) < 0 || !raw)
            return SetResult::Unknown;
        FormatContextPtr check(raw);
        if (!check->priv_data || av_opt_set(check->priv_data, name.c_str(), value.c_str(), 0) < 0)
            return SetResult::Rejected;
        KeepPrivateOption(generic_.Format, option, name, value);
        return SetResult::Set;
    }

    // "vb", "abt", "sfoo": the rest of the name in the kind's codec options.
    SetResult SetPrefixedOption(const std::string& name, const std::string& value) {
        if (name.size() < 2)
            return SetResult::Unknown;
        int kind;
        switch (name[0]) {
            case 'a':
                kind = AVMEDIA_TYPE_AUDIO;
                break;
            case 'v':
                kind = AVMEDIA_TYPE_VIDEO;
                break;
            case 's':
                kind = AVMEDIA_TYPE_SUBTITLE;
                break;
            default:
                return SetResult::Unknown;
        }
        const std::string rest = name.substr(1);
        AVCodecContext* object = generic_.CodecObjects[kind].get();
        if (!av_opt_find(object, rest.c_str(), nullptr, 0, 0))
            return SetResult::Unknown;
        if (av_opt_set(object, rest.c_str(), value.c_str(), 0) < 0)
            return SetResult::Rejected;
        SetListOption(generic_.Codec[kind], rest, ReadBack(object, rest, value));
        return SetResult::Set;
    }

    TranscoderState& state_;
    GenericOptions& generic_;
};

void LogInvalidValue(const std::string& name, const std::string& value) {
    Log(llError, "Invalid value \"%s\" for option \"%s\"", value.c_str(), name.c_str());
}

}  // namespace

bool OptionParser::GenericOption(const std::string& name, const std::string& value) {
    if (TrimText(name).empty() || TrimText(value).empty())
        return false;
    GenericOptions& generic = state_.Generic;
    if (!generic.Created())
        generic.Create();

    LibraryOptions options(state_);
    auto translated = TranslateLegacyOption(name, value, state_.LegacyPartitions);
    if (!translated) {
        switch (options.Set(name, value)) {
            case SetResult::Rejected:
                LogInvalidValue(name, value);
                return false;
            case SetResult::Unknown:
                if (!IsLegacyCodecOption(name))
                    return false;
                options.KeepLegacy(name, value);
                break;
            case SetResult::Set:
                break;
        }
    } else {
        for (const LibraryOption& option : *translated) {
            switch (options.Set(option.Name, option.Value)) {
                case SetResult::Rejected:
                    LogInvalidValue(name, value);
                    return false;
                case SetResult::Unknown:
                    options.KeepLegacy(option.Name, option.Value);
                    break;
                case SetResult::Set:
                    break;
            }
        }
    }

    if (std::find(generic.SetNames.begin(), generic.SetNames.end(), name) == generic.SetNames.end())
        generic.SetNames.push_back(name);

    int64_t codecDebug = 0;
    int64_t formatDebug = 0;
    av_opt_get_int(generic.CodecObjects[AVMEDIA_TYPE_VIDEO].get(), "debug", 0, &codecDebug);
    av_opt_get_int(generic.FormatObject.get(), "fdebug", 0, &formatDebug);
    if (codecDebug != 0 || formatDebug != 0)
        EngineLogger::Instance().SetLogLevel(llDebug);
    return true;
}

}  // namespace kavel
