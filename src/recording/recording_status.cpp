#include "recording/recording_status.h"

void RecordingStatus::SetFailure(RecordingFailure failure, const std::string& folder) {
    if (failure == Failure() && failure == RecordingFailure::kNone) return;
    {
        std::lock_guard guard(textLock_);
        failureFolder_ = folder;
    }
    failure_.store(static_cast<int32_t>(failure), std::memory_order_release);
}

void RecordingStatus::SetOpenFile(const std::string& name) {
    std::lock_guard guard(textLock_);
    fileName_ = name;
}

RecordingStatus::Snapshot RecordingStatus::Read() const {
    Snapshot snapshot;
    snapshot.active = active_.load(std::memory_order_acquire) != 0;
    snapshot.idle = static_cast<RecordingIdle>(idle_.load(std::memory_order_relaxed));
    snapshot.failure = Failure();
    snapshot.frames = frames_.load(std::memory_order_acquire);
    snapshot.freeBytes = freeBytes_.load(std::memory_order_acquire);
    snapshot.dropped = dropped_.load(std::memory_order_acquire);
    std::lock_guard guard(textLock_);
    snapshot.failureFolder = failureFolder_;
    snapshot.fileName = fileName_;
    return snapshot;
}
