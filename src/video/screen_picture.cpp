#include "video/screen_picture.h"

#include <algorithm>
#include <cstring>

#include "video/frame_compare.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define VISTREL_SCREEN_PICTURE_SSSE3 1
#endif

namespace {

void RowPortable(const uint8_t* from, uint8_t* to, int32_t width) {
    for (int32_t x = 0; x < width; ++x, from += 3, to += 4) {
        const uint32_t pixel = 0xff000000u | uint32_t{from[2]} << 16 | uint32_t{from[1]} << 8 | from[0];
        std::memcpy(to, &pixel, sizeof pixel);
    }
}

#ifdef VISTREL_SCREEN_PICTURE_SSSE3
// Four pixels per step: one 16-byte load holds 12 source bytes; the shuffle
// spreads them to 16 and the OR sets the unused top byte. The load reads 4
// bytes past the fourth pixel, so the last pixels of a row go the portable way.
__attribute__((target("ssse3"))) void RowSsse3(const uint8_t* from, uint8_t* to, int32_t width) {
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xff000000u));
    int32_t x = 0;
    for (; x + 6 <= width; x += 4) {
        const __m128i source = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 3 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 4 * x),
                         _mm_or_si128(_mm_shuffle_epi8(source, spread), opaque));
    }
    RowPortable(from + 3 * x, to + 4 * x, width - x);
}

// Eight pixels per step, each half of the register from its own load; the
// second load reads 4 bytes past the eighth pixel.
__attribute__((target("avx2"))) void RowAvx2(const uint8_t* from, uint8_t* to, int32_t width) {
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1, 2, -1, 3, 4, 5,
                                            -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m256i opaque = _mm256_set1_epi32(static_cast<int>(0xff000000u));
    int32_t x = 0;
    for (; x + 10 <= width; x += 8) {
        const __m256i source = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(from + 3 * x + 12),
                                                   reinterpret_cast<const __m128i*>(from + 3 * x));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + 4 * x),
                            _mm256_or_si256(_mm256_shuffle_epi8(source, spread), opaque));
    }
    RowSsse3(from + 3 * x, to + 4 * x, width - x);
}
#endif

}  // namespace

void FrameToScreenPixels(const FrameRows& frame, int32_t width, int32_t height, uint8_t* destination,
                         std::ptrdiff_t destinationStride) {
    if (width <= 0 || height <= 0) return;
    const std::ptrdiff_t rowBytes = std::ptrdiff_t{width} * 3;
    auto row = RowPortable;
#ifdef VISTREL_SCREEN_PICTURE_SSSE3
    if (HasWideVectors())
        row = RowAvx2;
    else if (HasPixelShuffle())
        row = RowSsse3;
#endif
    for (int32_t y = 0; y < height; ++y)
        row(frame.Row(height - 1 - y, rowBytes), destination + y * destinationStride, width);
}

namespace {

// The frame's pixels at the columns' offsets into screen pixels; each is
// read as 4 bytes, of which the fourth is the next pixel's, except the last
// of a row, read as 3 so that the top line never reads past the frame.
void ScaleRowPortable(const uint8_t* from, const int32_t* columns, uint32_t* to, int32_t count, int32_t,
                      int32_t last) {
    for (int32_t x = 0; x < count; ++x) {
        const uint8_t* pixel = from + columns[x];
        uint32_t value;
        if (columns[x] < last) {
            std::memcpy(&value, pixel, sizeof value);
        } else {
            value = uint32_t{pixel[2]} << 16 | uint32_t{pixel[1]} << 8 | pixel[0];
        }
        to[x] = 0xff000000u | (value & 0x00ffffffu);
    }
}

#ifdef VISTREL_SCREEN_PICTURE_SSSE3
// Eight pixels per step, fetched with one gather.
__attribute__((target("avx2"))) void ScaleRowAvx2(const uint8_t* from, const int32_t* columns, uint32_t* to,
                                                  int32_t count, int32_t inner, int32_t last) {
    const __m256i colour = _mm256_set1_epi32(0x00ffffff);
    const __m256i opaque = _mm256_set1_epi32(static_cast<int>(0xff000000u));
    int32_t x = 0;
    // Columns showing the row's last pixel are left to the portable loop.
    for (; x + 8 <= inner; x += 8) {
        const __m256i at = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(columns + x));
        const __m256i pixels = _mm256_i32gather_epi32(reinterpret_cast<const int*>(from), at, 1);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + x),
                            _mm256_or_si256(_mm256_and_si256(pixels, colour), opaque));
    }
    ScaleRowPortable(from, columns + x, to + x, count - x, 0, last);
}

// Four pixels per step: two loads, each holding two of the columns' pixels,
// and their shuffles into one register (see ScreenScaler::pairMasks_).
__attribute__((target("ssse3"))) void ScaleRowSsse3(const uint8_t* from, const int32_t* columns, uint32_t* to,
                                                    int32_t count, int32_t groups, int32_t last,
                                                    const uint8_t* masks) {
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xff000000u));
    for (int32_t g = 0; g < groups; ++g, columns += 4, to += 4, masks += 32) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + columns[0]));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + columns[2]));
        const __m128i pixels =
            _mm_or_si128(_mm_shuffle_epi8(low, _mm_loadu_si128(reinterpret_cast<const __m128i*>(masks))),
                         _mm_shuffle_epi8(high, _mm_loadu_si128(reinterpret_cast<const __m128i*>(masks + 16))));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_or_si128(pixels, opaque));
    }
    ScaleRowPortable(from, columns, to, count - 4 * groups, 0, last);
}
#endif

}  // namespace

void ScreenScaler::Prepare(int32_t width, int32_t height, int32_t targetWidth, int32_t targetHeight) {
    if (width == width_ && height == height_ && targetWidth == targetWidth_ && targetHeight == targetHeight_) return;
    width_ = width > 0 && targetWidth > 0 ? width : 0;
    height_ = height > 0 && targetHeight > 0 ? height : 0;
    targetWidth_ = width_ > 0 && height_ > 0 ? targetWidth : 0;
    targetHeight_ = width_ > 0 && height_ > 0 ? targetHeight : 0;
    columns_.resize(static_cast<std::size_t>(targetWidth_));
    rows_.resize(static_cast<std::size_t>(targetHeight_));
    for (int32_t x = 0; x < targetWidth_; ++x)
        columns_[x] = static_cast<int32_t>((int64_t{2} * x + 1) * width_ / (int64_t{2} * targetWidth_)) * 3;
    const int32_t last = (width_ - 1) * 3;
    innerColumns_ = static_cast<int32_t>(std::find(columns_.begin(), columns_.end(), last) - columns_.begin());
    for (int32_t y = 0; y < targetHeight_; ++y)
        rows_[y] = height_ - 1 - static_cast<int32_t>((int64_t{2} * y + 1) * height_ / (int64_t{2} * targetHeight_));
    PreparePairs();
}

void ScreenScaler::PreparePairs() {
    shuffledGroups_ = 0;
    pairMasks_.clear();
#ifdef VISTREL_SCREEN_PICTURE_SSSE3
    if (!HasPixelShuffle()) return;
    const int32_t rowBytes = width_ * 3;
    for (int32_t x = 0; x + 1 < targetWidth_; x += 2)
        if (columns_[x + 1] - columns_[x] > 13) return;  // more than 16 bytes for a pair: too small a window
    int32_t groups = 0;
    while (4 * groups + 3 < targetWidth_ && columns_[4 * groups + 2] + 16 <= rowBytes) ++groups;
    pairMasks_.assign(static_cast<std::size_t>(groups) * 32, 0x80);
    for (int32_t x = 0; x < 4 * groups; ++x) {
        // Column x's three bytes, from its pair's load, to its place among the four.
        const int32_t first = x & ~1;
        uint8_t* mask = pairMasks_.data() + static_cast<std::size_t>(x / 2) * 16;
        for (int32_t b = 0; b < 3; ++b) mask[(x % 4) * 4 + b] = static_cast<uint8_t>(columns_[x] - columns_[first] + b);
    }
    shuffledGroups_ = groups;
#endif
}

void ScreenScaler::Scale(const FrameRows& frame, uint8_t* destination, std::ptrdiff_t destinationStride) const {
    const std::ptrdiff_t rowBytes = std::ptrdiff_t{width_} * 3;
    const int32_t last = (width_ - 1) * 3;
    auto row = ScaleRowPortable;
#ifdef VISTREL_SCREEN_PICTURE_SSSE3
    if (HasWideVectors()) row = ScaleRowAvx2;
#endif
    for (int32_t y = 0; y < targetHeight_; ++y) {
        uint8_t* to = destination + y * destinationStride;
        // A line shown twice is copied from the one above.
        if (y > 0 && rows_[y] == rows_[y - 1]) {
            std::memcpy(to, to - destinationStride, static_cast<std::size_t>(targetWidth_) * 4);
            continue;
        }
        const uint8_t* from = frame.Row(rows_[y], rowBytes);
#ifdef VISTREL_SCREEN_PICTURE_SSSE3
        if (shuffledGroups_ > 0) {
            ScaleRowSsse3(from, columns_.data(), reinterpret_cast<uint32_t*>(to), targetWidth_, shuffledGroups_, last,
                          pairMasks_.data());
            continue;
        }
#endif
        row(from, columns_.data(), reinterpret_cast<uint32_t*>(to), targetWidth_, innerColumns_, last);
    }
}
