#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/recording_names.h"

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
// Gathered while the file is recorded in buffers reserved once, written at
// close under a temporary name, synced and moved into place, so a crash never
// leaves half a side file under its final name. A failure is said once on
// stderr (until side files are written again) and never touches the recording.
// Worker thread only.
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

    RecordingSidecar();
    ~RecordingSidecar();
    RecordingSidecar(const RecordingSidecar&) = delete;
    RecordingSidecar& operator=(const RecordingSidecar&) = delete;

    // A new file is opened; activation made it. Forgets the last file's gatherings.
    void Start(Activation activation);
    // A picture went into the file: its capture time in seconds, its motion
    // level (0..100; below 0 when not known) and, when given, its pixels
    // (bottom-up blue-green-red), the first of which become the thumbnail.
    void Note(double time, int32_t level, const uint8_t* pixels, int32_t width, int32_t height);
    // Writes the side files of the file now finished as finalPath; false when any could not be.
    bool Write(const std::string& finalPath);

    // Off, Start, Note and Write do nothing (benchmarks time the turn without them).
    void SetEnabled(bool on) { enabled_ = on; }
    int32_t Seconds() const { return seconds_; }
    int32_t ThumbWidth() const { return thumbWidth_; }
    int32_t ThumbHeight() const { return thumbHeight_; }

private:
    void Shrink(const uint8_t* pixels, int32_t width, int32_t height);
    bool WriteThumbnail(const std::string& folder, const char* name);
    void SayFailure(const std::string& path, int error);

    std::unique_ptr<uint8_t[]> levels_;  // kMaxSeconds bytes
    std::unique_ptr<uint8_t[]> thumb_;   // kThumbWidth x kMaxThumbHeight x 3 bytes
    std::unique_ptr<JpegEncoder> encoder_;
    std::string path_;  // the side file being written, its room reserved once
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
