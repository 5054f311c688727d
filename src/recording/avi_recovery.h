#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Rebuilding of the .tmp files that an interrupted run (crash, power cut,
// kill) leaves with a zeroed header: the complete frames are kept and the
// file is finished exactly as a normal close does.

// Random-access bytes of a file under recovery (a file, or memory for fuzzing).
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual int64_t Size() const = 0;
    // Reads exactly n bytes at offset; false when they are not all there.
    virtual bool Read(int64_t offset, void* out, std::size_t n) const = 0;
};

class MemoryByteSource final : public ByteSource {
public:
    MemoryByteSource(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    int64_t Size() const override { return static_cast<int64_t>(size_); }
    bool Read(int64_t offset, void* out, std::size_t n) const override;

private:
    const uint8_t* data_;
    std::size_t size_;
};

struct RecordingScan {
    bool ours = false;        // our "movi" head at 2548 and a "00db" chunk (or nothing) at 2560
    int32_t frames = 0;       // leading chunks that each hold a whole JPEG
    int64_t endOfFrames = 0;  // end of the last of them
    int64_t dataBytes = 0;    // their JPEG bytes
    int32_t width = 0;        // from the first JPEG's frame header; 0 when it has none
    int32_t height = 0;
};

// Walks the frame chunks from 2560. When index is not null it receives the
// "idx1" entries (16 bytes each, room for maxFrames) of the frames kept.
RecordingScan ScanRecording(const ByteSource& source, uint8_t* index, int32_t maxFrames);

// Picture size from a JPEG's first SOF marker; false when there is none.
bool JpegFrameSize(const ByteSource& source, int64_t offset, int64_t size, int32_t& width, int32_t& height);

enum class RecoveryResult {
    kNotOurs,     // left untouched
    kDeleted,     // fewer than two complete frames
    kRecovered,   // finished and moved to its final name
    kMoveFailed,  // finished, but the final name exists: stays .tmp
    kFailed,      // could not be read or written: left as it was found, or finished but not moved
};

struct RecoveryOutcome {
    RecoveryResult result = RecoveryResult::kNotOurs;
    int32_t frames = 0;
    std::string finalPath;
};

// Opens a left-over file with flags; -1 (outcome says why) where it is a
// link, is no regular file or cannot be opened. size is its length.
int OpenLeftOver(const std::string& path, int flags, RecoveryOutcome& outcome, int64_t& size);

// Rebuilds one temporary file; speedPlay is the header's frame rate.
RecoveryOutcome RecoverTemporaryFile(const std::string& path, int32_t speedPlay);
// Rebuilds every "*.tmp" in folder (which ends with "/"); returns how many became .avi files.
int RecoverTemporaryFiles(const std::string& folder, int32_t speedPlay);
