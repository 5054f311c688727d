#include "web/http_request.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "web/socket_layer.h"

namespace {

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// The name up to its query, compared with one of the added names.
bool NameIs(const char* name, const char* wanted) {
    const std::size_t length = std::strcspn(name, "?");
    return length == std::strlen(wanted) && std::memcmp(name, wanted, length) == 0;
}

}  // namespace

bool HttpRequest::ParseRequestLine(const char* line) {
    name_[0] = '\0';
    if (std::strncmp(line, "GET", 3) != 0) return false;
    const char* p = line + 3;
    while (*p != '\0' && IsBlank(*p)) ++p;
    const char* target = p;
    while (*p != '\0' && !IsBlank(*p)) ++p;
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
    if (NameIs(name_, "stream.mjpg")) return Resource::kStream;
    if (NameIs(name_, "live.htm")) return Resource::kLivePage;
    if (NameIs(name_, "status.json")) return Resource::kStatus;
    return Resource::kPicture;
}
