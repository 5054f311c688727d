#pragma once

#include <cstdint>

// How any thread tells the main window something: the window implements this
// and registers itself under "_MainHwnd". Post never blocks and may be called
// from any thread; the message is handled later on the window's thread.
class MessagePoster {
public:
    virtual ~MessagePoster() = default;
    virtual void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

// Message number of the camera data message, stored under "_VideoDataMsg".
inline constexpr uint32_t kVideoDataMessage = 1025;
