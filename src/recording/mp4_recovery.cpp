#include "recording/mp4_recovery.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "recording/avi_format.h"

namespace {

uint32_t BigU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// Finds the box of type inside [begin, end); its contents in [inner, outer).
bool FindBox(const ByteSource& source, int64_t begin, int64_t end, const char* type, int64_t& inner,
             int64_t& outer) {
    int64_t p = begin;
    while (p + 8 <= end) {
        uint8_t head[16];
        if (!source.Read(p, head, 8)) return false;
        int64_t size = BigU32(head);
        int64_t headBytes = 8;
        if (size == 1) {
            if (p + 16 > end || !source.Read(p + 8, head + 8, 8)) return false;
            size = static_cast<int64_t>(BigU32(head + 8)) << 32 | BigU32(head + 12);
            headBytes = 16;
        } else if (size == 0) {
            size = end - p;  // to the end
        }
        if (size < headBytes || size > end - p) return false;
        if (std::memcmp(head + 4, type, 4) == 0) {
            inner = p + headBytes;
            outer = p + size;
            return true;
        }
        p += size;
    }
    return false;
}

class FileSource final : public ByteSource {
public:
    FileSource(int fd, int64_t size) : fd_(fd), size_(size) {}
    int64_t Size() const override { return size_; }
    bool Read(int64_t offset, void* out, std::size_t n) const override {
        return pread(fd_, out, n, static_cast<off_t>(offset)) == static_cast<ssize_t>(n);
    }

private:
    int fd_;
    int64_t size_;
};

}  // namespace

bool IsMp4File(const ByteSource& source) {
    uint8_t head[8];
    return source.Read(0, head, sizeof head) && std::memcmp(head + 4, "ftyp", 4) == 0;
}

int32_t Mp4PictureCount(const ByteSource& source) {
    const char* const path[] = {"moov", "trak", "mdia", "minf", "stbl", "stsz"};
    int64_t begin = 0;
    int64_t end = source.Size();
    for (const char* type : path)
        if (!FindBox(source, begin, end, type, begin, end)) return -1;
    uint8_t stsz[12];  // version and flags, sample size, sample count
    if (end - begin < 12 || !source.Read(begin, stsz, sizeof stsz)) return -1;
    const uint32_t count = BigU32(stsz + 8);
    return count > 0x7FFFFFFF ? -1 : static_cast<int32_t>(count);
}

std::string Mp4FinalName(const std::string& temporaryPath, int32_t pictures) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "_%04i.mp4", static_cast<int>(pictures));
    return temporaryPath.substr(0, temporaryPath.size() - 4) + suffix;
}

RecoveryOutcome RecoverMp4File(const std::string& path) {
    RecoveryOutcome outcome;
    int64_t fileSize = 0;
    const int fd = OpenLeftOver(path, O_RDONLY, outcome, fileSize);
    if (fd < 0) return outcome;
    const FileSource source(fd, fileSize);
    const bool mp4 = IsMp4File(source);
    const int32_t pictures = mp4 ? Mp4PictureCount(source) : -1;
    close(fd);
    if (!mp4) return outcome;
    outcome.frames = pictures < 0 ? 0 : pictures;
    if (outcome.frames < 2) {
        unlink(path.c_str());
        outcome.result = RecoveryResult::kDeleted;
        return outcome;
    }
    outcome.finalPath = Mp4FinalName(path, outcome.frames);
    outcome.result = avi::MoveNoReplace(path.c_str(), outcome.finalPath.c_str()) ? RecoveryResult::kRecovered
                                                                                    : RecoveryResult::kMoveFailed;
    return outcome;
}
