#include "ui/app_modules.h"

#include <QWidget>
#include <cstdio>

#include "core/event_commands.h"
#include "core/language_table.h"
#include "core/message_poster.h"
#include "core/settings_file.h"
#include "recording/avi_recorder.h"
#include "recording/mp4_encoder_gst.h"
#include "recording/picture_handover.h"
#include "recording/recording_options.h"
#include "recording/shot_data.h"
#include "recording/shot_worker.h"
#include "recording/background_shutter.h"
#include "recording/shutter_sound.h"
#include "ui/about_dialog.h"
#include "ui/camera_dialog.h"
#include "ui/hot_key.h"
#include "ui/mask_editor.h"
#include "ui/posted_message.h"
#include "ui/state_pictures.h"
#include "video/date_stamp.h"
#include "video/frame_exchange.h"
#include "video/video_capture.h"
#include "web/web_server.h"

AppModules::AppModules() = default;

void AppModules::Create(MessagePoster& window, const QFont& windowFont, QWidget& pictureArea,
                        std::function<bool()> maskShown) {
    // Settings first: paths, current folder, the file, the storage folders.
    settings = std::make_unique<SettingsFile>();
    Registry& registry = *settings;
    registry.SetHandle("_MainHwnd", &window);
    language = std::make_unique<LanguageTable>(registry);
    events = std::make_unique<EventCommands>(registry);
    stamp = std::make_unique<DateStamp>();
    stamp->LoadFont();
    boldFont = windowFont;
    boldFont.setWeight(QFont::Bold);
    registry.SetHandle("_BoldFont", &boldFont);
    hotKey = std::make_unique<HotKey>(registry);
    about = std::make_unique<AboutDialog>(registry);
    registry.SetHandle("_MJPEG_PARAMS", &mjpegParams);
    shot = std::make_unique<ShotData>();
    shot->photoType.store(registry.IntInRange("ShotFilesType", 0, 0, 1));
    shot->Register(registry);
    handover = std::make_unique<PictureHandover>(*shot, mjpegParams);
    registry.IntInRange("ShotCounterFiles", 0, 0, 99999);
    statusBitmaps = state_pictures::StatusBitmaps();
    registry.SetHandle("_HBITMAPIMAGESTATE", statusBitmaps.data());
    options = std::make_unique<RecordingOptions>(registry);
    firstViewMode = static_cast<ViewMode>(registry.IntInRange("ModeView", 1, 0, 2));
    registry.SetInt("_VideoDataMsg", static_cast<int32_t>(kVideoDataMessage));
    frames = std::make_unique<FrameExchange>(registry);
    maskEditor = std::make_unique<MaskEditor>(registry, frames->Mask(), pictureArea, std::move(maskShown),
                                              [this] { frames->MaskEdited(); });
    h264 = CreateGstH264Encoder();
    if (h264) registry.SetHandle("_CL_H264Encoder", h264.get());
    std::fprintf(stderr, "recording: H.264 encoder for MP4: %s\n",
                 h264 ? h264->Name() : "none (x264enc, openh264enc or a VA-API encoder is needed; AVI is recorded)");
    recorder = std::make_unique<AviRecorder>(registry);
    web = std::make_unique<WebServer>(registry);
    shutter = std::make_unique<BackgroundShutter>(std::make_unique<ShutterSound>());
    worker = std::make_unique<ShotWorker>(registry, *shutter);
    capture = std::make_unique<VideoCapture>(registry);
    camera = std::make_unique<CameraDialog>(registry);
    stateIcons = state_pictures::StateIcons();
}

void AppModules::Stop() {
    // Web server and worker stop before anything they use goes away.
    if (web) web->Stop();
    if (worker) worker->StopWorker();
    camera.reset();
    options.reset();
    about.reset();
    capture.reset();
    worker.reset();
    events.reset();
    language.reset();
    if (shot) shot->wake.reset();
    if (settings) settings->Save();
}

AppModules::~AppModules() {
    maskEditor.reset();
    recorder.reset();
    web.reset();
    frames.reset();
    handover.reset();
    shot.reset();
    hotKey.reset();
    stamp.reset();
    settings.reset();
}
