#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "video/detector_mask.h"
#include "video/frame.h"

class MessagePoster;
class Registry;

// Hand-over point between the capture thread (PutSample) and the UI thread
// (everything else): one pending sample, turned on fetch into the oriented
// picture, its difference image and a motion level 0..100 over the bytes the
// detector mask leaves open. Registered as "_VideoDataCls". All buffers are
// allocated once at kFrameBytes.
class FrameExchange {
public:
    explicit FrameExchange(Registry& registry);
    ~FrameExchange();
    FrameExchange(const FrameExchange&) = delete;
    FrameExchange& operator=(const FrameExchange&) = delete;

    // Capture thread: takes the sample when the slot is free and its size is
    // the camera's, and posts the data message for every sample of valid size.
    void PutSample(double sampleTime, const uint8_t* data, int32_t length);
    // The same for a picture of width x height whose rows lie `stride` bytes
    // apart, starting at its bottom row; a negative stride walks a top-down
    // picture up from its last row, so the copy into the slot is also the
    // turn into the bottom-up layout. Taken only at the camera's size, with
    // rows that do not overlap.
    void PutSampleRows(double sampleTime, const uint8_t* bottomRow, std::ptrdiff_t stride, int32_t width,
                       int32_t height);
    // UI thread: orients the pending sample into buffer (kFrameBytes), updates
    // the difference and previous pictures and returns the motion level;
    // length is 0 when nothing was pending.
    int32_t FetchFrame(double& sampleTime, uint8_t* buffer, int32_t& length);
    // UI thread, while the capture graph is stopped.
    void SetSourceSize(int32_t width, int32_t height);
    // Rereads "VideoReflect", "VideoRotate" and "DetectorMask" and resizes the header.
    void ApplyOrientation();
    void ClearBuffers();

    // Size of the oriented picture.
    const BitmapInfoHeader& Header() const { return header_; }
    int32_t Width() const { return header_.biWidth; }
    int32_t Height() const { return header_.biHeight; }
    const uint8_t* Blank() const { return blank_.get(); }
    // The main window fetches into, stamps, paints and clears this picture.
    uint8_t* Display() { return display_.get(); }
    const uint8_t* Difference() const { return difference_.get(); }
    const uint8_t* Previous() const { return previous_.get(); }
    int32_t Reflect() const { return reflect_; }
    int32_t Rotate() const { return rotate_; }
    // The areas the level ignores, in coordinates of the oriented picture;
    // the UI thread edits them between fetches.
    DetectorMask& Mask() { return mask_; }
    // Of the last fetch: the bytes the level was measured over and how many
    // of them changed by more than the noise limit.
    int64_t CountedBytes() const { return countedBytes_; }
    int64_t ChangedBytes() const { return changedBytes_; }

private:
    // A picture buffer of kFrameBytes plus slack, cache-line aligned.
    struct PictureBuffer {
        std::unique_ptr<uint8_t[]> storage;
        uint8_t* data = nullptr;
        uint8_t* get() const { return data; }
    };
    static PictureBuffer NewBuffer(int index);

    Registry* registry_;
    double sampleTime_ = 0.0;
    PictureBuffer pending_;
    int32_t pendingLength_ = 0;
    // 1 while pending holds an unfetched sample: set by the capture thread
    // after the slot is written (release), cleared by the UI thread once it
    // is done with the slot (release); both test it with acquire.
    std::atomic<int32_t> pendingFlag_{0};
    BitmapInfoHeader header_;
    PictureBuffer blank_;
    PictureBuffer display_;
    PictureBuffer difference_;
    PictureBuffer previous_;
    // Quarter turns build each strip of rows here, where it stays cached,
    // and copy it out while comparing.
    PictureBuffer strip_;
    MessagePoster* mainWindow_ = nullptr;
    uint32_t dataMessage_ = 0;
    // Written only while the graph is stopped; atomic so the capture thread's
    // reads are never a data race.
    std::atomic<int32_t> sourceWidth_{0};
    std::atomic<int32_t> sourceHeight_{0};
    int32_t reflect_ = 0;
    int32_t rotate_ = 0;
    DetectorMask mask_;
    int64_t countedBytes_ = 0;
    int64_t changedBytes_ = 0;
};

// Tests run the plain (0), 16-byte (1) and 32-byte (2, the default) picture
// loops on one machine; each level is used only where the processor has it.
void LimitFrameVectorsForTest(int level);
