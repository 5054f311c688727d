#include "recording/pre_record_ring.h"

#include <algorithm>
#include <cstring>

#include "recording/avi_recorder.h"
#include "recording/shot_data.h"

PreRecordRing::PreRecordRing(std::size_t budgetBytes)
    : budget_(budgetBytes), bytes_(new uint8_t[budgetBytes]) {}

void PreRecordRing::Offer(ShotData& shot, AviRecorder& recorder) {
    if (shot.recording.load(std::memory_order_acquire) != 0) {
        if (!wasRecording_ && count_ > 0) WriteKept(shot, recorder);
        wasRecording_ = true;
        return;
    }
    wasRecording_ = false;
    if (Seconds() <= 0) {
        count_ = 0;
        return;
    }
    if (shot.jpegWidth == 0 || shot.jpegBytes <= 0 || shot.jpegBytes > ShotData::kBufferBytes) return;
    if (!recorder.PictureDue(shot)) return;
    Keep(shot.jpeg.get(), shot.jpegBytes, shot.jpegWidth, shot.jpegHeight, shot.captureTime, shot.motionLevel);
    // Kept counts as written: the live pictures follow at the recording interval.
    recorder.NoteWritten(shot);
}

void PreRecordRing::WriteKept(ShotData& shot, AviRecorder& recorder) {
    // Counted back from the newest kept picture, which is the triggering one when it was due.
    const double from = std::min(Newest().time, shot.captureTime) - Seconds();
    recorder.SetActivation(static_cast<Activation>(shot.activation));
    while (count_ > 0) {
        const Picture& picture = Oldest();
        if (Seconds() > 0 && picture.time >= from && picture.time <= shot.captureTime)
            recorder.WritePicture(bytes_.get() + picture.offset, picture.bytes, picture.width,
                                  picture.height, picture.time, nullptr, picture.level);
        DropOldest();
    }
}

void PreRecordRing::Keep(const uint8_t* jpeg, int32_t bytes, int32_t width, int32_t height, double time,
                         int32_t level) {
    if (bytes <= 0 || static_cast<std::size_t>(bytes) > budget_) return;
    // A capture clock that went back starts the ring afresh.
    if (count_ > 0 && time < Newest().time) count_ = 0;
    const double from = time - Seconds();
    while (count_ > 0 && Oldest().time < from) DropOldest();
    if (count_ == kMaxPictures) DropOldest();
    std::size_t offset = 0;
    while (!FindRoom(static_cast<std::size_t>(bytes), offset)) DropOldest();
    std::memcpy(bytes_.get() + offset, jpeg, static_cast<std::size_t>(bytes));
    pictures_[(first_ + count_) % kMaxPictures] = {offset, bytes, width, height, time, level};
    ++count_;
}

std::size_t PreRecordRing::BytesKept() const {
    std::size_t total = 0;
    for (int i = 0; i < count_; ++i)
        total += static_cast<std::size_t>(pictures_[(first_ + i) % kMaxPictures].bytes);
    return total;
}

void PreRecordRing::DropOldest() {
    first_ = (first_ + 1) % kMaxPictures;
    --count_;
    if (count_ == 0) first_ = 0;
}

bool PreRecordRing::FindRoom(std::size_t bytes, std::size_t& offset) {
    if (count_ == 0) {
        offset = 0;
        return true;
    }
    const std::size_t head = Newest().offset + static_cast<std::size_t>(Newest().bytes);
    const std::size_t tail = Oldest().offset;
    if (head > tail) {
        // The kept bytes lie in one piece: back to the start as soon as it has room,
        // so that few pages are ever touched; else after the piece.
        if (tail >= bytes)
            offset = 0;
        else if (budget_ - head >= bytes)
            offset = head;
        else
            return false;
        return true;
    }
    if (tail - head < bytes) return false;
    offset = head;
    return true;
}
