#include "recording/shot_worker.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/event_commands.h"
#include "core/recording_files.h"
#include "core/registry.h"
#include "core/save_request.h"
#include "recording/avi_recorder.h"
#include "recording/photo_files.h"
#include "recording/recording_sidecar.h"
#include "recording/shot_data.h"
#include "recording/shutter_sound.h"

ShotWorker::ShotWorker(Registry& registry, ShutterPlayer& shutter)
    : registry_(registry),
      shot_(registry.Find<ShotData>("_MYSHOTDATA")),
      recorder_(registry.Find<AviRecorder>("_CL_AviRecorder")),
      shutter_(shutter) {}

ShotWorker::~ShotWorker() {
    StopWorker();
    if (thread_) {
        // Destroying the worker under a running thread would pull the recorder away from it.
        std::fprintf(stderr, "recording: waiting for the output worker to end\n");
        thread_.Join();
    }
}

void ShotWorker::StartWorker() {
    if (thread_) return;
    // Cleared here rather than in the thread, so a stop given right after the start is not lost.
    stop_.store(0, std::memory_order_release);
    thread_ = StartThread(ThreadMain, this, 0, 0);
    if (!thread_) StopWorker();
}

void ShotWorker::StopWorker() {
    stop_.store(1, std::memory_order_release);
    Wake();
    if (thread_ && !thread_.WaitFor(kStopTimeoutMs)) {
        std::fprintf(stderr, "recording: output worker did not stop within %d ms\n", kStopTimeoutMs);
        return;
    }
    if (recorder_) {
        recorder_->CloseFile();
        // The list hears of the last file's side files before the worker is gone.
        recorder_->Sidecar().Flush();
    }
}

void ShotWorker::RequestSplit() {
    split_.store(1, std::memory_order_release);
    Wake();
}

void ShotWorker::Wake() {
    if (shot_) shot_->Wake();
}

void ShotWorker::ThreadMain(ThreadStart* start) {
    pthread_setname_np(pthread_self(), "vistrel-worker");  // As system monitors show it.
    static_cast<ShotWorker*>(start->object)->RunLoop();
}

void ShotWorker::RunLoop() {
    if (!shot_) return;
    for (;;) {
        AutoResetEvent* wake = shot_->wake.get();
        if (!wake) break;
        wake->WaitFor(recorder_ && recorder_->IsOpen() ? kWakeTimeoutMs : kIdleWakeTimeoutMs);
        if (stop_.load(std::memory_order_acquire) != 0) {
            // Closing here keeps the file safe when StopWorker stopped waiting.
            if (recorder_) recorder_->CloseFile();
            break;
        }
        RunTurn();
    }
}

void ShotWorker::RunTurn() {
    if (!shot_) return;
    if (recorder_) {
        const bool split = split_.exchange(0, std::memory_order_acq_rel) != 0;
        if (split || recorder_->NeedsNewFile()) recorder_->CloseFile();
        recorder_->KeepRoom();
    }
    if (shot_->pending.load(std::memory_order_acquire) != 1) return;
    // A picture only the seconds before motion want is kept raw where they
    // allow: most such pictures are never recorded, and are never encoded.
    if (recorder_ && shot_->beforeMotionOnly && shot_->photoRequest.load(std::memory_order_acquire) == 0 &&
        preRecord_.OfferRaw(*shot_, *recorder_)) {
        shot_->pending.store(0, std::memory_order_release);
        return;
    }
    const bool encoded = encoder_.Encode(*shot_) == 0;
    // A failed encode leaves the previous JPEG: served again, never photographed or recorded as this picture.
    // The request is taken first, so one given while the photo is made gets the next picture.
    if (encoded && shot_->photoRequest.exchange(0, std::memory_order_acq_rel) != 0) WritePhoto();
    shot_->Publish();
    if (encoded && recorder_) {
        preRecord_.Offer(*shot_, *recorder_);
        recorder_->WriteFrame(*shot_);
    }
    shot_->pending.store(0, std::memory_order_release);
}

void ShotWorker::WritePhoto() {
    char folder[Registry::kBufferSize];
    registry_.GetText("ShotFilesPath", folder);
    const intptr_t stored = registry_.GetHandle("ShotCounterFiles");
    int32_t number = (stored >= 0 && stored <= kMaxPhotoNumber) ? static_cast<int32_t>(stored) : 0;
    const bool jpeg = shot_->photoType.load(std::memory_order_acquire) != 0;
    char path[Registry::kBufferSize + 32];
    bool written = false;
    bool nameFree = false;
    // A taken name is passed over, wrapping as the counter does; an old photo is never replaced.
    for (int32_t tried = 0; tried <= kMaxPhotoNumber && !nameFree; ++tried) {
        std::snprintf(path, sizeof path, jpeg ? "%s%05i.jpg" : "%s%05i.bmp", folder, number);
        written = jpeg ? WriteJpegFile(path, shot_->jpeg.get(), shot_->jpegBytes, false)
                       : WriteBmpFile(path, shot_->picture.get(), shot_->frameBytes, shot_->frameWidth,
                                      shot_->frameHeight, false);
        nameFree = written || errno != EEXIST;
        if (!nameFree) number = number >= kMaxPhotoNumber ? 0 : number + 1;
    }
    if (!nameFree) {
        std::fprintf(stderr, "recording: no photo taken: all %d photo names in %s are taken\n", kMaxPhotoNumber + 1,
                     folder);
        photoFailures_.fetch_add(1, std::memory_order_release);
        return;
    }
    if (!written) {
        std::fprintf(stderr, "recording: cannot write photo %s: %s\n", path, std::strerror(errno));
        photoFailures_.fetch_add(1, std::memory_order_release);
    } else {
        if (auto* files = RecordingFiles::Find(registry_)) files->FileAdded(path);
        if (auto* events = registry_.Find<EventCommands>("_CL_EventCommands")) events->Fire("OnPhotoSaved", path);
    }
    registry_.SetInt("ShotCounterFiles", number + 1);
    registry_.IntInRange("ShotCounterFiles", number + 1, 0, kMaxPhotoNumber);
    // The counter reaches the file off this thread, so the next start never reuses a name.
    SaveRequest::AskFor(registry_);
    shutter_.PlayShutter();
}
