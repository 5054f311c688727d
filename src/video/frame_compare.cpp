#include "video/frame_compare.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "video/frame.h"


#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
// The byte comparison uses 32-byte vectors where the processor has them.
#define VISTREL_WIDE_VECTORS 1
#endif

namespace {

std::atomic<int> vectorLimit{2};
// Vector rounds whose changed-byte counts a byte lane holds without overflowing.
constexpr std::size_t kLaneRounds = 255;

// The comparison one byte at a time; with kMasked only bytes whose mask byte
// is set count.
template <bool kCopyOut, bool kMasked, bool kDifference>
ByteChanges ComparePlain(const uint8_t* picture, uint8_t* out, uint8_t* previous, uint8_t* difference,
                         std::size_t count, const uint8_t* mask) {
    ByteChanges found;
    for (std::size_t i = 0; i < count; ++i) {
        const uint8_t a = picture[i];
        const uint8_t b = previous[i];
        const uint32_t d = a > b ? a - b : b - a;
        if constexpr (kDifference) difference[i] = static_cast<uint8_t>(255 - d);
        if constexpr (kCopyOut) out[i] = a;
        previous[i] = a;
        if constexpr (kMasked) {
            if (mask[i] == 0) continue;
        }
        if (d > kNoiseLimit) {
            found.sum += d;
            ++found.changed;
        }
    }
    return found;
}

// The plain comparison of the bytes a vector loop leaves at the end of a row.
template <bool kCopyOut, bool kMasked, bool kDifference>
ByteChanges CompareTail(const uint8_t* picture, uint8_t* out, uint8_t* previous, uint8_t* difference,
                        std::size_t from, std::size_t count, const uint8_t* mask) {
    if (from == count) return {};
    return ComparePlain<kCopyOut, kMasked, kDifference>(picture + from, out + from, previous + from,
                                                        difference + from, count - from,
                                                        kMasked ? mask + from : nullptr);
}

#if defined(__SSE2__)
// The same comparison 16 bytes at a time, row by row.
template <bool kCopyOut, bool kMasked, bool kDifference>
ByteChanges CompareSse2(const uint8_t* picture, uint8_t* out, uint8_t* previous, uint8_t* difference,
                        std::size_t rowBytes, int32_t rows, const uint8_t* mask, std::ptrdiff_t pictureStride) {
    const __m128i ones = _mm_set1_epi8(static_cast<char>(0xFF));
    const __m128i limit = _mm_set1_epi8(static_cast<char>(kNoiseLimit + 1));
    const __m128i zero = _mm_setzero_si128();
    __m128i total = _mm_setzero_si128();
    __m128i changed = _mm_setzero_si128();
    ByteChanges tails;
    for (int32_t row = 0; row < rows; ++row) {
        const std::size_t at = rowBytes * static_cast<std::size_t>(row);
        const uint8_t* p = picture + pictureStride * row;
        uint8_t* o = out + at;
        uint8_t* v = previous + at;
        uint8_t* f = difference + at;
        std::size_t i = 0;
        while (i + 16 <= rowBytes) {
            // Changed bytes are counted in byte lanes, emptied before they can overflow.
            const std::size_t stop = std::min(rowBytes & ~std::size_t{15}, i + kLaneRounds * 16);
            __m128i counts = _mm_setzero_si128();
            for (; i < stop; i += 16) {
                const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
                const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i));
                const __m128i d = _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
                if constexpr (kDifference)
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(f + i), _mm_xor_si128(d, ones));
                if constexpr (kCopyOut) _mm_storeu_si128(reinterpret_cast<__m128i*>(o + i), a);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(v + i), a);
                // Bytes below the limit are masked out before the sum of absolute values.
                __m128i over = _mm_cmpeq_epi8(_mm_max_epu8(d, limit), d);
                if constexpr (kMasked)
                    over = _mm_and_si128(over, _mm_loadu_si128(reinterpret_cast<const __m128i*>(mask + i)));
                total = _mm_add_epi64(total, _mm_sad_epu8(_mm_and_si128(d, over), zero));
                counts = _mm_sub_epi8(counts, over);
            }
            changed = _mm_add_epi64(changed, _mm_sad_epu8(counts, zero));
        }
        tails += CompareTail<kCopyOut, kMasked, kDifference>(p, o, v, f, i, rowBytes, mask);
    }
    uint64_t halves[4];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(halves), total);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(halves + 2), changed);
    tails += ByteChanges{halves[0] + halves[1], halves[2] + halves[3]};
    return tails;
}
#endif

#if defined(VISTREL_WIDE_VECTORS)
// The same comparison 32 bytes at a time.
template <bool kCopyOut, bool kMasked, bool kDifference>
__attribute__((target("avx2"))) ByteChanges CompareWide(const uint8_t* picture, uint8_t* out,
                                                        uint8_t* previous, uint8_t* difference,
                                                        std::size_t rowBytes, int32_t rows,
                                                        const uint8_t* mask, std::ptrdiff_t pictureStride) {
    const __m256i ones = _mm256_set1_epi8(static_cast<char>(0xFF));
    const __m256i limit = _mm256_set1_epi8(static_cast<char>(kNoiseLimit + 1));
    const __m256i zero = _mm256_setzero_si256();
    __m256i total = _mm256_setzero_si256();
    __m256i changed = _mm256_setzero_si256();
    ByteChanges tails;
    for (int32_t row = 0; row < rows; ++row) {
        const std::size_t at = rowBytes * static_cast<std::size_t>(row);
        const uint8_t* p = picture + pictureStride * row;
        uint8_t* o = out + at;
        uint8_t* v = previous + at;
        uint8_t* f = difference + at;
        std::size_t i = 0;
        while (i + 32 <= rowBytes) {
            const std::size_t stop = std::min(rowBytes & ~std::size_t{31}, i + kLaneRounds * 32);
            __m256i counts = _mm256_setzero_si256();
            for (; i < stop; i += 32) {
                // Rows that do not follow each other in memory defeat the processor's own
                // prefetching: the picture's row after next is asked for while this one is read.
                if (pictureStride != static_cast<std::ptrdiff_t>(rowBytes))
                    _mm_prefetch(reinterpret_cast<const char*>(p + 2 * pictureStride + i), _MM_HINT_T0);
                const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
                const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + i));
                const __m256i d = _mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a));
                if constexpr (kDifference)
                    _mm256_storeu_si256(reinterpret_cast<__m256i*>(f + i), _mm256_xor_si256(d, ones));
                if constexpr (kCopyOut) _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + i), a);
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(v + i), a);
                __m256i over = _mm256_cmpeq_epi8(_mm256_max_epu8(d, limit), d);
                if constexpr (kMasked)
                    over = _mm256_and_si256(over,
                                            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(mask + i)));
                total = _mm256_add_epi64(total, _mm256_sad_epu8(_mm256_and_si256(d, over), zero));
                counts = _mm256_sub_epi8(counts, over);
            }
            changed = _mm256_add_epi64(changed, _mm256_sad_epu8(counts, zero));
        }
        tails += CompareTail<kCopyOut, kMasked, kDifference>(p, o, v, f, i, rowBytes, mask);
    }
    uint64_t quarters[8];
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(quarters), total);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(quarters + 4), changed);
    tails += ByteChanges{quarters[0] + quarters[1] + quarters[2] + quarters[3],
                         quarters[4] + quarters[5] + quarters[6] + quarters[7]};
    return tails;
}
#endif

template <bool kCopyOut, bool kMasked, bool kDifference>
ByteChanges CompareWithWidestLoop(const uint8_t* picture, std::ptrdiff_t pictureStride, uint8_t* out, uint8_t* previous,
                        uint8_t* difference, std::size_t rowBytes, int32_t rows, const uint8_t* mask) {
#if defined(VISTREL_WIDE_VECTORS)
    if (HasWideVectors())
        return CompareWide<kCopyOut, kMasked, kDifference>(picture, out, previous, difference, rowBytes, rows, mask,
                                                           pictureStride);
#endif
#if defined(__SSE2__)
    if (FrameVectorLimit() >= 1)
        return CompareSse2<kCopyOut, kMasked, kDifference>(picture, out, previous, difference, rowBytes, rows, mask,
                                                           pictureStride);
#endif
    ByteChanges found;
    for (int32_t row = 0; row < rows; ++row) {
        const std::size_t at = rowBytes * static_cast<std::size_t>(row);
        found += ComparePlain<kCopyOut, kMasked, kDifference>(picture + pictureStride * row, out + at, previous + at,
                                                              difference + at, rowBytes, mask);
    }
    return found;
}

template <bool kMasked>
ByteChanges CompareRowsFor(const uint8_t* picture, std::ptrdiff_t pictureStride, uint8_t* out, uint8_t* previous,
                           uint8_t* difference, std::size_t rowBytes, int32_t rows, const uint8_t* mask,
                           unsigned writes) {
    const bool copyOut = (writes & kWriteOut) != 0;
    if ((writes & kWriteDifference) != 0) {
        if (copyOut)
            return CompareWithWidestLoop<true, kMasked, true>(picture, pictureStride, out, previous, difference, rowBytes,
                                                    rows, mask);
        return CompareWithWidestLoop<false, kMasked, true>(picture, pictureStride, out, previous, difference, rowBytes, rows,
                                                 mask);
    }
    if (copyOut)
        return CompareWithWidestLoop<true, kMasked, false>(picture, pictureStride, out, previous, difference, rowBytes, rows,
                                                 mask);
    return CompareWithWidestLoop<false, kMasked, false>(picture, pictureStride, out, previous, difference, rowBytes, rows,
                                              mask);
}

}  // namespace

ByteChanges ComparePictureRows(const uint8_t* picture, std::ptrdiff_t pictureStride, uint8_t* out, uint8_t* previous,
                               uint8_t* difference, std::size_t rowBytes, int32_t rows, const uint8_t* rowMask,
                               unsigned writes) {
    if (rowMask)
        return CompareRowsFor<true>(picture, pictureStride, out, previous, difference, rowBytes, rows, rowMask,
                                    writes);
    return CompareRowsFor<false>(picture, pictureStride, out, previous, difference, rowBytes, rows, nullptr, writes);
}

namespace {

// Copies rows that are not compared.
void CopyRows(const uint8_t* picture, std::ptrdiff_t pictureStride, uint8_t* out, uint8_t* previous,
              std::size_t rowBytes, int32_t rows, unsigned writes) {
    // Rows that follow each other in memory are copied as one run.
    if (pictureStride == static_cast<std::ptrdiff_t>(rowBytes)) {
        rowBytes *= static_cast<std::size_t>(rows);
        rows = 1;
    }
    for (int32_t row = 0; row < rows; ++row) {
        const uint8_t* from = picture + pictureStride * row;
        const std::size_t at = rowBytes * static_cast<std::size_t>(row);
        std::memcpy(previous + at, from, rowBytes);
        if ((writes & kWriteOut) != 0 && out != previous) std::memcpy(out + at, from, rowBytes);
    }
}

// The grid's lines of rows [first, first + rows) are compared, with the copy
// of the picture fused, while the rest are only copied (or, lines only, left).
ByteChanges CompareGridLines(const MotionGrid& grid, const DetectorMask* mask, int32_t first, int32_t rows,
                             std::size_t rowBytes, const uint8_t* picture, std::ptrdiff_t pictureStride, uint8_t* out,
                             uint8_t* previous, unsigned writes) {
    ByteChanges counted;
    const unsigned compareWrites = writes & (kWriteOut | kWriteDifference);
    for (int32_t row = first; row < first + rows;) {
        // The rows up to the next grid line are only copied, in one go.
        const int32_t fromTop = grid.pictureHeight - 1 - row;
        const int32_t gridLine = fromTop / grid.step;
        // Below the grid's last line (the lines the division leaves over) up to it.
        const int32_t offGrid =
            gridLine >= grid.rows ? fromTop - (grid.rows - 1) * grid.step : fromTop % grid.step;
        const std::size_t at = rowBytes * static_cast<std::size_t>(row - first);
        const uint8_t* from = picture + pictureStride * (row - first);
        if (offGrid > 0) {
            const int32_t run = std::min(offGrid, first + rows - row);
            if ((writes & kWriteGridLinesOnly) == 0)
                CopyRows(from, pictureStride, out + at, previous + at, rowBytes, run, writes);
            row += run;
            continue;
        }
        const uint8_t* open = nullptr;
        bool counts = true;
        if (mask) {
            const DetectorMask::Band& band = mask->BandAt(mask->BandOfRow(row));
            if (band.kind == DetectorMask::BandKind::kMixed) open = band.rowMask;
            counts = band.kind != DetectorMask::BandKind::kClosed;
        }
        uint8_t* lineDifference = grid.difference + static_cast<std::size_t>(grid.rows - 1 - gridLine) * rowBytes;
        // One line, with the distance to the next grid line as its stride: the
        // wide loop asks for the grid line after next while it reads this one.
        const ByteChanges found = ComparePictureRows(from, pictureStride * grid.step, out + at, previous + at,
                                                     lineDifference, rowBytes, 1, open, compareWrites);
        if (counts) counted += found;
        ++row;
    }
    return counted;
}

}  // namespace

ByteChanges CompareThroughMask(const DetectorMask* mask, int32_t first, int32_t rows, std::size_t rowBytes,
                               const uint8_t* picture, std::ptrdiff_t pictureStride, uint8_t* out, uint8_t* previous,
                               uint8_t* difference, unsigned writes, const MotionGrid* grid) {
    if (grid && grid->step > 1)
        return CompareGridLines(*grid, mask, first, rows, rowBytes, picture, pictureStride, out, previous, writes);
    // Rows that follow each other in memory are compared as one run.
    const bool endToEnd = pictureStride == static_cast<std::ptrdiff_t>(rowBytes);
    if (!mask) {
        if (endToEnd)
            return ComparePictureRows(picture, 0, out, previous, difference, rowBytes * rows, 1, nullptr, writes);
        return ComparePictureRows(picture, pictureStride, out, previous, difference, rowBytes, rows, nullptr, writes);
    }
    ByteChanges counted;
    for (int32_t row = first; row < first + rows;) {
        const DetectorMask::Band& band = mask->BandAt(mask->BandOfRow(row));
        const int32_t run = std::min(first + rows, band.firstRow + band.rows) - row;
        const std::size_t at = rowBytes * static_cast<std::size_t>(row - first);
        const uint8_t* from = picture + pictureStride * (row - first);
        if (band.kind == DetectorMask::BandKind::kMixed) {
            counted += ComparePictureRows(from, pictureStride, out + at, previous + at, difference + at, rowBytes,
                                          run, band.rowMask, writes);
        } else {
            const ByteChanges found =
                endToEnd ? ComparePictureRows(from, 0, out + at, previous + at, difference + at, rowBytes * run, 1,
                                              nullptr, writes)
                         : ComparePictureRows(from, pictureStride, out + at, previous + at, difference + at, rowBytes,
                                              run, nullptr, writes);
            if (band.kind == DetectorMask::BandKind::kOpen) counted += found;
        }
        row += run;
    }
    return counted;
}

int32_t MotionGridStep(int32_t width, int32_t height) {
    constexpr int64_t kMostSamples = int64_t{kFrameMaxWidth} * kFrameMaxHeight;
    int32_t step = 1;
    while (int64_t{width} * (height / step) > kMostSamples) ++step;
    return step;
}

int FrameVectorLimit() { return vectorLimit.load(std::memory_order_relaxed); }

bool HasWideVectors() {
#if defined(VISTREL_WIDE_VECTORS)
    static const bool has = __builtin_cpu_supports("avx2");
    return has && FrameVectorLimit() >= 2;
#else
    return false;
#endif
}

bool HasPixelShuffle() {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool has = __builtin_cpu_supports("ssse3");
    return has && FrameVectorLimit() >= 1;
#else
    return false;
#endif
}

void LimitFrameVectorsForTest(int level) { vectorLimit.store(level, std::memory_order_relaxed); }
