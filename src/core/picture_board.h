#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

// The newest published picture (a JPEG) and who wants pictures: the output
// worker publishes, the web server's requests and streams copy it out on
// their own threads. Its one buffer is allocated at construction; copies
// happen under its lock, waits on its condition.
class PictureBoard {
public:
    // A camera silent for this long has no next picture worth waiting for.
    static constexpr int64_t kSilentCameraMs = 1000;

    // Milliseconds of a monotonic clock, the time base of every call here.
    static int64_t NowMs() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    // capacity: the largest picture, in bytes, and the size of every reader's buffer.
    explicit PictureBoard(int32_t capacity);
    PictureBoard(const PictureBoard&) = delete;
    PictureBoard& operator=(const PictureBoard&) = delete;

    int32_t Capacity() const { return capacity_; }

    // Output worker: the picture of bytes becomes the newest (nothing when it
    // is empty or larger than the capacity); waiting readers wake.
    void Publish(const uint8_t* jpeg, int32_t bytes, int32_t width, int32_t height);
    // Copies the newest picture into buffer (Capacity() bytes); its byte
    // count, 0 when nothing was published yet.
    int32_t CopyNewest(uint8_t* buffer);
    // Width and height of the newest picture (0 before the first publish).
    void NewestSize(int32_t& width, int32_t& height);
    // Waits at most waitMs for a picture published after the one numbered
    // sequence, copies the newest into buffer and numbers sequence after it.
    // Its byte count; 0 when none came or Interrupts() moved past interrupts.
    int32_t CopyNewer(uint64_t& sequence, uint32_t interrupts, uint8_t* buffer, int waitMs);
    // A picture request: when the newest picture is older than the camera's
    // frame interval, asks for the next one and waits for it at most waitMs.
    void AwaitFresh(int waitMs);
    // Wakes every reader waiting in CopyNewer and makes it return 0.
    void Interrupt();
    uint32_t Interrupts() const { return interrupts_.load(std::memory_order_acquire); }

    // Who wants pictures. A client waits for the next picture; it stays
    // wanted until the window hands one over (any thread).
    void NoteWebRequest() { webAsks_.fetch_add(1, std::memory_order_acq_rel); }
    uint64_t WebRequests() const { return webAsks_.load(std::memory_order_acquire); }
    // A viewer that holds a stream wants every picture until it leaves.
    void AddStreamViewer() { streamViewers_.fetch_add(1, std::memory_order_acq_rel); }
    void RemoveStreamViewer() { streamViewers_.fetch_sub(1, std::memory_order_acq_rel); }
    int32_t StreamViewers() const { return streamViewers_.load(std::memory_order_acquire); }
    // Window, every frame: notes the frame's capture time (seconds).
    void NoteFrame(double captureTime, int64_t nowMs);
    // The camera's frame interval in ms; 0 when no frame came lately.
    int32_t FrameIntervalMs(int64_t nowMs) const;

private:
    const int32_t capacity_;
    std::unique_ptr<uint8_t[]> picture_;
    std::mutex lock_;
    std::condition_variable arrived_;
    // Under lock_.
    int32_t bytes_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
    uint64_t sequence_ = 0;
    int64_t publishedAtMs_ = 0;
    std::atomic<uint32_t> interrupts_{0};

    std::atomic<uint64_t> webAsks_{0};
    std::atomic<int32_t> streamViewers_{0};
    std::atomic<int64_t> lastFrameMs_{0};
    std::atomic<int32_t> frameIntervalMs_{0};
    double lastCaptureTime_ = 0.0;  // window thread only
};
