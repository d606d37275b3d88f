#include "engine/TranscoderState.h"

#include <algorithm>
#include <new>

namespace kavel {

void SetListOption(OptionList& list, const std::string& name, const std::string& value) {
    auto found = std::find_if(list.begin(), list.end(),
                              [&](const auto& entry) { return entry.first == name; });
    if (found != list.end())
        found->second = value;
    else
        list.emplace_back(name, value);
}

const std::string* FindListOption(const OptionList& list, const std::string& name) {
    auto found = std::find_if(list.begin(), list.end(),
                              [&](const auto& entry) { return entry.first == name; });
    return found == list.end() ? nullptr : &found->second;
}

void GenericOptions::Create() {
    if (Created())
        return;
    for (auto& object : CodecObjects) {
        object.reset(avcodec_alloc_context3(nullptr));
        if (!object)
            throw std::bad_alloc();
    }
    FormatObject.reset(avformat_alloc_context());
    ScalerObject.reset(sws_alloc_context());
    if (!FormatObject || !ScalerObject)
        throw std::bad_alloc();
}

void GenericOptions::Release() {
    for (auto& list : Codec) list.clear();
    Format.clear();
    Scaler.clear();
    SetNames.clear();
    for (auto& object : CodecObjects) object.reset();
    FormatObject.reset();
    ScalerObject.reset();
}

void TranscoderState::Reset() {
    // Outputs go before inputs: a Join entry may still point into an output.
    OutputFiles.clear();
    InputFiles.clear();
    *this = TranscoderState();
}

}  // namespace kavel
