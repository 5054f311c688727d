#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <jpeglib.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace webtest {

inline const std::string kPageResponse =
    "HTTP/1.1 200 OK\r\nServer: Vistrel v" VISTREL_VERSION "\r\nCache-Control: no-cache\r\nConnection: close\r\n"
    "Content-Type: text/html\r\n\r\n"
    "<html><title>Vistrel v" VISTREL_VERSION "</title><head><head><body><img src='wwwcam.jpg'></body></html>\r\n\r\n";
// The picture response head for a body of the given length.
inline std::string PictureHead(std::size_t bytes) {
    return "HTTP/1.1 200 OK\r\nServer: Vistrel v" VISTREL_VERSION "\r\nCache-Control: no-cache\r\nConnection: close\r\n"
           "Content-Type: image/jpeg\r\nContent-Length: " +
           std::to_string(bytes) + "\r\n\r\n";
}

// A port that was free a moment ago (the kernel's pick for port 0).
inline int FreePort() {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(probe);
    return port;
}

// A connected client socket, -1 when the connection is refused.
inline int ConnectTo(int port, int receiveBufferBytes = 0) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBufferBytes > 0) {
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// A client socket connected from the loopback address source (127.x.y.z), -1 when refused.
inline int ConnectFrom(const char* source, int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, source, &local.sin_addr);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

inline bool SendRaw(int fd, const std::string& text) {
    return send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

struct Reply {
    std::string bytes;
    bool closed = false;  // The server ended the connection (FIN or reset) in time.
};

inline Reply ReadUntilClosed(int fd, int timeoutMs) {
    Reply reply;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[65536];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) return reply;
        pollfd readable{fd, POLLIN, 0};
        const int ready = poll(&readable, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return reply;
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            reply.closed = true;
            return reply;
        }
        reply.bytes.append(buffer, static_cast<std::size_t>(got));
    }
}

// True when fd has nothing to read (and was not closed) within waitMs.
inline bool StaysSilent(int fd, int waitMs) {
    pollfd readable{fd, POLLIN, 0};
    return poll(&readable, 1, waitMs) == 0;
}

// Sends a raw request and returns everything up to the server's close.
inline Reply Exchange(int port, const std::string& request, int timeoutMs = 20000) {
    const int fd = ConnectTo(port);
    if (fd < 0) return {};
    // A server that already closed may refuse the send; what it sent still counts.
    SendRaw(fd, request);
    const Reply reply = ReadUntilClosed(fd, timeoutMs);
    close(fd);
    return reply;
}

inline std::string Get(const std::string& target) {
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\n\r\n";
}

// Packed RGB rows, top row first, as a JPEG of that quality.
inline std::vector<uint8_t> RgbJpeg(const std::vector<uint8_t>& rgb, int width, int height, int quality) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr error{};
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outBytes = 0;
    jpeg_mem_dest(&cinfo, &out, &outBytes);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(&rgb[static_cast<std::size_t>(cinfo.next_scanline) * width * 3]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> jpeg(out, out + outBytes);
    jpeg_destroy_compress(&cinfo);
    free(out);
    return jpeg;
}

// A width x height JPEG with four solid quarters: red, green / blue, black.
inline std::vector<uint8_t> QuarterJpeg(int width, int height, int quality = 90) {
    std::vector<uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
            const bool right = x >= width / 2;
            const bool bottom = y >= height / 2;
            p[0] = !bottom && !right ? 255 : 0;
            p[1] = !bottom && right ? 255 : 0;
            p[2] = bottom && !right ? 255 : 0;
        }
    }
    return RgbJpeg(rgb, width, height, quality);
}

// A width x height JPEG of one grey shade, at libjpeg's default quality.
inline std::vector<uint8_t> ShadedJpeg(int width, int height, uint8_t shade) {
    return RgbJpeg(std::vector<uint8_t>(static_cast<std::size_t>(width) * height * 3, shade), width, height, 75);
}

}  // namespace webtest
