#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QMenuBar>
#include <QPaintEngine>
#include <QPainter>
#include <QSocketNotifier>
#include <QTimer>
#include <QTimerEvent>
#include <QWidget>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "core/event_commands.h"
#include "core/language_table.h"
#include "core/settings_file.h"
#include "recording/avi_recorder.h"
#include "recording/mp4_encoder_gst.h"
#include "recording/picture_demand.h"
#include "recording/recording_options.h"
#include "recording/shot_data.h"
#include "recording/shot_worker.h"
#include "recording/shutter_sound.h"
#include "ui/about_dialog.h"
#include "ui/camera_dialog.h"
#include "ui/hot_key.h"
#include "ui/mask_editor.h"
#include "ui/posted_message.h"
#include "ui/state_pictures.h"
#include "ui/status_line.h"
#include "video/date_stamp.h"
#include "video/frame_exchange.h"
#include "video/screen_picture.h"
#include "video/video_capture.h"
#include "web/web_server.h"

const char* const MainWindow::kNoCameraCaption = "CaptionNoCamera";

bool HandOverPicture(ShotData& shot, const uint8_t* picture, int32_t length, int32_t width, int32_t height,
                     double time, int32_t quality, int32_t recording) {
    if (shot.pending.load(std::memory_order_acquire) != 0) return false;
    if (length < 0 || length > ShotData::kBufferBytes) return false;
    shot.frameBytes = length;
    std::memcpy(shot.picture.get(), picture, static_cast<std::size_t>(length));
    shot.captureTime = time;
    shot.frameHeight = height;
    shot.frameWidth = width;
    if (static_cast<int64_t>(width) * height * 3 != length) return false;
    shot.quality = quality;
    shot.recording.store(recording, std::memory_order_relaxed);
    shot.pending.store(1, std::memory_order_release);
    return true;
}

void PictureView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (paint) paint(painter);
    if (overlay) overlay(painter);
}

MainWindow::MainWindow() { CreateModules(); }

MainWindow::~MainWindow() {
    if (!closed_) DestroyModules();
    // What the destruction sequence leaves alive goes in reverse order of creation.
    menu_.reset();
    maskEditor_.reset();
    recorder_.reset();
    web_.reset();
    frames_.reset();
    shot_.reset();
    hotKey_.reset();
    stamp_.reset();
    settings_.reset();
}

void MainWindow::CreateModules() {
    picture_ = new PictureView(this);
    picture_->setAttribute(Qt::WA_OpaquePaintEvent);
    picture_->paint = [this](QPainter& painter) { Paint(painter); };
    setCentralWidget(picture_);

    // Settings first: paths, current folder, the file, the storage folders.
    settings_ = std::make_unique<SettingsFile>();
    Registry& registry = *settings_;
    registry.SetHandle("_MainHwnd", static_cast<MessagePoster*>(this));
    language_ = std::make_unique<LanguageTable>(registry);
    events_ = std::make_unique<EventCommands>(registry);
    stamp_ = std::make_unique<DateStamp>();
    stamp_->LoadFont();
    boldFont_ = font();
    boldFont_.setWeight(QFont::Bold);
    registry.SetHandle("_BoldFont", &boldFont_);
    hotKey_ = std::make_unique<HotKey>(registry);
    about_ = std::make_unique<AboutDialog>(registry);
    registry.SetHandle("_MJPEG_PARAMS", &mjpegParams_);
    shot_ = std::make_unique<ShotData>();
    shot_->photoType.store(registry.IntInRange("ShotFilesType", 0, 0, 1));
    registry.SetHandle("_MYSHOTDATA", shot_.get());
    registry.IntInRange("ShotCounterFiles", 0, 0, 99999);
    statusBitmaps_ = state_pictures::StatusBitmaps();
    registry.SetHandle("_HBITMAPIMAGESTATE", statusBitmaps_.data());
    options_ = std::make_unique<RecordingOptions>(registry);
    viewMode_ = registry.IntInRange("ModeView", 1, 0, 2);
    setWindowTitle(UiText(registry, "ProgrammName"));
    registry.SetInt("_VideoDataMsg", static_cast<int32_t>(kVideoDataMessage));
    frames_ = std::make_unique<FrameExchange>(registry);
    maskEditor_ =
        std::make_unique<MaskEditor>(
            registry, frames_->Mask(), *picture_, [this] { return viewMode_ == 2; },
            [this] { frames_->MaskEdited(); });
    picture_->overlay = [this](QPainter& painter) {
        if (viewMode_ == 2 && maskEditor_) maskEditor_->Paint(painter);
    };
    h264_ = CreateGstH264Encoder();
    if (h264_) registry.SetHandle("_CL_H264Encoder", h264_.get());
    std::fprintf(stderr, "recording: H.264 encoder for MP4: %s\n",
                 h264_ ? h264_->Name() : "none (x264enc, openh264enc or a VA-API encoder is needed; AVI is recorded)");
    recorder_ = std::make_unique<AviRecorder>(registry);
    web_ = std::make_unique<WebServer>(registry);
    shutter_ = std::make_unique<ShutterSound>();
    worker_ = std::make_unique<ShotWorker>(registry, *shutter_);
    capture_ = std::make_unique<VideoCapture>(registry);
    camera_ = std::make_unique<CameraDialog>(registry);
    deviceCheckCountdown_ = 0;
    reconnectCountdown_ = kCountdownTicks;
    stateIcons_ = state_pictures::StateIcons();
    setWindowIcon(stateIcons_[state_pictures::kProgram]);
    iconDelay_ = kIconDelayTicks;
    // One line under the picture.
    statusLine_ = new StatusLine(registry, this);
    setStatusBar(statusLine_);
    menu_ = std::make_unique<MainMenu>(registry, *this);
    menu_->BuildMenu(menuBar());
    menuBar()->installEventFilter(this);
    // The first window has room for the hint that says how to get a picture.
    resize(std::max(kFirstPictureSize.width(), menuBar()->sizeHint().width()),
           menuBar()->sizeHint().height() + kFirstPictureSize.height());
    FitMenuBar();
    worker_->StartWorker();
    timerBusy_ = false;
    timerId_ = startTimer(kTimerPeriodMs, Qt::PreciseTimer);
}

void MainWindow::DestroyModules() {
    closed_ = true;
    if (timerId_) killTimer(timerId_);
    timerId_ = 0;
    // Web server and worker stop before anything they use goes away.
    if (web_) web_->Stop();
    if (worker_) worker_->StopWorker();
    camera_.reset();
    options_.reset();
    about_.reset();
    capture_.reset();
    worker_.reset();
    events_.reset();
    language_.reset();
    if (shot_) shot_->wake.reset();
    if (settings_) settings_->Save();
}

void MainWindow::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) { messages_.Post(message, wParam, lParam); }

void MainWindow::OnMessage(uint32_t message, uintptr_t, intptr_t lParam) {
    if (message == kVideoDataMessage) {
        OnFrameMessage(lParam);
    } else if (message == hot_key::kHotKeyMessage) {
        ToggleVisibility();
    } else if (message == VideoCapture::kSettledMessage && capture_) {
        // Unchanged or Pending: a late message of an attempt since stopped.
        const VideoCapture::ConnectState state = capture_->FinishConnect();
        if (state == VideoCapture::ConnectState::Connected || state == VideoCapture::ConnectState::Failed)
            OnConnectOutcome(state);
    }
}

void MainWindow::OnFrameMessage(intptr_t lParam) {
    if (!frames_) return;
    uint8_t* display = frames_->Display();
    if (lParam != 0) {
        deviceCheckCountdown_ = kCountdownTicks;
        reconnectCountdown_ = kCountdownTicks;
        // Several messages can stand for one sample; only the first finds it.
        FrameExchange::Measured measured;
        if (!frames_->PeekMeasured(measured)) return;
        if (options_) options_->SetLevel(measured.level, measured.changedBytes, measured.countedBytes);
        const int32_t recording = options_ ? options_->RecordingActive() : 0;
        const bool wanted = shot_ && PictureWanted(measured.sampleTime, recording);
        // The picture is copied out only for a screen that shows it or a worker
        // that wants it, the difference image only for a screen that shows it.
        const bool seen = picture_->isVisible() && !isMinimized();
        frames_->SetDifferenceWanted(seen && viewMode_ == 2);
        const unsigned writes = ((seen && viewMode_ == 1) || wanted ? kWriteOut : 0u) |
                                (seen && viewMode_ == 2 ? kWriteDifference : 0u);
        double time = 0.0;
        int32_t length = 0;
        frames_->FetchFrame(time, display, length, writes);
        if (length == 0) return;
        pictureArrived_ = true;
        const int32_t width = frames_->Width();
        const int32_t height = frames_->Height();
        if ((writes & kWriteOut) != 0 && camera_ && camera_->StampSwitch() != 0 && stamp_)
            stamp_->DrawStamp(display, width, height);
        if (wanted && HandOverPicture(*shot_, display, length, width, height, time,
                                      mjpegParams_.quality.load(std::memory_order_relaxed), recording)) {
            ++picturesHandedOver_;
            shot_->demand.NoteHandedOver();
            if (worker_) worker_->Wake();
        }
        PaintNow();
        return;
    }
    std::memset(display, 0, kFrameBytes);
    PaintNow();
}

bool MainWindow::PictureWanted(double time, int32_t recording) {
    const int64_t now = PictureDemand::NowMs();
    shot_->demand.NoteFrame(time, now);
    // Asked only while the worker is free: the copy and the encode are spared when nothing wants the picture.
    if (shot_->pending.load(std::memory_order_acquire) != 0) return false;
    const bool keepsBeforeMotion = options_ && options_->PreRecordSeconds() > 0;
    return shot_->demand.Wanted(*shot_, time, recording, mjpegParams_.speedRec.load(std::memory_order_relaxed),
                                keepsBeforeMotion);
}

void MainWindow::PaintNow() {
    ++framesPainted_;
    // Nobody sees a minimised window, and the view mode "none" shows the same black picture every frame.
    if (isMinimized() || (viewMode_ == 0 && blackShown_)) return;
    // At once, not on the next pass of the loop, so the picture keeps pace with the camera.
    if (picture_->isVisible()) picture_->repaint();
}

void MainWindow::Paint(QPainter& painter) {
    if (!firstPaintDone_) {
        firstPaintDone_ = true;
        // A window that is to start hidden disappears right after it was first shown.
        if (hotKey_) hotKey_->HideIfConfigured();
    }
    const QRect target = picture_->rect();
    const int32_t width = frames_ ? frames_->Width() : 0;
    const int32_t height = frames_ ? frames_->Height() : 0;
    if (width <= 0 || height <= 0 || !pictureArrived_) {
        painter.fillRect(target, Qt::black);
        // Until a first picture came, the area says how to get one.
        if (!pictureArrived_) PaintNoCameraHint(painter);
        return;
    }
    blackShown_ = viewMode_ != 1 && viewMode_ != 2;
    if (blackShown_) {
        // The blank picture is all black: nothing to convert.
        painter.fillRect(target, Qt::black);
        return;
    }
    const uint8_t* buffer = viewMode_ == 1 ? frames_->Display() : frames_->Difference();
    ++screenConversions_;
    const bool ownSize = target.size() == QSize(width, height);
    if (ownSize && PaintIntoBackingStore(painter, buffer, width, height)) return;
    if (screenImage_.width() != width || screenImage_.height() != height)
        screenImage_ = QImage(width, height, QImage::Format_RGB32);
    // One pass turns the bottom-up frame upright into the screen's format;
    // at the picture's own size the draw is then a plain copy.
    FrameToScreenPixels(buffer, width, height, screenImage_.bits(), screenImage_.bytesPerLine());
    if (ownSize)
        painter.drawImage(target.topLeft(), screenImage_);
    else
        painter.drawImage(target, screenImage_);
}

bool MainWindow::PaintIntoBackingStore(QPainter& painter, const uint8_t* buffer, int32_t width, int32_t height) {
    // The window's backing store is an image in memory on the raster
    // platforms; a picture of the area's own size can then be written
    // straight into it, sparing the intermediate image and the copy.
    QPaintEngine* engine = painter.paintEngine();
    if (!engine || engine->type() != QPaintEngine::Raster) return false;
    QPaintDevice* device = engine->paintDevice();
    if (!device || device->devType() != QInternal::Image) return false;
    auto* store = static_cast<QImage*>(device);
    const QImage::Format format = store->format();
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 &&
        format != QImage::Format_ARGB32_Premultiplied)
        return false;
    const QTransform placement = painter.deviceTransform();
    if (placement.type() > QTransform::TxTranslate) return false;  // A scaled (high-density) screen.
    const int x = qRound(placement.dx());
    const int y = qRound(placement.dy());
    if (x != placement.dx() || y != placement.dy() || x < 0 || y < 0 || x + width > store->width() ||
        y + height > store->height())
        return false;
    // Not bits(): that would detach a shared image from the memory the engine paints into.
    uchar* first = const_cast<uchar*>(store->constBits()) + static_cast<qsizetype>(y) * store->bytesPerLine() +
                   static_cast<qsizetype>(x) * 4;
    FrameToScreenPixels(buffer, width, height, first, store->bytesPerLine());
    ++directPaints_;
    return true;
}

void MainWindow::PaintNoCameraHint(QPainter& painter) {
    if (!settings_) return;
    const QString where = UiText(*settings_, "MenuCam") + " > " + UiText(*settings_, "MenuOptions");
    const QString hint = UiText(*settings_, "PictureNoCamera").arg(where);
    painter.setPen(Qt::white);
    painter.drawText(picture_->rect().adjusted(12, 12, -12, -12), Qt::AlignCenter | Qt::TextWordWrap, hint);
}

void MainWindow::FitMenuBar() {
    fitPending_ = false;
    // Never narrower than the whole menu bar, so no menu hides behind its overflow button.
    const int menuWidth = menuBar()->sizeHint().width();
    setMinimumWidth(menuWidth);
    if (width() < menuWidth) resize(menuWidth, height());
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == menuBar() && !fitPending_ &&
        (type == QEvent::ActionAdded || type == QEvent::ActionChanged || type == QEvent::ActionRemoved)) {
        fitPending_ = true;
        QMetaObject::invokeMethod(this, &MainWindow::FitMenuBar, Qt::QueuedConnection);
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::ResizeToPicture() {
    if (!frames_ || frames_->Width() <= 0 || frames_->Height() <= 0) return;
    if (layout()) layout()->activate();
    const QSize picture(frames_->Width(), frames_->Height());
    const QSize allowance = size() - picture_->size();
    resize(picture + allowance);
}

void MainWindow::ConnectCamera() {
    deviceCheckCountdown_ = kCountdownTicks;
    if (!capture_ || !capture_->SelectedDevicePresent()) return;
    // Never waits for the first picture here: a pending source posts its outcome.
    OnConnectOutcome(capture_->StartConnect());
}

void MainWindow::OnConnectOutcome(VideoCapture::ConnectState state) {
    using State = VideoCapture::ConnectState;
    if (state == State::Pending) {
        // The source has the watchdog's whole spell to offer its first picture.
        reconnectCountdown_ = kCountdownTicks;
        return;
    }
    if (state != State::Connected) {
        DisconnectCamera();
        return;
    }
    char caption[Registry::kBufferSize + 40];
    const std::string name = settings_->GetString("_VideoDeviceStName");
    std::snprintf(caption, sizeof caption, "%s: %i x %i", name.c_str(), frames_->Width(), frames_->Height());
    SetCaption(QString::fromUtf8(caption));
    ResizeToPicture();
    CameraEvent(true);
}

void MainWindow::DisconnectCamera() {
    if (capture_) capture_->StopGraph();
    OnFrameMessage(0);
    SetCaption(settings_ ? UiText(*settings_, kNoCameraCaption) : QString());
    CameraEvent(false);
}

void MainWindow::CameraEvent(bool connected) {
    if (connected == cameraUp_) return;
    cameraUp_ = connected;
    if (events_) events_->Fire(connected ? "OnCameraFound" : "OnCameraLost");
}

void MainWindow::SetCaption(const QString& caption) { setWindowTitle(caption); }

void MainWindow::timerEvent(QTimerEvent* event) {
    if (event->timerId() != timerId_) {
        QMainWindow::timerEvent(event);
        return;
    }
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
    if (lastTickMs_ > 0) longestTickGapMs_ = std::max(longestTickGapMs_, now - lastTickMs_);
    lastTickMs_ = now;
    ++timerTicks_;
    OnTimer();
}

void MainWindow::OnTimer() {
    if (timerBusy_ || closed_) return;
    timerBusy_ = true;
    Tick();
    timerBusy_ = false;
}

void MainWindow::Tick() {
    if (web_ && web_->PollStateChange(serverRunning_) && menu_) menu_->UpdateServerChecks(serverRunning_ != 0);
    if (!serverAutoStartDone_) {
        serverAutoStartDone_ = true;
        if (web_) web_->StartIfConfigured();
    }
    if (deviceCheckCountdown_ > 0) --deviceCheckCountdown_;
    if (reconnectCountdown_ > 0) --reconnectCountdown_;
    if (reconnectCountdown_ <= 0) {
        reconnectCountdown_ = kCountdownTicks;
        DisconnectCamera();
    }
    if (deviceCheckCountdown_ <= 0) ConnectCamera();
    TickRecording();
    UpdateStateIcon();
    if (statusLine_) statusLine_->Refresh(worker_ ? worker_->PhotoFailures() : 0);
    // Changes asked for off this thread (the photo counter) reach the file here, once per tick.
    if (settings_) settings_->SaveIfAsked();
    PublishWebStatus();
}

void MainWindow::TickRecording() {
    if (!options_) return;
    RecordingStatus* status = recorder_ ? &recorder_->Status() : nullptr;
    options_->SetStoreFailing(status && status->Failure() != RecordingFailure::kNone);
    options_->Tick();
    if (status) status->SetActivity(options_->RecordingActive() != 0, options_->Idle());
    if (worker_) worker_->SetPreRecordSeconds(options_->PreRecordSeconds());
}

void MainWindow::PublishWebStatus() {
    if (!web_ || !web_->Running()) return;
    WebStatus status;
    status.cameraConnected = capture_ && capture_->Connected();
    std::snprintf(status.camera, sizeof status.camera, "%s", windowTitle().toUtf8().constData());
    if (options_) {
        status.recording = options_->RecordingActive() != 0;
        status.mode = options_->Mode();
        status.detectorHolding = options_->Hold() > 0;
        status.inTimeWindow = options_->InWindow() != 0;
        status.level = options_->Level();
        status.threshold = options_->Threshold();
    }
    if (recorder_) {
        const RecordingStatus::Snapshot recording = recorder_->Status().Read();
        std::snprintf(status.file, sizeof status.file, "%s", recording.fileName.c_str());
        status.frames = recording.fileName.empty() ? -1 : recording.frames;
        status.freeBytes = recording.freeBytes;
        status.dropped = recording.dropped;
    }
    if (status.freeBytes < 0 && settings_)
        status.freeBytes = WebStatusBoard::FreeBytes(settings_->GetString("MoveFilesPath").c_str());
    web_->Status().Update(status);
}

void MainWindow::UpdateStateIcon() {
    if (iconDelay_ > 0) {
        --iconDelay_;
        return;
    }
    int index = state_pictures::kNoCamera;
    if (capture_ && capture_->Connected())
        index = (options_ && options_->RecordingActive()) ? 1 + options_->Blink() : state_pictures::kConnected;
    // Recording wanted but nothing stored: a steady warning, not the recording blink.
    if (index != state_pictures::kNoCamera && recorder_ && recorder_->Status().Blocked()) index = state_pictures::kWarning;
    if (index == iconIndex_) return;
    iconIndex_ = index;
    setWindowIcon(stateIcons_[index]);
}

void MainWindow::ToggleVisibility() {
    if (isVisible()) {
        MainMenu::CancelOpenDialogs();
        hide();
        return;
    }
    showNormal();
    raise();
    activateWindow();
}

QWidget* MainWindow::DialogParent() {
    QWidget* active = QApplication::activeWindow();
    return active ? active : this;
}

void MainWindow::ApplyOrientation() {
    if (frames_) frames_->ApplyOrientation();
}

void MainWindow::RequestSplit() {
    if (worker_) worker_->RequestSplit();
}

void MainWindow::WakeWorker() {
    if (worker_) worker_->Wake();
}

void MainWindow::SetViewMode(int mode) {
    viewMode_ = mode;
    if (picture_->isVisible()) picture_->repaint();
}

int MainWindow::RunCameraDialog() { return camera_ ? camera_->Run(DialogParent()) : 0; }

void MainWindow::ClearDetectorMask() {
    if (maskEditor_) maskEditor_->Clear();
}

int MainWindow::RunHotKeyDialog() { return hotKey_ ? hotKey_->Run(DialogParent()) : 0; }

QString MainWindow::HotKeyMenuText() { return hotKey_ ? QString::fromUtf8(hotKey_->MenuText()) : QString(); }

void MainWindow::StopTimerForTest() {
    if (timerId_) killTimer(timerId_);
    timerId_ = 0;
}

void MainWindow::Exit() {
    if (closed_) return;
    if (MainMenu::DialogsOpen()) {
        // Modules go only after every dialog loop using them has unwound.
        MainMenu::CancelOpenDialogs();
        QTimer::singleShot(kExitRetryMs, this, &MainWindow::Exit);
        return;
    }
    DestroyModules();
    hide();
    QCoreApplication::quit();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    Exit();
    event->accept();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        Exit();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void MainWindow::WatchShutdownSignals(int readFd) {
    if (readFd < 0) return;
    signalNotifier_ = new QSocketNotifier(readFd, QSocketNotifier::Read, this);
    connect(signalNotifier_, &QSocketNotifier::activated, this, [this, readFd] {
        char bytes[16];
        while (read(readFd, bytes, sizeof bytes) > 0) {
        }
        Exit();
    });
}
