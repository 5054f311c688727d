// Feeds arbitrary bytes to the settings file reader through a real file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/program_paths.h"
#include "core/settings_file.h"

namespace {

SettingsFile* g_settings = nullptr;
std::string g_path;

void Check(bool ok, const char* what, const char* text) {
    if (ok) return;
    std::fprintf(stderr, "fuzz_settings: %s: %s\n", what, text);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A private program folder in memory, so every input is one small file write.
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string folder = std::string(base) + "/vistrel-fuzz-settings-XXXXXX";
    if (!mkdtemp(folder.data())) return 0;
    SetProgramFileForTest(folder + "/vistrel");
    g_settings = new SettingsFile();
    g_path = g_settings->GetString("_FileParams");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (!g_settings || g_path.empty()) return 0;
    FILE* file = std::fopen(g_path.c_str(), "wb");
    if (!file) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    g_settings->Clear();
    g_settings->SetText("_FileParams", g_path.c_str());
    g_settings->Load();

    char key[Registry::kBufferSize];
    char value[Registry::kBufferSize];
    for (g_settings->First(); g_settings->Current(key, value); g_settings->Next()) {
        Check(key[0] != '\0', "empty key", value);
        Check(std::strlen(value) <= Registry::kMaxValue, "value too long", value);
        Check(std::strchr(value, '\n') == nullptr, "line feed in value", value);
        Check(std::strpbrk(key, " \t\n") == nullptr, "blank in key", key);
    }
    return 0;
}
