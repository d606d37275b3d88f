#pragma once

#include "engine/Bitmap.h"

#include <array>
#include <cstdint>
#include <memory>

namespace kavel {

// The colour effects and picture blending drawn into frames during conversion and in the
// editors' previews. Each routine builds its lookup tables once per call and makes one pass
// over the scan lines (ColourEffects keeps the tables for several passes); all work in place on
// 24-bit bitmaps and may run on any thread (they share no state).

// True when ApplyColorAdjust has anything to do for these values. 255 is the "no effect" value
// of brightness and saturation (the arithmetic is the identity at 256), so a freshly added file
// gets no processing.
inline bool ColorAdjustSet(int brightness, int contrast, int saturation) {
    return brightness != 255 || contrast != 0 || saturation != 255;
}

// Saturation (0..512, 256 = unchanged) scales each pixel's distance from its grey level, then
// brightness (0..512, 256 = unchanged) and contrast (-100..100, 0 = unchanged, pivot at level
// 170) map every channel through one table. Values outside those ranges are limited to them;
// contrast 100 acts as 99, where the gain would become infinite.
void ApplyColorAdjust(Bitmap& bitmap, int brightness, int contrast, int saturation);

// Exposure (-255..512, 0 = unchanged): positive values lift dark and middle levels towards
// white, negative ones push levels down. Values outside the range are limited to it.
void ApplyExposure(Bitmap& bitmap, float exposure);

// The colour effects of one row of the list, as tables built once and applied in one pass over
// any rows of a frame: the adjustment and exposure together give the same pixels as
// ApplyColorAdjust followed by ApplyExposure. Apply may run on several threads at once for
// different rows (it only reads the tables).
class ColourEffects {
public:
    ColourEffects() = default;
    // The effects a record asks for: the adjustment when ColorAdjustSet, exposure when not 0.
    ColourEffects(int brightness, int contrast, int saturation, float exposure);
    ColourEffects(ColourEffects&&) noexcept;
    ~ColourEffects();

    // Adds the adjustment or the exposure whatever the values (as the single routines do).
    void SetColorAdjust(int brightness, int contrast, int saturation);
    void SetExposure(float exposure);

    bool Empty() const { return !adjust_ && !hasExposure_; }
    // Rows [firstRow, endRow) of bitmap in place (limited to its rows).
    void Apply(Bitmap& bitmap, int firstRow, int endRow) const;

private:
    struct AdjustTables;
    void FoldTables();

    std::unique_ptr<AdjustTables> adjust_;
    std::array<uint8_t, 256> adjustLevels_{};
    std::array<uint8_t, 256> exposure_{};
    bool hasExposure_ = false;
};

// Draws picture onto frame with its top left corner at (x, y). Style 1 blends with weight
// alpha (0..255, 0 leaves the frame unchanged); any other style multiplies (white leaves the
// frame unchanged, alpha unused). The covered area is clipped at every edge of the frame, so
// any position is safe; a picture wholly outside the frame draws nothing.
void BlendPicture(Bitmap& frame, const Bitmap& picture, int x, int y, int style, int alpha);

}  // namespace kavel
