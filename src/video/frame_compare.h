#pragma once

#include <cstddef>
#include <cstdint>

// What one comparison of picture bytes with the previous picture found: the
// sum of the byte differences above the noise limit, and how many bytes had one.
struct ByteChanges {
    uint64_t sum = 0;
    uint64_t changed = 0;
    ByteChanges& operator+=(const ByteChanges& other) {
        sum += other.sum;
        changed += other.changed;
        return *this;
    }
};

// Only byte differences above this count toward the motion level.
inline constexpr uint32_t kNoiseLimit = 6;

// Compares count picture bytes with previous: writes the difference image
// (255 - |a - b|), copies the picture into previous (and into out when
// copyOut; otherwise out is the picture itself) and counts the differences.
ByteChanges CompareBytes(const uint8_t* picture, uint8_t* out, uint8_t* previous, uint8_t* difference,
                         std::size_t count, bool copyOut);
// The same over rows of rowBytes laid end to end, counting only the bytes
// whose byte in rowMask (one row, 0xFF counted, 0 not) is set. Every byte is
// still compared, copied and written into the difference image.
ByteChanges CompareMaskedRows(const uint8_t* picture, uint8_t* out, uint8_t* previous, uint8_t* difference,
                              std::size_t rowBytes, int32_t rows, const uint8_t* rowMask, bool copyOut);

// What a comparison writes besides the previous picture: the picture into
// out, and the difference image.
inline constexpr unsigned kWriteOut = 1;
inline constexpr unsigned kWriteDifference = 2;
// The general form: rows of picture lie pictureStride bytes apart (negative
// walks upwards), while out, previous and difference hold rows of rowBytes
// end to end; rowMask null counts every byte. out and difference are only
// touched when writes names them.
ByteChanges ComparePictureRows(const uint8_t* picture, std::ptrdiff_t pictureStride, uint8_t* out, uint8_t* previous,
                               uint8_t* difference, std::size_t rowBytes, int32_t rows, const uint8_t* rowMask,
                               unsigned writes);

// Highest vector code the picture loops may use: 0 plain, 1 16-byte, 2 32-byte.
int FrameVectorLimit();
// True when 32-byte vectors are allowed and the processor has them.
bool HasWideVectors();
// True when 16-byte vectors are allowed and the processor has SSSE3 byte shuffles.
bool HasPixelShuffle();
