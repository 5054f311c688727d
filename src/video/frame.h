#pragma once

#include <cstdint>

// The picture format every module shares: 24-bit pixels in the byte order
// blue, green, red, rows bottom-up (the first row in memory is the bottom
// line) and packed (a row is exactly width * 3 bytes).
inline constexpr int32_t kFrameBytesPerPixel = 3;
// The largest picture of the "Default" resolution (a camera's larger format
// is scaled down to it), and the frame of reference the detector mask's
// rectangles are saved in.
inline constexpr int32_t kFrameMaxWidth = 640;
inline constexpr int32_t kFrameMaxHeight = 480;
inline constexpr int32_t kFrameBytes = kFrameMaxWidth * kFrameMaxHeight * kFrameBytesPerPixel;
// The largest picture of all (1920 x 1080, or 1080 x 1920 turned): every
// picture buffer is reserved once for it, and no larger sample is accepted.
// Only the pages a picture writes are ever given memory.
inline constexpr int32_t kFrameCapacityWidth = 1920;
inline constexpr int32_t kFrameCapacityHeight = 1080;
inline constexpr int32_t kFrameCapacityBytes = kFrameCapacityWidth * kFrameCapacityHeight * kFrameBytesPerPixel;

// Device-independent bitmap header, byte for byte the 40-byte layout that
// BMP files and painting code expect.
struct BitmapInfoHeader {
    uint32_t biSize = 40;
    int32_t biWidth = 0;
    int32_t biHeight = 0;  // Positive: rows bottom-up.
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 24;
    uint32_t biCompression = 0;  // Uncompressed.
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};
static_assert(sizeof(BitmapInfoHeader) == 40, "bitmap header must keep its file layout");

// The header that describes a frame of the given size.
inline BitmapInfoHeader FrameHeader(int32_t width, int32_t height) {
    BitmapInfoHeader header;
    header.biWidth = width;
    header.biHeight = height;
    return header;
}
