#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A Frame whose first bandRows rows (the bottom of the picture) are read
// from band and the others from frame: the window stamps a copy of the rows
// the date goes into and shows the rest where it lies.
struct FrameRows {
    const uint8_t* frame = nullptr;
    const uint8_t* band = nullptr;
    int32_t bandRows = 0;
    const uint8_t* Row(int32_t row, std::ptrdiff_t rowBytes) const {
        return (row < bandRows ? band : frame) + row * rowBytes;
    }
};

// Turns a Frame (24-bit blue-green-red, rows bottom-up) into the 32-bit
// 0xffRRGGBB pixels, rows top-down, that screens and window systems take, so
// the window can draw it with a plain copy instead of a mirrored, converting
// draw every frame. `destinationStride` is the distance in bytes between the
// starts of two rows of the destination (at least width * 4).
void FrameToScreenPixels(const FrameRows& frame, int32_t width, int32_t height, uint8_t* destination,
                         std::ptrdiff_t destinationStride);
inline void FrameToScreenPixels(const uint8_t* frame, int32_t width, int32_t height, uint8_t* destination,
                                std::ptrdiff_t destinationStride) {
    FrameToScreenPixels(FrameRows{frame}, width, height, destination, destinationStride);
}

// Scales a Frame to the size it is shown at (each screen pixel takes the
// frame's pixel nearest to its centre) while turning it into screen pixels
// as FrameToScreenPixels does: one pass per frame, into a buffer of the
// shown size. The pixel tables are made when a size changes; Scale itself
// allocates nothing.
class ScreenScaler {
public:
    // Sizes the tables for a frame of width x height shown at targetWidth x
    // targetHeight; does nothing when they are that size already.
    void Prepare(int32_t width, int32_t height, int32_t targetWidth, int32_t targetHeight);
    // A frame of the prepared size into targetHeight rows of targetWidth pixels.
    void Scale(const FrameRows& frame, uint8_t* destination, std::ptrdiff_t destinationStride) const;
    void Scale(const uint8_t* frame, uint8_t* destination, std::ptrdiff_t destinationStride) const {
        Scale(FrameRows{frame}, destination, destinationStride);
    }

private:
    void PreparePairs();

    int32_t width_ = 0;
    int32_t height_ = 0;
    int32_t targetWidth_ = 0;
    int32_t targetHeight_ = 0;
    // The frame's byte within its row for each shown column, and its row in
    // memory for each shown line, top line first.
    std::vector<int32_t> columns_;
    std::vector<int32_t> rows_;
    // The leading columns whose pixel is not the last of its row.
    int32_t innerColumns_ = 0;
    // Where no two neighbouring shown columns are more than four frame pixels
    // apart, four columns at a time are taken by two 16-byte loads, each
    // holding two of them, and two byte shuffles: their masks, two per four
    // columns, for the leading groups whose loads stay within the row.
    std::vector<uint8_t> pairMasks_;
    int32_t shuffledGroups_ = 0;
};
