#pragma once

// What the picture area shows; "ModeView" holds the first one by these numbers.
enum class ViewMode : int { kNone = 0, kPicture = 1, kMotion = 2 };
