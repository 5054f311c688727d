#include "video/screen_picture.h"

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

void FrameToScreenPixels(const uint8_t* frame, int32_t width, int32_t height, uint8_t* destination,
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
        row(frame + (height - 1 - y) * rowBytes, destination + y * destinationStride, width);
}
