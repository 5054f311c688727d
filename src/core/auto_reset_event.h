#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// An event that lets one waiter through per Signal; signals given while no
// one waits count as one.
class AutoResetEvent {
public:
    void Signal() {
        {
            std::lock_guard guard(mutex_);
            signalled_ = true;
        }
        condition_.notify_one();
    }
    // True when signalled within timeoutMs; the signal is consumed.
    bool WaitFor(int timeoutMs) {
        std::unique_lock lock(mutex_);
        const bool signalled =
            condition_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return signalled_; });
        signalled_ = false;
        return signalled;
    }

private:
    std::mutex mutex_;
    std::condition_variable condition_;
    bool signalled_ = false;
};
