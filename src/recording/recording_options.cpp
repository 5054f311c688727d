#include "recording/recording_options.h"

#include <ctime>

#include "core/event_commands.h"
#include "core/registry.h"
#include "recording/mjpeg_params.h"

namespace {

struct IntSetting {
    const char* key;
    int32_t def;
    int32_t min;
    int32_t max;
};

// The recording settings in MjpegParams order (the quality is the camera's).
constexpr IntSetting kParamSettings[MjpegParams::kCount] = {
    {"JpegQuality", 50, 1, 100},
    {"SpeedRec", 500, 200, 60000},
    {"SpeedPlay", 2, 2, 10},
    {"FileMaxSize", 200, 10, 1500},
    {"FileMaxPages", 500, 10, 1500},
    {"FileMaxTime", 60, 10, 1500},
    {"EnableFileMaxSize", 0, 0, 1},
    {"EnableFileMaxPages", 0, 0, 1},
    {"EnableFileMaxTime", 0, 0, 1},
};
constexpr IntSetting kGoDetector = {"GoDetector", 20, 0, 100};
constexpr IntSetting kTimerStart = {"TimerStart", 0, 0, 86399};
constexpr IntSetting kTimerStop = {"TimerStop", 0, 0, 86399};
constexpr IntSetting kModeActivation = {"ModeActivation", 0, 0, 5};
constexpr IntSetting kPreRecordSeconds = {"PreRecordSeconds", 3, 0, 30};
constexpr IntSetting kRecordingFormat = {"RecordingFormat", 0, 0, 1};

int32_t Load(Registry& registry, const IntSetting& setting) {
    return registry.IntInRange(setting.key, setting.def, setting.min, setting.max);
}

int32_t ClampTo(const IntSetting& setting, int64_t value) {
    if (value < setting.min) return setting.min;
    if (value > setting.max) return setting.max;
    return static_cast<int32_t>(value);
}

// Keeps the value within the setting's range, in field and in the registry.
void Store(Registry& registry, const IntSetting& setting, int32_t& field, int64_t value) {
    field = ClampTo(setting, value);
    registry.SetInt(setting.key, field);
}

bool InsideWindow(int32_t start, int32_t stop, int32_t timeOfDay) {
    if (start < stop) return start < timeOfDay && timeOfDay <= stop;
    if (start > stop) return timeOfDay > start || timeOfDay <= stop;  // crosses midnight
    return false;
}

}  // namespace

RecordingOptions::RecordingOptions(Registry& registry, Clock& clock)
    : registry_(registry),
      params_(MjpegParams::Find(registry, ownParams_, "recording")),
      clock_(clock),
      lightGuard_(registry) {
    registry_.SetHandle("_CL_Options", this);
    for (int field = kMjpegSpeedRec; field < MjpegParams::kCount; ++field)
        params_.Set(field, Load(registry_, kParamSettings[field]));
    threshold_ = Load(registry_, kGoDetector);
    windowStart_ = Load(registry_, kTimerStart);
    windowStop_ = Load(registry_, kTimerStop);
    mode_ = Load(registry_, kModeActivation);
    preRecordSeconds_ = Load(registry_, kPreRecordSeconds);
    params_.recordingFormat.store(Load(registry_, kRecordingFormat), std::memory_order_relaxed);
}

void RecordingOptions::SetLevel(int32_t level) { SetLevel(level, 0, 0); }

void RecordingOptions::SetLevel(int32_t level, int64_t changedBytes, int64_t countedBytes) {
    level_ = level;
    const bool heldBack = lightGuard_.Holds(changedBytes, countedBytes);
    if (level >= threshold_ && !heldBack) {
        hold_ = kHoldSeconds;
        if (view_) view_->HoldChanged(hold_);
    }
    if (view_) view_->LevelChanged(level_);
}

void RecordingOptions::Tick() {
    const std::time_t now = clock_.Now();
    if (now != lastSecond_) NewSecond(now);
    detectorActive_ = hold_ > 0 ? 1 : 0;

    switch (mode_) {
        case kModeAlways: recordingActive_ = 1; break;
        case kModeDetector: recordingActive_ = detectorActive_; break;
        case kModeTimer: recordingActive_ = inWindow_; break;
        case kModeTimerAndDetector: recordingActive_ = detectorActive_ && inWindow_ ? 1 : 0; break;
        case kModeTimerOrDetector: recordingActive_ = detectorActive_ || inWindow_ ? 1 : 0; break;
        default: recordingActive_ = 0; break;
    }
    AnnounceEvent();

    if (blinkCounter_ >= 2) {
        blinkCounter_ = 0;
        blink_ = blink_ ? 0 : 1;
    } else {
        ++blinkCounter_;
    }

    UpdateIndicator(RecordingOptionsView::kDetectorIndicator, detectorActive_ ? blink_ + 1 : 0);
    UpdateIndicator(RecordingOptionsView::kTimerIndicator, inWindow_ ? blink_ + 1 : 0);
    // Pictures that cannot be stored are not shown as being recorded.
    UpdateIndicator(RecordingOptionsView::kRecordingIndicator, recordingActive_ && !storeFailing_ ? blink_ + 1 : 0);
}

void RecordingOptions::AnnounceEvent() {
    const bool inEvent = recordingActive_ != 0 && IsDetectorMode(mode_);
    if (inEvent == inEvent_) return;
    inEvent_ = inEvent;
    if (auto* events = registry_.Find<EventCommands>("_CL_EventCommands"))
        events->Fire(inEvent ? "OnEventStart" : "OnEventEnd", "", level_);
}

::Activation RecordingOptions::RecordingActivation() const {
    if (recordingActive_ == 0) return ::Activation::kUnknown;
    switch (mode_) {
        case kModeAlways: return ::Activation::kAlways;
        case kModeTimer: return ::Activation::kWindow;
        case kModeTimerOrDetector: return inWindow_ ? ::Activation::kWindow : ::Activation::kDetector;
        default: return ::Activation::kDetector;  // the detector fired, inside the window where one is asked for
    }
}

bool RecordingOptions::IsDetectorMode(int32_t mode) {
    return mode == kModeDetector || mode == kModeTimerAndDetector || mode == kModeTimerOrDetector;
}

int32_t RecordingOptions::PreRecordSeconds() const { return IsDetectorMode(mode_) ? preRecordSeconds_ : 0; }

void RecordingOptions::SetPreRecordSeconds(int32_t seconds) { Store(registry_, kPreRecordSeconds, preRecordSeconds_, seconds); }

void RecordingOptions::SetRecordingFormat(int32_t format) {
    format = ClampTo(kRecordingFormat, format);
    params_.recordingFormat.store(format, std::memory_order_relaxed);
    registry_.SetInt(kRecordingFormat.key, format);
}

void RecordingOptions::NewSecond(std::time_t now) {
    lastSecond_ = now;
    if (hold_ > 0) {
        --hold_;
        if (view_) view_->HoldChanged(hold_);
    }
    std::tm local{};
    localtime_r(&now, &local);
    timeOfDay_ = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    if (view_) view_->TimeOfDayChanged(timeOfDay_);
    inWindow_ = InsideWindow(windowStart_, windowStop_, timeOfDay_) ? 1 : 0;
}

void RecordingOptions::UpdateIndicator(RecordingOptionsView::Indicator which, int32_t state) {
    if (indicators_[which] == state) return;
    indicators_[which] = state;
    if (view_) view_->IndicatorChanged(which, state);
}

void RecordingOptions::SetThreshold(int32_t threshold) { Store(registry_, kGoDetector, threshold_, threshold); }

void RecordingOptions::SetWindowStart(int32_t secondsOfDay) { Store(registry_, kTimerStart, windowStart_, secondsOfDay); }

void RecordingOptions::SetWindowStop(int32_t secondsOfDay) { Store(registry_, kTimerStop, windowStop_, secondsOfDay); }

void RecordingOptions::SetMode(int32_t mode) { Store(registry_, kModeActivation, mode_, mode); }

void RecordingOptions::OpenDialog() {
    for (int field = 0; field < MjpegParams::kCount; ++field) working_[field] = params_.Get(field);
    threshold_ = registry_.IntOr(kGoDetector.key, threshold_);
    windowStart_ = registry_.IntOr(kTimerStart.key, windowStart_);
    windowStop_ = registry_.IntOr(kTimerStop.key, windowStop_);
    mode_ = registry_.IntOr(kModeActivation.key, mode_);
    modeAtOpening_ = mode_;
}

int32_t RecordingOptions::Clamp(int field, int64_t value) {
    if (field < 0 || field >= MjpegParams::kCount) return 0;
    return ClampTo(kParamSettings[field], value);
}

int32_t RecordingOptions::SetWorking(int field, int64_t value) {
    if (field < 0 || field >= MjpegParams::kCount) return 0;
    working_[field] = Clamp(field, value);
    return working_[field];
}

int32_t RecordingOptions::AcceptWorkingCopy() {
    for (int field = kMjpegSpeedRec; field < MjpegParams::kCount; ++field)
        registry_.SetInt(kParamSettings[field].key, working_[field]);
    int32_t result = kAccepted;
    if (params_.Get(kMjpegSpeedRec) != working_[kMjpegSpeedRec] ||
        params_.Get(kMjpegSpeedPlay) != working_[kMjpegSpeedPlay])
        result += kSpeedChanged;
    for (int field = kMjpegSpeedRec; field < MjpegParams::kCount; ++field) params_.Set(field, working_[field]);
    if (mode_ != modeAtOpening_) result += kModeChanged;
    return result;
}

RecordingIdle RecordingOptions::Idle() const {
    if (recordingActive_) return RecordingIdle::kRecording;
    switch (mode_) {
        case kModeDetector:
        case kModeTimerOrDetector: return RecordingIdle::kWaitingForMotion;
        case kModeTimer: return RecordingIdle::kOutsideWindow;
        case kModeTimerAndDetector: return inWindow_ ? RecordingIdle::kWaitingForMotion : RecordingIdle::kOutsideWindow;
        default: return RecordingIdle::kModeOff;
    }
}
