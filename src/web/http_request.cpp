#include "web/http_request.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "web/recordings_answers.h"
#include "web/socket_layer.h"

namespace {

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Copies [from, to) into out, cut to fit.
void Keep(char* out, std::size_t size, const char* from, const char* to) {
    const std::size_t length = std::min(static_cast<std::size_t>(to - from), size - 1);
    std::memcpy(out, from, length);
    out[length] = '\0';
}

// The value of header line when it is key's, blanks trimmed; nullptr otherwise.
const char* HeaderValue(const char* line, const char* key, std::size_t* length) {
    const std::size_t keyLength = std::strlen(key);
    if (strncasecmp(line, key, keyLength) != 0) return nullptr;
    const char* value = line + keyLength;
    while (*value != '\0' && IsBlank(*value)) ++value;
    *length = std::strlen(value);
    while (*length > 0 && IsBlank(value[*length - 1])) --(*length);
    return value;
}

}  // namespace

bool HttpRequest::ParseRequestLine(const char* line) {
    name_[0] = folder_[0] = query_[0] = '\0';
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
    const char* folder = target;
    while (folder < slash && *folder == '/') ++folder;
    // A folder too long to keep is none the server has.
    if (slash - folder >= static_cast<std::ptrdiff_t>(sizeof folder_)) {
        std::strcpy(folder_, "-");
    } else {
        Keep(folder_, sizeof folder_, folder, slash);
    }
    if (*p == '?') {
        const char* query = ++p;
        while (*p != '\0' && !IsBlank(*p) && *p != '#') ++p;
        Keep(query_, sizeof query_, query, p);
    }
    return true;
}

void HttpRequest::TakeHeaderLine(const char* line) {
    std::size_t length = 0;
    if (const char* value = HeaderValue(line, "Authorization:", &length)) {
        Keep(authorization_, sizeof authorization_, value, value + length);
    } else if ((value = HeaderValue(line, "Range:", &length))) {
        Keep(range_, sizeof range_, value, value + length);
    } else if ((value = HeaderValue(line, "If-Range:", &length))) {
        Keep(ifRange_, sizeof ifRange_, value, value + length);
    }
}

bool HttpRequest::Read(int fd) {
    authorization_[0] = range_[0] = ifRange_[0] = '\0';
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
    if (RecordingsAnswers::Serves(folder_, name_)) return Resource::kRecordings;
    if (name_[0] == '\0' || std::strcmp(name_, "index.htm") == 0) return Resource::kPage;
    if (std::strcmp(name_, "stream.mjpg") == 0) return Resource::kStream;
    if (std::strcmp(name_, "live.htm") == 0) return Resource::kLivePage;
    if (std::strcmp(name_, "status.json") == 0) return Resource::kStatus;
    return Resource::kPicture;
}
