#include "recording/pre_record_ring.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "recording/avi_recorder.h"
#include "recording/shot_data.h"

PreRecordRing::PreRecordRing(std::size_t budgetBytes)
    : budget_(budgetBytes), bytes_(new uint8_t[budgetBytes]), turbo_(tjInitCompress()) {}

PreRecordRing::~PreRecordRing() {
    if (turbo_) tjDestroy(turbo_);
    tjFree(encoded_);
}

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

bool PreRecordRing::OfferRaw(ShotData& shot, AviRecorder& recorder) {
    if (shot.recording.load(std::memory_order_acquire) != 0 || Seconds() <= 0 || !turbo_) return false;
    const int32_t width = shot.frameWidth;
    const int32_t height = shot.frameHeight;
    if (width < 1 || height < 1 || int64_t{width} * height * 3 != shot.frameBytes) return false;
    const unsigned long bytes = tjBufSizeYUV2(width, 1, height, TJSAMP_420);
    // At most one picture a recording interval is due, and one more at the
    // edge of the seconds: when they do not all fit raw, encoded ones do.
    const std::size_t due = static_cast<std::size_t>(Seconds()) * 1000 / std::max(recorder.SpeedRecMs(), 1) + 1;
    if (bytes == static_cast<unsigned long>(-1) || due * bytes > budget_) return false;
    wasRecording_ = false;
    if (!recorder.PictureDue(shot)) return true;
    std::size_t offset = 0;
    if (!MakeRoom(bytes, shot.captureTime, offset) ||
        tjEncodeYUV3(static_cast<tjhandle>(turbo_), shot.picture.get(), width, 0, height, TJPF_BGR,
                     bytes_.get() + offset, 1, TJSAMP_420, TJFLAG_BOTTOMUP) != 0)
        return false;
    pictures_[(first_ + count_) % kMaxPictures] = {
        offset, static_cast<int32_t>(bytes), width, height, shot.captureTime, shot.motionLevel,
        std::clamp(shot.quality, 1, 100)};
    ++count_;
    recorder.NoteWritten(shot);
    return true;
}

bool PreRecordRing::EncodeRaw(const Picture& picture, unsigned long& bytes) {
    const unsigned long most = tjBufSize(picture.width, picture.height, TJSAMP_420);
    if (most > encodedCapacity_) {
        tjFree(encoded_);
        encoded_ = tjAlloc(static_cast<int>(most));
        encodedCapacity_ = encoded_ ? most : 0;
    }
    bytes = encodedCapacity_;
    // The accurate transform, as the worker's own encoder uses.
    if (encoded_ && tjCompressFromYUV(static_cast<tjhandle>(turbo_), bytes_.get() + picture.offset, picture.width, 1,
                                      picture.height, TJSAMP_420, &encoded_, &bytes, picture.quality,
                                      TJFLAG_NOREALLOC | TJFLAG_ACCURATEDCT) == 0)
        return true;
    std::fprintf(stderr, "recording: a picture kept before motion could not be encoded: %s\n",
                 tjGetErrorStr2(static_cast<tjhandle>(turbo_)));
    return false;
}

void PreRecordRing::WriteKept(ShotData& shot, AviRecorder& recorder) {
    // Counted back from the newest kept picture, which is the triggering one when it was due.
    const double from = std::min(Newest().time, shot.captureTime) - Seconds();
    recorder.SetActivation(static_cast<Activation>(shot.activation));
    while (count_ > 0) {
        const Picture& picture = Oldest();
        unsigned long encoded = 0;
        if (Seconds() > 0 && picture.time >= from && picture.time <= shot.captureTime) {
            if (picture.quality == 0)
                recorder.WritePicture(bytes_.get() + picture.offset, picture.bytes, picture.width,
                                      picture.height, picture.time, nullptr, picture.level);
            else if (EncodeRaw(picture, encoded))
                recorder.WritePicture(encoded_, static_cast<int32_t>(encoded), picture.width, picture.height,
                                      picture.time, nullptr, picture.level);
        }
        DropOldest();
    }
}

void PreRecordRing::Keep(const uint8_t* jpeg, int32_t bytes, int32_t width, int32_t height, double time,
                         int32_t level) {
    std::size_t offset = 0;
    if (bytes <= 0 || !MakeRoom(static_cast<std::size_t>(bytes), time, offset)) return;
    std::memcpy(bytes_.get() + offset, jpeg, static_cast<std::size_t>(bytes));
    pictures_[(first_ + count_) % kMaxPictures] = {offset, bytes, width, height, time, level, 0};
    ++count_;
}

bool PreRecordRing::MakeRoom(std::size_t bytes, double time, std::size_t& offset) {
    if (bytes > budget_) return false;
    // A capture clock that went back starts the ring afresh.
    if (count_ > 0 && time < Newest().time) count_ = 0;
    const double from = time - Seconds();
    while (count_ > 0 && Oldest().time < from) DropOldest();
    if (count_ == kMaxPictures) DropOldest();
    while (!FindRoom(bytes, offset)) DropOldest();
    return true;
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
