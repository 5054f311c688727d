#pragma once

#include <cstddef>
#include <cstdint>

// "replay.mjpg": a Motion-JPEG AVI recording sent as a multipart stream in
// the part format of "stream.mjpg", paced at the file's own picture
// interval, from a given second on. Each part is one stored picture as it
// lies in the file, read with pread in blocks into the caller's buffer; no
// picture is decoded and nothing is allocated per picture. The pictures are
// found through the file's "idx1" index or, in a file without a usable one,
// by walking the chunks of its "movi" list. Runs on the viewer's connection
// thread until the pictures end, the viewer leaves or cannot take a part
// within the send timeout, or the server shuts the socket down.
class AviReplay {
public:
    // The interval when the head gives none, and the range taken from it.
    static constexpr int64_t kDefaultIntervalUs = 250000;
    static constexpr int64_t kMinIntervalUs = 1000;
    static constexpr int64_t kMaxIntervalUs = 10000000;
    // Chunks looked at before the "movi" list, and index entries read at once.
    static constexpr int kMaxTopChunks = 64;
    static constexpr int kEntriesPerRead = 256;
    // A larger chunk is no picture of a recording.
    static constexpr uint32_t kMaxPictureBytes = 64u << 20;

    // file stays open and owned by the caller; buffer holds blockBytes (at least 4 KB).
    AviReplay(int file, int64_t fileBytes, uint8_t* buffer, std::size_t blockBytes);

    // Reads the head: the picture interval, the "movi" list and the index.
    // False when the file is no AVI with a "movi" list.
    bool Open();
    int64_t IntervalUs() const { return intervalUs_; }
    bool Indexed() const { return indexBase_ >= 0; }

    // Sends the stream head, then the pictures from startSeconds on; the
    // count of pictures sent, -1 when the viewer was lost before the end.
    // startSeconds counts in the time the file plays, or, when recordedSeconds
    // (how long the recording took) is above 0, in the time it was recorded.
    int64_t Run(int socket, double startSeconds, int64_t recordedSeconds, int sendTimeoutMs);

private:
    bool ReadAt(int64_t offset, void* out, std::size_t bytes) const;
    void ReadInterval(int64_t hdrlData, int64_t hdrlEnd);
    void CheckIndex();
    // The next video chunk's data and size, in file order; false at the end.
    bool NextPicture(int64_t* data, uint32_t* bytes);
    bool NextIndexed(int64_t* data, uint32_t* bytes);
    bool NextScanned(int64_t* data, uint32_t* bytes);
    bool SendPicture(int socket, int64_t data, uint32_t bytes, int sendTimeoutMs);
    // Waits until the steady clock reaches dueUs (µs) or the viewer leaves; false when it left.
    bool WaitUntil(int socket, int64_t dueUs) const;

    int file_;
    int64_t fileBytes_;
    uint8_t* buffer_;
    std::size_t blockBytes_;
    int64_t intervalUs_ = kDefaultIntervalUs;
    int64_t pictures_ = 0;   // as the head counts them
    int64_t moviType_ = -1;  // offset of the list's "movi" type, from which index offsets count
    int64_t moviEnd_ = 0;
    int64_t indexData_ = -1;
    int64_t indexEnd_ = 0;
    int64_t indexBase_ = -1;  // added to an entry's offset; -1 without a usable index
    // Where the walk through the index or the list has come to.
    int64_t next_ = 0;
    uint8_t entries_[kEntriesPerRead * 16] = {};
    int entriesHeld_ = 0;
    int entryAt_ = 0;
    bool padPossible_ = false;  // the chunk before was of odd length
};
