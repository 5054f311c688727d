#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

// Runs the real program in a private copy of its folder: its own settings
// file, storage folders, lock file and home, so runs never meet each other.
class ProgramRun {
public:
    ProgramRun();
    ~ProgramRun();

    const std::filesystem::path& Folder() const { return folder_; }
    std::filesystem::path MoveFolder() const { return folder_ / "move"; }
    // Writes the settings file the program will load.
    void WriteSettings(const std::map<std::string, std::string>& settings);
    std::map<std::string, std::string> ReadSettings() const;

    void SetEnv(const std::string& name, const std::string& value) { env_[name] = value; }
    // Where the program's stderr goes from the next Start on (appended).
    void LogTo(const std::filesystem::path& file) { log_ = file; }
    bool Start();
    bool Running();
    // Sends a signal and waits up to timeoutMs for the exit; returns the exit
    // code, or -1 when it did not exit by itself, -2 when killed by a signal.
    int Stop(int signal, int timeoutMs = 20000);
    pid_t Pid() const { return pid_; }

private:
    std::filesystem::path folder_;
    std::map<std::string, std::string> env_;
    std::filesystem::path log_;
    pid_t pid_ = -1;
};

int FreePort();
// GET on 127.0.0.1; the whole response (head and body), "" on failure.
std::string HttpGet(int port, const std::string& target, int timeoutMs = 3000);
std::string Body(const std::string& response);
// Width and height from a JPEG's frame header; false when there is none.
bool JpegSize(const std::string& jpeg, int& width, int& height);
// Output of a shell command.
std::string Shell(const std::string& command);
// ffprobe's count of decodable frames, -1 when the file does not open.
int ProbeFrames(const std::filesystem::path& avi);
std::vector<std::filesystem::path> FilesWithExtension(const std::filesystem::path& folder, const std::string& ext);
// Polls a condition every 100 ms until it holds or timeoutMs passes.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);

// An X server of its own; Xvfb picks a free display number itself, so tests
// running side by side never meet on one display.
class Xvfb {
public:
    Xvfb();
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;
    // ":N", or "" when no server could be started.
    const std::string& Display() const { return display_; }
    std::string Run(const std::string& command) const { return Shell("DISPLAY=" + display_ + " " + command); }

private:
    pid_t pid_ = -1;
    std::string display_;
};
bool Installed(const char* command);
