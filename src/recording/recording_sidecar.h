#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/auto_reset_event.h"
#include "core/recording_names.h"
#include "core/thread_start.h"

class JpegEncoder;

// The side files of a finished recording, in the hidden sub-folder ".thumbs/"
// of its folder:
//  - "<name>.levels": the peak motion level (0..100) of each second of the
//    recording, one byte a second, counted from the file's first picture by
//    the pictures' capture times; a second with no picture or no known level is 0;
//  - "<name>.jpg": a thumbnail kThumbWidth pixels wide (aspect kept) of the
//    first picture given with its pixels (the one the detector triggered on,
//    or the first live picture), whose JPEG comment right after the start of
//    image names the activation that made the file ("activation=detector").
// Gathered while the file is recorded in buffers reserved once; at close they
// change places with a second set that a thread of the side files' own
// writes under a temporary name, syncs and moves into place, so the worker
// never waits on the disk for them and a crash never leaves half a side file
// under its final name. A failure is said once on stderr (until side files
// are written again) and never touches the recording. Start, Note, Write and
// Flush belong to the worker's thread.
class RecordingSidecar {
public:
    static constexpr const char* kFolder = ".thumbs/";
    // Seconds of levels kept: a day. A longer file (only the AVI's 200,000
    // pictures at a slow interval get there) has the strip of its first day.
    static constexpr int32_t kMaxSeconds = 86400;
    static constexpr int32_t kThumbWidth = 160;
    // A picture taller than wide is made this high at most, narrower then.
    static constexpr int32_t kMaxThumbHeight = 240;
    static constexpr int kThumbQuality = 75;

    // written is told each finished file's path once its side files are
    // written (or could not be), on the side files' thread.
    explicit RecordingSidecar(std::function<void(const char*)> written = nullptr);
    // Writes what was handed over before it ends.
    ~RecordingSidecar();
    RecordingSidecar(const RecordingSidecar&) = delete;
    RecordingSidecar& operator=(const RecordingSidecar&) = delete;

    // A new file is opened; activation made it. Forgets the last file's gatherings.
    void Start(Activation activation);
    // A picture went into the file: its capture time in seconds, its motion
    // level (0..100; below 0 when not known) and, when given, its pixels
    // (bottom-up blue-green-red), the first of which become the thumbnail.
    void Note(double time, int32_t level, const uint8_t* pixels, int32_t width, int32_t height);
    // Hands the side files of the file now finished as finalPath to be
    // written, waiting only while the last file's are still being written
    // (where no thread could be started, writes them here). True when
    // written will be told of the file; false when nothing was gathered for it.
    bool Write(const std::string& finalPath);
    // Waits until the side files handed over are written.
    void Flush();

    // Off, Start, Note and Write do nothing (benchmarks time the turn without them).
    void SetEnabled(bool on) { enabled_ = on; }
    int32_t Seconds() const { return seconds_; }
    int32_t ThumbWidth() const { return thumbWidth_; }
    int32_t ThumbHeight() const { return thumbHeight_; }

private:
    // What is written for one file: its path, levels and thumbnail.
    struct Gathered {
        std::unique_ptr<uint8_t[]> levels;  // kMaxSeconds bytes
        std::unique_ptr<uint8_t[]> thumb;   // kThumbWidth x kMaxThumbHeight x 3 bytes
        std::string finalPath;              // its room reserved once
        Activation activation = Activation::kUnknown;
        int32_t seconds = 0;
        int32_t thumbWidth = 0;
        int32_t thumbHeight = 0;
    };

    static void WriterEntry(ThreadStart* start);
    void WriterLoop();
    // Writes the side files of written_; said on stderr when any could not be.
    void WriteGathered();
    void Shrink(const uint8_t* pixels, int32_t width, int32_t height);
    bool WriteThumbnail(const std::string& folder, const char* name);
    void SayFailure(const std::string& path, int error);

    std::unique_ptr<uint8_t[]> levels_;  // kMaxSeconds bytes, gathered now
    std::unique_ptr<uint8_t[]> thumb_;   // kThumbWidth x kMaxThumbHeight x 3 bytes, gathered now
    Gathered written_;                   // the last file's, the writer's while busy_
    std::function<void(const char*)> writtenNotice_;
    std::unique_ptr<JpegEncoder> encoder_;
    std::string path_;  // the side file being written, its room reserved once
    ThreadHandle writer_;
    AutoResetEvent wake_;
    AutoResetEvent idle_;
    std::atomic<bool> busy_{false};
    std::atomic<bool> stop_{false};
    bool enabled_ = true;
    bool started_ = false;
    bool said_ = false;
    Activation activation_ = Activation::kUnknown;
    double firstTime_ = 0.0;
    int32_t seconds_ = 0;
    int32_t thumbWidth_ = 0;
    int32_t thumbHeight_ = 0;
};

// Deletes the side files of the recording name from the folder open as dirFd;
// a side file that is not there is no error.
void RemoveSideFiles(int dirFd, const char* name);
