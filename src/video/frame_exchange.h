#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "video/detector_mask.h"
#include "video/frame.h"
#include "video/orientation.h"

class MessagePoster;
class Registry;

// Hand-over point between the capture thread (PutSample) and the UI thread
// (everything else): one pending sample, measured where it arrives. The put
// turns it into the oriented picture (kept as the previous picture for the
// next comparison), its difference image while one is wanted, and a motion
// level 0..100 over the bytes the detector mask leaves open, reading the
// sample where it lies while it is still in the capture thread's cache; the
// fetch copies out what the UI thread asks for. Registered as "_VideoDataCls".
// All buffers are reserved once at kFrameCapacityBytes; a smaller picture
// only ever touches the pages it uses.
class FrameExchange {
public:
    explicit FrameExchange(Registry& registry);
    ~FrameExchange();
    FrameExchange(const FrameExchange&) = delete;
    FrameExchange& operator=(const FrameExchange&) = delete;

    // Capture thread: measures the sample when the slot is free and its size
    // is the camera's, and posts the data message for every sample of valid size.
    void PutSample(double sampleTime, const uint8_t* data, int32_t length);
    // The same for a picture of width x height whose rows lie `stride` bytes
    // apart, starting at its bottom row; a negative stride walks a top-down
    // picture up from its last row. Taken only at the camera's size, with
    // rows that do not overlap; the rows are only read during the call.
    void PutSampleRows(double sampleTime, const uint8_t* bottomRow, std::ptrdiff_t stride, int32_t width,
                       int32_t height);

    // What the pending sample measured.
    struct Measured {
        double sampleTime = 0.0;
        int32_t level = 0;
        // The bytes the level was measured over and how many of them changed
        // by more than the noise limit (above 640 x 480: the share of the
        // grid's samples that changed, told in the picture's bytes).
        int64_t countedBytes = 0;
        int64_t changedBytes = 0;
        // Whether the picture was kept whole: a sample measured while the
        // picture was not wanted (see SetPictureWanted) is never copied out.
        bool whole = true;
    };
    // UI thread: false when no sample is pending.
    bool PeekMeasured(Measured& measured) const;
    // UI thread: takes the pending sample, copying the oriented picture into
    // buffer (kFrameCapacityBytes) and the difference image into Difference(), and
    // returns the motion level; length is 0 when nothing was pending.
    int32_t FetchFrame(double& sampleTime, uint8_t* buffer, int32_t& length);
    // The same, copying only what writes names (kWriteOut, kWriteDifference):
    // a frame nobody looks at costs only its measurement.
    int32_t FetchFrame(double& sampleTime, uint8_t* buffer, int32_t& length, unsigned writes);
    // The same for a picture the window shows at once: only its first
    // bandRows rows (the bottom, where the date goes) are copied into band;
    // the rest is read where it lies, at the picture returned, and the slot
    // stays held (no sample is measured into it) until ReturnLent. Nothing is
    // lent (null) when nothing is pending or the picture was not kept whole.
    const uint8_t* LendFrame(double& sampleTime, uint8_t* band, int32_t bandRows, int32_t& length, unsigned writes);
    void ReturnLent() { pendingFlag_.store(0, std::memory_order_release); }
    // UI thread: copies the rows from fromRow up of the last picture measured
    // into buffer, once a measurement under way is done; false, leaving
    // buffer as it is, when that picture was not kept whole.
    bool CopyLastPicture(uint8_t* buffer, int32_t fromRow);
    // UI thread: whether the puts from now on make the difference image (at
    // first they do); a fetch copies it only from a put that made it.
    void SetDifferenceWanted(bool wanted) { differenceWanted_.store(wanted, std::memory_order_relaxed); }
    // UI thread: whether the puts from now on keep the whole picture (at
    // first they do). Above 640 x 480 a put for the level alone keeps only
    // the motion grid's lines, which spares copying most of the picture; a
    // fetch copies the picture out only from a put that kept it whole.
    void SetPictureWanted(bool wanted) { pictureWanted_.store(wanted, std::memory_order_relaxed); }
    // UI thread, while the capture graph is stopped; at most kFrameCapacityBytes.
    void SetSourceSize(int32_t width, int32_t height);
    // Rereads "VideoReflect", "VideoRotate" and "DetectorMask" and resizes the header.
    void ApplyOrientation();
    // Blanks the pictures at the current size.
    void ClearBuffers();

    // Size of the oriented picture.
    const BitmapInfoHeader& Header() const { return header_; }
    int32_t Width() const { return header_.biWidth; }
    int32_t Height() const { return header_.biHeight; }
    const uint8_t* Blank() const { return blank_.get(); }
    // The main window fetches into, stamps, paints and clears this picture.
    uint8_t* Display() { return display_.get(); }
    // The difference image of the last fetch that copied one: above 640 x 480
    // it has the motion grid's size (see MotionGridStep), and is shown scaled.
    const uint8_t* Difference() const { return difference_.get(); }
    int32_t DifferenceWidth() const { return differenceWidth_; }
    int32_t DifferenceHeight() const { return differenceHeight_; }
    // The last picture measured; the capture thread's while the slot is free.
    const uint8_t* Previous() const { return previous_.get(); }
    ::Reflect Reflect() const { return reflect_; }
    ::Rotate Rotate() const { return rotate_; }
    // The areas the level ignores, in coordinates of the oriented picture;
    // the UI thread edits them and then calls MaskEdited.
    DetectorMask& Mask() { return mask_; }
    // UI thread: the puts from now on use the mask as edited.
    void MaskEdited();
    // Of the last fetch.
    int64_t CountedBytes() const { return countedBytes_; }
    int64_t ChangedBytes() const { return changedBytes_; }

private:
    // A picture buffer of kFrameCapacityBytes plus slack, cache-line aligned,
    // mapped from the system so that pages never written take no memory.
    struct Unmap {
        void operator()(uint8_t* mapping) const;
    };
    struct PictureBuffer {
        std::unique_ptr<uint8_t, Unmap> storage;
        uint8_t* data = nullptr;
        uint8_t* get() const { return data; }
    };
    static PictureBuffer NewBuffer(int index);
    // Capture thread, under configLock_: orients and compares the rows.
    void Measure(const uint8_t* bottomRow, std::ptrdiff_t stride, int32_t width, int32_t height);
    // Under configLock_: the motion grid for the oriented size and the measuring mask.
    void PrepareGrid();
    // UI thread: copies out what writes names of the pending sample, of the
    // picture only its first rows; length is 0 when nothing is pending.
    int32_t CopyPending(double& sampleTime, uint8_t* buffer, int32_t& length, unsigned writes, int32_t rows);

    Registry* registry_;
    // 1 while a measured sample waits: set by the capture thread after it
    // wrote previous, the pending difference and the pending figures
    // (release), cleared by the UI thread once it copied them out or painted
    // the picture lent (release); both test it with acquire.
    std::atomic<int32_t> pendingFlag_{0};
    double sampleTime_ = 0.0;
    int32_t pendingLength_ = 0;
    int32_t pendingLevel_ = 0;
    int64_t pendingCounted_ = 0;
    int64_t pendingChanged_ = 0;
    bool pendingHasDifference_ = false;
    bool pendingWhole_ = true;
    int32_t pendingDifferenceWidth_ = 0;
    int32_t pendingDifferenceHeight_ = 0;
    int32_t differenceWidth_ = 0;
    int32_t differenceHeight_ = 0;
    std::atomic<bool> differenceWanted_{true};
    std::atomic<bool> pictureWanted_{true};
    // Held by the capture thread while it measures and by the UI thread while
    // it changes the geometry, the orientation or the measuring mask.
    std::mutex configLock_;
    BitmapInfoHeader header_;
    PictureBuffer blank_;
    PictureBuffer display_;
    PictureBuffer difference_;
    PictureBuffer pendingDifference_;
    PictureBuffer previous_;
    // Quarter turns build each strip of rows here, where it stays cached,
    // and copy it out while comparing.
    PictureBuffer strip_;
    // A turned or reflected sample is copied here first (see Measure).
    PictureBuffer staging_;
    MessagePoster* mainWindow_ = nullptr;
    uint32_t dataMessage_ = 0;
    // Written only while the graph is stopped; atomic so the capture thread's
    // reads are never a data race.
    std::atomic<int32_t> sourceWidth_{0};
    std::atomic<int32_t> sourceHeight_{0};
    ::Reflect reflect_ = ::Reflect::kNone;
    ::Rotate rotate_ = ::Rotate::kNone;
    // The UI thread's mask, and the copy the capture thread measures with.
    DetectorMask mask_;
    DetectorMask measureMask_;
    // The motion grid (step 1: every pixel is compared) and the bytes it
    // counts; the capture thread's under configLock_.
    MotionGrid grid_;
    int64_t gridCounted_ = 0;
    int64_t countedBytes_ = 0;
    int64_t changedBytes_ = 0;
};
