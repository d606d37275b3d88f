#include "profiles/JobBuilder.h"

#include "app/IniFile.h"
#include "app/Prompter.h"
#include "engine/EngineLogger.h"
#include "engine/OptionRecords.h"
#include "probe/MediaProbe.h"
#include "profiles/ProfileCatalog.h"
#include "queue/FilesRecord.h"

#include <QSet>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace kavel {

namespace {

using namespace profile;

// The encoders whose names the engine takes as they are; any other text leaves the container's
// default encoder in charge.
const QSet<QString>& KnownVideoCodecs() {
    static const QSet<QString> codecs = {
        "mpeg4", "libxvid", "mpeg1video", "mpeg2video", "msmpeg4", "msmpeg4v1", "msmpeg4v2",
        "huffyuv", "dvvideo", "rawvideo", "h263p", "h263", "rv10", "rv20", "ljpeg", "mjpeg",
        "svq1", "zlib", "wmv1", "wmv2", "libx264"};
    return codecs;
}

const QSet<QString>& ForcedMuxers() {
    static const QSet<QString> muxers = {"ipod", "3gp", "3g2", "avi", "psp",
                                         "mov",  "vcd", "flv", "mpegts", "vob"};
    return muxers;
}

// Profile families whose profiles are made for one device: their lists hold what the device
// plays, so the largest size and bit rate listed are the device's limits.
constexpr int kDeviceFamilies[] = {0, 1, 2};

// Four-character tags that players look for in an AVI: the profile and the encoder decide.
struct VideoTagRule {
    int Code;  // -1: any profile
    const char* Encoder;
    const char* Tag;
};

constexpr VideoTagRule kVideoTags[] = {
    {406, "mpeg4", "DIVX"},
    {407, "mpeg4", "XVID"},
    {-1, "libxvid", "XVID"},
};

// The H.264 levels from 3.0 up with their frame size (macroblocks) and macroblock rate limits.
struct H264Level {
    int Level;
    long MaxFrameSize;
    long MaxMacroblockRate;
};

constexpr H264Level kH264Levels[] = {
    {30, 1620, 40500},    {31, 3600, 108000},   {32, 5120, 216000},
    {40, 8192, 245760},   {42, 8704, 522240},   {50, 22080, 589824},
    {51, 36864, 983040},  {52, 36864, 2073600},
};

// The lowest level from 3.0 up that a width x height picture at this rate fits, the highest
// when none does.
int H264LevelFor(int width, int height, double frameRate) {
    const long macroblocks = long((width + 15) / 16) * long((height + 15) / 16);
    for (const H264Level& level : kH264Levels)
        if (macroblocks <= level.MaxFrameSize && macroblocks * frameRate <= level.MaxMacroblockRate)
            return level.Level;
    return std::end(kH264Levels)[-1].Level;
}

std::string Std(const QString& text) { return text.toStdString(); }

QString Number(long long value) { return QString::number(value); }

int Even(int value) { return (value / 2) * 2; }

// Trunc into an int; sizes of 0 make the ratios infinite, which must not become undefined.
int TruncInt(long double value) {
    if (!std::isfinite(value))
        return 0;
    return int(std::clamp<long double>(std::trunc(value), INT_MIN, INT_MAX));
}

class Builder {
public:
    Builder(const JobSources& sources, const FilesRecord& record, int code, OutputOptions& output,
            MediaProbe& probe, InputOptions& input)
        : sources_(sources),
          record_(record),
          code_(code),
          section_(ProfileSection(code)),
          output_(output),
          probe_(probe),
          input_(input) {}

    void Run() {
        ApplyDiscTarget();
        if (Para(paraVideoEncoder, QString()).trimmed().isEmpty()) {
            BuildAudioOnly();
            return;
        }
        const QString encoder = Para(paraVideoEncoder, QString());
        ChooseVideoCodec(encoder);
        QString filter;
        if (probe_.VideoStreamCount() <= 0) {
            output_.DisableVideo = true;
        } else {
            ReadSource();
            ChooseVideoBitrate();
            ChooseFrameRate();
            ChooseContainer();
            ChooseOutputSize();
            ClearUnsetCrop();
            filter = ApplyZoom();
            FitDevice(encoder);
        }
        AppendFilter(filter);
        ChooseVideoJobAudio();
    }

private:
    QString Para(const QString& key, const QString& def) const {
        return sources_.Settings.readString(section_, key, def);
    }
    QString CatalogFormat() const { return sources_.Catalog.Format(code_).toLower(); }

    void ApplyDiscTarget() {
        struct Target {
            const char* Keyword;
            int Type;
            int Norm;
            const char* WideSize;  // the size that makes a DVD 16:9; null for the fixed 4:3 ones
        };
        static const Target targets[] = {
            {"ntsc-dvd", 3, 2, "720x480"}, {"pal-dvd", 3, 1, "720x576"},
            {"ntsc-vcd", 1, 2, nullptr},   {"pal-vcd", 1, 1, nullptr},
            {"ntsc-svcd", 2, 2, nullptr},  {"pal-svcd", 2, 1, nullptr},
        };
        const QString format = CatalogFormat();
        for (const Target& target : targets) {
            if (format != QLatin1String(target.Keyword))
                continue;
            output_.TargetType = target.Type;
            output_.TargetNorm = target.Norm;
            output_.AspectRatio = "4:3";
            if (target.WideSize && Para(paraVideoSize, NoChoices) == QLatin1String(target.WideSize))
                output_.AspectRatio = "16:9";
        }
    }

    // The audio parameters shared by both kinds of job.
    void ChooseSampleRate() {
        const QString rate = Para(paraSampleRate, QStringLiteral("44100"));
        if (!IsAsSource(rate) && IsIntegerText(rate) && rate.toInt() > 0)
            output_.AudioSampleRate = rate.toInt();
    }

    void ChooseVolume() {
        const QString volume = Para(paraVolume, QStringLiteral("3"));
        if (volume == QLatin1String("256"))
            return;
        if (!IsIntegerText(volume))
            throw InvalidIntegerError(volume);
        output_.AudioVolume = volume.toInt();
    }

    void ChooseAudioBitrate() {
        const QString rate = Para(paraAudioBitRate, QStringLiteral("128"));
        if (IsAsSource(rate) || !IsNumberText(rate))
            return;
        const auto bitrate = static_cast<long long>(std::trunc(rate.toDouble() * 1000.0));
        if (bitrate > 0)
            output_.AudioBitrate = int(bitrate);
    }

    void BuildAudioOnly() {
        output_.AudioCodec = Std(Para(paraAudioEncoder, QStringLiteral("libfaac")));
        const QString channels = Para(paraChannel, QStringLiteral("2"));
        if (!IsAsSource(channels) && IsIntegerText(channels) && channels.toInt() > 0)
            output_.AudioChannels = channels.toInt();
        ChooseSampleRate();
        ChooseAudioBitrate();
        ChooseVolume();
        input_.ExtOptions = "vn=1";
        output_.DisableVideo = true;
        output_.DisableSubtitle = true;
    }

    void ChooseVideoCodec(const QString& encoder) {
        if (KnownVideoCodecs().contains(encoder))
            output_.VideoCodec = Std(encoder);
        if (encoder == QLatin1String("mpeg2video"))
            output_.TargetType = 3;
        if (encoder == H264Encoder) {
            const QString format = CatalogFormat();
            if (format == QLatin1String("psp"))
                output_.VideoPreset = "libx264-psp";
            else if (format == QLatin1String("ipod"))
                output_.VideoPreset = "libx264-ipod";
            else if (format == QLatin1String("ps3"))
                output_.VideoPreset = "libx264-ps3";
            else
                output_.VideoPreset = "libx264-mp4";
        }
    }

    void ReadSource() {
        VideoStreamInfo info;
        if (probe_.GetVideoStreamInfo(probe_.FirstVideoStream(), info)) {
            sourceWidth_ = info.Width;
            sourceHeight_ = info.Height;
            sourceBitrate_ = info.BitRate;
            if (info.FrameRateNum > 0 && info.FrameRateDen > 0)
                sourceFrameRate_ = double(info.FrameRateNum) / info.FrameRateDen;
        }
    }

    void ChooseVideoBitrate() {
        const QString rate = Para(paraVideoBitRate, QStringLiteral("512"));
        if (!IsAsSource(rate) && IsIntegerText(rate)) {
            if (rate.toInt() > 0)
                output_.VideoBitrate = rate.toInt() * 1000;
        } else {
            output_.VideoBitrate = sourceBitrate_;
        }
    }

    void ChooseFrameRate() {
        const QString rate = Para(paraFrameRate, QStringLiteral("29.97"));
        if (!IsAsSource(rate) && IsNumberText(rate) && rate.toDouble() > 0)
            output_.FrameRate = Std(rate);
    }

    void ChooseContainer() {
        const QString format = sources_.Catalog.Format(code_);
        if (ForcedMuxers().contains(format.toLower()))
            output_.FileFormat = Std(format);
    }

    void ChooseOutputSize() {
        QString size = Para(paraVideoSize, NoChoices);
        bool asSource = IsFrameSizeAsSource(size);
        const qsizetype p = size.indexOf(QLatin1Char('x')) + 1;  // from 1; 0 when absent
        if (!asSource && p >= 2 && p < size.size()) {
            const QString width = size.left(p - 1);
            const QString height = size.mid(p);
            outWidth_ = IsIntegerText(width) ? width.toInt() : sourceWidth_;
            outHeight_ = IsIntegerText(height) ? height.toInt() : sourceHeight_;
            FitH263Size(size);
            return;
        }
        if (!asSource) {
            asSource = !sources_.Prompt.AskYesNo(
                QStringLiteral("Warning"),
                QStringLiteral("Error output Video Size.Use the default size 320x240?"));
            if (!asSource) {
                outWidth_ = 320;
                outHeight_ = 240;
                return;
            }
        }
        outWidth_ = sourceWidth_;
        outHeight_ = sourceHeight_;
    }

    // H.263 accepts only its picture formats: other sizes move up to the next one.
    void FitH263Size(const QString& size) {
        static const QString allowed = QStringLiteral("704x576,352x288,176x144,160x120,128x96");
        if (QString::fromStdString(output_.VideoCodec).toLower() != QLatin1String("h263") ||
            allowed.contains(size))
            return;
        if (outWidth_ > 176 && outWidth_ <= 352) {
            outWidth_ = 352;
            outHeight_ = 288;
        } else if (outWidth_ > 352) {
            outWidth_ = 704;
            outHeight_ = 576;
        }
    }

    void ClearUnsetCrop() {
        for (int* crop : {&output_.CropTop, &output_.CropBottom, &output_.CropLeft, &output_.CropRight})
            if (*crop == -1)
                *crop = 0;
    }

    bool RecordCrops() const {
        return record_.CropTop > 0 || record_.CropLeft > 0 || record_.CropBottom > 0 ||
               record_.CropRight > 0;
    }

    struct Margins {
        int Top = 0, Bottom = 0, Left = 0, Right = 0;
    };

    // Fits the source into the output frame: the scaled picture rounded down to even, and
    // what is left split in two halves, each rounded down to even.
    Margins MarginRule() const {
        Margins m;
        const double t = double(sourceWidth_) / outWidth_;
        const double u = double(sourceHeight_) / outHeight_;
        if (t > u) {
            const int scaled = TruncInt(static_cast<long double>(sourceHeight_) / t);
            m.Top = m.Bottom = 2 * ((outHeight_ - 2 * (scaled / 2)) / 4);
        } else if (t < u) {
            const int scaled = TruncInt(static_cast<long double>(sourceWidth_) / u);
            m.Left = m.Right = 2 * ((outWidth_ - 2 * (scaled / 2)) / 4);
        }
        return m;
    }

    QString FrameSize(int w, int h) const { return Number(w) + 'x' + Number(h); }
    QString Aspect(int w, int h) const { return Number(w) + ':' + Number(h); }

    void SetSizeAndAspect(int w, int h) {
        output_.FrameSize = Std(FrameSize(w, h));
        output_.AspectRatio = Std(Aspect(w, h));
    }

    QString ApplyZoom() {
        const QString& zoom = record_.Zoom;
        if (zoom == ZoomFull)
            return ZoomStretch();
        if (zoom == ZoomLetterBox)
            return ZoomLetterBoxed();
        if (zoom == ZoomPanScan)
            return ZoomPanAndScan();
        if (zoom == ZoomCenter)
            return ZoomCentered();
        return {};
    }

    QString ZoomStretch() {
        if (RecordCrops()) {
            output_.CropTop = record_.CropTop;
            output_.CropBottom = record_.CropBottom;
            output_.CropLeft = record_.CropLeft;
            output_.CropRight = record_.CropRight;
        }
        SetSizeAndAspect(outWidth_, outHeight_);
        return {};
    }

    QString ZoomLetterBoxed() {
        const Margins m = MarginRule();
        const int innerWidth = outWidth_ - m.Left - m.Right;
        const int innerHeight = outHeight_ - m.Top - m.Bottom;
        const QString pad = QStringLiteral("pad=%1:%2:%3:%4").arg(outWidth_).arg(outHeight_).arg(m.Left).arg(m.Top);
        if (!RecordCrops()) {
            SetSizeAndAspect(innerWidth, innerHeight);
            return pad;
        }
        output_.AspectRatio = Std(Aspect(innerWidth, innerHeight));
        const int l = record_.CropLeft, t = record_.CropTop, r = record_.CropRight, b = record_.CropBottom;
        return QStringLiteral("crop=%1:%2:%3:%4,scale=%5:%6,")
                   .arg(l).arg(t).arg(sourceWidth_ - l - r).arg(sourceHeight_ - t - b)
                   .arg(innerWidth).arg(innerHeight) +
               pad;
    }

    QString ZoomPanAndScan() {
        constexpr long double K = 4.0L / 3.0L;
        const long double ws = sourceWidth_, hs = sourceHeight_;
        const long double r = (ws - record_.CropLeft - record_.CropRight) /
                              (hs - record_.CropTop - record_.CropBottom);
        if (r > K) {
            const long long x = TruncInt((ws / hs - K) * ws);
            const int c = int(std::llabs(x / 2)) + record_.CropLeft;
            output_.CropLeft = output_.CropRight = Even(c);
        } else if (r < K) {
            const long long x = TruncInt((hs / ws - K) * hs);
            const int c = int(std::llabs(x / 2)) + record_.CropTop;
            output_.CropTop = output_.CropBottom = Even(c);
        }
        SetSizeAndAspect(outWidth_, outHeight_);
        return {};
    }

    QString ZoomCentered() {
        const Margins m = MarginRule();
        const double t = double(sourceWidth_) / outWidth_;
        const double u = double(sourceHeight_) / outHeight_;
        int args[4] = {sourceWidth_, sourceHeight_, 0, 0};
        output_.FrameSize = Std(FrameSize(outWidth_, outHeight_));
        if (t > u) {
            if (outWidth_ <= sourceWidth_ && outHeight_ <= sourceHeight_)
                args[0] = outWidth_, args[1] = outHeight_, args[3] = m.Top;
            else
                args[1] = sourceHeight_ + 2 * m.Top, args[3] = m.Top;
        } else if (t < u) {
            output_.FrameSize = Std(FrameSize(outWidth_ - 2 * m.Left, outHeight_));
            args[0] = sourceWidth_ + 2 * m.Left, args[2] = m.Left;
        }
        output_.AspectRatio = Std(Aspect(outWidth_, outHeight_));
        return QStringLiteral("pad=%1:%2:%3:%4:black").arg(args[0]).arg(args[1]).arg(args[2]).arg(args[3]);
    }

    // What players of the profile's kind decode, whatever the source and the library's
    // defaults: today's encoders keep a 4:4:4 source's sampling, DV has one sampling per norm,
    // AVI players find MPEG-4 by its tag, and an H.264 level must cover the frame.
    void FitDevice(const QString& encoder) {
        if (encoder == QLatin1String("mpeg4") || encoder == QLatin1String("libxvid") ||
            encoder == H264Encoder)
            AddExtOption(QStringLiteral("pix_fmt=yuv420p"));
        else if (encoder == QLatin1String("dvvideo"))
            AddExtOption(outHeight_ == 480 ? QStringLiteral("pix_fmt=yuv411p")
                                           : QStringLiteral("pix_fmt=yuv420p"));
        for (const VideoTagRule& rule : kVideoTags)
            if ((rule.Code == -1 || rule.Code == code_) && encoder == QLatin1String(rule.Encoder)) {
                output_.VideoTag = rule.Tag;
                break;
            }
        if (encoder == H264Encoder) {
            const int level = H264LevelFor(outWidth_, outHeight_, OutputFrameRate());
            if (level > kH264Levels[0].Level)
                AddExtOption(QStringLiteral("level=%1").arg(level));
        }
        if (std::find(std::begin(kDeviceFamilies), std::end(kDeviceFamilies), code_ / 100) !=
            std::end(kDeviceFamilies))
            KeepWithinDeviceLimits(encoder);
    }

    double OutputFrameRate() const {
        if (!output_.FrameRate.empty())
            return QString::fromStdString(output_.FrameRate).toDouble();
        if (sourceFrameRate_ > 0)
            return sourceFrameRate_;
        return 30.0;
    }

    // The largest size and bit rate in the profile's own lists are what its device plays.
    // "As source" choices above them are reported; H.264's rate control is held to the limit.
    void KeepWithinDeviceLimits(const QString& encoder) {
        int maxWidth = 0, maxHeight = 0;
        for (const QString& item : sources_.Catalog.Choices(code_, ProfileParameter::VideoSize).Items) {
            const qsizetype x = item.indexOf(QLatin1Char('x'));
            if (x <= 0 || !IsIntegerText(item.left(x)) || !IsIntegerText(item.mid(x + 1)))
                continue;
            maxWidth = std::max(maxWidth, item.left(x).toInt());
            maxHeight = std::max(maxHeight, item.mid(x + 1).toInt());
        }
        int maxKbps = 0;
        for (const QString& item : sources_.Catalog.Choices(code_, ProfileParameter::VideoBitRate).Items)
            if (IsIntegerText(item))
                maxKbps = std::max(maxKbps, item.toInt());

        if (maxWidth > 0 && (outWidth_ > maxWidth || outHeight_ > maxHeight))
            Log(llWarning,
                "Profile %d: the frame size %dx%d is larger than the device plays (at most %dx%d)",
                code_, outWidth_, outHeight_, maxWidth, maxHeight);
        if (maxKbps > 0 && output_.VideoBitrate > maxKbps * 1000)
            Log(llWarning,
                "Profile %d: the video bit rate %d kbit/s is above what the device plays (at most "
                "%d kbit/s)",
                code_, output_.VideoBitrate / 1000, maxKbps);
        if (maxKbps > 0 && encoder == H264Encoder)
            output_.VideoMaxRate = maxKbps * 1000;
    }

    void AddExtOption(const QString& line) {
        if (!output_.ExtOptions.empty())
            output_.ExtOptions += '\n';
        output_.ExtOptions += Std(line);
    }

    void AppendFilter(const QString& filter) {
        if (output_.VideoFilters.empty())
            output_.VideoFilters = Std(filter);
        else
            output_.VideoFilters += "," + Std(filter);
    }

    void ChooseVideoJobAudio() {
        QString encoder = Para(paraAudioEncoder, QString());
        if (encoder == QLatin1String("libamr_nb"))
            encoder = QStringLiteral("libopencore_amrnb");
        output_.AudioCodec = Std(encoder);
        if (encoder.trimmed().isEmpty())
            output_.DisableAudio = true;
        const QString channels = Para(paraChannel, QStringLiteral("2"));
        if (!IsAsSource(channels) && IsIntegerText(channels))
            output_.AudioChannels = channels.toInt();
        ChooseVolume();
        ChooseSampleRate();
        ChooseAudioBitrate();
    }

    const JobSources& sources_;
    const FilesRecord& record_;
    const int code_;
    const QString section_;
    OutputOptions& output_;
    MediaProbe& probe_;
    InputOptions& input_;

    int sourceWidth_ = 0;
    int sourceHeight_ = 0;
    int sourceBitrate_ = -1;
    double sourceFrameRate_ = 0.0;
    int outWidth_ = 0;
    int outHeight_ = 0;
};

}  // namespace

void BuildConversionJob(const JobSources& sources, const FilesRecord& record, int code,
                        OutputOptions& output, MediaProbe& probe, InputOptions& input) {
    Builder(sources, record, code, output, probe, input).Run();
}

}  // namespace kavel
