#include "recording/photo_files.h"
#include "core/little_endian.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace {

constexpr int32_t kHeaderBytes = 54;

// Gathers small pieces (padded BMP rows) so that the file gets few, large writes.
class FileWriter {
public:
    FileWriter(const char* path, bool replace)
        : fd_(open(path, O_WRONLY | O_CREAT | O_CLOEXEC | (replace ? O_TRUNC : O_EXCL), 0644)) {}
    ~FileWriter() {
        if (fd_ >= 0) close(fd_);
    }
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    bool Opened() const { return fd_ >= 0; }

    void Write(const uint8_t* data, std::size_t n) {
        if (n >= sizeof stage_) {
            Flush();
            Raw(data, n);
            return;
        }
        if (used_ + n > sizeof stage_) Flush();
        std::memcpy(stage_ + used_, data, n);
        used_ += n;
    }
    // Writes what is staged and closes; a failed close counts as a failed write.
    bool Finish() {
        if (fd_ < 0) return false;
        Flush();
        const bool closed = close(fd_) == 0;
        fd_ = -1;
        return ok_ && closed;
    }

private:
    void Flush() {
        Raw(stage_, used_);
        used_ = 0;
    }
    void Raw(const uint8_t* data, std::size_t n) {
        while (ok_ && n > 0) {
            const ssize_t written = write(fd_, data, n);
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) {
                ok_ = false;
                return;
            }
            data += written;
            n -= static_cast<std::size_t>(written);
        }
    }

    int fd_;
    bool ok_ = true;
    std::size_t used_ = 0;
    uint8_t stage_[65536];
};

}  // namespace

bool WriteBmpFile(const char* path, const uint8_t* pixels, int32_t byteCount, int32_t width, int32_t height,
                  bool replace) {
    FileWriter file(path, replace);
    if (!file.Opened()) return false;
    const bool shaped = byteCount > 0 && width > 0 && height > 0 &&
                        static_cast<int64_t>(width) * height * 3 == static_cast<int64_t>(byteCount);
    const std::size_t rowBytes = shaped ? static_cast<std::size_t>(width) * 3 : 0;
    const std::size_t padding = shaped ? (4 - rowBytes % 4) % 4 : 0;
    const int64_t pixelBytes = shaped ? static_cast<int64_t>(rowBytes + padding) * height : (byteCount > 0 ? byteCount : 0);
    uint8_t header[kHeaderBytes] = {'B', 'M'};
    Put32(header + 2, static_cast<uint32_t>(pixelBytes + kHeaderBytes));
    Put32(header + 10, kHeaderBytes);
    Put32(header + 14, 40);
    Put32(header + 18, static_cast<uint32_t>(width));
    Put32(header + 22, static_cast<uint32_t>(height));
    Put16(header + 26, 1);
    Put16(header + 28, 24);
    file.Write(header, sizeof header);
    if (padding == 0) {
        if (byteCount > 0) file.Write(pixels, static_cast<std::size_t>(byteCount));
    } else {
        static constexpr uint8_t kZeros[4] = {};
        for (int32_t row = 0; row < height; ++row) {
            file.Write(pixels + static_cast<std::size_t>(row) * rowBytes, rowBytes);
            file.Write(kZeros, padding);
        }
    }
    return file.Finish();
}

bool WriteJpegFile(const char* path, const uint8_t* bytes, int32_t byteCount, bool replace) {
    FileWriter file(path, replace);
    if (!file.Opened()) return false;
    if (byteCount > 0) file.Write(bytes, static_cast<std::size_t>(byteCount));
    return file.Finish();
}
