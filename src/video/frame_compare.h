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
// On a motion grid: previous keeps only the grid's lines, the others are not
// copied (the picture is not wanted, only its level).
inline constexpr unsigned kWriteGridLinesOnly = 4;
// The general form: rows of picture lie pictureStride bytes apart (negative
// walks upwards), while out, previous and difference hold rows of rowBytes
// end to end; rowMask null counts every byte. out and difference are only
// touched when writes names them.
ByteChanges ComparePictureRows(const uint8_t* picture, std::ptrdiff_t pictureStride, uint8_t* out, uint8_t* previous,
                               uint8_t* difference, std::size_t rowBytes, int32_t rows, const uint8_t* rowMask,
                               unsigned writes);

// The motion grid of a picture above 640 x 480 (see MotionGridStep): of its
// lines only every step-th from the top is compared, every byte of it; the
// other lines are only copied. A compared line's difference goes to the
// grid's difference image (the picture's width by rows lines, bottom-up).
struct MotionGrid {
    int32_t step = 1;
    int32_t pictureHeight = 0;
    int32_t rows = 0;
    uint8_t* difference = nullptr;
};

// Compares destination rows [first, first + rows) of a picture whose mask
// is given in destination rows, read from picture on with pictureStride from
// row to row; only the bytes the mask leaves open count (null: all of them).
// With a grid, only its lines are compared and counted, and difference is
// not used (the grid's own image is written instead).
ByteChanges CompareThroughMask(const DetectorMask* mask, int32_t first, int32_t rows, std::size_t rowBytes,
                               const uint8_t* picture, std::ptrdiff_t pictureStride, uint8_t* out, uint8_t* previous,
                               uint8_t* difference, unsigned writes, const MotionGrid* grid = nullptr);

// Above 640 x 480 the motion level is measured on a grid of lines: every
// pixel of every k-th line, counted from the top, with k the smallest step
// that leaves at most 640 x 480 samples (1 up to that size). Whole lines
// cost the least memory traffic: only the lines compared are ever read.
int32_t MotionGridStep(int32_t width, int32_t height);

// Highest vector code the picture loops may use: 0 plain, 1 16-byte, 2 32-byte.
int FrameVectorLimit();
// True when 32-byte vectors are allowed and the processor has them.
bool HasWideVectors();
// True when 16-byte vectors are allowed and the processor has SSSE3 byte shuffles.
bool HasPixelShuffle();
// Tests run the plain (0), 16-byte (1) and 32-byte (2, the default) picture
// loops on one machine; each level is used only where the processor has it.
void LimitFrameVectorsForTest(int level);
