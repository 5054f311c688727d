#pragma once

#include <atomic>
#include <cstdint>

#include "core/thread_start.h"
#include "recording/jpeg_encoder.h"
#include "recording/pre_record_ring.h"

class AviRecorder;
class Registry;
class ShutterPlayer;
struct ShotData;

// The one background thread for picture output. For each picture the window
// hands over in "_MYSHOTDATA" it encodes the JPEG, writes a photo when one was
// asked for, publishes the JPEG on the block's picture board and gives it to
// "_CL_AviRecorder". Between pictures, at least every 100 ms while a video
// file is open, it closes the file on a split request or when a file limit is
// reached; with no file open it looks after the folder once a second. Registers
// nothing; the window keeps it. Every call belongs to the user-interface thread.
class ShotWorker {
public:
    static constexpr int kWakeTimeoutMs = 100;
    // With no file open no limit can be reached; a split request, a picture
    // and a stop wake the worker at once.
    static constexpr int kIdleWakeTimeoutMs = 1000;
    static constexpr int kStopTimeoutMs = 10000;
    static constexpr int32_t kMaxPhotoNumber = 99999;

    // The three blocks must be registered already; shutter sounds the photos.
    ShotWorker(Registry& registry, ShutterPlayer& shutter);
    // Stops the thread; waits as long as it takes if it outlived StopWorker.
    ~ShotWorker();
    ShotWorker(const ShotWorker&) = delete;
    ShotWorker& operator=(const ShotWorker&) = delete;

    // Starts the thread unless one exists; a failed start stops the worker.
    void StartWorker();
    // Ends the thread (waiting at most 10 s) and closes the video file. When
    // the thread has not ended by then, it closes the file itself on its way
    // out and the file is left alone here.
    void StopWorker();
    // Closes the current video file on the worker's next turn; several
    // requests before that turn close only that one file.
    void RequestSplit();
    void Wake();
    // True while a thread is started and has not been seen to end.
    bool Running() const { return static_cast<bool>(thread_); }
    // Photos asked for and not written (no free name, or the file failed); any thread.
    int32_t PhotoFailures() const { return photoFailures_.load(std::memory_order_acquire); }

    // One turn of the thread after its wait: the split and file-limit check,
    // then the waiting picture, if any. Called by the thread; public so that
    // benchmarks can time it with no thread started.
    void RunTurn();

    // Seconds before motion to put at the start of a recording; 0 = none (any thread).
    void SetPreRecordSeconds(int32_t seconds) { preRecord_.SetSeconds(seconds); }
    const PreRecordRing& PreRecord() const { return preRecord_; }

private:
    static void ThreadMain(ThreadStart* start);
    void RunLoop();
    void WritePhoto();

    Registry& registry_;
    ShotData* shot_;
    JpegEncoder encoder_;
    AviRecorder* recorder_;
    ShutterPlayer& shutter_;
    ThreadHandle thread_;
    std::atomic<int32_t> stop_{0};
    std::atomic<int32_t> split_{0};
    std::atomic<int32_t> photoFailures_{0};
    PreRecordRing preRecord_;
};
