#pragma once

#include <atomic>
#include <cstdint>
#include <random>
#include <vector>

#include "core/message_poster.h"
#include "core/registry.h"
#include "video/frame.h"

// Stands in for the main window: counts the data messages it is sent.
class CountingPoster : public MessagePoster {
public:
    void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
        lastMessage.store(message);
        lastWParam.store(wParam);
        lastLParam.store(lParam);
        posts.fetch_add(1);
    }
    std::atomic<int> posts{0};
    std::atomic<uint32_t> lastMessage{0};
    std::atomic<uintptr_t> lastWParam{99};
    std::atomic<intptr_t> lastLParam{99};
};

// A registry set up as the main window leaves it before the exchange exists.
inline void PrepareRegistry(Registry& registry, MessagePoster* poster, int rotate = 0, int reflect = 0) {
    registry.SetHandle("_MainHwnd", poster);
    registry.SetInt("_VideoDataMsg", static_cast<int32_t>(kVideoDataMessage));
    registry.SetInt("VideoRotate", rotate);
    registry.SetInt("VideoReflect", reflect);
}

inline std::vector<uint8_t> RandomPicture(std::size_t bytes, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> picture(bytes);
    for (uint8_t& b : picture) b = static_cast<uint8_t>(random());
    return picture;
}
