#pragma once

#include <cstddef>
#include <cstdint>

#include "video/detector_mask.h"
#include "video/frame_compare.h"

// The camera dialog's choices, with the numbers they are saved as
// ("VideoReflect", "VideoRotate").
enum class Reflect : int32_t { kNone = 0, kUpsideDown = 1, kMirror = 2 };
enum class Rotate : int32_t { kNone = 0, k90 = 1, k180 = 2, k270 = 3 };

// A saved value outside the offered choices means none.
Reflect ReflectFromSetting(intptr_t value);
Rotate RotateFromSetting(intptr_t value);
// 90° and 270° swap the picture's width and height.
inline bool SwapsSides(Rotate rotate) { return rotate == Rotate::k90 || rotate == Rotate::k270; }

// What one turn and reflection does, read from the destination picture:
// its rows are the source's columns (sideways) or rows, walked from the far
// end of the source's rows and/or columns.
struct PixelWalk {
    bool sideways;
    bool lastSourceRowFirst;
    bool lastSourceColumnFirst;
};
PixelWalk WalkOf(Reflect reflect, Rotate rotate);
// Walks that load a few bytes past a pixel need a copy of the source with
// room behind it; the others read the source where it lies.
inline bool NeedsPaddedSource(PixelWalk walk) { return walk.sideways || walk.lastSourceColumnFirst; }

// A source picture: the bottom row, the distance to the row above (negative
// walks a top-down picture), and its size in pixels.
struct SourceRows {
    const uint8_t* bottomRow;
    std::ptrdiff_t stride;
    int32_t width;
    int32_t height;
};

// Orients source into previous (and into out when writes names kWriteOut)
// and compares each destination row with what previous held, counting the
// bytes mask leaves open (null: all of them); with a grid, only its samples
// (see CompareThroughMask). scratch holds a strip of destination rows; a
// padded source lies end to end with slack behind it.
ByteChanges OrientAndCompare(PixelWalk walk, const SourceRows& source, const DetectorMask* mask,
                             uint8_t* scratch, uint8_t* out, uint8_t* previous, uint8_t* difference,
                             unsigned writes, const MotionGrid* grid = nullptr);
