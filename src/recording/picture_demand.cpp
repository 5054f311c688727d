#include "recording/picture_demand.h"

#include <cmath>

#include "recording/avi_recorder.h"
#include "recording/shot_data.h"

void PictureDemand::NoteFrame(double captureTime, int64_t nowMs) {
    const double gapMs = (captureTime - lastCaptureTime_) * 1000.0;
    lastCaptureTime_ = captureTime;
    // A gap outside one frame of a plausible camera (a reconnect, a clock step) keeps the last interval.
    if (gapMs >= 1.0 && gapMs <= 1000.0)
        frameIntervalMs_.store(static_cast<int32_t>(std::lround(gapMs)), std::memory_order_relaxed);
    lastFrameMs_.store(nowMs, std::memory_order_release);
}

bool PictureDemand::Wanted(const ShotData& shot, double captureTime, int32_t recording, int32_t speedRecMs,
                           bool keepsBeforeMotion) const {
    if (shot.photoRequest.load(std::memory_order_acquire) != 0) return true;
    if (streamViewers_.load(std::memory_order_acquire) > 0) return true;
    if (webAsks_.load(std::memory_order_acquire) != webServed_) return true;
    if (recording != shot.recording.load(std::memory_order_relaxed)) return true;
    // The worker wrote lastWrittenTime before it cleared pending, so it is settled here.
    return (recording != 0 || keepsBeforeMotion) && AviRecorder::IsDue(shot.lastWrittenTime, captureTime, speedRecMs);
}
