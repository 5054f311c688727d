#include "core/thread_start.h"

#include <atomic>
#include <cerrno>
#include <ctime>

namespace {

std::atomic<bool> g_failCreation{false};

struct Launch {
    ThreadEntry entry;
    ThreadStart* start;
};

void* Trampoline(void* argument) {
    Launch* launch = static_cast<Launch*>(argument);
    ThreadEntry entry = launch->entry;
    ThreadStart* start = launch->start;
    delete launch;
    entry(start);
    delete start;
    return nullptr;
}

}  // namespace

ThreadHandle& ThreadHandle::operator=(ThreadHandle&& other) noexcept {
    if (this != &other) {
        Detach();
        thread_ = other.thread_;
        valid_ = other.valid_;
        other.valid_ = false;
    }
    return *this;
}

bool ThreadHandle::WaitFor(int timeoutMs) {
    if (!valid_) return true;
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    if (pthread_timedjoin_np(thread_, nullptr, &deadline) != 0) return false;
    valid_ = false;
    return true;
}

void ThreadHandle::Join() {
    if (!valid_) return;
    pthread_join(thread_, nullptr);
    valid_ = false;
}

void ThreadHandle::Detach() {
    if (!valid_) return;
    pthread_detach(thread_);
    valid_ = false;
}

ThreadHandle StartThread(ThreadEntry entry, void* object, intptr_t value, int priority) {
    (void)priority;  // Every thread of the program runs at the normal priority.
    ThreadStart* start = new ThreadStart{object, value};
    Launch* launch = new Launch{entry, start};
    pthread_t thread{};
    const int error = g_failCreation.load(std::memory_order_acquire)
                          ? EAGAIN
                          : pthread_create(&thread, nullptr, Trampoline, launch);
    if (error != 0) {
        delete launch;
        delete start;
        return {};
    }
    return ThreadHandle(thread);
}

void FailThreadCreationForTest(bool fail) { g_failCreation.store(fail, std::memory_order_release); }
