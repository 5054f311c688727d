#pragma once

#include <mutex>

// A recursive lock that can be switched off at construction; a switched-off
// lock costs nothing and is used by single-threaded stores.
class SectionLock {
public:
    explicit SectionLock(bool enabled) : enabled_(enabled) {}
    SectionLock(const SectionLock&) = delete;
    SectionLock& operator=(const SectionLock&) = delete;

    void Enter() {
        if (enabled_) mutex_.lock();
    }
    void Leave() {
        if (enabled_) mutex_.unlock();
    }
    bool Enabled() const { return enabled_; }

    // Makes the lock usable with std::lock_guard.
    void lock() { Enter(); }
    void unlock() { Leave(); }

private:
    const bool enabled_;
    std::recursive_mutex mutex_;
};
