#include "engine/OptionParser.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string_view>
#include <unordered_map>

extern "C" {
#include <libavcodec/bsf.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
}

#include "engine/EngineLogger.h"
#include "engine/FFmpegException.h"
#include "engine/OptionText.h"
#include "engine/Presets.h"

namespace kavel {

namespace {

using Handler = void (*)(OptionParser& parser, const std::string& name, const std::string& value);

bool SwitchValue(const std::string& value) {
    return value != "0";
}

int64_t ParseTime(const std::string& name, const std::string& value, bool duration) {
    int64_t microseconds = 0;
    if (av_parse_time(&microseconds, value.c_str(), duration ? 1 : 0) < 0)
        throw FFmpegException("Invalid " + std::string(duration ? "duration" : "date") +
                              " specification for " + name + ": " + value);
    return microseconds;
}

// Reads a decimal number at text[pos]; false when there is none.
bool ReadNumber(const std::string& text, size_t& pos, int& number) {
    const char* begin = text.c_str() + pos;
    char* end = nullptr;
    const long value = std::strtol(begin, &end, 10);
    if (end == begin)
        return false;
    number = static_cast<int>(value);
    pos += static_cast<size_t>(end - begin);
    return true;
}

// "a.b" or "a.b:c.d" with any one character between the numbers.
std::vector<int> ReadNumberGroup(const std::string& value, int count, int required) {
    std::vector<int> numbers;
    size_t pos = 0;
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            if (pos >= value.size())
                break;
            ++pos;  // the separator
        }
        int number = 0;
        if (!ReadNumber(value, pos, number))
            break;
        numbers.push_back(number);
    }
    if (static_cast<int>(numbers.size()) < required ||
        (static_cast<int>(numbers.size()) != count && static_cast<int>(numbers.size()) != required))
        numbers.clear();
    return numbers;
}

std::string ProgramFolder() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return "";
    return program.parent_path().string() + "/";
}

uint32_t FourCharacterTag(const std::string& value) {
    return static_cast<uint8_t>(value[0]) | static_cast<uint8_t>(value[1]) << 8 |
           static_cast<uint8_t>(value[2]) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(value[3])) << 24;
}

// 64 comma-separated coefficients; text after the 64th is ignored.
std::vector<uint16_t> ParseMatrix(const std::string& value) {
    std::vector<std::string> pieces;
    for (size_t start = 0;;) {
        const size_t comma = value.find(',', start);
        pieces.push_back(value.substr(start, comma == std::string::npos ? comma : comma - start));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    std::vector<uint16_t> matrix;
    for (int i = 0; i < 64; ++i) {
        const std::string& piece = pieces[static_cast<size_t>(i)];
        char* end = nullptr;
        const long number = std::strtol(piece.c_str(), &end, 10);
        const bool wholePiece = TrimText(end).empty() || i == 63;
        // A zero coefficient would make the quantiser divide by zero.
        const bool valid = end != piece.c_str() && wholePiece && number >= 1 && number <= 255;
        const bool more = i == 63 || static_cast<size_t>(i + 1) < pieces.size();
        if (!valid || !more)
            throw FFmpegException("Syntax error in matrix \"" + value + "\" at coeff " +
                                  std::to_string(i));
        matrix.push_back(static_cast<uint16_t>(number));
    }
    return matrix;
}

void LogNothing(OptionParser&, const std::string& name, const std::string&) {
    LogText(llInfo, "Do nothing: option - " + name);
}

void SetLogLevelOption(OptionParser&, const std::string&, const std::string& value) {
    if (!EngineLogger::Instance().SetLogLevel(value))
        throw FFmpegException("Invalid loglevel \"" + value + "\"");
}

void SetFormat(OptionParser& parser, const std::string&, const std::string& value) {
    TranscoderState& state = parser.State();
    if (value == "pgmyuv") {
        state.ForcedFormat = "image2";
        state.PgmYuv = true;
        LogText(llInfo, "pgmyuv format is deprecated, use image2");
    } else {
        state.ForcedFormat = value;
    }
}

void AddStreamMap(OptionParser& parser, const std::string& name, const std::string& value) {
    const std::vector<int> numbers = ReadNumberGroup(value, 4, 2);
    if (numbers.empty())
        throw FFmpegException("Invalid value \"" + value + "\" for option \"" + name + "\"");
    StreamMap map;
    map.FileIndex = numbers[0];
    map.StreamIndex = numbers[1];
    map.SyncFileIndex = numbers.size() == 4 ? numbers[2] : numbers[0];
    map.SyncStreamIndex = numbers.size() == 4 ? numbers[3] : numbers[1];
    parser.State().StreamMaps.push_back(map);
}

void AddMetaDataMap(OptionParser& parser, const std::string& name, const std::string& value) {
    const std::vector<int> numbers = ReadNumberGroup(value, 2, 2);
    if (numbers.empty())
        throw FFmpegException("Invalid value \"" + value + "\" for option \"" + name + "\"");
    parser.State().MetaDataMaps.push_back({numbers[0], numbers[1]});
}

void SetRecordingTime(OptionParser& parser, const std::string& name, const std::string& value) {
    parser.State().RecordingTime = ParseTime(name, value, true);
}

void SetStartTime(OptionParser& parser, const std::string& name, const std::string& value) {
    parser.State().StartTime = ParseTime(name, value, true);
}

void SetInputOffset(OptionParser& parser, const std::string& name, const std::string& value) {
    parser.State().InputTimestampOffset = ParseTime(name, value, true);
}

void SetTimestamp(OptionParser& parser, const std::string& name, const std::string& value) {
    const int64_t microseconds = ParseTime(name, value, false);
    parser.State().RecordingTimestamp = std::llround(static_cast<double>(microseconds) / 1000000.0);
}

void SetFileSizeLimit(OptionParser& parser, const std::string&, const std::string& value) {
    parser.State().FileSizeLimit = ParseInteger64(value);
}

void SetTimestampScale(OptionParser& parser, const std::string& name, const std::string& value) {
    TranscoderState& state = parser.State();
    size_t pos = 0;
    int index = 0;
    if (!ReadNumber(value, pos, index))
        throw FFmpegException("Invalid value \"" + value + "\" for option \"" + name + "\"");
    if (index < 0 || index >= MaxStreams)
        throw FFmpegException("stream index over MAX_STREAMS(" + std::to_string(MaxStreams) + ")");
    // The scale belongs to the input opened next; there is none after the last one.
    if (state.InputFiles.size() >= static_cast<size_t>(MaxInputFiles))
        throw FFmpegException("max input files " + std::to_string(MaxInputFiles) + " reached");
    if (pos < value.size())
        ++pos;
    const double scale = ParseFloat(value.substr(pos));
    state.InputTimestampScales[state.InputFiles.size()][index] = scale;
}

void AddMetadata(OptionParser& parser, const std::string&, const std::string& value) {
    const size_t equals = value.find('=');
    if (equals == std::string::npos)
        throw FFmpegException("Missing =");
    parser.State().Metadata.push_back({value.substr(0, equals), value.substr(equals + 1)});
}

template <int Kind>
void SetFrameLimit(OptionParser& parser, const std::string&, const std::string& value) {
    parser.State().MaxFrames[Kind] = ParseInteger(value);
}

void WarnTimeLimit(OptionParser&, const std::string&, const std::string&) {
    LogText(llWarning, "Warning: -timelimit not implemented on Windows");
}

void SetCopyTimestamps(OptionParser& parser, const std::string&, const std::string&) {
    parser.State().CopyTimestamps = true;
}

void SetExitOnError(OptionParser& parser, const std::string&, const std::string&) {
    parser.State().ExitOnError = true;
}

void SetTarget(OptionParser& parser, const std::string&, const std::string& value) {
    std::string type = TrimText(value);
    TargetNorm norm = TargetNorm::Auto;
    const std::pair<std::string_view, TargetNorm> prefixes[] = {
        {"pal-", TargetNorm::Pal}, {"ntsc-", TargetNorm::Ntsc}, {"film-", TargetNorm::Film}};
    for (const auto& [prefix, prefixNorm] : prefixes) {
        if (type.rfind(prefix, 0) == 0) {
            norm = prefixNorm;
            type = type.substr(prefix.size());
            break;
        }
    }
    parser.ApplyTarget(type, norm, TargetNorm::Ntsc);
}

void RefuseThreads(OptionParser&, const std::string& name, const std::string&) {
    throw FFmpegException("TODO: option - " + name);
}

void SetBitrate(OptionParser& parser, const std::string& name, const std::string& value) {
    if (!parser.GenericOption(name, value))
        return;
    const int kind = name[0] == 'a' ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO;
    int64_t bitrate = 0;
    av_opt_get_int(parser.State().Generic.CodecObjects[kind].get(), "b", 0, &bitrate);
    if (bitrate < 1000)
        LogText(llWarning,
                "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not "
                "kbits/s");
}

void SetFrameRate(OptionParser& parser, const std::string&, const std::string& value) {
    if (value.empty())
        return;
    AVRational rate{0, 0};
    if (av_parse_video_rate(&rate, value.c_str()) < 0)
        throw FFmpegException("Incorrect frame rate");
    parser.State().FrameRate = rate;
}

void SetFrameSize(OptionParser& parser, const std::string&, const std::string& value) {
    if (value.empty())
        return;
    int width = 0;
    int height = 0;
    if (av_parse_video_size(&width, &height, value.c_str()) < 0)
        throw FFmpegException("Incorrect frame size");
    parser.State().FrameWidth = width;
    parser.State().FrameHeight = height;
}

void SetAspect(OptionParser& parser, const std::string&, const std::string& value) {
    if (value.empty())
        return;
    double ratio = 0.0;
    const size_t colon = value.find(':');
    if (colon != std::string::npos) {
        char* end = nullptr;
        const long width = std::strtol(value.c_str(), &end, 10);
        const long height = std::strtol(value.c_str() + colon + 1, nullptr, 10);
        if (end == value.c_str() + colon && width > 0 && height > 0)
            ratio = static_cast<double>(width) / static_cast<double>(height);
    } else {
        ratio = std::strtod(value.c_str(), nullptr);
    }
    if (ratio == 0.0 || !std::isfinite(ratio) || ratio < 0.0)
        throw FFmpegException("Incorrect aspect ratio specification.");
    parser.State().FrameAspectRatio = ratio;
}

void SetPixelFormat(OptionParser& parser, const std::string&, const std::string& value) {
    if (value == "list") {
        for (const AVPixFmtDescriptor* d = av_pix_fmt_desc_next(nullptr); d;
             d = av_pix_fmt_desc_next(d))
            LogText(llInfo, d->name);
        return;
    }
    const AVPixelFormat format = av_get_pix_fmt(value.c_str());
    if (format == AV_PIX_FMT_NONE)
        throw FFmpegException("Unknown pixel format requested: " + value);
    parser.State().FramePixelFormat = format;
}

constexpr const char* VerticalCropMessage =
    "Vertical crop dimensions are outside the range of the original image.\nRemember to crop "
    "first and scale second.";
constexpr const char* HorizontalCropMessage =
    "Horizontal crop dimensions are outside the range of the original image.\nRemember to crop "
    "first and scale second.";

// A crop band against the current frame size, which it reduces.
void CropBand(int value, int& band, int& size, const char* outsideMessage, const char* label) {
    if (value <= 0)
        return;
    if (value >= size)
        throw FFmpegException(outsideMessage);
    band = value;
    size -= value;
    Log(llWarning, "Crop%s is deprecated in favor of the crop avfilter", label);
}

void SetCropTop(OptionParser& parser, const std::string&, const std::string& value) {
    TranscoderState& s = parser.State();
    CropBand(ParseInteger(value), s.FrameTopBand, s.FrameHeight, VerticalCropMessage, "Top");
}
void SetCropBottom(OptionParser& parser, const std::string&, const std::string& value) {
    TranscoderState& s = parser.State();
    CropBand(ParseInteger(value), s.FrameBottomBand, s.FrameHeight, VerticalCropMessage, "Bottom");
}
void SetCropLeft(OptionParser& parser, const std::string&, const std::string& value) {
    TranscoderState& s = parser.State();
    CropBand(ParseInteger(value), s.FrameLeftBand, s.FrameWidth, HorizontalCropMessage, "Left");
}
void SetCropRight(OptionParser& parser, const std::string&, const std::string& value) {
    TranscoderState& s = parser.State();
    CropBand(ParseInteger(value), s.FrameRightBand, s.FrameWidth, HorizontalCropMessage, "Right");
}

void RefusePadding(OptionParser&, const std::string&, const std::string&) {
    throw FFmpegException("Please use vfilters=pad");
}

void SetQScale(OptionParser& parser, const std::string&, const std::string& value) {
    const double scale = ParseFloat(value);
    if (!(scale > 0.0 && scale <= 255.0))
        throw FFmpegException("qscale must be > 0.0 and <= 255");
    parser.State().VideoQScale = static_cast<float>(scale);
}

// "copy" asks for the stream to be copied; any other text names the codec.
template <std::string TranscoderState::*Name, bool TranscoderState::*Copy>
void SetCodec(OptionParser& parser, const std::string&, const std::string& value) {
    if (value == "copy")
        parser.State().*Copy = true;
    else
        parser.State().*Name = value;
}

void SetPass(OptionParser& parser, const std::string&, const std::string& value) {
    const int pass = ParseInteger(value);
    if (pass != 1 && pass != 2)
        throw FFmpegException("pass number can be only 1 or 2");
    parser.State().Pass = pass;
}

void SetVideoStats(OptionParser& parser, const std::string&, const std::string&) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char clock[16];
    std::strftime(clock, sizeof clock, "%H%M%S", &local);
    parser.State().VideoStatsFile = ProgramFolder() + "vstats_" + clock + ".log";
}

void AddVideoHook(OptionParser& parser, const std::string&, const std::string& value) {
    const char separator = value.find('|') != std::string::npos ? '|' : ' ';
    std::vector<std::string> args;
    size_t start = 0;
    while (start <= value.size() && args.size() < 254) {
        size_t end = value.find(separator, start);
        if (end == std::string::npos)
            end = value.size();
        if (end > start)
            args.push_back(value.substr(start, end - start));
        start = end + 1;
    }
    if (args.empty() || !parser.Files().AddVideoHook(args))
        throw FFmpegException("Failed to add video hook function: " + value);
}

void SetVideoFilters(OptionParser& parser, const std::string&, const std::string& value) {
    if (!value.empty())
        parser.State().VideoFilters = value;
}

void SetIntraMatrix(OptionParser& parser, const std::string&, const std::string& value) {
    parser.State().IntraMatrix = ParseMatrix(value);
}

void SetInterMatrix(OptionParser& parser, const std::string&, const std::string& value) {
    parser.State().InterMatrix = ParseMatrix(value);
}

template <uint32_t TranscoderState::*Tag>
void SetTag(OptionParser& parser, const std::string& name, const std::string& value) {
    if (value.size() != 4) {
        const char* kind = name[0] == 'v' ? "video" : name[0] == 'a' ? "audio" : "subtitle";
        throw FFmpegException(std::string(kind) + " tag parameter must be 4 chars");
    }
    parser.State().*Tag = FourCharacterTag(value);
}

template <std::string TranscoderState::*Text>
void SetText(OptionParser& parser, const std::string&, const std::string& value) {
    parser.State().*Text = value;
}

template <bool TranscoderState::*Flag>
void SetSwitch(OptionParser& parser, const std::string&, const std::string& value) {
    parser.State().*Flag = SwitchValue(value);
}

template <int TranscoderState::*Number>
void SetInteger(OptionParser& parser, const std::string&, const std::string& value) {
    parser.State().*Number = ParseInteger(value);
}

template <float TranscoderState::*Number>
void SetFloat(OptionParser& parser, const std::string&, const std::string& value) {
    parser.State().*Number = static_cast<float>(ParseFloat(value));
}

template <AVMediaType Kind>
void NewStream(OptionParser& parser, const std::string&, const std::string&) {
    TranscoderState& state = parser.State();
    if (state.OutputFiles.empty())
        throw FFmpegException("At least one output file must be specified");
    parser.Files().NewStream(Kind);
    // What was gathered for this stream applies to it only.
    switch (Kind) {
        case AVMEDIA_TYPE_VIDEO:
            state.VideoDisable = false;
            state.VideoCodecName.clear();
            state.VideoStreamCopy = false;
            state.FramePixelFormat = AV_PIX_FMT_NONE;
            break;
        case AVMEDIA_TYPE_AUDIO:
            state.AudioDisable = false;
            state.AudioCodecName.clear();
            state.AudioStreamCopy = false;
            break;
        default:
            state.SubtitleDisable = false;
            state.SubtitleCodecName.clear();
            state.SubtitleStreamCopy = false;
            break;
    }
}

void SetStreamId(OptionParser& parser, const std::string& name, const std::string& value) {
    const size_t colon = value.find(':');
    const std::string syntax = "Invalid value \"" + value + "\" for option \"" + name +
                               "\", required syntax is \"index:value\"";
    if (colon == std::string::npos || colon == 0 || colon + 1 == value.size())
        throw FFmpegException(syntax);
    const int index = ParseInteger(value.substr(0, colon));
    const int id = ParseInteger(value.substr(colon + 1));
    if (index < 0 || index >= MaxStreams)
        throw FFmpegException("stream index over MAX_STREAMS(" + std::to_string(MaxStreams) + ")");
    parser.State().StreamIdMap[index] = id;
}

void SetSampleRate(OptionParser& parser, const std::string&, const std::string& value) {
    const int rate = ParseInteger(value);
    if (rate > 0)
        parser.State().AudioSampleRate = rate;
}

void SetChannels(OptionParser& parser, const std::string&, const std::string& value) {
    const int channels = ParseInteger(value);
    if (channels > 0)
        parser.State().AudioChannels = channels;
}

void SetSampleFormat(OptionParser& parser, const std::string&, const std::string& value) {
    if (value == "list") {
        for (const char* name : {"u8", "s16", "s32", "flt", "dbl"}) LogText(llInfo, name);
        return;
    }
    const AVSampleFormat format = av_get_sample_fmt(value.c_str());
    if (format == AV_SAMPLE_FMT_NONE)
        throw FFmpegException("Unknown sample format requested: " + value);
    parser.State().AudioSampleFormat = format;
}

template <std::vector<std::string> TranscoderState::*Chain>
void AddBitstreamFilter(OptionParser& parser, const std::string&, const std::string& value) {
    if (!value.empty() && value[0] == '=')
        return;
    const std::string filter = value.substr(0, value.find('='));
    if (!av_bsf_get_by_name(filter.c_str()))
        throw FFmpegException("Unknown bitstream filter " + filter);
    (parser.State().*Chain).push_back(filter);
}

void ApplyPresetOption(OptionParser& parser, const std::string& name, const std::string& value) {
    parser.ApplyPreset(name[0], value);
}

using S = TranscoderState;

const std::unordered_map<std::string_view, Handler>& Handlers() {
    static const std::unordered_map<std::string_view, Handler> handlers = {
        // Informational options of the command line: nothing to do in a task.
        {"L", LogNothing},
        {"h", LogNothing},
        {"version", LogNothing},
        {"formats", LogNothing},
        {"codecs", LogNothing},
        {"bsfs", LogNothing},
        {"protocols", LogNothing},
        {"filters", LogNothing},
        {"i", LogNothing},
        {"y", LogNothing},
        {"benchmark", LogNothing},
        {"loglevel", SetLogLevelOption},
        // Container and timing
        {"f", SetFormat},
        {"map", AddStreamMap},
        {"map_meta_data", AddMetaDataMap},
        {"t", SetRecordingTime},
        {"ss", SetStartTime},
        {"itsoffset", SetInputOffset},
        {"timestamp", SetTimestamp},
        {"fs", SetFileSizeLimit},
        {"itsscale", SetTimestampScale},
        {"metadata", AddMetadata},
        {"dframes", SetFrameLimit<AVMEDIA_TYPE_DATA>},
        {"vframes", SetFrameLimit<AVMEDIA_TYPE_VIDEO>},
        {"aframes", SetFrameLimit<AVMEDIA_TYPE_AUDIO>},
        {"timelimit", WarnTimeLimit},
        {"dump", SetSwitch<&S::PacketDump>},
        {"hex", SetSwitch<&S::HexDump>},
        {"re", SetSwitch<&S::ReadAtNativeRate>},
        {"loop_input", SetSwitch<&S::LoopInput>},
        {"shortest", SetSwitch<&S::Shortest>},
        {"intra", SetSwitch<&S::IntraOnly>},
        {"vn", SetSwitch<&S::VideoDisable>},
        {"sameq", SetSwitch<&S::SameQuality>},
        {"deinterlace", SetSwitch<&S::Deinterlace>},
        {"psnr", SetSwitch<&S::DoPsnr>},
        {"qphist", SetSwitch<&S::QpHistogram>},
        {"force_fps", SetSwitch<&S::ForceFps>},
        {"an", SetSwitch<&S::AudioDisable>},
        {"sn", SetSwitch<&S::SubtitleDisable>},
        {"isync", SetSwitch<&S::InputSync>},
        {"loop_output", SetInteger<&S::LoopOutput>},
        {"v", SetInteger<&S::Verbose>},
        {"vsync", SetInteger<&S::VideoSyncMethod>},
        {"async", SetInteger<&S::AudioSyncMethod>},
        {"vglobal", SetInteger<&S::VideoGlobalHeader>},
        {"programid", SetInteger<&S::ProgramId>},
        {"copyinkf", SetInteger<&S::CopyInitialNonKeyFrames>},
        {"vdt", SetInteger<&S::VideoDiscard>},
        {"dc", SetInteger<&S::IntraDcPrecision>},
        {"top", SetInteger<&S::TopFieldFirst>},
        {"me_threshold", SetInteger<&S::MeThreshold>},
        {"vc", SetInteger<&S::VideoChannel>},
        {"vol", SetInteger<&S::AudioVolume>},
        {"adrift_threshold", SetFloat<&S::AudioDriftThreshold>},
        {"dts_delta_threshold", SetFloat<&S::DtsDeltaThreshold>},
        {"aq", SetFloat<&S::AudioQScale>},
        {"muxdelay", SetFloat<&S::MuxMaxDelay>},
        {"muxpreload", SetFloat<&S::MuxPreload>},
        {"copyts", SetCopyTimestamps},
        {"xerror", SetExitOnError},
        {"target", SetTarget},
        {"threads", RefuseThreads},
        // Video
        {"b", SetBitrate},
        {"vb", SetBitrate},
        {"ab", SetBitrate},
        {"r", SetFrameRate},
        {"s", SetFrameSize},
        {"aspect", SetAspect},
        {"pix_fmt", SetPixelFormat},
        {"croptop", SetCropTop},
        {"cropbottom", SetCropBottom},
        {"cropleft", SetCropLeft},
        {"cropright", SetCropRight},
        {"padtop", RefusePadding},
        {"padbottom", RefusePadding},
        {"padleft", RefusePadding},
        {"padright", RefusePadding},
        {"padcolor", RefusePadding},
        {"qscale", SetQScale},
        {"rc_override", SetText<&S::VideoRcOverride>},
        {"vcodec", SetCodec<&S::VideoCodecName, &S::VideoStreamCopy>},
        {"acodec", SetCodec<&S::AudioCodecName, &S::AudioStreamCopy>},
        {"scodec", SetCodec<&S::SubtitleCodecName, &S::SubtitleStreamCopy>},
        {"pass", SetPass},
        {"passlogfile", SetText<&S::PassLogFilePrefix>},
        {"vstats", SetVideoStats},
        {"vstats_file", SetText<&S::VideoStatsFile>},
        {"vhook", AddVideoHook},
        {"vfilters", SetVideoFilters},
        {"vf", SetVideoFilters},
        {"intra_matrix", SetIntraMatrix},
        {"inter_matrix", SetInterMatrix},
        {"vtag", SetTag<&S::VideoCodecTag>},
        {"atag", SetTag<&S::AudioCodecTag>},
        {"stag", SetTag<&S::SubtitleCodecTag>},
        {"vlang", SetText<&S::VideoLanguage>},
        {"alang", SetText<&S::AudioLanguage>},
        {"slang", SetText<&S::SubtitleLanguage>},
        {"tvstd", SetText<&S::VideoStandard>},
        // Streams of the last output
        {"newvideo", NewStream<AVMEDIA_TYPE_VIDEO>},
        {"newaudio", NewStream<AVMEDIA_TYPE_AUDIO>},
        {"newsubtitle", NewStream<AVMEDIA_TYPE_SUBTITLE>},
        {"streamid", SetStreamId},
        {"ar", SetSampleRate},
        {"ac", SetChannels},
        {"sample_fmt", SetSampleFormat},
        {"absf", AddBitstreamFilter<&S::AudioBitstreamFilters>},
        {"vbsf", AddBitstreamFilter<&S::VideoBitstreamFilters>},
        {"sbsf", AddBitstreamFilter<&S::SubtitleBitstreamFilters>},
        {"apre", ApplyPresetOption},
        {"vpre", ApplyPresetOption},
        {"spre", ApplyPresetOption},
        {"fpre", ApplyPresetOption},
    };
    return handlers;
}

}  // namespace

OptionParser::OptionParser(TranscoderState& state, TranscoderFiles& files)
    : state_(state), files_(files) {}

void OptionParser::SetOption(const std::string& name, const std::string& value) {
    const auto& handlers = Handlers();
    const auto handler = handlers.find(name);
    if (handler != handlers.end())
        handler->second(*this, name, value);
    else
        GenericOption(name, value);
}

void OptionParser::ApplyPreset(char kind, const std::string& name) {
    if (name.empty())
        return;
    const std::string* codecName = kind == 'v'   ? &state_.VideoCodecName
                                   : kind == 'a' ? &state_.AudioCodecName
                                   : kind == 's' ? &state_.SubtitleCodecName
                                                 : nullptr;
    const std::string codec = codecName ? *codecName : std::string();
    const std::string text = PresetText(kind, name, codec);
    if (IsLibx264Preset(kind, name, codec)) {
        const OptionList& video = state_.Generic.Codec[AVMEDIA_TYPE_VIDEO];
        for (const LegacyDefault& setting : Libx264LegacyDefaults())
            if (!FindListOption(video, setting.CurrentName))
                GenericOption(setting.Name, setting.Value);
    }
    for (const std::string& line : PresetLines(text)) {
        const size_t equals = line.find('=');
        const std::string key =
            equals == std::string::npos ? line : TrimText(line.substr(0, equals));
        const std::string value =
            equals == std::string::npos ? "" : TrimText(line.substr(equals + 1));
        if (equals == std::string::npos || key.empty() || value.empty())
            throw FFmpegException(name + ": Invalid syntax: \"" + line + "\"");
        const std::string lowerKey = LowerText(key);
        if (lowerKey == "acodec" || lowerKey == "vcodec" || lowerKey == "scodec") {
            SetOption(lowerKey, value);
        } else if (!GenericOption(key, value)) {
            throw FFmpegException(name + ": Invalid option or argument: \"" + line +
                                  "\", parsed as \"" + key + "\" = \"" + value + "\"");
        }
    }
}

}  // namespace kavel
