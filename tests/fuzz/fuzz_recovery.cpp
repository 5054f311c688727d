// Feeds arbitrary bytes as an interrupted recording to the recovery scanner,
// and the files it would rebuild through the whole recovery, read back.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "recording/avi_recovery.h"

namespace {

std::string g_folder;
// Room for every frame an input can hold: each chunk takes at least 8 bytes,
// so the same count as the recovery's own scan, which is never capped here.
constexpr int kMaxFrames = (2560 + 4096) / 8 + 1;
std::vector<uint8_t> g_index(8 + 16 * kMaxFrames);

void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz_recovery: %s\n", what);
    std::abort();
}

uint32_t Word(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    g_folder = std::string(base) + "/vistrel-fuzz-recovery-XXXXXX";
    if (!mkdtemp(g_folder.data())) g_folder.clear();
    g_folder += "/";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;
    // Short inputs stand for the frame area; the zeroed header is put in front.
    std::vector<uint8_t> file(2560, 0);
    std::memcpy(file.data() + 2548, "LIST\0\0\0\0movi", 12);
    file.insert(file.end(), data, data + size);

    MemoryByteSource source(file.data(), file.size());
    const RecordingScan scan = ScanRecording(source, g_index.data(), kMaxFrames);
    Check(scan.frames >= 0 && scan.frames <= kMaxFrames, "frame count out of range");
    Check(scan.endOfFrames <= static_cast<int64_t>(file.size()), "frames end past the file");
    for (int i = 0; i < scan.frames; ++i) {
        const uint8_t* entry = g_index.data() + 8 + 16 * i;  // after "idx1" and its size
        const uint32_t offset = Word(entry + 8);
        const uint32_t length = Word(entry + 12);
        Check(std::memcmp(entry, "00db", 4) == 0, "index entry without 00db");
        Check(offset + 8 + static_cast<uint64_t>(length) <= static_cast<uint64_t>(scan.endOfFrames),
              "index entry past the kept frames");
        Check(std::memcmp(file.data() + offset, "00db", 4) == 0, "index entry not at a chunk");
    }

    if (g_folder.size() < 2) return 0;
    const std::string path = g_folder + "260101_000000.tmp";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return 0;
    const bool whole = write(fd, file.data(), file.size()) == static_cast<ssize_t>(file.size());
    close(fd);
    if (!whole) return 0;
    const RecoveryOutcome outcome = RecoverTemporaryFile(path, 2);
    if (outcome.result == RecoveryResult::kRecovered) {
        Check(outcome.frames == scan.frames, "recovered another frame count than scanned");
        FILE* avi = std::fopen(outcome.finalPath.c_str(), "rb");
        Check(avi != nullptr, "recovered file missing");
        uint8_t head[12];
        Check(std::fread(head, 1, 12, avi) == 12, "recovered file too short");
        std::fseek(avi, 0, SEEK_END);
        const long length = std::ftell(avi);
        std::fclose(avi);
        Check(std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "AVI ", 4) == 0, "no RIFF AVI head");
        Check(Word(head + 4) == static_cast<uint32_t>(length - 8), "RIFF size is not the file length - 8");
        unlink(outcome.finalPath.c_str());
    }
    unlink(path.c_str());
    return 0;
}
