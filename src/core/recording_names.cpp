#include "core/recording_names.h"

#include <cctype>
#include <cstring>
#include <initializer_list>

#include "core/clock.h"

namespace {

// Digits at text[0..count) as a number; -1 when any is not a digit.
int Digits(const char* text, int count) {
    int value = 0;
    for (int i = 0; i < count; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

}  // namespace

bool IsRecordingName(const char* name, std::time_t* when) {
    // YYMMDD_HHMMSS_ then at least four digits of frame count, then ".avi" or ".mp4".
    const std::size_t length = std::strlen(name);
    if (length < 22 || length > 26 || name[6] != '_' || name[13] != '_') return false;
    if (std::strcmp(name + length - 4, ".avi") != 0 && std::strcmp(name + length - 4, ".mp4") != 0) return false;
    if (Digits(name + 14, static_cast<int>(length - 18)) < 0) return false;
    const int year = Digits(name, 2), month = Digits(name + 2, 2), day = Digits(name + 4, 2);
    const int hour = Digits(name + 7, 2), minute = Digits(name + 9, 2), second = Digits(name + 11, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 60)
        return false;
    if (when) {
        std::tm local{};
        local.tm_year = TmYearOfTwoDigits(year);
        local.tm_mon = month - 1;
        local.tm_mday = day;
        local.tm_hour = hour;
        local.tm_min = minute;
        local.tm_sec = second;
        local.tm_isdst = -1;
        *when = std::mktime(&local);
    }
    return true;
}

bool IsPhotoName(const char* name) {
    return std::strlen(name) == 9 && Digits(name, 5) >= 0 &&
           (std::strcmp(name + 5, ".jpg") == 0 || std::strcmp(name + 5, ".bmp") == 0);
}

const char* ActivationName(Activation activation) {
    switch (activation) {
        case Activation::kAlways: return "always";
        case Activation::kWindow: return "window";
        case Activation::kDetector: return "detector";
        default: return "";
    }
}

Activation ActivationInThumbnail(const uint8_t* head, std::size_t bytes) {
    // FF D8, then FF FE and the comment's length (two bytes, counting themselves).
    static constexpr char kKey[] = "activation=";
    if (bytes < 6 || head[0] != 0xFF || head[1] != 0xD8 || head[2] != 0xFF || head[3] != 0xFE) return Activation::kUnknown;
    const std::size_t length = std::size_t{head[4]} << 8 | head[5];
    if (length < 2 || 4 + length > bytes) return Activation::kUnknown;
    const char* text = reinterpret_cast<const char*>(head + 6);
    const std::size_t textBytes = length - 2;
    const std::size_t keyBytes = sizeof kKey - 1;
    if (textBytes <= keyBytes || std::memcmp(text, kKey, keyBytes) != 0) return Activation::kUnknown;
    for (const Activation candidate : {Activation::kAlways, Activation::kWindow, Activation::kDetector}) {
        const char* name = ActivationName(candidate);
        if (textBytes - keyBytes == std::strlen(name) && std::memcmp(text + keyBytes, name, textBytes - keyBytes) == 0)
            return candidate;
    }
    return Activation::kUnknown;
}
