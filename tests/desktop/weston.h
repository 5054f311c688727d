#pragma once

#include <signal.h>
#include <sys/types.h>

#include <filesystem>
#include <string>

#include "e2e/program_run.h"

// A headless Wayland compositor on the socket "wl-test" in runtime.
class Weston {
public:
    explicit Weston(const std::filesystem::path& runtime) : runtime_(runtime) {
        pid_ = std::stoi(Shell("XDG_RUNTIME_DIR='" + runtime.string() +
                               "' weston --backend=headless-backend.so --socket=wl-test --idle-time=0 "
                               ">/dev/null 2>&1 & echo $!"));
        WaitUntil([&] { return std::filesystem::exists(runtime / "wl-test"); }, 20000);
    }
    ~Weston() { kill(pid_, SIGTERM); }
    Weston(const Weston&) = delete;
    Weston& operator=(const Weston&) = delete;
    bool Running() const { return std::filesystem::exists(runtime_ / "wl-test"); }

private:
    std::filesystem::path runtime_;
    pid_t pid_ = -1;
};
