#include "engine/OptionRecords.h"

#include <cmath>
#include <ctime>
#include <map>

#include "engine/FFmpegException.h"
#include "engine/OptionParser.h"
#include "engine/OptionText.h"

namespace kavel {

namespace {

// Days between 30 December 1899 and 1 January 1970.
constexpr double UnixEpochDays = 25569.0;

bool Among(const std::string& name, std::initializer_list<const char*> names) {
    for (const char* candidate : names)
        if (name == candidate)
            return true;
    return false;
}

std::string Decimal(int value) {
    return std::to_string(value);
}

// Lines an input's text never applies: streams and presets belong to outputs.
bool SkippedForInput(const std::string& name) {
    return Among(name,
                 {"newvideo", "newaudio", "newsubtitle", "apre", "vpre", "spre", "vfilters", "vf"});
}

// Lines of an output's text that the working list or the stream pass apply.
bool SkippedForOutput(const std::string& name) {
    return Among(name, {"newvideo", "newaudio", "newsubtitle", "apre", "vpre", "spre", "vfilters",
                        "vf", "acodec", "vcodec", "scodec", "s"});
}

bool Queued(const std::string& name) {
    return Among(name, {"acodec", "vcodec", "scodec", "apre", "vpre", "spre", "s", "vf"});
}

// Defaults of the per-stream options of an output and the per-stream values
// queued from its text, consumed by the streams added after it opened.
class WorkingList {
public:
    WorkingList(const OutputOptions& record, const std::vector<OptionLine>& lines) {
        defaults_ = {{"acodec", record.AudioCodec},    {"vcodec", record.VideoCodec},
                     {"scodec", record.SubtitleCodec}, {"apre", record.AudioPreset},
                     {"vpre", record.VideoPreset},     {"spre", record.SubtitlePreset},
                     {"s", record.FrameSize},          {"vf", record.VideoFilters}};
        for (const OptionLine& line : lines) {
            const std::string name = line.Name == "vfilters" ? "vf" : line.Name;
            if (!Queued(name) || TrimText(line.Value).empty())
                continue;
            if (defaults_[name].empty())
                defaults_[name] = line.Value;
            queue_.push_back({name, line.Value});
        }
    }

    const std::string& Default(const std::string& name) { return defaults_[name]; }

    // The first queued value of name (removed from the queue), else its default.
    std::string Take(const std::string& name) {
        for (auto entry = queue_.begin(); entry != queue_.end(); ++entry) {
            if (entry->Name != name)
                continue;
            std::string value = entry->Value;
            queue_.erase(entry);
            return value;
        }
        return defaults_[name];
    }

private:
    std::map<std::string, std::string> defaults_;
    std::vector<OptionLine> queue_;
};

// Applies a queued or default per-stream option.
void ApplyStreamOption(OptionParser& parser, const std::string& name, const std::string& value) {
    if (value.empty())
        return;
    if (name == "apre" || name == "vpre" || name == "spre")
        parser.ApplyPreset(name[0], value);
    else
        parser.SetOption(name, value);
}

TargetNorm RecordNorm(int norm) {
    if (norm == 1)
        return TargetNorm::Pal;
    if (norm == 2)
        return TargetNorm::Ntsc;
    return TargetNorm::Auto;
}

void ApplyOutputFields(OptionParser& parser, const OutputOptions& r) {
    TranscoderState& state = parser.State();
    auto setIf = [&](bool condition, const char* name, const std::string& value) {
        if (condition)
            parser.SetOption(name, value);
    };
    setIf(!r.FileFormat.empty(), "f", r.FileFormat);
    setIf(r.PacketSize > 0, "packetsize", Decimal(r.PacketSize));
    setIf(r.MuxRate > 0, "muxrate", Decimal(r.MuxRate));
    if (r.MuxDelay > 0.0f)
        state.MuxMaxDelay = r.MuxDelay;
    if (r.MuxPreload > 0.0f)
        state.MuxPreload = r.MuxPreload;
    setIf(r.DisableAudio, "an", "1");
    if (r.AudioVolume >= 0)
        state.AudioVolume = r.AudioVolume;
    setIf(r.AudioChannels > 0, "ac", Decimal(r.AudioChannels));
    setIf(r.AudioSampleRate > 0, "ar", Decimal(r.AudioSampleRate));
    setIf(r.AudioBitrate > 0, "ab", Decimal(r.AudioBitrate));
    setIf(r.AudioBitrateTolerance > 0, "abt", Decimal(r.AudioBitrateTolerance));
    parser.SetOption("alang", r.AudioLanguage);
    state.AudioSyncMethod = r.AudioSyncMethod;
    setIf(!r.AudioTag.empty(), "atag", r.AudioTag);
    setIf(r.DisableVideo, "vn", "1");
    setIf(!r.FrameRate.empty(), "r", r.FrameRate);
    setIf(!r.AspectRatio.empty(), "aspect", r.AspectRatio);
    setIf(r.CropTop > 0, "croptop", Decimal(r.CropTop));
    setIf(r.CropBottom > 0, "cropbottom", Decimal(r.CropBottom));
    setIf(r.CropLeft > 0, "cropleft", Decimal(r.CropLeft));
    setIf(r.CropRight > 0, "cropright", Decimal(r.CropRight));
    setIf(r.GopSize > 0, "g", Decimal(r.GopSize));
    setIf(r.VideoBitrate > 0, "vb", Decimal(r.VideoBitrate));
    setIf(r.VideoMaxRate > 0, "maxrate", Decimal(r.VideoMaxRate));
    setIf(r.VideoMinRate > 0, "minrate", Decimal(r.VideoMinRate));
    setIf(r.VideoBitrateTolerance > 0, "bt", Decimal(r.VideoBitrateTolerance));
    setIf(r.VideoBufSize > 0, "bufsize", Decimal(r.VideoBufSize));
    state.VideoSyncMethod = r.VideoSyncMethod;
    setIf(!r.VideoTag.empty(), "vtag", r.VideoTag);
    parser.SetOption("vlang", r.VideoLanguage);
    setIf(r.DisableSubtitle, "sn", "1");
    parser.SetOption("slang", r.SubtitleLanguage);
    state.InputSync = r.InputSync;
    setIf(r.CopyTimestamps, "copyts", "1");
    if (r.StartTime != NoTime)
        state.StartTime = r.StartTime;
    if (r.Duration != NoTime)
        state.RecordingTime = r.Duration;

    const kavel::StreamInfo& info = r.StreamInfo;
    if (info.Timestamp >= 0.0)
        state.RecordingTimestamp = TimestampSeconds(info.Timestamp);
    auto metadata = [&](bool condition, const char* key, const std::string& value) {
        if (condition)
            state.Metadata.push_back({key, value});
    };
    metadata(info.Year > 0, "year", Decimal(info.Year));
    metadata(info.Track > 0, "track", Decimal(info.Track));
    metadata(!info.Title.empty(), "title", info.Title);
    metadata(!info.Author.empty(), "author", info.Author);
    metadata(!info.Copyright.empty(), "copyright", info.Copyright);
    metadata(!info.Comment.empty(), "comment", info.Comment);
    metadata(!info.Album.empty(), "album", info.Album);
    metadata(!info.Genre.empty(), "genre", info.Genre);
}

// The streams asked for by the text, each with its own queued settings.
void AddQueuedStreams(OptionParser& parser, const std::vector<OptionLine>& lines,
                      WorkingList& list) {
    static const std::map<std::string, std::vector<std::string>> streamOptions = {
        {"newaudio", {"acodec", "apre"}},
        {"newvideo", {"vcodec", "vpre", "s", "vf"}},
        {"newsubtitle", {"scodec", "spre"}},
    };
    for (const OptionLine& line : lines) {
        const auto names = streamOptions.find(line.Name);
        if (names == streamOptions.end())
            continue;
        for (const std::string& name : names->second)
            ApplyStreamOption(parser, name, list.Take(name));
        parser.SetOption(line.Name, line.Value);
    }
}

}  // namespace

void InitInputOptions(InputOptions& record) {
    record = InputOptions();
}

void InitOutputOptions(OutputOptions& record) {
    record = OutputOptions();
}

std::vector<OptionLine> ExtendedOptionLines(const std::string& text) {
    const std::string breaks = NormaliseLineBreaks(TrimText(text));
    // "<CRLF>" lets a whole option list live on one line of a settings file.
    std::string normalised;
    size_t start = 0;
    for (size_t pos = breaks.find("<CRLF>"); pos != std::string::npos;
         pos = breaks.find("<CRLF>", start)) {
        normalised.append(breaks, start, pos - start);
        normalised += '\n';
        start = pos + 6;
    }
    normalised.append(breaks, start, std::string::npos);
    std::vector<OptionLine> lines;
    for (const std::string& line : SplitLines(normalised)) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            lines.push_back({LowerText(line), ""});
        else
            lines.push_back({LowerText(line.substr(0, equals)), line.substr(equals + 1)});
    }
    return lines;
}

double LocalOffsetDays() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return static_cast<double>(local.tm_gmtoff) / 86400.0;
}

int64_t TimestampSeconds(double dateTime, double localOffsetDays) {
    if (dateTime == 0.0) {
        // The current moment as a local date-time.
        dateTime =
            static_cast<double>(std::time(nullptr)) / 86400.0 + UnixEpochDays + localOffsetDays;
    }
    return std::llround((dateTime - UnixEpochDays - localOffsetDays) * 86400.0);
}

int64_t TimestampSeconds(double dateTime) {
    return TimestampSeconds(dateTime, LocalOffsetDays());
}

void ApplyInputRecord(OptionParser& parser, InputOptions* record, const std::string& fileName) {
    if (record) {
        if (record->FileName.empty())
            record->FileName = fileName;
        for (const OptionLine& line : ExtendedOptionLines(record->ExtOptions))
            if (!SkippedForInput(line.Name))
                parser.SetOption(line.Name, line.Value);
        if (!record->FileFormat.empty())
            parser.SetOption("f", record->FileFormat);
        if (record->StartTime != NoTime)
            parser.State().StartTime = record->StartTime;
        if (record->ProgramID >= 0)
            parser.SetOption("programid", Decimal(record->ProgramID));
    }
    if (!parser.Files().OpenInputFile(fileName))
        throw FFmpegException(parser.Files().ErrorText());
}

int ApplyOutputRecord(OptionParser& parser, OutputOptions* record, const std::string& fileName) {
    bool join = false;
    std::vector<OptionLine> lines;
    if (record) {
        if (record->FileName.empty())
            record->FileName = fileName;
        const OutputOptions& r = *record;
        lines = ExtendedOptionLines(r.ExtOptions);
        WorkingList list(r, lines);

        if (r.TargetType >= 1 && r.TargetType <= 3) {
            const char* types[] = {"vcd", "svcd", "dvd"};
            parser.ApplyTarget(types[r.TargetType - 1], RecordNorm(r.TargetNorm),
                               r.TargetDefaultNorm == 1 ? TargetNorm::Pal : TargetNorm::Ntsc);
        }
        for (const char* name : {"acodec", "vcodec", "scodec", "apre", "vpre", "spre"})
            ApplyStreamOption(parser, name, list.Default(name));
        for (const OptionLine& line : lines)
            if (!SkippedForOutput(line.Name))
                parser.SetOption(line.Name, line.Value);
        ApplyOutputFields(parser, r);
        parser.SetOption("s", list.Default("s"));
        parser.SetOption("vf", list.Default("vf"));
        if (r.CustomHook)
            parser.Files().EnableCustomHook();
        join = r.Join;

        const int index = parser.Files().OpenOutputFile(fileName, join);
        if (index < 0) {
            InitOutputOptions(*record);
            throw FFmpegException(parser.Files().ErrorText());
        }
        AddQueuedStreams(parser, lines, list);
        return index;
    }
    const int index = parser.Files().OpenOutputFile(fileName, join);
    if (index < 0)
        throw FFmpegException(parser.Files().ErrorText());
    return index;
}

}  // namespace kavel
