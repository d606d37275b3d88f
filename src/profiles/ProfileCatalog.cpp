#include "profiles/ProfileCatalog.h"

#include <QRegularExpression>

#include <span>

namespace kavel {

namespace {

struct NamePair {
    const char* Display;
    const char* Engine;
};

// Display names in lower case. The other video names the engine knows map to themselves.
constexpr NamePair kVideoEncoders[] = {
    {"mpeg-4", "mpeg4"},
    {"xvid", "libxvid"},
    {"h264", "libx264"},
};

constexpr const char* kSameNameVideoEncoders[] = {
    "3gp",     "3g2",       "mov",       "wmv1",       "wmv2",       "wmv3",  "flv",   "swf",
    "msmpeg4", "msmpeg4v1", "msmpeg4v2", "mpeg1video", "mpeg2video", "h263",  "h263p", "rawvideo",
    "rv10",    "rv20",      "dvvideo",   "huffyuv",    "ljpeg",      "mjpeg", "svq1",  "zlib",
};

// "pcm_mulaw " carries its trailing blank: that is how the item is written in the catalog.
constexpr NamePair kAudioEncoders[] = {
    {"mp3", "libmp3lame"},
    {"ogg", "vorbis"},
    {"mp2", "mp2"},
    {"aac", "libfaac"},
    {"ac-3", "ac3"},
    {"flac", "libflac"},
    {"amr_nb", "libopencore_amrnb"},
    {"pcm_s16", "pcm_s16le"},
    {"pcm_u16", "pcm_u16le"},
    {"pcm_alaw", "pcm_alaw"},
    {"pcm_mulaw ", "pcm_mulaw"},
    {"adpcm_ms", "adpcm_ms"},
    {"adpcm_ima_wav", "adpcm_ima_wav"},
    {"wma1", "wmav1"},
    {"wma2", "wmav2"},
};

constexpr NamePair kChannels[] = {
    {"as source", "as source"},
    {"mono 1 channel", "1"},
    {"stereo 2 channels", "2"},
};

// The volumes the engine scales by: percent * 256 / 100.
constexpr int kVolumePercents[] = {25, 50, 75, 100, 125, 150, 175, 200, 250, 300, 350, 400};

std::optional<QString> Lookup(const QString& text, std::span<const NamePair> table) {
    for (const NamePair& pair : table) {
        if (text == QLatin1String(pair.Display))
            return QString::fromLatin1(pair.Engine);
    }
    return std::nullopt;
}

const std::array<ParameterKeys, 9>& KeyTable() {
    using namespace profile;
    static const std::array<ParameterKeys, 9> table = {{
        {VideoSize, iVideoSize, paraVideoSize, false},
        {VideoBitRate, iVideoBitRate, paraVideoBitRate, false},
        {FrameRate, iFrameRate, paraFrameRate, false},
        {VideoEncoder, iVideoEncoder, paraVideoEncoder, true},
        {AudioBitRate, iAudioBitRate, paraAudioBitRate, true},
        {SampleRate, iSampleRate, paraSampleRate, true},
        {AudioEncoder, iAudioEncoder, paraAudioEncoder, true},
        {Channel, iChannel, paraChannel, true},
        {Volume, iVolume, paraVolume, true},
    }};
    return table;
}

// The mapped value of a choice, or std::nullopt when the value key keeps what it holds.
std::optional<QString> ValueToStore(ProfileParameter parameter, const QString& text) {
    switch (parameter) {
        case ProfileParameter::VideoEncoder:
            return VideoEncoderName(text);
        case ProfileParameter::AudioEncoder:
            return AudioEncoderName(text);
        case ProfileParameter::Channel:
            return ChannelValue(text);
        case ProfileParameter::Volume:
            return VolumeValue(text);
        default:
            return text;
    }
}

struct H264Extra {
    const QString& Key;
    int Minimum;  // copied when the integer value is at least this
};

}  // namespace

const ParameterKeys& KeysOf(ProfileParameter parameter) {
    return KeyTable()[size_t(parameter)];
}

InvalidIntegerError::InvalidIntegerError(const QString& text)
    : std::runtime_error(
          QStringLiteral("'%1' is not a valid integer value").arg(text).toStdString()) {}

QString ProfileSection(int code) {
    return profile::SectionPrefix + QString::number(code);
}

QStringList SplitList(const QString& value) {
    QStringList items;
    QString item;
    for (const QChar c : value) {
        if (c == QLatin1Char(',')) {
            items.append(item);
            item.clear();
        } else {
            item.append(c);
        }
    }
    items.append(item);
    return items;
}

QString ProfileCatalog::ListValue(int code, ProfileParameter parameter) const {
    return ini_.readString(ProfileSection(code), KeysOf(parameter).List, profile::NoChoices);
}

ParameterChoices ProfileCatalog::Choices(int code, ProfileParameter parameter) const {
    const QString value = ListValue(code, parameter);
    ParameterChoices choices;
    if (value == profile::NoChoices)
        return choices;
    if (value.isEmpty()) {
        choices.Enabled = !KeysOf(parameter).EmptyOffersNone;
        return choices;
    }
    choices.Items = SplitList(value);
    choices.Enabled = true;
    return choices;
}

ProfileChoices ProfileCatalog::AllChoices(int code) const {
    ProfileChoices all;
    for (ProfileParameter parameter : AllProfileParameters)
        all.Lists[size_t(parameter)] = Choices(code, parameter);
    return all;
}

int ProfileCatalog::DefaultIndex(int code, ProfileParameter parameter) const {
    return ini_.readInteger(ProfileSection(code), KeysOf(parameter).Index, 0);
}

QString ProfileCatalog::Format(int code) const {
    return ini_.readString(ProfileSection(code), profile::Format, profile::DefaultFormat);
}

QString ProfileCatalog::FileExt(int code) const {
    return ini_.readString(ProfileSection(code), profile::FileExt, profile::DefaultFileExt);
}

QString ProfileCatalog::H264Extra(int code, const QString& key) const {
    return ini_.readString(ProfileSection(code), key, QString());
}

bool IsAsSource(const QString& text) {
    return text == profile::AsSource;
}

bool IsFrameSizeAsSource(const QString& text) {
    return text.toLower().contains(profile::AsSource);
}

bool IsIntegerText(const QString& text) {
    int value = 0;
    return IniFile::parseInteger(text, &value);
}

bool IsNumberText(const QString& text) {
    static const QRegularExpression decimal(QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)$"));
    return decimal.match(text).hasMatch();
}

bool AcceptsParameterText(ProfileParameter parameter, const QString& text) {
    switch (parameter) {
        case ProfileParameter::VideoBitRate:
        case ProfileParameter::SampleRate:
            return IsIntegerText(text) || IsAsSource(text);
        case ProfileParameter::AudioBitRate:
            return IsNumberText(text) || IsAsSource(text);
        default:
            return true;
    }
}

std::optional<QString> VideoEncoderName(const QString& displayName) {
    const QString lower = displayName.toLower();
    if (auto mapped = Lookup(lower, kVideoEncoders))
        return mapped;
    for (const char* name : kSameNameVideoEncoders) {
        if (lower == QLatin1String(name))
            return lower;
    }
    return std::nullopt;
}

std::optional<QString> AudioEncoderName(const QString& displayName) {
    return Lookup(displayName.toLower(), kAudioEncoders);
}

std::optional<QString> ChannelValue(const QString& item) {
    return Lookup(item, kChannels);
}

std::optional<QString> VolumeValue(const QString& item) {
    // The last character is the "%" sign. A text without a whole number before it (such as
    // the empty text of a combo with nothing selected) stores nothing.
    int percent = 0;
    if (!IniFile::parseInteger(item.left(item.size() - 1), &percent))
        return std::nullopt;
    for (int known : kVolumePercents) {
        if (percent == known)
            return QString::number(percent * 256 / 100);
    }
    return std::nullopt;
}

bool IsH264Choice(const QString& displayName) {
    return displayName.toLower() == profile::H264Choice;
}

std::optional<QString> ZoomValue(int item) {
    switch (item) {
        case 0:
            return profile::ZoomFull;
        case 1:
            return profile::ZoomLetterBox;
        case 2:
            return profile::ZoomPanScan;
        default:
            return std::nullopt;
    }
}

int ZoomItem(const QString& stored) {
    if (stored == profile::ZoomFull)
        return 0;
    if (stored == profile::ZoomLetterBox)
        return 1;
    if (stored == profile::ZoomPanScan)
        return 2;
    if (stored == profile::ZoomCenter)
        return 3;
    return -1;
}

void StoreParameter(IniFile& settings, const ProfileCatalog& catalog, int code,
                    ProfileParameter parameter, int index, const QString& text) {
    const ParameterKeys& keys = KeysOf(parameter);
    const QString section = ProfileSection(code);
    settings.writeInteger(section, keys.Index, index);
    if (const std::optional<QString> value = ValueToStore(parameter, text))
        settings.writeString(section, keys.Value, *value);
    if (parameter == ProfileParameter::VideoEncoder && IsH264Choice(text))
        CopyH264Extras(settings, catalog, code);
}

void CopyH264Extras(IniFile& settings, const ProfileCatalog& catalog, int code) {
    const QString section = ProfileSection(code);
    const QString bitExact = catalog.H264Extra(code, profile::paraBitExact);
    if (!bitExact.isEmpty() && bitExact.toLower() == QLatin1String("true"))
        settings.writeString(section, profile::paraBitExact, bitExact);

    const H264Extra numbers[] = {
        {profile::paraMaxBitrate, 1}, {profile::paraBufferSize, 1}, {profile::paraLevel, 1},
        {profile::paraQscale, 1},     {profile::paraGop, 1},        {profile::paraCoder, 0},
    };
    for (const H264Extra& extra : numbers) {
        const QString text = catalog.H264Extra(code, extra.Key);
        if (text.isEmpty())
            continue;
        int value = 0;
        if (!IniFile::parseInteger(text, &value))
            throw InvalidIntegerError(text);
        if (value >= extra.Minimum)
            settings.writeString(section, extra.Key, text);
    }
}

void RestoreDefaults(IniFile& settings, const ProfileCatalog& catalog, int code) {
    const ProfileChoices choices = catalog.AllChoices(code);
    const auto storeDefault = [&](ProfileParameter parameter) {
        const QStringList& items = choices[parameter].Items;
        const int index = catalog.DefaultIndex(code, parameter);
        if (index < 0 || index >= items.size())
            return;
        if (!AcceptsParameterText(parameter, items[index]))
            return;
        StoreParameter(settings, catalog, code, parameter, index, items[index]);
    };

    storeDefault(ProfileParameter::VideoEncoder);
    storeDefault(ProfileParameter::VideoSize);
    storeDefault(ProfileParameter::FrameRate);
    storeDefault(ProfileParameter::VideoBitRate);
    settings.writeString(ProfileSection(code), profile::paraZoom, profile::ZoomFull);
    storeDefault(ProfileParameter::AudioEncoder);
    storeDefault(ProfileParameter::AudioBitRate);
    storeDefault(ProfileParameter::SampleRate);
    storeDefault(ProfileParameter::Channel);
    storeDefault(ProfileParameter::Volume);
}

}  // namespace kavel
