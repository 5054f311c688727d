#pragma once

#include <cstddef>
#include <cstdint>

#include "video/detector_mask.h"

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

// What a comparison writes besides the previous picture: the picture into
// out, and the difference image.
inline constexpr unsigned kWriteOut = 1;
inline constexpr unsigned kWriteDifference = 2;
// Only copies the picture into previous (and into out when writes names
// kWriteOut): nothing is compared or counted, and difference is not touched.
inline constexpr unsigned kCopyOnly = 4;
// The general form: rows of picture lie pictureStride bytes apart (negative
// walks upwards), while out, previous and difference hold rows of rowBytes
// end to end; rowMask null counts every byte. out and difference are only
// touched when writes names them.
ByteChanges ComparePictureRows(const uint8_t* picture, std::ptrdiff_t pictureStride, uint8_t* out, uint8_t* previous,
                               uint8_t* difference, std::size_t rowBytes, int32_t rows, const uint8_t* rowMask,
                               unsigned writes);

// Compares destination rows [first, first + rows) of a picture whose mask
// is given in destination rows, read from picture on with pictureStride from
// row to row; only the bytes the mask leaves open count (null: all of them).
ByteChanges CompareThroughMask(const DetectorMask* mask, int32_t first, int32_t rows, std::size_t rowBytes,
                               const uint8_t* picture, std::ptrdiff_t pictureStride, uint8_t* out, uint8_t* previous,
                               uint8_t* difference, unsigned writes);

// Above 640 x 480 the motion level is measured on a grid of samples: every
// k-th pixel of every k-th line, counted from the top left pixel, with k the
// smallest step that leaves at most 640 x 480 samples (1 up to that size).
int32_t MotionGridStep(int32_t width, int32_t height);
// Takes the grid's samples of a bottom-up picture of width x height into
// (width / step) x (height / step) pixels, rows end to end and bottom-up too;
// samples has room for 4 bytes past the last pixel.
void TakeGridSamples(const uint8_t* picture, int32_t width, int32_t height, int32_t step, uint8_t* samples);

// Highest vector code the picture loops may use: 0 plain, 1 16-byte, 2 32-byte.
int FrameVectorLimit();
// True when 32-byte vectors are allowed and the processor has them.
bool HasWideVectors();
// True when 16-byte vectors are allowed and the processor has SSSE3 byte shuffles.
bool HasPixelShuffle();
// Tests run the plain (0), 16-byte (1) and 32-byte (2, the default) picture
// loops on one machine; each level is used only where the processor has it.
void LimitFrameVectorsForTest(int level);
