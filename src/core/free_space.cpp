#include "core/free_space.h"

#include <sys/statvfs.h>

int64_t AvailableSpace(const char* folder) {
    struct statvfs info {};
    if (!folder || folder[0] == '\0' || statvfs(folder, &info) != 0) return -1;
    return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}
