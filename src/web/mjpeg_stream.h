#pragma once

#include <cstddef>
#include <cstdint>

class WebServer;

// "stream.mjpg": one viewer's multipart/x-mixed-replace response. Each part
// is the newest published picture; a viewer that falls behind skips to the
// newest and never gets a queue of old ones. Runs on the viewer's connection
// thread and holds its slot until the viewer leaves, fails to take a part
// within the send timeout, or the server stops.
class MjpegStream {
public:
    static const char kHead[];
    // Ends each part with the next boundary, so a browser shows it at once
    // rather than when the next picture comes.
    static const char kPartEnd[];
    static constexpr std::size_t kPartHeadSize = 128;
    // Send buffer of a stream socket: a few pictures, so a slow viewer is
    // never handed pictures seconds old.
    static constexpr int kSendBufferBytes = 256 * 1024;
    // Longest wait for a new picture before the viewer's socket is looked at again.
    static constexpr int kWaitSliceMs = 1000;
    // A picture not followed by another within this time is sent once more.
    static constexpr int kRepeatAfterMs = 200;

    // The head of one part for a picture of bytes into out; its length, -1 when it does not fit.
    static int FormatPartHead(char* out, std::size_t size, int32_t bytes);

    // picture: a buffer of the board's capacity for the copy of each picture.
    MjpegStream(WebServer& server, int socket, uint8_t* picture, int sendTimeoutMs);
    MjpegStream(const MjpegStream&) = delete;
    MjpegStream& operator=(const MjpegStream&) = delete;

    // Sends the head, then parts until the stream ends; the count of parts sent.
    int64_t Run();

private:
    bool SendPart(int32_t bytes);
    bool ViewerGone() const;

    WebServer& server_;
    int socket_;
    uint8_t* picture_;
    int sendTimeoutMs_;
};
