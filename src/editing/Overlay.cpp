#include "editing/Overlay.h"

#include "editing/FrameEffects.h"
#include "engine/EngineLogger.h"
#include "engine/RowBands.h"

#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPainter>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace kavel {

namespace {

constexpr int PositionDpi = 96;
constexpr int64_t MaxFontPoints = 4096;
// Far beyond any watermark; a larger file is refused before it is read into memory.
constexpr qint64 MaxPictureFileBytes = 256 * 1024 * 1024;

bool HaveGuiApplication() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

void WarnNoGuiApplicationOnce() {
    static std::once_flag warned;
    std::call_once(warned, [] {
        Log(llWarning, "Watermark text is not drawn: the process has no GUI application");
    });
}

struct FileStamp {
    int64_t size = -1;
    int64_t modifiedNs = 0;
};

bool StatFile(const QString& path, FileStamp* stamp) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    stamp->size = info.st_size;
    stamp->modifiedNs = int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
    return true;
}

uint32_t LittleEndian(const QByteArray& bytes, qsizetype at, int size) {
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

// The decoder fills the missing rows of a cut-off file with whatever it likes instead of
// failing, so an uncompressed file must hold every row its header promises. Compressed rows
// have no fixed length and are left to the decoder.
bool BitmapDataComplete(const QByteArray& bytes) {
    constexpr qsizetype FileHeaderSize = 14;
    if (bytes.size() < FileHeaderSize + 12 || bytes[0] != 'B' || bytes[1] != 'M')
        return false;
    const uint32_t dataOffset = LittleEndian(bytes, 10, 4);
    const uint32_t infoSize = LittleEndian(bytes, 14, 4);
    int64_t width = 0, height = 0, bitCount = 0, compression = 0;
    if (infoSize == 12) {  // the old core header: 16-bit sizes, never compressed
        width = LittleEndian(bytes, 18, 2);
        height = LittleEndian(bytes, 20, 2);
        bitCount = LittleEndian(bytes, 24, 2);
    } else {
        if (bytes.size() < FileHeaderSize + 40)
            return false;
        width = static_cast<int32_t>(LittleEndian(bytes, 18, 4));
        height = std::abs(int64_t{static_cast<int32_t>(LittleEndian(bytes, 22, 4))});
        bitCount = LittleEndian(bytes, 28, 2);
        compression = LittleEndian(bytes, 30, 4);
    }
    constexpr int64_t Uncompressed = 0, BitFields = 3, AlphaBitFields = 6;
    if (compression != Uncompressed && compression != BitFields && compression != AlphaBitFields)
        return true;
    if (width <= 0 || height <= 0 || bitCount <= 0)
        return false;
    const int64_t rowBytes = (width * bitCount + 31) / 32 * 4;
    return int64_t{dataOffset} + rowBytes * height <= bytes.size();
}

void DrawText(Bitmap& frame, const FilesRecord& record) {
    if (!record.WatermarkText.isEmpty())
        DrawOverlayText(frame, record.WatermarkText, record.WatermarkFont, record.TextX,
                        record.TextY);
}

void DrawPicture(Bitmap& frame, const FilesRecord& record, const Bitmap* picture) {
    if (picture)
        BlendPicture(frame, *picture, record.ImageX, record.ImageY, record.TransparentStyle,
                     record.ImageAlpha);
}

}  // namespace

QFont OverlayFont(const FontSpec& font) {
    QFont result(font.Name);
    // A size of 0 would give no text at all; such a record keeps the default size. Sizes
    // beyond any frame are limited so the conversion to pixels cannot overflow.
    const int64_t points =
        font.Size != 0 ? std::min<int64_t>(std::abs(int64_t{font.Size}), MaxFontPoints)
                       : FontSpec{}.Size;
    result.setPixelSize(static_cast<int>(std::max<int64_t>(1, (points * PositionDpi + 36) / 72)));
    result.setBold(font.Bold);
    result.setItalic(font.Italic);
    result.setUnderline(font.Underline);
    result.setStrikeOut(font.StrikeOut);
    return result;
}

bool DrawOverlayText(Bitmap& frame, const QString& text, const FontSpec& font, int x, int y) {
    if (text.isEmpty() || frame.Empty())
        return true;
    if (!HaveGuiApplication()) {
        WarnNoGuiApplicationOnce();
        return false;
    }
    QImage image(frame.Data(), frame.Width(), frame.Height(), frame.Stride(),
                 QImage::Format_BGR888);
    QPainter painter(&image);
    const QFont qfont = OverlayFont(font);
    painter.setFont(qfont);
    painter.setPen(font.Color);
    painter.setBackgroundMode(Qt::TransparentMode);
    // The position is the top of the line; the painter places text on its base line.
    painter.drawText(QPointF(x, y + QFontMetrics(qfont).ascent()), text);
    return true;
}

bool LoadBitmapFile(const QString& path, Bitmap* picture) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly) ||
        file.size() > MaxPictureFileBytes)
        return false;
    QByteArray bytes = file.readAll();
    file.close();
    if (!BitmapDataComplete(bytes))
        return false;

    QBuffer buffer(&bytes);
    QImageReader reader(&buffer, "bmp");
    reader.setAutoDetectImageFormat(false);
    QImage image;
    if (!reader.read(&image) || image.isNull())
        return false;
    image = image.convertToFormat(QImage::Format_BGR888);
    if (image.isNull())
        return false;

    Bitmap loaded(image.width(), image.height());
    const size_t rowBytes = static_cast<size_t>(image.width()) * Bitmap::BytesPerPixel;
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(loaded.Row(y), image.constScanLine(y), rowBytes);
    *picture = std::move(loaded);
    return true;
}

std::shared_ptr<const Bitmap> PictureCache::Picture(const QString& path) {
    FileStamp stamp;
    if (path.isEmpty() || !StatFile(path, &stamp))
        return nullptr;

    std::lock_guard lock(mutex_);
    auto found = entries_.find(path);
    if (found != entries_.end() && found->second.size == stamp.size &&
        found->second.modifiedNs == stamp.modifiedNs)
        return found->second.picture;

    // Decoding under the lock keeps two threads from decoding the same file twice; pictures
    // change rarely, so the wait is the exception.
    std::shared_ptr<Bitmap> decoded = std::make_shared<Bitmap>();
    if (!LoadBitmapFile(path, decoded.get()))
        decoded.reset();
    if (found == entries_.end() && entries_.size() >= MaxEntries)
        entries_.clear();
    entries_[path] = Entry{stamp.size, stamp.modifiedNs, decoded};
    return decoded;
}

void PictureCache::Clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

void ApplyFrameEffects(Bitmap& frame, const FilesRecord& record) {
    if (frame.Empty())
        return;
    // A row keeps its values for a whole conversion: the tables are built once per thread and
    // set of values, not for every frame.
    struct Cached {
        int brightness, contrast, saturation, exposure;
        ColourEffects effects;
    };
    thread_local std::unique_ptr<Cached> cached;
    if (!cached || cached->brightness != record.Brightness || cached->contrast != record.Contrast ||
        cached->saturation != record.Saturation || cached->exposure != record.Exposure) {
        cached.reset(new Cached{record.Brightness, record.Contrast, record.Saturation, record.Exposure,
                                ColourEffects(record.Brightness, record.Contrast, record.Saturation,
                                              static_cast<float>(record.Exposure))});
    }
    const ColourEffects& effects = cached->effects;
    if (effects.Empty())
        return;
    RunInRowBands(frame.Height(), 1, frame.Width(),
                  [&](int first, int end) { effects.Apply(frame, first, end); });
}

void OverlaySequence(Bitmap& frame, const FilesRecord& record, const Bitmap* picture) {
    if (!record.ProcessText && !record.ProcessImage) {
        ApplyFrameEffects(frame, record);
        DrawText(frame, record);
        DrawPicture(frame, record, picture);
    } else if (record.ProcessText && !record.ProcessImage) {
        DrawText(frame, record);
        ApplyFrameEffects(frame, record);
        DrawPicture(frame, record, picture);
    } else if (!record.ProcessText && record.ProcessImage) {
        DrawPicture(frame, record, picture);
        ApplyFrameEffects(frame, record);
        DrawText(frame, record);
    } else {
        DrawText(frame, record);
        DrawPicture(frame, record, picture);
        ApplyFrameEffects(frame, record);
    }
}

void DrawRecordOverlays(Bitmap& frame, const FilesRecord& record, PictureCache& pictures) {
    std::shared_ptr<const Bitmap> picture;
    if (!record.WatermarkImage.isEmpty())
        picture = pictures.Picture(record.WatermarkImage);
    OverlaySequence(frame, record, picture.get());
}

}  // namespace kavel
