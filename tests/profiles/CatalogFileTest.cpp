#include "profiles/ProfileCatalog.h"
#include "profiles/ProfileTable.h"
#include "profiles/QtPrinters.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <QSet>

using namespace kavel;

namespace {

const QString kCatalogFile = QStringLiteral(KAVEL_SOURCE_DIR "/data/kaveliphoneformat.ini");

std::vector<int> AllCodes() {
    std::vector<int> codes;
    for (const ProfileFamily& family : ProfileFamilies()) {
        for (const ProfileEntry& profile : family.Profiles) codes.push_back(profile.Code);
    }
    return codes;
}

// The encoder the engine opens for a stored name: this FFmpeg lacks the old AAC and FLAC
// wrappers, and its native Vorbis encoder is experimental.
QString EngineEncoder(const QString& stored) {
    if (stored == "libfaac")
        return "aac";
    if (stored == "libflac")
        return "flac";
    if (stored == "vorbis")
        return "libvorbis";
    return stored;
}

bool EncoderExists(const QString& name) {
    return avcodec_find_encoder_by_name(name.toLatin1().constData()) != nullptr;
}

struct FrameSize {
    int Width = 0;
    int Height = 0;
};

std::optional<FrameSize> ParseSize(const QString& text) {
    const QStringList parts = text.split('x');
    FrameSize size;
    if (parts.size() != 2 || !IniFile::parseInteger(parts[0], &size.Width) ||
        !IniFile::parseInteger(parts[1], &size.Height))
        return std::nullopt;
    return size;
}

// Whether a list item is a value its parameter can carry.
bool WellFormed(ProfileParameter parameter, const QString& item) {
    const bool asSource = IsAsSource(item);
    switch (parameter) {
        case ProfileParameter::VideoSize: {
            if (asSource)
                return true;
            const std::optional<FrameSize> size = ParseSize(item);
            return size && size->Width > 0 && size->Height > 0 && size->Width % 2 == 0 &&
                   size->Height % 2 == 0;
        }
        case ProfileParameter::VideoBitRate:
        case ProfileParameter::SampleRate:
            return asSource || (IsIntegerText(item) && item.toInt() > 0);
        case ProfileParameter::FrameRate:
        case ProfileParameter::AudioBitRate:
            return asSource || (IsNumberText(item) && item.toDouble() > 0);
        case ProfileParameter::VideoEncoder: {
            const std::optional<QString> name = VideoEncoderName(item);
            return name && EncoderExists(EngineEncoder(*name));
        }
        case ProfileParameter::AudioEncoder: {
            const std::optional<QString> name = AudioEncoderName(item);
            return name && EncoderExists(EngineEncoder(*name));
        }
        case ProfileParameter::Channel:
            return ChannelValue(item).has_value();
        case ProfileParameter::Volume:
            return VolumeValue(item).has_value();
    }
    return false;
}

TEST(ProfileTable, CodesFollowFamilyAndPosition) {
    const auto families = ProfileFamilies();
    ASSERT_EQ(families.size(), 6u);
    EXPECT_EQ(ProfileCount(), 38);
    QSet<QString> names;
    for (size_t f = 0; f < families.size(); ++f) {
        EXPECT_EQ(families[f].Number, int(f));
        for (size_t p = 0; p < families[f].Profiles.size(); ++p) {
            EXPECT_EQ(families[f].Profiles[p].Code, ProfileCode(int(f), int(p)));
            names.insert(families[f].Profiles[p].Name);
        }
    }
    EXPECT_EQ(names.size(), 38);
    EXPECT_STREQ(families[4].Name, "General Video formates");
    ASSERT_NE(FindProfile(407), nullptr);
    EXPECT_STREQ(FindProfile(407)->Name, "Xvid Video (*.avi)");
    EXPECT_EQ(FindProfile(9), nullptr);
}

TEST(CatalogFile, EveryProfileHasWellFormedListsAndDefaults) {
    const IniFile raw(kCatalogFile);
    const ProfileCatalog catalog(kCatalogFile);
    for (int code : AllCodes()) {
        SCOPED_TRACE(code);
        ASSERT_TRUE(raw.sectionExists(ProfileSection(code)));
        const ProfileChoices choices = catalog.AllChoices(code);
        for (ProfileParameter parameter : AllProfileParameters) {
            const ParameterKeys& keys = KeysOf(parameter);
            SCOPED_TRACE(keys.List.toStdString());
            ASSERT_TRUE(raw.valueExists(ProfileSection(code), keys.List));
            ASSERT_TRUE(raw.valueExists(ProfileSection(code), keys.Index));
            const QStringList& items = choices[parameter].Items;
            for (const QString& item : items)
                EXPECT_TRUE(WellFormed(parameter, item)) << item.toStdString();
            const int index = catalog.DefaultIndex(code, parameter);
            if (items.isEmpty())
                EXPECT_EQ(index, 0);
            else
                EXPECT_TRUE(index >= 0 && index < items.size()) << index;
        }
        // Audio profiles offer no video at all; every profile has sound.
        EXPECT_EQ(choices.VideoGroupEnabled(), code / 100 != 5);
        EXPECT_TRUE(choices.AudioGroupEnabled());
        if (!choices.VideoGroupEnabled()) {
            for (ProfileParameter parameter :
                 {ProfileParameter::VideoSize, ProfileParameter::VideoBitRate,
                  ProfileParameter::FrameRate})
                EXPECT_EQ(catalog.ListValue(code, parameter), "null");
        }
    }
}

TEST(CatalogFile, ExtensionMatchesTheDisplayName) {
    const ProfileCatalog catalog(kCatalogFile);
    for (int code : AllCodes()) {
        const QString name = FindProfile(code)->Name;
        EXPECT_TRUE(name.endsWith("(*." + catalog.FileExt(code) + ")"))
            << code << " " << name.toStdString();
        EXPECT_NE(catalog.Format(code), "null") << code;
    }
}

// What the devices of the Apple families play, for every item of their lists.
TEST(CatalogFile, AppleProfilesStayWithinTheirDevices) {
    const ProfileCatalog catalog(kCatalogFile);
    const struct {
        int first, last;
        const char* format;
        int maxWidth, maxHeight, maxKbps;
    } families[] = {
        {0, 8, "ipod", 640, 480, 2500},     {100, 103, "ipod", 640, 480, 2500},
        {104, 104, "ipod", 720, 576, 2500}, {200, 204, "mp4", 720, 480, 3000},
        {205, 205, "mp4", 1280, 720, 5000},
    };
    for (const auto& f : families) {
        for (int code = f.first; code <= f.last; ++code) {
            SCOPED_TRACE(code);
            const ProfileChoices choices = catalog.AllChoices(code);
            const auto items = [&](ProfileParameter p) { return choices[p].Items; };
            const auto notAsSource = [](const QStringList& list) {
                QStringList values = list;
                values.removeAll(profile::AsSource);
                return values;
            };
            EXPECT_EQ(catalog.Format(code), f.format);
            const QString defaultSize = items(ProfileParameter::VideoSize)[catalog.DefaultIndex(
                code, ProfileParameter::VideoSize)];
            // 320x240 H.264 on the small players is limited to 768 kbit/s.
            const int maxKbps = defaultSize == "320x240" ? 768 : f.maxKbps;
            for (const QString& size : notAsSource(items(ProfileParameter::VideoSize))) {
                const FrameSize s = *ParseSize(size);
                EXPECT_TRUE(s.Width <= f.maxWidth && s.Height <= f.maxHeight) << size.toStdString();
            }
            for (const QString& rate : notAsSource(items(ProfileParameter::VideoBitRate)))
                EXPECT_LE(rate.toInt(), maxKbps);
            for (const QString& rate : items(ProfileParameter::FrameRate))
                EXPECT_LE(rate.toDouble(), 30.0) << rate.toStdString();
            EXPECT_EQ(items(ProfileParameter::AudioEncoder), QStringList{"AAC"});
            for (const QString& rate : items(ProfileParameter::AudioBitRate))
                EXPECT_LE(rate.toDouble(), 160.0);
            for (const QString& rate : items(ProfileParameter::SampleRate))
                EXPECT_LE(rate.toInt(), 48000) << rate.toStdString();
            EXPECT_FALSE(items(ProfileParameter::Channel).contains(profile::AsSource));
        }
    }
}

}  // namespace
