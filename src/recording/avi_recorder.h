#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "core/clock.h"
#include "core/recording_names.h"
#include "recording/mjpeg_params.h"
#include "recording/recording_status.h"
#include "recording/recording_retention.h"

class H264FileEncoder;
class JpegDecoder;
class RecordingSidecar;
class Registry;
struct ShotData;

// AvailableSpace, unless a test put its own query in (an empty one restores it).
int64_t FolderFreeSpace(const char* folder);
void SetFreeSpaceQueryForTest(FreeSpaceQuery query);

// Writes the worker's JPEG pictures into Motion-JPEG AVI files in the folder
// "MoveFilesPath": YYMMDD_HHMMSS.tmp while open, YYMMDD_HHMMSS_NNNN.avi once
// closed. Registers itself as "_CL_AviRecorder"; needs "_MJPEG_PARAMS". With
// "RecordingFormat" 1 and an encoder registered as "_CL_H264Encoder", the
// files are H.264 MP4 instead (YYMMDD_HHMMSS_NNNN.mp4) under the same rules.
// A finished file gets its side files (RecordingSidecar): the motion of each
// second and a thumbnail naming the activation that made it.
// All calls run on the worker thread (or after it has ended).
class AviRecorder {
public:
    static constexpr int32_t kMaxFrames = 200000;          // room in the index
    static constexpr int32_t kFirstChunkOffset = 2560;     // first "00db" chunk
    static constexpr int64_t kLowFreeBytes = 100LL * 1048576;  // free space that closes the file
    // The pause after an H.264 encoder failure before the next file is tried.
    static constexpr std::time_t kEncoderRetrySeconds = 2;

    // Rebuilds the .tmp files an interrupted run left in the recording folder.
    explicit AviRecorder(Registry& registry, Clock& clock = SystemClock::Instance(),
                         FreeSpaceQuery freeSpace = FolderFreeSpace);
    // Closes an open file.
    ~AviRecorder();
    AviRecorder(const AviRecorder&) = delete;
    AviRecorder& operator=(const AviRecorder&) = delete;

    // Records the block's JPEG when its recording flag is set and it is due
    // by SpeedRec; opens a file when none is open, closes on a size change.
    // A picture whose flag is clear closes the open file.
    void WriteFrame(ShotData& shot);
    // The recording interval rule: a picture taken at captureTime is due
    // after one written at lastWrittenTime. Any thread may ask.
    static bool IsDue(double lastWrittenTime, double captureTime, int32_t speedRecMs);
    // The slot the next due picture is counted from, after recording a
    // picture of captureTime (seconds) counted from lastSlot.
    static double NextSlot(double lastSlot, double captureTime, int32_t speedRecMs);
    // Whether the block's picture is due by SpeedRec after the last one written.
    bool PictureDue(const ShotData& shot) const;
    // The recording interval (SpeedRec) in milliseconds.
    int32_t SpeedRecMs() const;
    // Counts the block's picture as written: the next one is due a SpeedRec later.
    void NoteWritten(ShotData& shot) const;
    // Appends a picture kept earlier; opens a file when none is open, closes on a size change.
    // pixels (bottom-up blue-green-red), when given, are the JPEG's picture for an MP4 file;
    // without them an MP4 gets the JPEG decoded. time is the picture's capture time,
    // level its motion level (below 0 when not known).
    bool WritePicture(const uint8_t* jpeg, int32_t bytes, int32_t width, int32_t height, double time = 0.0,
                      const uint8_t* pixels = nullptr, int32_t level = -1);
    // What has recording on for the pictures given from now on; a file opened for them is said to be made by it.
    void SetActivation(Activation activation) { activation_ = activation; }
    // True when the open file has passed a limit or the disk runs low.
    bool NeedsNewFile();
    // Writes pad, index and header, closes and moves to the final name.
    // Does nothing when no file is open.
    void CloseFile();
    // Deletes old recordings once a minute when "KeepFreeMB" or "KeepDays" asks for it.
    void KeepRoom() { retention_.SweepIfDue(); }

    // State, for the worker, the window and tests.
    bool IsOpen() const { return fd_ >= 0; }
    // Whether the open file is an MP4.
    bool IsMp4() const { return mp4_; }
    int32_t Frames() const { return frames_; }
    int64_t DataBytes() const { return dataBytes_; }
    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    const std::string& TemporaryPath() const { return temporaryPath_; }
    // Name the last closed file got (or was meant to get).
    const std::string& FinalPath() const { return finalPath_; }
    // Readable from any thread.
    RecordingStatus& Status() { return status_; }
    RecordingSidecar& Sidecar() { return *sidecar_; }

private:
    bool StartFile(int32_t width, int32_t height);
    bool AppendFrame(const uint8_t* bytes, int32_t n);
    bool StartMp4(int32_t width, int32_t height);
    bool AppendMp4(const uint8_t* jpeg, int32_t bytes, double time, const uint8_t* pixels);
    void CloseMp4();
    // Tells the status and the listeners which file is open now.
    void Opened(const char* name);
    // Hands its side files over and tells the listeners the file is finished under finalPath_
    // (the list once the side files are written).
    void Finished();
    // Back to no file open: the counts cleared, the names kept.
    void ForgetFile();
    void RecoverLeftovers();
    void PauseRecording();
    void Fail(RecordingFailure failure);
    // False (and the failure noted) when the folder's disk is under the limit.
    bool SpaceForNewFile();
    // A write the disk took no more of: the file is closed whole, old
    // recordings give way, and no file starts until more space has come.
    void DiskFull();
    // Keeps the status's free-space figure fresh while no file is open.
    void RefreshIdleFreeSpace();

    Registry& registry_;
    MjpegParams ownParams_;  // used only when none is registered
    MjpegParams& params_;
    Clock& clock_;
    FreeSpaceQuery freeSpace_;
    RecordingRetention retention_;
    int fd_ = -1;
    // "idx1", its size and up to kMaxFrames 16-byte entries, written in one go.
    std::unique_ptr<uint8_t[]> index_;
    int32_t indexEntries_ = 0;
    int64_t position_ = 0;  // where the next chunk goes
    int32_t frames_ = 0;
    int64_t dataBytes_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
    int32_t rate_ = 4;
    std::time_t openedAt_ = 0;
    std::string temporaryPath_;
    std::string finalPath_;
    std::string folder_;
    std::time_t freeCheckedAt_ = 0;
    bool diskFull_ = false;
    int64_t fullAtBytes_ = -1;  // the free-space figure when the disk took no more
    RecordingStatus status_;
    H264FileEncoder* h264_ = nullptr;
    std::unique_ptr<JpegDecoder> decoder_;  // made with the first MP4 file
    bool mp4_ = false;
    std::time_t encoderRetryAt_ = 0;
    Activation activation_ = Activation::kUnknown;
    std::unique_ptr<RecordingSidecar> sidecar_;
};
