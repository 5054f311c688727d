#pragma once

#include <string>

// Keeps a second copy of the program from running for the same user: an
// exclusive flock on a file in $XDG_RUNTIME_DIR, else on a file in /tmp whose
// name holds the user id. The lock dies with the process, so a crash never
// leaves a stale lock behind.
class InstanceLock {
public:
    enum class State { Acquired, HeldByOther, Failed };

    explicit InstanceLock(const char* name);
    // Where the lock of that name lives, without taking it.
    static std::string PathFor(const char* name);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // True when this process holds the lock.
    bool Acquired() const { return fd_ >= 0; }
    // Only HeldByOther means another copy runs; Failed says the lock could
    // not be taken at all (Error() tells why), and the program may run.
    State Result() const { return state_; }
    const std::string& Error() const { return error_; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::string error_;
    State state_ = State::Failed;
    int fd_ = -1;
};
