#pragma once

#include <cstdint>

struct MjpegParams;
struct ShotData;

// Copies a fetched picture into the block when the worker is free; marks it
// pending (last, with release) only when length matches width x height x 3.
// Returns true when the picture was handed over.
bool HandOverPicture(ShotData& shot, const uint8_t* picture, int32_t length, int32_t width, int32_t height,
                     double time, int32_t quality, int32_t recording);

// The window's side of the picture block: asks the block's demand whether a
// frame is worth copying out and hands the copy to the worker. Window thread only.
class PictureHandover {
public:
    PictureHandover(ShotData& shot, const MjpegParams& params) : shot_(shot), params_(params) {}

    // Notes the frame taken at time; true when the worker is free and something
    // (recording, a photo, a web client, the seconds before motion) wants it.
    bool Wanted(double time, int32_t recording, bool keepsBeforeMotion);
    // The motion level of each measured frame (0..100) and what has recording on
    // now (an Activation); the picture handed over next carries the peak level since the last.
    void NoteMotion(int32_t level, int32_t activation);
    // Hands the fetched picture over at the recording quality; true when it was,
    // and the worker is then to be woken.
    bool Give(const uint8_t* picture, int32_t length, int32_t width, int32_t height, double time,
              int32_t recording);
    int64_t HandedOver() const { return handedOver_; }
    // The block's picture, which a fetch may fill straight for Give after
    // Wanted said yes: the worker is free and no other thread writes it.
    uint8_t* Slot() const;
    // The worker has a picture it has not finished with.
    bool WorkerBusy() const;

private:
    ShotData& shot_;
    const MjpegParams& params_;
    int64_t handedOver_ = 0;
    bool beforeMotionOnly_ = false;  // of the last Wanted
    int32_t peakLevel_ = 0;
    int32_t activation_ = 0;
};
