#pragma once

#include <cstdint>

#include "engine/Bitmap.h"

struct AVFrame;
struct AVSubtitleRect;

namespace kavel {

// The drawing steps of the player that need no player: fitting a picture into the drawing area,
// colour conversion and blending of bitmap subtitles, and the waveform of sound-only files.

struct PictureRect {
    int X = 0;
    int Y = 0;
    int Width = 0;
    int Height = 0;
};

// The display aspect (width / height) for the AspectRatio setting: a positive setting is used as
// it is; 0 is the picture's own (sample aspect times width over height, a missing or non-positive
// sample aspect counting as 1); a negative one is the drawing area's own when its size is known.
double DisplayAspect(float setting, int pictureWidth, int pictureHeight, int sampleAspectNum,
                     int sampleAspectDen, int areaWidth, int areaHeight);

// The rectangle of the area that shows a picture of that aspect: as high as the area, or as wide
// when that is too wide, each side made even, centred.
PictureRect FitPicture(int areaWidth, int areaHeight, double aspect);

struct YuvColor {
    int Y = 0;
    int Cb = 0;
    int Cr = 0;
};

// ITU-R BT.601 studio range (Y 16..235, Cb and Cr 16..240) in fixed point, 10 fractional bits.
YuvColor RgbToYuv601(int red, int green, int blue);

// Turns the palette of a bitmap subtitle (32-bit 0xAARRGGBB entries) into packed
// 0xAAYYUUVV entries, in place. Call once per rectangle before blending it.
void PaletteToYuva(AVSubtitleRect& rect);
// Blends a rectangle whose palette PaletteToYuva converted into a YUV 4:2:0 picture, clipped to
// the picture: luma per pixel, chroma per 2 x 2 block with the block's mean alpha.
void BlendSubtitleRect(AVFrame& picture, const AVSubtitleRect& rect);

// Where drawing the waveform starts: wanted samples per channel back from writeIndex, then moved
// within the 1000 samples before that to the steepest falling zero crossing, so that a steady tone
// draws a steady picture. history holds size interleaved samples.
int WaveformStart(const int16_t* history, int size, int writeIndex, int channels, int wanted);
// Black area, one band per channel with a white line for each sample column from start, and a
// white line between the bands.
void DrawWaveform(Bitmap& area, const int16_t* history, int size, int start, int channels);

}  // namespace kavel
