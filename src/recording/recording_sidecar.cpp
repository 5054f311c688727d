#include "recording/recording_sidecar.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "recording/jpeg_encoder.h"

namespace {

constexpr const char* kPartSuffix = ".part";

// Writes the parts into path's temporary twin, syncs it and moves it over path;
// 0, or the errno of the step that failed (the twin is then gone).
int WriteReplacing(std::string& path, const iovec* parts, int count) {
    const std::size_t finalLength = path.size();
    path += kPartSuffix;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    int error = fd < 0 ? errno : 0;
    std::size_t total = 0;
    for (int i = 0; i < count; ++i) total += parts[i].iov_len;
    if (fd >= 0) {
        const ssize_t written = writev(fd, parts, count);
        if (written < 0) error = errno;
        else if (static_cast<std::size_t>(written) != total) error = ENOSPC;
        // The final name must never show a file whose bytes are not on disk.
        if (error == 0 && fdatasync(fd) != 0) error = errno;
        if (close(fd) != 0 && error == 0) error = errno;
    }
    const std::string part = path;
    path.resize(finalLength);
    if (error == 0 && rename(part.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0 && fd >= 0) unlink(part.c_str());
    return error;
}

}  // namespace

RecordingSidecar::RecordingSidecar(std::function<void(const char*)> written)
    : levels_(new uint8_t[kMaxSeconds]),
      thumb_(new uint8_t[static_cast<std::size_t>(kThumbWidth) * kMaxThumbHeight * 3]),
      writtenNotice_(std::move(written)),
      encoder_(std::make_unique<JpegEncoder>()) {
    written_.levels.reset(new uint8_t[kMaxSeconds]);
    written_.thumb.reset(new uint8_t[static_cast<std::size_t>(kThumbWidth) * kMaxThumbHeight * 3]);
    written_.finalPath.reserve(1024);
    path_.reserve(1024);
    writer_ = StartThread(WriterEntry, this, 0);
}

RecordingSidecar::~RecordingSidecar() {
    Flush();
    if (writer_) {
        stop_.store(true, std::memory_order_release);
        wake_.Signal();
        writer_.Join();
    }
}

void RecordingSidecar::WriterEntry(ThreadStart* start) { static_cast<RecordingSidecar*>(start->object)->WriterLoop(); }

void RecordingSidecar::WriterLoop() {
    for (;;) {
        wake_.WaitFor(1000);
        if (busy_.load(std::memory_order_acquire)) {
            WriteGathered();
            busy_.store(false, std::memory_order_release);
            idle_.Signal();
        }
        if (stop_.load(std::memory_order_acquire)) return;
    }
}

void RecordingSidecar::Flush() {
    while (busy_.load(std::memory_order_acquire)) idle_.WaitFor(100);
}

void RecordingSidecar::Start(Activation activation) {
    started_ = enabled_;
    activation_ = activation;
    seconds_ = 0;
    thumbWidth_ = thumbHeight_ = 0;
}

void RecordingSidecar::Note(double time, int32_t level, const uint8_t* pixels, int32_t width, int32_t height) {
    if (!started_) return;
    if (seconds_ == 0) firstTime_ = time;
    // A picture from before the first (a capture clock that went back) counts to the first second.
    const double offset = std::max(0.0, time - firstTime_);
    if (offset < kMaxSeconds) {
        const int32_t second = static_cast<int32_t>(offset);
        if (second >= seconds_) {
            std::memset(levels_.get() + seconds_, 0, static_cast<std::size_t>(second + 1 - seconds_));
            seconds_ = second + 1;
        }
        const uint8_t clamped = static_cast<uint8_t>(std::clamp(level, 0, 100));
        if (clamped > levels_[second]) levels_[second] = clamped;
    }
    if (thumbWidth_ == 0 && pixels != nullptr && width > 0 && height > 0) Shrink(pixels, width, height);
}

void RecordingSidecar::Shrink(const uint8_t* pixels, int32_t width, int32_t height) {
    int32_t w = std::min(kThumbWidth, width);
    int32_t h = std::max<int32_t>(1, static_cast<int32_t>(std::lround(static_cast<double>(height) * w / width)));
    if (h > kMaxThumbHeight) {
        h = kMaxThumbHeight;
        w = std::max<int32_t>(1, static_cast<int32_t>(std::lround(static_cast<double>(width) * h / height)));
    }
    // Each thumbnail pixel is the mean of four samples at the quarters of its
    // box: smooth enough for a picture this small, and the same cost whatever the picture's size.
    int32_t columns[2][kThumbWidth];
    for (int32_t x = 0; x < w; ++x) {
        const int64_t x0 = static_cast<int64_t>(x) * width / w;
        const int64_t span = std::max<int64_t>(1, static_cast<int64_t>(x + 1) * width / w - x0);
        columns[0][x] = static_cast<int32_t>(x0 + span / 4) * 3;
        columns[1][x] = static_cast<int32_t>(x0 + span * 3 / 4) * 3;
    }
    const std::size_t stride = static_cast<std::size_t>(width) * 3;
    uint8_t* out = thumb_.get();
    for (int32_t y = 0; y < h; ++y) {
        const int64_t y0 = static_cast<int64_t>(y) * height / h;
        const int64_t span = std::max<int64_t>(1, static_cast<int64_t>(y + 1) * height / h - y0);
        const uint8_t* rows[2] = {pixels + static_cast<std::size_t>(y0 + span / 4) * stride,
                                  pixels + static_cast<std::size_t>(y0 + span * 3 / 4) * stride};
        for (int32_t x = 0; x < w; ++x) {
            for (int channel = 0; channel < 3; ++channel) {
                const unsigned sum = rows[0][columns[0][x] + channel] + rows[0][columns[1][x] + channel] +
                                     rows[1][columns[0][x] + channel] + rows[1][columns[1][x] + channel];
                *out++ = static_cast<uint8_t>((sum + 2) / 4);
            }
        }
    }
    thumbWidth_ = w;
    thumbHeight_ = h;
}

bool RecordingSidecar::Write(const std::string& finalPath) {
    if (!started_) return false;
    started_ = false;
    Flush();
    // The gathered buffers change places with the written ones: nothing is copied.
    std::swap(levels_, written_.levels);
    std::swap(thumb_, written_.thumb);
    written_.finalPath.assign(finalPath);
    written_.activation = activation_;
    written_.seconds = seconds_;
    written_.thumbWidth = thumbWidth_;
    written_.thumbHeight = thumbHeight_;
    busy_.store(true, std::memory_order_release);
    if (writer_) {
        wake_.Signal();
    } else {
        WriteGathered();
        busy_.store(false, std::memory_order_release);
    }
    return true;
}

void RecordingSidecar::WriteGathered() {
    const std::string& finalPath = written_.finalPath;
    const std::size_t slash = finalPath.rfind('/');
    const std::string folder = finalPath.substr(0, slash + 1) + kFolder;
    const char* name = finalPath.c_str() + (slash == std::string::npos ? 0 : slash + 1);
    bool whole = true;
    if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
        SayFailure(folder, errno);
        whole = false;
    } else {
        if (written_.seconds > 0) {
            path_.assign(folder).append(name).append(".levels");
            const iovec part{written_.levels.get(), static_cast<std::size_t>(written_.seconds)};
            if (const int error = WriteReplacing(path_, &part, 1); error != 0) {
                SayFailure(path_, error);
                whole = false;
            }
        }
        if (written_.thumbWidth > 0 && !WriteThumbnail(folder, name)) whole = false;
    }
    if (whole) said_ = false;
    if (writtenNotice_) writtenNotice_(finalPath.c_str());
}

bool RecordingSidecar::WriteThumbnail(const std::string& folder, const char* name) {
    path_.assign(folder).append(name).append(".jpg");
    if (!encoder_->EncodePicture(written_.thumb.get(), written_.thumbWidth, written_.thumbHeight, kThumbQuality) ||
        encoder_->Sink().Length() < 4) {
        SayFailure(path_, EINVAL);
        return false;
    }
    // The comment goes right after the start of image, where the index reads it.
    char comment[48];
    const int textBytes = std::snprintf(comment + 4, sizeof comment - 4, "activation=%s", ActivationName(written_.activation));
    const int segmentBytes = textBytes + 2;
    comment[0] = static_cast<char>(0xFF);
    comment[1] = static_cast<char>(0xFE);
    comment[2] = static_cast<char>(segmentBytes >> 8);
    comment[3] = static_cast<char>(segmentBytes & 0xFF);
    const uint8_t* jpeg = encoder_->Sink().Data();
    const iovec parts[3] = {{const_cast<uint8_t*>(jpeg), 2},
                            {comment, static_cast<std::size_t>(segmentBytes + 2)},
                            {const_cast<uint8_t*>(jpeg + 2), encoder_->Sink().Length() - 2}};
    if (const int error = WriteReplacing(path_, parts, 3); error != 0) {
        SayFailure(path_, error);
        return false;
    }
    return true;
}

void RecordingSidecar::SayFailure(const std::string& path, int error) {
    if (said_) return;
    said_ = true;
    std::fprintf(stderr, "recording: cannot write the side file %s: %s\n", path.c_str(), std::strerror(error));
}

void RemoveSideFiles(int dirFd, const char* name) {
    char path[512];
    for (const char* suffix : {".jpg", ".levels"}) {
        std::snprintf(path, sizeof path, "%s%s%s", RecordingSidecar::kFolder, name, suffix);
        if (unlinkat(dirFd, path, 0) != 0 && errno != ENOENT && errno != ENOTDIR)
            std::fprintf(stderr, "retention: cannot delete %s: %s\n", path, std::strerror(errno));
    }
}
