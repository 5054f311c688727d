#include "core/event_commands.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "core/registry.h"

namespace {

class Folder {
public:
    Folder() {
        char pattern[] = "/tmp/vistrel-events-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~Folder() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    std::string File(const char* name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Children of this process that have ended but were not reaped.
int ZombieChildren() {
    int zombies = 0;
    DIR* proc = opendir("/proc");
    while (dirent* entry = readdir(proc)) {
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        const std::size_t close = line.rfind(')');
        char state = 0;
        int parent = 0;
        if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &parent) == 2 && parent == getpid() &&
            state == 'Z')
            ++zombies;
    }
    closedir(proc);
    return zombies;
}

TEST(EventCommands, RunsTheShellCommandWithTheDetailsInItsEnvironmentInItsOwnGroup) {
    Folder folder;
    Registry registry(true);
    const std::string out = folder.File("env.txt");
    registry.SetText("OnFileClosed",
                     ("env | grep '^VISTREL_' | sort >> " + out +
                      "; [ \"$(cut -d' ' -f5 /proc/$$/stat)\" = \"$$\" ] && echo own-group >> " + out)
                         .c_str());
    EventCommands events(registry);
    EXPECT_FALSE(events.Fire("OnEventStart", "", 1));  // no command set
    ASSERT_TRUE(events.Fire("OnFileClosed", "/rec/260314_101500_0011.avi", 42));
    ASSERT_TRUE(events.WaitIdle(10000));

    const std::string text = ReadAll(out);
    EXPECT_NE(text.find("VISTREL_EVENT=FileClosed\n"), std::string::npos) << text;
    EXPECT_NE(text.find("VISTREL_FILE=/rec/260314_101500_0011.avi\n"), std::string::npos) << text;
    EXPECT_NE(text.find("VISTREL_LEVEL=42\n"), std::string::npos) << text;
    EXPECT_TRUE(
        std::regex_search(text, std::regex("VISTREL_TIME=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n")))
        << text;
    EXPECT_NE(text.find("own-group\n"), std::string::npos) << text;
    EXPECT_EQ(events.Started(), 1);
}

TEST(EventCommands, AFileNameIsNeverShellCode) {
    Folder folder;
    Registry registry(true);
    const std::string out = folder.File("name.txt");
    registry.SetText("OnPhotoSaved", ("printf '%s\\n' \"$VISTREL_FILE\" >> " + out).c_str());
    EventCommands events(registry);
    const std::string pwned = folder.File("pwned");
    const std::string name = "/shot/a'b\"$(touch " + pwned + ")`touch " + pwned + "`;touch " + pwned + ".jpg";
    ASSERT_TRUE(events.Fire("OnPhotoSaved", name.c_str()));
    ASSERT_TRUE(events.WaitIdle(10000));
    EXPECT_EQ(ReadAll(out), name + "\n");
    EXPECT_FALSE(Exists(pwned));
}

TEST(EventCommands, ABurstRunsFourAtATimeWithoutBlockingTheCallerAndLeavesNoZombie) {
    Folder folder;
    Registry registry(true);
    const std::string out = folder.File("runs.txt");
    registry.SetText("OnEventStart", ("echo + >> " + out + "; sleep 0.2; echo - >> " + out).c_str());
    EventCommands events(registry);
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(events.Fire("OnEventStart", "", i));
    // Fire only queues: most of the burst still waits when the last call returns.
    EXPECT_GE(events.Waiting(), 20 - 2 * EventCommands::kMaxRunning);
    EXPECT_LE(events.Running(), EventCommands::kMaxRunning);
    ASSERT_TRUE(events.WaitIdle(30000));
    EXPECT_EQ(events.Started(), 20);
    EXPECT_EQ(events.Dropped(), 0);
    EXPECT_EQ(ZombieChildren(), 0);

    int depth = 0;
    int deepest = 0;
    int ends = 0;
    for (char mark : ReadAll(out)) {
        if (mark == '+') deepest = std::max(deepest, ++depth);
        if (mark == '-') --depth, ++ends;
    }
    EXPECT_EQ(ends, 20);
    EXPECT_LE(deepest, EventCommands::kMaxRunning);
    EXPECT_GE(deepest, 2);
}

TEST(EventCommands, AFullQueueDropsTheEventWithALine) {
    Registry registry(true);
    registry.SetText("OnCameraLost", "sleep 0.3");
    EventCommands events(registry);
    testing::internal::CaptureStderr();
    int queued = 0;
    for (int i = 0; i < 40; ++i) queued += events.Fire("OnCameraLost") ? 1 : 0;
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_GE(40 - queued, 40 - EventCommands::kMaxWaiting - EventCommands::kMaxRunning);
    EXPECT_NE(said.find("events: "), std::string::npos);
    EXPECT_NE(said.find("CameraLost dropped"), std::string::npos);
    ASSERT_TRUE(events.WaitIdle(30000));
    EXPECT_EQ(events.Started(), queued);
    EXPECT_EQ(events.Started() + events.Dropped(), 40);
}

TEST(EventCommands, ACommandPastTheTimeLimitIsEndedWithItsWholeGroup) {
    Folder folder;
    Registry registry(true);
    const std::string pidFile = folder.File("pid");
    registry.SetText("OnCameraFound", ("sleep 30 & echo $! > " + pidFile + "; wait").c_str());
    EventCommands events(registry, 1);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(events.Fire("OnCameraFound"));
    const bool idle = events.WaitIdle(10000);
    const std::string said = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(idle);
    EXPECT_NE(said.find("still running after 1 s"), std::string::npos) << said;
    const int sleeper = std::atoi(ReadAll(pidFile).c_str());
    ASSERT_GT(sleeper, 0);
    // The background sleep belonged to the group: gone, or at most a zombie awaiting its new parent.
    // The kill may still be under way on a busy machine: it gets a second.
    std::string line;
    for (int wait = 0; wait < 100; ++wait) {
        std::ifstream stat("/proc/" + std::to_string(sleeper) + "/stat");
        if (!std::getline(stat, line) || line.find(") Z") != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!line.empty()) {
        EXPECT_NE(line.find(") Z"), std::string::npos) << line;
    }
    EXPECT_EQ(ZombieChildren(), 0);
}

TEST(EventCommands, AShellThatCannotStartSaysSoOnceAndRunsNothing) {
    Registry registry(true);
    registry.SetText("OnFileDeleted", "true");
    EventCommands events(registry, EventCommands::kDefaultLimitSeconds, "/nonexistent/sh");
    testing::internal::CaptureStderr();
    ASSERT_TRUE(events.Fire("OnFileDeleted", "/rec/x.avi"));
    ASSERT_TRUE(events.WaitIdle(10000));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said, "events: cannot start the OnFileDeleted command: No such file or directory\n");
    EXPECT_EQ(events.Started(), 0);
}

TEST(EventCommands, ACommandHoldsOnlyTheStandardDescriptorsAndItsOutputGoesToStderrPrefixed) {
    Registry registry(true);
    // Descriptors of the program that a command must not get, close-on-exec or not.
    const int socketHeld = socket(AF_INET, SOCK_STREAM, 0);
    const int fileHeld = open("/dev/null", O_RDONLY);
    ASSERT_GE(socketHeld, 3);
    registry.SetText("OnFileClosed", "ls /proc/$$/fd; echo oops >&2; printf 'no end'");
    registry.SetText("OnPhotoSaved", "head -c 100000 /dev/zero | tr '\\0' a | fold -w 99; echo done >&2");
    EventCommands events(registry);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(events.Fire("OnFileClosed"));
    ASSERT_TRUE(events.WaitIdle(10000));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "event FileClosed: 0\nevent FileClosed: 1\nevent FileClosed: 2\nevent FileClosed: oops\n"
              "event FileClosed: no end\n");

    // 100000 bytes: the first 64 KiB are relayed, the rest read (or the command would never end) and dropped.
    testing::internal::CaptureStderr();
    ASSERT_TRUE(events.Fire("OnPhotoSaved"));
    const bool ended = events.WaitIdle(10000);
    const std::string said = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(ended);
    std::istringstream lines(said);
    std::string line;
    std::size_t relayed = 0;
    int count = 0;
    while (std::getline(lines, line)) {
        ASSERT_EQ(line.rfind("event PhotoSaved: ", 0), 0u) << line;
        relayed += line.size() - std::strlen("event PhotoSaved: ") + 1;
        ++count;
    }
    EXPECT_EQ(said.find("done"), std::string::npos);
    EXPECT_NE(said.find("event PhotoSaved: (more than 64 KiB of output; the rest is dropped)\n"), std::string::npos);
    EXPECT_LE(relayed, static_cast<std::size_t>(EventCommands::kMaxRelayedBytes) + 100);
    EXPECT_GE(count, 650);
    close(socketHeld);
    close(fileHeld);
}

TEST(EventCommands, AnAlarmNeverWaitsBehindSlowCommandsOfOtherKinds) {
    Folder folder;
    Registry registry(true);
    const std::string started = folder.File("alarm");
    registry.SetText("OnPhotoSaved", "sleep 3");
    registry.SetText("OnFileClosed", "sleep 3");
    registry.SetText("OnCameraLost", ("touch " + started).c_str());
    EventCommands events(registry);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(events.Fire("OnPhotoSaved"));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(events.Fire("OnFileClosed"));
    const auto fired = std::chrono::steady_clock::now();
    while (events.Running() < EventCommands::kMaxRunning - 1 &&
           std::chrono::steady_clock::now() - fired < std::chrono::seconds(2))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(events.Running(), EventCommands::kMaxRunning - 1) << "one place stays free";
    ASSERT_TRUE(events.Fire("OnCameraLost"));
    const auto alarm = std::chrono::steady_clock::now();
    while (!Exists(started) && std::chrono::steady_clock::now() - alarm < std::chrono::seconds(3))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(Exists(started));
    EXPECT_LT(std::chrono::steady_clock::now() - alarm, std::chrono::seconds(1));
    EXPECT_EQ(events.Waiting(), 3);
    ASSERT_TRUE(events.WaitIdle(20000));
    EXPECT_EQ(events.Started(), 7);
}

}  // namespace
