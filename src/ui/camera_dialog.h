#pragma once

#include <cstdint>
#include <memory>

#include "ui/dialog_results.h"
#include "video/video_capture.h"

class QWidget;
class Registry;
class VideoCapture;
struct MjpegParams;

// The camera settings: establishes the defaults of the camera settings at
// construction, holds the live date-stamp switch the window reads before
// every stamp, and runs the modal camera dialog.
class CameraDialog {
public:
    // Result bits of Run.
    static constexpr int kDeviceChanged = camera_result::kDeviceChanged;
    static constexpr int kOrientationChanged = camera_result::kOrientationChanged;
    static constexpr int kQualityChanged = camera_result::kQualityChanged;
    static constexpr int kStampChanged = camera_result::kStampChanged;
    static constexpr int32_t kDefaultQuality = 50;

    // After "_MJPEG_PARAMS" and "_VideoCapture" are registered; a missing
    // capture module leaves only "Default" in the camera list.
    explicit CameraDialog(Registry& registry);
    ~CameraDialog();
    CameraDialog(const CameraDialog&) = delete;
    CameraDialog& operator=(const CameraDialog&) = delete;

    // The modal dialog; the bits above, 0 when cancelled or nothing changed.
    // Stores what changed and saves the settings file when anything did.
    int Run(QWidget* parent);

    // 1: draw the date and time stamp into every picture.
    int32_t StampSwitch() const { return stampSwitch_; }

private:
    friend class CameraDialogWindow;

    Registry& registry_;
    MjpegParams* mjpegParams_;
    VideoCapture* capture_;
    int32_t stampSwitch_ = 1;
    // The camera list of the open dialog, filled at each opening.
    std::unique_ptr<DeviceList> devices_;
};
