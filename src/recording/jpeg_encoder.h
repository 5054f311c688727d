#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "recording/memory_sink.h"

struct ShotData;

// The output worker's JPEG compressor: one libjpeg object, created once and
// reused for every picture, writing through its own destination into a
// MemorySink. libjpeg errors come back as a failed encode, never an exit.
class JpegEncoder {
public:
    static constexpr std::size_t kSinkCapacity = 1048576;
    // The destination hands the sink this many bytes at a time.
    static constexpr std::size_t kDestinationBytes = 65536;
    static constexpr int kDefaultQuality = 50;

    JpegEncoder();
    ~JpegEncoder();
    JpegEncoder(const JpegEncoder&) = delete;
    JpegEncoder& operator=(const JpegEncoder&) = delete;

    // Encodes shot's picture (bottom-up blue-green-red rows) into its JPEG
    // fields and sets its encode status: 0 encoded, 1 the encoder failed or
    // the result would not fit the JPEG buffer, 2 the frame size is not
    // valid. Returns 0 on success, 1 otherwise; on failure the JPEG fields
    // keep the previous picture. The picture buffer is left as it was.
    int Encode(ShotData& shot);

    // Encodes a bottom-up blue-green-red picture into the sink. True when the
    // sink holds the whole JPEG; false on a libjpeg error or a lost part.
    bool EncodePicture(const uint8_t* pixels, int width, int height, int quality);
    // The largest JPEG kept (the picture block's size); tests lower it to reach
    // a picture whose JPEG does not fit.
    void SetCapacity(int32_t bytes) { capacity_ = bytes; }
    const MemorySink& Sink() const;

private:
    struct State;
    std::unique_ptr<State> state_;
    int32_t capacity_;
};
