#include "recording/light_guard.h"

#include "core/registry.h"

namespace {
constexpr const char* kSetting = "DetectorLightGuard";
}  // namespace

LightGuard::LightGuard(Registry& registry)
    : registry_(registry), enabled_(registry.IntInRange(kSetting, 0, 0, 1)) {}

void LightGuard::SetEnabled(bool enabled) {
    enabled_ = enabled ? 1 : 0;
    quiet_ = 0;
    registry_.SetInt(kSetting, enabled_);
}

bool LightGuard::Holds(int64_t changedBytes, int64_t countedBytes) {
    if (!enabled_) return false;
    if (countedBytes > 0 && changedBytes * 100 > countedBytes * kChangedPercent) {
        quiet_ = kQuietPictures;
        return true;
    }
    if (quiet_ == 0) return false;
    --quiet_;
    return true;
}
