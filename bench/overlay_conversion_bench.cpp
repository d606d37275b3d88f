// What the frame effects and overlays cost in a whole conversion: a generated 640x480 clip
// converted through the batch run with all four colour effects, a text and a picture, against
// the same conversion without them, for the iPod H.264 and the iPod MPEG-4 profile.
//
//   overlay_conversion_bench [--seconds S] [--threads N] [--repeat R] [--keep]
//
// Each side runs R times, alternating; the fastest run of each counts. A run is timed from the
// batch run's start (opening the files) to the closed output.

#include "app/Prompter.h"
#include "app/Settings.h"
#include "engine/ConvertEngine.h"
#include "engine/FFmpegException.h"
#include "engine/FFmpegLoader.h"
#include "engine/MainThread.h"
#include "engine/OptionParser.h"
#include "engine/Transcoder.h"
#include "probe/MediaProbe.h"
#include "profiles/ProfileCatalog.h"
#include "queue/BatchRun.h"
#include "queue/ConversionList.h"

#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
}

using namespace kavel;

namespace {

struct Settings {
    double Seconds = 12;
    int Threads = 1;
    int Repeat = 2;
    bool Keep = false;
};

// Questions are answered yes and messages printed: a benchmark run has nobody to ask.
class PrintingPrompter : public Prompter {
public:
    void ShowMessage(const QString& caption, const QString& text) override {
        std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
    }
    bool AskYesNo(const QString&, const QString&) override { return true; }
};

// The clip: a moving test picture with a tone, MPEG-4 at a high quality.
void MakeClip(const std::string& path, double seconds) {
    char graph[256];
    std::snprintf(graph, sizeof graph,
                  "testsrc2=size=640x480:rate=25:duration=%g[out0];sine=frequency=440:"
                  "sample_rate=44100:duration=%g[out1]",
                  seconds, seconds);
    Transcoder generator;
    generator.State().Generic.Create();
    generator.State().Verbose = -1;
    OptionParser parser(generator.State(), generator);
    parser.SetOption("f", "lavfi");
    if (!generator.OpenInputFile(graph))
        throw FFmpegException(generator.ErrorText());
    for (const auto& [name, value] : {std::pair{"vcodec", "mpeg4"}, {"qscale", "3"},
                                      {"acodec", "aac"}, {"ac", "2"}})
        parser.SetOption(name, value);
    if (generator.OpenOutputFile(path, false) < 0)
        throw FFmpegException(generator.ErrorText());
    generator.Transcode();
    generator.Release();
}

// A 160x120 picture with a gradient, so that blending has varied pixels to work on.
QString MakePicture(const QString& folder) {
    QImage image(160, 120, QImage::Format_RGB888);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 160, 120);
    gradient.setColorAt(0, QColor(250, 40, 40));
    gradient.setColorAt(1, QColor(30, 60, 240));
    painter.fillRect(image.rect(), gradient);
    painter.end();
    const QString path = folder + QStringLiteral("/mark.bmp");
    if (!image.save(path, "BMP"))
        throw std::runtime_error("cannot write " + path.toStdString());
    return path;
}

// Everything the watermark editor can switch on.
void SetAllEffects(FilesRecord& record, const QString& picture) {
    record.Brightness = 300;
    record.Contrast = 20;
    record.Saturation = 320;
    record.Exposure = 40;
    record.WatermarkText = QStringLiteral("Kavel benchmark 2026");
    record.WatermarkFont.Name = QStringLiteral("DejaVu Sans");
    record.WatermarkFont.Size = 24;
    record.WatermarkFont.Bold = true;
    record.WatermarkFont.Color = QColor(255, 255, 0);
    record.TextX = 20;
    record.TextY = 20;
    record.WatermarkImage = picture;
    record.ImageX = 460;
    record.ImageY = 340;
    record.ImageAlpha = 168;
    record.TransparentStyle = 1;
    record.ProcessText = true;
}

// One batch run of the clip with the profile; returns its seconds and the output's size.
double Convert(const Settings& bench, const QString& folder, const QString& catalogPath, int code,
               const std::string& clip, const QString& picture, qint64* outputBytes) {
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    AppSettings settings(folder + QStringLiteral("/settings.ini"));
    settings.SetOutPutDir(folder + QStringLiteral("/out"));
    settings.SetFormat(QString::number(code), QString());
    ProfileCatalog catalog(catalogPath);
    PrintingPrompter prompter;
    ConvertEngine engine;
    engine.SetCodecThreads(bench.Threads);
    ConversionList list(settings, catalog, prompter, [](const QString& path, int64_t* us) {
        MediaProbe probe;
        FileStreamInfo info;
        if (!probe.LoadFile(path.toStdString()) || !probe.GetFileStreamInfo(info))
            return false;
        *us = info.Duration;
        return true;
    });
    list.Add({QString::fromStdString(clip)});
    if (list.Count() != 1)
        throw std::runtime_error("the clip was not added");
    if (!picture.isEmpty())
        SetAllEffects(list.Row(0).Record, picture);
    BatchRun run(engine, list, settings, catalog, prompter);

    const auto start = std::chrono::steady_clock::now();
    if (!run.Start())
        throw std::runtime_error("the batch run did not start");
    WaitPumping([&run] { return !run.Running(); });
    run.Finish();
    const auto end = std::chrono::steady_clock::now();
    if (list.Row(0).Progress != QStringLiteral("100%"))
        throw std::runtime_error("the conversion did not finish");
    *outputBytes = QFileInfo(list.Row(0).Record.DestFile).size();
    return std::chrono::duration<double>(end - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    Settings bench;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (arg == "--seconds") {
            bench.Seconds = std::max(1.0, std::atof(next().c_str()));
        } else if (arg == "--threads") {
            bench.Threads = std::max(0, std::atoi(next().c_str()));
        } else if (arg == "--repeat") {
            bench.Repeat = std::max(1, std::atoi(next().c_str()));
        } else if (arg == "--keep") {
            bench.Keep = true;
        } else {
            std::fprintf(stderr, "usage: %s [--seconds S] [--threads N] [--repeat R] [--keep]\n",
                         argv[0]);
            return 2;
        }
    }
    // The text needs fonts, and fonts need a GUI application; offscreen needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (!LoadLibraries(EngineLibraries)) {
        std::fprintf(stderr, "cannot load the libraries: %s\n", LastLoadError().c_str());
        return 1;
    }
    avdevice_register_all();
    av_log_set_level(AV_LOG_ERROR);
    const QString catalogPath =
        QCoreApplication::applicationDirPath() + QStringLiteral("/kaveliphoneformat.ini");
    if (!QFileInfo::exists(catalogPath)) {
        std::fprintf(stderr, "no profile catalog at %s\n", qPrintable(catalogPath));
        return 1;
    }
    char folderTemplate[] = "/tmp/kavel-bench-XXXXXX";
    if (!mkdtemp(folderTemplate)) {
        std::perror("mkdtemp");
        return 1;
    }
    const QString folder = QString::fromLocal8Bit(folderTemplate);
    const std::string clip = std::string(folderTemplate) + "/clip.mp4";

    int status = 0;
    try {
        MakeClip(clip, bench.Seconds);
        const QString picture = MakePicture(folder);
        std::printf("clip: 640x480 25 fps mpeg4 + aac, %g s; codec threads %d, runs per side %d\n",
                    bench.Seconds, bench.Threads, bench.Repeat);
        std::printf("effects: brightness 300, contrast 20, saturation 320, exposure 40, text, "
                    "160x120 picture (style 1, alpha 168)\n\n");
        std::printf("%-24s %10s %10s %8s   %s\n", "profile", "plain s", "effects s", "ratio",
                    "output kB plain / effects");
        struct Case {
            int Code;
            const char* Name;
        };
        for (const Case& c : {Case{1, "1 iPod Video H.264"}, Case{0, "0 iPod Video MPEG-4"}}) {
            double plain = 1e30;
            double effects = 1e30;
            qint64 plainBytes = 0;
            qint64 effectsBytes = 0;
            auto plainRun = [&] {
                plain = std::min(plain, Convert(bench, folder + "/plain", catalogPath, c.Code,
                                                clip, QString(), &plainBytes));
            };
            auto effectsRun = [&] {
                effects = std::min(effects, Convert(bench, folder + "/effects", catalogPath,
                                                    c.Code, clip, picture, &effectsBytes));
            };
            for (int run = 0; run < bench.Repeat; ++run) {
                // Alternate which side goes first, so neither always runs on a warmer machine.
                if (run % 2 == 0) {
                    plainRun();
                    effectsRun();
                } else {
                    effectsRun();
                    plainRun();
                }
            }
            std::printf("%-24s %10.2f %10.2f %8.3f   %lld / %lld%s\n", c.Name, plain, effects,
                        effects / plain, static_cast<long long>(plainBytes / 1000),
                        static_cast<long long>(effectsBytes / 1000),
                        effects / plain <= 1.3 ? "" : "   (over the target 1.3)");
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "benchmark failed: %s\n", error.what());
        status = 1;
    }
    if (!bench.Keep)
        std::filesystem::remove_all(folderTemplate);
    else
        std::printf("files kept in %s\n", folderTemplate);
    return status;
}
