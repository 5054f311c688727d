#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "core/clock.h"
#include "core/free_space.h"

class Registry;

// Deletes the program's own finished recordings in the recording folder,
// oldest first by the time in their names, until the free space is at least
// "KeepFreeMB" MiB and none is older than "KeepDays" days (each 0 = off).
// Only regular files (never links) named exactly YYMMDD_HHMMSS_NNNN.avi or .mp4
// count; the open .tmp file, photos and any other file are never touched.
// A recording's side files in ".thumbs/" go with it.
// Each deletion goes to stderr and to "OnFileDeleted". Worker thread only.
class RecordingRetention {
public:
    static constexpr int32_t kMinKeepFreeMB = 100;
    static constexpr int32_t kMaxKeepFreeMB = 1000000;
    static constexpr int32_t kMaxKeepDays = 3650;
    static constexpr int kSweepPeriodSeconds = 60;

    RecordingRetention(Registry& registry, Clock& clock, FreeSpaceQuery freeSpace);

    // Reads the two settings, each 0 or in its range (anything else reads as 0 and is stored so).
    static int32_t KeepFreeMB(Registry& registry);
    static int32_t KeepDays(Registry& registry);

    // Deletes what the settings ask for in folder (ending with a separator); returns how many.
    int Sweep(const std::string& folder);
    // Sweeps the "MoveFilesPath" folder when the last sweep is a minute old.
    void SweepIfDue();
    // With "KeepFreeMB" on, sweeps and tells whether the folder now has at least needBytes free.
    bool MakeRoom(const std::string& folder, int64_t needBytes);

    // True for a finished recording's name; when gives its local start time.
    static bool IsRecordingName(const char* name, std::time_t* when = nullptr);

private:
    bool NeedsDeletion(const std::string& folder, std::time_t when, int64_t keepFreeBytes,
                       std::time_t cutoff);

    Registry& registry_;
    Clock& clock_;
    FreeSpaceQuery freeSpace_;
    std::time_t lastSweep_ = 0;
    bool saidFull_ = false;  // the "nothing left to delete" line is said once per shortage
};
