#pragma once

#include <pthread.h>

#include <cstdint>

// What a started thread receives; the thread owns it and it is freed when the
// entry function returns.
struct ThreadStart {
    void* object;
    intptr_t value;
};

using ThreadEntry = void (*)(ThreadStart* start);

// A started thread. Moving hands the thread over; destroying an unjoined
// handle detaches the thread (it runs on and cleans up after itself).
class ThreadHandle {
public:
    ThreadHandle() = default;
    explicit ThreadHandle(pthread_t thread) : thread_(thread), valid_(true) {}
    ThreadHandle(ThreadHandle&& other) noexcept { *this = static_cast<ThreadHandle&&>(other); }
    ThreadHandle& operator=(ThreadHandle&& other) noexcept;
    ThreadHandle(const ThreadHandle&) = delete;
    ThreadHandle& operator=(const ThreadHandle&) = delete;
    ~ThreadHandle() { Detach(); }

    explicit operator bool() const { return valid_; }
    // Waits up to timeoutMs for the thread to end; true once it has been joined.
    bool WaitFor(int timeoutMs);
    void Join();
    void Detach();

private:
    pthread_t thread_{};
    bool valid_ = false;
};

// Starts a thread running entry({object, value}) at once. Returns an empty
// handle, and frees the record, when the thread cannot be created. Every
// caller passes the normal priority 0; other values lower the niceness hint.
ThreadHandle StartThread(ThreadEntry entry, void* object, intptr_t value, int priority = 0);

// Makes the next StartThread calls fail, as if the system had no threads left.
void FailThreadCreationForTest(bool fail);
