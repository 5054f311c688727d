#pragma once

#include <cstddef>
#include <cstdint>

// Keeps a camera's sensor noise out of what an H.264 encoder must store.
// Each value of the held picture follows the camera's by one step a picture
// while the two differ by no more than kStillNoiseLimit, and takes the
// camera's value at once when they differ by more. A still scene so becomes a
// still picture (the encoder's skipped blocks) that settles on the middle of
// its noise, while anything that moves or changes its light by more than the
// noise passes unchanged.
inline constexpr int kStillNoiseLimit = 6;

// One row of bytes: held is updated from picture and copied to out.
void SettleStillNoise(const uint8_t* picture, uint8_t* held, uint8_t* out, std::size_t bytes);
