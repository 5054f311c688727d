#include "recording/avi_recovery.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "recording/avi_format.h"
#include "recording/avi_recorder.h"
#include "recording/mp4_recovery.h"

namespace {

class FileByteSource final : public ByteSource {
public:
    FileByteSource(int fd, int64_t size) : fd_(fd), size_(size) {}
    int64_t Size() const override { return size_; }
    bool Read(int64_t offset, void* out, std::size_t n) const override {
        auto* bytes = static_cast<uint8_t*>(out);
        while (n > 0) {
            const ssize_t got = pread(fd_, bytes, n, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            bytes += got;
            n -= static_cast<std::size_t>(got);
            offset += got;
        }
        return true;
    }

private:
    int fd_;
    int64_t size_;
};

bool IsMp4Path(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    struct stat info;
    const bool mp4 = fstat(fd, &info) == 0 && IsMp4File(FileByteSource(fd, info.st_size));
    close(fd);
    return mp4;
}

bool IsStartOfFrame(uint8_t marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

}  // namespace

bool MemoryByteSource::Read(int64_t offset, void* out, std::size_t n) const {
    if (offset < 0 || static_cast<uint64_t>(offset) > size_ || n > size_ - static_cast<std::size_t>(offset))
        return false;
    std::memcpy(out, data_ + offset, n);
    return true;
}

bool JpegFrameSize(const ByteSource& source, int64_t offset, int64_t size, int32_t& width, int32_t& height) {
    const int64_t end = offset + size;
    int64_t p = offset + 2;  // past FF D8
    while (p + 4 <= end) {
        uint8_t marker[4];
        if (!source.Read(p, marker, sizeof marker)) return false;
        if (marker[0] != 0xFF) return false;
        if (marker[1] == 0xFF) {  // fill byte
            ++p;
            continue;
        }
        if (marker[1] == 0x01 || (marker[1] >= 0xD0 && marker[1] <= 0xD8)) {  // markers without a length
            p += 2;
            continue;
        }
        if (marker[1] == 0xD9 || marker[1] == 0xDA) return false;  // no frame header before the scan
        if (IsStartOfFrame(marker[1])) {
            uint8_t frame[5];  // precision, height, width
            if (p + 9 > end || !source.Read(p + 4, frame, sizeof frame)) return false;
            height = frame[1] << 8 | frame[2];
            width = frame[3] << 8 | frame[4];
            return width > 0 && height > 0;
        }
        p += 2 + (marker[2] << 8 | marker[3]);
    }
    return false;
}

RecordingScan ScanRecording(const ByteSource& source, uint8_t* index, int32_t maxFrames) {
    RecordingScan scan;
    const int64_t size = source.Size();
    uint8_t movi[12];
    if (size < avi::kHeadBytes || !source.Read(avi::kMoviListOffset, movi, sizeof movi)) return scan;
    if (!avi::CodeIs(movi, "LIST") || !avi::CodeIs(movi + 8, "movi")) return scan;

    int64_t position = avi::kHeadBytes;
    uint8_t chunk[avi::kChunkHeadBytes + 2];
    if (size > position) {
        if (!source.Read(position, chunk, 4) || !avi::CodeIs(chunk, "00db")) return scan;
    }
    scan.ours = true;
    scan.endOfFrames = position;
    while (scan.frames < maxFrames && position + avi::kChunkHeadBytes + 4 <= size) {
        if (!source.Read(position, chunk, sizeof chunk) || !avi::CodeIs(chunk, "00db")) break;
        const int64_t n = avi::ReadU32(chunk + 4);
        const int64_t data = position + avi::kChunkHeadBytes;
        if (n < 4 || n > size - data) break;
        uint8_t tail[2];
        if (chunk[8] != 0xFF || chunk[9] != 0xD8 || !source.Read(data + n - 2, tail, 2) || tail[0] != 0xFF ||
            tail[1] != 0xD9)
            break;
        if (scan.frames == 0 && !JpegFrameSize(source, data, n, scan.width, scan.height)) {
            scan.ours = false;  // a whole picture without a size is none of our writer's
            return scan;
        }
        if (index != nullptr)
            avi::PutIndexEntry(index + avi::kIndexHeadBytes + static_cast<std::size_t>(scan.frames) * avi::kIndexEntryBytes,
                               static_cast<uint32_t>(position), static_cast<uint32_t>(n));
        ++scan.frames;
        scan.dataBytes += n;
        position = data + n;
        scan.endOfFrames = position;
    }
    return scan;
}

int OpenLeftOver(const std::string& path, int flags, RecoveryOutcome& outcome, int64_t& size) {
    const int fd = open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        // A link is none of ours; anything else we could not open stays as it is.
        if (errno != ELOOP) outcome.result = RecoveryResult::kFailed;
        return -1;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return -1;
    }
    size = info.st_size;
    return fd;
}

RecoveryOutcome RecoverTemporaryFile(const std::string& path, int32_t speedPlay) {
    RecoveryOutcome outcome;
    int64_t fileSize = 0;
    const int fd = OpenLeftOver(path, O_RDWR, outcome, fileSize);
    if (fd < 0) return outcome;
    // Every frame chunk takes at least its 8-byte head, so a small file
    // needs only a small index.
    const int64_t fitting = fileSize / 8 + 1;
    const int32_t maxFrames = static_cast<int32_t>(std::min<int64_t>(AviRecorder::kMaxFrames, fitting));
    const std::size_t indexBytes =
        avi::kIndexHeadBytes + static_cast<std::size_t>(maxFrames) * avi::kIndexEntryBytes;
    std::unique_ptr<uint8_t[]> index(new uint8_t[indexBytes]);
    const FileByteSource source(fd, fileSize);
    const RecordingScan scan = ScanRecording(source, index.get(), maxFrames);
    outcome.frames = scan.frames;
    if (!scan.ours) {
        close(fd);
        return outcome;
    }
    if (scan.frames < 2) {
        close(fd);
        unlink(path.c_str());
        outcome.result = RecoveryResult::kDeleted;
        return outcome;
    }
    if (ftruncate(fd, static_cast<off_t>(scan.endOfFrames)) != 0 ||
        avi::FinishFile(fd, scan.endOfFrames, scan.dataBytes, index.get(), scan.frames, scan.width, scan.height,
                        speedPlay) != avi::FinishResult::kDone) {
        close(fd);
        outcome.result = RecoveryResult::kFailed;
        return outcome;
    }
    close(fd);
    outcome.finalPath = avi::FinalName(path, scan.frames);
    outcome.result = avi::MoveNoReplace(path.c_str(), outcome.finalPath.c_str()) ? RecoveryResult::kRecovered
                                                                                    : RecoveryResult::kMoveFailed;
    return outcome;
}

int RecoverTemporaryFiles(const std::string& folder, int32_t speedPlay) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return 0;
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
        const std::size_t length = std::strlen(entry->d_name);
        if (length > 4 && std::strcmp(entry->d_name + length - 4, ".tmp") == 0) names.emplace_back(entry->d_name);
    }
    closedir(dir);

    int recovered = 0;
    for (const std::string& name : names) {
        const RecoveryOutcome outcome = IsMp4Path(folder + name) ? RecoverMp4File(folder + name)
                                                                 : RecoverTemporaryFile(folder + name, speedPlay);
        if (outcome.result == RecoveryResult::kRecovered) {
            ++recovered;
            std::fprintf(stderr, "recording: recovered %s%s with %i frames\n", folder.c_str(), name.c_str(),
                         static_cast<int>(outcome.frames));
        } else if (outcome.result == RecoveryResult::kMoveFailed || outcome.result == RecoveryResult::kFailed) {
            std::fprintf(stderr, "recording: cannot recover %s%s\n", folder.c_str(), name.c_str());
        }
    }
    return recovered;
}
