#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QMenuBar>
#include <QPaintEngine>
#include <QPainter>
#include <QSocketNotifier>
#include <QTimerEvent>
#include <QWidget>

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "core/language_table.h"
#include "core/settings_file.h"
#include "recording/avi_recorder.h"
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
#include "video/date_stamp.h"
#include "video/frame_exchange.h"
#include "video/screen_picture.h"
#include "video/video_capture.h"
#include "web/web_server.h"

const char* const MainWindow::kNoCameraCaption = "Подключите видеокамеру!";

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
        std::make_unique<MaskEditor>(registry, frames_->Mask(), *picture_, [this] { return viewMode_ == 2; });
    picture_->overlay = [this](QPainter& painter) {
        if (viewMode_ == 2 && maskEditor_) maskEditor_->Paint(painter);
    };
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
    menu_ = std::make_unique<MainMenu>(registry, *this);
    menu_->BuildMenu(menuBar());
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
    language_.reset();
    if (shot_) shot_->wake.reset();
    if (settings_) settings_->Save();
}

void MainWindow::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    QCoreApplication::postEvent(this, new PostedMessage(message, wParam, lParam));
}

bool MainWindow::event(QEvent* event) {
    if (event->type() == PostedMessage::EventType()) {
        const auto* posted = static_cast<PostedMessage*>(event);
        if (!closed_) OnMessage(posted->Message(), posted->WParam(), posted->LParam());
        return true;
    }
    return QMainWindow::event(event);
}

void MainWindow::OnMessage(uint32_t message, uintptr_t, intptr_t lParam) {
    if (message == kVideoDataMessage) {
        OnFrameMessage(lParam);
    } else if (message == hot_key::kHotKeyMessage) {
        ToggleVisibility();
    }
}

void MainWindow::OnFrameMessage(intptr_t lParam) {
    if (!frames_) return;
    uint8_t* display = frames_->Display();
    if (lParam != 0) {
        double time = 0.0;
        int32_t length = 0;
        const int32_t level = frames_->FetchFrame(time, display, length);
        deviceCheckCountdown_ = kCountdownTicks;
        reconnectCountdown_ = kCountdownTicks;
        // Several messages can stand for one sample; only the first carries it.
        if (length == 0) return;
        const int32_t width = frames_->Width();
        const int32_t height = frames_->Height();
        if (camera_ && camera_->StampSwitch() != 0 && stamp_) stamp_->DrawStamp(display, width, height);
        if (options_) options_->SetLevel(level, frames_->ChangedBytes(), frames_->CountedBytes());
        if (shot_ &&
            HandOverPicture(*shot_, display, length, width, height, time,
                            mjpegParams_.quality.load(std::memory_order_relaxed),
                            options_ ? options_->RecordingActive() : 0)) {
            ++picturesHandedOver_;
            if (worker_) worker_->Wake();
        }
        PaintNow();
        return;
    }
    std::memset(display, 0, kFrameBytes);
    PaintNow();
}

void MainWindow::PaintNow() {
    ++framesPainted_;
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
    if (width <= 0 || height <= 0) {
        painter.fillRect(target, Qt::black);
        return;
    }
    const uint8_t* buffer = frames_->Blank();
    if (viewMode_ == 1) buffer = frames_->Display();
    else if (viewMode_ == 2) buffer = frames_->Difference();
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
    if (capture_->Connect()) {
        char caption[Registry::kBufferSize + 40];
        const std::string name = settings_->GetString("_VideoDeviceStName");
        std::snprintf(caption, sizeof caption, "%s: %i x %i", name.c_str(), frames_->Width(), frames_->Height());
        SetCaption(QString::fromUtf8(caption));
        ResizeToPicture();
    } else {
        DisconnectCamera();
    }
}

void MainWindow::DisconnectCamera() {
    if (capture_) capture_->StopGraph();
    OnFrameMessage(0);
    SetCaption(QString::fromUtf8(kNoCameraCaption));
}

void MainWindow::SetCaption(const QString& caption) { setWindowTitle(caption); }

void MainWindow::timerEvent(QTimerEvent* event) {
    if (event->timerId() != timerId_) {
        QMainWindow::timerEvent(event);
        return;
    }
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
    if (options_) options_->Tick();
    UpdateStateIcon();
}

void MainWindow::UpdateStateIcon() {
    if (iconDelay_ > 0) {
        --iconDelay_;
        return;
    }
    int index = state_pictures::kNoCamera;
    if (capture_ && capture_->Connected())
        index = (options_ && options_->RecordingActive()) ? 1 + options_->Blink() : state_pictures::kConnected;
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
