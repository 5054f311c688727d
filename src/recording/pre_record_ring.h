#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

class AviRecorder;
struct ShotData;

// The seconds before motion: while recording is inactive in a detector mode,
// keeps the pictures that are due by the recording interval, of the last
// Seconds() seconds, in one byte ring allocated once (the newest that fit).
// When recording turns active they go into the file first, oldest first, then
// the live pictures follow; none twice, none left out. A picture is kept
// encoded, or raw (planar 4:2:0, half its bytes) when the seconds' worth of
// raw pictures fit: most of them age out unseen, and only those that go into
// a file are encoded, when recording starts. Worker thread only, except SetSeconds.
class PreRecordRing {
public:
    static constexpr int32_t kMaxSeconds = 30;
    static constexpr int32_t kDefaultSeconds = 3;
    // The budget is in bytes, whatever the picture size: 30 s at 5 pictures a
    // second of 640 x 480 at quality 100 (about 200 KiB each) fit; of larger
    // pictures the same seconds are kept while they fit, else the newest that do.
    static constexpr std::size_t kBudgetBytes = std::size_t{32} << 20;
    static constexpr int kMaxPictures = 256;

    explicit PreRecordRing(std::size_t budgetBytes = kBudgetBytes);
    ~PreRecordRing();
    PreRecordRing(const PreRecordRing&) = delete;
    PreRecordRing& operator=(const PreRecordRing&) = delete;

    // Seconds to keep; 0 switches the ring off (any thread; taken on the next picture).
    void SetSeconds(int32_t seconds) { seconds_.store(seconds, std::memory_order_release); }
    int32_t Seconds() const { return seconds_.load(std::memory_order_acquire); }

    // The worker's step before WriteFrame: keeps the picture while recording
    // is off, or writes what it kept when recording has just turned on.
    void Offer(ShotData& shot, AviRecorder& recorder);
    // Instead of encoding and Offer, for a picture that is wanted only here:
    // keeps it raw when the seconds' worth fit, or passes it over when it is
    // not due. False when it must be encoded and offered instead.
    bool OfferRaw(ShotData& shot, AviRecorder& recorder);

    // A copy of the picture, dropping the oldest that are in its way or older than Seconds().
    void Keep(const uint8_t* jpeg, int32_t bytes, int32_t width, int32_t height, double time, int32_t level = -1);
    int Count() const { return count_; }
    std::size_t BytesKept() const;
    void Clear() { count_ = 0; }

private:
    struct Picture {
        std::size_t offset;
        int32_t bytes;
        int32_t width;
        int32_t height;
        double time;
        int32_t level;    // motion level, below 0 when not known
        int32_t quality;  // of the JPEG a raw picture becomes; 0 for an encoded one
    };
    const Picture& Oldest() const { return pictures_[first_]; }
    const Picture& Newest() const { return pictures_[(first_ + count_ - 1) % kMaxPictures]; }
    void DropOldest();
    bool FindRoom(std::size_t bytes, std::size_t& offset);
    // Room for a picture of time at its place in the ring; false when it never fits.
    bool MakeRoom(std::size_t bytes, double time, std::size_t& offset);
    void WriteKept(ShotData& shot, AviRecorder& recorder);
    // The JPEG of a raw picture into encoded_; false, said on stderr, when it failed.
    bool EncodeRaw(const Picture& picture, unsigned long& bytes);

    const std::size_t budget_;
    std::unique_ptr<uint8_t[]> bytes_;  // not touched until used, so an unused ring costs no memory
    Picture pictures_[kMaxPictures] = {};
    int first_ = 0;
    int count_ = 0;
    bool wasRecording_ = false;
    std::atomic<int32_t> seconds_{0};
    // The JPEG library's handle for raw pictures, and the JPEG they become.
    void* turbo_ = nullptr;
    unsigned char* encoded_ = nullptr;
    unsigned long encodedCapacity_ = 0;
};
