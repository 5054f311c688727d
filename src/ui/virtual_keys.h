#pragma once

#include <cstdint>

// Windows virtual-key codes, the form in which "HotKey" stores its key
// (letters and digits are their upper-case ASCII codes).
namespace virtual_key {
inline constexpr int32_t kBack = 8;
inline constexpr int32_t kTab = 9;
inline constexpr int32_t kClear = 12;
inline constexpr int32_t kReturn = 13;
inline constexpr int32_t kShift = 16;
inline constexpr int32_t kControl = 17;
inline constexpr int32_t kAlt = 18;
inline constexpr int32_t kPause = 19;
inline constexpr int32_t kCapsLock = 20;
inline constexpr int32_t kEscape = 27;
inline constexpr int32_t kSpace = 32;
inline constexpr int32_t kPageUp = 33;
inline constexpr int32_t kPageDown = 34;
inline constexpr int32_t kEnd = 35;
inline constexpr int32_t kHome = 36;
inline constexpr int32_t kLeft = 37;
inline constexpr int32_t kUp = 38;
inline constexpr int32_t kRight = 39;
inline constexpr int32_t kDown = 40;
inline constexpr int32_t kSelect = 41;
inline constexpr int32_t kPrint = 44;
inline constexpr int32_t kInsert = 45;
inline constexpr int32_t kDelete = 46;
inline constexpr int32_t kHelp = 47;
inline constexpr int32_t kLeftWindows = 91;
inline constexpr int32_t kRightWindows = 92;
inline constexpr int32_t kApplications = 93;
inline constexpr int32_t kSleep = 95;
// Keypad digits 0..9 follow one another.
inline constexpr int32_t kNumpad0 = 96;
inline constexpr int32_t kNumpad9 = 105;
inline constexpr int32_t kMultiply = 106;
inline constexpr int32_t kAdd = 107;
inline constexpr int32_t kSubtract = 109;
inline constexpr int32_t kDecimal = 110;
inline constexpr int32_t kDivide = 111;
// F1..F24 follow one another.
inline constexpr int32_t kF1 = 112;
inline constexpr int32_t kF24 = 135;
inline constexpr int32_t kNumLock = 144;
inline constexpr int32_t kScrollLock = 145;
// Punctuation keys, named by their US layout characters.
inline constexpr int32_t kSemicolon = 186;
inline constexpr int32_t kEqual = 187;
inline constexpr int32_t kComma = 188;
inline constexpr int32_t kMinus = 189;
inline constexpr int32_t kPeriod = 190;
inline constexpr int32_t kSlash = 191;
inline constexpr int32_t kGrave = 192;
inline constexpr int32_t kBracketLeft = 219;
inline constexpr int32_t kBackslash = 220;
inline constexpr int32_t kBracketRight = 221;
inline constexpr int32_t kApostrophe = 222;
}  // namespace virtual_key
