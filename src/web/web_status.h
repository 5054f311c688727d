#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

// What the main window's status line shows, as plain values the window (or
// the recording control) fills on its timer tick and "status.json" reports.
struct WebStatus {
    static constexpr std::size_t kTextSize = 256;

    bool filled = false;
    bool cameraConnected = false;
    char camera[kTextSize] = {};
    bool recording = false;
    // Activation mode 0..5 as the recording control numbers it.
    int32_t mode = 0;
    bool detectorHolding = false;
    bool inTimeWindow = false;
    int32_t level = 0;
    int32_t threshold = 0;
    // The open video file and its frames; empty and -1 when not known.
    char file[kTextSize] = {};
    int32_t frames = -1;
    // Pictures the H.264 encoder could not take in time since start.
    int32_t dropped = 0;
    // Free bytes where recordings go; -1 when not known.
    int64_t freeBytes = -1;
    // Why pictures to be recorded cannot be stored, as the status line says it; empty when they can.
    char problem[kTextSize] = {};
};

// The latest status, handed from the filling thread to the connection
// threads under a lock of its own.
class WebStatusBoard {
public:
    void Update(const WebStatus& status);
    void Read(WebStatus& out) const;

    // Why recording is on or off, in a few words.
    static const char* Reason(const WebStatus& status);
    // The JSON text of status into out (size bytes with its zero); its length, -1 when it does not fit.
    static int FormatJson(const WebStatus& status, char* out, std::size_t size);

private:
    mutable std::mutex mutex_;
    WebStatus status_;
};
