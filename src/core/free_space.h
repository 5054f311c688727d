#pragma once

#include <cstdint>
#include <functional>

// Bytes the program may still write on the volume holding folder: the
// blocks free for an ordinary user (not those kept for root) times the
// fragment size; -1 when unknown. Every free-space figure of the program.
int64_t AvailableSpace(const char* folder);

// A free-space look-up; tests put their own in.
using FreeSpaceQuery = std::function<int64_t(const char* folder)>;

// The one low-space rule: a known figure under the limit.
inline bool BelowSpaceLimit(int64_t freeBytes, int64_t limitBytes) {
    return freeBytes >= 0 && freeBytes < limitBytes;
}
