#include "recording/picture_demand.h"

#include "recording/avi_recorder.h"
#include "recording/shot_data.h"

bool PictureDemand::Wanted(const ShotData& shot, double captureTime, int32_t recording, int32_t speedRecMs,
                           bool keepsBeforeMotion, bool* beforeMotionOnly) const {
    if (beforeMotionOnly) *beforeMotionOnly = false;
    if (shot.photoRequest.load(std::memory_order_acquire) != 0) return true;
    if (board_.StreamViewers() > 0) return true;
    if (board_.WebRequests() != webServed_) return true;
    if (recording != shot.recording.load(std::memory_order_relaxed)) return true;
    // The worker wrote lastWrittenTime before it cleared pending, so it is settled here.
    if (!AviRecorder::IsDue(shot.lastWrittenTime, captureTime, speedRecMs)) return false;
    if (beforeMotionOnly) *beforeMotionOnly = recording == 0;
    return recording != 0 || keepsBeforeMotion;
}
