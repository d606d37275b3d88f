// Pixels per second of the frame effects on one thread, on a 640x480 frame (the size of the
// conversion benchmark's clip).

#include "editing/FrameEffects.h"
#include "editing/Overlay.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>

using namespace kavel;

namespace {

constexpr int Width = 640;
constexpr int Height = 480;

Bitmap Noise(uint32_t seed) {
    Bitmap bitmap(Width, Height);
    std::mt19937 random(seed);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width * Bitmap::BytesPerPixel; ++x)
            bitmap.Row(y)[x] = static_cast<uint8_t>(random());
    return bitmap;
}

// The best of five runs of about 0.2 s each, so that other work on a shared machine shows as
// little as possible in the figure.
double MegapixelsPerSecond(const char* name, const std::function<void(Bitmap&)>& routine) {
    using Clock = std::chrono::steady_clock;
    Bitmap frame = Noise(1);
    routine(frame);  // warm the caches
    double best = 0;
    for (int run = 0; run < 5; ++run) {
        int64_t frames = 0;
        const Clock::time_point start = Clock::now();
        Clock::duration elapsed{};
        do {
            for (int i = 0; i < 10; ++i)
                routine(frame);
            frames += 10;
            elapsed = Clock::now() - start;
        } while (elapsed < std::chrono::milliseconds(200));
        const double seconds = std::chrono::duration<double>(elapsed).count();
        best = std::max(best, frames * double(Width) * Height / seconds / 1e6);
    }
    std::printf("%-28s %8.1f Mpixel/s  (%.3f ms per frame)\n", name, best,
                Width * Height / best / 1e3);
    return best;
}

}  // namespace

// The whole per-frame drawing of a row with every effect, a text and a 160x120 picture file
// (reused through the cache, as during a conversion).
void WholeOverlay() {
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("mark.bmp"));
    QImage mark(160, 120, QImage::Format_RGB888);
    mark.fill(QColor(200, 120, 40));
    if (!dir.isValid() || !mark.save(path, "BMP")) {
        std::printf("whole overlay: cannot write the picture file\n");
        return;
    }
    FilesRecord record;
    record.Brightness = 300;
    record.Contrast = 20;
    record.Saturation = 300;
    record.Exposure = 60;
    record.WatermarkText = QStringLiteral("Kavel watermark");
    record.WatermarkFont.Size = 20;
    record.TextX = 20;
    record.TextY = 20;
    record.WatermarkImage = path;
    record.ImageX = 400;
    record.ImageY = 300;
    PictureCache pictures;
    MegapixelsPerSecond("whole overlay of a row", [&](Bitmap& f) {
        DrawRecordOverlays(f, record, pictures);
    });
}

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const Bitmap picture = Noise(2);
    std::printf("frame %dx%d, one thread\n", Width, Height);
    double slowest = 1e30;
    auto run = [&](const char* name, const std::function<void(Bitmap&)>& routine) {
        const double rate = MegapixelsPerSecond(name, routine);
        if (rate < slowest)
            slowest = rate;
    };
    run("ApplyColorAdjust", [](Bitmap& f) { ApplyColorAdjust(f, 300, 20, 300); });
    run("ApplyExposure", [](Bitmap& f) { ApplyExposure(f, 100.0f); });
    run("BlendPicture style 1", [&](Bitmap& f) { BlendPicture(f, picture, 0, 0, 1, 168); });
    run("BlendPicture style 2", [&](Bitmap& f) { BlendPicture(f, picture, 0, 0, 2, 168); });
    WholeOverlay();
    std::printf("slowest routine: %.1f Mpixel/s (target 100)\n", slowest);
    return slowest >= 100.0 ? 0 : 1;
}
