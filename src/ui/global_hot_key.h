#pragma once

#include <cstdint>
#include <memory>

class MessagePoster;

// A system-wide key grab that posts the hot key message (wParam 4000) to the
// window for every press. Exists only while the platform accepted the key.
class GlobalHotKey {
public:
    // nullptr when there is no X11 display, the value has no key, the key has
    // no key code on this keyboard or another program holds the combination.
    static std::unique_ptr<GlobalHotKey> Register(int32_t value, MessagePoster* window);
    virtual ~GlobalHotKey() = default;
};
