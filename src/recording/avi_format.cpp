#include "recording/avi_format.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace avi {

void ByteWriter::U32(uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        if (position_ < capacity_) data_[position_] = static_cast<uint8_t>(value >> (8 * i));
        ++position_;
    }
}

void ByteWriter::U16(uint16_t value) {
    for (int i = 0; i < 2; ++i) {
        if (position_ < capacity_) data_[position_] = static_cast<uint8_t>(value >> (8 * i));
        ++position_;
    }
}

void ByteWriter::Code(const char* fourcc) {
    for (int i = 0; i < 4; ++i) {
        if (position_ < capacity_) data_[position_] = static_cast<uint8_t>(fourcc[i]);
        ++position_;
    }
}

void ByteWriter::Zeros(std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (position_ < capacity_) data_[position_] = 0;
        ++position_;
    }
}

void ByteWriter::BeginList(const char* type) {
    Code("LIST");
    U32(0);
    if (depth_ < 10) lists_[depth_++] = position_;
    Code(type);
}

void ByteWriter::EndList() {
    if (depth_ == 0) return;
    const std::size_t type = lists_[--depth_];
    PatchU32(type - 4, static_cast<uint32_t>(position_ - type));
}

void ByteWriter::PatchU32(std::size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        if (offset + i < capacity_) data_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t ReadU32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

bool CodeIs(const uint8_t* bytes, const char* fourcc) { return std::memcmp(bytes, fourcc, 4) == 0; }

void BuildEmptyHead(uint8_t (&head)[kHeadBytes]) {
    ByteWriter out(head, kHeadBytes);
    out.Zeros(kMoviListOffset);
    out.BeginList("movi");
}

void BuildHead(const FileShape& shape, uint8_t (&head)[kHeadBytes]) {
    const int32_t rate = shape.rate > 0 ? shape.rate : 4;
    const uint32_t microSecPerFrame = static_cast<uint32_t>(1000000 / rate);
    const auto frames = static_cast<uint32_t>(shape.frames);
    const auto width = static_cast<uint32_t>(shape.width);
    const auto height = static_cast<uint32_t>(shape.height);

    ByteWriter out(head, kHeadBytes);
    out.Code("RIFF");
    out.U32(shape.fileLength - 8);
    out.Code("AVI ");
    out.BeginList("hdrl");

    out.Code("avih");
    out.U32(56);
    out.U32(microSecPerFrame);
    out.U32(10000000);  // max bytes per second
    out.U32(0);         // padding granularity
    out.U32(0x00010010);  // has index, was capture file
    out.U32(frames);
    out.U32(0);  // initial frames
    out.U32(1);  // streams
    out.U32(0);  // suggested buffer size
    out.U32(width);
    out.U32(height);
    out.Zeros(16);

    out.BeginList("strl");
    out.Code("strh");
    out.U32(64);
    out.Code("vids");
    out.Code("MJPG");
    out.U32(0);  // flags
    out.U32(0);  // priority and language
    out.U32(0);  // initial frames
    out.U32(microSecPerFrame);  // scale
    out.U32(1000000);           // rate
    out.U32(0);                 // start
    out.U32(frames);            // length
    out.U32(0);                 // suggested buffer size
    out.U32(0xFFFFFFFFu);       // quality
    out.U32(0);                 // sample size
    out.Zeros(16);              // frame rectangle as four words

    out.Code("strf");
    out.U32(68);
    out.U32(68);  // biSize
    out.U32(width);
    out.U32(height);
    out.U16(1);   // planes
    out.U16(24);  // bit count
    out.Code("MJPG");
    out.U32(width * height);  // biSizeImage
    out.U32(0);
    out.U32(0);
    out.U32(0);
    out.U32(0);
    out.U32(44);  // offset of the Motion-JPEG extension
    out.U32(24);  // JPEG info size
    out.U32(0);   // baseline
    out.U32(2);   // YCbCr
    out.U32(8);   // bits per sample
    out.U32(2);   // horizontal subsampling
    out.U32(1);   // vertical subsampling
    out.EndList();
    out.EndList();

    const auto junk = static_cast<uint32_t>(kHeadBytes - out.Position() - 20);
    out.Code("JUNK");
    out.U32(junk);
    out.Zeros(junk);

    out.BeginList("movi");
    out.PatchU32(kMoviListOffset + 4, shape.moviEnd - (kMoviListOffset + 8));
}

void PutIndexEntry(uint8_t* entry, uint32_t offset, uint32_t n) {
    ByteWriter out(entry, kIndexEntryBytes);
    out.Code("00db");
    out.U32(0x10);  // key frame
    out.U32(offset);
    out.U32(n);
}

bool WriteAllAt(int fd, iovec* parts, int count, int64_t offset) {
    for (;;) {
        while (count > 0 && parts->iov_len == 0) {
            ++parts;
            --count;
        }
        if (count == 0) return true;
        const ssize_t written = pwritev(fd, parts, count, static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        offset += written;
        auto left = static_cast<size_t>(written);
        while (count > 0 && left >= parts->iov_len) {
            left -= parts->iov_len;
            ++parts;
            --count;
        }
        if (count > 0) {
            parts->iov_base = static_cast<uint8_t*>(parts->iov_base) + left;
            parts->iov_len -= left;
        }
    }
}

bool WriteAllAt(int fd, const void* data, std::size_t size, int64_t offset) {
    iovec part{const_cast<void*>(data), size};
    return WriteAllAt(fd, &part, 1, offset);
}

FinishResult FinishFile(int fd, int64_t endOfFrames, int64_t dataBytes, uint8_t* index, int32_t entries,
                        int32_t width, int32_t height, int32_t rate) {
    int64_t end = endOfFrames;
    if (dataBytes % 2 != 0) {
        const uint8_t pad = 1;
        WriteAllAt(fd, &pad, 1, end);
        ++end;
    }
    const uint32_t indexSize = static_cast<uint32_t>(entries) * kIndexEntryBytes;
    ByteWriter indexHead(index, kIndexHeadBytes);
    indexHead.Code("idx1");
    indexHead.U32(indexSize);
    if (!WriteAllAt(fd, index, kIndexHeadBytes + indexSize, end)) return FinishResult::kIndexWriteFailed;

    FileShape shape;
    shape.frames = entries;
    shape.width = width;
    shape.height = height;
    shape.rate = rate;
    shape.fileLength = static_cast<uint32_t>(end + kIndexHeadBytes + indexSize);
    shape.moviEnd = static_cast<uint32_t>(end);
    uint8_t head[kHeadBytes];
    BuildHead(shape, head);
    if (!WriteAllAt(fd, head, kHeadBytes, 0)) return FinishResult::kHeadWriteFailed;
    fdatasync(fd);  // the final name must not appear before the bytes are on disk
    return FinishResult::kDone;
}

std::string FinalName(const std::string& temporaryPath, int32_t frames) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, "_%04i.avi", static_cast<int>(frames));
    const std::size_t stem = temporaryPath.size() >= 4 ? temporaryPath.size() - 4 : 0;
    return temporaryPath.substr(0, stem) + suffix;
}

bool MoveNoReplace(const char* from, const char* to) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
    // File systems without the flag: a hard link fails on an existing name too.
    if (link(from, to) != 0) return false;
    unlink(from);
    return true;
}

}  // namespace avi
