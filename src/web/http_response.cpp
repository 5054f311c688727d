#include "web/http_response.h"

#include <cstdio>

#include "web/socket_layer.h"

namespace http_response {

const char kPage[] = VISTREL_HTTP_HEAD("200 OK")
    "Content-Type: text/html\r\n"
    "\r\n"
    "<html><title>Vistrel v" VISTREL_VERSION
    "</title><head><head><body><img src='wwwcam.jpg'></body></html>"
    "\r\n\r\n";

const char kUnauthorized[] = VISTREL_HTTP_HEAD("401 Unauthorized")
    "WWW-Authenticate: Basic realm=\"Vistrel\"\r\n"
    "Content-Type: text/plain\r\n"
    "Content-Length: 23\r\n"
    "\r\n"
    "Authorization required\n";

int FormatHead(char* out, std::size_t size, const char* type, std::size_t bytes) {
    const int length = std::snprintf(out, size, VISTREL_HTTP_HEAD("200 OK") "Content-Type: %s\r\nContent-Length: %zu\r\n\r\n",
                                     type, bytes);
    return length >= 0 && static_cast<std::size_t>(length) < size ? length : -1;
}

bool SendWithHead(int fd, const char* type, const void* body, std::size_t bytes) {
    char head[kHeadSize];
    const int headLength = FormatHead(head, sizeof head, type, bytes);
    return headLength > 0 && SendAll(fd, head, static_cast<std::size_t>(headLength), bytes > 0) >= 0 &&
           (bytes == 0 || SendAll(fd, body, bytes) >= 0);
}

}  // namespace http_response
