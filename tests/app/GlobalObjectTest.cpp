#include "app/GlobalObject.h"
#include "app/Settings.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

using namespace kavel;

TEST(GlobalObjectTest, SettersIgnoreTooShortValues) {
    GlobalObject global;
    global.InitDefaults();
    const QString settings = global.SettingsFile();
    global.SetSettingsFile("abc");
    EXPECT_EQ(global.SettingsFile(), settings);
    global.SetSettingsFile("abcd");
    EXPECT_EQ(global.SettingsFile(), "abcd");
    global.SetCatalogFile("");
    EXPECT_FALSE(global.CatalogFile().isEmpty());

    global.SetProductName("");
    EXPECT_EQ(global.ProductName(), "Kavel iPhone Video Converter");
    global.SetProductName("X");
    EXPECT_EQ(global.ProductName(), "X");
    global.SetVersionText("");
    EXPECT_EQ(global.VersionText(), " ver 1.10 ");
}

TEST(GlobalObjectTest, FileVersionText) {
    EXPECT_EQ(FileVersionText(3, 3, 0, 0), " 3.300 ");
    EXPECT_EQ(FileVersionText(1, 2, 3, 4), " 1.234 ");
    EXPECT_EQ(FileVersionText(10, 0, 12, 0), " 10.0120 ");
    EXPECT_EQ(FileVersionText(), " 1.000 ");
}

TEST(GlobalObjectTest, RightStr) {
    EXPECT_EQ(RightStr("/media/out/", 1), "/");
    EXPECT_EQ(RightStr("ab", 5), "ab");
    EXPECT_EQ(RightStr("abc", 0), "");
}

TEST(GlobalObjectTest, Paths) {
    qputenv("XDG_CONFIG_HOME", "/tmp/cfg");
    EXPECT_EQ(DefaultSettingsFile(), "/tmp/cfg/kavel/kaveliphonevideoconverter.ini");
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_TRUE(DefaultSettingsFile().endsWith("/.config/kavel/kaveliphonevideoconverter.ini"));
    EXPECT_TRUE(DefaultOutputFolder().endsWith("/videoconverter"));
    EXPECT_TRUE(ProgramFolder().endsWith("/"));
    // The test programs sit beside the catalog in the build tree.
    EXPECT_TRUE(QFile::exists(DefaultCatalogFile())) << DefaultCatalogFile().toStdString();
}

TEST(SettingsTest, DefaultsWithNoFileAndOutOfRangeVolume) {
    QTemporaryDir dir;
    AppSettings s(dir.filePath("none.ini"));
    EXPECT_EQ(s.SkinIndex(), 0);
    EXPECT_EQ(s.OutPutDir(), DefaultOutputFolder());
    EXPECT_EQ(s.FormatCode(), "1");
    EXPECT_EQ(s.FormatName(), "iPod Video MPEG-4");
    EXPECT_EQ(s.Volume(), 0);
    EXPECT_EQ(s.Mute(), 0);
    EXPECT_EQ(s.Priority(), 1);
    EXPECT_TRUE(s.SnapFullSize() && s.SnapSmallSize() && s.SnapBmp() && s.SnapJpg());
    EXPECT_EQ(s.JpgCmp(), 30);
    EXPECT_TRUE(s.Collapsed(3));

    s.SetVolume(200);
    EXPECT_EQ(s.Volume(), 64);
    s.SetVolume(-1);
    EXPECT_EQ(s.Volume(), 64);
    s.ini().writeString("settings", "volume", "loud");
    EXPECT_EQ(s.Volume(), 0);
    s.SetVolume(128);
    EXPECT_EQ(s.Volume(), 128);
    s.SetCollapsed(3, false);
    EXPECT_FALSE(s.Collapsed(3));
}

TEST(SettingsTest, OverridesAreSeenButNeverStored) {
    QTemporaryDir dir;
    AppSettings s(dir.filePath("s.ini"));
    s.SetFormat("205", "Apple H.264 720p (1280 x 720) (*.mp4)");
    s.OverrideFormatCode(500);
    s.OverrideOutPutDir("/tmp/elsewhere");
    EXPECT_EQ(s.ProfileCode(), 500);
    EXPECT_EQ(s.OutPutDir(), "/tmp/elsewhere");
    AppSettings stored(dir.filePath("s.ini"));
    EXPECT_EQ(stored.ProfileCode(), 205);
    EXPECT_EQ(stored.OutPutDir(), DefaultOutputFolder());
    // Storing a folder ends the override.
    s.SetOutPutDir("/tmp/kept");
    EXPECT_EQ(s.OutPutDir(), "/tmp/kept");
    s.ini().writeString("settings", "FormatCode", "x");
    EXPECT_EQ(AppSettings(dir.filePath("s.ini")).ProfileCode(), 1);
}
