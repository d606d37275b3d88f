#include "queue/OutputNaming.h"

#include "app/GlobalObject.h"
#include "app/Settings.h"
#include "support/ScriptedPrompter.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

using namespace kavel;

namespace {

class OutputNamingTest : public testing::Test {
protected:
    void SetUp() override {
        settings_.SetOutPutDir(dir_.filePath("out"));
    }

    static void Touch(const QString& path) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }

    QTemporaryDir dir_;
    AppSettings settings_{dir_.filePath("settings.ini")};
    test::ScriptedPrompter prompter_;
};

TEST_F(OutputNamingTest, NewNamesNeverOverwrite) {
    const QString out = dir_.filePath("out/");
    QStringList names;
    for (int run = 0; run < 3; ++run) {
        const QString name = OutputFileName(settings_, prompter_, "/media/clip.v1.avi", ".mp4");
        names << name;
        Touch(name);
    }
    EXPECT_EQ(names, (QStringList{out + "clip.v1_(new).mp4", out + "clip.v1_(new_1).mp4",
                                  out + "clip.v1_(new_2).mp4"}));
    EXPECT_TRUE(prompter_.messages.isEmpty());
}

TEST_F(OutputNamingTest, NameWithoutDotAndFolderEndingInSeparator) {
    settings_.SetOutPutDir(dir_.filePath("out") + "/");
    EXPECT_EQ(OutputFileName(settings_, prompter_, "/media/clip", "_ipod.mp4"),
              dir_.filePath("out/clip_(new)_ipod.mp4"));
}

TEST_F(OutputNamingTest, RowsOfOneRunGetDistinctNames) {
    QSet<QString> taken;
    const QString a = OutputFileName(settings_, prompter_, "/a/clip.avi", ".mp4", &taken);
    const QString b = OutputFileName(settings_, prompter_, "/b/clip.mov", ".mp4", &taken);
    EXPECT_EQ(a, dir_.filePath("out/clip_(new).mp4"));
    EXPECT_EQ(b, dir_.filePath("out/clip_(new_1).mp4"));
}

TEST_F(OutputNamingTest, UncreatableFolderFallsBackToDefaultAndStoresIt) {
    const QString home = dir_.filePath("home");
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", home.toUtf8());
    Touch(dir_.filePath("file"));
    const QString blocked = dir_.filePath("file/sub");
    settings_.SetOutPutDir(blocked);

    const QString name = OutputFileName(settings_, prompter_, "/media/clip.avi", ".mp4");
    qputenv("HOME", oldHome);

    EXPECT_EQ(name, home + "/videoconverter/clip_(new).mp4");
    ASSERT_EQ(prompter_.messages.size(), 1);
    EXPECT_EQ(prompter_.messages[0], "Warning: Cannot create output directory:" + blocked +
                                         ".It will create default directory " + home +
                                         "/videoconverter!");
    EXPECT_EQ(settings_.OutPutDir(), home + "/videoconverter");
}

}  // namespace
