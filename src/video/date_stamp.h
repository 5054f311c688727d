#pragma once

#include <array>
#include <cstdint>
#include <ctime>

#include "core/clock.h"

// Bytes of the built-in stamp font: a 96 x 8 24-bit bitmap file of twelve
// 8 x 8 glyphs (digits, colon, period).
inline constexpr int32_t kStampFontBytes = 2358;
using StampFontImage = std::array<uint8_t, kStampFontBytes>;

// The built-in font as a complete bitmap file image, black ink on white.
StampFontImage BuildStampFont();

// Writes the local date and time ("07.12.26 02:31:05") into the bottom-right
// corner of a Frame in gray that stays legible on light and dark pictures.
// UI thread only.
class DateStamp {
public:
    explicit DateStamp(Clock& clock = SystemClock::Instance());
    DateStamp(const DateStamp&) = delete;
    DateStamp& operator=(const DateStamp&) = delete;

    // Checks and prepares the built-in font; the stamp is drawn only once
    // a font has passed.
    void LoadFont();
    // Same for a given font image (a font that fails leaves the stamp off).
    void LoadFont(const StampFontImage& image);
    // Draws into picture (width x height Frame) in place.
    void DrawStamp(uint8_t* picture, int32_t width, int32_t height);
    // The rows from the bottom of such a picture that DrawStamp may change;
    // 0 when it draws nothing there.
    int32_t Rows(int32_t width, int32_t height) const;

    int32_t Ready() const { return ready_; }
    // The last rendered text.
    const char* Text() const { return text_; }
    int32_t TextLength() const { return textLength_; }

private:
    void RenderText(std::time_t now);
    // Each font pixel becomes a square of Scale pixels; 0 when the text does not fit.
    int32_t Scale(int32_t width, int32_t height) const;

    Clock& clock_;
    int32_t ready_ = 0;
    int32_t glyphWidth_ = 0;
    int32_t glyphHeight_ = 0;
    int32_t fontRowBytes_ = 0;
    const uint8_t* fontPixels_ = nullptr;
    char text_[40] = {};
    int32_t glyphIndex_[40];
    int32_t textLength_ = 0;
    std::time_t lastTime_ = 0;
    // The font LoadFont prepares in place.
    StampFontImage font_ = {};
};
