#pragma once

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

// A D-Bus daemon of the test's own, and mock services (python3-dbusmock) on it.
class PrivateBus {
public:
    PrivateBus() {
        if (FILE* out = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null", "r")) {
            char line[512] = {};
            if (fgets(line, sizeof line, out)) address_ = Trim(line);
            if (fgets(line, sizeof line, out)) daemon_ = static_cast<pid_t>(std::stol(line));
            pclose(out);
        }
    }
    ~PrivateBus() {
        for (const pid_t pid : mocks_) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        if (daemon_ > 0) kill(daemon_, SIGTERM);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // "" when no daemon could be started.
    const std::string& Address() const { return address_; }

    // Starts "python3 -m dbusmock ARGS" on this bus, as its system bus when asked.
    void StartMock(const std::vector<std::string>& arguments, bool asSystemBus) {
        const pid_t pid = fork();
        if (pid == 0) {
            setenv(asSystemBus ? "DBUS_SYSTEM_BUS_ADDRESS" : "DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
            std::vector<std::string> all = {"/usr/bin/python3", "-m", "dbusmock"};
            if (asSystemBus) all.push_back("--system");
            all.insert(all.end(), arguments.begin(), arguments.end());
            std::vector<char*> argv;
            for (auto& a : all) argv.push_back(a.data());
            argv.push_back(nullptr);
            if (!freopen("/dev/null", "w", stdout)) _exit(127);
            execv(argv[0], argv.data());
            _exit(127);
        }
        if (pid > 0) mocks_.push_back(pid);
    }

    // gdbus call on this bus; its output, "" on failure.
    std::string Call(const std::string& arguments) const {
        std::string output;
        if (FILE* out = popen(("gdbus call --address '" + address_ + "' " + arguments + " 2>/dev/null").c_str(), "r")) {
            char buffer[4096];
            size_t n = 0;
            while ((n = fread(buffer, 1, sizeof buffer, out)) > 0) output.append(buffer, n);
            pclose(out);
        }
        return output;
    }

private:
    static std::string Trim(std::string text) {
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        return text;
    }

    std::string address_;
    pid_t daemon_ = -1;
    std::vector<pid_t> mocks_;
};
