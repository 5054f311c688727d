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

// Highest vector code the picture loops may use: 0 plain, 1 16-byte, 2 32-byte.
int FrameVectorLimit();
// True when 32-byte vectors are allowed and the processor has them.
bool HasWideVectors();
