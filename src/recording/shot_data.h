#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "core/auto_reset_event.h"
#include "core/picture_board.h"
#include "core/registry.h"
#include "recording/picture_demand.h"
#include "video/frame.h"

// The picture block between the window (producer) and the output worker;
// registered as "_MYSHOTDATA", its board (the published picture the web
// server reads) as "_MYPICTUREBOARD". Buffers are allocated once.
struct ShotData {
    // The largest picture; left unwritten, so that only the pages a picture
    // uses are given memory.
    static constexpr int32_t kBufferBytes = kFrameCapacityBytes;

    ShotData()
        : picture(new uint8_t[kBufferBytes]),
          jpeg(new uint8_t[kBufferBytes]),
          wake(std::make_unique<AutoResetEvent>()) {}

    // Makes the block and its board known to the modules that find them.
    void Register(Registry& registry) {
        registry.SetHandle("_MYSHOTDATA", this);
        registry.SetHandle("_MYPICTUREBOARD", &board);
    }
    // Output worker: the latest encoding becomes the published picture.
    void Publish() { board.Publish(jpeg.get(), jpegBytes, jpegWidth, jpegHeight); }

    // Written by the producer while pending is 0.
    int32_t frameBytes = 0;
    int32_t frameHeight = 0;
    int32_t frameWidth = 0;
    double captureTime = 0.0;
    // The peak motion level (0..100) since the last picture handed over, and
    // what has recording on now (an Activation; 0 when not known).
    int32_t motionLevel = 0;
    int32_t activation = 0;
    // Only the seconds before motion want the picture: it need not be encoded.
    bool beforeMotionOnly = false;
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

    // The published picture and who wants pictures.
    PictureBoard board{kBufferBytes};

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
    PictureDemand demand{board};

    void Wake() {
        if (wake) wake->Signal();
    }
};
