#pragma once

#include <QMainWindow>
#include <QSize>
#include <cstdint>
#include <memory>

#include "core/message_poster.h"
#include "ui/app_modules.h"
#include "ui/camera_watchdog.h"
#include "ui/main_menu.h"
#include "ui/picture_view.h"
#include "ui/posted_message.h"
#include "video/video_capture.h"

class QSocketNotifier;
class StatusLine;
class WindowDesktop;

// The program's main window. It creates every module when it starts and
// destroys them, saving the settings, when it closes. Frames arrive as posted
// data messages; a 250 ms timer watches the camera and refreshes the state.
class MainWindow final : public QMainWindow, public MessagePoster, public MenuHost {
    Q_OBJECT

public:
    static constexpr int kTimerPeriodMs = 250;
    static constexpr int kCountdownTicks = CameraWatchdog::kCountdownTicks;
    static constexpr int kIconDelayTicks = 7;
    // Language key of the caption while no camera is connected (built-in text Russian).
    static const char* const kNoCameraCaption;
    // The picture area of the first window, before any camera gave its size.
    static constexpr QSize kFirstPictureSize{320, 240};
    // The most of the screen's free area the window takes for a large picture.
    static constexpr double kMostOfScreen = 0.9;
    // How soon Exit looks again whether the dialogs it ended have unwound.
    static constexpr int kExitRetryMs = 10;

    MainWindow();
    ~MainWindow() override;

    // MessagePoster: any thread may post; handled on the window's thread.
    void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

    // Runs Exit when the read end of the shutdown-signal pipe becomes readable.
    void WatchShutdownSignals(int readFd);
    bool Closed() const { return closed_; }

    // MenuHost.
    QWidget* DialogParent() override;
    void ConnectCamera() override;
    void DisconnectCamera() override;
    void SetCaption(const QString& caption) override;
    // Makes the client area (below the menu bar) the picture's size, or its
    // largest size of the same proportions that keeps the window within 90 %
    // of the screen's free area; the picture fits any size the user gives it.
    void ResizeToPicture() override;
    void ApplyOrientation() override;
    void RequestSplit() override;
    void WakeWorker() override;
    void SetViewMode(ViewMode mode) override;
    ViewMode CurrentViewMode() const override { return picture_->Mode(); }
    int RunCameraDialog() override;
    int RunHotKeyDialog() override;
    void ClearDetectorMask() override;
    QString HotKeyMenuText() override;
    // Closes as the close box does; the settings are saved once. Open dialogs
    // are ended first, and the modules go once their loops have unwound.
    void Exit() override;

    // Hides the window after ending open dialogs as cancelled, or shows it.
    void ToggleVisibility();
    // Shows the window, raised and active, whether hidden or minimised.
    void ShowAndRaise();

    // Modules, for the menu's neighbours and for tests; null once destroyed.
    SettingsFile* Settings() const { return modules_.settings.get(); }
    FrameExchange* Frames() const { return modules_.frames.get(); }
    ShotData* Shot() const { return modules_.shot.get(); }
    RecordingOptions* Options() const { return modules_.options.get(); }
    VideoCapture* Capture() const { return modules_.capture.get(); }
    CameraDialog* Camera() const { return modules_.camera.get(); }
    HotKey* HotKeys() const { return modules_.hotKey.get(); }
    MainMenu* Menu() const { return menu_.get(); }
    QWidget* PictureArea() const { return picture_; }
    StatusLine* Status() const { return statusLine_; }
    WindowDesktop* Desktop() const { return desktop_.get(); }

    // Watchdog and icon state.
    int DeviceCheckCountdown() const { return watchdog_.DeviceCheckCountdown(); }
    int ReconnectCountdown() const { return watchdog_.ReconnectCountdown(); }
    int StateIconIndex() const { return iconIndex_; }
    // Pictures painted at their arrival and pictures handed to the worker.
    int64_t FramesPainted() const { return picture_->FramesPainted(); }
    int64_t PicturesHandedOver() const;
    // Paints that wrote the picture straight into the window's backing store.
    int64_t DirectPaints() const { return picture_->DirectPaints(); }
    // Real timer ticks so far and the longest time between two of them.
    int64_t TimerTicks() const { return timerTicks_; }
    int64_t LongestTickGapMs() const { return longestTickGapMs_; }
    // Paints that converted a picture for the screen.
    int64_t ScreenConversions() const { return picture_->ScreenConversions(); }
    // Tests drive the ticks themselves.
    void StopTimerForTest();
    void TickForTest() { OnTimer(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void CreateModules();
    void DestroyModules();
    void OnMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);
    void OnFrameMessage(intptr_t lParam);
    // Fetches the measured picture, hands it to the worker when wanted, and paints it.
    void TakeFrame();
    void OnTimer();
    // Caption and size for a connection made, the cleared picture for one that failed.
    void OnConnectOutcome(VideoCapture::ConnectState state);
    void Tick();
    void FollowWebServer();
    void WatchCamera();
    void TickRecording();
    void UpdateStateIcon();
    void RefreshStatusLine();
    void SaveAskedSettings();
    // Hands what the window knows to the web server's "status.json".
    void PublishWebStatus();
    // "OnCameraFound" / "OnCameraLost" when the camera's state really changes.
    void CameraEvent(bool connected);
    QString NoCameraHint() const;
    void FitMenuBar();

    // Declared before the menu, which goes first.
    AppModules modules_;
    std::unique_ptr<MainMenu> menu_;
    // Tray icon, sleep inhibitor and the way back to a hidden window.
    std::unique_ptr<WindowDesktop> desktop_;
    PictureView* picture_ = nullptr;
    StatusLine* statusLine_ = nullptr;
    CameraWatchdog watchdog_;

    int iconDelay_ = 0;
    int iconIndex_ = -1;
    bool serverAutoStartDone_ = false;
    int serverRunning_ = 0;
    bool timerBusy_ = false;
    int timerId_ = 0;
    bool closed_ = false;
    // Where Post delivers, on the window's thread.
    PostedMessageReceiver messages_{[this](uint32_t message, uintptr_t wParam, intptr_t lParam) {
        if (!closed_) OnMessage(message, wParam, lParam);
    }};
    bool fitPending_ = false;
    int64_t timerTicks_ = 0;
    int64_t lastTickMs_ = 0;
    int64_t longestTickGapMs_ = 0;
    QSocketNotifier* signalNotifier_ = nullptr;
    bool cameraUp_ = false;
};
