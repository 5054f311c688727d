// Drives the AVI writer with arbitrary frame sequences and walks every file
// it finishes as a RIFF reader would: sizes, lists, chunks and index agree.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/registry.h"
#include "recording/avi_recorder.h"
#include "recording/mjpeg_params.h"
#include "recording/shot_data.h"

namespace {

Registry* g_registry = nullptr;
MjpegParams* g_params = nullptr;
ShotData* g_shot = nullptr;
ManualClock* g_clock = nullptr;
AviRecorder* g_recorder = nullptr;

void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz_avi: %s\n", what);
    std::abort();
}

uint32_t Word(const std::vector<uint8_t>& f, std::size_t at) {
    Check(at + 4 <= f.size(), "read past the end");
    return f[at] | f[at + 1] << 8 | f[at + 2] << 16 | static_cast<uint32_t>(f[at + 3]) << 24;
}

bool Code(const std::vector<uint8_t>& f, std::size_t at, const char* code) {
    return at + 4 <= f.size() && std::memcmp(f.data() + at, code, 4) == 0;
}

// Walks a finished file; frames, sizes and bytes are what was written.
void Walk(const std::string& path, const std::vector<uint32_t>& sizes, int32_t width, int32_t height) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Check(Code(f, 0, "RIFF") && Code(f, 8, "AVI "), "no RIFF AVI head");
    Check(Word(f, 4) == f.size() - 8, "RIFF size");
    Check(Code(f, 12, "LIST") && Word(f, 16) == 228 && Code(f, 20, "hdrl"), "hdrl list");
    Check(Code(f, 24, "avih") && Word(f, 48) == sizes.size(), "avih frame count");
    Check(Word(f, 64) == static_cast<uint32_t>(width) && Word(f, 68) == static_cast<uint32_t>(height), "avih size");
    Check(Code(f, 88, "LIST") && Code(f, 96, "strl") && Code(f, 100, "strh") && Code(f, 172, "strf"), "strl list");
    Check(Word(f, 140) == sizes.size(), "strh length");
    Check(Word(f, 200) == static_cast<uint32_t>(width * height), "biSizeImage");
    Check(Code(f, 248, "JUNK") && Word(f, 252) == 2292, "JUNK chunk");
    Check(Code(f, 2548, "LIST") && Code(f, 2556, "movi"), "movi list");
    const std::size_t moviEnd = 2556 + Word(f, 2552);
    std::size_t at = 2560;
    uint64_t data = 0;
    std::vector<std::size_t> offsets;
    for (uint32_t n : sizes) {
        Check(Code(f, at, "00db") && Word(f, at + 4) == n, "frame chunk");
        offsets.push_back(at);
        at += 8 + n;
        data += n;
    }
    if (data % 2) {
        Check(at < f.size() && f[at] == 1, "pad byte");
        ++at;
    }
    Check(at == moviEnd, "movi size");
    Check(Code(f, at, "idx1") && Word(f, at + 4) == 16 * sizes.size(), "idx1 head");
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const std::size_t e = at + 8 + 16 * i;
        Check(Code(f, e, "00db") && Word(f, e + 4) == 0x10, "index entry");
        Check(Word(f, e + 8) == offsets[i] && Word(f, e + 12) == sizes[i], "index offset and size");
    }
    Check(at + 8 + 16 * sizes.size() == f.size(), "bytes after the index");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string folder = std::string(base) + "/vistrel-fuzz-avi-XXXXXX";
    if (!mkdtemp(folder.data())) return 0;
    g_registry = new Registry(true);
    g_registry->SetText("MoveFilesPath", (folder + "/").c_str());
    g_params = new MjpegParams();
    g_params->speedRec.store(0);
    g_params->speedPlay.store(3);
    g_registry->SetHandle("_MJPEG_PARAMS", g_params);
    g_shot = new ShotData();
    g_shot->recording.store(1);
    g_clock = new ManualClock(1767225600);
    g_recorder = new AviRecorder(*g_registry, *g_clock, [](const char*) -> int64_t { return 1LL << 40; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (!g_recorder) return 0;
    g_clock->Advance(2);  // A fresh temporary name for every input.
    std::vector<uint32_t> sizes;
    int32_t width = 0, height = 0;
    auto finish = [&] {
        const bool open = g_recorder->IsOpen();
        g_recorder->CloseFile();
        if (open && sizes.size() >= 2) Walk(g_recorder->FinalPath(), sizes, width, height);
        if (open) unlink(g_recorder->FinalPath().c_str());
        sizes.clear();
    };
    std::size_t at = 0;
    while (at + 3 <= size) {
        const uint8_t op = data[at];
        const uint32_t n = (data[at + 1] | data[at + 2] << 8) % 4096;
        at += 3;
        const uint32_t take = static_cast<uint32_t>(std::min<std::size_t>(n, size - at));
        if (op % 8 == 7) {
            finish();
            continue;
        }
        const int32_t w = op & 1 ? 32 : 64, h = op & 1 ? 24 : 48;
        if (g_recorder->IsOpen() && (w != g_recorder->Width() || h != g_recorder->Height())) {
            // The writer closes on a size change itself; walk what it finished.
            const std::vector<uint32_t> closed = sizes;
            const int32_t cw = width, ch = height;
            sizes.clear();
            std::memcpy(g_shot->jpeg.get(), data + at, take);
            g_shot->jpegBytes = static_cast<int32_t>(take);
            g_shot->jpegWidth = w;
            g_shot->jpegHeight = h;
            g_recorder->WriteFrame(*g_shot);
            const bool stillOpen = g_recorder->IsOpen() && g_recorder->Width() == cw && g_recorder->Height() == ch;
            if (stillOpen) {
                sizes = closed;  // The picture was not taken, so nothing closed.
            } else {
                if (closed.size() >= 2) Walk(g_recorder->FinalPath(), closed, cw, ch);
                unlink(g_recorder->FinalPath().c_str());
            }
        } else {
            std::memcpy(g_shot->jpeg.get(), data + at, take);
            g_shot->jpegBytes = static_cast<int32_t>(take);
            g_shot->jpegWidth = w;
            g_shot->jpegHeight = h;
            g_recorder->WriteFrame(*g_shot);
        }
        if (take >= 1 && g_recorder->IsOpen() && static_cast<std::size_t>(g_recorder->Frames()) > sizes.size()) {
            sizes.push_back(take);
            width = w;
            height = h;
        }
        at += take;
    }
    finish();
    return 0;
}
