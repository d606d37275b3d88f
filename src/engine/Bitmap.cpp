#include "engine/Bitmap.h"

namespace kavel {

void Bitmap::Resize(int width, int height) {
    if (width <= 0 || height <= 0) {
        width_ = height_ = stride_ = 0;
        pixels_.clear();
        return;
    }
    if (width == width_ && height == height_) {
        return;
    }
    width_ = width;
    height_ = height;
    // Rows 32-byte aligned, which the scaler's vector code and image wrappers both like.
    stride_ = (width * BytesPerPixel + 31) & ~31;
    pixels_.resize(static_cast<size_t>(stride_) * height);
}

}  // namespace kavel
