#include "e2e/program_run.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

extern char** environ;
namespace fs = std::filesystem;

ProgramRun::ProgramRun() {
    char pattern[] = "/tmp/vistrel-e2e-XXXXXX";
    folder_ = mkdtemp(pattern);
    const fs::path build = VISTREL_BUILD_DIR;
    fs::copy_file(build / "vistrel", folder_ / "vistrel");
    if (fs::is_directory(build / "Lang")) fs::copy(build / "Lang", folder_ / "Lang", fs::copy_options::recursive);
    fs::create_directories(folder_ / "run");
    fs::permissions(folder_ / "run", fs::perms::owner_all);
    fs::create_directories(folder_ / "home");
    env_["QT_QPA_PLATFORM"] = "offscreen";
    env_["XDG_RUNTIME_DIR"] = (folder_ / "run").string();
    env_["HOME"] = (folder_ / "home").string();
}

ProgramRun::~ProgramRun() {
    if (pid_ > 0) Stop(SIGKILL, 5000);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

void ProgramRun::WriteSettings(const std::map<std::string, std::string>& settings) {
    std::ofstream out(folder_ / "vistrel.ini");
    for (const auto& [key, value] : settings) out << key << ' ' << value << '\n';
}

std::map<std::string, std::string> ProgramRun::ReadSettings() const {
    std::map<std::string, std::string> settings;
    std::ifstream in(folder_ / "vistrel.ini");
    std::string line;
    while (std::getline(in, line)) {
        const auto blank = line.find(' ');
        if (blank != std::string::npos) settings[line.substr(0, blank)] = line.substr(blank + 1);
    }
    return settings;
}

bool ProgramRun::Start() {
    std::vector<std::string> entries;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (!env_.count(name)) entries.push_back(entry);
    }
    for (const auto& [name, value] : env_) entries.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);
    const std::string program = (folder_ / "vistrel").string();
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!log_.empty())
        posix_spawn_file_actions_addopen(&actions, 2, log_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const bool started = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data()) == 0;
    posix_spawn_file_actions_destroy(&actions);
    return started;
}

bool ProgramRun::Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

int ProgramRun::Stop(int signal, int timeoutMs) {
    if (pid_ <= 0) return -1;
    kill(pid_, signal);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) != pid_) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            pid_ = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid_ = -1;
    if (WIFSIGNALED(status)) return -2;
    return WEXITSTATUS(status);
}

int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

std::string HttpGet(int port, const std::string& target, int timeoutMs) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return {};
    }
    const std::string request = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        close(fd);
        return {};
    }
    std::string response;
    char buffer[65536];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        response.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return response;
}

std::string Body(const std::string& response) {
    const auto end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : response.substr(end + 4);
}

bool JpegSize(const std::string& jpeg, int& width, int& height) {
    if (jpeg.size() < 4 || static_cast<unsigned char>(jpeg[0]) != 0xFF || static_cast<unsigned char>(jpeg[1]) != 0xD8)
        return false;
    std::size_t i = 2;
    auto byte = [&](std::size_t at) { return static_cast<unsigned char>(jpeg[at]); };
    while (i + 9 < jpeg.size()) {
        if (byte(i) != 0xFF) return false;
        const int marker = byte(i + 1);
        const std::size_t length = (byte(i + 2) << 8) | byte(i + 3);
        if (marker >= 0xC0 && marker <= 0xC3) {
            height = (byte(i + 5) << 8) | byte(i + 6);
            width = (byte(i + 7) << 8) | byte(i + 8);
            return true;
        }
        i += 2 + length;
    }
    return false;
}

std::string Shell(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    pclose(pipe);
    return output;
}

int ProbeFrames(const fs::path& avi) {
    const std::string out = Shell("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                  "stream=nb_read_frames -of csv=p=0 '" + avi.string() + "' 2>/dev/null");
    if (out.empty() || out[0] < '0' || out[0] > '9') return -1;
    return std::atoi(out.c_str());
}

std::vector<fs::path> FilesWithExtension(const fs::path& folder, const std::string& ext) {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        if (entry.path().extension() == ext) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

Xvfb::Xvfb() {
    int ends[2];
    if (pipe(ends) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        close(ends[0]);
        const std::string fd = std::to_string(ends[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ends[1]);
    if (pid_ < 0) {
        close(ends[0]);
        return;
    }
    // The server writes its display number once it accepts connections.
    std::string number;
    pollfd p{ends[0], POLLIN, 0};
    char c = 0;
    while (poll(&p, 1, 15000) > 0 && read(ends[0], &c, 1) == 1 && c != '\n') number += c;
    close(ends[0]);
    if (!number.empty() && c == '\n') display_ = ":" + number;
}

Xvfb::~Xvfb() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

bool Installed(const char* command) { return !Shell(std::string("command -v ") + command).empty(); }
