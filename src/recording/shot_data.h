#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "core/auto_reset_event.h"
#include "recording/picture_demand.h"

// The picture block between the window (producer), the output worker and
// the web server; registered as "_MYSHOTDATA". Buffers are allocated once.
struct ShotData {
    // The largest picture (1920 x 1080 x 3 bytes); left unwritten, so that
    // only the pages a picture uses are given memory.
    static constexpr int32_t kBufferBytes = 1920 * 1080 * 3;

    ShotData()
        : picture(new uint8_t[kBufferBytes]),
          jpeg(new uint8_t[kBufferBytes]),
          published(new uint8_t[kBufferBytes]),
          wake(std::make_unique<AutoResetEvent>()) {}

    // Written by the producer while pending is 0.
    int32_t frameBytes = 0;
    int32_t frameHeight = 0;
    int32_t frameWidth = 0;
    double captureTime = 0.0;
    // 1 while a picture waits for the worker: set last by the producer
    // (release), cleared by the worker when done with the picture (release).
    std::atomic<int32_t> pending{0};
    std::unique_ptr<uint8_t[]> picture;

    // The worker's latest encoding.
    int32_t jpegBytes = 0;
    int32_t jpegHeight = 0;
    int32_t jpegWidth = 0;
    double lastWrittenTime = 0.0;  // Time the next due picture is counted from (the last recorded slot).
    double encodedTime = 0.0;
    std::unique_ptr<uint8_t[]> jpeg;

    // The picture served over HTTP, only under the web server's picture lock.
    int32_t publishedBytes = 0;
    int32_t publishedHeight = 0;
    int32_t publishedWidth = 0;
    std::unique_ptr<uint8_t[]> published;

    // Wakes the worker; closed (reset) at shutdown.
    std::unique_ptr<AutoResetEvent> wake;
    // 0 encoded, 1 the encoder produced nothing, 2 the frame size was not valid.
    int32_t encodeStatus = 0;
    int32_t quality = 0;
    // Single words set by one thread and read by the other.
    std::atomic<int32_t> photoType{0};     // 0 BMP, 1 JPEG
    std::atomic<int32_t> photoRequest{0};  // 1 = photograph the next picture
    std::atomic<int32_t> recording{0};     // 1 = record this picture

    // Whether the next picture is worth the hand-over and the encode.
    PictureDemand demand;

    void Wake() {
        if (wake) wake->Signal();
    }
};
