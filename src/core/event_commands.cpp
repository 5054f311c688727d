#include "core/event_commands.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/registry.h"

extern char** environ;

namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr auto kPollPeriod = std::chrono::milliseconds(50);  // reaping while commands run
constexpr auto kIdlePeriod = std::chrono::seconds(5);

void CopyText(char* out, std::size_t size, const char* text) {
    std::snprintf(out, size, "%s", text ? text : "");
}

// The environment of a command: the program's own, without VISTREL_ entries, plus the event's.
std::vector<std::string> CommandEnvironment(const char* event, const char* file, const char* level,
                                            const char* time) {
    std::vector<std::string> entries;
    for (char** entry = environ; entry && *entry; ++entry)
        if (std::strncmp(*entry, "VISTREL_", 8) != 0) entries.emplace_back(*entry);
    entries.push_back(std::string("VISTREL_EVENT=") + event);
    entries.push_back(std::string("VISTREL_FILE=") + file);
    entries.push_back(std::string("VISTREL_LEVEL=") + level);
    entries.push_back(std::string("VISTREL_TIME=") + time);
    return entries;
}

}  // namespace

EventCommands::EventCommands(Registry& registry, int limitSeconds, const char* shell)
    : registry_(registry), limitSeconds_(limitSeconds), shell_(shell) {
    registry_.SetHandle("_CL_EventCommands", this);
    reaper_ = StartThread(ThreadMain, this, 0);
    if (!reaper_) std::fprintf(stderr, "events: cannot start the command thread; event commands are off\n");
}

EventCommands::~EventCommands() {
    // Modules that outlive this one find no commands rather than a dangling handle.
    if (registry_.Find<EventCommands>("_CL_EventCommands") == this)
        registry_.SetHandle("_CL_EventCommands", intptr_t{0});
    // The last moments' commands (the last file closed) get a short while before they are ended.
    if (reaper_) WaitIdle(kKillGraceMs);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (reaper_) reaper_.Join();
}

bool EventCommands::Fire(const char* settingKey, const char* file, int32_t level) {
    char command[Registry::kBufferSize];
    if (!registry_.GetText(settingKey, command) || !reaper_) return false;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (queueCount_ >= kMaxWaiting) {
            ++dropped_;
            std::fprintf(stderr, "events: %d commands waiting; %s dropped\n", queueCount_, settingKey);
            return false;
        }
        Job& job = queue_[(queueHead_ + queueCount_) % kMaxWaiting];
        CopyText(job.command, sizeof job.command, command);
        CopyText(job.event, sizeof job.event,
                 std::strncmp(settingKey, "On", 2) == 0 ? settingKey + 2 : settingKey);
        CopyText(job.file, sizeof job.file, file);
        if (level >= 0)
            std::snprintf(job.level, sizeof job.level, "%d", static_cast<int>(level));
        else
            job.level[0] = '\0';
        std::strftime(job.time, sizeof job.time, "%Y-%m-%dT%H:%M:%S", &local);
        ++queueCount_;
    }
    changed_.notify_all();
    return true;
}

int64_t EventCommands::Started() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return started_;
}

int EventCommands::Running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

int EventCommands::Waiting() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queueCount_;
}

int64_t EventCommands::Dropped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

bool EventCommands::WaitIdle(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [this] { return running_ == 0 && queueCount_ == 0 && spawning_ == 0; });
}

void EventCommands::ThreadMain(ThreadStart* start) {
    pthread_setname_np(pthread_self(), "vistrel-events");
    static_cast<EventCommands*>(start->object)->ReaperLoop();
}

void EventCommands::ReaperLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        while (queueCount_ > 0 && running_ < kMaxRunning) {
            const Job job = queue_[queueHead_];
            queueHead_ = (queueHead_ + 1) % kMaxWaiting;
            --queueCount_;
            ++spawning_;
            lock.unlock();
            const pid_t pid = Spawn(job);
            lock.lock();
            --spawning_;
            if (pid > 0) {
                for (Child& child : children_) {
                    if (child.pid != 0) continue;
                    child = Child{pid, SteadyClock::now(), false, {}};
                    break;
                }
                ++running_;
                ++started_;
            }
        }
        ReapAndLimit(lock);
        changed_.notify_all();
        if (stop_) break;
        changed_.wait_for(lock, running_ > 0
                                    ? std::chrono::duration_cast<std::chrono::milliseconds>(kPollPeriod)
                                    : std::chrono::duration_cast<std::chrono::milliseconds>(kIdlePeriod));
    }
    EndAll(lock);
}

pid_t EventCommands::Spawn(const Job& job) {
    std::vector<std::string> entries = CommandEnvironment(job.event, job.file, job.level, job.time);
    std::vector<char*> envp;
    envp.reserve(entries.size() + 1);
    for (std::string& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A group of its own, so the time limit ends whatever the command started; signals as fresh.
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGCHLD, SIGQUIT}) sigaddset(&defaults, sig);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);

    char dashC[] = "-c";
    char* argv[] = {const_cast<char*>(shell_), dashC, const_cast<char*>(job.command), nullptr};
    pid_t pid = 0;
    const int error = posix_spawn(&pid, shell_, &actions, &attributes, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        std::fprintf(stderr, "events: cannot start the On%s command: %s\n", job.event, std::strerror(error));
        return -1;
    }
    return pid;
}

void EventCommands::ReapAndLimit(std::unique_lock<std::mutex>&) {
    const auto now = SteadyClock::now();
    for (Child& child : children_) {
        if (child.pid == 0) continue;
        int status = 0;
        if (waitpid(child.pid, &status, WNOHANG) == child.pid) {
            // Whatever the command left in its group is ended with it once it was timed out.
            if (child.termSent) kill(-child.pid, SIGKILL);
            child = Child{};
            --running_;
            continue;
        }
        if (!child.termSent && now - child.startedAt >= std::chrono::seconds(limitSeconds_)) {
            std::fprintf(stderr, "events: command (process %d) still running after %d s; ending it\n",
                         static_cast<int>(child.pid), limitSeconds_);
            kill(-child.pid, SIGTERM);
            child.termSent = true;
            child.termAt = now;
        } else if (child.termSent && now - child.termAt >= std::chrono::milliseconds(kKillGraceMs)) {
            kill(-child.pid, SIGKILL);
        }
    }
}

void EventCommands::EndAll(std::unique_lock<std::mutex>& lock) {
    for (Child& child : children_)
        if (child.pid != 0) kill(-child.pid, SIGTERM);
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(kKillGraceMs);
    while (running_ > 0 && SteadyClock::now() < deadline) {
        for (Child& child : children_) {
            int status = 0;
            if (child.pid != 0 && waitpid(child.pid, &status, WNOHANG) == child.pid) {
                child = Child{};
                --running_;
            }
        }
        if (running_ > 0)
            changed_.wait_for(lock, std::chrono::duration_cast<std::chrono::milliseconds>(kPollPeriod));
    }
    for (Child& child : children_) {
        if (child.pid == 0) continue;
        kill(-child.pid, SIGKILL);
        int status = 0;
        waitpid(child.pid, &status, 0);
        child = Child{};
        --running_;
    }
    queueCount_ = 0;
    changed_.notify_all();
}
