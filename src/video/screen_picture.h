#pragma once

#include <cstddef>
#include <cstdint>

// Turns a Frame (24-bit blue-green-red, rows bottom-up) into the 32-bit
// 0xffRRGGBB pixels, rows top-down, that screens and window systems take, so
// the window can draw it with a plain copy instead of a mirrored, converting
// draw every frame. `destinationStride` is the distance in bytes between the
// starts of two rows of the destination (at least width * 4).
void FrameToScreenPixels(const uint8_t* frame, int32_t width, int32_t height, uint8_t* destination,
                         std::ptrdiff_t destinationStride);
