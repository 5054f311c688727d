// The window's timer tick: the steps it takes each time, in order.
#include "ui/main_window.h"

#include <cstdio>
#include <string>

#include "core/free_space.h"
#include "core/settings_file.h"
#include "desktop/desktop_session.h"
#include "recording/avi_recorder.h"
#include "recording/recording_options.h"
#include "recording/shot_worker.h"
#include "ui/state_pictures.h"
#include "ui/status_line.h"
#include "ui/window_desktop.h"
#include "web/web_server.h"

void MainWindow::Tick() {
    FollowWebServer();
    WatchCamera();
    TickRecording();
    UpdateStateIcon();
    RefreshStatusLine();
    if (desktop_) desktop_->Session().Tick();
    SaveAskedSettings();
    PublishWebStatus();
}

void MainWindow::FollowWebServer() {
    WebServer* web = modules_.web.get();
    if (web && web->PollStateChange(serverRunning_) && menu_) menu_->UpdateServerChecks(serverRunning_ != 0);
    if (serverAutoStartDone_) return;
    serverAutoStartDone_ = true;
    if (web) web->StartIfConfigured();
}

void MainWindow::WatchCamera() {
    const CameraWatchdog::Due due = watchdog_.Tick();
    if (due.disconnect) DisconnectCamera();
    if (due.connect) ConnectCamera();
}

void MainWindow::TickRecording() {
    RecordingOptions* options = modules_.options.get();
    if (!options) return;
    RecordingStatus* status = modules_.recorder ? &modules_.recorder->Status() : nullptr;
    options->SetStoreFailing(status && status->Failure() != RecordingFailure::kNone);
    options->Tick();
    if (status) status->SetActivity(options->RecordingActive() != 0, options->Idle());
    if (modules_.worker) modules_.worker->SetPreRecordSeconds(options->PreRecordSeconds());
}

void MainWindow::RefreshStatusLine() {
    if (statusLine_) statusLine_->Refresh(modules_.worker ? modules_.worker->PhotoFailures() : 0);
}

void MainWindow::SaveAskedSettings() {
    // Changes asked for off this thread (the photo counter) reach the file here, once per tick.
    if (modules_.settings) modules_.settings->SaveIfAsked();
}

void MainWindow::PublishWebStatus() {
    if (!modules_.web || !modules_.web->Running()) return;
    WebStatus status;
    status.cameraConnected = modules_.capture && modules_.capture->Connected();
    std::snprintf(status.camera, sizeof status.camera, "%s", windowTitle().toUtf8().constData());
    if (const RecordingOptions* options = modules_.options.get()) {
        status.recording = options->RecordingActive() != 0;
        status.mode = options->Mode();
        status.detectorHolding = options->Hold() > 0;
        status.inTimeWindow = options->InWindow() != 0;
        status.level = options->Level();
        status.threshold = options->Threshold();
    }
    if (modules_.recorder) {
        const RecordingStatus::Snapshot recording = modules_.recorder->Status().Read();
        std::snprintf(status.file, sizeof status.file, "%s", recording.fileName.c_str());
        status.frames = recording.fileName.empty() ? -1 : recording.frames;
        status.freeBytes = recording.freeBytes;
        const std::string problem = RecordingStatus::ProblemText(recording, *modules_.settings, AviRecorder::kLowFreeBytes);
        std::snprintf(status.problem, sizeof status.problem, "%s", problem.c_str());
        status.dropped = recording.dropped;
    }
    if (status.freeBytes < 0 && modules_.settings)
        status.freeBytes = AvailableSpace(modules_.settings->GetString("MoveFilesPath").c_str());
    modules_.web->Status().Update(status);
}

void MainWindow::UpdateStateIcon() {
    if (iconDelay_ > 0) {
        --iconDelay_;
        return;
    }
    const RecordingOptions* options = modules_.options.get();
    int index = state_pictures::kNoCamera;
    if (modules_.capture && modules_.capture->Connected())
        index = (options && options->RecordingActive()) ? 1 + options->Blink() : state_pictures::kConnected;
    // Recording wanted but nothing stored: a steady warning, not the recording blink.
    if (index != state_pictures::kNoCamera && modules_.recorder && modules_.recorder->Status().Blocked())
        index = state_pictures::kWarning;
    if (index == iconIndex_) return;
    iconIndex_ = index;
    setWindowIcon(modules_.stateIcons[index]);
}
