#include "editing/FrameEffects.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>

namespace kavel {

namespace {

constexpr int ContrastPivot = 170;

int ClampByte(int64_t value) {
    return static_cast<int>(std::clamp<int64_t>(value, 0, 255));
}

// Nearest integer with halves to even (the default rounding mode of the floating-point unit).
int64_t RoundHalfEven(double value) {
    return static_cast<int64_t>(std::nearbyint(value));
}

std::array<uint8_t, 256> ContrastTable(int contrast) {
    contrast = std::clamp(contrast, -100, 99);
    // Raising uses the exact quarter turn; lowering keeps the shorter constant, whose cosine at
    // -100 is a hair below zero and so flattens everything onto the pivot.
    const double gain = contrast > 0 ? 1.0 / std::cos(contrast * M_PI / 200.0)
                                     : std::cos(contrast * 0.015708);
    std::array<uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i)
        table[i] = static_cast<uint8_t>(
            ClampByte(RoundHalfEven((i - ContrastPivot) * gain + ContrastPivot)));
    return table;
}

// Brightness first, then contrast, folded into one table.
std::array<uint8_t, 256> LevelTable(int brightness, int contrast) {
    const std::array<uint8_t, 256> contrastTable = ContrastTable(contrast);
    std::array<uint8_t, 256> table{};
    for (int j = 0; j < 256; ++j) {
        int t = (256 - brightness) + brightness * j;
        if (t < 0)
            t += 255;
        table[j] = contrastTable[ClampByte(t >> 8)];
    }
    return table;
}

std::array<uint8_t, 256> ExposureTable(float exposure) {
    const double amount = std::clamp(static_cast<double>(exposure), -255.0, 512.0);
    std::array<uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        const int64_t c = RoundHalfEven((1.0 - std::exp(-(amount / 128.0) * (i / 128.0))) * 256.0);
        const int64_t level = amount >= 0 ? i + ((c * (255 - i)) >> 8)
                                          : i - (((-c) * (255 - i)) >> 8);
        table[i] = static_cast<uint8_t>(ClampByte(level));
    }
    return table;
}

std::array<uint8_t, 256> IdentityTable() {
    std::array<uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i)
        table[i] = static_cast<uint8_t>(i);
    return table;
}

}  // namespace

// With saturation limited to 0..512 a channel's grey base plus its scaled level lies in
// -257..767; the combined table built from them covers that span (with room) and folds in the
// limit to 0..255 before the level table and the final per-channel table. A pixel's channels
// depend only on its grey level and their own level, so the whole adjustment is one table of
// 256 rows (one per grey level) of 256 results: the pixel loop finds its row and reads three
// bytes from it.
struct ColourEffects::AdjustTables {
    static constexpr int Offset = 512;
    static constexpr int Span = 1536;
    std::array<int32_t, 256> scaled{};
    std::array<uint8_t, 256 * 256> byGrey{};
};

namespace {

// (b + g + r) / 3 for every sum of three bytes, without a division.
int GreyOf(int sum) { return (sum * 21846) >> 16; }

}  // namespace

ColourEffects::ColourEffects(int brightness, int contrast, int saturation, float exposure) {
    if (ColorAdjustSet(brightness, contrast, saturation))
        SetColorAdjust(brightness, contrast, saturation);
    if (exposure != 0)
        SetExposure(exposure);
}

ColourEffects::ColourEffects(ColourEffects&&) noexcept = default;
ColourEffects::~ColourEffects() = default;

void ColourEffects::SetColorAdjust(int brightness, int contrast, int saturation) {
    brightness = std::clamp(brightness, 0, 512);
    saturation = std::clamp(saturation, 0, 512);
    adjust_ = std::make_unique<AdjustTables>();
    adjustLevels_ = LevelTable(brightness, contrast);
    for (int v = 0; v < 256; ++v)
        adjust_->scaled[v] = static_cast<int32_t>((static_cast<uint32_t>(saturation) * (v + 1)) >> 8);
    FoldTables();
}

void ColourEffects::SetExposure(float exposure) {
    exposure_ = ExposureTable(exposure);
    hasExposure_ = true;
    FoldTables();
}

void ColourEffects::FoldTables() {
    if (!adjust_)
        return;
    // Exposure works on each channel alone after the adjustment, so it joins the last table.
    const std::array<uint8_t, 256> after = hasExposure_ ? exposure_ : IdentityTable();
    std::array<uint8_t, AdjustTables::Span> limitedLevels{};
    for (int v = 0; v < AdjustTables::Span; ++v)
        limitedLevels[v] = after[adjustLevels_[ClampByte(v - AdjustTables::Offset)]];
    AdjustTables& t = *adjust_;
    for (int grey = 0; grey < 256; ++grey) {
        const int base = grey - t.scaled[grey] + AdjustTables::Offset;
        uint8_t* row = t.byGrey.data() + grey * 256;
        for (int v = 0; v < 256; ++v)
            row[v] = limitedLevels[base + t.scaled[v]];
    }
}

void ColourEffects::Apply(Bitmap& bitmap, int firstRow, int endRow) const {
    firstRow = std::max(firstRow, 0);
    endRow = std::min(endRow, bitmap.Height());
    const int width = bitmap.Width();
    if (adjust_) {
        const AdjustTables& t = *adjust_;
        for (int y = firstRow; y < endRow; ++y) {
            uint8_t* p = bitmap.Row(y);
            for (int x = 0; x < width; ++x, p += 3) {
                const int b = p[0], g = p[1], r = p[2];
                const uint8_t* levels = t.byGrey.data() + (GreyOf(b + g + r) << 8);
                p[0] = levels[b];
                p[1] = levels[g];
                p[2] = levels[r];
            }
        }
    } else if (hasExposure_) {
        const int bytes = width * Bitmap::BytesPerPixel;
        for (int y = firstRow; y < endRow; ++y) {
            uint8_t* p = bitmap.Row(y);
            for (int i = 0; i < bytes; ++i)
                p[i] = exposure_[p[i]];
        }
    }
}

void ApplyColorAdjust(Bitmap& bitmap, int brightness, int contrast, int saturation) {
    ColourEffects effects;
    effects.SetColorAdjust(brightness, contrast, saturation);
    effects.Apply(bitmap, 0, bitmap.Height());
}

void ApplyExposure(Bitmap& bitmap, float exposure) {
    ColourEffects effects;
    effects.SetExposure(exposure);
    effects.Apply(bitmap, 0, bitmap.Height());
}

void BlendPicture(Bitmap& frame, const Bitmap& picture, int x, int y, int style, int alpha) {
    if (frame.Empty() || picture.Empty())
        return;
    // 64-bit so that positions near the limits of int cannot overflow the edge sums.
    const int64_t left = std::max<int64_t>(x, 0);
    const int64_t top = std::max<int64_t>(y, 0);
    const int64_t right = std::min<int64_t>(int64_t{x} + picture.Width(), frame.Width());
    const int64_t bottom = std::min<int64_t>(int64_t{y} + picture.Height(), frame.Height());
    if (left >= right || top >= bottom)
        return;

    const int bytes = static_cast<int>(right - left) * Bitmap::BytesPerPixel;
    const int pictureLeft = static_cast<int>(left - x);
    const int pictureTop = static_cast<int>(top - y);
    const int rows = static_cast<int>(bottom - top);

    if (style == 1) {
        const int weight = std::clamp(alpha, 0, 255);
        const int frameWeight = 256 - weight;
        for (int row = 0; row < rows; ++row) {
            uint8_t* f = frame.Pixel(static_cast<int>(left), static_cast<int>(top) + row);
            const uint8_t* p = picture.Pixel(pictureLeft, pictureTop + row);
            for (int i = 0; i < bytes; ++i)
                f[i] = static_cast<uint8_t>((frameWeight * f[i] + weight * p[i]) >> 8);
        }
    } else {
        for (int row = 0; row < rows; ++row) {
            uint8_t* f = frame.Pixel(static_cast<int>(left), static_cast<int>(top) + row);
            const uint8_t* p = picture.Pixel(pictureLeft, pictureTop + row);
            for (int i = 0; i < bytes; ++i)
                f[i] = static_cast<uint8_t>(p[i] * f[i] / 255);
        }
    }
}

}  // namespace kavel
