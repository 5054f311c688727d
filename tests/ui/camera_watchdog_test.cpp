// When the window lets a silent camera go and looks for the device again.
#include "ui/camera_watchdog.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Runs ticks and events ("f" a frame, "c" a connection tried, "p" pending,
// "." a tick) and writes what each tick asked: "-" nothing, "D" disconnect,
// "C" connect, "B" both. A connect asked for is tried at once, as the window does.
std::string Ticks(const std::string& script) {
    CameraWatchdog watchdog;
    std::string asked;
    for (const char step : script) {
        if (step == 'f') watchdog.FrameArrived();
        if (step == 'c') watchdog.ConnectTried();
        if (step == 'p') watchdog.ConnectPending();
        if (step != '.') continue;
        const CameraWatchdog::Due due = watchdog.Tick();
        asked += due.disconnect ? (due.connect ? 'B' : 'D') : (due.connect ? 'C' : '-');
        if (due.connect) watchdog.ConnectTried();
    }
    return asked;
}

TEST(CameraWatchdog, ASilentCameraIsLetGoAndTheDeviceLookedForEverySpell) {
    const struct {
        const char* script;
        const char* asked;
    } cases[] = {
        // No camera: the first tick looks for it; the silence counted from the start
        // lets it go on the twelfth, and each tick after a let-go looks again.
        {"..........................", "C----------DC----------DC-"},
        // Frames keep both counts wound up: nothing asked while they come.
        {"f.f.f.f.f.f.f.f.f.f.f.f.f.f.", "--------------"},
        // A connection tried and pending gets a whole spell from its attempt.
        {"f.....cp............", "----------------B"},
        // The last frame starts the spell: eleven quiet ticks, then both.
        {"f.............", "-----------B-"},
    };
    for (const auto& c : cases) EXPECT_EQ(Ticks(c.script), c.asked) << c.script;
}

}  // namespace
