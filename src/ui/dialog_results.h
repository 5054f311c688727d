#pragma once

// What a dialog's result says changed, one set of flags per dialog.

// The camera dialog.
namespace camera_result {
inline constexpr int kDeviceChanged = 1;
inline constexpr int kOrientationChanged = 2;
inline constexpr int kQualityChanged = 4;
inline constexpr int kStampChanged = 8;
}  // namespace camera_result

// The hot key dialog.
namespace hot_key_result {
inline constexpr int kHideChanged = 1;
inline constexpr int kKeyChanged = 2;
}  // namespace hot_key_result

// The recording options dialog gives RecordingOptions::AcceptWorkingCopy's flags.
