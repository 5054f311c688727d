#pragma once

#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <array>
#include <functional>
#include <memory>

#include "recording/mjpeg_params.h"
#include "ui/view_mode.h"

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
class MessagePoster;
class PictureHandover;
class QWidget;
class RecordingOptions;
class SettingsFile;
class ShotWorker;
class BackgroundShutter;
class VideoCapture;
class WebServer;
struct ShotData;

// Every module behind the main window, created in dependency order (each
// finds the ones before it in the registry) and torn down so that each stops
// while what it uses still exists. Members are null once destroyed.
struct AppModules {
    // window receives the posted messages ("_MainHwnd") and gives the bold
    // font its family; the mask editor draws on pictureArea while maskShown.
    AppModules();
    void Create(MessagePoster& window, const QFont& windowFont, QWidget& pictureArea,
                std::function<bool()> maskShown);
    // Stops the web server and the worker, ends the modules the window's
    // dialogs and loops no longer need, and saves the settings.
    void Stop();
    // What Stop leaves alive goes in reverse order of creation.
    ~AppModules();

    std::unique_ptr<SettingsFile> settings;
    std::unique_ptr<LanguageTable> language;
    std::unique_ptr<EventCommands> events;
    std::unique_ptr<DateStamp> stamp;
    QFont boldFont;
    std::unique_ptr<HotKey> hotKey;
    std::unique_ptr<AboutDialog> about;
    // The nine shared recording values, JPEG quality first, as "_MJPEG_PARAMS".
    MjpegParams mjpegParams;
    std::unique_ptr<ShotData> shot;
    std::unique_ptr<PictureHandover> handover;
    // Status pictures of the options dialog, as "_HBITMAPIMAGESTATE": the
    // address of the first of three QPixmap (off, bright, dark).
    std::array<QPixmap, 3> statusBitmaps;
    std::unique_ptr<RecordingOptions> options;
    // The view mode the program starts with ("ModeView").
    ViewMode firstViewMode = ViewMode::kPicture;
    std::unique_ptr<FrameExchange> frames;
    // Draws the areas the detector ignores while the motion view is chosen.
    std::unique_ptr<MaskEditor> maskEditor;
    std::unique_ptr<H264FileEncoder> h264;  // outlives the recorder that uses it
    std::unique_ptr<AviRecorder> recorder;
    std::unique_ptr<WebServer> web;
    std::unique_ptr<BackgroundShutter> shutter;
    std::unique_ptr<ShotWorker> worker;
    std::unique_ptr<VideoCapture> capture;
    std::unique_ptr<CameraDialog> camera;
    std::array<QIcon, 5> stateIcons;
};
