#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <string>

// The byte layout the recorder writes and the recovery rebuilds: a 2560-byte
// head (header area, then the "movi" list head), the frame chunks back to
// back, an optional pad byte, then "idx1".
namespace avi {

constexpr int32_t kMoviListOffset = 2548;
constexpr int32_t kHeadBytes = 2560;        // the first chunk starts here
constexpr int32_t kChunkHeadBytes = 8;      // "00db" and the byte count
constexpr int32_t kIndexHeadBytes = 8;      // "idx1" and its size
constexpr int32_t kIndexEntryBytes = 16;

// Little-endian writer over a caller's fixed buffer; writes past the end are dropped.
class ByteWriter {
public:
    ByteWriter(uint8_t* data, std::size_t capacity) : data_(data), capacity_(capacity) {}
    void U32(uint32_t value);
    void U16(uint16_t value);
    void Code(const char* fourcc);
    void Zeros(std::size_t count);
    // "LIST", a size word filled by EndList, then the type.
    void BeginList(const char* type);
    void EndList();
    void PatchU32(std::size_t offset, uint32_t value);
    std::size_t Position() const { return position_; }

private:
    uint8_t* data_;
    std::size_t capacity_;
    std::size_t position_ = 0;
    std::size_t lists_[10] = {};  // position of each open list's type
    int depth_ = 0;
};

uint32_t ReadU32(const uint8_t* bytes);
bool CodeIs(const uint8_t* bytes, const char* fourcc);

// Head of a new file: zeros up to the "movi" list head, whose size is filled at close.
void BuildEmptyHead(uint8_t (&head)[kHeadBytes]);

struct FileShape {
    int32_t frames = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t rate = 4;         // frames per second
    uint32_t fileLength = 0;  // whole file, index included
    uint32_t moviEnd = 0;     // end of the frame data, pad byte included
};
// The finished head: RIFF header, "hdrl" with "avih", "strl" ("strh", "strf"), JUNK, "movi" head.
void BuildHead(const FileShape& shape, uint8_t (&head)[kHeadBytes]);

// Fills one 16-byte "idx1" entry for the chunk at offset with n JPEG bytes.
void PutIndexEntry(uint8_t* entry, uint32_t offset, uint32_t n);

enum class FinishResult { kDone, kIndexWriteFailed, kHeadWriteFailed };
// After the frames end at endOfFrames: the pad byte when dataBytes is odd,
// the index (index holds kIndexHeadBytes free bytes, then the entries), then
// the head at offset 0; the file is flushed to disk.
FinishResult FinishFile(int fd, int64_t endOfFrames, int64_t dataBytes, uint8_t* index, int32_t entries,
                        int32_t width, int32_t height, int32_t rate);

// Writes all bytes at offset; false on an error or when the disk takes no
// more (errno tells which). The parts are used up as they are written.
bool WriteAllAt(int fd, iovec* parts, int count, int64_t offset);
bool WriteAllAt(int fd, const void* data, std::size_t size, int64_t offset);

// "x.tmp" → "x_0011.avi" (more digits above 9999).
std::string FinalName(const std::string& temporaryPath, int32_t frames);
// Moves a file without ever replacing an existing one.
bool MoveNoReplace(const char* from, const char* to);

}  // namespace avi
