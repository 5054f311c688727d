#include "recording/picture_handover.h"

#include <cstring>

#include "recording/mjpeg_params.h"
#include "recording/picture_demand.h"
#include "recording/shot_data.h"

bool HandOverPicture(ShotData& shot, const uint8_t* picture, int32_t length, int32_t width, int32_t height,
                     double time, int32_t quality, int32_t recording) {
    if (shot.pending.load(std::memory_order_acquire) != 0) return false;
    if (length < 0 || length > ShotData::kBufferBytes) return false;
    shot.frameBytes = length;
    // A picture fetched straight into the block is there already.
    if (picture != shot.picture.get()) std::memcpy(shot.picture.get(), picture, static_cast<std::size_t>(length));
    shot.captureTime = time;
    shot.frameHeight = height;
    shot.frameWidth = width;
    if (static_cast<int64_t>(width) * height * 3 != length) return false;
    shot.quality = quality;
    shot.recording.store(recording, std::memory_order_relaxed);
    shot.pending.store(1, std::memory_order_release);
    return true;
}

bool PictureHandover::Wanted(double time, int32_t recording, bool keepsBeforeMotion) {
    shot_.demand.NoteFrame(time, PictureDemand::NowMs());
    // Asked only while the worker is free: the copy and the encode are spared when nothing wants the picture.
    if (WorkerBusy()) return false;
    return shot_.demand.Wanted(shot_, time, recording, params_.speedRec.load(std::memory_order_relaxed),
                               keepsBeforeMotion, &beforeMotionOnly_);
}

uint8_t* PictureHandover::Slot() const { return shot_.picture.get(); }

bool PictureHandover::WorkerBusy() const { return shot_.pending.load(std::memory_order_acquire) != 0; }

void PictureHandover::NoteMotion(int32_t level, int32_t activation) {
    if (level > peakLevel_) peakLevel_ = level;
    activation_ = activation;
}

bool PictureHandover::Give(const uint8_t* picture, int32_t length, int32_t width, int32_t height, double time,
                           int32_t recording) {
    // The worker reads these with the picture; they are written only while it has none.
    if (WorkerBusy()) return false;
    shot_.motionLevel = peakLevel_;
    shot_.activation = activation_;
    shot_.beforeMotionOnly = beforeMotionOnly_;
    if (!HandOverPicture(shot_, picture, length, width, height, time,
                         params_.quality.load(std::memory_order_relaxed), recording))
        return false;
    ++handedOver_;
    peakLevel_ = 0;
    shot_.demand.NoteHandedOver();
    return true;
}
