// Feeds arbitrary bytes as one client's request through a socket pair into
// the web server's connection handler, and checks what comes back.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/registry.h"
#include "recording/shot_data.h"
#include "web/web_server.h"

namespace {

Registry* g_registry = nullptr;
ShotData* g_shot = nullptr;
WebServer* g_server = nullptr;
constexpr int kPictureBytes = 3000;

void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz_http: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_registry = new Registry(true);
    g_shot = new ShotData();
    g_registry->SetHandle("_MYSHOTDATA", g_shot);
    g_server = new WebServer(*g_registry);
    g_server->SetReceiveTimeoutMs(50);
    g_shot->jpegBytes = kPictureBytes;
    g_shot->jpegWidth = 64;
    g_shot->jpegHeight = 48;
    std::memset(g_shot->jpeg.get(), 0xAB, kPictureBytes);
    g_server->PublishPicture(*g_shot);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size > 60000) return 0;  // Stays within the socket buffer, so writing never blocks.
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) return 0;
    const int big = 1 << 20;
    for (int fd : ends) {
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    }
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = write(ends[0], data + written, size - written);
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    shutdown(ends[0], SHUT_WR);
    g_server->HandleConnection(ends[1]);  // Closes its end.

    std::string response;
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(ends[0], buffer, sizeof buffer);
        if (n <= 0) break;
        response.append(buffer, static_cast<std::size_t>(n));
    }
    close(ends[0]);

    const std::string request(reinterpret_cast<const char*>(data), size);
    if (response.empty()) return 0;
    std::string lines;  // The reader drops every CR, so only LF ends a line.
    for (char c : request)
        if (c != '\r') lines += c;
    Check(lines.compare(0, 3, "GET") == 0 && lines.substr(0, lines.find('\n')).find('/') != std::string::npos,
          "answered a request line that is not a GET with a /");
    Check(lines.find("\n\n") != std::string::npos,
          "answered before the empty line");
    const bool page = response == WebServer::kPageResponse;
    char head[WebServer::kPictureHeadSize];
    const int headLength = WebServer::FormatPictureHead(head, sizeof head, kPictureBytes);
    const bool picture = headLength > 0 && response.size() == static_cast<std::size_t>(headLength) + kPictureBytes &&
                         response.compare(0, static_cast<std::size_t>(headLength), head) == 0;
    Check(page || picture, "a response that is neither the page nor the whole picture");
    return 0;
}
