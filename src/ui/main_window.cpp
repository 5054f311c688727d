#include "ui/main_window.h"

#include <unistd.h>

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QMenuBar>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <QTimerEvent>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "core/event_commands.h"
#include "core/settings_file.h"
#include "recording/avi_recorder.h"
#include "recording/picture_handover.h"
#include "recording/recording_options.h"
#include "recording/shot_data.h"
#include "recording/shot_worker.h"
#include "ui/camera_dialog.h"
#include "ui/hot_key.h"
#include "ui/mask_editor.h"
#include "ui/state_pictures.h"
#include "ui/status_line.h"
#include "ui/window_desktop.h"
#include "desktop/desktop_session.h"
#include "video/date_stamp.h"
#include "video/frame_exchange.h"
#include "web/web_server.h"

const char* const MainWindow::kNoCameraCaption = "CaptionNoCamera";

MainWindow::MainWindow() { CreateModules(); }

MainWindow::~MainWindow() {
    if (!closed_) DestroyModules();
    picture_->SetFrames(nullptr);
    menu_.reset();
}

void MainWindow::CreateModules() {
    picture_ = new PictureView(this);
    setCentralWidget(picture_);
    modules_.Create(*this, font(), *picture_, [this] { return picture_->Mode() == ViewMode::kMotion; });
    picture_->SetFrames(modules_.frames.get());
    picture_->SetMode(modules_.firstViewMode);
    // A window that is to start hidden disappears right after it was first shown.
    picture_->firstPaint = [this] {
        if (modules_.hotKey) modules_.hotKey->HideIfConfigured();
    };
    picture_->hint = [this] { return NoCameraHint(); };
    picture_->overlay = [this](QPainter& painter) {
        if (picture_->Mode() == ViewMode::kMotion && modules_.maskEditor) modules_.maskEditor->Paint(painter);
    };
    Registry& registry = *modules_.settings;
    setWindowTitle(UiText(registry, "ProgrammName"));
    setWindowIcon(modules_.stateIcons[state_pictures::kProgram]);
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
    desktop_ = std::make_unique<WindowDesktop>(*this, registry);
    modules_.hotKey->OnChanged([this] {
        if (menu_) menu_->Rebuild();
    });
    modules_.worker->StartWorker();
    timerBusy_ = false;
    timerId_ = startTimer(kTimerPeriodMs, Qt::PreciseTimer);
}

void MainWindow::DestroyModules() {
    closed_ = true;
    if (timerId_) killTimer(timerId_);
    timerId_ = 0;
    desktop_.reset();
    modules_.Stop();
}

void MainWindow::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    messages_.Post(message, wParam, lParam);
}

void MainWindow::OnMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (message == kVideoDataMessage) {
        OnFrameMessage(lParam);
    } else if (message == hot_key::kHotKeyMessage) {
        // The hide at start (wParam 0) has no key press behind it that could undo it.
        if (wParam == 0 && desktop_ && !desktop_->Session().MayHide(modules_.hotKey && modules_.hotKey->Registered())) return;
        ToggleVisibility();
    } else if (message == VideoCapture::kSettledMessage && modules_.capture) {
        // Unchanged or Pending: a late message of an attempt since stopped.
        const VideoCapture::ConnectState state = modules_.capture->FinishConnect();
        if (state == VideoCapture::ConnectState::Connected || state == VideoCapture::ConnectState::Failed)
            OnConnectOutcome(state);
    }
}

void MainWindow::OnFrameMessage(intptr_t lParam) {
    if (!modules_.frames) return;
    if (lParam != 0) {
        watchdog_.FrameArrived();
        TakeFrame();
        return;
    }
    std::memset(modules_.frames->Display(), 0,
                static_cast<std::size_t>(modules_.frames->Width()) * modules_.frames->Height() * kFrameBytesPerPixel);
    picture_->NoteDisplayWhole();
    picture_->PaintNow(isMinimized());
}

void MainWindow::TakeFrame() {
    FrameExchange& frames = *modules_.frames;
    RecordingOptions* options = modules_.options.get();
    // Several messages can stand for one sample; only the first finds it.
    FrameExchange::Measured measured;
    if (!frames.PeekMeasured(measured)) return;
    if (options) options->SetLevel(measured.level, measured.changedBytes, measured.countedBytes);
    const int32_t recording = options ? options->RecordingActive() : 0;
    if (modules_.handover && options)
        modules_.handover->NoteMotion(measured.level, static_cast<int32_t>(options->RecordingActivation()));
    const bool keepsBeforeMotion = options && options->PreRecordSeconds() > 0;
    const bool wanted =
        modules_.handover && modules_.handover->Wanted(measured.sampleTime, recording, keepsBeforeMotion);
    // The picture is copied out only for a screen that shows it or a worker
    // that wants it, the difference image only for a screen that shows it.
    // A sample measured while nobody wanted its picture has only the level:
    // the picture wanted now is the next one. While recording, or while the
    // worker is busy with the last, the next is likely wanted: kept whole.
    const bool seen = picture_->isVisible() && !isMinimized();
    const ViewMode mode = picture_->Mode();
    frames.SetDifferenceWanted(seen && mode == ViewMode::kMotion);
    const bool pictureWanted = (seen && mode == ViewMode::kPicture) || wanted || recording != 0 ||
                               (modules_.handover && modules_.handover->WorkerBusy());
    frames.SetPictureWanted(pictureWanted);
    const bool pictureHere = pictureWanted && measured.whole;
    const unsigned writes =
        (pictureHere ? kWriteOut : 0u) | (seen && mode == ViewMode::kMotion ? kWriteDifference : 0u);
    // The worker gets only a picture kept whole; one it alone wants goes
    // straight into its block: one copy less.
    const bool toWorker = wanted && pictureHere;
    const int32_t width = frames.Width();
    const int32_t height = frames.Height();
    DateStamp* stamp = modules_.camera && modules_.camera->StampSwitch() != 0 ? modules_.stamp.get() : nullptr;
    double time = 0.0;
    int32_t length = 0;
    if (seen && pictureHere && !toWorker) {
        // A picture only the screen wants is painted where it lies: just the
        // rows the date goes into are copied out and stamped.
        const int32_t band = stamp ? stamp->Rows(width, height) : 0;
        const uint8_t* lent = frames.LendFrame(time, frames.Display(), band, length, writes);
        if (length == 0) return;
        picture_->NotePictureArrived();
        if (stamp) stamp->DrawStamp(frames.Display(), width, height);
        picture_->PaintLent(lent, band, isMinimized());
        if (lent) frames.ReturnLent();
        return;
    }
    uint8_t* picture = toWorker && !seen ? modules_.handover->Slot() : frames.Display();
    frames.FetchFrame(time, picture, length, writes);
    if (length == 0) return;
    picture_->NotePictureArrived();
    if (picture == frames.Display() && (writes & kWriteOut) != 0) picture_->NoteDisplayWhole();
    if ((writes & kWriteOut) != 0 && stamp) stamp->DrawStamp(picture, width, height);
    if (toWorker && modules_.handover->Give(picture, length, width, height, time, recording) && modules_.worker)
        modules_.worker->Wake();
    picture_->PaintNow(isMinimized());
}

int64_t MainWindow::PicturesHandedOver() const {
    return modules_.handover ? modules_.handover->HandedOver() : 0;
}

QString MainWindow::NoCameraHint() const {
    if (!modules_.settings) return QString();
    SettingsFile& settings = *modules_.settings;
    const QString where = UiText(settings, "MenuCam") + " > " + UiText(settings, "MenuOptions");
    return UiText(settings, "PictureNoCamera").arg(where);
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
    FrameExchange* frames = modules_.frames.get();
    if (!frames || frames->Width() <= 0 || frames->Height() <= 0) return;
    if (layout()) layout()->activate();
    const QSize allowance = size() - picture_->size();
    QSize picture(frames->Width(), frames->Height());
    // The picture's own size, unless the window would then take more than
    // 90 % of the screen's free area: then the largest of its proportions that fits.
    if (const QScreen* shownOn = screen()) {
        const QSize frameAllowance = frameGeometry().size() - geometry().size();
        const QSize room = shownOn->availableGeometry().size() * kMostOfScreen - allowance - frameAllowance;
        if (room.isValid() && (picture.width() > room.width() || picture.height() > room.height()))
            picture = picture.scaled(room, Qt::KeepAspectRatio);
    }
    resize(picture + allowance);
}

void MainWindow::ConnectCamera() {
    watchdog_.ConnectTried();
    if (!modules_.capture || !modules_.capture->SelectedDevicePresent()) return;
    // Never waits for the first picture here: a pending source posts its outcome.
    OnConnectOutcome(modules_.capture->StartConnect());
}

void MainWindow::OnConnectOutcome(VideoCapture::ConnectState state) {
    using State = VideoCapture::ConnectState;
    if (state == State::Pending) {
        watchdog_.ConnectPending();
        return;
    }
    if (state != State::Connected) {
        DisconnectCamera();
        return;
    }
    char caption[Registry::kBufferSize + 40];
    const std::string name = modules_.settings->GetString("_VideoDeviceStName");
    std::snprintf(caption, sizeof caption, "%s: %i x %i", name.c_str(), modules_.frames->Width(),
                  modules_.frames->Height());
    SetCaption(QString::fromUtf8(caption));
    ResizeToPicture();
    CameraEvent(true);
}

void MainWindow::DisconnectCamera() {
    if (modules_.capture) modules_.capture->StopGraph();
    OnFrameMessage(0);
    SetCaption(modules_.settings ? UiText(*modules_.settings, kNoCameraCaption) : QString());
    CameraEvent(false);
}

void MainWindow::CameraEvent(bool connected) {
    if (connected == cameraUp_) return;
    cameraUp_ = connected;
    if (modules_.events) modules_.events->Fire(connected ? "OnCameraFound" : "OnCameraLost");
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

void MainWindow::ToggleVisibility() {
    if (isVisible() && !isMinimized()) {
        MainMenu::CancelOpenDialogs();
        hide();
        return;
    }
    ShowAndRaise();
}

void MainWindow::ShowAndRaise() {
    showNormal();
    raise();
    activateWindow();
}

QWidget* MainWindow::DialogParent() {
    QWidget* active = QApplication::activeWindow();
    return active ? active : this;
}

void MainWindow::ApplyOrientation() {
    if (modules_.frames) modules_.frames->ApplyOrientation();
}

void MainWindow::RequestSplit() {
    if (modules_.worker) modules_.worker->RequestSplit();
}

void MainWindow::WakeWorker() {
    if (modules_.worker) modules_.worker->Wake();
}

void MainWindow::SetViewMode(ViewMode mode) { picture_->SetMode(mode); }

int MainWindow::RunCameraDialog() { return modules_.camera ? modules_.camera->Run(DialogParent()) : 0; }

void MainWindow::ClearDetectorMask() {
    if (modules_.maskEditor) modules_.maskEditor->Clear();
}

int MainWindow::RunHotKeyDialog() { return modules_.hotKey ? modules_.hotKey->Run(DialogParent()) : 0; }

QString MainWindow::HotKeyMenuText() {
    return modules_.hotKey ? QString::fromUtf8(modules_.hotKey->MenuText()) : QString();
}

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
