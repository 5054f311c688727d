#pragma once

#include <cstdint>

class Registry;

// Tells a change of lighting from motion for the detector ("DetectorLightGuard",
// 0 off by default, 1 on): a picture in which more than 60 % of the counted
// bytes changed is a lamp or a cloud, not a visitor, and neither it nor the
// next 5 pictures may start or prolong the detector's hold.
class LightGuard {
public:
    static constexpr int64_t kChangedPercent = 60;
    static constexpr int32_t kQuietPictures = 5;

    explicit LightGuard(Registry& registry);
    LightGuard(const LightGuard&) = delete;
    LightGuard& operator=(const LightGuard&) = delete;

    bool Enabled() const { return enabled_ != 0; }
    // Takes effect with the next picture and is stored as the setting.
    void SetEnabled(bool enabled);
    // Every fetched picture, in order: true when this one may not fire the detector.
    bool Holds(int64_t changedBytes, int64_t countedBytes);

private:
    Registry& registry_;
    int32_t enabled_ = 0;
    // Pictures still to be held back after the last change of lighting.
    int32_t quiet_ = 0;
};
