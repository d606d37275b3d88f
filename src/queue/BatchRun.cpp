#include "queue/BatchRun.h"

#include "app/Prompter.h"
#include "app/Settings.h"
#include "editing/ConversionOverlay.h"
#include "engine/MainThread.h"
#include "probe/MediaProbe.h"
#include "profiles/JobBuilder.h"
#include "profiles/ProfileCatalog.h"
#include "profiles/ProfileSeed.h"
#include "queue/ConversionList.h"
#include "queue/OutputNaming.h"

#include <QFileInfo>
#include <QSet>

namespace kavel {

bool PriorityFromSetting(int value, ThreadPriority* priority) {
    static const ThreadPriority map[] = {tpIdle, tpNormal, tpLower, tpLowest};
    if (value < 0 || value > 3)
        return false;
    *priority = map[value];
    return true;
}

BatchRun::BatchRun(ConvertEngine& engine, ConversionList& list, AppSettings& settings,
                   const ProfileCatalog& catalog, Prompter& prompter)
    : engine_(engine), list_(list), settings_(settings), catalog_(catalog), prompter_(prompter) {
    engine_.OnProgress = [this](ConvertEngine&, ProgressInfo* info) { HandleProgress(*info); };
    engine_.OnTerminate = [this](ConvertEngine&, const TerminateInfo& info) {
        // Arrives on a thread of its own: the list and the front end belong to the main thread.
        const TerminateInfo copy = info;
        RunInMainThread([this, copy] { HandleTerminate(copy); });
    };
}

BatchRun::~BatchRun() {
    if (running_)
        Cancel();
    engine_.OnProgress = nullptr;
    engine_.OnTerminate = nullptr;
    engine_.OnCustomHook = nullptr;
}

bool BatchRun::Start(int jobs) {
    if (CommitFrameSize)
        CommitFrameSize();
    ThreadPriority priority;
    if (PriorityFromSetting(settings_.Priority(), &priority))
        engine_.SetThreadPriority(priority);
    if (list_.CheckedCount() == 0) {
        prompter_.ShowMessage(QStringLiteral("Warning"),
                              QStringLiteral("Please select a file by clicking the check box!"));
        return false;
    }

    taskItemIndex_.clear();
    engine_.ClearTasks();
    const int code = settings_.ProfileCode();
    SeedProfileDefaults(settings_.ini(), catalog_, code);
    QSet<QString> takenNames;
    for (int row = 0; row < list_.Count(); ++row) {
        if (list_.Row(row).Checked)
            BuildTask(row, code, takenNames);
    }
    if (taskItemIndex_.empty())
        return false;

    std::vector<FilesRecord> records;
    for (int row = 0; row < list_.Count(); ++row)
        records.push_back(list_.Row(row).Record);
    overlay_ = std::make_unique<ConversionOverlay>(taskItemIndex_, std::move(records));
    engine_.OnCustomHook = [this](ConvertEngine&, HookInfo* info) {
        overlay_->Draw(info->TaskIndex, *info->Bitmap);
    };

    running_ = true;
    lastTaskFinished_ = runEnded_ = actionsDone_ = false;
    engine_.StartTask(jobs < 1 ? 1 : jobs);
    return true;
}

void BatchRun::BuildTask(int row, int code, QSet<QString>& takenNames) {
    ListRow& item = list_.Row(row);
    const std::string source = item.Caption.toStdString();
    InputOptions input;
    input.FileName = source;
    MediaProbe& probe = engine_.MediaProbe();
    const auto skip = [&](const char* what, const std::string& reason) {
        prompter_.ShowMessage(QStringLiteral("Warning"),
                              QStringLiteral("Cannot %1 %2: %3. The file is skipped.")
                                  .arg(QLatin1String(what), item.Caption, QString::fromStdString(reason)));
    };
    if (!probe.LoadFile(source)) {
        skip("open", probe.LastErrMsg());
        return;
    }
    if (item.Record.TrimStart >= 0)
        input.StartTime = item.Record.TrimStart;
    const QString suffix = QStringLiteral(".") + catalog_.FileExt(code);
    const QString destination = OutputFileName(
        settings_, prompter_, QString::fromStdString(probe.FileName()), suffix, &takenNames);
    item.Record.Zoom = !ZoomOverride.isEmpty()
                           ? ZoomOverride
                           : settings_.ini().readString(ProfileSection(code), profile::paraZoom,
                                                        profile::ZoomLetterBox);
    OutputOptions output;
    output.FileName = destination.toStdString();
    BuildConversionJob({settings_.ini(), catalog_, prompter_}, item.Record, code, output, probe,
                       input);
    if (item.Record.TrimLength > 0)
        output.Duration = item.Record.TrimLength;
    probe.Close();

    const int task = engine_.AddTask(source, &input);
    if (task < 0) {
        skip("open", engine_.LastErrMsg());
        return;
    }
    output.CustomHook = item.Record.NeedsFrameHook();
    if (!engine_.SetOutputFile(task, destination.toStdString(), &output)) {
        skip("convert", engine_.LastErrMsg());
        engine_.RemoveTask(task);
        return;
    }
    item.Record.DestFile = destination;
    taskItemIndex_.push_back(row);
}

ProgressView BatchRun::MakeView(const ProgressInfo& info, int taskCount, const QString& caption) {
    ProgressView view;
    view.TaskIndex = info.TaskIndex;
    view.Figures = info;
    if (info.TotalDuration > 0)
        view.Percent = int(info.CurrentDuration * 100 / info.TotalDuration);
    view.CurrentTime = QString::number(info.CurrentDuration / 1000000) + QStringLiteral(" Second");
    view.Length = QString::number(info.TotalDuration / 1000000) + QStringLiteral(" Second");
    view.FileSize = QString::number(info.TotalSize / 1000) + QStringLiteral(" kb");
    view.Progress = QStringLiteral("[%1/%2]").arg(info.TaskIndex + 1).arg(taskCount);
    if (caption.size() <= 50) {
        view.File = caption;
    } else {
        const QString suffix = QFileInfo(caption).suffix();
        view.File = caption.left(44) + QStringLiteral("..") +
                    (suffix.isEmpty() ? QString() : QStringLiteral(".") + suffix);
    }
    return view;
}

void BatchRun::HandleProgress(const ProgressInfo& info) {
    if (info.TaskIndex < 0 || size_t(info.TaskIndex) >= taskItemIndex_.size())
        return;
    const int row = taskItemIndex_[size_t(info.TaskIndex)];
    ProgressView view = MakeView(info, int(taskItemIndex_.size()), list_.Row(row).Caption);
    view.Row = row;
    if (view.Percent >= 0)
        list_.Row(row).Progress = QString::number(view.Percent) + QLatin1Char('%');
    if (OnProgressView)
        OnProgressView(view);
}

void BatchRun::HandleTerminate(const TerminateInfo& info) {
    if (info.TaskIndex < 0) {
        runEnded_ = true;
        running_ = false;
        RunAfterActionsWhenDue();
        if (OnRunEnded)
            OnRunEnded();
        return;
    }
    if (size_t(info.TaskIndex) >= taskItemIndex_.size())
        return;
    const int row = taskItemIndex_[size_t(info.TaskIndex)];
    if (info.Finished) {
        list_.Row(row).Progress = QStringLiteral("100%");
        if (size_t(info.TaskIndex) + 1 == taskItemIndex_.size())
            lastTaskFinished_ = true;
    }
    if (OnTaskEnded)
        OnTaskEnded(info.TaskIndex, row, info);
    RunAfterActionsWhenDue();
}

// The actions wait for both the last task's success and the end of the whole run, so they run
// once, whichever of the two events arrives first, and never while files still convert.
void BatchRun::RunAfterActionsWhenDue() {
    if (!lastTaskFinished_ || !runEnded_ || actionsDone_)
        return;
    actionsDone_ = true;
    if (OpenFolderAfter && OpenFolder)
        OpenFolder(settings_.OutPutDir());
    if (ShutDownAfter && PowerOff)
        PowerOff();
}

void BatchRun::SimulateRun(std::vector<int> taskItemIndex) {
    taskItemIndex_ = std::move(taskItemIndex);
    running_ = true;
    lastTaskFinished_ = runEnded_ = actionsDone_ = false;
}

void BatchRun::Cancel() {
    if (running_)
        engine_.Stop(true);
}

void BatchRun::Pause() { engine_.Pause(); }
void BatchRun::Resume() { engine_.Resume(); }

void BatchRun::Finish() {
    WaitPumping([this] { return !engine_.Working() || engine_.AllDone(); });
    engine_.ClearTasks();
}

}  // namespace kavel
