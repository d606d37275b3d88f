#pragma once

#include "app/IniFile.h"

#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <stdexcept>

namespace kavel {

// Key names of a profile section ("formatInfo" + code) in the catalog and in the settings file,
// and the fixed texts of the value vocabulary. Every reader and writer goes through these.
namespace profile {

inline const QString SectionPrefix = QStringLiteral("formatInfo");

// Catalog only.
inline const QString Format = QStringLiteral("Format");
inline const QString FileExt = QStringLiteral("FileExt");

// Lists of choices (catalog).
inline const QString VideoSize = QStringLiteral("VideoSize");
inline const QString VideoBitRate = QStringLiteral("VideoBitRate");
inline const QString FrameRate = QStringLiteral("FrameRate");
inline const QString VideoEncoder = QStringLiteral("VideoEncoder");
inline const QString AudioBitRate = QStringLiteral("AudioBitRate");
inline const QString SampleRate = QStringLiteral("SampleRate");
inline const QString AudioEncoder = QStringLiteral("AudioEncoder");
inline const QString Channel = QStringLiteral("Channel");
inline const QString Volume = QStringLiteral("Volume");

// Item indexes: the default choice in the catalog, the current choice in the settings file.
inline const QString iVideoSize = QStringLiteral("iVideoSize");
inline const QString iVideoBitRate = QStringLiteral("iVideoBitRate");
inline const QString iFrameRate = QStringLiteral("iFrameRate");
inline const QString iVideoEncoder = QStringLiteral("iVideoEncoder");
inline const QString iAudioBitRate = QStringLiteral("iAudioBitRate");
inline const QString iSampleRate = QStringLiteral("iSampleRate");
inline const QString iAudioEncoder = QStringLiteral("iAudioEncoder");
inline const QString iChannel = QStringLiteral("iChannel");
inline const QString iVolume = QStringLiteral("iVolume");

// Values in force (settings file).
inline const QString paraVideoSize = QStringLiteral("paraVideoSize");
inline const QString paraVideoBitRate = QStringLiteral("paraVideoBitRate");
inline const QString paraFrameRate = QStringLiteral("paraFrameRate");
inline const QString paraVideoEncoder = QStringLiteral("paraVideoEncoder");
inline const QString paraAudioBitRate = QStringLiteral("paraAudioBitRate");
inline const QString paraSampleRate = QStringLiteral("paraSampleRate");
inline const QString paraAudioEncoder = QStringLiteral("paraAudioEncoder");
inline const QString paraChannel = QStringLiteral("paraChannel");
inline const QString paraVolume = QStringLiteral("paraVolume");
inline const QString paraZoom = QStringLiteral("paraZoom");
inline const QString Description = QStringLiteral("Description");

// H.264 extras: kept in the catalog, copied into the settings file when "h264" is chosen.
inline const QString paraBitExact = QStringLiteral("paraBitExact");
inline const QString paraMaxBitrate = QStringLiteral("paraMaxBitrate");
inline const QString paraBufferSize = QStringLiteral("paraBufferSize");
inline const QString paraLevel = QStringLiteral("paraLevel");
inline const QString paraQscale = QStringLiteral("paraQscale");
inline const QString paraGop = QStringLiteral("paraGop");
inline const QString paraCoder = QStringLiteral("paraCoder");

// Vocabulary.
inline const QString NoChoices = QStringLiteral("null");
inline const QString AsSource = QStringLiteral("as source");
inline const QString DefaultFormat = QStringLiteral("null");
inline const QString DefaultFileExt = QStringLiteral("mp4");
inline const QString H264Choice = QStringLiteral("h264");
inline const QString H264Encoder = QStringLiteral("libx264");

// "paraZoom" values, stored for zoom items 0, 1, 2; "center" is only ever read.
inline const QString ZoomFull = QStringLiteral("full");
inline const QString ZoomLetterBox = QStringLiteral("lbox");
inline const QString ZoomPanScan = QStringLiteral("pan");
inline const QString ZoomCenter = QStringLiteral("center");

}  // namespace profile

// The nine parameters of a profile, in the order their lists are loaded.
enum class ProfileParameter {
    VideoSize,
    VideoBitRate,
    FrameRate,
    VideoEncoder,
    AudioBitRate,
    SampleRate,
    AudioEncoder,
    Channel,
    Volume,
};

inline constexpr std::array<ProfileParameter, 9> AllProfileParameters = {
    ProfileParameter::VideoSize,    ProfileParameter::VideoBitRate, ProfileParameter::FrameRate,
    ProfileParameter::VideoEncoder, ProfileParameter::AudioBitRate, ProfileParameter::SampleRate,
    ProfileParameter::AudioEncoder, ProfileParameter::Channel,      ProfileParameter::Volume,
};

// The three keys of one parameter, and whether an empty list offers no choices (like "null")
// rather than an empty but usable combo.
struct ParameterKeys {
    QString List;
    QString Index;
    QString Value;
    bool EmptyOffersNone;
};

const ParameterKeys& KeysOf(ProfileParameter parameter);

// Raised where a text that must be an integer is not one; the message names the text.
class InvalidIntegerError : public std::runtime_error {
public:
    explicit InvalidIntegerError(const QString& text);
};

// "formatInfo" + code in decimal, the section of a profile in both files.
QString ProfileSection(int code);

// Items of a list value, split at every "," with nothing trimmed. The last item is always
// added, so "a,b," gives three items and an empty value gives one empty item.
QStringList SplitList(const QString& value);

// What a parameter's combo offers: its items, and whether it can be used at all.
struct ParameterChoices {
    QStringList Items;
    bool Enabled = false;
};

// The choices of all nine parameters, indexed by ProfileParameter, with the group rule: a group
// is usable as a whole exactly when its encoder list gives at least one item.
struct ProfileChoices {
    std::array<ParameterChoices, 9> Lists;

    const ParameterChoices& operator[](ProfileParameter parameter) const {
        return Lists[size_t(parameter)];
    }
    bool VideoGroupEnabled() const {
        return !(*this)[ProfileParameter::VideoEncoder].Items.isEmpty();
    }
    bool AudioGroupEnabled() const {
        return !(*this)[ProfileParameter::AudioEncoder].Items.isEmpty();
    }
};

// The read-only profile catalog. Each call opens the file afresh. A missing file, section or
// key is not an error: lists read "null", "Format" "null", "FileExt" "mp4", indexes 0.
class ProfileCatalog {
public:
    explicit ProfileCatalog(QString path) : ini_(std::move(path)) {}

    const QString& Path() const { return ini_.path(); }

    // The list value as stored ("null" when absent) and the choices it gives.
    QString ListValue(int code, ProfileParameter parameter) const;
    ParameterChoices Choices(int code, ProfileParameter parameter) const;
    ProfileChoices AllChoices(int code) const;

    int DefaultIndex(int code, ProfileParameter parameter) const;
    QString Format(int code) const;
    QString FileExt(int code) const;

    // Raw text of an H.264 extra, empty when absent.
    QString H264Extra(int code, const QString& key) const;

private:
    IniFile ini_;
};

// Vocabulary. An integer text is a signed decimal integer as a whole; a number text is an
// integer text or a decimal number with "." as separator.
bool IsAsSource(const QString& text);
bool IsFrameSizeAsSource(const QString& text);
bool IsIntegerText(const QString& text);
bool IsNumberText(const QString& text);

// The check an editable combo's text must pass before it is stored: bit rates and the sample
// rate take an integer text (the audio bit rate also a number text) or "as source". Other
// parameters accept any text.
bool AcceptsParameterText(ProfileParameter parameter, const QString& text);

// Engine names for combo texts; std::nullopt for a text outside the map, which leaves the
// stored value as it was. Encoder display names are compared in lower case, channel items
// exactly.
std::optional<QString> VideoEncoderName(const QString& displayName);
std::optional<QString> AudioEncoderName(const QString& displayName);
std::optional<QString> ChannelValue(const QString& item);
// "100%" gives "256" (percent * 256 / 100) for the twelve volumes the engine knows.
std::optional<QString> VolumeValue(const QString& item);
bool IsH264Choice(const QString& displayName);

// "paraZoom" for zoom items 0, 1, 2, std::nullopt otherwise; and back, "center" giving 3 (no
// item) and any other text -1.
std::optional<QString> ZoomValue(int item);
int ZoomItem(const QString& stored);

// Stores the parameter choice (item index, -1 for a typed text, and the combo text) into the
// profile's section of the settings file: the index key always, then the value key with the
// text or its mapped name. Choosing "h264" also copies the H.264 extras. No check of the text
// is made here; see AcceptsParameterText. Throws IniWriteError when the file refuses the write,
// and InvalidIntegerError from CopyH264Extras.
void StoreParameter(IniFile& settings, const ProfileCatalog& catalog, int code,
                    ProfileParameter parameter, int index, const QString& text);

// Copies the catalog's H.264 extras that pass their conditions: "paraBitExact" when it reads
// "true" in any case, "paraCoder" when 0 or more, the others when above 0; empty ones are
// skipped. An extra (other than "paraBitExact") that is not an integer text throws
// InvalidIntegerError; the extras copied before it stay written.
void CopyH264Extras(IniFile& settings, const ProfileCatalog& catalog, int code);

// Stores the catalog's default choice of every parameter, and zoom "full", in the order the
// "Default" button stores them. A parameter whose list gives no item at its default index, or
// whose default text fails AcceptsParameterText, is left as it was.
void RestoreDefaults(IniFile& settings, const ProfileCatalog& catalog, int code);

}  // namespace kavel
