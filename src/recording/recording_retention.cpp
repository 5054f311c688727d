#include "recording/recording_retention.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/event_commands.h"
#include "core/recording_files.h"
#include "core/recording_names.h"
#include "core/registry.h"
#include "recording/recording_sidecar.h"

namespace {

constexpr int64_t kMiB = 1048576;
constexpr std::time_t kDaySeconds = 86400;

int32_t OffOrInRange(Registry& registry, const char* key, int32_t min, int32_t max) {
    const int32_t value = registry.IntInRange(key, 0, 0, max);
    if (value != 0 && value < min) {
        registry.SetInt(key, 0);
        return 0;
    }
    return value;
}


struct Recording {
    std::time_t when;
    std::string name;
};

}  // namespace

RecordingRetention::RecordingRetention(Registry& registry, Clock& clock, FreeSpaceQuery freeSpace)
    : registry_(registry), clock_(clock), freeSpace_(std::move(freeSpace)) {
    KeepFreeMB(registry_);
    KeepDays(registry_);
}

int32_t RecordingRetention::KeepFreeMB(Registry& registry) {
    return OffOrInRange(registry, "KeepFreeMB", kMinKeepFreeMB, kMaxKeepFreeMB);
}

int32_t RecordingRetention::KeepDays(Registry& registry) {
    return OffOrInRange(registry, "KeepDays", 1, kMaxKeepDays);
}

bool RecordingRetention::IsRecordingName(const char* name, std::time_t* when) {
    return ::IsRecordingName(name, when);
}

bool RecordingRetention::NeedsDeletion(const std::string& folder, std::time_t when, int64_t keepFreeBytes,
                                       std::time_t cutoff) {
    if (cutoff != 0 && when < cutoff) return true;
    if (keepFreeBytes == 0 || !freeSpace_) return false;
    const int64_t freeBytes = freeSpace_(folder.c_str());
    return BelowSpaceLimit(freeBytes, keepFreeBytes);
}

int RecordingRetention::Sweep(const std::string& folder) {
    lastSweep_ = clock_.Now();
    const int64_t keepFreeBytes = static_cast<int64_t>(KeepFreeMB(registry_)) * kMiB;
    const int32_t keepDays = KeepDays(registry_);
    if ((keepFreeBytes == 0 && keepDays == 0) || folder.empty()) return 0;
    const std::time_t cutoff = keepDays != 0 ? lastSweep_ - keepDays * kDaySeconds : 0;
    if (!NeedsDeletion(folder, lastSweep_, keepFreeBytes, 0) && cutoff == 0) {
        saidFull_ = false;
        return 0;
    }

    DIR* dir = opendir(folder.c_str());
    if (!dir) return 0;
    const int dirFd = dirfd(dir);
    std::vector<Recording> recordings;
    while (dirent* entry = readdir(dir)) {
        std::time_t when = 0;
        struct stat info;
        // lstat: a link named like a recording is not one, and what it points at is never looked at.
        if (IsRecordingName(entry->d_name, &when) &&
            fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode))
            recordings.push_back({when, entry->d_name});
    }
    std::sort(recordings.begin(), recordings.end(), [](const Recording& a, const Recording& b) {
        return a.when != b.when ? a.when < b.when : a.name < b.name;
    });

    auto* events = registry_.Find<EventCommands>("_CL_EventCommands");
    int deleted = 0;
    for (const Recording& recording : recordings) {
        if (!NeedsDeletion(folder, recording.when, keepFreeBytes, cutoff)) break;
        const std::string path = folder + recording.name;
        if (unlinkat(dirFd, recording.name.c_str(), 0) != 0) {
            std::fprintf(stderr, "retention: cannot delete %s: %s\n", path.c_str(), std::strerror(errno));
            continue;
        }
        RemoveSideFiles(dirFd, recording.name.c_str());
        ++deleted;
        std::fprintf(stderr, "retention: deleted %s\n", path.c_str());
        if (auto* files = RecordingFiles::Find(registry_)) files->FileRemoved(path.c_str());
        if (events) events->Fire("OnFileDeleted", path.c_str());
    }
    closedir(dir);

    const bool short_ = NeedsDeletion(folder, lastSweep_, keepFreeBytes, 0);
    if (short_ && !saidFull_)
        std::fprintf(stderr, "retention: below %lld MiB free in %s and no recording left to delete\n",
                     static_cast<long long>(keepFreeBytes / kMiB), folder.c_str());
    saidFull_ = short_;
    return deleted;
}

void RecordingRetention::SweepIfDue() {
    if (clock_.Now() - lastSweep_ < kSweepPeriodSeconds) return;
    Sweep(registry_.GetString("MoveFilesPath"));
}

bool RecordingRetention::MakeRoom(const std::string& folder, int64_t needBytes) {
    if (KeepFreeMB(registry_) == 0 || !freeSpace_) return false;
    Sweep(folder);
    const int64_t freeBytes = freeSpace_(folder.c_str());
    return freeBytes < 0 || freeBytes >= needBytes;
}
