// The single-instance lock: only a lock held by another copy refuses a start.
#include "core/instance_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

class RuntimeFolder {
public:
    explicit RuntimeFolder(const char* value) {
        if (const char* old = std::getenv("XDG_RUNTIME_DIR")) saved_ = old, hadValue_ = true;
        if (value)
            setenv("XDG_RUNTIME_DIR", value, 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
    }
    ~RuntimeFolder() {
        if (hadValue_)
            setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
    }

private:
    std::string saved_;
    bool hadValue_ = false;
};

TEST(InstanceLock, OnlyAHeldLockRefusesAndOtherFailuresSayWhy) {
    char pattern[] = "/tmp/vistrel-lock-XXXXXX";
    const fs::path folder = mkdtemp(pattern);
    const std::string name = "VistrelLockTest" + std::to_string(getpid());
    {
        RuntimeFolder runtime(folder.c_str());
        InstanceLock first(name.c_str());
        ASSERT_EQ(first.Result(), InstanceLock::State::Acquired);
        EXPECT_EQ(first.Path(), (folder / (name + ".lock")).string());
        InstanceLock second(name.c_str());
        EXPECT_EQ(second.Result(), InstanceLock::State::HeldByOther);
        EXPECT_FALSE(second.Acquired());
    }
    {
        // A runtime folder that is gone is a failure to lock, not another copy.
        RuntimeFolder runtime((folder / "gone").c_str());
        InstanceLock lock(name.c_str());
        EXPECT_EQ(lock.Result(), InstanceLock::State::Failed);
        EXPECT_NE(lock.Error().find((folder / "gone").string()), std::string::npos) << lock.Error();
    }
    {
        // Without a runtime folder the name in /tmp holds the user id.
        RuntimeFolder runtime(nullptr);
        InstanceLock lock(name.c_str());
        EXPECT_EQ(lock.Result(), InstanceLock::State::Acquired);
        EXPECT_EQ(lock.Path(), "/tmp/" + name + "-" + std::to_string(geteuid()) + ".lock");
        unlink(lock.Path().c_str());
        // A link planted there by someone else is not followed.
        const std::string planted = "/tmp/" + name + "-" + std::to_string(geteuid()) + ".lock";
        ASSERT_EQ(symlink((folder / "target").c_str(), planted.c_str()), 0);
        InstanceLock refused(name.c_str());
        EXPECT_EQ(refused.Result(), InstanceLock::State::Failed);
        EXPECT_FALSE(fs::exists(folder / "target"));
        unlink(planted.c_str());
    }
    fs::remove_all(folder);
}

}  // namespace
