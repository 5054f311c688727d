#pragma once

#include <cstddef>
#include <cstdint>

#include "web/recordings_index.h"

class HttpRequest;
class Registry;

// The web server's answers about what was recorded: "recordings.htm",
// "recordings.json?from=&to=&limit=", the files at "recordings/<name>" and
// "photos/<name>" (with byte ranges), "thumbs/<name>.jpg", "levels/<name>"
// and "replay.mjpg?file=&start=". Names are looked up in the index; anything
// not listed is 404. Files are read on the connection's thread in blocks.
class RecordingsAnswers {
public:
    static constexpr std::size_t kBlockBytes = 64 * 1024;
    static constexpr int kDefaultLimit = 100;
    static constexpr int kMaxLimit = 10000;

    // Whether the request's folder and name are answered here.
    static bool Serves(const char* folder, const char* name);

    RecordingsAnswers(Registry& registry, RecordingsIndex& index) : registry_(registry), index_(index) {}

    // Answers request on fd; buffer holds at least kBlockBytes. Each send must
    // be taken within sendTimeoutMs. True when a whole response was sent.
    bool Answer(int fd, const HttpRequest& request, uint8_t* buffer, int sendTimeoutMs);

private:
    bool SendList(int fd, const HttpRequest& request, int sendTimeoutMs);
    // The listed AVI of the query's "file" as a paced multipart stream from its "start" second.
    bool SendReplay(int fd, const HttpRequest& request, uint8_t* buffer, int sendTimeoutMs);
    bool SendFile(int fd, const HttpRequest& request, RecordingsIndex::Kind kind, const char* name,
                  const char* suffix, const char* type, uint8_t* buffer, int sendTimeoutMs);

    Registry& registry_;
    RecordingsIndex& index_;
};
