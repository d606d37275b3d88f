#include "probe/MediaProbe.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <vector>

#include "engine/EngineLogger.h"
#include "engine/ErrorText.h"
#include "engine/FFmpegException.h"
#include "engine/FFmpegLoader.h"
#include "engine/FileNames.h"
#include "engine/LibraryLock.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/parseutils.h>
}

namespace kavel {

namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Metadata values (comments, lyrics) can be long, so the text is sized to fit.
std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) {
        std::vsnprintf(text.data(), text.size() + 1, format, again);
    }
    va_end(again);
    return text;
}

int ClampToInt(int64_t value) {
    return static_cast<int>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

std::string MetadataValue(const AVDictionary* metadata, const char* key) {
    const AVDictionaryEntry* entry = av_dict_get(metadata, key, nullptr, 0);
    return entry ? entry->value : "";
}

// The leading number of a value such as "2009", "2009-05-01" or "3/12"; -1 when there is none.
int LeadingNumber(const std::string& value) {
    if (value.empty() || !std::isdigit(static_cast<unsigned char>(value[0]))) {
        return -1;
    }
    return ClampToInt(std::strtoll(value.c_str(), nullptr, 10));
}

// Denominator 0 would make every rescaled value meaningless, so it becomes the numerator, then 1.
AVRational SafeTimeBase(AVRational timeBase) {
    if (timeBase.den == 0) {
        timeBase.den = timeBase.num;
    }
    if (timeBase.den == 0) {
        timeBase.den = 1;
    }
    return timeBase;
}

int64_t OrNotSet(int64_t value) {
    return value == AV_NOPTS_VALUE ? -1 : value;
}

int64_t ToMicroseconds(int64_t value, AVRational timeBase) {
    if (value == AV_NOPTS_VALUE) {
        return -1;
    }
    return av_rescale_q(value, SafeTimeBase(timeBase), AV_TIME_BASE_Q);
}

std::string CodecText(const AVCodecParameters* parameters) {
    if (const AVCodec* decoder = avcodec_find_decoder(parameters->codec_id)) {
        if (decoder->long_name && *decoder->long_name) {
            return Format("%s(%s)", decoder->name, decoder->long_name);
        }
        return decoder->name;
    }
    if (parameters->codec_id == AV_CODEC_ID_MPEG2TS) {
        return "mpeg2ts";
    }
    if (const AVCodecDescriptor* descriptor = avcodec_descriptor_get(parameters->codec_id)) {
        return descriptor->name;
    }
    const uint32_t tag = parameters->codec_tag;
    const int c0 = tag & 0xFF, c1 = (tag >> 8) & 0xFF, c2 = (tag >> 16) & 0xFF, c3 = tag >> 24;
    if (std::isprint(c0) && std::isprint(c1) && std::isprint(c2) && std::isprint(c3)) {
        return Format("%c%c%c%c / 0x%04X", c0, c1, c2, c3, tag);
    }
    return Format("0x%04x", tag);
}

// The library's own one-line summary of a stream's codec ("Video: mpeg4 (Simple Profile), ...").
std::string CodecDescription(const AVCodecParameters* parameters) {
    AVCodecContext* context = avcodec_alloc_context3(nullptr);
    if (!context) {
        return "";
    }
    char text[512] = {};
    if (avcodec_parameters_to_context(context, parameters) >= 0) {
        avcodec_string(text, sizeof(text), context, 0);
    }
    avcodec_free_context(&context);
    return text;
}

std::string TimeOfDayText(int64_t microseconds) {
    const char* sign = microseconds < 0 ? "-" : "";
    const int64_t magnitude = std::llabs(microseconds);
    return Format("%s%d.%.6d", sign, static_cast<int>(magnitude / AV_TIME_BASE),
                  static_cast<int>(magnitude % AV_TIME_BASE));
}

std::string DurationText(int64_t microseconds) {
    return microseconds == AV_NOPTS_VALUE || microseconds < 0 ? "N/A" : TimeText(microseconds);
}

void AppendMetadata(std::string& text, const AVDictionary* metadata, const std::string& indent) {
    const int count = av_dict_count(metadata);
    if (count == 0 || (count == 1 && av_dict_get(metadata, "language", nullptr, 0))) {
        return;
    }
    text += indent + "Metadata:\n";
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = av_dict_get(metadata, "", entry, AV_DICT_IGNORE_SUFFIX))) {
        if (std::string(entry->key) != "language") {
            text += Format("%s  %-16s: %s\n", indent.c_str(),
                           MetadataDisplayName(entry->key).c_str(), entry->value);
        }
    }
}

void AppendStream(std::string& text, const AVFormatContext* context, int index) {
    const AVStream* stream = context->streams[index];
    const AVCodecParameters* parameters = stream->codecpar;
    text += Format("Stream #%d", index);
    if (context->iformat && (context->iformat->flags & AVFMT_SHOW_IDS)) {
        text += Format("[0x%x]", stream->id);
    }
    const std::string language = MetadataValue(stream->metadata, "language");
    if (!language.empty()) {
        text += "(" + language + ")";
    }
    const AVRational timeBase = stream->time_base;
    const int64_t divisor = std::max<int64_t>(av_gcd(timeBase.num, timeBase.den), 1);
    text += Format(", %d/%d", static_cast<int>(timeBase.num / divisor),
                   static_cast<int>(timeBase.den / divisor));
    text += ": " + CodecDescription(parameters);
    if (stream->sample_aspect_ratio.num &&
        av_cmp_q(stream->sample_aspect_ratio, parameters->sample_aspect_ratio)) {
        AVRational display;
        av_reduce(&display.num, &display.den,
                  static_cast<int64_t>(parameters->width) * stream->sample_aspect_ratio.num,
                  static_cast<int64_t>(parameters->height) * stream->sample_aspect_ratio.den,
                  1024 * 1024);
        text += Format(", PAR %d:%d DAR %d:%d", stream->sample_aspect_ratio.num,
                       stream->sample_aspect_ratio.den, display.num, display.den);
    }
    if (parameters->codec_type == AVMEDIA_TYPE_VIDEO) {
        auto rate = [&](AVRational fraction, const char* name) {
            if (fraction.num && fraction.den) {
                text += RateText(av_q2d(fraction), name);
            }
        };
        rate(stream->avg_frame_rate, "fps");
        rate(stream->r_frame_rate, "tbr");
        rate(av_inv_q(stream->time_base), "tbn");
        rate(av_inv_q(av_stream_get_codec_timebase(stream)), "tbc");
    }
    if (stream->start_time != AV_NOPTS_VALUE) {
        text += ", StartTime: " + TimeOfDayText(ToMicroseconds(stream->start_time, timeBase));
    }
    text += ", Duration: " + DurationText(ToMicroseconds(stream->duration, timeBase));
    text += "\n";
    AppendMetadata(text, stream->metadata, "  ");
}

}  // namespace

void MediaProbe::CodecContextFree::operator()(AVCodecContext* context) const {
    LibraryLock lock;
    avcodec_free_context(&context);
}

void MediaProbe::FrameFree::operator()(AVFrame* frame) const {
    av_frame_free(&frame);
}

MediaProbe::MediaProbe() = default;

MediaProbe::~MediaProbe() {
    Close();
}

void MediaProbe::CheckLibraries() const {
    static const struct {
        LibraryIndex Library;
        const char* Message;
    } required[] = {
        {libAvcodec, "LibAVCodec not loaded."},
        {libAvformat, "LibAVFormat not loaded."},
        {libAvutil, "LibAVUtil not loaded."},
        {libSwscale, "LibSwScale not loaded."},
    };
    for (const auto& item : required) {
        if (!LibrariesLoaded(LibraryBit(item.Library))) {
            throw FFmpegException(item.Message);
        }
    }
}

bool MediaProbe::LoadFile(const std::string& fileName, const std::string& formatName) {
    CheckLibraries();
    Close();
    const AVInputFormat* format = nullptr;
    if (!formatName.empty()) {
        format = av_find_input_format(formatName.c_str());
        if (!format) {
            return Fail(llError, "Unknown input format: " + formatName);
        }
    }
    AVFormatContext* context = avformat_alloc_context();
    if (!context) {
        return Fail(llError, ErrorText(fileName, AVERROR(ENOMEM)));
    }
    context->flags |= AVFMT_FLAG_NONBLOCK;
    // On failure the opener frees the context.
    const int opened = OpenInputFormat(&context, fileName, format, nullptr);
    if (opened < 0) {
        Fail(llError, ErrorText(fileName, opened));
        Close();
        return false;
    }
    context_ = context;
    ownsContext_ = true;
    int found;
    {
        LibraryLock lock;
        found = avformat_find_stream_info(context_, nullptr);
    }
    if (found < 0) {
        Fail(llError, fileName + ": could not find codec parameters");
        Close();
        return false;
    }
    Refresh();
    formatName_ = formatName;
    return true;
}

void MediaProbe::Attach(AVFormatContext* context) {
    CheckLibraries();
    Close();
    ownsContext_ = false;
    context_ = context;
    Refresh();
}

void MediaProbe::Close() {
    ReleaseFrameReader();
    formatName_.clear();
    if (context_ && ownsContext_) {
        CloseInputFormat(&context_);
    }
    context_ = nullptr;
    ownsContext_ = false;
    Refresh();
}

void MediaProbe::ReleaseFrameReader() {
    readerCodec_.reset();
    readerPicture_.reset();
    readerStream_ = -1;
    readerPosition_ = -1;
}

void MediaProbe::Refresh() {
    fileSize_ = -1;
    streamCount_ = -1;
    programCount_ = -1;
    audioStreamCount_ = -1;
    videoStreamCount_ = -1;
    subtitleStreamCount_ = -1;
    firstAudioStream_ = -1;
    firstVideoStream_ = -1;
    firstSubtitleStream_ = -1;
    defaultStream_ = -1;
    defaultStartTime_ = 0;
    if (!context_) {
        return;
    }
    const int64_t containerSize = context_->pb ? avio_size(context_->pb) : 0;
    fileSize_ = containerSize;
    if (containerSize <= 0) {
        std::error_code error;
        const std::filesystem::path path(FileName());
        if (std::filesystem::is_regular_file(path, error)) {
            const auto size = std::filesystem::file_size(path, error);
            if (!error) {
                fileSize_ = static_cast<int64_t>(size);
            }
        }
    }
    streamCount_ = static_cast<int>(context_->nb_streams);
    programCount_ = static_cast<int>(context_->nb_programs);
    audioStreamCount_ = 0;
    videoStreamCount_ = 0;
    subtitleStreamCount_ = 0;
    for (int i = 0; i < streamCount_; ++i) {
        auto count = [i](int& counter, int& first) {
            if (counter++ == 0) {
                first = i;
            }
        };
        switch (context_->streams[i]->codecpar->codec_type) {
            case AVMEDIA_TYPE_VIDEO:
                count(videoStreamCount_, firstVideoStream_);
                break;
            case AVMEDIA_TYPE_AUDIO:
                count(audioStreamCount_, firstAudioStream_);
                break;
            case AVMEDIA_TYPE_SUBTITLE:
                count(subtitleStreamCount_, firstSubtitleStream_);
                break;
            default:
                break;
        }
    }
    defaultStream_ = firstVideoStream_ >= 0 ? firstVideoStream_ : firstAudioStream_;
    const int64_t start =
        defaultStream_ >= 0 ? context_->streams[defaultStream_]->start_time : context_->start_time;
    defaultStartTime_ = start == AV_NOPTS_VALUE ? 0 : start;
}

bool MediaProbe::Fail(int logLevel, const std::string& message) {
    lastErrMsg_ = message;
    EngineLogger::Instance().Log(this, static_cast<LogLevel>(logLevel), message);
    return false;
}

int MediaProbe::ResolveStream(int index, int mediaType, bool minusOneIsFirst) {
    if (!context_) {
        Fail(llWarning, "file not loaded.");
        return -1;
    }
    const bool audio = mediaType == AVMEDIA_TYPE_AUDIO;
    if (index == -1 && minusOneIsFirst) {
        index = audio ? firstAudioStream_ : firstVideoStream_;
        if (index < 0) {
            Fail(llError, audio ? "no audio stream." : "no video stream.");
            return -1;
        }
    }
    if (index < 0 || index >= streamCount_) {
        Fail(llError, Format("stream index #%d is invalid.", index));
        return -1;
    }
    if (context_->streams[index]->codecpar->codec_type != mediaType) {
        Fail(llError,
             Format(audio ? "stream #%d is not audio stream." : "stream #%d is not video stream.",
                    index));
        return -1;
    }
    return index;
}

bool MediaProbe::GetFileStreamInfo(FileStreamInfo& info) {
    info = FileStreamInfo();
    if (!context_) {
        return Fail(llWarning, "file not loaded.");
    }
    const AVDictionary* metadata = context_->metadata;
    info.StartTime = OrNotSet(context_->start_time);
    info.Duration = OrNotSet(context_->duration);
    info.BitRate = ClampToInt(context_->bit_rate);
    int64_t created = 0;
    const std::string creationTime = MetadataValue(metadata, "creation_time");
    if (!creationTime.empty() && av_parse_time(&created, creationTime.c_str(), 0) >= 0) {
        info.Timestamp = created / AV_TIME_BASE;
    }
    // Today's demuxers keep the year in "date" and the author in "artist" where older ones had
    // "year" and "author".
    const std::string year = MetadataValue(metadata, "year");
    info.Year = LeadingNumber(year.empty() ? MetadataValue(metadata, "date") : year);
    info.Track = LeadingNumber(MetadataValue(metadata, "track"));
    info.Title = MetadataValue(metadata, "title");
    info.Author = MetadataValue(metadata, "author");
    if (info.Author.empty()) {
        info.Author = MetadataValue(metadata, "artist");
    }
    info.Copyright = MetadataValue(metadata, "copyright");
    info.Comment = MetadataValue(metadata, "comment");
    info.Album = MetadataValue(metadata, "album");
    info.Genre = MetadataValue(metadata, "genre");
    return true;
}

// The fields that video and audio stream records share.
template <typename StreamRecord>
void FillStreamCommon(const AVStream& stream, StreamRecord& info) {
    info.Language = MetadataValue(stream.metadata, "language");
    info.Codec = CodecText(stream.codecpar);
    info.StartTime = OrNotSet(stream.start_time);
    info.StartTimeUS = ToMicroseconds(stream.start_time, stream.time_base);
    info.Duration = OrNotSet(stream.duration);
    info.DurationUS = ToMicroseconds(stream.duration, stream.time_base);
    info.BitRate = ClampToInt(stream.codecpar->bit_rate);
}

bool MediaProbe::GetVideoStreamInfo(int index, VideoStreamInfo& info) {
    info = VideoStreamInfo();
    index = ResolveStream(index, AVMEDIA_TYPE_VIDEO, true);
    if (index < 0) {
        return false;
    }
    const AVStream* stream = context_->streams[index];
    const AVCodecParameters* parameters = stream->codecpar;
    FillStreamCommon(*stream, info);
    info.Height = parameters->height;
    info.Width = parameters->width;
    const AVRational aspect = parameters->sample_aspect_ratio;
    if (aspect.num > 0 && aspect.den > 0 && parameters->height > 0) {
        info.DisplayAspectRatio =
            static_cast<float>(av_q2d(aspect) * parameters->width / parameters->height);
    }
    info.PixelFormat = parameters->format;
    info.FrameRateNum = stream->r_frame_rate.num;
    info.FrameRateDen = stream->r_frame_rate.den;
    return true;
}

bool MediaProbe::GetAudioStreamInfo(int index, AudioStreamInfo& info) {
    info = AudioStreamInfo();
    index = ResolveStream(index, AVMEDIA_TYPE_AUDIO, true);
    if (index < 0) {
        return false;
    }
    const AVStream* stream = context_->streams[index];
    const AVCodecParameters* parameters = stream->codecpar;
    FillStreamCommon(*stream, info);
    info.Channels = parameters->ch_layout.nb_channels;
    info.SampleRate = parameters->sample_rate;
    info.SampleFormat = parameters->format;
    return true;
}

bool MediaProbe::IsAudioStream(int index) {
    return ResolveStream(index, AVMEDIA_TYPE_AUDIO, false) >= 0;
}

bool MediaProbe::IsVideoStream(int index) {
    return ResolveStream(index, AVMEDIA_TYPE_VIDEO, false) >= 0;
}

std::string MediaProbe::FileName() const {
    return context_ && context_->url ? DisplayName(context_->url) : "";
}

std::string MediaProbe::FormatShortName() const {
    return context_ && context_->iformat ? context_->iformat->name : "";
}

std::string MediaProbe::Description() {
    if (!context_) {
        Fail(llWarning, "file not loaded.");
        return "";
    }
    const AVFormatContext* context = context_;
    std::string text;
    text += "File Name: " + FileName() + "\n";
    text += "Format Name: " + FormatShortName() + "\n";
    text += std::string("Format Long Name: ") +
            (context->iformat && context->iformat->long_name ? context->iformat->long_name : "") +
            "\n";
    text += "File Size: " + FileSizeText(fileSize_) + "\n";
    text += "Duration: " + DurationText(context->duration) + "\n";
    if (context->start_time != AV_NOPTS_VALUE && context->start_time >= 0) {
        text += "StartTime: " + TimeOfDayText(context->start_time) + "\n";
    }
    if (context->bit_rate >= 1) {
        text += Format("Bit Rate: %d kb/s\n", static_cast<int>(context->bit_rate / 1000));
    } else {
        text += "Bit Rate: N/A\n";
    }
    FileStreamInfo info;
    GetFileStreamInfo(info);
    if (info.Timestamp > 0) {
        const std::time_t seconds = static_cast<std::time_t>(info.Timestamp);
        std::tm local{};
        localtime_r(&seconds, &local);
        char stamp[32];
        std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &local);
        text += std::string("Time Stamp: ") + stamp + "\n";
    }
    AppendMetadata(text, context->metadata, "");

    std::vector<bool> listed(context->nb_streams, false);
    for (unsigned p = 0; p < context->nb_programs; ++p) {
        const AVProgram* program = context->programs[p];
        std::string provider = MetadataValue(program->metadata, "service_provider");
        std::string name = MetadataValue(program->metadata, "service_name");
        text +=
            Format("Program %d %s@%s\n", program->id, provider.empty() ? "N/A" : provider.c_str(),
                   name.empty() ? "N/A" : name.c_str());
        AppendMetadata(text, program->metadata, "  ");
        for (unsigned k = 0; k < program->nb_stream_indexes; ++k) {
            const unsigned index = program->stream_index[k];
            if (index < context->nb_streams) {
                AppendStream(text, context, static_cast<int>(index));
                listed[index] = true;
            }
        }
    }
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        if (!listed[i]) {
            AppendStream(text, context, static_cast<int>(i));
        }
    }
    return text;
}

std::string FileSizeText(int64_t bytes) {
    constexpr int64_t kKiB = 1024;
    constexpr int64_t kMiB = kKiB * 1024;
    constexpr int64_t kGiB = kMiB * 1024;
    if (bytes <= kKiB) {
        return Format("%" PRId64 " Byte", bytes);
    }
    if (bytes <= kMiB) {
        return Format("%.2f KB", static_cast<double>(bytes) / kKiB);
    }
    if (bytes <= kGiB) {
        return Format("%.2f MB", static_cast<double>(bytes) / kMiB);
    }
    return Format("%.2f GB", static_cast<double>(bytes) / kGiB);
}

std::string RateText(double value, const char* name) {
    const int64_t hundredths = std::llrint(value * 100);
    if (hundredths % 100) {
        return Format(", %3.2f %s", value, name);
    }
    if (hundredths % (100 * 1000)) {
        return Format(", %1.0f %s", value, name);
    }
    return Format(", %1.0fk %s", value / 1000, name);
}

std::string MetadataDisplayName(const std::string& key) {
    static const struct {
        const char* Key;
        const char* Name;
    } names[] = {
        {"TALB", "album"},     {"TAL", "album"},      {"TCOM", "composer"},  {"TCON", "genre"},
        {"TCO", "genre"},      {"TCOP", "copyright"}, {"TDRL", "date"},      {"TENC", "encoder"},
        {"TEN", "encoder"},    {"TIT2", "title"},     {"TT2", "title"},      {"TLAN", "language"},
        {"TPE1", "artist"},    {"TP1", "artist"},     {"TPOS", "disc"},      {"TPUB", "publisher"},
        {"TRCK", "track"},     {"TRK", "track"},      {"TSOA", "albumsort"}, {"TSOP", "authorsort"},
        {"TSOT", "titlesort"}, {"TYER", "year"},
    };
    for (const auto& item : names) {
        if (key == item.Key) {
            return item.Name;
        }
    }
    return key;
}

}  // namespace kavel
