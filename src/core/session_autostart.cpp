#include "core/session_autostart.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "core/program_paths.h"
#include "core/replace_file.h"

namespace {

constexpr const char* kEntryName = "vistrel.desktop";

std::string AutostartFolder() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/') {
        return std::string(config) + "/autostart/";
    }
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return std::string(home) + "/.config/autostart/";
    return {};
}

// Escapes of the desktop entry "string" type, which every value goes through last.
std::string EscapeString(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string Failure(const char* what, const std::string& path) {
    return std::string(what) + " " + path + ": " + std::strerror(errno);
}

}  // namespace

std::string SessionAutostart::EntryPath() {
    const std::string folder = AutostartFolder();
    return folder.empty() ? folder : folder + kEntryName;
}

bool SessionAutostart::Enabled() {
    const std::string path = EntryPath();
    if (path.empty()) return false;
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        if (line == "Hidden=true") return false;
    }
    return true;
}

std::string SessionAutostart::ExecValue(const std::string& programFile) {
    std::string argument = programFile;
    if (programFile.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos) {
        argument = "\"";
        for (const char c : programFile) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') argument += '\\';
            argument += c;
        }
        argument += '"';
    }
    std::string value;
    for (const char c : EscapeString(argument)) {
        value += c;
        if (c == '%') value += '%';  // A lone % would start a field code.
    }
    return value;
}

bool SessionAutostart::Enable(const std::string& programFile, std::string& error) {
    const std::string folder = AutostartFolder();
    if (folder.empty()) {
        error = "neither XDG_CONFIG_HOME nor HOME is set";
        return false;
    }
    if (!MakeFolders(folder)) {
        error = Failure("cannot create", folder);
        return false;
    }
    const std::string text =
        "[Desktop Entry]\nType=Application\nName=Vistrel\n"
        "Comment=Watch a room or a door with one camera\n"
        "TryExec=" +
        EscapeString(programFile) + "\nExec=" + ExecValue(programFile) +
        "\nIcon=vistrel\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
    // Replaced whole, so a session starting meanwhile never reads half an entry.
    const std::string path = folder + kEntryName;
    if (!ReplaceFile(path, text, 0644)) {
        error = Failure("cannot write", path);
        return false;
    }
    return true;
}

bool SessionAutostart::Disable(std::string& error) {
    const std::string path = EntryPath();
    if (path.empty() || unlink(path.c_str()) == 0 || errno == ENOENT) return true;
    error = Failure("cannot remove", path);
    return false;
}
