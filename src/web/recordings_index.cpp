#include "web/recordings_index.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>

#include "core/recording_names.h"

namespace {

bool NameLess(const RecordingsIndex::Entry& a, const RecordingsIndex::Entry& b) {
    return std::strcmp(a.name, b.name) < 0;
}

bool TimeLess(const RecordingsIndex::Entry& a, const RecordingsIndex::Entry& b) {
    return a.start != b.start ? a.start < b.start : std::strcmp(a.name, b.name) < 0;
}

// The picture count in a recording's name (after the second "_").
int32_t FramesOf(const char* name) { return static_cast<int32_t>(std::strtol(name + 14, nullptr, 10)); }

// Whether the recording has a thumbnail, the activation its comment names,
// and the seconds of its levels file; never through a link, never waiting on a pipe.
void ReadSideFiles(int dirFd, RecordingsIndex::Entry& entry) {
    char path[64];
    std::snprintf(path, sizeof path, ".thumbs/%s.jpg", entry.name);
    const int fd = openat(dirFd, path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    if (fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        entry.thumb = true;
        uint8_t head[64];
        const ssize_t n = pread(fd, head, sizeof head, 0);
        if (n > 0) entry.activation = static_cast<int8_t>(ActivationInThumbnail(head, static_cast<std::size_t>(n)));
    }
    if (fd >= 0) close(fd);
    std::snprintf(path, sizeof path, ".thumbs/%s.levels", entry.name);
    if (fstatat(dirFd, path, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode))
        entry.levels = static_cast<int32_t>(std::min<off_t>(info.st_size, INT32_MAX));
    entry.sideRead = true;
}

void AppendEntry(std::string& out, const RecordingsIndex::Entry& entry, bool recording) {
    char text[256];
    std::tm local{};
    localtime_r(&entry.start, &local);
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
    const long long seconds = std::max<long long>(0, static_cast<long long>(entry.end - entry.start));
    if (recording) {
        std::snprintf(text, sizeof text,
                      "{\"name\":\"%s\",\"start\":%lld,\"time\":\"%s\",\"seconds\":%lld,\"frames\":%d,"
                      "\"bytes\":%" PRId64 ",\"format\":\"%s\",\"activation\":\"%s\",\"thumb\":%s,\"levels\":%d}",
                      entry.name, static_cast<long long>(entry.start), when, seconds, static_cast<int>(entry.frames),
                      entry.bytes, std::strstr(entry.name, ".mp4") ? "mp4" : "avi",
                      ActivationName(static_cast<Activation>(entry.activation)), entry.thumb ? "true" : "false",
                      static_cast<int>(entry.levels));
    } else {
        std::snprintf(text, sizeof text, "{\"name\":\"%s\",\"start\":%lld,\"time\":\"%s\",\"bytes\":%" PRId64 "}",
                      entry.name, static_cast<long long>(entry.start), when, entry.bytes);
    }
    out += text;
}

}  // namespace

void RecordingsIndex::Open(const std::string& moveFolder, const std::string& shotFolder) {
    std::lock_guard guard(mutex_);
    if (opened_ && moveFolder == moveFolder_ && shotFolder == shotFolder_) return;
    opened_ = true;
    moveFolder_ = moveFolder;
    shotFolder_ = shotFolder;
    Scan(Kind::kRecording);
    Scan(Kind::kPhoto);
}

std::size_t RecordingsIndex::Count(Kind kind) {
    std::lock_guard guard(mutex_);
    return List(kind).size();
}

bool RecordingsIndex::Describe(Kind kind, int dirFd, const char* name, Entry* entry) const {
    std::time_t start = 0;
    if (std::strlen(name) >= sizeof entry->name) return false;
    if (kind == Kind::kRecording ? !IsRecordingName(name, &start) : !IsPhotoName(name)) return false;
    struct stat info;
    // A link named like a recording is not one, and what it points at is never looked at.
    if (fstatat(dirFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) return false;
    std::strcpy(entry->name, name);
    entry->levels = 0;
    entry->activation = 0;
    entry->thumb = false;
    entry->sideRead = false;
    entry->end = info.st_mtime;
    entry->start = kind == Kind::kRecording ? start : info.st_mtime;
    entry->bytes = info.st_size;
    entry->frames = kind == Kind::kRecording ? FramesOf(name) : 0;
    return true;
}

void RecordingsIndex::Scan(Kind kind) {
    std::vector<Entry>& list = List(kind);
    list.clear();
    const std::string& folder = Folder(kind);
    DIR* dir = folder.empty() ? nullptr : opendir(folder.c_str());
    if (!dir) return;
    Entry entry{};
    while (dirent* item = readdir(dir)) {
        if (Describe(kind, dirfd(dir), item->d_name, &entry)) list.push_back(entry);
    }
    closedir(dir);
    std::sort(list.begin(), list.end(), kind == Kind::kRecording ? NameLess : TimeLess);
}

bool RecordingsIndex::KindOf(const char* path, Kind* kind, const char** name) const {
    const char* slash = std::strrchr(path, '/');
    if (!slash || !opened_) return false;
    const std::size_t folderLength = static_cast<std::size_t>(slash + 1 - path);
    *name = slash + 1;
    for (const Kind candidate : {Kind::kRecording, Kind::kPhoto}) {
        const std::string& folder = Folder(candidate);
        if (folder.size() == folderLength && folder.compare(0, folderLength, path, folderLength) == 0) {
            *kind = candidate;
            return true;
        }
    }
    return false;
}

void RecordingsIndex::FileAdded(const char* path) {
    std::lock_guard guard(mutex_);
    Kind kind;
    const char* name = nullptr;
    if (!KindOf(path, &kind, &name)) return;
    const int dirFd = open(Folder(kind).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    Entry entry{};
    if (dirFd >= 0 && Describe(kind, dirFd, name, &entry)) Insert(kind, entry);
    if (dirFd >= 0) close(dirFd);
}

void RecordingsIndex::FileRemoved(const char* path) {
    std::lock_guard guard(mutex_);
    Kind kind;
    const char* name = nullptr;
    if (KindOf(path, &kind, &name)) Remove(kind, name);
}

void RecordingsIndex::RecordingOpened(const char* path) {
    std::lock_guard guard(mutex_);
    const char* slash = std::strrchr(path, '/');
    recordingNow_ = slash ? slash + 1 : path;
}

void RecordingsIndex::Insert(Kind kind, const Entry& entry) {
    Remove(kind, entry.name);
    std::vector<Entry>& list = List(kind);
    list.insert(std::upper_bound(list.begin(), list.end(), entry, kind == Kind::kRecording ? NameLess : TimeLess),
                entry);
}

RecordingsIndex::Entry* RecordingsIndex::Find(Kind kind, const char* name) {
    std::vector<Entry>& list = List(kind);
    if (kind == Kind::kPhoto) {
        for (Entry& entry : list) {
            if (std::strcmp(entry.name, name) == 0) return &entry;
        }
        return nullptr;
    }
    Entry key{};
    if (std::strlen(name) >= sizeof key.name) return nullptr;
    std::strcpy(key.name, name);
    const auto found = std::lower_bound(list.begin(), list.end(), key, NameLess);
    return found != list.end() && std::strcmp(found->name, name) == 0 ? &*found : nullptr;
}

void RecordingsIndex::Remove(Kind kind, const char* name) {
    if (Entry* entry = Find(kind, name)) List(kind).erase(List(kind).begin() + (entry - List(kind).data()));
}

int RecordingsIndex::OpenFile(Kind kind, const char* name, const char* suffix, Entry* entry) {
    std::lock_guard guard(mutex_);
    const Entry* listed = Find(kind, name);
    if (!listed) return -1;
    *entry = *listed;
    // The path is made of the listed name, never of the caller's text.
    std::string path = Folder(kind);
    if (suffix[0] != '\0') path += ".thumbs/";
    path += listed->name;
    path += suffix;
    // Never left waiting on a pipe named like a listed file.
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    if (fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        entry->bytes = info.st_size;
        entry->end = info.st_mtime;
        return fd;
    }
    const int error = errno;
    if (fd >= 0) close(fd);
    if (suffix[0] == '\0' && (fd >= 0 || error == ENOENT || error == ELOOP)) Remove(kind, name);
    return -1;
}

void RecordingsIndex::FormatJson(std::string& out, std::time_t from, std::time_t to, int limit) {
    std::lock_guard guard(mutex_);
    out += "{\"recordingNow\":\"";
    out += recordingNow_;
    out += '"';
    for (const Kind kind : {Kind::kRecording, Kind::kPhoto}) {
        std::vector<Entry>& list = List(kind);
        out += kind == Kind::kRecording ? ",\"recordings\":[" : "],\"photos\":[";
        const int dirFd = open(Folder(kind).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int listed = 0;
        for (std::size_t i = list.size(); i-- > 0 && listed < limit;) {
            if (list[i].start < from || list[i].start > to) continue;
            // What the user deleted by hand leaves the list when it is next listed.
            Entry fresh{};
            if (dirFd < 0 || !Describe(kind, dirFd, list[i].name, &fresh)) {
                list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
                continue;
            }
            list[i].bytes = fresh.bytes;
            list[i].end = fresh.end;
            if (kind == Kind::kRecording && !list[i].sideRead) ReadSideFiles(dirFd, list[i]);
            if (listed++ > 0) out += ',';
            AppendEntry(out, list[i], kind == Kind::kRecording);
        }
        if (dirFd >= 0) close(dirFd);
    }
    out += "]}";
}
