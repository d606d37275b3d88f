#include "cli/ConvertCommand.h"

#include "app/GlobalObject.h"
#include "app/Prompter.h"
#include "app/Settings.h"
#include "engine/ConvertEngine.h"
#include "engine/MainThread.h"
#include "probe/MediaProbe.h"
#include "profiles/ProfileCatalog.h"
#include "profiles/ProfileSeed.h"
#include "profiles/ProfileTable.h"
#include "queue/BatchRun.h"
#include "queue/ConversionList.h"
#include "queue/TimeText.h"

#include <QColor>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QUrl>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>

namespace kavel {

namespace {

std::atomic<bool> gInterrupted{false};

extern "C" void OnInterrupt(int) { gInterrupted = true; }

using Clock = std::chrono::steady_clock;

// Questions and messages of the model, answered on the terminal.
class TerminalPrompter : public Prompter {
public:
    TerminalPrompter(std::ostream& errors, bool yes) : errors_(errors), yes_(yes) {}

    void ShowMessage(const QString& caption, const QString& text) override {
        errors_ << "kavel-convert: " << caption.toStdString() << ": " << text.toStdString() << "\n";
    }

    bool AskYesNo(const QString& caption, const QString& text) override {
        errors_ << "kavel-convert: " << caption.toStdString() << ": " << text.toStdString();
        if (yes_) {
            errors_ << " yes\n";
            return true;
        }
        if (!isatty(STDIN_FILENO)) {
            errors_ << " no (use --yes to answer yes)\n";
            return false;
        }
        errors_ << " [y/N] " << std::flush;
        std::string answer;
        std::getline(std::cin, answer);
        return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
    }

private:
    std::ostream& errors_;
    bool yes_;
};

std::string SizeText(int64_t bytes) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(1);
    if (bytes >= 1024 * 1024)
        text << double(bytes) / (1024 * 1024) << " MB";
    else
        text << double(bytes) / 1024 << " KB";
    return text.str();
}

std::string Seconds(int64_t microseconds) {
    return FormatSeconds(microseconds < 0 ? 0 : microseconds / 1000000).toStdString();
}

// The outcome of one file, for the summary.
struct FileResult {
    std::string Source;
    std::string Output;
    std::string Result = "not converted";
    bool Converted = false;
    Clock::time_point Started{};
    double WallSeconds = 0;
};

void ApplyToRecord(const ConvertRequest& request, FilesRecord& record) {
    if (request.TrimStart)
        record.TrimStart = *request.TrimStart;
    if (request.TrimLength)
        record.TrimLength = *request.TrimLength;
    if (request.Crop) {
        const std::vector<int>& crop = *request.Crop;
        record.CropTop = record.CropTopEntered = crop[0];
        record.CropLeft = record.CropLeftEntered = crop[1];
        record.CropBottom = record.CropBottomEntered = crop[2];
        record.CropRight = record.CropRightEntered = crop[3];
    }
    if (request.Brightness)
        record.Brightness = *request.Brightness;
    if (request.Contrast)
        record.Contrast = *request.Contrast;
    if (request.Saturation)
        record.Saturation = *request.Saturation;
    if (request.Exposure)
        record.Exposure = *request.Exposure;
    record.WatermarkText = QString::fromStdString(request.Text);
    if (!request.FontName.empty())
        record.WatermarkFont.Name = QString::fromStdString(request.FontName);
    if (request.FontSize)
        record.WatermarkFont.Size = *request.FontSize;
    if (!request.FontColor.empty())
        record.WatermarkFont.Color = QColor(QString::fromStdString(request.FontColor));
    const QString style = QString::fromStdString(request.FontStyle);
    record.WatermarkFont.Bold = style.contains("bold");
    record.WatermarkFont.Italic = style.contains("italic");
    record.WatermarkFont.Underline = style.contains("underline");
    record.WatermarkFont.StrikeOut = style.contains("strikeout");
    if (request.TextPos) {
        record.TextX = (*request.TextPos)[0];
        record.TextY = (*request.TextPos)[1];
    }
    record.WatermarkImage = QString::fromStdString(request.Image);
    if (request.ImagePos) {
        record.ImageX = (*request.ImagePos)[0];
        record.ImageY = (*request.ImagePos)[1];
    }
    if (request.Alpha)
        record.ImageAlpha = *request.Alpha;
    if (request.Style)
        record.TransparentStyle = *request.Style;
    record.ProcessText = request.ProcessText;
    record.ProcessImage = request.ProcessImage;
}

// Live progress: one rewritten line on a terminal, a plain line per whole percent elsewhere.
class ProgressPrinter {
public:
    explicit ProgressPrinter(std::ostream& out) : out_(out), terminal_(isatty(STDOUT_FILENO)) {}

    void Show(const ProgressView& view, const std::string& name, Clock::time_point started) {
        const ProgressInfo& f = view.Figures;
        std::ostringstream line;
        line << view.Progress.toStdString() << " " << name << "  ";
        if (view.Percent >= 0)
            line << std::setw(3) << view.Percent << "%  ";
        line << Seconds(f.CurrentDuration) << " / " << Seconds(f.TotalDuration) << "  "
             << SizeText(f.TotalSize) << "  " << f.FPS << " fps";
        const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
        if (view.Percent > 0 && view.Percent < 100) {
            const auto left = int64_t(elapsed * (100 - view.Percent) / view.Percent * 1e6);
            line << "  " << Seconds(left) << " left";
        }
        if (terminal_) {
            out_ << "\r\033[K" << line.str() << std::flush;
            open_ = true;
        } else if (view.Percent != lastPercent_) {
            out_ << line.str() << "\n" << std::flush;
        }
        lastPercent_ = view.Percent;
    }

    // Ends the rewritten line before other output.
    void Break() {
        if (open_)
            out_ << "\n";
        open_ = false;
        lastPercent_ = -2;
    }

private:
    std::ostream& out_;
    bool terminal_;
    bool open_ = false;
    int lastPercent_ = -2;
};

// Fonts for a text watermark and the desktop's folder opener live in the GUI library.
bool NeedsGuiApplication(const ConvertRequest& request) {
    return !request.Text.empty() || request.OpenFolder;
}

}  // namespace

bool ParseTimeText(const std::string& text, int64_t* microseconds) {
    if (text.empty())
        return false;
    double total = 0;
    std::stringstream parts(text);
    std::string part;
    int fields = 0;
    while (std::getline(parts, part, ':')) {
        if (part.empty() || ++fields > 3)
            return false;
        std::size_t used = 0;
        double value = 0;
        try {
            value = std::stod(part, &used);
        } catch (const std::exception&) {
            return false;
        }
        if (used != part.size() || value < 0 || !(part[0] >= '0' && part[0] <= '9'))
            return false;
        total = total * 60 + value;
    }
    *microseconds = int64_t(total * 1e6 + 0.5);
    return true;
}

int ResolveProfile(const std::string& text) {
    const QString wanted = QString::fromStdString(text).trimmed();
    bool isNumber = false;
    const int code = wanted.toInt(&isNumber);
    if (isNumber)
        return FindProfile(code) ? code : -1;
    for (const ProfileFamily& family : ProfileFamilies()) {
        for (const ProfileEntry& entry : family.Profiles) {
            QString name = QString::fromUtf8(entry.Name);
            const qsizetype pattern = name.lastIndexOf(QStringLiteral("(*."));
            const QString shortName = pattern > 0 ? name.left(pattern).trimmed() : name;
            if (wanted.compare(name, Qt::CaseInsensitive) == 0 ||
                wanted.compare(shortName, Qt::CaseInsensitive) == 0)
                return entry.Code;
        }
    }
    return -1;
}

int RunListProfiles(const std::string& settingsFile, std::ostream& out) {
    GlobalObject& global = CreateGlobal();
    if (!settingsFile.empty())
        global.SetSettingsFile(QString::fromStdString(settingsFile));
    const ProfileCatalog catalog(global.CatalogFile());
    const int current = AppSettings(global.SettingsFile()).ProfileCode();
    for (const ProfileFamily& family : ProfileFamilies()) {
        out << family.Name << "\n";
        for (const ProfileEntry& entry : family.Profiles) {
            out << (entry.Code == current ? " *" : "  ") << std::setw(4) << entry.Code << "  "
                << entry.Name << "  [." << catalog.FileExt(entry.Code).toStdString() << "]\n";
        }
    }
    return 0;
}

int RunConvert(const ConvertRequest& request, std::ostream& out, std::ostream& errors) {
    // A GUI application that runs without a display, when one is needed.
    std::unique_ptr<QGuiApplication> guiApplication;
    if (NeedsGuiApplication(request) && !QGuiApplication::instance()) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "kavel-convert";
        static char* argv[] = {name, nullptr};
        guiApplication = std::make_unique<QGuiApplication>(argc, argv);
    }

    GlobalObject& global = CreateGlobal();
    if (!request.SettingsFile.empty())
        global.SetSettingsFile(QString::fromStdString(request.SettingsFile));
    AppSettings settings(global.SettingsFile());
    const ProfileCatalog catalog(global.CatalogFile());
    if (!QFileInfo::exists(catalog.Path())) {
        errors << "kavel-convert: profile catalog " << catalog.Path().toStdString()
               << " not found\n";
        return 1;
    }
    if (!request.Profile.empty()) {
        const int code = ResolveProfile(request.Profile);
        if (code < 0) {
            errors << "kavel-convert: unknown profile " << request.Profile
                   << " (see --list-profiles)\n";
            return 2;
        }
        settings.OverrideFormatCode(code);
    }
    if (!request.OutputDir.empty())
        settings.OverrideOutPutDir(QString::fromStdString(request.OutputDir));
    if (request.Priority)
        settings.OverridePriority(*request.Priority);
    const int code = settings.ProfileCode();
    SeedProfileDefaults(settings.ini(), catalog, code);

    TerminalPrompter prompter(errors, request.Yes);
    ConvertEngine engine;
    if (!engine.LoadLibraries()) {
        errors << "kavel-convert: " << engine.LastErrMsg() << "\n";
        return 1;
    }
    engine.SetCodecThreads(request.Threads);

    // The list probes each file through the engine, as the window application's list does.
    ConversionList list(settings, catalog, prompter, [&engine](const QString& path, int64_t* us) {
        const int task = engine.AddTask(path.toStdString(), nullptr);
        if (task < 0)
            return false;
        FileStreamInfo info;
        MediaProbe* probe = engine.InputProbe(task, 0);
        *us = probe && probe->GetFileStreamInfo(info) ? info.Duration : -1;
        engine.RemoveTask(task);
        engine.ClearTasks();
        return true;
    });
    QStringList paths;
    for (const std::string& file : request.Files)
        paths << QString::fromStdString(file);
    list.Add(paths);

    std::vector<FileResult> results;
    std::map<QString, int> resultOfRow;
    for (const QString& path : paths) {
        FileResult result;
        result.Source = path.toStdString();
        bool listed = false;
        for (int row = 0; row < list.Count(); ++row) {
            if (list.Row(row).Caption == path && !resultOfRow.count(path)) {
                resultOfRow[path] = int(results.size());
                listed = true;
            }
        }
        if (!listed)
            result.Result = QFileInfo(path).isDir() ? "skipped: a folder" :
                            QFileInfo::exists(path) ? "skipped: not a media file" : "skipped: no such file";
        results.push_back(result);
    }
    for (int row = 0; row < list.Count(); ++row)
        ApplyToRecord(request, list.Row(row).Record);

    const ProfileEntry* profile = FindProfile(code);
    out << "Profile " << code << ": " << (profile ? profile->Name : "(not in the picker)")
        << "\nOutput folder: " << settings.OutPutDir().toStdString() << "\n";

    BatchRun run(engine, list, settings, catalog, prompter);
    run.ZoomOverride = QString::fromStdString(request.Zoom);
    run.OpenFolderAfter = request.OpenFolder;
    run.OpenFolder = [](const QString& folder) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    };
    ProgressPrinter printer(out);
    const auto resultOfTask = [&](int task) -> FileResult& {
        const ListRow& row = list.Row(run.TaskItemIndex()[size_t(task)]);
        return results[size_t(resultOfRow[row.Caption])];
    };
    // A task starts when it reports first, or (for files faster than one report) when the
    // previous one ended.
    Clock::time_point lastEnd = Clock::now();
    run.OnProgressView = [&](const ProgressView& view) {
        FileResult& result = resultOfTask(view.TaskIndex);
        if (result.Started == Clock::time_point{})
            result.Started = request.Jobs > 1 ? Clock::now() : lastEnd;
        printer.Show(view, QFileInfo(QString::fromStdString(result.Source)).fileName().toStdString(),
                     result.Started);
    };
    run.OnTaskEnded = [&](int task, int row, const TerminateInfo& info) {
        FileResult& result = resultOfTask(task);
        result.Output = list.Row(row).Record.DestFile.toStdString();
        const Clock::time_point now = Clock::now();
        const Clock::time_point started =
            result.Started != Clock::time_point{} ? result.Started : lastEnd;
        result.WallSeconds = std::chrono::duration<double>(now - started).count();
        lastEnd = now;
        result.Converted = info.Finished && !info.Exception;
        result.Result = result.Converted ? "converted"
                        : info.Exception ? "failed: " + info.ExceptionMsg
                                         : "stopped";
        printer.Break();
    };

    gInterrupted = false;
    const auto previous = std::signal(SIGINT, OnInterrupt);
    bool started = false;
    try {
        started = run.Start(request.Jobs);
    } catch (const std::exception& e) {
        errors << "kavel-convert: " << e.what() << "\n";
    }
    bool cancelled = false;
    while (started && run.Running()) {
        CurrentSynchronizer().DeliverPending(std::chrono::milliseconds(100));
        if (gInterrupted && !cancelled) {
            cancelled = true;
            printer.Break();
            errors << "kavel-convert: cancelling\n";
            run.Cancel();
        }
    }
    if (started)
        run.Finish();
    std::signal(SIGINT, previous);
    printer.Break();

    int converted = 0;
    out << "\nSummary:\n";
    for (const FileResult& result : results) {
        out << "  " << result.Source << "\n    " << result.Result;
        if (!result.Output.empty()) {
            const QFileInfo output(QString::fromStdString(result.Output));
            out << "\n    -> " << result.Output << " ("
                << SizeText(output.exists() ? output.size() : 0) << ", " << std::fixed
                << std::setprecision(1) << result.WallSeconds << " s)";
        }
        out << "\n";
        converted += result.Converted ? 1 : 0;
    }
    out << converted << " of " << results.size() << " files converted\n";
    return converted == int(results.size()) && !cancelled ? 0 : 1;
}

}  // namespace kavel
