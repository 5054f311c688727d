#pragma once

#include <cstddef>

// The start of every response head: status line, server, no caching, and
// the connection closing after the one answer.
#define VISTREL_HTTP_HEAD(status)           \
    "HTTP/1.1 " status "\r\n"               \
    "Server: Vistrel v" VISTREL_VERSION "\r\n" \
    "Cache-Control: no-cache\r\n"           \
    "Connection: close\r\n"

namespace http_response {

// Room for any head FormatHead writes.
constexpr std::size_t kHeadSize = 192;
// The fixed page showing the picture, head and body.
extern const char kPage[];
// Every name answers this when credentials are wanted and not given right.
extern const char kUnauthorized[];

// Writes the head of a 200 response of type with a body of bytes into out
// (size bytes with its terminating zero); its length, -1 when it does not fit.
// The head carries the length, so a client can tell a body cut short (the
// server stopped or the program ended mid-send) from a whole one.
int FormatHead(char* out, std::size_t size, const char* type, std::size_t bytes);
// Sends that head, then the body; more tells the socket layer the body follows.
bool SendWithHead(int fd, const char* type, const void* body, std::size_t bytes);

}  // namespace http_response
