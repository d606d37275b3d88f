#pragma once

#include <QColor>
#include <QString>

#include <cstdint>

namespace kavel {

// The font of a watermark text, kept by value with its row.
struct FontSpec {
    QString Name = QStringLiteral("MS Sans Serif");
    int Size = 8;
    QColor Color = Qt::black;
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool StrikeOut = false;

    bool operator==(const FontSpec&) const = default;
};

// Everything the user decided for one file of the conversion list: trim range, zoom and crop,
// watermark text and picture, and colour effects. Owned by its row.
struct FilesRecord {
    int32_t FileIndex = 0;
    QString SourceFile;
    QString DestFile;
    int32_t DurationSeconds = 0;
    int64_t TrimStart = 0;   // microseconds
    int64_t TrimLength = 0;  // microseconds, 0 = up to the end
    QString Zoom = QStringLiteral("lbox");
    int32_t CropTop = 0;
    int32_t CropLeft = 0;
    int32_t CropBottom = 0;
    int32_t CropRight = 0;
    int32_t CropTopEntered = 0;
    int32_t CropLeftEntered = 0;
    int32_t CropBottomEntered = 0;
    int32_t CropRightEntered = 0;
    QString WatermarkText;
    FontSpec WatermarkFont;
    int32_t TextX = 0;
    int32_t TextY = 0;
    int32_t TextHorizPos = 0;
    int32_t TextVertPos = 0;
    QString WatermarkImage;
    int32_t ImageX = 0;
    int32_t ImageY = 0;
    int32_t ImageHorizPos = 0;
    int32_t ImageVertPos = 0;
    int32_t ImageAlpha = 168;
    int32_t TransparentStyle = 1;
    int32_t Brightness = 255;
    int32_t Contrast = 0;
    int32_t Saturation = 255;
    int32_t Exposure = 0;
    bool ProcessText = false;
    bool ProcessImage = false;

    // True when a conversion of this row needs the per-frame hook: any colour effect or
    // watermark differs from "nothing to do".
    bool NeedsFrameHook() const {
        return Brightness != 255 || Contrast != 0 || Saturation != 255 || Exposure != 0 ||
               !WatermarkText.isEmpty() || !WatermarkImage.isEmpty();
    }
};

}  // namespace kavel
