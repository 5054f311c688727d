#include "web/mjpeg_stream.h"

#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "core/picture_board.h"
#include "web/http_response.h"
#include "web/socket_layer.h"
#include "web/web_server.h"

namespace {

constexpr int kDefaultSendTimeoutMs = 10000;

}  // namespace

const char MjpegStream::kHead[] = VISTREL_HTTP_HEAD("200 OK")
    "Content-Type: multipart/x-mixed-replace; boundary=vistrelframe\r\n"
    "\r\n"
    "--vistrelframe\r\n";

const char MjpegStream::kPartEnd[] = "\r\n--vistrelframe\r\n";

int MjpegStream::FormatPartHead(char* out, std::size_t size, int32_t bytes) {
    const int length =
        std::snprintf(out, size, "Content-Type: image/jpeg\r\nContent-Length: %d\r\n\r\n",
                      static_cast<int>(bytes > 0 ? bytes : 0));
    return length >= 0 && static_cast<std::size_t>(length) < size ? length : -1;
}

MjpegStream::MjpegStream(WebServer& server, int socket, uint8_t* picture, int sendTimeoutMs)
    : server_(server),
      socket_(socket),
      picture_(picture),
      sendTimeoutMs_(sendTimeoutMs > 0 ? sendTimeoutMs : kDefaultSendTimeoutMs) {}

int64_t MjpegStream::Run() {
    if (!picture_) return 0;
    const int buffer = kSendBufferBytes;
    setsockopt(socket_, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    if (SendAllWithin(socket_, kHead, sizeof kHead - 1, sendTimeoutMs_) < 0) return 0;
    const uint32_t stops = server_.StopCount();
    uint64_t sequence = 0;
    int64_t parts = 0;
    int32_t lastBytes = 0;
    bool repeatDue = false;
    for (;;) {
        // Looked at before each wait, so a viewer that left is not waited for.
        if (ViewerGone()) return parts;
        const int waitMs = repeatDue ? kRepeatAfterMs : kWaitSliceMs;
        const int32_t bytes = server_.Board().CopyNewer(sequence, stops, picture_, waitMs);
        if (server_.StopCount() != stops) return parts;
        if (bytes > 0) {
            lastBytes = bytes;
            repeatDue = true;
        } else if (repeatDue) {
            // Browsers show a part only once the next one has come; a still camera is shown by sending it again.
            repeatDue = false;
        } else {
            continue;
        }
        if (!SendPart(lastBytes)) return parts;
        ++parts;
    }
}

bool MjpegStream::SendPart(int32_t bytes) {
    char head[kPartHeadSize];
    const int headLength = FormatPartHead(head, sizeof head, bytes);
    if (headLength < 0) return false;
    // The whole part, not each piece of it, has to go within the send timeout.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(sendTimeoutMs_);
    auto left = [&deadline] {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        return ms.count() > 0 ? static_cast<int>(ms.count()) : 0;
    };
    return SendAllWithin(socket_, head, static_cast<std::size_t>(headLength), left(), true) >= 0 &&
           SendAllWithin(socket_, picture_, static_cast<std::size_t>(bytes), left(), true) >= 0 &&
           SendAllWithin(socket_, kPartEnd, std::strlen(kPartEnd), left()) >= 0;
}

bool MjpegStream::ViewerGone() const {
    char byte = 0;
    const ssize_t got = recv(socket_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (got > 0) {
        // A viewer has nothing more to say; what it sends anyway is dropped.
        char sink[256];
        (void)recv(socket_, sink, sizeof sink, MSG_DONTWAIT);
        return false;
    }
    return got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}
