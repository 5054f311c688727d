#pragma once

#include <cstdint>

// Little-endian fields of the file formats the program writes and reads
// (bitmap, WAVE, AVI headers).
inline void Put16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

inline void Put32(uint8_t* at, uint32_t value) {
    Put16(at, value);
    Put16(at + 2, value >> 16);
}

inline uint32_t Get16(const uint8_t* at) { return at[0] | (static_cast<uint32_t>(at[1]) << 8); }

inline uint32_t Get32(const uint8_t* at) { return Get16(at) | (Get16(at + 2) << 16); }
