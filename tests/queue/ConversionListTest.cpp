#include "queue/ConversionList.h"

#include "app/IniFile.h"
#include "app/Settings.h"
#include "profiles/ProfileCatalog.h"
#include "support/ScriptedPrompter.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

using namespace kavel;

namespace {

class ConversionListTest : public testing::Test {
protected:
    ConversionListTest() {
        settings_.SetOutPutDir(dir_.filePath("out"));
        settings_.SetFormat("205", "Apple H.264 720p (1280 x 720) (*.mp4)");
        catalog_.writeString("formatInfo205", "FileExt", "m4v");
        settings_.ini().writeString("formatInfo205", "paraZoom", "pan");
    }

    // Paths containing "text" are not media; "long" ones last 90.5 s, the rest have no duration.
    static bool Open(const QString& path, int64_t* durationUs) {
        if (path.contains("text"))
            return false;
        *durationUs = path.contains("long") ? 90500000 : -1;
        return true;
    }

    QStringList Captions() const {
        QStringList captions;
        for (int i = 0; i < list_.Count(); ++i)
            captions << list_.Row(i).Caption;
        return captions;
    }

    QTemporaryDir dir_;
    AppSettings settings_{dir_.filePath("settings.ini")};
    IniFile catalog_{dir_.filePath("catalog.ini")};
    ProfileCatalog profiles_{dir_.filePath("catalog.ini")};
    test::ScriptedPrompter prompter_;
    ConversionList list_{settings_, profiles_, prompter_, &ConversionListTest::Open};
};

TEST_F(ConversionListTest, AddSkipsFoldersDuplicatesAndNonMedia) {
    EXPECT_EQ(list_.Add({"/m/long.avi", dir_.path(), "/m/text.txt", "/m/b.mov", "/m/long.avi"}), 2);
    EXPECT_EQ(list_.Add({"/m/B.mov", "/m/b.mov"}), 1);
    EXPECT_EQ(Captions(), (QStringList{"/m/long.avi", "/m/b.mov", "/m/B.mov"}));
    EXPECT_EQ(list_.Selected(), 0);

    const ListRow& first = list_.Row(0);
    EXPECT_EQ(first.Length, "90");
    EXPECT_EQ(first.TrimmedLength, "90");
    EXPECT_EQ(first.Destination, "long_(new)_ipod.m4v");
    EXPECT_EQ(first.Progress, "");
    EXPECT_TRUE(first.Checked);
    EXPECT_EQ(first.Record.FileIndex, 0);
    EXPECT_EQ(first.Record.SourceFile, "/m/long.avi");
    EXPECT_EQ(first.Record.DestFile, dir_.filePath("out/long_(new)_ipod.m4v"));
    EXPECT_EQ(first.Record.DurationSeconds, 90);
    EXPECT_EQ(first.Record.Zoom, "pan");

    // Unknown duration shows 0; the record keeps the position in its own selection.
    EXPECT_EQ(list_.Row(1).Length, "0");
    EXPECT_EQ(list_.Row(1).Record.FileIndex, 3);
}

TEST_F(ConversionListTest, RemoveSelectsTheRowThatMovedIn) {
    int emptied = 0;
    list_.OnEmptied = [&] { ++emptied; };
    list_.Add({"/m/a.avi", "/m/b.avi", "/m/c.avi"});
    list_.Select(2);
    list_.Remove();
    EXPECT_EQ(list_.Selected(), 1);
    list_.Select(0);
    list_.Remove();
    EXPECT_EQ(Captions(), QStringList{"/m/b.avi"});
    EXPECT_EQ(list_.Selected(), 0);
    EXPECT_TRUE(list_.RowActionsEnabled());
    list_.Remove();
    EXPECT_EQ(list_.Count(), 0);
    EXPECT_EQ(emptied, 1);
    EXPECT_FALSE(list_.RowActionsEnabled());
    list_.Remove();  // nothing selected: nothing happens
    list_.Clear();
    EXPECT_EQ(emptied, 1);
}

TEST_F(ConversionListTest, CheckOperations) {
    list_.Add({"/m/a.avi", "/m/b.avi", "/m/c.avi"});
    list_.Select(1);
    list_.UncheckSelected();
    list_.ReverseCheck();
    EXPECT_FALSE(list_.Row(0).Checked);
    EXPECT_TRUE(list_.Row(1).Checked);
    EXPECT_FALSE(list_.Row(2).Checked);
    EXPECT_EQ(list_.CheckedCount(), 1);
    list_.CheckAll();
    EXPECT_EQ(list_.CheckedCount(), 3);
    list_.UncheckAll();
    list_.CheckSelected();
    EXPECT_EQ(list_.CheckedCount(), 1);
}

}  // namespace
