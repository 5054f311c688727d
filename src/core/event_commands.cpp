#include "core/event_commands.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

bool EventCommands::IsAlarm(const char* settingKey) {
    for (const char* alarm : {"OnEventStart", "OnEventEnd", "OnCameraLost", "OnCameraFound"})
        if (std::strcmp(settingKey, alarm) == 0) return true;
    return false;
}

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
        job.alarm = IsAlarm(settingKey);
        ++queueCount_;
    }
    changed_.notify_all();
    return true;
}

template <typename T>
T EventCommands::Read(const T& field) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return field;
}

int64_t EventCommands::Started() const { return Read(started_); }
int EventCommands::Running() const { return Read(running_); }
int EventCommands::Waiting() const { return Read(queueCount_); }
int64_t EventCommands::Dropped() const { return Read(dropped_); }

bool EventCommands::WaitIdle(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [this] { return running_ == 0 && queueCount_ == 0 && spawning_ == 0; });
}

void EventCommands::ThreadMain(ThreadStart* start) {
    pthread_setname_np(pthread_self(), "vistrel-events");
    static_cast<EventCommands*>(start->object)->ReaperLoop();
}

bool EventCommands::TakeJob(Job& job) {
    if (running_ >= kMaxRunning) return false;
    // An alarm goes first; the others leave one place free for it.
    const bool otherMayRun = running_ - runningAlarms_ < kMaxRunning - 1;
    int pick = -1;
    for (int i = 0; i < queueCount_ && pick < 0; ++i) {
        if (queue_[(queueHead_ + i) % kMaxWaiting].alarm) pick = i;
    }
    for (int i = 0; i < queueCount_ && pick < 0 && otherMayRun; ++i) pick = i;
    if (pick < 0) return false;
    job = queue_[(queueHead_ + pick) % kMaxWaiting];
    // The jobs before it move up one, keeping their order.
    for (int k = pick; k > 0; --k)
        queue_[(queueHead_ + k) % kMaxWaiting] = queue_[(queueHead_ + k - 1) % kMaxWaiting];
    queueHead_ = (queueHead_ + 1) % kMaxWaiting;
    --queueCount_;
    return true;
}

void EventCommands::ReaperLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        Job job;
        while (TakeJob(job)) {
            ++spawning_;
            lock.unlock();
            int output = -1;
            const pid_t pid = Spawn(job, &output);
            lock.lock();
            --spawning_;
            if (pid > 0) {
                for (Child& child : children_) {
                    if (child.pid != 0) continue;
                    child = Child{};
                    child.pid = pid;
                    child.startedAt = SteadyClock::now();
                    child.alarm = job.alarm;
                    child.output = output;
                    CopyText(child.event, sizeof child.event, job.event);
                    break;
                }
                ++running_;
                if (job.alarm) ++runningAlarms_;
                ++started_;
            }
        }
        ReapAndLimit(lock);
        changed_.notify_all();
        if (stop_) break;
        if (running_ > 0)
            RelayOutput(lock, static_cast<int>(kPollPeriod.count()));
        else
            changed_.wait_for(lock, std::chrono::duration_cast<std::chrono::milliseconds>(kIdlePeriod));
    }
    EndAll(lock);
}

void EventCommands::RelayOutput(std::unique_lock<std::mutex>& lock, int periodMs) {
    pollfd pipes[kMaxRunning];
    Child* owners[kMaxRunning];
    int count = 0;
    for (Child& child : children_) {
        if (child.pid == 0 || child.output < 0) continue;
        pipes[count] = pollfd{child.output, POLLIN, 0};
        owners[count++] = &child;
    }
    if (count == 0) {
        changed_.wait_for(lock, std::chrono::milliseconds(periodMs));
        return;
    }
    // Only this thread changes the children, so they stay put while it polls unlocked.
    lock.unlock();
    const int ready = poll(pipes, static_cast<nfds_t>(count), periodMs);
    lock.lock();
    for (int i = 0; i < count && ready > 0; ++i)
        if (pipes[i].revents != 0) ReadOutput(*owners[i], false);
}

void EventCommands::RelayLine(Child& child) {
    if (child.lineLength == 0) return;
    std::fprintf(stderr, "event %s: %.*s\n", child.event, child.lineLength, child.line);
    child.lineLength = 0;
}

void EventCommands::ReadOutput(Child& child, bool finished) {
    char chunk[4096];
    // A finished command's pipe is read for what it holds, not for what its
    // leftover children keep writing.
    int chunksLeft = finished ? 64 : 1 << 30;
    while (child.output >= 0) {
        const ssize_t got = read(child.output, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && !finished) return;
        if (got <= 0 || --chunksLeft < 0) {
            // The end, or a finished command whose pipe holds nothing more now.
            RelayLine(child);
            close(child.output);
            child.output = -1;
            return;
        }
        for (ssize_t i = 0; i < got; ++i) {
            if (child.relayed >= kMaxRelayedBytes) break;  // read and dropped
            const char byte = chunk[i];
            if (++child.relayed == kMaxRelayedBytes) {
                RelayLine(child);
                std::fprintf(stderr, "event %s: (more than %d KiB of output; the rest is dropped)\n",
                             child.event, kMaxRelayedBytes / 1024);
                break;
            }
            if (byte == '\n') {
                RelayLine(child);
                continue;
            }
            child.line[child.lineLength++] = byte;
            if (child.lineLength == kRelayLineBytes) RelayLine(child);
        }
    }
}

pid_t EventCommands::Spawn(const Job& job, int* output) {
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
    // Its stdout and stderr come back through one pipe, to be relayed line by line.
    int pipeEnds[2] = {-1, -1};
    if (pipe2(pipeEnds, O_CLOEXEC) == 0) {
        fcntl(pipeEnds[0], F_SETFL, O_NONBLOCK);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
    }
    // Whatever else the program holds open (sockets, devices, files) stays with it.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

    char dashC[] = "-c";
    char* argv[] = {const_cast<char*>(shell_), dashC, const_cast<char*>(job.command), nullptr};
    pid_t pid = 0;
    const int error = posix_spawn(&pid, shell_, &actions, &attributes, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (pipeEnds[1] >= 0) close(pipeEnds[1]);
    if (error != 0) {
        if (pipeEnds[0] >= 0) close(pipeEnds[0]);
        std::fprintf(stderr, "events: cannot start the On%s command: %s\n", job.event, std::strerror(error));
        return -1;
    }
    *output = pipeEnds[0];
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
            ReadOutput(child, true);
            Forget(child);
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

void EventCommands::Forget(Child& child) {
    if (child.output >= 0) close(child.output);
    --running_;
    if (child.alarm) --runningAlarms_;
    child = Child{};
}

void EventCommands::EndAll(std::unique_lock<std::mutex>& lock) {
    for (Child& child : children_)
        if (child.pid != 0) kill(-child.pid, SIGTERM);
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(kKillGraceMs);
    while (running_ > 0 && SteadyClock::now() < deadline) {
        for (Child& child : children_) {
            int status = 0;
            if (child.pid != 0 && waitpid(child.pid, &status, WNOHANG) == child.pid) {
                ReadOutput(child, true);
                Forget(child);
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
        ReadOutput(child, true);
        Forget(child);
    }
    queueCount_ = 0;
    changed_.notify_all();
}
