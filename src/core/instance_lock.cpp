#include "core/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

std::string InstanceLock::PathFor(const char* name) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') return std::string(runtime) + "/" + name + ".lock";
    // /tmp is shared by every user: the name is this user's alone.
    return std::string("/tmp/") + name + "-" + std::to_string(geteuid()) + ".lock";
}

InstanceLock::InstanceLock(const char* name) : path_(PathFor(name)) {
    // No link is followed: in /tmp another user could plant one.
    const int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error_ = "cannot open " + path_ + ": " + std::strerror(errno);
        return;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_uid != geteuid() || !S_ISREG(st.st_mode)) {
        error_ = path_ + " belongs to another user or is not a file";
        close(fd);
        return;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        if (error == EWOULDBLOCK) {
            state_ = State::HeldByOther;
        } else {
            error_ = "cannot lock " + path_ + ": " + std::strerror(error);
        }
        return;
    }
    fd_ = fd;
    state_ = State::Acquired;
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) close(fd_);
}
