#pragma once

#include <string>

// Keeps a second copy of the program from running: an exclusive flock on a
// file in $XDG_RUNTIME_DIR (or /tmp). The lock dies with the process, so a
// crash never leaves a stale lock behind.
class InstanceLock {
public:
    explicit InstanceLock(const char* name);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // True when this process holds the lock.
    bool Acquired() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};
