#include "web/http_request.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "web/socket_layer.h"

namespace {

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

bool HttpRequest::ParseRequestLine(const char* line) {
    name_[0] = '\0';
    if (std::strncmp(line, "GET", 3) != 0) return false;
    const char* p = line + 3;
    while (*p != '\0' && IsBlank(*p)) ++p;
    const char* target = p;
    // The query and the fragment never choose the answer.
    while (*p != '\0' && !IsBlank(*p) && *p != '?' && *p != '#') ++p;
    const char* slash = nullptr;
    for (const char* q = target; q < p; ++q) {
        if (*q == '/') slash = q;
    }
    if (!slash) return false;
    const std::size_t length = static_cast<std::size_t>(p - slash - 1);
    if (length >= sizeof name_) return false;
    std::memcpy(name_, slash + 1, length);
    name_[length] = '\0';
    return true;
}

void HttpRequest::TakeHeaderLine(const char* line) {
    static constexpr char kKey[] = "Authorization:";
    if (strncasecmp(line, kKey, sizeof kKey - 1) != 0) return;
    const char* value = line + sizeof kKey - 1;
    while (*value != '\0' && IsBlank(*value)) ++value;
    std::size_t length = std::strlen(value);
    while (length > 0 && IsBlank(value[length - 1])) --length;
    length = std::min(length, sizeof authorization_ - 1);
    std::memcpy(authorization_, value, length);
    authorization_[length] = '\0';
}

bool HttpRequest::Read(int fd) {
    authorization_[0] = '\0';
    char line[kLineSize];
    if (ReadLine(fd, line, sizeof line) < 10) return false;
    if (!ParseRequestLine(line)) return false;
    for (;;) {
        const int length = ReadLine(fd, line, sizeof line);
        if (length < 0) return false;
        if (length == 0) return true;
        TakeHeaderLine(line);
    }
}

HttpRequest::Resource HttpRequest::Route() const {
    if (name_[0] == '\0' || std::strcmp(name_, "index.htm") == 0) return Resource::kPage;
    if (std::strcmp(name_, "stream.mjpg") == 0) return Resource::kStream;
    if (std::strcmp(name_, "live.htm") == 0) return Resource::kLivePage;
    if (std::strcmp(name_, "status.json") == 0) return Resource::kStatus;
    return Resource::kPicture;
}
