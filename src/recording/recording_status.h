#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

class Registry;

// Why pictures that are to be recorded cannot be stored.
enum class RecordingFailure : int32_t {
    kNone = 0,
    kNoSpace = 1,      // free space under the limit, or the disk took no more
    kNotWritable = 2,  // the file cannot be created in the folder
    kWriteFailed = 3,  // a write failed for another reason
    kEncoderFailed = 4,  // the H.264 encoder reported an error; the folder field holds its cause
};

// Why nothing is recorded while no failure stands in the way.
enum class RecordingIdle : int32_t {
    kRecording = 0,
    kModeOff = 1,
    kOutsideWindow = 2,
    kWaitingForMotion = 3,
};

// What the recording is doing, as the window's status line and the web status
// read it. The recorder writes the file side on the worker thread, the window
// the activity side on its tick; any thread reads a Snapshot.
class RecordingStatus {
public:
    struct Snapshot {
        bool active = false;
        RecordingIdle idle = RecordingIdle::kModeOff;
        RecordingFailure failure = RecordingFailure::kNone;
        std::string failureFolder;  // the folder the failure is about
        std::string fileName;       // open file, without its folder; "" when none
        int32_t frames = 0;         // frames in the open file
        int64_t freeBytes = -1;     // free space of the recording folder; -1 unknown
        int32_t dropped = 0;        // pictures the MP4 encoder could not take in time, since start
    };

    // Recorder side.
    void SetFailure(RecordingFailure failure, const std::string& folder);
    void SetOpenFile(const std::string& name);
    void SetFrames(int32_t frames) { frames_.store(frames, std::memory_order_release); }
    void SetFreeBytes(int64_t bytes) { freeBytes_.store(bytes, std::memory_order_release); }
    void AddDropped() { dropped_.fetch_add(1, std::memory_order_acq_rel); }

    // Window side, every tick.
    void SetActivity(bool active, RecordingIdle idle) {
        idle_.store(static_cast<int32_t>(idle), std::memory_order_relaxed);
        active_.store(active ? 1 : 0, std::memory_order_release);
    }

    RecordingFailure Failure() const {
        return static_cast<RecordingFailure>(failure_.load(std::memory_order_acquire));
    }
    // Active but pictures cannot be stored: the warning the window shows.
    bool Blocked() const {
        return active_.load(std::memory_order_acquire) != 0 && Failure() != RecordingFailure::kNone;
    }
    Snapshot Read() const;

    // Why pictures that are to be recorded cannot be stored, in the user's
    // language; "" when they can (or nothing is to be recorded). The one
    // cause the status line, stderr and "status.json" all tell.
    static std::string ProblemText(const Snapshot& status, Registry& registry, int64_t limitBytes);

private:
    mutable std::mutex textLock_;  // the two texts below; taken only when a file opens, fails or is read
    std::string failureFolder_;
    std::string fileName_;
    std::atomic<int32_t> failure_{0};
    std::atomic<int32_t> frames_{0};
    std::atomic<int64_t> freeBytes_{-1};
    std::atomic<int32_t> dropped_{0};
    std::atomic<int32_t> active_{0};
    std::atomic<int32_t> idle_{static_cast<int32_t>(RecordingIdle::kModeOff)};
};
