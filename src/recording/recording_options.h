#pragma once

#include <cstdint>
#include <memory>

#include "core/clock.h"
#include "core/recording_names.h"
#include "recording/light_guard.h"
#include "recording/mjpeg_params.h"
#include "recording/recording_status.h"

class Registry;

// Refresh points of the recording options dialog. The dialog installs itself
// with RecordingOptions::SetView while its window exists and removes itself
// (SetView(nullptr)) before the window goes; every call comes on the
// user-interface thread from SetLevel or Tick.
class RecordingOptionsView {
public:
    enum Indicator : int { kDetectorIndicator = 0, kTimerIndicator = 1, kRecordingIndicator = 2 };
    virtual ~RecordingOptionsView() = default;
    // The detector fired (hold 10) or a new second counted it down: label 400.
    virtual void HoldChanged(int32_t /*hold*/) {}
    // Every SetLevel; the dialog shows it (label 401, bar 216) only while visible.
    virtual void LevelChanged(int32_t /*level*/) {}
    // A new second: label 118, seconds after local midnight.
    virtual void TimeOfDayChanged(int32_t /*secondsOfDay*/) {}
    // An indicator's state changed: 0 off, 1 bright, 2 dark (images 125, 126, 127).
    virtual void IndicatorChanged(Indicator /*which*/, int32_t /*state*/) {}
};

// Decides four times a second whether pictures are recorded, from the
// activation mode, the motion detector (threshold and a 10-second hold) and
// the daily time window; loads the recording settings into "_MJPEG_PARAMS"
// (which must be registered first) and registers itself as "_CL_Options".
//
// State the dialog reads: Level, Hold, Threshold, TimeOfDay, WindowStart,
// WindowStop, Mode, IndicatorState, and the working copy of the nine
// MjpegParams values (Working / SetWorking between OpenDialog and
// AcceptWorkingCopy). What the dialog changes directly (threshold, window,
// mode) goes through SetThreshold, SetWindowStart, SetWindowStop and SetMode,
// which also store the setting. The dialog saves the settings file itself.
class RecordingOptions {
public:
    enum Mode : int32_t {
        kModeOff = 0,
        kModeAlways = 1,
        kModeDetector = 2,
        kModeTimer = 3,
        kModeTimerAndDetector = 4,
        kModeTimerOrDetector = 5,
    };
    static constexpr int32_t kHoldSeconds = 10;
    // Bits of AcceptWorkingCopy's result.
    static constexpr int32_t kAccepted = 1;
    static constexpr int32_t kSpeedChanged = 2;
    static constexpr int32_t kModeChanged = 4;

    explicit RecordingOptions(Registry& registry, Clock& clock = SystemClock::Instance());
    RecordingOptions(const RecordingOptions&) = delete;
    RecordingOptions& operator=(const RecordingOptions&) = delete;

    // Motion level (0..100) of each fetched picture; restarts the hold at the threshold.
    void SetLevel(int32_t level);
    // The same with the picture's changed and counted bytes: a change of
    // lighting that the guard holds back is shown but does not fire.
    void SetLevel(int32_t level, int64_t changedBytes, int64_t countedBytes);
    // Every 250 ms timer tick: counts the hold down at each new second,
    // updates the window, the output flag, the blink and the indicators.
    void Tick();

    // Output: copied into each picture handed to the worker.
    int32_t RecordingActive() const { return recordingActive_; }
    // What has recording on now: the daily window where it is open and
    // counts, else the detector; kUnknown while nothing does.
    ::Activation RecordingActivation() const;
    // Activation switched off from the menu: no recording until the next tick says so.
    void ClearRecordingActive() { recordingActive_ = 0; }
    // Why nothing is recorded now (kRecording while recording is active).
    RecordingIdle Idle() const;
    // Set before each Tick: pictures cannot be stored, so the recording
    // indicator does not show the recording state.
    void SetStoreFailing(bool failing) { storeFailing_ = failing; }
    // Toggles every third tick; drives the window icon and the indicators.
    int32_t Blink() const { return blink_; }

    int32_t Level() const { return level_; }
    int32_t Hold() const { return hold_; }
    int32_t Threshold() const { return threshold_; }
    int32_t TimeOfDay() const { return timeOfDay_; }
    int32_t WindowStart() const { return windowStart_; }
    int32_t WindowStop() const { return windowStop_; }
    int32_t Mode() const { return mode_; }
    int32_t DetectorActive() const { return detectorActive_; }
    int32_t InWindow() const { return inWindow_; }
    int32_t IndicatorState(RecordingOptionsView::Indicator which) const { return indicators_[which]; }

    // Take effect at once (mode at the next tick) and are stored as settings.
    void SetThreshold(int32_t threshold);
    void SetWindowStart(int32_t secondsOfDay);
    void SetWindowStop(int32_t secondsOfDay);
    void SetMode(int32_t mode);

    // "PreRecordSeconds" (0..30): seconds before motion that start a recording,
    // in the detector modes (2, 4, 5) only; 0 in the others.
    int32_t PreRecordSeconds() const;
    int32_t PreRecordSetting() const { return preRecordSeconds_; }
    void SetPreRecordSeconds(int32_t seconds);
    static bool IsDetectorMode(int32_t mode);
    // "RecordingFormat": 0 Motion-JPEG AVI, 1 H.264 MP4; the next file is made so.
    int32_t RecordingFormat() const { return params_.recordingFormat.load(std::memory_order_relaxed); }
    void SetRecordingFormat(int32_t format);

    void SetView(RecordingOptionsView* view) { view_ = view; }
    LightGuard& Guard() { return lightGuard_; }
    MjpegParams& Params() { return params_; }

    // The dialog opens: working copy = MjpegParams; threshold, window and
    // mode re-read from their settings; the mode at opening is remembered.
    void OpenDialog();
    int32_t Working(int field) const { return working_[field]; }
    // Clamps into the field's range (flags to 0/1) and returns what was kept.
    int32_t SetWorking(int field, int64_t value);
    // Accept: stores the eight recording settings, copies the working copy
    // into MjpegParams; returns kAccepted plus kSpeedChanged and kModeChanged.
    int32_t AcceptWorkingCopy();
    // Range of a MjpegParams field's setting (the quality field: 1..100).
    static int32_t Clamp(int field, int64_t value);

private:
    void NewSecond(std::time_t now);
    void UpdateIndicator(RecordingOptionsView::Indicator which, int32_t state);
    void AnnounceEvent();

    Registry& registry_;
    MjpegParams ownParams_;  // used only when none is registered
    MjpegParams& params_;
    Clock& clock_;
    RecordingOptionsView* view_ = nullptr;
    LightGuard lightGuard_;

    int32_t threshold_ = 0;
    int32_t level_ = 0;
    int32_t hold_ = 0;
    std::time_t lastSecond_ = 0;
    int32_t timeOfDay_ = 0;
    int32_t windowStart_ = 0;
    int32_t windowStop_ = 0;
    int32_t detectorActive_ = 0;
    int32_t inWindow_ = 0;
    int32_t mode_ = 0;
    int32_t recordingActive_ = 0;
    bool storeFailing_ = false;
    int32_t blink_ = 0;
    int32_t blinkCounter_ = 0;
    int32_t indicators_[3] = {0, 0, 0};

    int32_t working_[9] = {};
    int32_t modeAtOpening_ = 0;

    int32_t preRecordSeconds_ = 0;
    bool inEvent_ = false;  // recording active in a detector mode, as "OnEventStart" / "OnEventEnd" last told
};
