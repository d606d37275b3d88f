#include "app/IniFile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

using kavel::IniFile;
using kavel::IniWriteError;

namespace {

class IniFileTest : public testing::Test {
protected:
    QString path() const { return dir_.filePath("settings.ini"); }

    void writeRaw(const QByteArray& bytes) {
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QByteArray readRaw() const {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir dir_;
};

TEST_F(IniFileTest, ReadsByPrivateProfileRules) {
    writeRaw("[Settings]\nsnapOutPutDir=/tmp/a=b\nvolume=200\nbad=12abc\nneg=-7\n"
             "empty=\nflag=5\nzero=0\n[Other]\nvolume=1\n");
    const IniFile ini(path());
    struct Case {
        const char* key;
        int def;
        int expected;
    } cases[] = {
        {"VOLUME", 3, 200}, {"bad", 3, 3},   {"neg", 3, -7},    {"empty", 9, 9},
        {"missing", 4, 4},  {"flag", 0, 5}, {"snapoutputdir", 8, 8},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ini.readInteger("settings", c.key, c.def), c.expected) << c.key;

    EXPECT_EQ(ini.readString("settings", "SnapOutPutDir", "x"), "/tmp/a=b");
    EXPECT_EQ(ini.readString("settings", "empty", "x"), "");
    EXPECT_EQ(ini.readString("nosuch", "volume", "d"), "d");
    EXPECT_EQ(ini.readInteger("other", "volume", 0), 1);
    EXPECT_TRUE(ini.readBool("settings", "flag", false));
    EXPECT_FALSE(ini.readBool("settings", "zero", true));
    EXPECT_TRUE(ini.readBool("settings", "missing", true));
    EXPECT_TRUE(ini.sectionExists("OTHER"));
    EXPECT_FALSE(ini.valueExists("other", "mute"));
}

TEST_F(IniFileTest, StrictIntegerText) {
    struct Case {
        const char* text;
        bool ok;
        int value;
    } cases[] = {{"42", true, 42},      {"-3", true, -3},   {"+5", true, 5},  {"", false, 0},
                 {"-", false, 0},       {" 1", false, 0},   {"1 ", false, 0}, {"0x10", false, 0},
                 {"99999999999", false, 0}, {"1.5", false, 0}};
    for (const Case& c : cases) {
        int value = 0;
        EXPECT_EQ(IniFile::parseInteger(c.text, &value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

TEST_F(IniFileTest, MissingFileGivesDefaultsAndFirstWriteCreatesIt) {
    const QString nested = dir_.filePath("a/b/settings.ini");
    IniFile ini(nested);
    EXPECT_EQ(ini.readInteger("settings", "priority", 1), 1);
    ini.writeInteger("settings", "priority", 3);
    EXPECT_EQ(IniFile(nested).readInteger("Settings", "Priority", 1), 3);
}

TEST_F(IniFileTest, WriteKeepsEverythingElse) {
    writeRaw("; comment\n[settings]\nSkinIndex=2\nodd line\n\n[formatInfo104]\niVideoSize=1\n");
    IniFile ini(path());
    ini.writeInteger("SETTINGS", "skinindex", 5);
    ini.writeString("settings", "OutPutDir", "/media/out");
    ini.writeString("lstformat", "0", "1");
    EXPECT_EQ(readRaw(),
              "; comment\n[settings]\nSkinIndex=5\nodd line\nOutPutDir=/media/out\n\n"
              "[formatInfo104]\niVideoSize=1\n[lstformat]\n0=1\n");
}

TEST_F(IniFileTest, WriteKeepsCrLfLineEnds) {
    writeRaw("[settings]\r\nmute=0\r\n");
    IniFile ini(path());
    ini.writeInteger("settings", "mute", 1);
    EXPECT_EQ(readRaw(), "[settings]\r\nmute=1\r\n");
}

TEST_F(IniFileTest, WriteLeavesNoTemporaryFiles) {
    IniFile ini(path());
    for (int i = 0; i < 5; ++i)
        ini.writeInteger("settings", "volume", i);
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files), QStringList{"settings.ini"});
}

TEST_F(IniFileTest, RefusedWriteRaisesAndStoresNothing) {
    writeRaw("[settings]\nvolume=7\n");
    ASSERT_EQ(::chmod(QFile::encodeName(path()).constData(), 0444), 0);
    IniFile ini(path());
    try {
        ini.writeInteger("settings", "volume", 9);
        FAIL() << "write to a read-only file succeeded";
    } catch (const IniWriteError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + path().toStdString());
    }
    EXPECT_EQ(readRaw(), "[settings]\nvolume=7\n");

    // A folder that cannot exist: its parent is a plain file.
    IniFile blocked(path() + "/inside.ini");
    EXPECT_THROW(blocked.writeInteger("settings", "volume", 1), IniWriteError);
}

}  // namespace
