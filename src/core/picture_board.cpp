#include "core/picture_board.h"

#include <cmath>
#include <cstring>

PictureBoard::PictureBoard(int32_t capacity)
    : capacity_(capacity > 0 ? capacity : 0), picture_(new uint8_t[static_cast<std::size_t>(capacity_)]) {}

void PictureBoard::Publish(const uint8_t* jpeg, int32_t bytes, int32_t width, int32_t height) {
    if (!jpeg || bytes <= 0 || bytes > capacity_) return;
    {
        std::lock_guard guard(lock_);
        std::memcpy(picture_.get(), jpeg, static_cast<std::size_t>(bytes));
        bytes_ = bytes;
        width_ = width;
        height_ = height;
        ++sequence_;
        publishedAtMs_ = NowMs();
    }
    // Readers copy it on their own threads; the worker goes on at once.
    arrived_.notify_all();
}

int32_t PictureBoard::CopyNewest(uint8_t* buffer) {
    std::lock_guard guard(lock_);
    if (bytes_ > 0) std::memcpy(buffer, picture_.get(), static_cast<std::size_t>(bytes_));
    return bytes_;
}

void PictureBoard::NewestSize(int32_t& width, int32_t& height) {
    std::lock_guard guard(lock_);
    width = width_;
    height = height_;
}

int32_t PictureBoard::CopyNewer(uint64_t& sequence, uint32_t interrupts, uint8_t* buffer, int waitMs) {
    std::unique_lock lock(lock_);
    auto interrupted = [&] { return interrupts_.load(std::memory_order_acquire) != interrupts; };
    arrived_.wait_for(lock, std::chrono::milliseconds(waitMs),
                      [&] { return (sequence_ != sequence && bytes_ > 0) || interrupted(); });
    if (sequence_ == sequence || bytes_ <= 0 || interrupted()) return 0;
    sequence = sequence_;
    std::memcpy(buffer, picture_.get(), static_cast<std::size_t>(bytes_));
    return bytes_;
}

void PictureBoard::AwaitFresh(int waitMs) {
    const int64_t now = NowMs();
    // No frames lately: no picture is coming, so the request is not held up.
    const int32_t intervalMs = FrameIntervalMs(now);
    if (intervalMs <= 0) return;
    std::unique_lock lock(lock_);
    if (sequence_ > 0 && now - publishedAtMs_ <= intervalMs) return;
    const uint64_t seen = sequence_;
    // Pictures are encoded only while something wants them: this asks for the next.
    NoteWebRequest();
    arrived_.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return sequence_ != seen; });
}

void PictureBoard::Interrupt() {
    {
        std::lock_guard guard(lock_);
        interrupts_.fetch_add(1, std::memory_order_release);
    }
    arrived_.notify_all();
}

void PictureBoard::NoteFrame(double captureTime, int64_t nowMs) {
    const double gapMs = (captureTime - lastCaptureTime_) * 1000.0;
    lastCaptureTime_ = captureTime;
    // A gap outside one frame of a plausible camera (a reconnect, a clock step) keeps the last interval.
    if (gapMs >= 1.0 && gapMs <= 1000.0)
        frameIntervalMs_.store(static_cast<int32_t>(std::lround(gapMs)), std::memory_order_relaxed);
    lastFrameMs_.store(nowMs, std::memory_order_release);
}

int32_t PictureBoard::FrameIntervalMs(int64_t nowMs) const {
    const int64_t last = lastFrameMs_.load(std::memory_order_acquire);
    if (last == 0 || nowMs - last > kSilentCameraMs) return 0;
    return frameIntervalMs_.load(std::memory_order_relaxed);
}
