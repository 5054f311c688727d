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
// VISTREL_LEVEL, VISTREL_TIME), never into the command text. A command gets
// only descriptors 0 (/dev/null), 1 and 2; what it writes to the last two goes
// to the program's stderr, each line prefixed "event <name>: ", at most
// kMaxRelayedBytes a command (the rest is read and dropped). At most
// kMaxRunning commands run at once, one place kept for the alarms
// (EventStart, EventEnd, CameraLost, CameraFound), which also go first out of
// the queue; later events wait in a queue of kMaxWaiting and beyond that are
// dropped with a line on stderr. A command still running after the time
// limit gets SIGTERM, then SIGKILL, on its whole group. One reaper thread
// starts, watches, relays and reaps; Fire never waits for it.
// Registers itself as "_CL_EventCommands".
class EventCommands {
public:
    static constexpr int kMaxRunning = 4;
    static constexpr int kMaxWaiting = 32;
    static constexpr int kDefaultLimitSeconds = 60;
    static constexpr int kKillGraceMs = 2000;  // from SIGTERM to SIGKILL
    static constexpr int kMaxRelayedBytes = 64 * 1024;
    // The longest line relayed whole; a longer one goes out in pieces.
    static constexpr int kRelayLineBytes = 1024;

    // True for the settings keys of the alarm events.
    static bool IsAlarm(const char* settingKey);

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
    // A counter's value, read under the lock.
    template <typename T>
    T Read(const T& field) const;

    struct Job {
        char command[256];
        char event[32];
        char file[512];
        char level[16];
        char time[32];
        bool alarm;
    };
    struct Child {
        pid_t pid = 0;
        std::chrono::steady_clock::time_point startedAt{};
        bool termSent = false;
        std::chrono::steady_clock::time_point termAt{};
        bool alarm = false;
        // The read end of the command's stdout and stderr; -1 once closed.
        int output = -1;
        char event[32] = {};
        int relayed = 0;
        int lineLength = 0;
        char line[kRelayLineBytes];
    };

    static void ThreadMain(ThreadStart* start);
    void ReaperLoop();
    // Starts the command; its pid, -1 when it cannot start. *output gets the
    // read end of its output pipe.
    pid_t Spawn(const Job& job, int* output);
    // Takes the next job the free places allow (alarms first); false when none.
    bool TakeJob(Job& job);
    // Waits at most periodMs for output of the running commands and relays it.
    void RelayOutput(std::unique_lock<std::mutex>& lock, int periodMs);
    // Reads what child's pipe holds now; closes it at its end or when finished.
    void ReadOutput(Child& child, bool finished);
    void RelayLine(Child& child);
    // Closes what is left of a reaped child and frees its place.
    void Forget(Child& child);
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
    int runningAlarms_ = 0;
    int spawning_ = 0;  // taken from the queue, not yet running
    int64_t started_ = 0;
    int64_t dropped_ = 0;
    bool stop_ = false;
    ThreadHandle reaper_;
};
