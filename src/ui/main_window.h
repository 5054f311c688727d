#pragma once

#include <QMainWindow>

#include <array>
#include <cstdint>
#include <memory>

#include "core/message_poster.h"

class SettingsFile;
class QSocketNotifier;

// The program's main window. It creates every module in dependency order
// when it starts and destroys them, saving the settings, when it closes.
class MainWindow final : public QMainWindow, public MessagePoster {
    Q_OBJECT

public:
    MainWindow();
    ~MainWindow() override;

    // MessagePoster: any thread may post; handled on the window's thread.
    void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

    // Closes as the close box does; the settings are saved once.
    void Exit();
    // Runs Exit when the read end of the shutdown-signal pipe becomes readable.
    void WatchShutdownSignals(int readFd);
    bool Closed() const { return closed_; }

    SettingsFile* Settings() const { return settings_.get(); }

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void CreateModules();
    void DestroyModules();
    void OnMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);
    void Tick();

    // Module references, in the order of creation.
    std::unique_ptr<SettingsFile> settings_;

    // The nine shared recording values, JPEG quality first, as "_MJPEG_PARAMS".
    std::array<int32_t, 9> mjpegParams_{};
    int iconDelay_ = 0;
    int deviceCheckCountdown_ = 0;
    int reconnectCountdown_ = 0;
    int viewMode_ = 1;
    bool timerBusy_ = false;
    int timerId_ = 0;
    bool closed_ = false;
    QSocketNotifier* signalNotifier_ = nullptr;
};
