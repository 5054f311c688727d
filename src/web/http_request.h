#pragma once

#include <cstddef>

// One GET request as the server reads it: the request line (at most
// kLineSize - 2 characters), then the header lines up to the empty one, of
// which only the Authorization value is kept. Everything the server answers
// is routed here.
class HttpRequest {
public:
    // Room for an Authorization line of the longest user name and password.
    static constexpr int kLineSize = 1024;

    // Room for the folder before the name, the query, Range and If-Range.
    static constexpr int kFieldSize = 128;

    enum class Resource { kPage, kPicture, kStream, kLivePage, kStatus, kRecordings };

    // Reads the request from fd; false when it must not be answered (not a
    // GET of a path, a line too short or too long, the client left early).
    bool Read(int fd);
    // Takes the name from a request line: the last part of the target's path,
    // which ends at "?" or "#"; false when it is not "GET", blanks, then a
    // path holding a "/".
    bool ParseRequestLine(const char* line);
    // Keeps the value when line is an Authorization, Range or If-Range header line.
    void TakeHeaderLine(const char* line);

    // The page for an empty name or "index.htm"; every name but the page,
    // "stream.mjpg", "live.htm" and "status.json" is the picture, except
    // what RecordingsAnswers serves.
    Resource Route() const;
    const char* Name() const { return name_; }
    // The path's part before the name, without its slashes ("" at the top;
    // "-" when too long to keep).
    const char* Folder() const { return folder_; }
    // The text after "?" ("" without one; cut at kFieldSize - 1).
    const char* Query() const { return query_; }
    const char* Authorization() const { return authorization_; }
    const char* Range() const { return range_; }
    const char* IfRange() const { return ifRange_; }

private:
    char name_[kLineSize] = {};
    char folder_[kFieldSize] = {};
    char query_[kFieldSize] = {};
    char authorization_[kLineSize] = {};
    char range_[kFieldSize] = {};
    char ifRange_[kFieldSize] = {};
};
