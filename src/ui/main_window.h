#pragma once

#include <QFont>
#include <QIcon>
#include <QImage>
#include <QMainWindow>
#include <QPixmap>
#include <QSize>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "core/message_poster.h"
#include "recording/mjpeg_params.h"
#include "ui/main_menu.h"
#include "ui/posted_message.h"
#include "video/video_capture.h"

class AboutDialog;
class AviRecorder;
class H264FileEncoder;
class CameraDialog;
class DateStamp;
class EventCommands;
class FrameExchange;
class HotKey;
class LanguageTable;
class MaskEditor;
class QSocketNotifier;
class RecordingOptions;
class SettingsFile;
class StatusLine;
class ShotWorker;
class ShutterSound;
class WebServer;
struct ShotData;

// Copies a fetched picture into the block when the worker is free; marks it
// pending (last, with release) only when length matches width x height x 3.
// Returns true when the picture was handed over.
bool HandOverPicture(ShotData& shot, const uint8_t* picture, int32_t length, int32_t width, int32_t height,
                     double time, int32_t quality, int32_t recording);

// The client area: paints the chosen picture, scaled to its size.
class PictureView final : public QWidget {
public:
    using QWidget::QWidget;
    std::function<void(QPainter&)> paint;
    // Drawn over the picture on the screen only.
    std::function<void(QPainter&)> overlay;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The program's main window. It creates every module in dependency order
// when it starts and destroys them, saving the settings, when it closes.
// Frames arrive as posted data messages; a 250 ms timer watches the camera.
class MainWindow final : public QMainWindow, public MessagePoster, public MenuHost {
    Q_OBJECT

public:
    static constexpr int kTimerPeriodMs = 250;
    static constexpr int kCountdownTicks = 12;
    static constexpr int kIconDelayTicks = 7;
    // Language key of the caption while no camera is connected (built-in text Russian).
    static const char* const kNoCameraCaption;
    // The picture area of the first window, before any camera gave its size.
    static constexpr QSize kFirstPictureSize{320, 240};
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
    // Makes the client area (below the menu bar) the picture's size.
    void ResizeToPicture() override;
    void ApplyOrientation() override;
    void RequestSplit() override;
    void WakeWorker() override;
    void SetViewMode(int mode) override;
    int ViewMode() const override { return viewMode_; }
    int RunCameraDialog() override;
    int RunHotKeyDialog() override;
    void ClearDetectorMask() override;
    QString HotKeyMenuText() override;
    // Closes as the close box does; the settings are saved once. Open dialogs
    // are ended first, and the modules go once their loops have unwound.
    void Exit() override;

    // Hides the window after ending open dialogs as cancelled, or shows it.
    void ToggleVisibility();

    // Modules, for the menu's neighbours and for tests; null once destroyed.
    SettingsFile* Settings() const { return settings_.get(); }
    FrameExchange* Frames() const { return frames_.get(); }
    ShotData* Shot() const { return shot_.get(); }
    RecordingOptions* Options() const { return options_.get(); }
    VideoCapture* Capture() const { return capture_.get(); }
    CameraDialog* Camera() const { return camera_.get(); }
    HotKey* HotKeys() const { return hotKey_.get(); }
    MainMenu* Menu() const { return menu_.get(); }
    QWidget* PictureArea() const { return picture_; }
    StatusLine* Status() const { return statusLine_; }

    // Watchdog and icon state.
    int DeviceCheckCountdown() const { return deviceCheckCountdown_; }
    int ReconnectCountdown() const { return reconnectCountdown_; }
    int StateIconIndex() const { return iconIndex_; }
    // Pictures painted at their arrival and pictures handed to the worker.
    int64_t FramesPainted() const { return framesPainted_; }
    int64_t PicturesHandedOver() const { return picturesHandedOver_; }
    // Paints that wrote the picture straight into the window's backing store.
    int64_t DirectPaints() const { return directPaints_; }
    // Real timer ticks so far and the longest time between two of them.
    int64_t TimerTicks() const { return timerTicks_; }
    int64_t LongestTickGapMs() const { return longestTickGapMs_; }
    // Paints that converted a picture for the screen.
    int64_t ScreenConversions() const { return screenConversions_; }
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
    void OnTimer();
    // Caption and size for a connection made, the cleared picture for one that failed.
    void OnConnectOutcome(VideoCapture::ConnectState state);
    void Tick();
    void Paint(QPainter& painter);
    // Notes the frame and asks the picture block's demand whether to hand it over.
    bool PictureWanted(double time, int32_t recording);
    void PaintNow();
    bool PaintIntoBackingStore(QPainter& painter, const uint8_t* buffer, int32_t width, int32_t height);
    void UpdateStateIcon();
    void TickRecording();
    // "OnCameraFound" / "OnCameraLost" when the camera's state really changes.
    void CameraEvent(bool connected);
    void PaintNoCameraHint(QPainter& painter);
    void FitMenuBar();
    // Hands what the window knows to the web server's "status.json".
    void PublishWebStatus();

    // Module references, in the order of creation.
    std::unique_ptr<SettingsFile> settings_;
    std::unique_ptr<LanguageTable> language_;
    std::unique_ptr<EventCommands> events_;
    std::unique_ptr<DateStamp> stamp_;
    QFont boldFont_;
    std::unique_ptr<HotKey> hotKey_;
    std::unique_ptr<AboutDialog> about_;
    // The nine shared recording values, JPEG quality first, as "_MJPEG_PARAMS".
    MjpegParams mjpegParams_;
    std::unique_ptr<ShotData> shot_;
    // Status pictures of the options dialog, as "_HBITMAPIMAGESTATE": the
    // address of the first of three QPixmap (off, bright, dark).
    std::array<QPixmap, 3> statusBitmaps_;
    std::unique_ptr<RecordingOptions> options_;
    std::unique_ptr<FrameExchange> frames_;
    std::unique_ptr<H264FileEncoder> h264_;  // outlives the recorder that uses it
    std::unique_ptr<AviRecorder> recorder_;
    std::unique_ptr<WebServer> web_;
    std::unique_ptr<ShutterSound> shutter_;
    std::unique_ptr<ShotWorker> worker_;
    std::unique_ptr<VideoCapture> capture_;
    std::unique_ptr<CameraDialog> camera_;
    std::array<QIcon, 5> stateIcons_;
    std::unique_ptr<MainMenu> menu_;
    // Draws the areas the detector ignores while the motion view is chosen.
    std::unique_ptr<MaskEditor> maskEditor_;

    PictureView* picture_ = nullptr;
    StatusLine* statusLine_ = nullptr;
    // The shown buffer (blank, display or difference) in the screen's pixel
    // format, rows top-down; allocated again only when the picture size changes.
    QImage screenImage_;

    int iconDelay_ = 0;
    int iconIndex_ = -1;
    bool firstPaintDone_ = false;
    bool serverAutoStartDone_ = false;
    int serverRunning_ = 0;
    int deviceCheckCountdown_ = 0;
    int reconnectCountdown_ = 0;
    int viewMode_ = 1;
    bool timerBusy_ = false;
    int timerId_ = 0;
    bool closed_ = false;
    // Where Post delivers, on the window's thread.
    PostedMessageReceiver messages_{[this](uint32_t message, uintptr_t wParam, intptr_t lParam) {
        if (!closed_) OnMessage(message, wParam, lParam);
    }};
    bool fitPending_ = false;
    bool pictureArrived_ = false;
    int64_t framesPainted_ = 0;
    int64_t picturesHandedOver_ = 0;
    int64_t screenConversions_ = 0;
    // The last paint showed the black picture of the view mode "none".
    bool blackShown_ = false;
    int64_t directPaints_ = 0;
    int64_t timerTicks_ = 0;
    int64_t lastTickMs_ = 0;
    int64_t longestTickGapMs_ = 0;
    QSocketNotifier* signalNotifier_ = nullptr;
    bool cameraUp_ = false;
};
