#include "video/detector_mask.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "video/frame.h"

namespace {

// One decimal number of at most 6 digits; false for anything else.
bool ParseNumber(std::string_view text, int32_t& value) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (text.empty() || text.size() > 6) return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

// "x,y,w,h" into rect; false unless it is exactly four numbers.
bool ParseRect(std::string_view entry, MaskRect& rect) {
    int32_t values[4];
    for (int i = 0; i < 4; ++i) {
        const std::size_t comma = entry.find(',');
        const bool last = i == 3;
        if (last != (comma == std::string_view::npos)) return false;
        if (!ParseNumber(entry.substr(0, comma), values[i])) return false;
        if (!last) entry.remove_prefix(comma + 1);
    }
    rect = {values[0], values[1], values[2], values[3]};
    return true;
}

bool BlankEntry(std::string_view entry) { return entry.find_first_not_of(' ') == std::string_view::npos; }

}  // namespace

// Left unwritten: a band's row is filled before it is used, so unused pages stay untouched.
DetectorMask::DetectorMask() : rowMasks_(new uint8_t[kFrameCapacityBytes]) { Rebuild(); }

void DetectorMask::Load(const char* text, int32_t width, int32_t height) {
    const bool fits = width > 0 && height > 0 && int64_t{width} * height * kFrameBytesPerPixel <= kFrameCapacityBytes;
    width_ = fits ? width : 0;
    height_ = fits ? height : 0;
    const bool upright = height_ > width_;
    const int32_t longSide = std::max(kFrameMaxWidth, kFrameMaxHeight);
    const int32_t shortSide = std::min(kFrameMaxWidth, kFrameMaxHeight);
    const bool larger = upright ? width_ > shortSide || height_ > longSide : width_ > longSide || height_ > shortSide;
    referenceWidth_ = larger ? (upright ? shortSide : longSide) : width_;
    referenceHeight_ = larger ? (upright ? longSide : shortSide) : height_;
    count_ = 0;
    int entries = 0;
    int dropped = 0;
    std::string_view rest = text ? text : "";
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find(';'), rest.size());
        const std::string_view entry = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (BlankEntry(entry)) continue;
        ++entries;
        MaskRect rect;
        // Checked in the frame of reference, so the same text drops the same areas at every size.
        const bool inside = ParseRect(entry, rect) && rect.width > 0 && rect.height > 0 && rect.x >= 0 &&
                            rect.y >= 0 && rect.x + rect.width <= referenceWidth_ &&
                            rect.y + rect.height <= referenceHeight_;
        if (!inside || !Add(FromReference(rect))) ++dropped;
    }
    Rebuild();
    if (dropped == 0) return;
    // Said once for a text and a size, not at every reconnection of the camera.
    const std::string said = std::to_string(width) + "x" + std::to_string(height) + " " + (text ? text : "");
    if (said == reported_) return;
    reported_ = said;
    std::fprintf(
        stderr,
        "video: \"DetectorMask\": %d of %d areas dropped (malformed, not inside the %d x %d picture, or "
        "more than %d)\n",
        dropped, entries, fits ? referenceWidth_ : width, fits ? referenceHeight_ : height, kMaxRects);
}

bool DetectorMask::Add(const MaskRect& rect) {
    if (count_ >= kMaxRects || rect.width <= 0 || rect.height <= 0 || rect.x < 0 || rect.y < 0 ||
        rect.x + rect.width > width_ || rect.y + rect.height > height_)
        return false;
    rects_[count_++] = rect;
    Rebuild();
    return true;
}

bool DetectorMask::RemoveAt(int32_t x, int32_t y) {
    for (int i = count_ - 1; i >= 0; --i) {
        if (!rects_[i].Contains(x, y)) continue;
        std::copy(rects_.begin() + i + 1, rects_.begin() + count_, rects_.begin() + i);
        --count_;
        Rebuild();
        return true;
    }
    return false;
}

void DetectorMask::CopyFrom(const DetectorMask& other) {
    if (&other == this) return;
    rects_ = other.rects_;
    count_ = other.count_;
    width_ = other.width_;
    height_ = other.height_;
    referenceWidth_ = other.referenceWidth_;
    referenceHeight_ = other.referenceHeight_;
    Rebuild();
}

void DetectorMask::Clear() {
    count_ = 0;
    Rebuild();
}

std::string DetectorMask::Text() const {
    std::string text;
    for (int i = 0; i < count_; ++i) {
        const MaskRect r = ToReference(rects_[i]);
        if (i > 0) text += ';';
        text += std::to_string(r.x) + ',' + std::to_string(r.y) + ',' + std::to_string(r.width) + ',' +
                std::to_string(r.height);
    }
    return text;
}

MaskRect DetectorMask::FromReference(const MaskRect& rect) const {
    if (referenceWidth_ == width_ && referenceHeight_ == height_) return rect;
    // Edges scale down to whole pixels; the reference sides are never 0 here.
    const auto x = [this](int64_t v) { return static_cast<int32_t>(v * width_ / referenceWidth_); };
    const auto y = [this](int64_t v) { return static_cast<int32_t>(v * height_ / referenceHeight_); };
    const int32_t left = x(rect.x);
    const int32_t top = y(rect.y);
    return {left, top, x(int64_t{rect.x} + rect.width) - left, y(int64_t{rect.y} + rect.height) - top};
}

MaskRect DetectorMask::ToReference(const MaskRect& rect) const {
    if (referenceWidth_ == width_ && referenceHeight_ == height_) return rect;
    // Rounded to the nearest: the picture's edges were scaled down from these, so a
    // loaded area is saved as it was read.
    const auto x = [this](int64_t v) { return static_cast<int32_t>((v * referenceWidth_ + width_ / 2) / width_); };
    const auto y = [this](int64_t v) {
        return static_cast<int32_t>((v * referenceHeight_ + height_ / 2) / height_);
    };
    const int32_t left = x(rect.x);
    const int32_t top = y(rect.y);
    return {left, top, x(int64_t{rect.x} + rect.width) - left, y(int64_t{rect.y} + rect.height) - top};
}

int DetectorMask::BandOfRow(int32_t row) const {
    int low = 0;
    int high = bandCount_ - 1;
    while (low < high) {
        const int middle = (low + high + 1) / 2;
        if (bands_[middle].firstRow <= row)
            low = middle;
        else
            high = middle - 1;
    }
    return low;
}

void DetectorMask::FillRowMask(int32_t firstRow, uint8_t* rowMask, int32_t& maskedColumns) const {
    std::memset(rowMask, 0xFF, static_cast<std::size_t>(width_) * kFrameBytesPerPixel);
    for (int i = 0; i < count_; ++i) {
        const MaskRect& r = rects_[i];
        // Picture lines run down from the top; frame rows run up from the bottom.
        const int32_t bottom = height_ - r.y - r.height;
        if (firstRow < bottom || firstRow >= bottom + r.height) continue;
        std::memset(rowMask + r.x * kFrameBytesPerPixel, 0,
                    static_cast<std::size_t>(r.width) * kFrameBytesPerPixel);
    }
    maskedColumns = 0;
    for (int32_t x = 0; x < width_; ++x) maskedColumns += rowMask[x * kFrameBytesPerPixel] == 0;
}

void DetectorMask::Rebuild() {
    maskedBytes_ = 0;
    bands_[0] = Band{0, height_, BandKind::kOpen, nullptr};
    bandCount_ = 1;
    if (count_ == 0) return;
    std::array<int32_t, 2 * kMaxRects + 2> edges{};
    int edgeCount = 0;
    edges[edgeCount++] = 0;
    edges[edgeCount++] = height_;
    for (int i = 0; i < count_; ++i) {
        edges[edgeCount++] = height_ - rects_[i].y - rects_[i].height;
        edges[edgeCount++] = height_ - rects_[i].y;
    }
    std::sort(edges.begin(), edges.begin() + edgeCount);
    edgeCount = static_cast<int>(std::unique(edges.begin(), edges.begin() + edgeCount) - edges.begin());

    const std::size_t rowBytes = static_cast<std::size_t>(width_) * kFrameBytesPerPixel;
    uint8_t* nextMask = rowMasks_.get();
    bandCount_ = 0;
    for (int e = 0; e + 1 < edgeCount; ++e) {
        const int32_t first = edges[e];
        const int32_t rows = edges[e + 1] - first;
        int32_t masked = 0;
        FillRowMask(first, nextMask, masked);
        const BandKind kind = masked == 0        ? BandKind::kOpen
                              : masked == width_ ? BandKind::kClosed
                                                 : BandKind::kMixed;
        maskedBytes_ += int64_t{rows} * masked * kFrameBytesPerPixel;
        if (bandCount_ > 0) {
            Band& last = bands_[bandCount_ - 1];
            if (last.kind == kind &&
                (kind != BandKind::kMixed || std::memcmp(last.rowMask, nextMask, rowBytes) == 0)) {
                last.rows += rows;
                continue;
            }
        }
        bands_[bandCount_++] = Band{first, rows, kind, kind == BandKind::kMixed ? nextMask : nullptr};
        if (kind == BandKind::kMixed) nextMask += rowBytes;
    }
}
