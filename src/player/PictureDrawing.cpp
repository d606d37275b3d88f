#include "player/PictureDrawing.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace kavel {

namespace {

constexpr int FractionBits = 10;
constexpr int Half = 1 << (FractionBits - 1);

constexpr int Fixed(double value) { return static_cast<int>(value * (1 << FractionBits) + 0.5); }

// Luma spans 219 steps and chroma 224 of the 255 that RGB spans.
constexpr int YR = Fixed(0.299 * 219.0 / 255.0);
constexpr int YG = Fixed(0.587 * 219.0 / 255.0);
constexpr int YB = Fixed(0.114 * 219.0 / 255.0);
constexpr int CbR = Fixed(0.168736 * 224.0 / 255.0);
constexpr int CbG = Fixed(0.331264 * 224.0 / 255.0);
constexpr int CbB = Fixed(0.5 * 224.0 / 255.0);
constexpr int CrR = Fixed(0.5 * 224.0 / 255.0);
constexpr int CrG = Fixed(0.418688 * 224.0 / 255.0);
constexpr int CrB = Fixed(0.081312 * 224.0 / 255.0);

int RoundEven(double value) { return static_cast<int>(std::lround(value)) & ~1; }

uint8_t Mix(int old, int value, int alpha) { return static_cast<uint8_t>(((255 - alpha) * old + alpha * value) / 255); }

}  // namespace

double DisplayAspect(float setting, int pictureWidth, int pictureHeight, int sampleAspectNum,
                     int sampleAspectDen, int areaWidth, int areaHeight) {
    if (setting > 0) {
        return setting;
    }
    if (setting < 0 && areaWidth > 0 && areaHeight > 0) {
        return static_cast<double>(areaWidth) / areaHeight;
    }
    double sampleAspect = sampleAspectDen != 0 ? static_cast<double>(sampleAspectNum) / sampleAspectDen : 0.0;
    if (sampleAspect <= 0) {
        sampleAspect = 1.0;
    }
    if (pictureWidth <= 0 || pictureHeight <= 0) {
        return 1.0;
    }
    return sampleAspect * pictureWidth / pictureHeight;
}

PictureRect FitPicture(int areaWidth, int areaHeight, double aspect) {
    PictureRect rect;
    if (areaWidth <= 0 || areaHeight <= 0 || !(aspect > 0)) {
        return rect;
    }
    rect.Height = areaHeight;
    rect.Width = RoundEven(rect.Height * aspect);
    if (rect.Width > areaWidth) {
        rect.Width = areaWidth;
        rect.Height = RoundEven(rect.Width / aspect);
    }
    rect.X = (areaWidth - rect.Width) / 2;
    rect.Y = (areaHeight - rect.Height) / 2;
    return rect;
}

YuvColor RgbToYuv601(int red, int green, int blue) {
    YuvColor color;
    color.Y = (YR * red + YG * green + YB * blue + (16 << FractionBits) + Half) >> FractionBits;
    color.Cb = ((-CbR * red - CbG * green + CbB * blue + Half) >> FractionBits) + 128;
    color.Cr = ((CrR * red - CrG * green - CrB * blue + Half) >> FractionBits) + 128;
    return color;
}

void PaletteToYuva(AVSubtitleRect& rect) {
    if (rect.type != SUBTITLE_BITMAP || rect.data[1] == nullptr) {
        return;
    }
    auto* palette = reinterpret_cast<uint32_t*>(rect.data[1]);
    for (int i = 0; i < rect.nb_colors && i < 256; ++i) {
        const uint32_t argb = palette[i];
        const YuvColor color = RgbToYuv601((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF);
        palette[i] = (argb & 0xFF000000u) | (static_cast<uint32_t>(color.Y) << 16) |
                     (static_cast<uint32_t>(color.Cb) << 8) | static_cast<uint32_t>(color.Cr);
    }
}

void BlendSubtitleRect(AVFrame& picture, const AVSubtitleRect& rect) {
    if (rect.type != SUBTITLE_BITMAP || rect.data[0] == nullptr || rect.data[1] == nullptr) {
        return;
    }
    const int left = std::max(rect.x, 0);
    const int top = std::max(rect.y, 0);
    const int right = std::min(rect.x + rect.w, picture.width);
    const int bottom = std::min(rect.y + rect.h, picture.height);
    if (left >= right || top >= bottom) {
        return;
    }
    const auto* palette = reinterpret_cast<const uint32_t*>(rect.data[1]);
    auto entry = [&](int x, int y) { return palette[rect.data[0][(y - rect.y) * rect.linesize[0] + (x - rect.x)]]; };

    for (int y = top; y < bottom; ++y) {
        uint8_t* luma = picture.data[0] + y * picture.linesize[0];
        for (int x = left; x < right; ++x) {
            const uint32_t yuva = entry(x, y);
            luma[x] = Mix(luma[x], (yuva >> 16) & 0xFF, yuva >> 24);
        }
    }
    // Each chroma sample covers a 2 x 2 block; pixels of the block outside the rectangle count as
    // transparent, so that the rectangle's edges do not tint their neighbours fully.
    for (int cy = top / 2; cy <= (bottom - 1) / 2; ++cy) {
        uint8_t* cb = picture.data[1] + cy * picture.linesize[1];
        uint8_t* cr = picture.data[2] + cy * picture.linesize[2];
        for (int cx = left / 2; cx <= (right - 1) / 2; ++cx) {
            int alphaSum = 0;
            int cbSum = 0;
            int crSum = 0;
            int covered = 0;
            for (int y = cy * 2; y < cy * 2 + 2; ++y) {
                for (int x = cx * 2; x < cx * 2 + 2; ++x) {
                    if (x < left || x >= right || y < top || y >= bottom) {
                        continue;
                    }
                    const uint32_t yuva = entry(x, y);
                    alphaSum += yuva >> 24;
                    cbSum += (yuva >> 8) & 0xFF;
                    crSum += yuva & 0xFF;
                    ++covered;
                }
            }
            if (covered == 0) {
                continue;
            }
            const int alpha = alphaSum / 4;
            cb[cx] = Mix(cb[cx], cbSum / covered, alpha);
            cr[cx] = Mix(cr[cx], crSum / covered, alpha);
        }
    }
}

int WaveformStart(const int16_t* history, int size, int writeIndex, int channels, int wanted) {
    if (channels <= 0 || size <= 0) {
        return 0;
    }
    auto wrap = [size](int64_t index) { return static_cast<int>(((index % size) + size) % size); };
    int start = wrap(static_cast<int64_t>(writeIndex) - static_cast<int64_t>(wanted) * channels);
    int best = start;
    int bestScore = -0x10000;
    for (int i = 0; i < 1000; i += channels) {
        const int index = wrap(static_cast<int64_t>(start) - i);
        const int a = history[wrap(index + 4 * channels)];
        const int b = history[wrap(index + 5 * channels)];
        if ((a < 0) == (b < 0)) {
            continue;
        }
        const int score = history[index] - history[wrap(index + 9 * channels)];
        if (score > bestScore) {
            bestScore = score;
            best = index;
        }
    }
    return best;
}

void DrawWaveform(Bitmap& area, const int16_t* history, int size, int start, int channels) {
    std::memset(area.Data(), 0, static_cast<size_t>(area.Stride()) * area.Height());
    if (channels <= 0 || area.Empty() || size <= 0) {
        return;
    }
    auto white = [&area](int x, int y) {
        if (x >= 0 && x < area.Width() && y >= 0 && y < area.Height()) {
            std::memset(area.Pixel(x, y), 0xFF, Bitmap::BytesPerPixel);
        }
    };
    const int bandHeight = area.Height() / channels;
    const int halfAmplitude = bandHeight * 9 / 20;
    for (int channel = 0; channel < channels; ++channel) {
        const int centre = channel * bandHeight + bandHeight / 2;
        int index = (start + channel) % size;
        for (int x = 0; x < area.Width(); ++x) {
            int length = (history[index] * halfAmplitude) >> 15;
            int top = centre;
            if (length < 0) {
                length = -length;
                top = centre - length;
            }
            for (int y = top; y < top + length; ++y) {
                white(x, y);
            }
            index = (index + channels) % size;
        }
    }
    for (int channel = 1; channel < channels; ++channel) {
        for (int x = 0; x < area.Width(); ++x) {
            white(x, channel * bandHeight);
        }
    }
}

}  // namespace kavel
