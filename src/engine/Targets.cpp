#include "engine/Targets.h"

#include <cmath>
#include <string>

#include "engine/EngineLogger.h"
#include "engine/FFmpegException.h"

namespace kavel {

namespace {

// The kind of material a rate in thousandths of a frame per second belongs to.
bool NormFromRate(long rate, TargetNorm& norm) {
    if (rate == 23976 || rate == 29970) {
        norm = TargetNorm::Ntsc;
        return true;
    }
    if (rate == 25000) {
        norm = TargetNorm::Pal;
        return true;
    }
    return false;
}

long MilliRate(AVRational rate) {
    if (rate.num <= 0 || rate.den <= 0)
        return 0;
    return std::lround(1000.0 * rate.num / rate.den);
}

// Settings of one disc target; null texts and zero numbers are not set.
struct DiscTarget {
    const char* Type;
    const char* VideoCodec;
    const char* AudioCodec;
    const char* Format;
    const char* NtscSize;
    const char* PalSize;
    const char* Bitrate;
    const char* MaxRate;
    const char* MinRate;
    const char* BufSize;
    const char* Flags;
    const char* AudioBitrate;
    int SampleRate;
    bool StereoOnly;    // two channels whatever was asked
    bool MonoToStereo;  // one channel becomes two
    const char* PacketSize;
    const char* MuxRate;
    float MuxPreload;
    const char* Aspect;  // assumed when none is set
};

// clang-format off
constexpr DiscTarget DiscTargets[] = {
    {"vcd", "mpeg1video", "mp2", "vcd", "352x240", "352x288", "1150000", "1150000", "1150000",
     "327680", nullptr, "224000", 44100, true, false, "2324", "1411200", 0.44f, "4:3"},
    {"svcd", "mpeg2video", "mp2", "svcd", "480x480", "480x576", "2040000", "2516000", "0",
     "1835008", "+scan_offset", "224000", 44100, false, true, "2324", nullptr, 0.0f, "4:3"},
    {"dvd", "mpeg2video", "ac3", "dvd", "720x480", "720x576", "6000000", "9000000", "0",
     "1835008", nullptr, "448000", 48000, false, true, "2048", "10080000", 0.0f, "16:9"},
};
// clang-format on

const char* FrameRateOf(TargetNorm norm) {
    switch (norm) {
        case TargetNorm::Pal:
            return "25";
        case TargetNorm::Film:
            return "24000/1001";
        default:
            return "30000/1001";
    }
}

}  // namespace

TargetNorm DetectTargetNorm(const TranscoderState& state, TargetNorm defaultNorm) {
    if (state.FrameRate.den == 0)
        throw FFmpegException("frame_rate is invalid.");
    TargetNorm norm;
    if (NormFromRate(MilliRate(state.FrameRate), norm))
        return norm;
    for (const InputFile& input : state.InputFiles) {
        const AVFormatContext* context = input.Context.get();
        if (!context)
            continue;
        for (unsigned i = 0; i < context->nb_streams; ++i) {
            const AVStream* stream = context->streams[i];
            if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
                continue;
            // The stream's own frame rate stands for the codec time base of
            // the older library (one tick per frame).
            const AVRational rate =
                stream->r_frame_rate.num > 0 ? stream->r_frame_rate : stream->avg_frame_rate;
            if (NormFromRate(MilliRate(rate), norm))
                return norm;
        }
    }
    if (defaultNorm == TargetNorm::Film || defaultNorm == TargetNorm::Ntsc)
        return defaultNorm;
    return TargetNorm::Pal;
}

void OptionParser::ApplyTarget(const std::string& type, TargetNorm norm, TargetNorm defaultNorm) {
    if (norm == TargetNorm::Auto) {
        norm = DetectTargetNorm(state_, defaultNorm);
        if (state_.Verbose > 0)
            Log(llVerbose, "Assuming %s for target.", norm == TargetNorm::Pal ? "PAL" : "NTSC");
    }
    const bool pal = norm == TargetNorm::Pal;

    if (type == "dv" || type == "dv50") {
        SetOption("f", "dv");
        SetOption("s", pal ? "720x576" : "720x480");
        SetOption("pix_fmt", type == "dv50" ? "yuv422p" : pal ? "yuv420p" : "yuv411p");
        SetOption("r", FrameRateOf(norm));
        state_.AudioSampleRate = 48000;
        state_.AudioChannels = 2;
        return;
    }

    const DiscTarget* target = nullptr;
    for (const DiscTarget& candidate : DiscTargets)
        if (type == candidate.Type)
            target = &candidate;
    if (!target)
        throw FFmpegException("Unknown target type");

    auto generic = [this](const char* name, const char* value) {
        if (value)
            GenericOption(name, value);
    };
    SetOption("vcodec", target->VideoCodec);
    SetOption("acodec", target->AudioCodec);
    SetOption("f", target->Format);
    SetOption("s", pal ? target->PalSize : target->NtscSize);
    SetOption("r", FrameRateOf(norm));
    generic("g", pal ? "15" : "18");
    generic("b", target->Bitrate);
    generic("maxrate", target->MaxRate);
    generic("minrate", target->MinRate);
    generic("bufsize", target->BufSize);
    generic("flags", target->Flags);
    generic("ab", target->AudioBitrate);
    state_.AudioSampleRate = target->SampleRate;
    if (target->StereoOnly)
        state_.AudioChannels = 2;
    if (target->MonoToStereo && state_.AudioChannels == 1)
        state_.AudioChannels = 2;
    generic("packetsize", target->PacketSize);
    generic("muxrate", target->MuxRate);
    if (target->MuxPreload > 0.0f)
        state_.MuxPreload = target->MuxPreload;
    if (state_.FrameAspectRatio == 0.0) {
        Log(llInfo, "Assuming %s for aspect ratio", target->Aspect);
        SetOption("aspect", target->Aspect);
    }
}

}  // namespace kavel
