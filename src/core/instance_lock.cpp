#include "core/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

InstanceLock::InstanceLock(const char* name) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    path_ = (runtime && runtime[0] == '/') ? runtime : "/tmp";
    path_ += "/";
    path_ += name;
    path_ += ".lock";
    const int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return;
    }
    fd_ = fd;
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) close(fd_);
}
