#include "queue/BatchRun.h"

#include "app/Settings.h"
#include "engine/FFmpegLoader.h"
#include "engine/MainThread.h"
#include "probe/MediaProbe.h"
#include "profiles/ProfileCatalog.h"
#include "queue/ConversionList.h"
#include "support/MediaFixtures.h"
#include "support/ScriptedPrompter.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace kavel;

namespace {

const QString kCatalog = QStringLiteral(KAVEL_SOURCE_DIR "/data/kaveliphoneformat.ini");

class BatchRunTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadLibraries(EngineLibraries)) << LastLoadError();
        settings_.SetOutPutDir(dir_.filePath("out"));
        settings_.SetFormat("0", "iPod Video MPEG-4 (*.mp4)");
        run_.OpenFolder = [this](const QString& folder) { actions_ << "open " + folder; };
        run_.PowerOff = [this] { actions_ << "power off"; };
        run_.OpenFolderAfter = run_.ShutDownAfter = true;
    }

    static std::string Source(double seconds = 1.0) {
        fixtures::MediaParams params;
        params.Seconds = seconds;
        params.AudioStreams = 1;
        return fixtures::MakeMedia(params);
    }

    // Adds the files as the window's list does: each is probed through the engine.
    void Add(const QStringList& paths) {
        list_.Add(paths);
    }

    bool Convert() {
        if (!run_.Start())
            return false;
        WaitPumping([this] { return !run_.Running(); });
        run_.Finish();
        return true;
    }

    QTemporaryDir dir_;
    AppSettings settings_{dir_.filePath("settings.ini")};
    ProfileCatalog catalog_{kCatalog};
    test::ScriptedPrompter prompter_;
    ConvertEngine engine_;
    ConversionList list_{settings_, catalog_, prompter_, [this](const QString& path, int64_t* us) {
        MediaProbe probe;
        FileStreamInfo info;
        if (!probe.LoadFile(path.toStdString()) || !probe.GetFileStreamInfo(info))
            return false;
        *us = info.Duration;
        return true;
    }};
    BatchRun run_{engine_, list_, settings_, catalog_, prompter_};
    QStringList actions_;
};

TEST_F(BatchRunTest, NoCheckedRowWarnsAndStartsNothing) {
    Add({QString::fromStdString(Source())});
    list_.UncheckAll();
    EXPECT_FALSE(run_.Start());
    EXPECT_EQ(prompter_.messages, QStringList{"Warning: Please select a file by clicking the check box!"});
    EXPECT_EQ(engine_.TaskCount(), 0);
}

TEST_F(BatchRunTest, ConvertsCheckedRowsWithTheStoredProfile) {
    const QString source = QString::fromStdString(Source());
    const QString copy = dir_.filePath("copy.mp4");
    ASSERT_TRUE(QFile::copy(source, copy));
    Add({source, copy, dir_.filePath("gone.mp4")});
    QFile::copy(source, dir_.filePath("gone.mp4"));
    Add({dir_.filePath("gone.mp4")});
    ASSERT_EQ(list_.Count(), 3);
    // The third file disappears after it was added: it is skipped with a message.
    QFile::remove(dir_.filePath("gone.mp4"));

    std::vector<int> percents;
    run_.OnProgressView = [&](const ProgressView& view) { percents.push_back(view.Percent); };
    ASSERT_TRUE(Convert());

    EXPECT_EQ(run_.TaskItemIndex(), (std::vector<int>{0, 1}));
    EXPECT_EQ(list_.Row(0).Progress, "100%");
    EXPECT_EQ(list_.Row(1).Progress, "100%");
    EXPECT_EQ(list_.Row(2).Progress, "");
    ASSERT_EQ(prompter_.messages.size(), 1);
    EXPECT_TRUE(prompter_.messages[0].contains("gone.mp4")) << prompter_.messages[0].toStdString();
    EXPECT_FALSE(percents.empty());

    // Both sources are named after "source"-less stems: distinct names, never overwritten.
    const QStringList outputs = QDir(dir_.filePath("out")).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(outputs.size(), 2) << outputs.join(",").toStdString();
    MediaProbe probe;
    ASSERT_TRUE(probe.LoadFile(list_.Row(0).Record.DestFile.toStdString()));
    VideoStreamInfo video;
    ASSERT_TRUE(probe.GetVideoStreamInfo(probe.FirstVideoStream(), video));
    EXPECT_EQ(video.Codec.substr(0, 5), "mpeg4");
    EXPECT_EQ(probe.AudioStreamCount(), 1);

    // The profile was stored before it converted, and the actions ran once, the folder first.
    EXPECT_TRUE(settings_.ini().sectionExists("formatInfo0"));
    EXPECT_EQ(actions_, (QStringList{"open " + dir_.filePath("out"), "power off"}));
}

TEST_F(BatchRunTest, TrimmedRowConvertsItsRangeToFullProgress) {
    Add({QString::fromStdString(Source(2.0))});
    list_.Row(0).Record.TrimStart = 1000000;
    list_.Row(0).Record.TrimLength = 500000;
    int lastPercent = -1;
    run_.OnProgressView = [&](const ProgressView& view) { lastPercent = view.Percent; };
    ASSERT_TRUE(Convert());
    EXPECT_EQ(list_.Row(0).Progress, "100%");
    // Measured against the trimmed length, not the whole file (which would give about 20 %).
    EXPECT_GE(lastPercent, 80);

    // 25 fps source, 29.97 fps output: the first picture shows source frame 25.
    fixtures::CounterGeometry geometry;
    const fixtures::DecodedVideo decoded =
        fixtures::DecodeVideo(list_.Row(0).Record.DestFile.toStdString(), geometry);
    ASSERT_FALSE(decoded.Counters.empty());
    EXPECT_NEAR(decoded.Counters.front(), 25, 1);
    EXPECT_NEAR(decoded.Counters.back(), 37, 1);
    MediaProbe probe;
    FileStreamInfo info;
    ASSERT_TRUE(probe.LoadFile(list_.Row(0).Record.DestFile.toStdString()));
    ASSERT_TRUE(probe.GetFileStreamInfo(info));
    EXPECT_NEAR(double(info.Duration), 500000.0, 80000.0);
}

TEST_F(BatchRunTest, AfterActionsOnlyWhenTheLastTaskFinishedInEitherOrder) {
    const QString source = QString::fromStdString(Source(0.3));
    Add({source});
    list_.UncheckAll();
    ASSERT_FALSE(run_.Start());  // nothing checked: nothing runs

    struct Case {
        const char* name;
        std::vector<TerminateInfo> events;
        bool actions;
    } cases[] = {
        {"last finished, then the end", {{0, false, true, "x"}, {1, true, false, ""}, {-1, true, false, ""}}, true},
        {"the end overtakes the last", {{0, true, false, ""}, {-1, true, false, ""}, {1, true, false, ""}}, true},
        {"last failed", {{0, true, false, ""}, {1, false, true, "x"}, {-1, true, false, ""}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        actions_.clear();
        run_.SimulateRun({0, 0});
        for (const TerminateInfo& event : c.events)
            run_.HandleTerminate(event);
        EXPECT_FALSE(run_.Running());
        EXPECT_EQ(actions_.size(), c.actions ? 2 : 0);
    }
}

TEST(BatchRunTextTest, ProgressTexts) {
    ProgressInfo info;
    info.TaskIndex = 1;
    info.CurrentDuration = 45500000;
    info.TotalDuration = 91000000;
    info.TotalSize = 1234567;
    const ProgressView view =
        BatchRun::MakeView(info, 3, "/very/long/folder/name/that/goes/on/and/on/and/on/movie.avi");
    EXPECT_EQ(view.Percent, 50);
    EXPECT_EQ(view.CurrentTime, "45 Second");
    EXPECT_EQ(view.Length, "91 Second");
    EXPECT_EQ(view.FileSize, "1234 kb");
    EXPECT_EQ(view.Progress, "[2/3]");
    EXPECT_EQ(view.File, "/very/long/folder/name/that/goes/on/and/on/a...avi");
    info.TotalDuration = -1;
    EXPECT_EQ(BatchRun::MakeView(info, 3, "a.avi").Percent, -1);
    EXPECT_EQ(BatchRun::MakeView(info, 3, "a.avi").File, "a.avi");
}

TEST(BatchRunTextTest, PriorityMapping) {
    ThreadPriority priority = tpHighest;
    EXPECT_TRUE(PriorityFromSetting(0, &priority));
    EXPECT_EQ(priority, tpIdle);
    EXPECT_TRUE(PriorityFromSetting(3, &priority));
    EXPECT_EQ(priority, tpLowest);
    EXPECT_FALSE(PriorityFromSetting(7, &priority));
    EXPECT_EQ(priority, tpLowest);
}

}  // namespace
