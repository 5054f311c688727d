#include "web/recordings_answers.h"

#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>

#include "core/registry.h"
#include "web/avi_replay.h"
#include "web/http_request.h"
#include "web/http_response.h"
#include "web/page_texts.h"
#include "web/recordings_page.h"
#include "web/socket_layer.h"

namespace {

using Kind = RecordingsIndex::Kind;

constexpr char kNotFound[] = VISTREL_HTTP_HEAD("404 Not Found")
    "Content-Type: text/plain\r\n"
    "Content-Length: 10\r\n"
    "\r\n"
    "Not found\n";

constexpr const char* kServedFolders[] = {"recordings", "photos", "thumbs", "levels"};
constexpr const char* kServedNames[] = {"recordings.htm", "recordings.json", "replay.mjpg"};

bool Is(const char* text, const char* expected) { return std::strcmp(text, expected) == 0; }

bool EndsWith(const char* text, const char* end) {
    const std::size_t length = std::strlen(text), endLength = std::strlen(end);
    return length >= endLength && std::strcmp(text + length - endLength, end) == 0;
}

// The number after "key=" in query, fallback when there is none.
long long QueryNumber(const char* query, const char* key, long long fallback) {
    const std::size_t keyLength = std::strlen(key);
    for (const char* p = query; *p != '\0';) {
        if (std::strncmp(p, key, keyLength) == 0 && p[keyLength] == '=') {
            char* end = nullptr;
            const long long value = std::strtoll(p + keyLength + 1, &end, 10);
            return end != p + keyLength + 1 ? value : fallback;
        }
        p = std::strchr(p, '&');
        if (!p) break;
        ++p;
    }
    return fallback;
}

// The text after "key=" in query up to the next "&" into out; false (out "")
// when there is none or it does not fit.
bool QueryText(const char* query, const char* key, char* out, std::size_t size) {
    out[0] = '\0';
    const std::size_t keyLength = std::strlen(key);
    for (const char* p = query; p; p = std::strchr(p, '&')) {
        if (*p == '&') ++p;
        if (std::strncmp(p, key, keyLength) != 0 || p[keyLength] != '=') continue;
        const char* value = p + keyLength + 1;
        const std::size_t length = std::strcspn(value, "&");
        if (length >= size) return false;
        std::memcpy(out, value, length);
        out[length] = '\0';
        return true;
    }
    return false;
}

bool SendWithin(int fd, const void* data, std::size_t bytes, int timeoutMs, bool more = false) {
    return SendAllWithin(fd, data, bytes, timeoutMs, more) >= 0;
}

enum class RangeKind { kWhole, kPart, kUnsatisfiable };

// One "bytes=first-last" range of a file of size bytes (RFC 9110); anything
// this server does not take, several ranges among them, reads as the whole file.
RangeKind ParseRange(const char* text, int64_t size, int64_t* first, int64_t* last) {
    if (std::strncmp(text, "bytes=", 6) != 0 || std::strchr(text, ',')) return RangeKind::kWhole;
    const char* p = text + 6;
    char* end = nullptr;
    if (*p == '-') {
        const long long suffix = std::strtoll(p + 1, &end, 10);
        if (end == p + 1 || *end != '\0' || suffix < 0) return RangeKind::kWhole;
        if (suffix == 0 || size == 0) return RangeKind::kUnsatisfiable;
        *first = size > suffix ? size - suffix : 0;
        *last = size - 1;
        return RangeKind::kPart;
    }
    if (*p < '0' || *p > '9') return RangeKind::kWhole;
    const long long from = std::strtoll(p, &end, 10);
    if (*end != '-') return RangeKind::kWhole;
    p = end + 1;
    long long to = std::numeric_limits<long long>::max();
    if (*p != '\0') {
        to = std::strtoll(p, &end, 10);
        if (end == p || *end != '\0' || to < from) return RangeKind::kWhole;
    }
    if (from >= size) return RangeKind::kUnsatisfiable;
    *first = from;
    *last = to < size ? to : size - 1;
    return RangeKind::kPart;
}

}  // namespace

bool RecordingsAnswers::Serves(const char* folder, const char* name) {
    // Anything below these folders is theirs too, and answered 404 when not listed.
    for (const char* served : kServedFolders) {
        const std::size_t length = std::strlen(served);
        if (std::strncmp(folder, served, length) == 0 && (folder[length] == '\0' || folder[length] == '/'))
            return true;
    }
    if (folder[0] != '\0') return false;
    for (const char* served : kServedNames) {
        if (Is(name, served)) return true;
    }
    return false;
}

bool RecordingsAnswers::Answer(int fd, const HttpRequest& request, uint8_t* buffer, int sendTimeoutMs) {
    index_.Open(registry_.GetString("MoveFilesPath"), registry_.GetString("ShotFilesPath"));
    const char* folder = request.Folder();
    const char* name = request.Name();
    if (Is(folder, "") && Is(name, "recordings.json")) return SendList(fd, request, sendTimeoutMs);
    if (Is(folder, "") && Is(name, "recordings.htm")) {
        const std::string page = page_texts::Fill(registry_, RecordingsPage::kBody);
        char head[http_response::kHeadSize];
        const int headLength =
            http_response::FormatHead(head, sizeof head, "text/html; charset=utf-8", page.size());
        return headLength > 0 &&
               SendWithin(fd, head, static_cast<std::size_t>(headLength), sendTimeoutMs, true) &&
               SendWithin(fd, page.data(), page.size(), sendTimeoutMs);
    }
    if (Is(folder, "") && Is(name, "replay.mjpg")) return SendReplay(fd, request, buffer, sendTimeoutMs);
    if (Is(folder, "recordings")) {
        const char* type = EndsWith(name, ".mp4") ? "video/mp4" : "video/x-msvideo";
        return SendFile(fd, request, Kind::kRecording, name, "", type, buffer, sendTimeoutMs);
    }
    if (Is(folder, "photos")) {
        const char* type = EndsWith(name, ".bmp") ? "image/bmp" : "image/jpeg";
        return SendFile(fd, request, Kind::kPhoto, name, "", type, buffer, sendTimeoutMs);
    }
    if (Is(folder, "levels"))
        return SendFile(fd, request, Kind::kRecording, name, ".levels", "application/octet-stream", buffer,
                        sendTimeoutMs);
    if (Is(folder, "thumbs") && EndsWith(name, ".jpg")) {
        char recording[sizeof RecordingsIndex::Entry::name];
        const std::size_t length = std::strlen(name) - 4;
        if (length < sizeof recording) {
            std::memcpy(recording, name, length);
            recording[length] = '\0';
            return SendFile(fd, request, Kind::kRecording, recording, ".jpg", "image/jpeg", buffer, sendTimeoutMs);
        }
    }
    return SendWithin(fd, kNotFound, sizeof kNotFound - 1, sendTimeoutMs);
}

bool RecordingsAnswers::SendList(int fd, const HttpRequest& request, int sendTimeoutMs) {
    const char* query = request.Query();
    const long long limit = QueryNumber(query, "limit", kDefaultLimit);
    std::string body;
    body.reserve(4096);
    index_.FormatJson(body, static_cast<std::time_t>(QueryNumber(query, "from", 0)),
                      static_cast<std::time_t>(QueryNumber(query, "to", std::numeric_limits<int64_t>::max())),
                      static_cast<int>(limit < 0 ? 0 : limit > kMaxLimit ? kMaxLimit : limit));
    char head[http_response::kHeadSize];
    const int headLength = http_response::FormatHead(head, sizeof head, "application/json", body.size());
    return headLength > 0 && SendWithin(fd, head, static_cast<std::size_t>(headLength), sendTimeoutMs, true) &&
           SendWithin(fd, body.data(), body.size(), sendTimeoutMs);
}

bool RecordingsAnswers::SendFile(int fd, const HttpRequest& request, Kind kind, const char* name,
                                 const char* suffix, const char* type, uint8_t* buffer, int sendTimeoutMs) {
    RecordingsIndex::Entry entry{};
    const int file = index_.OpenFile(kind, name, suffix, &entry);
    if (file < 0) return SendWithin(fd, kNotFound, sizeof kNotFound - 1, sendTimeoutMs);
    char tag[64];
    std::snprintf(tag, sizeof tag, "\"%" PRIx64 "-%llx\"", entry.bytes, static_cast<unsigned long long>(entry.end));
    char modified[64];
    std::tm utc{};
    gmtime_r(&entry.end, &utc);
    std::strftime(modified, sizeof modified, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    int64_t first = 0, last = entry.bytes - 1;
    // A range is taken only for the file the client saw before.
    const bool sameFile = request.IfRange()[0] == '\0' || Is(request.IfRange(), tag) || Is(request.IfRange(), modified);
    const RangeKind range = sameFile ? ParseRange(request.Range(), entry.bytes, &first, &last) : RangeKind::kWhole;
    const bool download = std::strstr(request.Query(), "download") != nullptr;
    char head[768];
    int length = std::snprintf(
        head, sizeof head,
        "%s"
        "Server: Vistrel v" VISTREL_VERSION "\r\nCache-Control: no-cache\r\nConnection: close\r\n"
        "Accept-Ranges: bytes\r\nETag: %s\r\nLast-Modified: %s\r\n",
        range == RangeKind::kPart            ? "HTTP/1.1 206 Partial Content\r\n"
        : range == RangeKind::kUnsatisfiable ? "HTTP/1.1 416 Range Not Satisfiable\r\n"
                                             : "HTTP/1.1 200 OK\r\n",
        tag, modified);
    if (range == RangeKind::kUnsatisfiable) {
        length += std::snprintf(head + length, sizeof head - length,
                                "Content-Range: bytes */%" PRId64 "\r\nContent-Length: 0\r\n\r\n", entry.bytes);
    } else {
        if (range == RangeKind::kPart)
            length += std::snprintf(head + length, sizeof head - length,
                                    "Content-Range: bytes %" PRId64 "-%" PRId64 "/%" PRId64 "\r\n", first, last,
                                    entry.bytes);
        length += std::snprintf(head + length, sizeof head - length,
                                "Content-Type: %s\r\nContent-Length: %" PRId64
                                "\r\nContent-Disposition: %s; filename=\"%s%s\"\r\n\r\n",
                                type, last - first + 1, download ? "attachment" : "inline", name, suffix);
    }
    bool sent = SendWithin(fd, head, static_cast<std::size_t>(length), sendTimeoutMs, true);
    for (int64_t at = first; sent && range != RangeKind::kUnsatisfiable && at <= last;) {
        const std::size_t want = static_cast<std::size_t>(std::min<int64_t>(last - at + 1, kBlockBytes));
        const ssize_t got = pread(file, buffer, want, at);
        // A file cut short while it was sent ends the answer early; the length told says so.
        if (got <= 0) {
            sent = false;
            break;
        }
        at += got;
        sent = SendWithin(fd, buffer, static_cast<std::size_t>(got), sendTimeoutMs, at <= last);
    }
    close(file);
    return sent;
}

bool RecordingsAnswers::SendReplay(int fd, const HttpRequest& request, uint8_t* buffer, int sendTimeoutMs) {
    char name[sizeof RecordingsIndex::Entry::name];
    RecordingsIndex::Entry entry{};
    // Only a listed AVI recording is replayed; an MP4 plays in the browser's own player.
    const bool named = QueryText(request.Query(), "file", name, sizeof name) && EndsWith(name, ".avi");
    const int file = named ? index_.OpenFile(Kind::kRecording, name, "", &entry) : -1;
    if (file < 0) return SendWithin(fd, kNotFound, sizeof kNotFound - 1, sendTimeoutMs);
    // The start is a second of the level strip, which has one byte for each second recorded.
    RecordingsIndex::Entry levels{};
    const int levelFile = index_.OpenFile(Kind::kRecording, name, ".levels", &levels);
    if (levelFile >= 0) close(levelFile);
    AviReplay replay(file, entry.bytes, buffer, kBlockBytes);
    const double start = static_cast<double>(std::max(QueryNumber(request.Query(), "start", 0), 0LL));
    const bool sent = replay.Open() ? replay.Run(fd, start, levelFile >= 0 ? levels.bytes : 0, sendTimeoutMs) >= 0
                                    : SendWithin(fd, kNotFound, sizeof kNotFound - 1, sendTimeoutMs);
    close(file);
    return sent;
}
