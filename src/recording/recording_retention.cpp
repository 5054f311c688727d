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
#include "core/registry.h"

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

// Digits at text[0..count) as a number; -1 when any is not a digit.
int Digits(const char* text, int count) {
    int value = 0;
    for (int i = 0; i < count; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return -1;
        value = value * 10 + (text[i] - '0');
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
    // YYMMDD_HHMMSS_ then at least four digits of frame count, then ".avi" or ".mp4".
    const std::size_t length = std::strlen(name);
    if (length < 22 || length > 26 || name[6] != '_' || name[13] != '_') return false;
    if (std::strcmp(name + length - 4, ".avi") != 0 && std::strcmp(name + length - 4, ".mp4") != 0) return false;
    if (Digits(name + 14, static_cast<int>(length - 18)) < 0) return false;
    const int year = Digits(name, 2), month = Digits(name + 2, 2), day = Digits(name + 4, 2);
    const int hour = Digits(name + 7, 2), minute = Digits(name + 9, 2), second = Digits(name + 11, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 60)
        return false;
    if (when) {
        std::tm local{};
        local.tm_year = TmYearOfTwoDigits(year);
        local.tm_mon = month - 1;
        local.tm_mday = day;
        local.tm_hour = hour;
        local.tm_min = minute;
        local.tm_sec = second;
        local.tm_isdst = -1;
        *when = std::mktime(&local);
    }
    return true;
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
        ++deleted;
        std::fprintf(stderr, "retention: deleted %s\n", path.c_str());
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
