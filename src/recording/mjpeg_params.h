#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

// The nine recording values shared as "_MJPEG_PARAMS": owned by the main
// window, written on the user-interface thread, read live by the worker.
// Each field is a whole atomic word, so relaxed loads and stores suffice.
struct MjpegParams {
    std::atomic<int32_t> quality{0};             // JPEG quality 1..100
    std::atomic<int32_t> speedRec{0};            // least interval between recorded frames, ms
    std::atomic<int32_t> speedPlay{0};           // frames per second written into the file header
    std::atomic<int32_t> fileMaxSize{0};         // MiB of picture data
    std::atomic<int32_t> fileMaxPages{0};        // frames
    std::atomic<int32_t> fileMaxTime{0};         // minutes
    std::atomic<int32_t> enableFileMaxSize{0};   // 0 or 1
    std::atomic<int32_t> enableFileMaxPages{0};  // 0 or 1
    std::atomic<int32_t> enableFileMaxTime{0};   // 0 or 1
    // Not one of the shared nine: 0 Motion-JPEG AVI, 1 H.264 MP4, from the next file on.
    std::atomic<int32_t> recordingFormat{0};

    static constexpr int kCount = 9;
    static_assert(std::atomic<int32_t>::is_always_lock_free, "the worker reads these without a lock");

    // Field i in the shared order (0 = quality ... 8 = enableFileMaxTime).
    std::atomic<int32_t>& At(int i) {
        std::atomic<int32_t>* const fields[kCount] = {&quality,         &speedRec,          &speedPlay,
                                                      &fileMaxSize,     &fileMaxPages,      &fileMaxTime,
                                                      &enableFileMaxSize, &enableFileMaxPages, &enableFileMaxTime};
        return *fields[i];
    }
    int32_t Get(int i) { return At(i).load(std::memory_order_relaxed); }
    void Set(int i, int32_t value) { At(i).store(value, std::memory_order_relaxed); }

    // The registered block; a private zero block (with a message) when the
    // main window has not registered one, so a wrong start order cannot crash.
    template <class RegistryT>
    static MjpegParams& Find(RegistryT& registry, MjpegParams& fallback, const char* module) {
        if (auto* found = registry.template Find<MjpegParams>("_MJPEG_PARAMS")) return *found;
        std::fprintf(stderr, "%s: no \"_MJPEG_PARAMS\" registered; using defaults\n", module);
        return fallback;
    }
};

// Field positions of MjpegParams, for tables and the dialog's working copy.
enum MjpegField : int {
    kMjpegQuality = 0,
    kMjpegSpeedRec,
    kMjpegSpeedPlay,
    kMjpegFileMaxSize,
    kMjpegFileMaxPages,
    kMjpegFileMaxTime,
    kMjpegEnableFileMaxSize,
    kMjpegEnableFileMaxPages,
    kMjpegEnableFileMaxTime,
};
