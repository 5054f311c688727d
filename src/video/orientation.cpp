#include "video/orientation.h"

#include <algorithm>
#include <cstring>

#include "video/frame.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <tmmintrin.h>
// Pixel reversal and quarter turns use SSSE3 byte shuffles where the
// processor has them, chosen at run time.
#define VISTREL_PIXEL_SHUFFLE 1
#include <immintrin.h>
// Quarter turns use 32-byte vectors where the processor has them.
#define VISTREL_WIDE_VECTORS 1
#endif

namespace {

// Destination rows turned together by a quarter turn: whole cache lines of
// every source row are used at once, and the strip is still cached when it
// is compared.
constexpr int32_t kStripRows = 128;

// Moves one pixel with a 4-byte copy; the extra byte lands on the next pixel
// of the destination row, which is written later.
inline void CopyPixelWide(uint8_t* to, const uint8_t* from) { std::memcpy(to, from, 4); }
inline void CopyPixel(uint8_t* to, const uint8_t* from) {
    to[0] = from[0];
    to[1] = from[1];
    to[2] = from[2];
}

// Writes the pixels of a row in reverse order.
void ReverseRowPlain(const uint8_t* from, uint8_t* to, int32_t width) {
    const uint8_t* last = from + (width - 1) * kFrameBytesPerPixel;
    for (int32_t x = 0; x + 1 < width; ++x) CopyPixelWide(to + x * 3, last - x * 3);
    CopyPixel(to + (width - 1) * 3, from);
}

// Moves the pixels of a quarter turn one at a time: destination rows
// [top, top + rows), columns [left, outWidth); strip holds row top.
void TurnPixelsPlain(const uint8_t* source, int32_t width, int32_t height, bool reverseColumns,
                     bool reverseRows, uint8_t* strip, int32_t top, int32_t rows, int32_t left) {
    const int32_t outWidth = height;
    const std::size_t inRowBytes = static_cast<std::size_t>(width) * kFrameBytesPerPixel;
    const std::size_t outRowBytes = static_cast<std::size_t>(outWidth) * kFrameBytesPerPixel;
    const std::ptrdiff_t step = reverseColumns ? -kFrameBytesPerPixel : kFrameBytesPerPixel;
    const int32_t firstColumn = reverseColumns ? width - 1 - top : top;
    for (int32_t dx = left; dx < outWidth; ++dx) {
        const int32_t sy = reverseRows ? height - 1 - dx : dx;
        const uint8_t* from = source + inRowBytes * sy + firstColumn * kFrameBytesPerPixel;
        uint8_t* to = strip + dx * kFrameBytesPerPixel;
        if (dx + 1 < outWidth) {
            for (int32_t r = 0; r < rows; ++r) CopyPixelWide(to + outRowBytes * r, from + step * r);
        } else {
            for (int32_t r = 0; r < rows; ++r) CopyPixel(to + outRowBytes * r, from + step * r);
        }
    }
}

#if defined(VISTREL_PIXEL_SHUFFLE)
// Byte shuffles for 16 pixels (48 bytes, three registers) turned end to end:
// kReverse[o][r] picks the bytes of output register o that input register r
// holds; -128 leaves a byte zero.
struct ReverseMasks {
    int8_t bytes[3][3][16];
};
constexpr ReverseMasks MakeReverseMasks() {
    ReverseMasks masks{};
    for (int o = 0; o < 3; ++o) {
        for (int r = 0; r < 3; ++r) {
            for (int b = 0; b < 16; ++b) {
                const int j = o * 16 + b;
                const int s = 3 * (15 - j / 3) + j % 3;
                masks.bytes[o][r][b] = static_cast<int8_t>(s / 16 == r ? s % 16 : -128);
            }
        }
    }
    return masks;
}
constexpr ReverseMasks kReverse = MakeReverseMasks();
// How many source rows ahead a quarter turn asks the cache for.
constexpr int32_t kPrefetchColumns = 16;

// The block turns read the strip's part of 4 source rows per step: the rows
// a few blocks ahead are asked for from the outer cache levels meanwhile.
__attribute__((always_inline)) inline void PrefetchAhead(const uint8_t* source, int32_t width, int32_t height,
                                                         bool reverseColumns, bool reverseRows, int32_t top,
                                                         int32_t rows, int32_t dx, int32_t columns) {
    if (dx + kPrefetchColumns >= columns) return;
    const std::size_t inRowBytes = static_cast<std::size_t>(width) * kFrameBytesPerPixel;
    const std::size_t first = static_cast<std::size_t>(reverseColumns ? width - top - rows : top) * 3;
    for (int32_t j = 0; j < 4; ++j) {
        const int32_t ahead = dx + kPrefetchColumns + j;
        const uint8_t* line = source + inRowBytes * (reverseRows ? height - 1 - ahead : ahead) + first;
        for (int32_t b = 0; b < rows * 3; b += 64)
            _mm_prefetch(reinterpret_cast<const char*>(line + b), _MM_HINT_T0);
    }
}

// Finds the 4 source rows of the block column at dx and asks for those a few
// blocks ahead; true when the output row has room for a 16-byte store.
__attribute__((always_inline)) inline bool StartBlock(const uint8_t* (&row)[4], const uint8_t* source, int32_t width,
                                                      int32_t height, bool reverseColumns, bool reverseRows,
                                                      int32_t top, int32_t rows, int32_t dx, int32_t columns) {
    const std::size_t inRowBytes = static_cast<std::size_t>(width) * kFrameBytesPerPixel;
    for (int32_t j = 0; j < 4; ++j) row[j] = source + inRowBytes * (reverseRows ? height - 1 - (dx + j) : dx + j);
    PrefetchAhead(source, width, height, reverseColumns, reverseRows, top, rows, dx, columns);
    return dx + 5 < height;  // the output row is height pixels wide
}

__attribute__((target("ssse3"))) inline __m128i Pick(__m128i v, int o, int r) {
    return _mm_shuffle_epi8(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kReverse.bytes[o][r])));
}

__attribute__((target("ssse3"))) void ReverseRowShuffled(const uint8_t* from, uint8_t* to, int32_t width) {
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const uint8_t* block = from + (width - x - 16) * kFrameBytesPerPixel;
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 32));
        uint8_t* dest = to + x * kFrameBytesPerPixel;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest), _mm_or_si128(Pick(b, 0, 1), Pick(c, 0, 2)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + 16),
                         _mm_or_si128(_mm_or_si128(Pick(a, 1, 0), Pick(b, 1, 1)), Pick(c, 1, 2)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + 32), _mm_or_si128(Pick(a, 2, 0), Pick(b, 2, 1)));
    }
    for (; x < width; ++x) CopyPixel(to + x * 3, from + (width - 1 - x) * 3);
}

// 4 pixels of one source row in 32-bit lanes.
__attribute__((target("ssse3"))) inline __m128i SpreadQuad(const uint8_t* pixels, __m128i spread) {
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels)), spread);
}

// Stores the 12 packed bytes of 4 pixels; a wide store also writes 4 bytes
// of the next two pixels of the row, which are written later.
__attribute__((target("ssse3"))) inline void StoreQuad(uint8_t* line, __m128i packed, bool wideStore) {
    if (wideStore) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(line), packed);
        return;
    }
    _mm_storel_epi64(reinterpret_cast<__m128i*>(line), packed);
    const int32_t tail = _mm_cvtsi128_si32(_mm_srli_si128(packed, 8));
    std::memcpy(line + 8, &tail, 4);
}

// Quarter turn in blocks of 4 x 4 pixels: each source row's 4 pixels are
// spread to 32-bit lanes, the lanes transposed, and packed back to 12 bytes.
__attribute__((target("ssse3"))) void TurnBlocksShuffled(const uint8_t* source, int32_t width, int32_t height,
                                                         bool reverseColumns, bool reverseRows,
                                                         uint8_t* strip, int32_t top, int32_t rows,
                                                         int32_t columns) {
    const int32_t outWidth = height;
    const std::size_t outRowBytes = static_cast<std::size_t>(outWidth) * kFrameBytesPerPixel;
    const __m128i spread = reverseColumns
                               ? _mm_setr_epi8(9, 10, 11, -128, 6, 7, 8, -128, 3, 4, 5, -128, 0, 1, 2, -128)
                               : _mm_setr_epi8(0, 1, 2, -128, 3, 4, 5, -128, 6, 7, 8, -128, 9, 10, 11, -128);
    const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -128, -128, -128, -128);
    for (int32_t dx = 0; dx < columns; dx += 4) {
        const uint8_t* row[4];
        const bool wideStore = StartBlock(row, source, width, height, reverseColumns, reverseRows, top, rows, dx, columns);
        for (int32_t dy = top; dy < top + rows; dy += 4) {
            const std::size_t column = static_cast<std::size_t>(reverseColumns ? width - 4 - dy : dy) * 3;
            const __m128i r0 = SpreadQuad(row[0] + column, spread);
            const __m128i r1 = SpreadQuad(row[1] + column, spread);
            const __m128i r2 = SpreadQuad(row[2] + column, spread);
            const __m128i r3 = SpreadQuad(row[3] + column, spread);
            const __m128i t0 = _mm_unpacklo_epi32(r0, r1);
            const __m128i t1 = _mm_unpacklo_epi32(r2, r3);
            const __m128i t2 = _mm_unpackhi_epi32(r0, r1);
            const __m128i t3 = _mm_unpackhi_epi32(r2, r3);
            uint8_t* to = strip + outRowBytes * (dy - top) + dx * kFrameBytesPerPixel;
            StoreQuad(to, _mm_shuffle_epi8(_mm_unpacklo_epi64(t0, t1), pack), wideStore);
            StoreQuad(to + outRowBytes, _mm_shuffle_epi8(_mm_unpackhi_epi64(t0, t1), pack), wideStore);
            StoreQuad(to + 2 * outRowBytes, _mm_shuffle_epi8(_mm_unpacklo_epi64(t2, t3), pack), wideStore);
            StoreQuad(to + 3 * outRowBytes, _mm_shuffle_epi8(_mm_unpackhi_epi64(t2, t3), pack), wideStore);
        }
    }
}

#if defined(VISTREL_WIDE_VECTORS)
// 8 pixels of one source row as two groups of 4 in 32-bit lanes.
__attribute__((target("avx2"))) inline __m256i Spread(const uint8_t* pixels, __m256i halves, __m256i spread) {
    const __m256i loaded = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels));
    return _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(loaded, halves), spread);
}

// Stores 12 bytes of each half into the destination row and the row 4 below.
__attribute__((target("avx2"))) inline void StoreLines(uint8_t* line, std::size_t rowBytes, __m256i packed,
                                                       bool wideStore) {
    const __m128i low = _mm256_castsi256_si128(packed);
    const __m128i high = _mm256_extracti128_si256(packed, 1);
    uint8_t* below = line + 4 * rowBytes;
    // The 4 bytes past the block belong to the next two pixels of the row, written later.
    if (wideStore) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(line), low);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(below), high);
        return;
    }
    _mm_storel_epi64(reinterpret_cast<__m128i*>(line), low);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(below), high);
    const int32_t lowTail = _mm_cvtsi128_si32(_mm_srli_si128(low, 8));
    const int32_t highTail = _mm_cvtsi128_si32(_mm_srli_si128(high, 8));
    std::memcpy(line + 8, &lowTail, 4);
    std::memcpy(below + 8, &highTail, 4);
}

// The quarter turn for two blocks of 4 x 4 pixels at once (destination rows
// dy..dy+3 in the low half of each register, dy+4..dy+7 in the high half).
__attribute__((target("avx2"))) void TurnBlocksWide(const uint8_t* source, int32_t width, int32_t height,
                                                    bool reverseColumns, bool reverseRows, uint8_t* strip,
                                                    int32_t top, int32_t rows, int32_t columns) {
    const int32_t outWidth = height;
    const std::size_t outRowBytes = static_cast<std::size_t>(outWidth) * kFrameBytesPerPixel;
    // Pixels 0-3 of the 8 loaded go to one half, pixels 4-7 to the other.
    const __m256i halves = reverseColumns ? _mm256_setr_epi32(3, 4, 5, 0, 0, 1, 2, 0)
                                          : _mm256_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0);
    const __m128i spread128 =
        reverseColumns ? _mm_setr_epi8(9, 10, 11, -128, 6, 7, 8, -128, 3, 4, 5, -128, 0, 1, 2, -128)
                       : _mm_setr_epi8(0, 1, 2, -128, 3, 4, 5, -128, 6, 7, 8, -128, 9, 10, 11, -128);
    const __m256i spread = _mm256_broadcastsi128_si256(spread128);
    const __m256i pack = _mm256_broadcastsi128_si256(
        _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -128, -128, -128, -128));
    for (int32_t dx = 0; dx < columns; dx += 4) {
        const uint8_t* row[4];
        const bool wideStore = StartBlock(row, source, width, height, reverseColumns, reverseRows, top, rows, dx, columns);
        for (int32_t dy = top; dy < top + rows; dy += 8) {
            const std::size_t column = static_cast<std::size_t>(reverseColumns ? width - 8 - dy : dy) * 3;
            const __m256i r0 = Spread(row[0] + column, halves, spread);
            const __m256i r1 = Spread(row[1] + column, halves, spread);
            const __m256i r2 = Spread(row[2] + column, halves, spread);
            const __m256i r3 = Spread(row[3] + column, halves, spread);
            const __m256i t0 = _mm256_unpacklo_epi32(r0, r1);
            const __m256i t1 = _mm256_unpacklo_epi32(r2, r3);
            const __m256i t2 = _mm256_unpackhi_epi32(r0, r1);
            const __m256i t3 = _mm256_unpackhi_epi32(r2, r3);
            uint8_t* to = strip + outRowBytes * (dy - top) + dx * kFrameBytesPerPixel;
            StoreLines(to, outRowBytes, _mm256_shuffle_epi8(_mm256_unpacklo_epi64(t0, t1), pack), wideStore);
            StoreLines(to + outRowBytes, outRowBytes,
                       _mm256_shuffle_epi8(_mm256_unpackhi_epi64(t0, t1), pack), wideStore);
            StoreLines(to + 2 * outRowBytes, outRowBytes,
                       _mm256_shuffle_epi8(_mm256_unpacklo_epi64(t2, t3), pack), wideStore);
            StoreLines(to + 3 * outRowBytes, outRowBytes,
                       _mm256_shuffle_epi8(_mm256_unpackhi_epi64(t2, t3), pack), wideStore);
        }
    }
}
#endif
#endif

void ReverseRow(const uint8_t* from, uint8_t* to, int32_t width) {
#if defined(VISTREL_PIXEL_SHUFFLE)
    if (HasPixelShuffle()) return ReverseRowShuffled(from, to, width);
#endif
    ReverseRowPlain(from, to, width);
}

// Half-turn family: every destination row is one source row, optionally
// taken from the other end and optionally with its pixels reversed.
// A row is reversed into out when out is written, else into scratch.
ByteChanges OrientRows(const SourceRows& in, const DetectorMask* mask, bool reverseRows, bool reversePixels,
                       uint8_t* scratch, uint8_t* out, uint8_t* previous, uint8_t* difference,
                       unsigned writes, const MotionGrid* grid) {
    const std::size_t rowBytes = static_cast<std::size_t>(in.width) * kFrameBytesPerPixel;
    if (!reversePixels) {
        if (!reverseRows)
            return CompareThroughMask(mask, 0, in.height, rowBytes, in.bottomRow, in.stride, out, previous,
                                      difference, writes, grid);
        return CompareThroughMask(mask, 0, in.height, rowBytes, in.bottomRow + in.stride * (in.height - 1),
                                  -in.stride, out, previous, difference, writes, grid);
    }
    ByteChanges found;
    for (int32_t y = 0; y < in.height; ++y) {
        const uint8_t* from = in.bottomRow + in.stride * (reverseRows ? in.height - 1 - y : y);
        const std::size_t at = rowBytes * y;
        uint8_t* reversed = (writes & kWriteOut) != 0 ? out + at : scratch;
        ReverseRow(from, reversed, in.width);
        found += CompareThroughMask(mask, y, 1, rowBytes, reversed, static_cast<std::ptrdiff_t>(rowBytes),
                                    out + at, previous + at, difference + at, writes & ~kWriteOut, grid);
    }
    return found;
}

// Quarter-turn family: destination pixel (dx, dy) is source pixel
// (dy or W-1-dy, dx or H-1-dx). Works in strips of destination rows, each
// compared while it is still in the cache. The source rows lie end to end,
// with room behind the last (see Measure).
ByteChanges OrientColumns(const SourceRows& in, const DetectorMask* mask, bool reverseColumns,
                          bool reverseRows, uint8_t* scratch, uint8_t* out, uint8_t* previous,
                          uint8_t* difference, unsigned writes, const MotionGrid* grid) {
    const int32_t outWidth = in.height;
    const int32_t outHeight = in.width;
    const std::size_t outRowBytes = static_cast<std::size_t>(outWidth) * kFrameBytesPerPixel;
    ByteChanges found;
    for (int32_t top = 0; top < outHeight; top += kStripRows) {
        const int32_t rows = std::min(kStripRows, outHeight - top);
        int32_t blockRows = 0;
        int32_t blockColumns = 0;
#if defined(VISTREL_PIXEL_SHUFFLE)
        if (HasPixelShuffle()) {
            blockColumns = outWidth & ~3;
#if defined(VISTREL_WIDE_VECTORS)
            if (HasWideVectors()) {
                blockRows = rows & ~7;
                TurnBlocksWide(in.bottomRow, in.width, in.height, reverseColumns, reverseRows, scratch, top,
                               blockRows, blockColumns);
            }
#endif
            const int32_t quads = (rows - blockRows) & ~3;
            if (quads > 0)
                TurnBlocksShuffled(in.bottomRow, in.width, in.height, reverseColumns, reverseRows,
                                   scratch + outRowBytes * blockRows, top + blockRows, quads, blockColumns);
            blockRows += quads;
        }
#endif
        // Whatever the blocks leave: the right edge, then the bottom rows.
        if (blockColumns < outWidth)
            TurnPixelsPlain(in.bottomRow, in.width, in.height, reverseColumns, reverseRows, scratch, top,
                            blockRows, blockColumns);
        if (blockRows < rows)
            TurnPixelsPlain(in.bottomRow, in.width, in.height, reverseColumns, reverseRows,
                            scratch + outRowBytes * blockRows, top + blockRows, rows - blockRows, 0);
        const std::size_t at = outRowBytes * top;
        found += CompareThroughMask(mask, top, rows, outRowBytes, scratch,
                                    static_cast<std::ptrdiff_t>(outRowBytes), out + at, previous + at,
                                    difference + at, writes, grid);
    }
    return found;
}

}  // namespace

Reflect ReflectFromSetting(intptr_t value) {
    return value == 1 || value == 2 ? static_cast<Reflect>(value) : Reflect::kNone;
}

Rotate RotateFromSetting(intptr_t value) {
    return value >= 0 && value <= 3 ? static_cast<Rotate>(value) : Rotate::kNone;
}

PixelWalk WalkOf(Reflect reflect, Rotate rotate) {
    // [rotate][reflect]: a reflection is applied to the source, then the turn.
    static constexpr PixelWalk kWalks[4][3] = {
        //  none                  upside down            mirror
        {{false, false, false}, {false, true, false}, {false, false, true}},  // none
        {{true, true, false}, {true, false, false}, {true, true, true}},      // 90°
        {{false, true, true}, {false, false, true}, {false, true, false}},    // 180°
        {{true, false, true}, {true, true, true}, {true, false, false}},      // 270°
    };
    return kWalks[static_cast<int>(rotate)][static_cast<int>(reflect)];
}

ByteChanges OrientAndCompare(PixelWalk walk, const SourceRows& source, const DetectorMask* mask,
                             uint8_t* scratch, uint8_t* out, uint8_t* previous, uint8_t* difference,
                             unsigned writes, const MotionGrid* grid) {
    if (walk.sideways)
        return OrientColumns(source, mask, walk.lastSourceColumnFirst, walk.lastSourceRowFirst, scratch, out,
                             previous, difference, writes, grid);
    return OrientRows(source, mask, walk.lastSourceRowFirst, walk.lastSourceColumnFirst, scratch, out,
                      previous, difference, writes, grid);
}
