#pragma once

#include "engine/ConvertEngine.h"

#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace kavel {

class AppSettings;
class ConversionList;
class ConversionOverlay;
class ProfileCatalog;
class Prompter;

// What the progress window (or the terminal) shows for one progress report.
struct ProgressView {
    int TaskIndex = 0;
    int Row = -1;
    int Percent = -1;         // -1 while the engine knows no total
    QString CurrentTime;      // "12 Second"
    QString Length;           // "90 Second"
    QString FileSize;         // "1234 kb"
    QString Progress;         // "[1/3]"
    QString File;             // the row caption, shortened to fit
    ProgressInfo Figures;     // the engine's own numbers
};

// The batch run: turns every checked row of the list into one engine task with the current
// profile, starts the engine, follows its progress and termination events, and runs the
// after-conversion actions. Main thread, except that termination events may be handed to
// HandleTerminate from any thread (they are carried over to the main thread).
//
// States: Idle -> Start -> Running -> (the engine's end-of-run event) -> Idle. The front end
// waits while Running() delivering main-thread calls, then calls Finish().
class BatchRun {
public:
    BatchRun(ConvertEngine& engine, ConversionList& list, AppSettings& settings,
             const ProfileCatalog& catalog, Prompter& prompter);
    ~BatchRun();

    // Builds and starts the tasks; false when nothing was started (no checked row, or no row
    // could be opened). Rows whose file cannot be opened are skipped with a message. Errors of
    // the job builder and of the settings file propagate; the tasks built so far are then not
    // started. jobs is the number of files converted at the same time.
    bool Start(int jobs = 1);
    bool Running() const { return running_; }
    // Stops the engine, waiting for the current task to end; the run then ends as usual.
    void Cancel();
    void Pause();
    void Resume();
    // After Running() went false: clears the engine's tasks (once the engine allows it).
    void Finish();

    // Element k is the list position of the row that became task k.
    const std::vector<int>& TaskItemIndex() const { return taskItemIndex_; }

    // A zoom for every row of this run in place of the profile's "parazoom" (empty: none).
    QString ZoomOverride;
    // Called before the tasks are built, to commit a frame size typed into the editor.
    std::function<void()> CommitFrameSize;
    // Every progress report, after the row's "Progress" column was updated.
    std::function<void(const ProgressView&)> OnProgressView;
    // A task ended (row position, whether it converted to its end, the error text if any).
    std::function<void(int task, int row, const TerminateInfo&)> OnTaskEnded;
    // The whole run ended; the toolbar is enabled again.
    std::function<void()> OnRunEnded;

    // The after-conversion actions, run once the last task converted to its end.
    bool OpenFolderAfter = false;
    bool ShutDownAfter = false;
    std::function<void(const QString& folder)> OpenFolder;
    // Powers the machine off; injected so that nothing but the real program ever calls it.
    std::function<void()> PowerOff;

    // The texts of a progress report (exposed for tests).
    static ProgressView MakeView(const ProgressInfo& info, int taskCount, const QString& caption);

    // Main thread: the handling of one termination event (task -1: the end of the run), which
    // gives the same result whichever of the last task's event and the end arrives first.
    void HandleTerminate(const TerminateInfo& info);
    // For tests of the termination handling: a run of these rows that the engine never saw.
    void SimulateRun(std::vector<int> taskItemIndex);

private:
    void BuildTask(int row, int code, QSet<QString>& takenNames);
    void HandleProgress(const ProgressInfo& info);
    void RunAfterActionsWhenDue();

    ConvertEngine& engine_;
    ConversionList& list_;
    AppSettings& settings_;
    const ProfileCatalog& catalog_;
    Prompter& prompter_;
    std::vector<int> taskItemIndex_;
    std::unique_ptr<ConversionOverlay> overlay_;
    bool running_ = false;
    bool lastTaskFinished_ = false;
    bool runEnded_ = false;
    bool actionsDone_ = false;
};

// The "priority" setting (0 idle, 1 normal, 2 lower, 3 lowest) as the engine's thread priority;
// false for any other value, which leaves the engine's priority as it was.
bool PriorityFromSetting(int value, ThreadPriority* priority);

}  // namespace kavel
