#include "editing/ConversionOverlay.h"
#include "editing/Overlay.h"

#include <QByteArray>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>

using namespace kavel;

namespace {

using Bgr = std::array<int, 3>;

// Fonts need a GUI application; one for the whole test process, never destroyed, on the
// offscreen platform unless the caller chose another.
void EnsureGuiApplication() {
    static QGuiApplication* app = [] {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "tests_editing";
        static char* argv[] = {name, nullptr};
        return new QGuiApplication(argc, argv);
    }();
    (void)app;
}

Bitmap Filled(int width, int height, Bgr colour) {
    Bitmap bitmap(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                bitmap.Pixel(x, y)[c] = static_cast<uint8_t>(colour[c]);
    return bitmap;
}

Bgr PixelOf(const Bitmap& bitmap, int x, int y) {
    const uint8_t* p = bitmap.Pixel(x, y);
    return {p[0], p[1], p[2]};
}

bool SamePixels(const Bitmap& a, const Bitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return false;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            if (PixelOf(a, x, y) != PixelOf(b, x, y))
                return false;
    return true;
}

int CountDiffering(const Bitmap& a, const Bitmap& b) {
    int count = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            count += PixelOf(a, x, y) != PixelOf(b, x, y);
    return count;
}

void WriteBmp(const QString& path, int width, int height, QColor colour) {
    QImage image(width, height, QImage::Format_RGB888);
    image.fill(colour);
    ASSERT_TRUE(image.save(path, "BMP"));
}

void SetModified(const QString& path, std::chrono::seconds sinceEpoch) {
    namespace fs = std::filesystem;
    const auto when = fs::file_time_type::clock::from_sys(std::chrono::sys_seconds(sinceEpoch));
    fs::last_write_time(fs::path(QFile::encodeName(path).toStdString()), when);
}

class OverlayTest : public testing::Test {
protected:
    void SetUp() override {
        EnsureGuiApplication();
        ASSERT_TRUE(dir_.isValid());
    }
    QString PathOf(const char* name) const { return dir_.filePath(QString::fromUtf8(name)); }

    QTemporaryDir dir_;
};

}  // namespace

// Frame level 64, text and picture level 128, brightness 384 (1.5 x): the text reads 191 when
// the effects ran after it and 128 otherwise; the picture (alpha 128) reads 143 when blended
// before the effects and 111 when blended onto the brightened frame.
TEST_F(OverlayTest, SequenceOrders) {
    FilesRecord record;
    record.Brightness = 384;
    record.Saturation = 256;
    record.WatermarkText = QStringLiteral("MM");
    record.WatermarkFont.Name = QStringLiteral("DejaVu Sans");
    record.WatermarkFont.Size = 20;
    record.WatermarkFont.Bold = true;
    record.WatermarkFont.Color = QColor(128, 128, 128);
    record.TextX = 2;
    record.TextY = 2;
    record.ImageX = 120;
    record.ImageY = 20;
    record.ImageAlpha = 128;
    const Bitmap picture = Filled(20, 20, {128, 128, 128});

    Bitmap reference = Filled(160, 60, {64, 64, 64});
    ASSERT_TRUE(DrawOverlayText(reference, record.WatermarkText, record.WatermarkFont, 2, 2));
    std::vector<std::pair<int, int>> solidText;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 110; ++x)
            if (PixelOf(reference, x, y) == (Bgr{128, 128, 128}))
                solidText.emplace_back(x, y);
    ASSERT_GT(solidText.size(), 20u);

    struct Case {
        bool processText, processImage;
        int text, picture;
    } cases[] = {{false, false, 128, 111}, {true, false, 191, 111},
                 {false, true, 128, 143}, {true, true, 191, 143}};
    for (const Case& c : cases) {
        record.ProcessText = c.processText;
        record.ProcessImage = c.processImage;
        Bitmap frame = Filled(160, 60, {64, 64, 64});
        OverlaySequence(frame, record, &picture);
        const std::string name = std::string("ProcessText ") + (c.processText ? "on" : "off") +
                                 ", ProcessImage " + (c.processImage ? "on" : "off");
        for (auto [x, y] : solidText)
            ASSERT_EQ(PixelOf(frame, x, y)[1], c.text) << name << " text at " << x << "," << y;
        EXPECT_EQ(PixelOf(frame, 130, 30), (Bgr{c.picture, c.picture, c.picture})) << name;
        EXPECT_EQ(PixelOf(frame, 80, 55), (Bgr{95, 95, 95})) << name << " background";
    }
}

TEST_F(OverlayTest, TextKeepsPositionColourAndStyles) {
    FontSpec font;
    font.Name = QStringLiteral("DejaVu Sans");
    font.Size = 16;
    font.Color = QColor(255, 0, 0);
    const Bitmap black = Filled(200, 80, {0, 0, 0});

    Bitmap plain = black;
    ASSERT_TRUE(DrawOverlayText(plain, QStringLiteral("Hello"), font, 40, 30));
    int drawn = 0;
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 200; ++x) {
            const Bgr p = PixelOf(plain, x, y);
            if (p == Bgr{0, 0, 0})
                continue;
            ++drawn;
            EXPECT_GE(x, 39);
            EXPECT_GE(y, 30);
            EXPECT_EQ(p[0], 0);
            EXPECT_EQ(p[1], 0);
        }
    EXPECT_GT(drawn, 30);

    auto withStyle = [&](auto set) {
        FontSpec styled = font;
        set(styled);
        Bitmap frame = black;
        EXPECT_TRUE(DrawOverlayText(frame, QStringLiteral("Hello"), styled, 40, 30));
        return frame;
    };
    const Bitmap styles[] = {withStyle([](FontSpec& f) { f.Bold = true; }),
                             withStyle([](FontSpec& f) { f.Italic = true; }),
                             withStyle([](FontSpec& f) { f.Underline = true; }),
                             withStyle([](FontSpec& f) { f.StrikeOut = true; }),
                             withStyle([](FontSpec& f) { f.Size = 24; })};
    for (const Bitmap& styled : styles)
        EXPECT_GT(CountDiffering(plain, styled), 10);

    Bitmap untouched = black;
    EXPECT_TRUE(DrawOverlayText(untouched, QString(), font, 40, 30));
    EXPECT_TRUE(SamePixels(untouched, black));
}

TEST_F(OverlayTest, PictureCacheReusesUntilTheFileChanges) {
    const QString path = PathOf("mark.bmp");
    const std::chrono::seconds start(1700000000);
    WriteBmp(path, 4, 4, QColor(255, 0, 0));
    SetModified(path, start);

    PictureCache cache;
    const std::shared_ptr<const Bitmap> first = cache.Picture(path);
    ASSERT_TRUE(first);
    EXPECT_EQ(PixelOf(*first, 3, 3), (Bgr{0, 0, 255}));
    EXPECT_EQ(cache.Picture(path), first) << "an unchanged file is not decoded again";

    // Same size, later time.
    WriteBmp(path, 4, 4, QColor(0, 0, 255));
    SetModified(path, start + std::chrono::seconds(10));
    const std::shared_ptr<const Bitmap> second = cache.Picture(path);
    ASSERT_TRUE(second);
    EXPECT_NE(second, first);
    EXPECT_EQ(PixelOf(*second, 0, 0), (Bgr{255, 0, 0}));
    EXPECT_EQ(PixelOf(*first, 0, 0), (Bgr{0, 0, 255})) << "a handed-out picture stays valid";

    // Other size, same time.
    WriteBmp(path, 8, 6, QColor(0, 255, 0));
    SetModified(path, start + std::chrono::seconds(10));
    const std::shared_ptr<const Bitmap> third = cache.Picture(path);
    ASSERT_TRUE(third);
    EXPECT_NE(third, second);
    EXPECT_EQ(third->Width(), 8);
    EXPECT_EQ(third->Height(), 6);
    EXPECT_EQ(PixelOf(*third, 7, 5), (Bgr{0, 255, 0}));
    EXPECT_EQ(cache.Picture(path), third);

    ASSERT_TRUE(QFile::remove(path));
    EXPECT_FALSE(cache.Picture(path));
}

TEST_F(OverlayTest, PalettePictureBecomes24Bit) {
    QImage indexed(3, 2, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(10, 20, 30), qRgb(200, 100, 50)});
    indexed.fill(0);
    indexed.setPixel(2, 1, 1);
    const QString path = PathOf("palette.bmp");
    ASSERT_TRUE(indexed.save(path, "BMP"));

    Bitmap picture;
    ASSERT_TRUE(LoadBitmapFile(path, &picture));
    ASSERT_EQ(picture.Width(), 3);
    ASSERT_EQ(picture.Height(), 2);
    EXPECT_EQ(PixelOf(picture, 0, 0), (Bgr{30, 20, 10}));
    EXPECT_EQ(PixelOf(picture, 2, 1), (Bgr{50, 100, 200}));
}

TEST_F(OverlayTest, UnreadablePictureDrawsNothing) {
    const QString good = PathOf("good.bmp");
    WriteBmp(good, 64, 64, QColor(255, 255, 255));
    QFile goodFile(good);
    ASSERT_TRUE(goodFile.open(QIODevice::ReadOnly));
    const QByteArray goodBytes = goodFile.readAll();

    auto write = [&](const char* name, const QByteArray& bytes) {
        QFile file(PathOf(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return PathOf(name);
    };
    QImage png(8, 8, QImage::Format_RGB888);
    png.fill(Qt::white);
    ASSERT_TRUE(png.save(PathOf("png.png"), "PNG"));
    QFile::copy(PathOf("png.png"), PathOf("png.bmp"));

    const QString paths[] = {
        PathOf("missing.bmp"),
        dir_.path(),
        write("empty.bmp", QByteArray()),
        write("garbage.bmp", QByteArray(500, 'x')),
        write("header-only.bmp", goodBytes.left(54)),
        write("truncated.bmp", goodBytes.left(goodBytes.size() / 2)),
        PathOf("png.bmp"),
    };
    PictureCache cache;
    for (const QString& path : paths) {
        Bitmap loaded;
        EXPECT_FALSE(LoadBitmapFile(path, &loaded)) << path.toStdString();
        EXPECT_FALSE(cache.Picture(path)) << path.toStdString();

        FilesRecord record;
        record.WatermarkImage = path;
        record.TransparentStyle = 1;
        record.ImageAlpha = 255;
        const Bitmap before = Filled(32, 32, {0, 0, 0});
        Bitmap frame = before;
        DrawRecordOverlays(frame, record, cache);
        EXPECT_TRUE(SamePixels(frame, before)) << path.toStdString();
    }
}

TEST_F(OverlayTest, ConversionDrawsTheRowOfTheTask) {
    FilesRecord doubled, untouched, dimmed;
    doubled.Brightness = 512;
    doubled.Saturation = 256;
    dimmed.Brightness = 0;
    ConversionOverlay overlay({2, 1, 7}, {doubled, untouched, dimmed});

    struct Case {
        int task;
        int level;
    } cases[] = {{0, 1}, {1, 64}, {2, 64}, {3, 64}, {-1, 64}};
    for (const Case& c : cases) {
        Bitmap frame = Filled(8, 8, {64, 64, 64});
        overlay.Draw(c.task, frame);
        EXPECT_EQ(PixelOf(frame, 5, 5), (Bgr{c.level, c.level, c.level})) << "task " << c.task;
    }

    ConversionOverlay byFunction([&](int task) { return task == 4 ? &doubled : nullptr; });
    Bitmap frame = Filled(8, 8, {64, 64, 64});
    byFunction.Draw(4, frame);
    EXPECT_EQ(PixelOf(frame, 0, 0), (Bgr{127, 127, 127}));
}

TEST_F(OverlayTest, ConversionDrawsPictureFromFile) {
    const QString path = PathOf("grey.bmp");
    WriteBmp(path, 4, 4, QColor(128, 128, 128));
    FilesRecord record;
    record.WatermarkImage = path;
    record.ImageX = 2;
    record.ImageY = 3;
    record.TransparentStyle = 2;
    ConversionOverlay overlay({0}, {record});
    Bitmap frame = Filled(10, 10, {200, 200, 200});
    overlay.Draw(0, frame);
    EXPECT_EQ(PixelOf(frame, 2, 3), (Bgr{100, 100, 100}));
    EXPECT_EQ(PixelOf(frame, 5, 6), (Bgr{100, 100, 100}));
    EXPECT_EQ(PixelOf(frame, 6, 6), (Bgr{200, 200, 200}));
    EXPECT_EQ(PixelOf(frame, 1, 3), (Bgr{200, 200, 200}));
}

TEST(PreviewCopyTest, CopiesOnlyPicturesWithPixels) {
    const Bitmap preview = Filled(6, 4, {1, 2, 3});
    Bitmap latest = Filled(2, 2, {9, 9, 9});
    EXPECT_FALSE(CopyPreview(Bitmap(), &latest));
    EXPECT_EQ(latest.Width(), 2);
    EXPECT_FALSE(CopyPreview(preview, nullptr));
    EXPECT_TRUE(CopyPreview(preview, &latest));
    EXPECT_TRUE(SamePixels(latest, preview));
}
