#pragma once

#include <sys/types.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>

#include "core/thread_start.h"

class Registry;

// Runs the user's command lines on events ("OnEventStart", "OnEventEnd",
// "OnFileClosed", "OnPhotoSaved", "OnCameraLost", "OnCameraFound",
// "OnFileDeleted") with /bin/sh -c, each in a process group of its own. The
// details go only into the environment (VISTREL_EVENT, VISTREL_FILE,
// VISTREL_LEVEL, VISTREL_TIME), never into the command text. At most
// kMaxRunning commands run at once; later events wait in a queue of
// kMaxWaiting and beyond that are dropped with a line on stderr. A command
// still running after the time limit gets SIGTERM, then SIGKILL, on its whole
// group. One reaper thread starts, watches and reaps; Fire never waits for it.
// Registers itself as "_CL_EventCommands".
class EventCommands {
public:
    static constexpr int kMaxRunning = 4;
    static constexpr int kMaxWaiting = 32;
    static constexpr int kDefaultLimitSeconds = 60;
    static constexpr int kKillGraceMs = 2000;  // from SIGTERM to SIGKILL

    explicit EventCommands(Registry& registry, int limitSeconds = kDefaultLimitSeconds,
                           const char* shell = "/bin/sh");
    // Gives waiting and running commands up to kKillGraceMs, then ends what
    // still runs (SIGTERM, then SIGKILL) and reaps it.
    ~EventCommands();
    EventCommands(const EventCommands&) = delete;
    EventCommands& operator=(const EventCommands&) = delete;

    // Queues the command stored under settingKey, if any; any thread. The
    // event name is settingKey without its "On". Returns false when no
    // command is set or the queue is full.
    bool Fire(const char* settingKey, const char* file = "", int32_t level = -1);

    // Commands started, running, waiting and dropped so far (for tests and the report).
    int64_t Started() const;
    int Running() const;
    int Waiting() const;
    int64_t Dropped() const;
    // Blocks until nothing runs or waits, at most timeoutMs; true when idle.
    bool WaitIdle(int timeoutMs);

private:
    struct Job {
        char command[256];
        char event[32];
        char file[512];
        char level[16];
        char time[32];
    };
    struct Child {
        pid_t pid = 0;
        std::chrono::steady_clock::time_point startedAt{};
        bool termSent = false;
        std::chrono::steady_clock::time_point termAt{};
    };

    static void ThreadMain(ThreadStart* start);
    void ReaperLoop();
    pid_t Spawn(const Job& job);
    void ReapAndLimit(std::unique_lock<std::mutex>& lock);
    void EndAll(std::unique_lock<std::mutex>& lock);

    Registry& registry_;
    const int limitSeconds_;
    const char* shell_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::array<Job, kMaxWaiting> queue_{};
    int queueHead_ = 0;
    int queueCount_ = 0;
    std::array<Child, kMaxRunning> children_{};
    int running_ = 0;
    int spawning_ = 0;  // taken from the queue, not yet running
    int64_t started_ = 0;
    int64_t dropped_ = 0;
    bool stop_ = false;
    ThreadHandle reaper_;
};
