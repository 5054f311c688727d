#include "web/avi_replay.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "core/little_endian.h"
#include "web/mjpeg_stream.h"
#include "web/socket_layer.h"

namespace {

constexpr int kChunkHead = 8;
constexpr int kEntryBytes = 16;
// Where the recorder puts the "movi" list, whether or not the head before it was finished.
constexpr int64_t kRecorderListOffset = 2548;

bool CodeIs(const uint8_t* bytes, const char* code) { return std::memcmp(bytes, code, 4) == 0; }

// "00db", "01dc" and the like: a video stream's picture chunk.
bool IsPictureChunk(const uint8_t* id) {
    return id[0] >= '0' && id[0] <= '9' && id[1] >= '0' && id[1] <= '9' && id[2] == 'd' &&
           (id[3] == 'b' || id[3] == 'c');
}

// Four characters a chunk id may hold; anything else is no chunk.
bool IsChunkId(const uint8_t* id) {
    for (int i = 0; i < 4; ++i) {
        if (id[i] < ' ' || id[i] > '~') return false;
    }
    return true;
}

int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int MsUntil(int64_t deadlineUs) {
    const int64_t left = (deadlineUs - NowUs() + 999) / 1000;
    return left > 0 ? static_cast<int>(std::min<int64_t>(left, 1 << 30)) : 0;
}

}  // namespace

AviReplay::AviReplay(int file, int64_t fileBytes, uint8_t* buffer, std::size_t blockBytes)
    : file_(file), fileBytes_(fileBytes), buffer_(buffer), blockBytes_(blockBytes) {}

bool AviReplay::ReadAt(int64_t offset, void* out, std::size_t bytes) const {
    auto* to = static_cast<uint8_t*>(out);
    if (offset < 0 || offset > fileBytes_ || static_cast<int64_t>(bytes) > fileBytes_ - offset) return false;
    while (bytes > 0) {
        const ssize_t got = pread(file_, to, bytes, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        to += got;
        offset += got;
        bytes -= static_cast<std::size_t>(got);
    }
    return true;
}

bool AviReplay::Open() {
    uint8_t head[12];
    if (!ReadAt(0, head, sizeof head)) return false;
    // A file whose head was never finished still holds its list where the recorder puts it.
    int64_t at = CodeIs(head, "RIFF") && CodeIs(head + 8, "AVI ") ? 12 : kRecorderListOffset;
    for (int i = 0; i < kMaxTopChunks && ReadAt(at, head, sizeof head); ++i) {
        const int64_t bytes = Get32(head + 4);
        const int64_t end = std::min(at + kChunkHead + bytes, fileBytes_);
        if (CodeIs(head, "LIST") && CodeIs(head + 8, "hdrl")) {
            ReadInterval(at + 12, end);
        } else if (CodeIs(head, "LIST") && CodeIs(head + 8, "movi")) {
            moviType_ = at + kChunkHead;
            // A list whose size was never written runs to the end of the file.
            moviEnd_ = bytes < 4 ? fileBytes_ : end;
        } else if (CodeIs(head, "idx1")) {
            indexData_ = at + kChunkHead;
            indexEnd_ = end;
        } else if (!IsChunkId(head)) {
            break;
        }
        at += kChunkHead + bytes + (bytes & 1);
        if (bytes < 4 && CodeIs(head, "LIST")) break;
    }
    if (moviType_ < 0) return false;
    CheckIndex();
    return true;
}

void AviReplay::ReadInterval(int64_t hdrlData, int64_t hdrlEnd) {
    const std::size_t bytes = static_cast<std::size_t>(std::min<int64_t>(hdrlEnd - hdrlData, blockBytes_));
    if (hdrlEnd <= hdrlData || !ReadAt(hdrlData, buffer_, bytes)) return;
    int64_t fromStream = 0;
    int64_t fromHead = 0;
    // avih gives the interval itself; a stream head its scale and rate.
    for (std::size_t p = 0; p + kChunkHead <= bytes;) {
        const uint8_t* chunk = buffer_ + p;
        const uint32_t size = Get32(chunk + 4);
        if (CodeIs(chunk, "LIST")) {
            p += 12;
            continue;
        }
        if (CodeIs(chunk, "avih") && p + kChunkHead + 20 <= bytes) {
            fromHead = Get32(chunk + 8);
            pictures_ = Get32(chunk + 8 + 16);
        }
        if (CodeIs(chunk, "strh") && p + kChunkHead + 28 <= bytes && fromStream == 0 &&
            CodeIs(chunk + 8, "vids")) {
            const int64_t scale = Get32(chunk + 8 + 20);
            const int64_t rate = Get32(chunk + 8 + 24);
            if (rate > 0) fromStream = scale * 1000000 / rate;
        }
        p += kChunkHead + size + (size & 1);
    }
    const int64_t interval = fromHead > 0 ? fromHead : fromStream;
    if (interval > 0) intervalUs_ = std::clamp(interval, kMinIntervalUs, kMaxIntervalUs);
}

void AviReplay::CheckIndex() {
    uint8_t entry[kEntryBytes];
    uint8_t chunk[4];
    // The first picture's entry tells whether the index fits the file; a few others may come before it.
    const int64_t lookEnd = std::min(indexEnd_, indexData_ + int64_t{kEntriesPerRead} * kEntryBytes);
    for (int64_t at = indexData_; indexData_ >= 0 && at + kEntryBytes <= lookEnd; at += kEntryBytes) {
        if (!ReadAt(at, entry, sizeof entry)) break;
        if (!IsPictureChunk(entry)) continue;
        // Offsets count from the list's "movi" type, or, in some writers' files, from the file's start.
        const int64_t offset = Get32(entry + 8);
        for (const int64_t base : {moviType_, int64_t{0}}) {
            if (ReadAt(base + offset, chunk, sizeof chunk) && std::memcmp(chunk, entry, 4) == 0) {
                indexBase_ = base;
                next_ = indexData_;
                return;
            }
        }
        break;
    }
    next_ = moviType_ + 4;
}

bool AviReplay::NextPicture(int64_t* data, uint32_t* bytes) {
    for (;;) {
        const bool found = Indexed() ? NextIndexed(data, bytes) : NextScanned(data, bytes);
        if (!found) return false;
        // A picture that would run past the end of the file is not there.
        if (*bytes > 0 && *bytes <= kMaxPictureBytes && *data >= 0 && *data <= fileBytes_ &&
            *bytes <= fileBytes_ - *data)
            return true;
    }
}

bool AviReplay::NextIndexed(int64_t* data, uint32_t* bytes) {
    for (;;) {
        if (entryAt_ == entriesHeld_) {
            const int64_t left = (indexEnd_ - next_) / kEntryBytes;
            entriesHeld_ = static_cast<int>(std::min<int64_t>(left, kEntriesPerRead));
            entryAt_ = 0;
            if (entriesHeld_ <= 0 ||
                !ReadAt(next_, entries_, static_cast<std::size_t>(entriesHeld_) * kEntryBytes))
                return false;
            next_ += int64_t{entriesHeld_} * kEntryBytes;
        }
        const uint8_t* entry = entries_ + entryAt_++ * kEntryBytes;
        if (!IsPictureChunk(entry)) continue;
        *data = indexBase_ + Get32(entry + 8) + kChunkHead;
        *bytes = Get32(entry + 12);
        return true;
    }
}

bool AviReplay::NextScanned(int64_t* data, uint32_t* bytes) {
    uint8_t head[kChunkHead];
    // Each step moves on by at least a byte, so the walk ends with the list.
    while (next_ + kChunkHead <= moviEnd_ && ReadAt(next_, head, kChunkHead)) {
        if (!IsChunkId(head)) {
            // Most writers pad a chunk of odd length; the recorder puts its chunks back to back.
            if (!padPossible_) return false;
            padPossible_ = false;
            ++next_;
            continue;
        }
        const uint32_t size = Get32(head + 4);
        padPossible_ = (size & 1) != 0;
        if (CodeIs(head, "LIST")) {
            padPossible_ = false;
            next_ += 12;  // into a "rec " list
            continue;
        }
        const int64_t at = next_;
        next_ += kChunkHead + int64_t{size};
        if (IsPictureChunk(head)) {
            *data = at + kChunkHead;
            *bytes = size;
            return true;
        }
    }
    return false;
}

int64_t AviReplay::Run(int socket, double startSeconds, int64_t recordedSeconds, int sendTimeoutMs) {
    const int sendBuffer = MjpegStream::kSendBufferBytes;
    setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    if (SendAllWithin(socket, MjpegStream::kHead, std::strlen(MjpegStream::kHead), sendTimeoutMs) < 0)
        return -1;
    // A picture recorded every few seconds plays faster than it was recorded: the
    // seconds recorded, when known, share the pictures out.
    const double skip =
        recordedSeconds > 0 && pictures_ > 0
            ? startSeconds * static_cast<double>(pictures_) / static_cast<double>(recordedSeconds)
            : startSeconds * 1e6 / static_cast<double>(intervalUs_);
    int64_t data = 0;
    uint32_t bytes = 0;
    for (int64_t i = 0; i < static_cast<int64_t>(skip); ++i) {
        if (!NextPicture(&data, &bytes)) return 0;
    }
    int64_t sent = 0;
    int64_t dueUs = NowUs();
    while (NextPicture(&data, &bytes)) {
        if (!WaitUntil(socket, dueUs) || !SendPicture(socket, data, bytes, sendTimeoutMs)) return -1;
        ++sent;
        // A viewer that fell behind goes on at the file's rate, without a burst to catch up.
        dueUs = std::max(dueUs + intervalUs_, NowUs() - intervalUs_);
    }
    return sent;
}

bool AviReplay::SendPicture(int socket, int64_t data, uint32_t bytes, int sendTimeoutMs) {
    char head[MjpegStream::kPartHeadSize];
    const int headLength = MjpegStream::FormatPartHead(head, sizeof head, static_cast<int32_t>(bytes));
    if (headLength < 0) return false;
    // The whole part, not each block of it, has to go within the send timeout.
    const int64_t deadlineUs = NowUs() + int64_t{sendTimeoutMs} * 1000;
    if (SendAllWithin(socket, head, static_cast<std::size_t>(headLength), MsUntil(deadlineUs), true) < 0)
        return false;
    for (int64_t at = data, end = data + bytes; at < end;) {
        const std::size_t block = static_cast<std::size_t>(std::min<int64_t>(end - at, blockBytes_));
        // A file cut short while it is sent ends the stream; the part's length tells the viewer.
        if (!ReadAt(at, buffer_, block)) return false;
        if (SendAllWithin(socket, buffer_, block, MsUntil(deadlineUs), true) < 0) return false;
        at += static_cast<int64_t>(block);
    }
    return SendAllWithin(socket, MjpegStream::kPartEnd, std::strlen(MjpegStream::kPartEnd),
                         MsUntil(deadlineUs)) >= 0;
}

bool AviReplay::WaitUntil(int socket, int64_t dueUs) const {
    for (;;) {
        const int waitMs = MsUntil(dueUs);
        if (waitMs <= 0) return true;
        // The socket wakes the wait when the viewer leaves or the server shuts it down.
        pollfd viewer{socket, POLLIN | POLLRDHUP, 0};
        const int ready = poll(&viewer, 1, waitMs);
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        if (viewer.revents & (POLLRDHUP | POLLHUP | POLLERR)) return false;
        char sink[256];
        const ssize_t got = recv(socket, sink, sizeof sink, MSG_DONTWAIT);
        // A viewer has nothing more to say; what it sends anyway is dropped.
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return false;
    }
}
