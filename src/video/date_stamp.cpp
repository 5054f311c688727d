#include "video/date_stamp.h"
#include "core/clock.h"
#include "core/little_endian.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr int32_t kGlyphs = 12;
constexpr int32_t kGlyphSide = 8;
constexpr int32_t kFontWidth = kGlyphs * kGlyphSide;
constexpr int32_t kPixelOffset = 54;
constexpr int32_t kFontRowBytes = kFontWidth * 3;
// Distance of the text from the bottom and right picture edges, in pixels.
constexpr int32_t kMargin = 10;
// Columns the stamp's left edge keeps clear of the text area's right end.
constexpr int32_t kRightReserve = 50;
// Widest glyph whose 17-character text still ends inside the picture.
constexpr int32_t kMaxGlyphWidth = kRightReserve / 5;

// Glyph rows from top to bottom, the leftmost pixel in the high bit.
constexpr uint8_t kGlyphRows[kGlyphs][kGlyphSide] = {
    {0x3C, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x3C},  // 0
    {0x18, 0x78, 0x18, 0x18, 0x18, 0x18, 0x18, 0x7E},  // 1
    {0x3C, 0x66, 0x66, 0x06, 0x0C, 0x18, 0x30, 0x7E},  // 2
    {0x3C, 0x46, 0x06, 0x1C, 0x06, 0x06, 0x46, 0x3C},  // 3
    {0x0C, 0x1C, 0x1C, 0x2C, 0x4C, 0x7E, 0x0C, 0x3E},  // 4
    {0x3E, 0x30, 0x3C, 0x26, 0x06, 0x06, 0x46, 0x3C},  // 5
    {0x1E, 0x30, 0x60, 0x7C, 0x66, 0x66, 0x66, 0x3C},  // 6
    {0x7E, 0x46, 0x06, 0x0C, 0x0C, 0x0C, 0x18, 0x18},  // 7
    {0x3C, 0x66, 0x66, 0x3C, 0x66, 0x66, 0x66, 0x3C},  // 8
    {0x3C, 0x66, 0x66, 0x66, 0x3E, 0x06, 0x0C, 0x78},  // 9
    {0x00, 0x00, 0x18, 0x18, 0x00, 0x00, 0x18, 0x18},  // :
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x18, 0x18},  // .
};

int32_t GlyphOf(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c == ':') return 10;
    if (c == '.') return 11;
    return -1;
}

}  // namespace

StampFontImage BuildStampFont() {
    StampFontImage image{};
    image[0] = 'B';
    image[1] = 'M';
    Put32(&image[2], kStampFontBytes);
    Put32(&image[10], kPixelOffset);
    Put32(&image[14], 40);
    Put32(&image[18], kFontWidth);
    Put32(&image[22], kGlyphSide);
    Put16(&image[26], 1);
    Put16(&image[28], 24);
    Put32(&image[34], kFontRowBytes * kGlyphSide);
    for (int32_t row = 0; row < kGlyphSide; ++row) {
        // Bitmap rows are stored bottom-up; the table lists them top-down.
        uint8_t* line = &image[kPixelOffset + row * kFontRowBytes];
        for (int32_t x = 0; x < kFontWidth; ++x) {
            const bool ink = (kGlyphRows[x / kGlyphSide][kGlyphSide - 1 - row] >> (7 - x % kGlyphSide)) & 1;
            std::memset(line + x * 3, ink ? 0 : 255, 3);
        }
    }
    return image;
}

DateStamp::DateStamp(Clock& clock) : clock_(clock) {
    for (int32_t& glyph : glyphIndex_) glyph = -1;
    // Loads the time zone now rather than on the first drawn frame.
    tzset();
}

void DateStamp::LoadFont() { LoadFont(BuildStampFont()); }

void DateStamp::LoadFont(const StampFontImage& image) {
    ready_ = 0;
    font_ = image;
    if (font_[0] != 'B' || font_[1] != 'M' || Get16(&font_[26]) != 1 || Get16(&font_[28]) != 24) return;
    const int32_t fileSize = Get32(&font_[2]);
    const int32_t offset = Get32(&font_[10]);
    const int32_t width = Get32(&font_[18]);
    const int32_t height = Get32(&font_[22]);
    // Header values that would send the drawing outside the font or the
    // picture are refused as well.
    if (fileSize > kStampFontBytes || offset < kPixelOffset || offset >= fileSize || height <= 0) return;
    const int32_t glyphWidth = width / kGlyphs;
    const int32_t rowBytes = (fileSize - offset) / height;
    if (glyphWidth <= 0 || glyphWidth > kMaxGlyphWidth || rowBytes < kGlyphs * glyphWidth * 3) return;
    glyphWidth_ = glyphWidth;
    glyphHeight_ = height;
    fontRowBytes_ = rowBytes;
    fontPixels_ = font_.data() + offset;
    for (uint8_t* p = font_.data() + offset; p != font_.data() + fileSize; ++p) *p = *p == 255 ? 0 : 127;
    ready_ = 1;
}

void DateStamp::RenderText(std::time_t now) {
    std::tm local{};
    if (!localtime_r(&now, &local)) {
        textLength_ = 0;
        return;
    }
    const int year = TwoDigitYear(local);
    const int n = std::snprintf(text_, sizeof text_, "%02i.%02i.%02i %02i:%02i:%02i", local.tm_mday,
                                local.tm_mon + 1, year, local.tm_hour, local.tm_min, local.tm_sec);
    textLength_ = n < 0 ? 0 : std::min(n, static_cast<int>(sizeof text_) - 1);
    for (int32_t j = 0; j < textLength_; ++j) glyphIndex_[j] = GlyphOf(text_[j]);
}

int32_t DateStamp::Scale(int32_t width, int32_t height) const {
    if (!ready_) return 0;
    // The text is about 3 % of the picture's height, and never smaller than the font itself.
    const int32_t scale = std::max(1, height * 3 / 100 / glyphHeight_);
    const bool fits = height >= (glyphHeight_ + kMargin) * scale && width >= (glyphWidth_ * 17 + kMargin) * scale;
    return fits ? scale : 0;
}

int32_t DateStamp::Rows(int32_t width, int32_t height) const {
    return (glyphHeight_ + kMargin) * Scale(width, height);
}

void DateStamp::DrawStamp(uint8_t* picture, int32_t width, int32_t height) {
    const int32_t scale = Scale(width, height);
    if (scale == 0 || picture == nullptr) return;
    const int32_t cellWidth = glyphWidth_ * scale;
    const int32_t margin = kMargin * scale;
    const std::time_t now = clock_.Now();
    if (now != lastTime_) {
        lastTime_ = now;
        RenderText(now);
    }
    const int32_t left = width - (kGlyphs * cellWidth + kRightReserve * scale);
    // A longer text than the usual 17 characters is cut at the picture edge.
    const int32_t characters = std::min(textLength_, (width - left) / cellWidth);
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    for (int32_t i = 0; i < glyphHeight_ * scale; ++i) {
        const uint8_t* fontRow = fontPixels_ + static_cast<std::size_t>(fontRowBytes_) * (i / scale);
        uint8_t* row = picture + rowBytes * (margin + i) + static_cast<std::size_t>(left) * 3;
        for (int32_t j = 0; j < characters; ++j) {
            const int32_t glyph = glyphIndex_[j];
            if (glyph < 0) continue;
            const uint8_t* ink = fontRow + glyph * glyphWidth_ * 3;
            uint8_t* cell = row + j * cellWidth * 3;
            for (int32_t k = 0; k < glyphWidth_; ++k) {
                const int32_t v = ink[k * 3];
                if (v == 0) continue;
                uint8_t* p = cell + k * scale * 3;
                for (int32_t copy = 0; copy < scale; ++copy, p += 3) {
                    const int32_t a = (p[0] + p[1] + p[2]) / 3;
                    const uint8_t gray = static_cast<uint8_t>(a - v >= 0 ? a - v : a + v);
                    p[0] = p[1] = p[2] = gray;
                }
            }
        }
    }
}
