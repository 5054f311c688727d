#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

// A rectangle of the oriented picture as the user sees it: x from the left
// edge, y down from the top line.
struct MaskRect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool Contains(int32_t px, int32_t py) const {
        return px >= x && px < x + width && py >= y && py < y + height;
    }
};

// The areas the motion detector ignores ("DetectorMask": "x,y,w,h;x,y,w,h"),
// held for one oriented picture size, with the rows of the bottom-up frame
// grouped into bands that the comparison walks. Everything is sized at
// construction; loading and editing allocate nothing but the text.
class DetectorMask {
public:
    static constexpr int kMaxRects = 16;
    // Distinct row edges of 16 rectangles cut the picture into at most 33 bands.
    static constexpr int kMaxBands = 2 * kMaxRects + 1;
    enum class BandKind : uint8_t {
        kOpen,    // nothing masked: every byte counts
        kMixed,   // rowMask marks the counted bytes
        kClosed,  // all masked: nothing counts
    };
    // Rows [firstRow, firstRow + rows) in memory order (row 0 is the bottom line).
    struct Band {
        int32_t firstRow = 0;
        int32_t rows = 0;
        BandKind kind = BandKind::kOpen;
        const uint8_t* rowMask = nullptr;  // kMixed: one row of bytes, 0xFF counted, 0 not
    };

    DetectorMask();
    DetectorMask(const DetectorMask&) = delete;
    DetectorMask& operator=(const DetectorMask&) = delete;

    // Reads the setting's text for a picture of width x height: entries that
    // are not four numbers, are empty, lie partly outside the picture or come
    // after the 16th are dropped, with one line on stderr. A picture larger
    // than 640 x 480 (480 x 640 upright) keeps the text in that frame of
    // reference, scaled to the picture, so that the areas keep their place
    // at every size; a smaller one keeps it in its own pixels.
    void Load(const char* text, int32_t width, int32_t height);
    // False when the rectangle is empty, not inside the picture, or 16 are held.
    bool Add(const MaskRect& rect);
    // Removes the newest rectangle holding the point; false when none does.
    bool RemoveAt(int32_t x, int32_t y);
    void Clear();
    // Takes the rectangles and size of another mask; allocates nothing.
    void CopyFrom(const DetectorMask& other);
    // The setting's text of the rectangles held, in the frame of reference.
    std::string Text() const;

    bool Empty() const { return count_ == 0; }
    int Count() const { return count_; }
    const MaskRect& Rect(int index) const { return rects_[index]; }
    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    // Bytes of the frame that the rectangles cover (overlaps counted once).
    int64_t MaskedBytes() const { return maskedBytes_; }
    int BandCount() const { return bandCount_; }
    const Band& BandAt(int index) const { return bands_[index]; }
    // The band that holds a row in memory order.
    int BandOfRow(int32_t row) const;

private:
    void Rebuild();
    void FillRowMask(int32_t firstRow, uint8_t* rowMask, int32_t& maskedColumns) const;
    // The picture's rectangle for one of the frame of reference, and back.
    MaskRect FromReference(const MaskRect& rect) const;
    MaskRect ToReference(const MaskRect& rect) const;

    std::array<MaskRect, kMaxRects> rects_{};
    int count_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
    // The frame of reference of the setting's text.
    int32_t referenceWidth_ = 0;
    int32_t referenceHeight_ = 0;
    int64_t maskedBytes_ = 0;
    std::array<Band, kMaxBands> bands_{};
    int bandCount_ = 0;
    // Row masks of the mixed bands: at most one row per band and one band per
    // row, so never more than a frame's bytes.
    std::unique_ptr<uint8_t[]> rowMasks_;
    // The text and size of the last load that dropped entries, said once.
    std::string reported_;
};
