#include "recording/picture_demand.h"

#include "recording/avi_recorder.h"
#include "recording/shot_data.h"

bool PictureDemand::Wanted(const ShotData& shot, double captureTime, int32_t recording, int32_t speedRecMs,
                           bool keepsBeforeMotion) const {
    if (shot.photoRequest.load(std::memory_order_acquire) != 0) return true;
    if (board_.StreamViewers() > 0) return true;
    if (board_.WebRequests() != webServed_) return true;
    if (recording != shot.recording.load(std::memory_order_relaxed)) return true;
    // The worker wrote lastWrittenTime before it cleared pending, so it is settled here.
    return (recording != 0 || keepsBeforeMotion) && AviRecorder::IsDue(shot.lastWrittenTime, captureTime, speedRecMs);
}
