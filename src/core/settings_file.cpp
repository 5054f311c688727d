#include "core/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "core/program_paths.h"
#include "core/replace_file.h"

namespace {

// The longest line read is two less: its end of line and the terminating zero.
constexpr std::size_t kLineBytes = 512;

// Storage folder used when the program folder is read-only.
std::string DataFolder(const std::string& programFolder, bool programFolderWritable) {
    if (programFolderWritable) return programFolder;
    const std::string data = XdgFolder("XDG_DATA_HOME", ".local/share");
    return !data.empty() && MakeFolders(data) ? data : programFolder;
}

// Folders the package manager owns hold no user data, even for root, who may write there.
bool Writable(const std::string& folder) {
    if (folder.starts_with("/usr/") || folder.starts_with("/opt/")) return false;
    return access(folder.empty() ? "." : folder.c_str(), W_OK) == 0;
}

void CreateLastLevel(Registry& registry, const char* key) {
    const std::string folder = registry.GetString(key);
    if (!folder.empty()) mkdir(folder.c_str(), 0755);
}

// Keys whose values are password hashes.
bool HoldsSecret(const std::string& key) {
    static constexpr char kSuffix[] = "PasswordHash";
    constexpr std::size_t length = sizeof kSuffix - 1;
    return key.size() >= length && key.compare(key.size() - length, length, kSuffix) == 0;
}

}  // namespace

SettingsFile::SettingsFile() : Registry(true) {
    const std::string folder = GetProgramFolder();
    const std::string name = GetProgramName();
    SetText("_ProgramPath", folder.c_str());
    if (!folder.empty()) (void)chdir(folder.c_str());

    const bool writable = Writable(folder);
    std::string settingsFolder = folder;
    if (!writable) {
        const std::string config = XdgFolder("XDG_CONFIG_HOME", ".config");
        if (!config.empty() && MakeFolders(config)) settingsFolder = config;
    }
    SetTextJoined("_FileParams", (settingsFolder + name).c_str(), ".ini");
    Load();
    // After loading, so a line of the file can never stand in for it.
    SetHandle("_SaveRequest", static_cast<SaveRequest*>(this));

    const std::string storage = DataFolder(folder, writable);
    if (!Contains("MoveFilesPath")) SetTextJoined("MoveFilesPath", storage.c_str(), "move/");
    if (!Contains("ShotFilesPath")) SetTextJoined("ShotFilesPath", storage.c_str(), "shot/");
    CreateLastLevel(*this, "MoveFilesPath");
    CreateLastLevel(*this, "ShotFilesPath");
}

SettingsFile::~SettingsFile() { Save(); }

void SettingsFile::Load() {
    char path[kBufferSize];
    if (!GetText("_FileParams", path)) return;
    FILE* file = std::fopen(path, "r");
    if (!file) return;
    char line[kLineBytes];
    char key[kLineBytes];
    char value[kLineBytes];
    while (std::fgets(line, sizeof line, file)) {
        std::size_t n = std::strlen(line);
        if (n > 0 && line[n - 1] != '\n' && !std::feof(file)) {
            // Longer than the buffer: skipped whole, so its rest is never read as settings of its own.
            if (std::sscanf(line, "%63s", key) != 1) key[0] = '\0';
            std::fprintf(stderr, "settings: the line of \"%s\" is longer than %d characters; skipped\n", key,
                         static_cast<int>(sizeof line) - 2);
            int c = 0;
            while ((c = std::fgetc(file)) != EOF && c != '\n') {
            }
            continue;
        }
        // A line written on Windows ends in CR LF; its text-mode reading drops the CR.
        if (n >= 2 && line[n - 2] == '\r' && line[n - 1] == '\n') {
            line[n - 2] = '\n';
            line[--n] = '\0';
        }
        // Names starting with "_" are the program's run-time values, never the file's.
        if (std::sscanf(line, "%511s %511[^\n]", key, value) == 2 && key[0] != '_') SetText(key, value);
    }
    std::fclose(file);
}

bool SettingsFile::Save() {
    char path[kBufferSize];
    if (!GetText("_FileParams", path)) return false;

    std::string text;
    bool secret = false;
    {
        // The worker stores "ShotCounterFiles" meanwhile; walk a stable map.
        std::lock_guard guard(*this);
        for (const auto& [key, value] : Entries()) {
            if (!key.empty() && key[0] == '_') continue;
            secret = secret || (!value.empty() && HoldsSecret(key));
            text += key;
            text += ' ';
            text += value;
            text += '\n';
        }
    }

    // A password hash is for the owner's eyes only.
    if (!ReplaceFile(path, text, secret ? 0600 : 0644)) {
        std::fprintf(stderr, "settings: cannot save %s: %s\n", path, std::strerror(errno));
        return false;
    }
    return true;
}
