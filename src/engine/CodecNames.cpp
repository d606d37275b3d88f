#include "engine/CodecNames.h"

#include <string_view>

#include "engine/FFmpegException.h"

namespace kavel {

namespace {

struct Successor {
    std::string_view Legacy;
    std::string_view Current;
};

constexpr Successor EncoderSuccessors[] = {
    {"libfaac", "aac"},
    {"libvo_aacenc", "aac"},
    {"libflac", "flac"},
    {"vorbis", "libvorbis"},
    {"libamr_nb", "libopencore_amrnb"},
    {"libamr_wb", "libvo_amrwbenc"},
};

constexpr Successor DecoderSuccessors[] = {
    {"libfaad", "aac"},
    {"libamr_nb", "amrnb"},
    {"libamr_wb", "amrwb"},
    {"libopencore_amrnb", "amrnb"},
    {"libopencore_amrwb", "amrwb"},
};

bool Usable(const AVCodec* codec) {
    return codec && !(codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL);
}

template <size_t N>
std::string Translate(const std::string& name, const Successor (&table)[N],
                      const AVCodec* (*find)(const char*)) {
    if (Usable(find(name.c_str())))
        return name;
    for (const Successor& successor : table) {
        if (successor.Legacy != name)
            continue;
        const std::string current(successor.Current);
        if (find(current.c_str()))
            return current;
    }
    return name;
}

}  // namespace

std::string EncoderName(const std::string& name) {
    return Translate(name, EncoderSuccessors, avcodec_find_encoder_by_name);
}

std::string DecoderName(const std::string& name) {
    return Translate(name, DecoderSuccessors, avcodec_find_decoder_by_name);
}

const AVCodec* FindEncoder(const std::string& name) {
    return avcodec_find_encoder_by_name(EncoderName(name).c_str());
}

const AVCodec* FindDecoder(const std::string& name) {
    return avcodec_find_decoder_by_name(DecoderName(name).c_str());
}

const AVCodec* LookupCodec(const std::string& name, AVMediaType type, bool encoder,
                           int strictness) {
    const std::string kind = encoder ? "encoder" : "decoder";
    const AVCodec* codec = encoder ? FindEncoder(name) : FindDecoder(name);
    if (!codec)
        throw FFmpegException("Unknown " + kind + " '" + name + "'");
    if (codec->type != type)
        throw FFmpegException("Invalid " + kind + " type '" + name + "'");
    if ((codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) &&
        strictness > FF_COMPLIANCE_EXPERIMENTAL) {
        std::string message = kind + " '" + codec->name +
                              "' is experimental and might produce bad results.\r\n"
                              "Add '-strict experimental' if you want to use it.";
        void* iterator = nullptr;
        while (const AVCodec* other = av_codec_iterate(&iterator)) {
            const bool sameRole = encoder ? av_codec_is_encoder(other) : av_codec_is_decoder(other);
            if (other->id == codec->id && sameRole &&
                !(other->capabilities & AV_CODEC_CAP_EXPERIMENTAL)) {
                message += "\r\nOr use the non experimental " + kind + " '" + other->name + "'.";
                break;
            }
        }
        throw FFmpegException(message);
    }
    return codec;
}

}  // namespace kavel
