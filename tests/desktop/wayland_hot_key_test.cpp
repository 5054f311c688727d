// The window on a Wayland desktop whose portal refuses the global hot key, in
// process: the menu and the hot key dialog say that no global hot key works
// here instead of naming a key that does nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QLabel>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "desktop/private_bus.h"
#include "desktop/weston.h"
#include "ui/hot_key.h"
#include "ui/main_menu.h"
#include "ui/main_window.h"
#include "ui/ui_test_support.h"

namespace {

bool sessionReady = false;

TEST(WaylandHotKey, ARefusedKeyIsSaidInTheMenuAndTheHotKeyDialog) {
    if (!sessionReady) GTEST_SKIP() << "needs weston, dbus-daemon and python3-dbusmock";
    TestProgramFolder folder;
    folder.WriteSettings({{"WWWPortListener", "64994"}, {"ModeActivation", "0"}});
    MainWindow window;
    window.StopTimerForTest();
    const QString none = QStringLiteral("no global hot key on this desktop");
    // Until the portal answers, the menu names the stored key; its refusal replaces it.
    ASSERT_TRUE(WaitFor([&] { return window.Menu()->Action(menu_id::kHotKey)->text().endsWith(none); }, 20000))
        << window.Menu()->Action(menu_id::kHotKey)->text().toStdString();
    EXPECT_EQ(window.Menu()->Action(menu_id::kHotKey)->text(), QStringLiteral("Show/Hide. HotKey:  ") + none);
    EXPECT_FALSE(window.HotKeys()->Registered());
    QString memo;
    WhenDialogOpens([&](QDialog& dialog) {
        memo = Control<QLabel>(dialog, "id103")->text();
        dialog.done(0);
    });
    window.Menu()->Command(menu_id::kHotKey);
    EXPECT_TRUE(memo.endsWith(QStringLiteral("\n") + none)) << memo.toStdString();
}

}  // namespace

// A compositor and a session bus with a portal that refuses every bind, set
// up before Qt connects to either.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::unique_ptr<Weston> weston;
    std::unique_ptr<PrivateBus> bus;
    char pattern[] = "/tmp/vistrel-wayland-XXXXXX";
    const bool listing = ::testing::GTEST_FLAG(list_tests);
    const char* runtime = listing ? nullptr : mkdtemp(pattern);
    if (runtime && Installed("weston") && Installed("dbus-daemon") && Shell("/usr/bin/python3 -c 'import dbusmock' 2>&1").empty()) {
        chmod(runtime, 0700);
        weston = std::make_unique<Weston>(runtime);
        bus = std::make_unique<PrivateBus>();
        const std::string log = std::string(runtime) + "/portal.log";
        bus->StartMock({"--template", VISTREL_SOURCE_DIR "/tests/desktop/global_shortcuts_portal.py", "-l", log,
                        "--parameters", "{\"refuse\": true}"},
                       false);
        sessionReady = weston->Running() && !bus->Address().empty() &&
                       WaitUntil([&] { return std::filesystem::exists(log); }, 20000);
        setenv("QT_QPA_PLATFORM", "wayland", 1);
        setenv("WAYLAND_DISPLAY", "wl-test", 1);
        setenv("XDG_RUNTIME_DIR", runtime, 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", bus->Address().c_str(), 1);
    }
    if (!sessionReady) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int result = 0;
    {
        QApplication app(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        result = RUN_ALL_TESTS();
    }
    bus.reset();
    weston.reset();
    if (runtime) std::filesystem::remove_all(runtime);
    return result;
}
