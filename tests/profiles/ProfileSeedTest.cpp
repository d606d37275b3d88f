#include "profiles/ProfileSeed.h"

#include "app/IniFile.h"
#include "profiles/ProfileCatalog.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace kavel;

namespace {

const QString kCatalog = QStringLiteral(KAVEL_SOURCE_DIR "/data/kaveliphoneformat.ini");

TEST(ProfileSeedTest, MissingSectionGetsTheCatalogDefaults) {
    QTemporaryDir dir;
    IniFile settings(dir.filePath("settings.ini"));
    const ProfileCatalog catalog(kCatalog);
    // The iPod MPEG-4 profile: its combos show MPEG-4 and AAC.
    ASSERT_TRUE(SeedProfileDefaults(settings, catalog, 0));
    const QString section = ProfileSection(0);
    EXPECT_EQ(settings.readString(section, profile::paraVideoEncoder, ""), "mpeg4");
    EXPECT_FALSE(settings.readString(section, profile::paraAudioEncoder, "").isEmpty());
    EXPECT_EQ(settings.readString(section, profile::paraZoom, ""), "full");
    const int sizeIndex = catalog.DefaultIndex(0, ProfileParameter::VideoSize);
    EXPECT_EQ(settings.readString(section, profile::paraVideoSize, ""),
              catalog.Choices(0, ProfileParameter::VideoSize).Items.value(sizeIndex));
}

TEST(ProfileSeedTest, ExistingSectionIsNeverTouched) {
    QTemporaryDir dir;
    IniFile settings(dir.filePath("settings.ini"));
    const ProfileCatalog catalog(kCatalog);
    settings.writeString(ProfileSection(1), profile::paraVideoBitRate, "300");
    settings.writeString(ProfileSection(1), "myOwnKey", "kept");
    EXPECT_FALSE(SeedProfileDefaults(settings, catalog, 1));
    EXPECT_EQ(settings.readString(ProfileSection(1), profile::paraVideoBitRate, ""), "300");
    EXPECT_EQ(settings.readString(ProfileSection(1), profile::paraVideoEncoder, "none"), "none");
    EXPECT_EQ(settings.readString(ProfileSection(1), "myOwnKey", ""), "kept");
}

}  // namespace
