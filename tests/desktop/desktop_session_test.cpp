// The window in its desktop session, in process: the sleep inhibitor on a
// private system bus with a mock logind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "desktop/desktop_session.h"
#include "desktop/private_bus.h"
#include "desktop/sleep_inhibitor.h"
#include "e2e/program_run.h"
#include "ui/main_menu.h"
#include "ui/main_window.h"
#include "ui/ui_test_support.h"
#include "ui/window_desktop.h"

namespace {

constexpr const char* kListInhibitors =
    "--dest org.freedesktop.login1 --object-path /org/freedesktop/login1 "
    "--method org.freedesktop.login1.Manager.ListInhibitors";
constexpr const char* kNone = "(@a(ssssuu) [],)\n";

TEST(DesktopSession, WatchingKeepsTheComputerAwakeAndOffLetsItSleep) {
    if (!Installed("dbus-daemon") || !Installed("gdbus")) GTEST_SKIP() << "needs dbus-daemon and gdbus";
    PrivateBus system;
    ASSERT_FALSE(system.Address().empty());
    system.StartMock({"--template", "logind"}, true);
    ASSERT_TRUE(WaitFor([&] { return system.Call(kListInhibitors) == kNone; }, 20000)) << "no mock logind";
    // Qt opens the system bus at its first use, after this.
    setenv("DBUS_SYSTEM_BUS_ADDRESS", system.Address().c_str(), 1);

    TestProgramFolder folder;
    folder.WriteSettings({{"WWWPortListener", "64996"}, {"ModeActivation", "0"}});
    MainWindow window;
    window.StopTimerForTest();
    const std::string taken = "([('sleep:idle', 'Vistrel', 'Watching the camera', 'block', uint32 1000, uint32 123456)],)\n";
    const struct {
        int mode;
        const char* inhibitors;
    } steps[] = {{2, taken.c_str()}, {0, kNone}, {1, taken.c_str()}, {3, taken.c_str()}, {0, kNone}};
    for (const auto& step : steps) {
        window.Menu()->Command(menu_id::kModeFirst + step.mode);
        window.TickForTest();
        const bool held = std::string(step.inhibitors) != kNone;
        EXPECT_TRUE(WaitFor([&] {
            return system.Call(kListInhibitors) == step.inhibitors && window.Desktop()->Session().Inhibitor().Held() == held;
        }, 5000)) << "mode " << step.mode << ": " << system.Call(kListInhibitors);
    }
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

}  // namespace
