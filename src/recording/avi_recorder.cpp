#include "recording/avi_recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/event_commands.h"
#include "core/recording_files.h"
#include "core/registry.h"
#include "recording/avi_format.h"
#include "recording/avi_recovery.h"
#include "recording/h264_file_encoder.h"
#include "recording/jpeg_decoder.h"
#include "recording/mp4_recovery.h"
#include "recording/pre_record_ring.h"
#include "recording/recording_sidecar.h"
#include "recording/mjpeg_params.h"
#include "recording/shot_data.h"

namespace {

constexpr int64_t kMiB = 1048576;
constexpr int32_t kDefaultMaxMiB = 1500;

int32_t Param(const std::atomic<int32_t>& field) { return field.load(std::memory_order_relaxed); }

FreeSpaceQuery g_freeSpaceForTest;

// A full disk or quota reads as no space; other errors as given.
RecordingFailure FailureOf(int error, RecordingFailure otherwise) {
    return error == ENOSPC || error == EDQUOT ? RecordingFailure::kNoSpace : otherwise;
}

}  // namespace

int64_t FolderFreeSpace(const char* folder) {
    return g_freeSpaceForTest ? g_freeSpaceForTest(folder) : AvailableSpace(folder);
}

void SetFreeSpaceQueryForTest(FreeSpaceQuery query) { g_freeSpaceForTest = std::move(query); }

AviRecorder::AviRecorder(Registry& registry, Clock& clock, FreeSpaceQuery freeSpace)
    : registry_(registry),
      params_(MjpegParams::Find(registry, ownParams_, "recording")),
      clock_(clock),
      freeSpace_(std::move(freeSpace)),
      retention_(registry, clock, freeSpace_),
      index_(new uint8_t[avi::kIndexHeadBytes + static_cast<size_t>(kMaxFrames) * avi::kIndexEntryBytes]),
      // The list hears of a finished file once its side files are there.
      sidecar_(std::make_unique<RecordingSidecar>([&registry](const char* path) {
          if (auto* files = RecordingFiles::Find(registry)) files->FileAdded(path);
      })) {
    temporaryPath_.reserve(512);
    finalPath_.reserve(512);
    folder_.reserve(512);
    registry_.SetHandle("_CL_AviRecorder", this);
    h264_ = registry_.Find<H264FileEncoder>("_CL_H264Encoder");
    RecoverLeftovers();
}

AviRecorder::~AviRecorder() { CloseFile(); }

void AviRecorder::RecoverLeftovers() {
    const std::string folder = registry_.GetString("MoveFilesPath");
    if (folder.empty()) return;
    RecoverTemporaryFiles(folder, Param(params_.speedPlay));
}

void AviRecorder::WriteFrame(ShotData& shot) {
    if (shot.recording.load(std::memory_order_acquire) == 0) {
        PauseRecording();
        return;
    }
    if (!PictureDue(shot)) return;
    if (shot.jpegWidth == 0) return;
    if (shot.jpegBytes <= 0 || shot.jpegBytes > ShotData::kBufferBytes) return;
    activation_ = static_cast<Activation>(shot.activation);
    // The picture the JPEG was made from goes to an MP4 as it is.
    const bool pixels = shot.frameWidth == shot.jpegWidth && shot.frameHeight == shot.jpegHeight &&
                        static_cast<int64_t>(shot.frameBytes) >= int64_t{3} * shot.frameWidth * shot.frameHeight;
    if (!WritePicture(shot.jpeg.get(), shot.jpegBytes, shot.jpegWidth, shot.jpegHeight, shot.captureTime,
                      pixels ? shot.picture.get() : nullptr, shot.motionLevel))
        return;
    NoteWritten(shot);
}

bool AviRecorder::PictureDue(const ShotData& shot) const {
    return IsDue(shot.lastWrittenTime, shot.captureTime, Param(params_.speedRec));
}

int32_t AviRecorder::SpeedRecMs() const { return Param(params_.speedRec); }

bool AviRecorder::IsDue(double lastWrittenTime, double captureTime, int32_t speedRecMs) {
    // Milliseconds, absolute: pictures whose clock went back are due too.
    const double gapMs = std::fabs(captureTime - lastWrittenTime) * 1000.0;
    return static_cast<double>(speedRecMs) <= gapMs;
}

void AviRecorder::NoteWritten(ShotData& shot) const {
    shot.lastWrittenTime = NextSlot(shot.lastWrittenTime, shot.captureTime, Param(params_.speedRec));
}

bool AviRecorder::WritePicture(const uint8_t* jpeg, int32_t bytes, int32_t width, int32_t height, double time,
                               const uint8_t* pixels, int32_t level) {
    if (width != width_ || height != height_) CloseFile();
    if (!IsOpen() && !StartFile(width, height)) return false;
    if (mp4_ ? AppendMp4(jpeg, bytes, time, pixels) : AppendFrame(jpeg, bytes)) {
        status_.SetFailure(RecordingFailure::kNone, "");
        sidecar_->Note(time, level, pixels, width, height);
    }
    return true;
}

double AviRecorder::NextSlot(double lastSlot, double captureTime, int32_t speedRecMs) {
    // Counting from the slot, not the late picture, keeps the average rate at
    // one frame per SpeedRec whatever the capture rate; after a pause or a
    // clock step the picture's own time starts a new schedule.
    const double interval = speedRecMs / 1000.0;
    const double slot = lastSlot + interval;
    return captureTime >= slot && captureTime - slot < interval ? slot : captureTime;
}

void AviRecorder::PauseRecording() {
    // A pause ends the file at once; the next active period starts a new one.
    CloseFile();
    status_.SetFailure(RecordingFailure::kNone, "");
}

void AviRecorder::Fail(RecordingFailure failure) { status_.SetFailure(failure, folder_); }

bool AviRecorder::SpaceForNewFile() {
    if (!freeSpace_) return true;
    int64_t freeBytes = freeSpace_(folder_.c_str());
    // With "KeepFreeMB" on, deleting old recordings makes the room.
    if (BelowSpaceLimit(freeBytes, kLowFreeBytes) && retention_.MakeRoom(folder_, kLowFreeBytes))
        freeBytes = freeSpace_(folder_.c_str());
    status_.SetFreeBytes(freeBytes);
    // After a full disk a figure that has not grown promises no room: the next write would fail the same way.
    const bool stillFull = diskFull_ && freeBytes >= 0 && freeBytes <= fullAtBytes_;
    if (!BelowSpaceLimit(freeBytes, kLowFreeBytes) && !stillFull) return true;
    Fail(RecordingFailure::kNoSpace);
    return false;
}

void AviRecorder::DiskFull() {
    CloseFile();
    diskFull_ = true;
    fullAtBytes_ = freeSpace_ ? freeSpace_(folder_.c_str()) : -1;
    if (retention_.MakeRoom(folder_, kLowFreeBytes) && freeSpace_) status_.SetFreeBytes(freeSpace_(folder_.c_str()));
    Fail(RecordingFailure::kNoSpace);
}

void AviRecorder::RefreshIdleFreeSpace() {
    const std::time_t now = clock_.Now();
    if (!freeSpace_ || now == freeCheckedAt_) return;
    freeCheckedAt_ = now;
    status_.SetFreeBytes(freeSpace_(registry_.GetString("MoveFilesPath").c_str()));
}

bool AviRecorder::StartFile(int32_t width, int32_t height) {
    width_ = width;
    height_ = height;
    const int32_t speedPlay = Param(params_.speedPlay);
    rate_ = speedPlay > 0 ? speedPlay : 4;
    openedAt_ = clock_.Now();

    std::tm local{};
    localtime_r(&openedAt_, &local);
    char name[64];
    std::snprintf(name, sizeof name, "%02i%02i%02i_%02i%02i%02i.tmp", TwoDigitYear(local), local.tm_mon + 1, local.tm_mday,
                  local.tm_hour, local.tm_min, local.tm_sec);
    folder_ = registry_.GetString("MoveFilesPath");
    retention_.Sweep(folder_);  // old recordings make room before the new one takes any
    temporaryPath_ = folder_;
    temporaryPath_ += name;
    const bool mp4 = h264_ != nullptr && Param(params_.recordingFormat) == 1;
    if (!SpaceForNewFile() || (mp4 && openedAt_ < encoderRetryAt_)) {
        width_ = height_ = 0;
        return false;
    }

    // O_EXCL: a leftover .tmp of the same second is a recording too, never truncated.
    fd_ = open(temporaryPath_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        Fail(FailureOf(errno, RecordingFailure::kNotWritable));
        width_ = height_ = 0;
        return false;
    }
    if (mp4) {
        if (!StartMp4(width, height)) return false;
        Opened(name);
        return true;
    }
    uint8_t head[avi::kHeadBytes];
    avi::BuildEmptyHead(head);
    if (!avi::WriteAllAt(fd_, head, sizeof head, 0)) {
        const RecordingFailure failure = FailureOf(errno, RecordingFailure::kWriteFailed);
        close(fd_);
        unlink(temporaryPath_.c_str());
        fd_ = -1;
        width_ = height_ = 0;
        if (failure == RecordingFailure::kNoSpace) {
            DiskFull();
        } else {
            Fail(failure);
        }
        return false;
    }
    position_ = avi::kHeadBytes;
    Opened(name);
    return true;
}

bool AviRecorder::AppendFrame(const uint8_t* bytes, int32_t n) {
    if (!IsOpen() || indexEntries_ >= kMaxFrames) return false;
    uint8_t chunkHead[avi::kChunkHeadBytes];
    avi::ByteWriter head(chunkHead, sizeof chunkHead);
    head.Code("00db");
    head.U32(static_cast<uint32_t>(n));
    iovec parts[2] = {{chunkHead, sizeof chunkHead}, {const_cast<uint8_t*>(bytes), static_cast<size_t>(n)}};
    if (!avi::WriteAllAt(fd_, parts, 2, position_)) {
        // Disk full or failing: drop the partial chunk and finish what was written.
        const int error = errno;
        ftruncate(fd_, static_cast<off_t>(position_));
        if (FailureOf(error, RecordingFailure::kWriteFailed) == RecordingFailure::kNoSpace) {
            // Said once, by the status, as every change of cause is; never once per picture.
            DiskFull();
            return false;
        }
        std::fprintf(stderr, "recording: cannot write %s: %s\n", temporaryPath_.c_str(), std::strerror(error));
        Fail(RecordingFailure::kWriteFailed);
        CloseFile();
        return false;
    }
    diskFull_ = false;
    uint8_t* entry = index_.get() + avi::kIndexHeadBytes + static_cast<size_t>(indexEntries_) * avi::kIndexEntryBytes;
    avi::PutIndexEntry(entry, static_cast<uint32_t>(position_), static_cast<uint32_t>(n));
    ++indexEntries_;
    position_ += avi::kChunkHeadBytes + n;
    ++frames_;
    dataBytes_ += n;
    status_.SetFrames(frames_);
    return true;
}

bool AviRecorder::NeedsNewFile() {
    if (mp4_) {
        std::string cause;
        if (h264_->Failed(cause)) {
            status_.SetFailure(RecordingFailure::kEncoderFailed, cause);
            encoderRetryAt_ = clock_.Now() + kEncoderRetrySeconds;
            return true;
        }
        dataBytes_ = h264_->Bytes();
        // Its index room holds that long; the seconds before motion count too.
        if (clock_.Now() - openedAt_ > H264FileEncoder::kMaxSeconds - PreRecordRing::kMaxSeconds - 5) return true;
    }
    const int64_t limitMiB = Param(params_.enableFileMaxSize) != 0 ? Param(params_.fileMaxSize) : kDefaultMaxMiB;
    if (dataBytes_ > limitMiB * kMiB) return true;
    if (Param(params_.enableFileMaxPages) != 0 && frames_ > Param(params_.fileMaxPages)) return true;
    if (Param(params_.enableFileMaxTime) != 0 &&
        static_cast<int64_t>(clock_.Now() - openedAt_) > static_cast<int64_t>(Param(params_.fileMaxTime)) * 60)
        return true;
    if (IsOpen() && freeSpace_) {
        // An unknown figure does not stop recording; a full disk shows as failed writes.
        const int64_t freeBytes = freeSpace_(folder_.c_str());
        status_.SetFreeBytes(freeBytes);
        // With "KeepFreeMB" on, deleting old recordings keeps this one going.
        if (BelowSpaceLimit(freeBytes, kLowFreeBytes) && !retention_.MakeRoom(folder_, kLowFreeBytes)) {
            Fail(RecordingFailure::kNoSpace);
            return true;
        }
    }
    if (!IsOpen()) RefreshIdleFreeSpace();
    return false;
}

void AviRecorder::CloseFile() {
    if (!IsOpen()) return;
    if (mp4_) {
        CloseMp4();
        return;
    }
    finalPath_ = avi::FinalName(temporaryPath_, frames_);
    const bool keep = frames_ >= 2;
    const avi::FinishResult finished =
        keep ? avi::FinishFile(fd_, position_, dataBytes_, index_.get(), indexEntries_, width_, height_, rate_)
             : avi::FinishResult::kDone;
    const int finishErrno = errno;
    close(fd_);
    fd_ = -1;
    if (!keep) {
        // Deleted under its own name: the final name may belong to another file.
        unlink(temporaryPath_.c_str());
    } else if (finished != avi::FinishResult::kDone) {
        // Left under its temporary name; the next start rebuilds it.
        std::fprintf(stderr, "recording: cannot finish %s: %s\n", temporaryPath_.c_str(), std::strerror(finishErrno));
    } else if (!avi::MoveNoReplace(temporaryPath_.c_str(), finalPath_.c_str())) {
        std::fprintf(stderr, "recording: cannot rename %s to %s: %s\n", temporaryPath_.c_str(), finalPath_.c_str(),
                     std::strerror(errno));
    } else {
        Finished();
    }
    ForgetFile();
}

void AviRecorder::Opened(const char* name) {
    sidecar_->Start(activation_);
    status_.SetOpenFile(name);
    if (auto* files = RecordingFiles::Find(registry_)) files->RecordingOpened(temporaryPath_.c_str());
}

void AviRecorder::Finished() {
    if (!sidecar_->Write(finalPath_))
        if (auto* files = RecordingFiles::Find(registry_)) files->FileAdded(finalPath_.c_str());
    if (auto* events = registry_.Find<EventCommands>("_CL_EventCommands")) events->Fire("OnFileClosed", finalPath_.c_str());
}

void AviRecorder::ForgetFile() {
    frames_ = 0;
    dataBytes_ = 0;
    indexEntries_ = 0;
    position_ = 0;
    width_ = height_ = 0;
    status_.SetFrames(0);
    status_.SetOpenFile("");
    if (auto* files = RecordingFiles::Find(registry_)) files->RecordingOpened("");
}

bool AviRecorder::StartMp4(int32_t width, int32_t height) {
    std::string cause;
    if (!h264_->Open(temporaryPath_, width, height, Param(params_.speedRec), cause)) {
        std::fprintf(stderr, "recording: cannot start %s with %s: %s\n", temporaryPath_.c_str(), h264_->Name(),
                     cause.c_str());
        close(fd_);
        fd_ = -1;
        unlink(temporaryPath_.c_str());
        width_ = height_ = 0;
        status_.SetFailure(RecordingFailure::kEncoderFailed, cause);
        encoderRetryAt_ = clock_.Now() + kEncoderRetrySeconds;
        return false;
    }
    mp4_ = true;
    return true;
}

bool AviRecorder::AppendMp4(const uint8_t* jpeg, int32_t bytes, double time, const uint8_t* pixels) {
    // A picture kept from before the motion comes as a JPEG only; it waits for its place in the queue.
    const bool kept = pixels == nullptr;
    if (kept) {
        if (!decoder_) decoder_ = std::make_unique<JpegDecoder>(ShotData::kBufferBytes);
        pixels = decoder_->Decode(jpeg, bytes, width_, height_);
        if (pixels == nullptr) return false;
    }
    if (!h264_->Push(pixels, width_, height_, time, kept)) {
        status_.AddDropped();
        return false;
    }
    ++frames_;
    status_.SetFrames(frames_);
    return true;
}

void AviRecorder::CloseMp4() {
    const bool whole = h264_->Close();
    close(fd_);
    fd_ = -1;
    mp4_ = false;
    bool named = false;
    if (!whole) {
        // What the file's index held at its last rewrite plays; it is named with that count.
        const RecoveryOutcome outcome = RecoverMp4File(temporaryPath_);
        finalPath_ = outcome.finalPath;
        named = outcome.result == RecoveryResult::kRecovered;
    } else if (frames_ < 2) {
        unlink(temporaryPath_.c_str());
    } else {
        finalPath_ = Mp4FinalName(temporaryPath_, frames_);
        named = avi::MoveNoReplace(temporaryPath_.c_str(), finalPath_.c_str());
        if (!named)
            std::fprintf(stderr, "recording: cannot rename %s to %s: %s\n", temporaryPath_.c_str(),
                         finalPath_.c_str(), std::strerror(errno));
    }
    if (named) Finished();
    ForgetFile();
}
