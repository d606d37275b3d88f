#include "engine/Yuv420Conversion.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

extern "C" {
#include <libavutil/frame.h>
}

namespace kavel {

namespace {

constexpr int FractionBits = 13;
constexpr int32_t Half = 1 << (FractionBits - 1);
// Chroma comes from the sum of a block's four pixels: two more bits to drop.
constexpr int ChromaShift = FractionBits + 2;
constexpr int32_t ChromaHalf = 1 << (ChromaShift - 1);

// The scaler's matrices hold the limited range's chroma gain of 255/224.
constexpr double ChromaGain = 255.0 / 224.0;
constexpr double LumaGain = 255.0 / 219.0;

int16_t Fixed(double value) { return static_cast<int16_t>(std::lround(value * (1 << FractionBits))); }

uint8_t ClipByte(int32_t value) { return static_cast<uint8_t>(std::clamp(value, 0, 255)); }

const uint8_t* PlaneRow(const AVFrame& frame, int plane, int row) {
    return frame.data[plane] + static_cast<ptrdiff_t>(row) * frame.linesize[plane];
}

uint8_t* PlaneRow(AVFrame& frame, int plane, int row) {
    return frame.data[plane] + static_cast<ptrdiff_t>(row) * frame.linesize[plane];
}

// One pixel each way; the vector loops compute exactly these sums.
void PixelToRgb(const Yuv420Conversion::ToRgb& w, int y, int u, int v, uint8_t* out) {
    const int32_t level = w.luma * (y - w.lumaOffset) + Half;
    u -= 128;
    v -= 128;
    out[0] = ClipByte((level + w.blueFromCb * u) >> FractionBits);
    out[1] = ClipByte((level + w.greenFromCb * u + w.greenFromCr * v) >> FractionBits);
    out[2] = ClipByte((level + w.redFromCr * v) >> FractionBits);
}

uint8_t LumaOf(const Yuv420Conversion::FromRgb& w, const uint8_t* p) {
    return ClipByte(((w.lumaBlue * p[0] + w.lumaGreen * p[1] + w.lumaRed * p[2] + Half) >> FractionBits) +
                    w.lumaOffset);
}

uint8_t ChromaOf(int16_t blue, int16_t green, int16_t red, int32_t sumBlue, int32_t sumGreen, int32_t sumRed) {
    return ClipByte(((blue * sumBlue + green * sumGreen + red * sumRed + ChromaHalf) >> ChromaShift) + 128);
}

#if defined(__SSE2__)

// Four pixels as 32-bit lanes (blue, green, red, unused) into 12 packed bytes at the bottom of
// the register; the top four bytes are zero.
__m128i PackPixels(__m128i pixels) {
    const __m128i first = _mm_set1_epi64x(0x0000000000FFFFFF);
    const __m128i second = _mm_set1_epi64x(0x0000FFFFFF000000);
    const __m128i halves = _mm_or_si128(_mm_and_si128(pixels, first), _mm_and_si128(_mm_srli_epi64(pixels, 8), second));
    const __m128i lowHalf = _mm_set_epi64x(0, -1);
    return _mm_or_si128(_mm_and_si128(halves, lowHalf), _mm_srli_si128(_mm_andnot_si128(lowHalf, halves), 2));
}

// The reverse: 12 packed bytes at the bottom of the register into four 32-bit lanes whose top
// byte is 1, the weight that carries each lane's rounding term through _mm_madd_epi16.
__m128i UnpackPixels(__m128i packed) {
    const __m128i lowHalf = _mm_set_epi64x(0, -1);
    const __m128i halves = _mm_or_si128(_mm_and_si128(packed, lowHalf), _mm_andnot_si128(lowHalf, _mm_slli_si128(packed, 2)));
    const __m128i first = _mm_set1_epi64x(0x0000000000FFFFFF);
    const __m128i second = _mm_set1_epi64x(0x00FFFFFF00000000);
    const __m128i one = _mm_set1_epi64x(0x0100000001000000);
    return _mm_or_si128(_mm_or_si128(_mm_and_si128(halves, first), _mm_and_si128(_mm_slli_epi64(halves, 8), second)),
                        one);
}

// Weights for _mm_madd_epi16 over (a, b) pairs of 16-bit values.
__m128i PairWeights(int16_t a, int16_t b) {
    return _mm_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(a)) | (static_cast<int32_t>(b) << 16));
}

// 16 pixels of one row: 16 luma samples and the 8 chroma samples under them. Returns the
// number of pixels done (a multiple of 16).
int ToRgbVector(const Yuv420Conversion::ToRgb& w, const uint8_t* luma, const uint8_t* cb, const uint8_t* cr,
                uint8_t* out, int width) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i chromaCentre = _mm_set1_epi16(128);
    const __m128i lumaOffset = _mm_set1_epi16(w.lumaOffset);
    const __m128i one = _mm_set1_epi16(1);
    const __m128i lumaWeights = PairWeights(w.luma, static_cast<int16_t>(Half));
    const __m128i blueWeights = PairWeights(w.blueFromCb, 0);
    const __m128i greenWeights = PairWeights(w.greenFromCb, w.greenFromCr);
    const __m128i redWeights = PairWeights(0, w.redFromCr);
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i y8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + x));
        const __m128i u = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + x / 2)), zero), chromaCentre);
        const __m128i v = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + x / 2)), zero), chromaCentre);
        const __m128i chroma[2] = {_mm_unpacklo_epi16(u, v), _mm_unpackhi_epi16(u, v)};
        const __m128i y16[2] = {_mm_sub_epi16(_mm_unpacklo_epi8(y8, zero), lumaOffset),
                                _mm_sub_epi16(_mm_unpackhi_epi8(y8, zero), lumaOffset)};
        __m128i channels[3][2];  // blue, green, red: 8 bytes as 16-bit values, twice
        for (int half = 0; half < 2; ++half) {
            const __m128i level[2] = {_mm_madd_epi16(_mm_unpacklo_epi16(y16[half], one), lumaWeights),
                                      _mm_madd_epi16(_mm_unpackhi_epi16(y16[half], one), lumaWeights)};
            const __m128i weights[3] = {blueWeights, greenWeights, redWeights};
            for (int c = 0; c < 3; ++c) {
                // Four chroma terms, each shared by two neighbouring pixels.
                const __m128i term = _mm_madd_epi16(chroma[half], weights[c]);
                const __m128i low = _mm_srai_epi32(_mm_add_epi32(level[0], _mm_unpacklo_epi32(term, term)), FractionBits);
                const __m128i high = _mm_srai_epi32(_mm_add_epi32(level[1], _mm_unpackhi_epi32(term, term)), FractionBits);
                channels[c][half] = _mm_packs_epi32(low, high);
            }
        }
        const __m128i blue = _mm_packus_epi16(channels[0][0], channels[0][1]);
        const __m128i green = _mm_packus_epi16(channels[1][0], channels[1][1]);
        const __m128i red = _mm_packus_epi16(channels[2][0], channels[2][1]);
        const __m128i blueGreen[2] = {_mm_unpacklo_epi8(blue, green), _mm_unpackhi_epi8(blue, green)};
        const __m128i redZero[2] = {_mm_unpacklo_epi8(red, zero), _mm_unpackhi_epi8(red, zero)};
        const __m128i p0 = PackPixels(_mm_unpacklo_epi16(blueGreen[0], redZero[0]));
        const __m128i p1 = PackPixels(_mm_unpackhi_epi16(blueGreen[0], redZero[0]));
        const __m128i p2 = PackPixels(_mm_unpacklo_epi16(blueGreen[1], redZero[1]));
        const __m128i p3 = PackPixels(_mm_unpackhi_epi16(blueGreen[1], redZero[1]));
        uint8_t* o = out + 3 * x;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_or_si128(p0, _mm_slli_si128(p1, 12)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16), _mm_or_si128(_mm_srli_si128(p1, 4), _mm_slli_si128(p2, 8)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 32), _mm_or_si128(_mm_srli_si128(p2, 8), _mm_slli_si128(p3, 4)));
    }
    return x;
}

// The sum of each 32-bit pair of a _mm_madd_epi16 result, in lanes 0 and 2.
__m128i AddPairs(__m128i products) { return _mm_add_epi32(products, _mm_srli_epi64(products, 32)); }

// Lanes 0 and 2 of a and of b as four lanes.
__m128i EvenLanes(__m128i a, __m128i b) {
    return _mm_unpacklo_epi64(_mm_shuffle_epi32(a, _MM_SHUFFLE(3, 1, 2, 0)), _mm_shuffle_epi32(b, _MM_SHUFFLE(3, 1, 2, 0)));
}

// Eight pixels of a row into four 16-bit pixel vectors (blue, green, red, 1), two pixels each.
void LoadEight(const uint8_t* p, __m128i pixels[4]) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i tail = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 16));
    const __m128i first = UnpackPixels(head);
    const __m128i second = UnpackPixels(_mm_or_si128(_mm_srli_si128(head, 12), _mm_slli_si128(tail, 4)));
    pixels[0] = _mm_unpacklo_epi8(first, zero);
    pixels[1] = _mm_unpackhi_epi8(first, zero);
    pixels[2] = _mm_unpacklo_epi8(second, zero);
    pixels[3] = _mm_unpackhi_epi8(second, zero);
}

// Luma of eight pixels as bytes in the low half.
__m128i LumaEight(const __m128i pixels[4], __m128i weights, __m128i offset) {
    const __m128i low = _mm_srai_epi32(EvenLanes(AddPairs(_mm_madd_epi16(pixels[0], weights)),
                                                 AddPairs(_mm_madd_epi16(pixels[1], weights))), FractionBits);
    const __m128i high = _mm_srai_epi32(EvenLanes(AddPairs(_mm_madd_epi16(pixels[2], weights)),
                                                  AddPairs(_mm_madd_epi16(pixels[3], weights))), FractionBits);
    const __m128i levels = _mm_add_epi16(_mm_packs_epi32(low, high), offset);
    return _mm_packus_epi16(levels, levels);
}

// Two rows of eight pixels: their luma and the four chroma samples of their blocks. Returns
// the number of pixels done (a multiple of 8).
int FromRgbVector(const Yuv420Conversion::FromRgb& w, const uint8_t* top, const uint8_t* bottom, uint8_t* lumaTop,
                  uint8_t* lumaBottom, uint8_t* cb, uint8_t* cr, int width) {
    const __m128i lumaWeights = _mm_set_epi16(static_cast<int16_t>(Half), w.lumaRed, w.lumaGreen, w.lumaBlue,
                                              static_cast<int16_t>(Half), w.lumaRed, w.lumaGreen, w.lumaBlue);
    const __m128i lumaOffset = _mm_set1_epi16(w.lumaOffset);
    // The summed fourth values are 4, so the last weight brings in the rounding half.
    constexpr int16_t quarterHalf = ChromaHalf / 4;
    const __m128i cbWeights = _mm_set_epi16(quarterHalf, w.cbRed, w.cbGreen, w.cbBlue, quarterHalf, w.cbRed, w.cbGreen, w.cbBlue);
    const __m128i crWeights = _mm_set_epi16(quarterHalf, w.crRed, w.crGreen, w.crBlue, quarterHalf, w.crRed, w.crGreen, w.crBlue);
    const __m128i chromaCentre = _mm_set1_epi16(128);
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        __m128i upper[4];
        __m128i lower[4];
        LoadEight(top + 3 * x, upper);
        LoadEight(bottom + 3 * x, lower);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(lumaTop + x), LumaEight(upper, lumaWeights, lumaOffset));
        if (lumaBottom)
            _mm_storel_epi64(reinterpret_cast<__m128i*>(lumaBottom + x), LumaEight(lower, lumaWeights, lumaOffset));
        // Each vector holds two neighbours; adding the rows and then the neighbours gives a
        // block's sums, two blocks to a vector.
        __m128i blocks[2];
        for (int i = 0; i < 2; ++i) {
            const __m128i a = _mm_add_epi16(upper[2 * i], lower[2 * i]);
            const __m128i b = _mm_add_epi16(upper[2 * i + 1], lower[2 * i + 1]);
            blocks[i] = _mm_add_epi16(_mm_unpacklo_epi64(a, b), _mm_unpackhi_epi64(a, b));
        }
        auto chroma = [&](__m128i weights) {
            const __m128i sums = EvenLanes(AddPairs(_mm_madd_epi16(blocks[0], weights)),
                                           AddPairs(_mm_madd_epi16(blocks[1], weights)));
            const __m128i levels = _mm_add_epi16(_mm_packs_epi32(_mm_srai_epi32(sums, ChromaShift), _mm_setzero_si128()), chromaCentre);
            return _mm_cvtsi128_si32(_mm_packus_epi16(levels, levels));
        };
        const int32_t blue = chroma(cbWeights);
        const int32_t red = chroma(crWeights);
        std::memcpy(cb + x / 2, &blue, 4);
        std::memcpy(cr + x / 2, &red, 4);
    }
    return x;
}

#endif

}  // namespace

Yuv420Conversion::Yuv420Conversion(bool fullRange, const int* coefficients) : fullRange_(fullRange) {
    std::copy(coefficients, coefficients + 4, coefficients_.begin());
    constexpr double One = 65536.0;
    const double chromaScale = fullRange ? 1.0 / ChromaGain : 1.0;
    to_.luma = Fixed(fullRange ? 1.0 : LumaGain);
    to_.lumaOffset = fullRange ? 0 : 16;
    to_.redFromCr = Fixed(coefficients[0] / One * chromaScale);
    to_.blueFromCb = Fixed(coefficients[1] / One * chromaScale);
    to_.greenFromCb = static_cast<int16_t>(-Fixed(coefficients[2] / One * chromaScale));
    to_.greenFromCr = static_cast<int16_t>(-Fixed(coefficients[3] / One * chromaScale));

    // The forward matrix is the inverse of the same one: the weights of red and blue follow
    // from how much of Cr and Cb they take back.
    const double kr = 1.0 - coefficients[0] / One / ChromaGain / 2.0;
    const double kb = 1.0 - coefficients[1] / One / ChromaGain / 2.0;
    const double kg = 1.0 - kr - kb;
    const double lumaScale = fullRange ? 1.0 : 1.0 / LumaGain;
    const double chromaOut = fullRange ? 1.0 : 1.0 / ChromaGain;
    from_.lumaRed = Fixed(kr * lumaScale);
    from_.lumaBlue = Fixed(kb * lumaScale);
    // The weights add up to exactly the gain, so white stays inside the range after rounding.
    from_.lumaGreen = static_cast<int16_t>(Fixed(lumaScale) - from_.lumaRed - from_.lumaBlue);
    from_.lumaOffset = fullRange ? 0 : 16;
    // A grey block has no colour: each chroma row of weights adds up to zero.
    from_.cbRed = static_cast<int16_t>(-Fixed(chromaOut * kr / (2.0 * (1.0 - kb))));
    from_.cbGreen = static_cast<int16_t>(-Fixed(chromaOut * kg / (2.0 * (1.0 - kb))));
    from_.cbBlue = static_cast<int16_t>(-(from_.cbRed + from_.cbGreen));
    from_.crGreen = static_cast<int16_t>(-Fixed(chromaOut * kg / (2.0 * (1.0 - kr))));
    from_.crBlue = static_cast<int16_t>(-Fixed(chromaOut * kb / (2.0 * (1.0 - kr))));
    from_.crRed = static_cast<int16_t>(-(from_.crGreen + from_.crBlue));
}

bool Yuv420Conversion::Matches(bool fullRange, const int* coefficients) const {
    return fullRange == fullRange_ && std::equal(coefficients_.begin(), coefficients_.end(), coefficients);
}

void Yuv420Conversion::ToBitmapRow(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, uint8_t* out, int first,
                                   int width) const {
    for (int x = first; x < width; ++x)
        PixelToRgb(to_, luma[x], cb[x >> 1], cr[x >> 1], out + 3 * x);
}

void Yuv420Conversion::FromBitmapRowPair(const uint8_t* top, const uint8_t* bottom, uint8_t* lumaTop,
                                         uint8_t* lumaBottom, uint8_t* cb, uint8_t* cr, int first, int width) const {
    // A last column without a partner counts twice: the block average stays its own.
    for (int x = first; x < width; x += 2) {
        const int next = x + 1 < width ? 3 : 0;
        const uint8_t* a = top + 3 * x;
        const uint8_t* b = bottom + 3 * x;
        lumaTop[x] = LumaOf(from_, a);
        if (next)
            lumaTop[x + 1] = LumaOf(from_, a + next);
        if (lumaBottom) {
            lumaBottom[x] = LumaOf(from_, b);
            if (next)
                lumaBottom[x + 1] = LumaOf(from_, b + next);
        }
        const int32_t blue = a[0] + a[next] + b[0] + b[next];
        const int32_t green = a[1] + a[next + 1] + b[1] + b[next + 1];
        const int32_t red = a[2] + a[next + 2] + b[2] + b[next + 2];
        cb[x >> 1] = ChromaOf(from_.cbBlue, from_.cbGreen, from_.cbRed, blue, green, red);
        cr[x >> 1] = ChromaOf(from_.crBlue, from_.crGreen, from_.crRed, blue, green, red);
    }
}

void Yuv420Conversion::ToBitmapRows(const AVFrame& frame, Bitmap& bitmap, int firstRow, int endRow) const {
    ToBitmapRowsWith(true, frame, bitmap, firstRow, endRow);
}

void Yuv420Conversion::ToBitmapRowsPlain(const AVFrame& frame, Bitmap& bitmap, int firstRow, int endRow) const {
    ToBitmapRowsWith(false, frame, bitmap, firstRow, endRow);
}

void Yuv420Conversion::FromBitmapRows(const Bitmap& bitmap, AVFrame& frame, int firstRow, int endRow) const {
    FromBitmapRowsWith(true, bitmap, frame, firstRow, endRow);
}

void Yuv420Conversion::FromBitmapRowsPlain(const Bitmap& bitmap, AVFrame& frame, int firstRow, int endRow) const {
    FromBitmapRowsWith(false, bitmap, frame, firstRow, endRow);
}

void Yuv420Conversion::ToBitmapRowsWith(bool vector, const AVFrame& frame, Bitmap& bitmap, int firstRow,
                                        int endRow) const {
    for (int y = firstRow; y < endRow; ++y) {
        const uint8_t* luma = PlaneRow(frame, 0, y);
        const uint8_t* cb = PlaneRow(frame, 1, y >> 1);
        const uint8_t* cr = PlaneRow(frame, 2, y >> 1);
        int done = 0;
#if defined(__SSE2__)
        if (vector)
            done = ToRgbVector(to_, luma, cb, cr, bitmap.Row(y), frame.width);
#else
        (void)vector;
#endif
        ToBitmapRow(luma, cb, cr, bitmap.Row(y), done, frame.width);
    }
}

void Yuv420Conversion::FromBitmapRowsWith(bool vector, const Bitmap& bitmap, AVFrame& frame, int firstRow,
                                          int endRow) const {
    const int width = bitmap.Width();
    for (int y = firstRow; y < endRow; y += 2) {
        // A last row without a partner counts twice, as a last column does.
        const bool pair = y + 1 < endRow;
        const uint8_t* top = bitmap.Row(y);
        const uint8_t* bottom = pair ? bitmap.Row(y + 1) : top;
        uint8_t* lumaTop = PlaneRow(frame, 0, y);
        uint8_t* lumaBottom = pair ? PlaneRow(frame, 0, y + 1) : nullptr;
        uint8_t* cb = PlaneRow(frame, 1, y >> 1);
        uint8_t* cr = PlaneRow(frame, 2, y >> 1);
        int done = 0;
#if defined(__SSE2__)
        // The vector loop reads 24 bytes per eight pixels from a 16-byte and an 8-byte load, both
        // inside those 24 bytes, so it may run to the last whole group of eight.
        if (vector)
            done = FromRgbVector(from_, top, bottom, lumaTop, lumaBottom, cb, cr, width);
#else
        (void)vector;
#endif
        FromBitmapRowPair(top, bottom, lumaTop, lumaBottom, cb, cr, done, width);
    }
}

}  // namespace kavel
