#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

struct ShotData;

// Whether anything wants the next picture encoded: recording (when the
// picture is due by the interval), a photo, a web client waiting for a
// picture newer than the one published, or a stream viewer. The window asks before its hand-over copy;
// the web server tells it about clients and learns the camera's frame
// interval from it. Lives in the picture block; no allocation, no lock.
class PictureDemand {
public:
    // A camera silent for this long has no next picture worth waiting for.
    static constexpr int64_t kSilentCameraMs = 1000;

    // Milliseconds of a monotonic clock, the time base of every call here.
    static int64_t NowMs() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    // Web server, any thread: a client waits for the next picture; it stays
    // wanted until the window hands one over.
    void NoteWebRequest() { webAsks_.fetch_add(1, std::memory_order_acq_rel); }
    // Window: a picture was handed over, which serves every client that asked before.
    void NoteHandedOver() { webServed_ = webAsks_.load(std::memory_order_acquire); }
    // A viewer that holds a stream wants every picture until it leaves.
    void AddStreamViewer() { streamViewers_.fetch_add(1, std::memory_order_acq_rel); }
    void RemoveStreamViewer() { streamViewers_.fetch_sub(1, std::memory_order_acq_rel); }
    // The camera's frame interval in ms; 0 when no frame came lately.
    int32_t FrameIntervalMs(int64_t nowMs) const {
        const int64_t last = lastFrameMs_.load(std::memory_order_acquire);
        if (last == 0 || nowMs - last > kSilentCameraMs) return 0;
        return frameIntervalMs_.load(std::memory_order_relaxed);
    }

    // Window, every frame: notes the frame's capture time (seconds).
    void NoteFrame(double captureTime, int64_t nowMs);
    // Window, only while the worker is free (the block's pending is 0): true
    // when the picture taken at captureTime is wanted. recording is the
    // recording state the worker would be handed; a change of it is always
    // handed over, so the worker sees recording stop and start. keepsBeforeMotion:
    // the worker keeps due pictures for the seconds before motion while not recording.
    bool Wanted(const ShotData& shot, double captureTime, int32_t recording, int32_t speedRecMs,
                bool keepsBeforeMotion = false) const;

private:
    std::atomic<uint64_t> webAsks_{0};
    uint64_t webServed_ = 0;  // window thread only
    std::atomic<int32_t> streamViewers_{0};
    std::atomic<int64_t> lastFrameMs_{0};
    std::atomic<int32_t> frameIntervalMs_{0};
    double lastCaptureTime_ = 0.0;  // window thread only
};
