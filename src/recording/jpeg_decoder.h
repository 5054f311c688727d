#pragma once

#include <cstdint>
#include <memory>

// Decodes the worker's JPEG pictures back into bottom-up blue-green-red rows,
// the layout the worker's pictures have, into one buffer allocated once.
class JpegDecoder {
public:
    explicit JpegDecoder(int32_t maxBytes);
    ~JpegDecoder();
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;

    // The pixels of jpeg, or null when it is broken, not width x height, or too large.
    const uint8_t* Decode(const uint8_t* jpeg, int32_t bytes, int32_t width, int32_t height);

private:
    struct State;
    std::unique_ptr<State> state_;
    std::unique_ptr<uint8_t[]> pixels_;
    int32_t maxBytes_;
};
