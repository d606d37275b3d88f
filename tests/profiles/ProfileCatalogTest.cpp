#include "profiles/ProfileCatalog.h"
#include "profiles/QtPrinters.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <optional>

using namespace kavel;

namespace {

std::optional<QString> None() {
    return std::nullopt;
}

class ProfileStoreTest : public testing::Test {
protected:
    QString catalogPath() const { return dir_.filePath("catalog.ini"); }
    QString settingsPath() const { return dir_.filePath("settings.ini"); }

    static void WriteFile(const QString& path, const QByteArray& text) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    void WriteCatalog(const QByteArray& text) { WriteFile(catalogPath(), text); }

    // The value of a key in the settings file, std::nullopt when it was never written.
    std::optional<QString> Stored(int code, const QString& key) const {
        const IniFile settings(settingsPath());
        if (!settings.valueExists(ProfileSection(code), key))
            return std::nullopt;
        return settings.readString(ProfileSection(code), key, QString());
    }

    QTemporaryDir dir_;
};

TEST(SplitList, KeepsEveryItemAsWritten) {
    const struct {
        const char* value;
        QStringList items;
    } cases[] = {
        {"320x240,176x144", {"320x240", "176x144"}},
        {"320x240,,176x144", {"320x240", "", "176x144"}},
        {"a,b,", {"a", "b", ""}},
        {"x", {"x"}},
        {"", {""}},
        {" mono , PCM_MULAW ", {" mono ", " PCM_MULAW "}},
    };
    for (const auto& c : cases) EXPECT_EQ(SplitList(c.value), c.items) << c.value;
}

TEST(Vocabulary, NumbersAndAsSource) {
    const struct {
        const char* text;
        bool integer;
        bool number;
    } cases[] = {
        {"768", true, true},         {"-3", true, true},     {"96.5", false, true},
        {"96.", false, true},        {".5", false, true},    {"", false, false},
        {"1e3", false, false},       {"96,5", false, false}, {" 96", false, false},
        {"as source", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsIntegerText(c.text), c.integer) << c.text;
        EXPECT_EQ(IsNumberText(c.text), c.number) << c.text;
    }
    EXPECT_TRUE(IsAsSource("as source"));
    EXPECT_FALSE(IsAsSource("As source"));
    EXPECT_TRUE(IsFrameSizeAsSource("Keep As Source size"));
    EXPECT_FALSE(IsFrameSizeAsSource("320x240"));

    EXPECT_TRUE(AcceptsParameterText(ProfileParameter::AudioBitRate, "96.5"));
    EXPECT_FALSE(AcceptsParameterText(ProfileParameter::VideoBitRate, "96.5"));
    EXPECT_TRUE(AcceptsParameterText(ProfileParameter::SampleRate, "as source"));
    EXPECT_FALSE(AcceptsParameterText(ProfileParameter::SampleRate, ""));
}

TEST(Maps, DisplayNamesToEngineValues) {
    using Map = std::optional<QString> (*)(const QString&);
    const struct {
        Map map;
        const char* text;
        std::optional<QString> expected;
    } cases[] = {
        {VideoEncoderName, "MPEG-4", "mpeg4"},
        {VideoEncoderName, "Xvid", "libxvid"},
        {VideoEncoderName, "H264", "libx264"},
        {VideoEncoderName, "WMV2", "wmv2"},
        {VideoEncoderName, "dvvideo", "dvvideo"},
        {VideoEncoderName, "mpeg4", None()},
        {VideoEncoderName, "DivX", None()},
        {AudioEncoderName, "MP3", "libmp3lame"},
        {AudioEncoderName, "OGG", "vorbis"},
        {AudioEncoderName, "AAC", "libfaac"},
        {AudioEncoderName, "AC-3", "ac3"},
        {AudioEncoderName, "Flac", "libflac"},
        {AudioEncoderName, "AMR_NB", "libopencore_amrnb"},
        {AudioEncoderName, "PCM_S16", "pcm_s16le"},
        {AudioEncoderName, "WMA2", "wmav2"},
        {AudioEncoderName, "PCM_MULAW ", "pcm_mulaw"},
        {AudioEncoderName, "PCM_MULAW", None()},
        {ChannelValue, "as source", "as source"},
        {ChannelValue, "mono 1 channel", "1"},
        {ChannelValue, "stereo 2 channels", "2"},
        {ChannelValue, "Mono 1 channel", None()},
        {VolumeValue, "25%", "64"},
        {VolumeValue, "100%", "256"},
        {VolumeValue, "250%", "640"},
        {VolumeValue, "400%", "1024"},
        {VolumeValue, "90%", None()},
        {VolumeValue, "100", None()},
        {VolumeValue, "abc%", None()},
        {VolumeValue, "", None()},
    };
    for (const auto& c : cases) EXPECT_EQ(c.map(c.text), c.expected) << c.text;
}

TEST(Maps, ZoomItems) {
    EXPECT_EQ(ZoomValue(1), "lbox");
    EXPECT_EQ(ZoomValue(3), None());
    EXPECT_EQ(ZoomItem("pan"), 2);
    EXPECT_EQ(ZoomItem("center"), 3);
    EXPECT_EQ(ZoomItem("Full"), -1);
}

TEST_F(ProfileStoreTest, ListsFollowTheNullAndEmptyRules) {
    WriteCatalog(
        "[FORMATINFO7]\nvideosize=\nVideoBitRate=null\nFrameRate=25,\n"
        "VideoEncoder=MPEG-4\nAudioEncoder=\nChannel=null\nVolume=100%\n"
        "format=ipod\niVolume=x\n");
    const ProfileCatalog catalog(catalogPath());
    const ProfileChoices choices = catalog.AllChoices(7);

    const struct {
        ProfileParameter parameter;
        QStringList items;
        bool enabled;
    } cases[] = {
        {ProfileParameter::VideoSize, {}, true},
        {ProfileParameter::VideoBitRate, {}, false},
        {ProfileParameter::FrameRate, {"25", ""}, true},
        {ProfileParameter::VideoEncoder, {"MPEG-4"}, true},
        {ProfileParameter::AudioEncoder, {}, false},
        {ProfileParameter::Channel, {}, false},
        {ProfileParameter::SampleRate, {}, false},  // absent reads "null"
        {ProfileParameter::Volume, {"100%"}, true},
    };
    for (const auto& c : cases) {
        const ParameterChoices& list = choices[c.parameter];
        EXPECT_EQ(list.Items, c.items) << KeysOf(c.parameter).List.toStdString();
        EXPECT_EQ(list.Enabled, c.enabled) << KeysOf(c.parameter).List.toStdString();
    }
    EXPECT_TRUE(choices.VideoGroupEnabled());
    EXPECT_FALSE(choices.AudioGroupEnabled());
    EXPECT_EQ(catalog.Format(7), "ipod");
    EXPECT_EQ(catalog.FileExt(7), "mp4");
    EXPECT_EQ(catalog.DefaultIndex(7, ProfileParameter::Volume), 0);
}

TEST_F(ProfileStoreTest, MissingCatalogGivesDefaults) {
    const ProfileCatalog catalog(dir_.filePath("absent.ini"));
    const ProfileChoices choices = catalog.AllChoices(0);
    for (ProfileParameter parameter : AllProfileParameters) {
        EXPECT_TRUE(choices[parameter].Items.isEmpty());
        EXPECT_FALSE(choices[parameter].Enabled);
    }
    EXPECT_FALSE(choices.VideoGroupEnabled());
    EXPECT_EQ(catalog.Format(0), "null");
    EXPECT_EQ(catalog.FileExt(0), "mp4");
}

TEST_F(ProfileStoreTest, StoresIndexAndMappedValue) {
    WriteFile(settingsPath(),
              "[formatInfo104]\nparaVideoEncoder=old\nparaChannel=old\n"
              "paraVolume=old\nparaAudioEncoder=old\n");
    const ProfileCatalog catalog(catalogPath());
    IniFile settings(settingsPath());
    const struct {
        ProfileParameter parameter;
        int index;
        const char* text;
        std::optional<QString> value;
    } cases[] = {
        {ProfileParameter::VideoSize, 2, "320x240", "320x240"},
        {ProfileParameter::VideoBitRate, -1, "900", "900"},
        {ProfileParameter::FrameRate, 1, "25", "25"},
        {ProfileParameter::SampleRate, 0, "as source", "as source"},
        {ProfileParameter::AudioBitRate, -1, "96.5", "96.5"},
        {ProfileParameter::VideoEncoder, 0, "MPEG-4", "mpeg4"},
        {ProfileParameter::VideoEncoder, 3, "DivX", "mpeg4"},
        {ProfileParameter::AudioEncoder, 2, "PCM_MULAW ", "pcm_mulaw"},
        {ProfileParameter::AudioEncoder, 5, "opus", "pcm_mulaw"},
        {ProfileParameter::Channel, 1, "mono 1 channel", "1"},
        {ProfileParameter::Channel, 4, "surround", "1"},
        {ProfileParameter::Volume, 3, "100%", "256"},
        {ProfileParameter::Volume, 4, "90%", "256"},
    };
    for (const auto& c : cases) {
        const ParameterKeys& keys = KeysOf(c.parameter);
        StoreParameter(settings, catalog, 104, c.parameter, c.index, c.text);
        EXPECT_EQ(Stored(104, keys.Index), QString::number(c.index)) << c.text;
        EXPECT_EQ(Stored(104, keys.Value), c.value) << c.text;
    }
    QFile file(settingsPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().count("[formatInfo104]"), 1);
}

TEST_F(ProfileStoreTest, H264ExtrasAreCopiedByTheirConditions) {
    const struct {
        const char* name;
        QByteArray extras;
        std::optional<QString> bitExact, maxBitrate, level, gop, coder;
    } cases[] = {
        {"zero gop and coder", "paraGop=0\nparaCoder=0\n", None(), None(), None(), None(), "0"},
        {"positive values", "paraMaxBitrate=768\nparaLevel=30\nparaGop=250\nparaCoder=1\n", None(),
         "768", "30", "250", "1"},
        {"negative values", "paraMaxBitrate=-1\nparaCoder=-1\n", None(), None(), None(), None(),
         None()},
        {"bitexact any case", "paraBitExact=TRUE\n", "TRUE", None(), None(), None(), None()},
        {"bitexact other text", "paraBitExact=yes\n", None(), None(), None(), None(), None()},
        {"empty values", "paraLevel=\nparaGop=\n", None(), None(), None(), None(), None()},
    };
    for (const auto& c : cases) {
        QFile::remove(settingsPath());
        WriteCatalog("[formatInfo1]\n" + c.extras);
        IniFile settings(settingsPath());
        StoreParameter(settings, ProfileCatalog(catalogPath()), 1, ProfileParameter::VideoEncoder,
                       0, "H264");
        EXPECT_EQ(Stored(1, profile::paraVideoEncoder), "libx264") << c.name;
        EXPECT_EQ(Stored(1, profile::paraBitExact), c.bitExact) << c.name;
        EXPECT_EQ(Stored(1, profile::paraMaxBitrate), c.maxBitrate) << c.name;
        EXPECT_EQ(Stored(1, profile::paraLevel), c.level) << c.name;
        EXPECT_EQ(Stored(1, profile::paraGop), c.gop) << c.name;
        EXPECT_EQ(Stored(1, profile::paraCoder), c.coder) << c.name;
    }
}

TEST_F(ProfileStoreTest, H264ExtrasOnlyForH264AndNeverRemoved) {
    WriteCatalog("[formatInfo1]\nparaLevel=30\n");
    const ProfileCatalog catalog(catalogPath());
    IniFile settings(settingsPath());
    StoreParameter(settings, catalog, 1, ProfileParameter::VideoEncoder, 1, "MPEG-4");
    EXPECT_EQ(Stored(1, profile::paraLevel), None());
    StoreParameter(settings, catalog, 1, ProfileParameter::VideoEncoder, 0, "h264");
    StoreParameter(settings, catalog, 1, ProfileParameter::VideoEncoder, 1, "MPEG-4");
    EXPECT_EQ(Stored(1, profile::paraVideoEncoder), "mpeg4");
    EXPECT_EQ(Stored(1, profile::paraLevel), "30");
}

TEST_F(ProfileStoreTest, BadH264IntegerStopsTheCopyAndNamesTheText) {
    WriteCatalog("[formatInfo1]\nparaMaxBitrate=768\nparaLevel=3.0\nparaGop=250\n");
    IniFile settings(settingsPath());
    try {
        StoreParameter(settings, ProfileCatalog(catalogPath()), 1, ProfileParameter::VideoEncoder,
                       0, "H264");
        FAIL() << "no error for paraLevel=3.0";
    } catch (const InvalidIntegerError& error) {
        EXPECT_NE(std::string(error.what()).find("'3.0'"), std::string::npos) << error.what();
    }
    EXPECT_EQ(Stored(1, profile::iVideoEncoder), "0");
    EXPECT_EQ(Stored(1, profile::paraVideoEncoder), "libx264");
    EXPECT_EQ(Stored(1, profile::paraMaxBitrate), "768");
    EXPECT_EQ(Stored(1, profile::paraLevel), None());
    EXPECT_EQ(Stored(1, profile::paraGop), None());
}

TEST_F(ProfileStoreTest, RestoreDefaultsStoresEveryDefaultChoice) {
    WriteCatalog(
        "[formatInfo203]\nVideoSize=640x480,320x240\nVideoBitRate=768,as source\n"
        "FrameRate=29.97,25\nVideoEncoder=MPEG-4,H264\nAudioBitRate=128,96.5\n"
        "SampleRate=48000,44100\nAudioEncoder=MP3,AAC\n"
        "Channel=stereo 2 channels,mono 1 channel\nVolume=50%,100%\n"
        "iVideoSize=1\niVideoBitRate=1\niFrameRate=1\niVideoEncoder=1\niAudioBitRate=1\n"
        "iSampleRate=1\niAudioEncoder=1\niChannel=1\niVolume=1\nparaGop=250\n");
    WriteFile(settingsPath(), "[formatInfo203]\nparaZoom=pan\n");
    IniFile settings(settingsPath());
    RestoreDefaults(settings, ProfileCatalog(catalogPath()), 203);

    const struct {
        const QString& key;
        const char* value;
    } cases[] = {
        {profile::paraVideoSize, "320x240"},
        {profile::paraVideoBitRate, "as source"},
        {profile::paraFrameRate, "25"},
        {profile::paraVideoEncoder, "libx264"},
        {profile::paraGop, "250"},
        {profile::paraZoom, "full"},
        {profile::paraAudioBitRate, "96.5"},
        {profile::paraSampleRate, "44100"},
        {profile::paraAudioEncoder, "libfaac"},
        {profile::paraChannel, "1"},
        {profile::paraVolume, "256"},
    };
    for (const auto& c : cases) EXPECT_EQ(Stored(203, c.key), c.value) << c.key.toStdString();
    for (ProfileParameter parameter : AllProfileParameters)
        EXPECT_EQ(Stored(203, KeysOf(parameter).Index), "1");
}

TEST_F(ProfileStoreTest, RestoreDefaultsSkipsParametersWithoutADefaultItem) {
    // An audio profile without a volume list and with a default index past its list.
    WriteCatalog(
        "[formatInfo500]\nVideoEncoder=null\nAudioEncoder=MP3\nAudioBitRate=128\n"
        "iAudioBitRate=4\nVolume=null\n");
    WriteFile(settingsPath(), "[formatInfo500]\nparaVolume=512\nparaAudioBitRate=64\n");
    IniFile settings(settingsPath());
    RestoreDefaults(settings, ProfileCatalog(catalogPath()), 500);
    EXPECT_EQ(Stored(500, profile::paraAudioEncoder), "libmp3lame");
    EXPECT_EQ(Stored(500, profile::paraAudioBitRate), "64");
    EXPECT_EQ(Stored(500, profile::paraVolume), "512");
    EXPECT_EQ(Stored(500, profile::paraVideoEncoder), None());
    EXPECT_EQ(Stored(500, profile::iVolume), None());
}

}  // namespace
