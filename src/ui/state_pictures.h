#pragma once

#include <QIcon>
#include <QPixmap>

#include <array>

// The window's pictures, drawn in code: five state icons (index 0 no camera,
// 1 camera connected, 2 recording with the blink lit, 3 the program icon,
// 4 recording wanted but pictures cannot be stored) and
// the three 12 x 12 status pictures of the recording options dialog's
// indicators (0 off, 1 bright, 2 dark).
namespace state_pictures {
inline constexpr int kNoCamera = 0;
inline constexpr int kConnected = 1;
inline constexpr int kRecordingLit = 2;
inline constexpr int kProgram = 3;
inline constexpr int kWarning = 4;

std::array<QIcon, 5> StateIcons();
std::array<QPixmap, 3> StatusBitmaps();
}  // namespace state_pictures
