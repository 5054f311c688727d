#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QSocketNotifier>
#include <QTimerEvent>
#include <QWidget>

#include <unistd.h>

#include "core/settings_file.h"
#include "ui/posted_message.h"

namespace {
constexpr int kTimerPeriodMs = 250;
}  // namespace

MainWindow::MainWindow() { CreateModules(); }

MainWindow::~MainWindow() {
    if (!closed_) DestroyModules();
}

void MainWindow::CreateModules() {
    // Settings first: paths, current folder, the file, the storage folders.
    settings_ = std::make_unique<SettingsFile>();
    Registry& registry = *settings_;
    registry.SetHandle("_MainHwnd", static_cast<MessagePoster*>(this));
    // Language table: arrives with the language files.
    // Date stamp and its font: arrives with the frame pipeline.
    // Bold font, hot key and about objects: arrive with the dialogs.
    registry.SetHandle("_MJPEG_PARAMS", mjpegParams_.data());
    // Shared picture block: arrives with the recording worker.
    registry.IntInRange("ShotCounterFiles", 0, 0, 99999);
    // Status bitmaps and recording control: arrive with the recording module.
    viewMode_ = registry.IntInRange("ModeView", 1, 0, 2);
    setWindowTitle(QString::fromUtf8("Vistrel. v1.1"));
    registry.SetInt("_VideoDataMsg", static_cast<int32_t>(kVideoDataMessage));
    // Frame exchange, AVI recorder, web server, worker, capture and camera
    // settings: each arrives at this point of the sequence with its module.
    deviceCheckCountdown_ = 0;
    reconnectCountdown_ = 12;
    // State icons and the menu arrive with the main window's pictures.
    iconDelay_ = 7;
    timerBusy_ = false;
    timerId_ = startTimer(kTimerPeriodMs, Qt::PreciseTimer);
}

void MainWindow::DestroyModules() {
    closed_ = true;
    if (timerId_) killTimer(timerId_);
    timerId_ = 0;
    // Web server and worker stop before anything they use goes away.
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

void MainWindow::OnMessage(uint32_t, uintptr_t, intptr_t) {}

void MainWindow::timerEvent(QTimerEvent* event) {
    if (event->timerId() != timerId_) {
        QMainWindow::timerEvent(event);
        return;
    }
    if (timerBusy_ || closed_) return;
    timerBusy_ = true;
    Tick();
    timerBusy_ = false;
}

void MainWindow::Tick() {}

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
