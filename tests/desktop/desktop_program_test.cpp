// The built program in desktop sessions: a second start and --toggle reach
// the running copy; the tray icon on a private session bus.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <initializer_list>
#include <string>
#include <vector>

#include "desktop/private_bus.h"
#include "desktop/weston.h"
#include "e2e/program_run.h"

namespace fs = std::filesystem;

namespace {

// Runs the program's copy in run's folder with its environment and the given arguments.
std::string Again(ProgramRun& run, const std::string& env, const std::string& arguments) {
    const std::string folder = run.Folder().string();
    return Shell("cd '" + folder + "' && HOME='" + folder + "/home' XDG_RUNTIME_DIR='" + folder + "/run' " + env +
                 " timeout 20 ./vistrel " + arguments + " 2>&1; echo \"exit $?\"");
}

TEST(DesktopProgram, ASecondStartAndToggleReachTheRunningCopyOnX11) {
    if (!Installed("Xvfb") || !Installed("xdotool")) GTEST_SKIP() << "needs Xvfb and xdotool";
    Xvfb x;
    ASSERT_FALSE(x.Display().empty()) << "no X server started";
    ProgramRun run;
    run.WriteSettings({{"WWWPortListener", std::to_string(FreePort())}});
    const std::string env = "QT_QPA_PLATFORM=xcb DISPLAY=" + x.Display();
    EXPECT_EQ(Again(run, env, "--toggle"),
              "vistrel: no running copy of Vistrel to show or hide\nexit 1\n");
    EXPECT_EQ(Again(run, env, "--show"), "vistrel: no running copy of Vistrel to show\nexit 1\n");

    run.SetEnv("QT_QPA_PLATFORM", "xcb");
    run.SetEnv("DISPLAY", x.Display());
    ASSERT_TRUE(run.Start());
    auto visible = [&] { return !x.Run("xdotool search --onlyvisible --class vistrel 2>/dev/null").empty(); };
    ASSERT_TRUE(WaitUntil(visible, 30000)) << "the window never showed";
    const fs::path socket = run.Folder() / "run" / "VistrelKarvexCom.sock";
    struct stat st {};
    ASSERT_EQ(stat(socket.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    EXPECT_EQ(Again(run, env, "--toggle"), "exit 0\n");
    EXPECT_TRUE(WaitUntil([&] { return !visible(); }, 10000)) << "--toggle did not hide the window";
    // A second start raises the hidden window, says nothing and ends with 0.
    EXPECT_EQ(Again(run, env, ""), "exit 0\n");
    EXPECT_TRUE(WaitUntil(visible, 10000)) << "a second start did not show the window";
    EXPECT_EQ(Again(run, env, "--show"), "exit 0\n");
    EXPECT_TRUE(visible()) << "--show leaves a shown window shown";

    // Words the program does not know, or too long, get no answer and change nothing.
    const std::string python = "python3 -c \"import socket,sys; s=socket.socket(socket.AF_UNIX); s.connect(sys.argv[1]); "
                               "s.sendall(sys.argv[2].encode()); print(repr(s.recv(16)))\" '" + socket.string() + "' ";
    for (const std::string& word : std::initializer_list<std::string>{"quit\n", "toggle", "show toggle\n", std::string(200, 't') + "\n"})
        EXPECT_EQ(Shell(python + "'" + word + "' 2>&1 | grep -c ok"), "0\n") << word;
    EXPECT_TRUE(visible());
    EXPECT_TRUE(run.Running());
    EXPECT_EQ(run.Stop(SIGTERM), 0);
    EXPECT_FALSE(fs::exists(socket)) << "the socket goes with the program";
}

}  // namespace

namespace {

// The program on an X server and a private session bus of its own.
class DesktopRun {
public:
    DesktopRun(const std::map<std::string, std::string>& settings) {
        if (x_.Display().empty() || bus_.Address().empty()) return;
        auto all = settings;
        all["WWWPortListener"] = std::to_string(FreePort());
        run_.WriteSettings(all);
        run_.SetEnv("QT_QPA_PLATFORM", "xcb");
        run_.SetEnv("DISPLAY", x_.Display());
        run_.SetEnv("DBUS_SESSION_BUS_ADDRESS", bus_.Address());
        started_ = run_.Start();
    }
    bool Started() const { return started_; }
    bool Visible() const { return !x_.Run("xdotool search --onlyvisible --class vistrel 2>/dev/null").empty(); }
    // gdbus call to the program's item (or menu) object.
    std::string Item(const std::string& path, const std::string& method) const {
        return bus_.Call("--dest '" + item_ + "' --object-path " + path + " --method " + method);
    }
    std::string ItemProperty(const char* name) const {
        return Item("/StatusNotifierItem", std::string("org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem ") + name);
    }

    Xvfb x_;
    PrivateBus bus_;
    ProgramRun run_;
    std::string item_;

private:
    bool started_ = false;
};

TEST(DesktopProgram, TheTrayIconComesWithALateHostFollowsTheStateAndRunsTheMenu) {
    if (!Installed("Xvfb") || !Installed("xdotool") || !Installed("gdbus")) GTEST_SKIP() << "needs Xvfb, xdotool, gdbus";
    // Recordings go to a small disk of their own where this may mount one, so that space can run short.
    char diskName[] = "/tmp/vistrel-tray-disk-XXXXXX";
    const fs::path disk = mkdtemp(diskName);
    const bool mounted = mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=110m") == 0;
    struct Unmount {
        fs::path path;
        bool mounted;
        ~Unmount() {
            if (mounted) umount2(path.c_str(), MNT_DETACH);
            fs::remove_all(path);
        }
    } unmount{disk, mounted};
    DesktopRun desktop({{"VideoDeviceId", "TestPattern"}, {"VideoResolution", "2"}, {"ModeActivation", "0"},
                        {"MoveFilesPath", disk.string() + "/"}});
    ASSERT_TRUE(desktop.Started());
    ASSERT_TRUE(WaitUntil([&] { return desktop.Visible(); }, 30000)) << "the window never showed";
    // The tray host comes five seconds after the program.
    usleep(5000000);
    desktop.bus_.StartMock({"--template", VISTREL_SOURCE_DIR "/tests/desktop/status_notifier_watcher.py"}, false);
    const std::string calls = "--dest org.kde.StatusNotifierWatcher --object-path /StatusNotifierWatcher "
                              "--method org.freedesktop.DBus.Mock.GetCalls";
    ASSERT_TRUE(WaitUntil([&] { return !desktop.bus_.Call(calls).empty(); }, 20000)) << "no tray host";
    const auto hostUp = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitUntil([&] { return desktop.bus_.Call(calls).find("RegisterStatusNotifierItem") != std::string::npos; },
                          3000));
    const auto registeredMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - hostUp).count();
    EXPECT_LT(registeredMs, 1500) << "the item came " << registeredMs << " ms after the host";
    std::printf("tray item registered %lld ms after the host\n", static_cast<long long>(registeredMs));
    const std::string call = desktop.bus_.Call(calls);
    const auto quote = call.find("<'") + 2;
    desktop.item_ = call.substr(quote, call.find('\'', quote) - quote);

    // Off: the tool tip is the status line.
    EXPECT_TRUE(WaitUntil([&] { return desktop.ItemProperty("ToolTip").find("Not recording: recording is off") != std::string::npos; },
                          1000)) << desktop.ItemProperty("ToolTip");
    const std::string offIcon = desktop.ItemProperty("IconPixmap");
    const std::string layout = desktop.Item("/MenuBar", "com.canonical.dbusmenu.GetLayout 0 -- -1 '[]'");
    for (const char* label : {"'Hide the window'", "'Record now'", "'Motion detector on'", "'Take a photo'",
                              "'Open the live page'", "'Exit'"})
        EXPECT_NE(layout.find(label), std::string::npos) << label << " missing from " << layout;
    auto click = [&](const char* label) {
        const std::string now = desktop.Item("/MenuBar", "com.canonical.dbusmenu.GetLayout 0 -- -1 '[]'");
        const auto at = now.find(std::string("'label': <'") + label + "'>");
        ASSERT_NE(at, std::string::npos) << label << " not in " << now;
        const auto open = now.rfind("<(", at) + 2;
        const std::string id = now.substr(open, now.find(',', open) - open);
        desktop.Item("/MenuBar", "com.canonical.dbusmenu.Event " + id + " clicked '<0>' 0");
    };

    // Record now: recording, with the recording icon; stop goes back to the mode before.
    click("Record now");
    EXPECT_TRUE(WaitUntil([&] { return desktop.ItemProperty("ToolTip").find("'Recording ") != std::string::npos; }, 1000))
        << desktop.ItemProperty("ToolTip");
    EXPECT_TRUE(WaitUntil([&] { return desktop.ItemProperty("IconPixmap") != offIcon; }, 1000));
    EXPECT_EQ(desktop.run_.ReadSettings()["ModeActivation"], "1");
    if (mounted) {
        // Space running short is a steady warning, neither the off nor a recording icon, with its cause.
        std::set<std::string> recordingIcons;
        for (int i = 0; i < 6; ++i, usleep(250000)) recordingIcons.insert(desktop.ItemProperty("IconPixmap"));
        Shell("dd if=/dev/zero of='" + (disk / "filler").string() + "' bs=1M count=20 2>/dev/null");
        EXPECT_TRUE(WaitUntil([&] { return desktop.ItemProperty("ToolTip").find("less than 100 MiB free") != std::string::npos; },
                              3000)) << desktop.ItemProperty("ToolTip");
        usleep(500000);
        const std::string warning = desktop.ItemProperty("IconPixmap");
        EXPECT_NE(warning, offIcon);
        EXPECT_EQ(recordingIcons.count(warning), 0u) << "the warning looks like recording";
        fs::remove(disk / "filler");
        EXPECT_TRUE(WaitUntil([&] { return desktop.ItemProperty("ToolTip").find("'Recording ") != std::string::npos; }, 3000))
            << desktop.ItemProperty("ToolTip");
    }
    click("Stop recording");
    EXPECT_TRUE(WaitUntil([&] { return desktop.run_.ReadSettings()["ModeActivation"] == "0"; }, 2000));

    // A click on the icon hides the window and shows it again.
    desktop.Item("/StatusNotifierItem", "org.kde.StatusNotifierItem.Activate 0 0");
    EXPECT_TRUE(WaitUntil([&] { return !desktop.Visible(); }, 2000)) << "the click did not hide the window";
    desktop.Item("/StatusNotifierItem", "org.kde.StatusNotifierItem.Activate 0 0");
    EXPECT_TRUE(WaitUntil([&] { return desktop.Visible(); }, 2000)) << "the click did not show the window";
    EXPECT_EQ(desktop.run_.Stop(SIGTERM), 0);
}

}  // namespace

namespace {

TEST(DesktopProgram, HideAtStartHidesOnlyWhereAKeyOrTheTrayBringsTheWindowBack) {
    if (!Installed("Xvfb") || !Installed("xdotool") || !Installed("gdbus")) GTEST_SKIP() << "needs Xvfb, xdotool, gdbus";
    const struct {
        const char* hotKey;
        const char* trayIcon;
        bool hidden;
    } cases[] = {{"0", "0", false}, {"458826", "0", true}, {"0", "1", true}};
    for (const auto& c : cases) {
        Xvfb x;
        PrivateBus bus;
        ASSERT_FALSE(x.Display().empty() || bus.Address().empty());
        bus.StartMock({"--template", VISTREL_SOURCE_DIR "/tests/desktop/status_notifier_watcher.py"}, false);
        ASSERT_TRUE(WaitUntil([&] { return !bus.Call("--dest org.kde.StatusNotifierWatcher --object-path "
                                                     "/StatusNotifierWatcher --method org.freedesktop.DBus.Mock.GetCalls")
                                                .empty(); }, 20000));
        ProgramRun run;
        run.WriteSettings({{"WWWPortListener", std::to_string(FreePort())}, {"HideStart", "1"}, {"HotKey", c.hotKey},
                           {"TrayIcon", c.trayIcon}});
        const std::string folder = run.Folder().string();
        const std::string pid = Shell("cd '" + folder + "' && QT_QPA_PLATFORM=xcb DISPLAY=" + x.Display() + " DBUS_SESSION_BUS_ADDRESS='" +
              bus.Address() + "' HOME='" + folder + "/home' XDG_RUNTIME_DIR='" + folder +
              "/run' timeout 30 ./vistrel 2>err >/dev/null & echo $!");
        auto mapped = [&] { return !x.Run("xdotool search --onlyvisible --class vistrel 2>/dev/null").empty(); };
        // The window is shown first and hidden right after its first paint, or kept.
        ASSERT_TRUE(WaitUntil([&] { return fs::exists(run.Folder() / "run" / "VistrelKarvexCom.sock"); }, 30000));
        usleep(3000000);
        EXPECT_EQ(!mapped(), c.hidden) << "hot key " << c.hotKey << ", tray " << c.trayIcon;
        const std::string said = Shell("grep -c 'desktop: Nothing on this desktop could show a hidden window again, "
                                       "so it was minimised' '" + folder + "/err'");
        EXPECT_EQ(said, c.hidden ? "0\n" : "1\n") << Shell("cat '" + folder + "/err'");
        // Whichever way, --toggle reaches it.
        EXPECT_EQ(Again(run, "QT_QPA_PLATFORM=xcb DISPLAY=" + x.Display(), "--toggle"), "exit 0\n");
        if (c.hidden) {
            EXPECT_TRUE(WaitUntil(mapped, 5000));
        }
        // timeout hands the signal on to the program.
        kill(std::stoi(pid), SIGTERM);
        ASSERT_TRUE(WaitUntil([&] { return !fs::exists(run.Folder() / "run" / "VistrelKarvexCom.sock"); }, 20000));
    }
}

}  // namespace

namespace {

TEST(DesktopProgram, OnWaylandTheKeyIsAskedForOnceAndTheKeyTrayAndToggleWork) {
    if (!Installed("weston") || !Installed("gdbus")) GTEST_SKIP() << "needs weston and gdbus";
    for (const bool refuse : {false, true}) {
        PrivateBus bus;
        ASSERT_FALSE(bus.Address().empty());
        ProgramRun run;
        fs::create_directories(run.Folder() / "run");
        fs::permissions(run.Folder() / "run", fs::perms::owner_all);
        Weston weston(run.Folder() / "run");
        ASSERT_TRUE(weston.Running()) << "no compositor";
        const std::string log = (run.Folder() / "portal.log").string();
        std::vector<std::string> portal = {"--template", VISTREL_SOURCE_DIR "/tests/desktop/global_shortcuts_portal.py",
                                           "-l", log};
        if (refuse) portal.insert(portal.end(), {"--parameters", "{\"refuse\": true}"});
        bus.StartMock(portal, false);
        bus.StartMock({"--template", VISTREL_SOURCE_DIR "/tests/desktop/status_notifier_watcher.py"}, false);
        run.WriteSettings({{"WWWPortListener", std::to_string(FreePort())}, {"VideoDeviceId", "TestPattern"},
                           {"ShotFilesPath", (run.Folder() / "shot").string() + "/"}});
        run.SetEnv("QT_QPA_PLATFORM", "wayland");
        run.SetEnv("WAYLAND_DISPLAY", "wl-test");
        run.SetEnv("DBUS_SESSION_BUS_ADDRESS", bus.Address());
        ASSERT_TRUE(WaitUntil([&] { return fs::exists(log); }, 20000));
        auto binds = [&] { return Shell("grep -c '^[0-9.]* BindShortcuts show-hide' '" + log + "'"); };
        for (int start = 0; start < 2; ++start) {
            ASSERT_TRUE(run.Start());
            if (refuse) {
                EXPECT_TRUE(WaitUntil([&] { return binds() == "1\n"; }, 30000));
                usleep(500000);
                EXPECT_TRUE(run.Running()) << "a refused key ends nothing";
                EXPECT_EQ(run.Stop(SIGTERM), 0);
                break;
            }
            // Bound at the first start only; the second finds it listed.
            EXPECT_TRUE(WaitUntil([&] { return Shell("grep -c ' ListShortcuts ' '" + log + "'") == std::to_string(start + 1) + "\n"; },
                                  30000));
            usleep(500000);
            EXPECT_EQ(binds(), "1\n") << "start " << start;
            EXPECT_TRUE(run.Running());
            if (start == 0) {
                // The key the portal reports pressed hides the window and shows it again; the
                // tray menu's first entry tells which.
                const std::string session =
                    Shell("sed -n 's/.* BindShortcuts show-hide session //p' '" + log + "' | tr -d '\\n'");
                const std::string watcher = bus.Call("--dest org.kde.StatusNotifierWatcher --object-path "
                                                     "/StatusNotifierWatcher --method org.freedesktop.DBus.Mock.GetCalls");
                const auto quote = watcher.find("<'") + 2;
                ASSERT_NE(quote, std::string::npos + 2) << "no tray item: " << watcher;
                const std::string item = watcher.substr(quote, watcher.find('\'', quote) - quote);
                auto menuSays = [&](const char* label) {
                    return bus.Call("--dest '" + item + "' --object-path /MenuBar --method "
                                    "com.canonical.dbusmenu.GetLayout 0 -- -1 '[]'").find(label) != std::string::npos;
                };
                const std::string press = "--dest org.freedesktop.portal.Desktop --object-path "
                                          "/org/freedesktop/portal/desktop --method org.freedesktop.DBus.Mock.EmitSignal "
                                          "org.freedesktop.portal.GlobalShortcuts Activated 'osta{sv}' "
                                          "\"[<objectpath '" + session + "'>, <'show-hide'>, <uint64 0>, <@a{sv} {}>]\"";
                EXPECT_TRUE(WaitUntil([&] { return menuSays("'Hide the window'"); }, 5000));
                bus.Call(press);
                EXPECT_TRUE(WaitUntil([&] { return menuSays("'Show the window'"); }, 3000)) << "the key did not hide";
                bus.Call(press);
                EXPECT_TRUE(WaitUntil([&] { return menuSays("'Hide the window'"); }, 3000)) << "the key did not show";
                // A photo from the menu, and --toggle from a shortcut of the desktop's own.
                const std::string layout = bus.Call("--dest '" + item + "' --object-path /MenuBar --method "
                                                    "com.canonical.dbusmenu.GetLayout 0 -- -1 '[]'");
                const auto label = layout.find("'label': <'Take a photo'>");
                ASSERT_NE(label, std::string::npos) << layout;
                const auto open = layout.rfind("<(", label) + 2;
                bus.Call("--dest '" + item + "' --object-path /MenuBar --method com.canonical.dbusmenu.Event " +
                         layout.substr(open, layout.find(',', open) - open) + " clicked '<0>' 0");
                EXPECT_TRUE(WaitUntil([&] { return !FilesWithExtension(run.Folder() / "shot", ".bmp").empty(); }, 5000))
                    << "no photo";
                const std::string env = "QT_QPA_PLATFORM=wayland WAYLAND_DISPLAY=wl-test DBUS_SESSION_BUS_ADDRESS='" +
                                        bus.Address() + "'";
                EXPECT_EQ(Again(run, env, "--toggle"), "exit 0\n");
                EXPECT_TRUE(WaitUntil([&] { return menuSays("'Show the window'"); }, 3000)) << "--toggle did not hide";
                EXPECT_EQ(Again(run, env, "--toggle"), "exit 0\n");
                EXPECT_TRUE(WaitUntil([&] { return menuSays("'Hide the window'"); }, 3000)) << "--toggle did not show";
            }
            EXPECT_EQ(run.Stop(SIGTERM), 0);
        }
    }
}

}  // namespace
