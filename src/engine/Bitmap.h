#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace kavel {

template <typename T, size_t Alignment>
struct AlignedAllocator {
    using value_type = T;
    template <typename U>
    struct rebind {
        using other = AlignedAllocator<U, Alignment>;
    };
    AlignedAllocator() = default;
    template <typename U>
    AlignedAllocator(const AlignedAllocator<U, Alignment>&) {}
    T* allocate(size_t n) {
        return static_cast<T*>(::operator new(n * sizeof(T), std::align_val_t(Alignment)));
    }
    void deallocate(T* p, size_t) { ::operator delete(p, std::align_val_t(Alignment)); }
    template <typename U>
    bool operator==(const AlignedAllocator<U, Alignment>&) const { return true; }
};

// The 24-bit picture of hooks, previews and frame grabs: three bytes per pixel in the order
// blue, green, red, rows from the top, each row Stride bytes apart (a multiple of 32, padding
// bytes unused). A value type; copies are deep.
class Bitmap {
public:
    static constexpr int BytesPerPixel = 3;

    Bitmap() = default;
    Bitmap(int width, int height) { Resize(width, height); }

    // New size; contents are undefined after a change of size (zero on first allocation).
    void Resize(int width, int height);

    int Width() const { return width_; }
    int Height() const { return height_; }
    int Stride() const { return stride_; }
    bool Empty() const { return width_ <= 0 || height_ <= 0; }

    uint8_t* Data() { return pixels_.data(); }
    const uint8_t* Data() const { return pixels_.data(); }
    uint8_t* Row(int y) { return pixels_.data() + static_cast<size_t>(y) * stride_; }
    const uint8_t* Row(int y) const { return pixels_.data() + static_cast<size_t>(y) * stride_; }
    // Pixel (x, y): [0] blue, [1] green, [2] red.
    uint8_t* Pixel(int x, int y) { return Row(y) + x * BytesPerPixel; }
    const uint8_t* Pixel(int x, int y) const { return Row(y) + x * BytesPerPixel; }

private:
    int width_ = 0;
    int height_ = 0;
    int stride_ = 0;
    std::vector<uint8_t, AlignedAllocator<uint8_t, 64>> pixels_;
};

}  // namespace kavel
