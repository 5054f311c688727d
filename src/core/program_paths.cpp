#include "core/program_paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {
std::string& ProgramFileOverride() {
    static std::string path;
    return path;
}
}  // namespace

std::string ProgramFile() {
    if (!ProgramFileOverride().empty()) return ProgramFileOverride();
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    return std::string(buffer, static_cast<std::size_t>(n));
}

void SetProgramFileForTest(const std::string& path) { ProgramFileOverride() = path; }

std::string GetProgramFolder() {
    const std::string file = ProgramFile();
    const std::size_t slash = file.rfind('/');
    if (slash == std::string::npos || slash + 1 == file.size()) return {};
    return file.substr(0, slash + 1);
}

std::string GetProgramName() {
    const std::string file = ProgramFile();
    const std::size_t slash = file.rfind('/');
    if (slash == std::string::npos || slash + 1 == file.size()) return {};
    return file.substr(slash + 1);
}

void AddTrailingBackslash(std::string& text) {
    if (text.empty() || text.back() == '/' || text.back() == '\\') return;
    text += '/';
}

std::string XdgFolder(const char* variable, const char* homeDefault) {
    std::string base;
    if (const char* value = std::getenv(variable); value && value[0] == '/') {
        base = value;
    } else if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
        base = std::string(home) + "/" + homeDefault;
    } else {
        return {};
    }
    AddTrailingBackslash(base);
    return base + "vistrel/";
}

bool MakeFolders(const std::string& folder) {
    for (std::size_t pos = 1; pos <= folder.size(); ++pos) {
        if (pos != folder.size() && folder[pos] != '/') continue;
        const std::string level = folder.substr(0, pos);
        if (mkdir(level.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
