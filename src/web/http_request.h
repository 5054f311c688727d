#pragma once

#include <cstddef>

// One GET request as the server reads it: the request line (at most 252
// characters), then the header lines up to the empty one, of which only the
// Authorization value is kept. Everything the server answers is routed here.
class HttpRequest {
public:
    static constexpr int kLineSize = 254;

    enum class Resource { kPage, kPicture, kStream, kLivePage, kStatus };

    // Reads the request from fd; false when it must not be answered (not a
    // GET of a path, a line too short or too long, the client left early).
    bool Read(int fd);
    // Takes the name from a request line; false when it is not "GET", blanks,
    // then a target holding a "/".
    bool ParseRequestLine(const char* line);
    // Keeps the value when line is an Authorization header line.
    void TakeHeaderLine(const char* line);

    // The page for an empty name or exactly "index.htm"; the new names match
    // before any query; every other name is the picture.
    Resource Route() const;
    const char* Name() const { return name_; }
    const char* Authorization() const { return authorization_; }

private:
    char name_[kLineSize] = {};
    char authorization_[kLineSize] = {};
};
