// The built program as a process: one instance, its first start, its end on
// SIGTERM, and the hot key on a real X server.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "e2e/program_run.h"

namespace fs = std::filesystem;

namespace {

TEST(Program, OneInstanceAFirstStartAndAQuietEndOnTerm) {
    ProgramRun run;
    ASSERT_FALSE(fs::exists(run.Folder() / "vistrel.ini"));
    ASSERT_TRUE(run.Start());
    EXPECT_TRUE(WaitUntil([&] { return fs::is_directory(run.Folder() / "move") && fs::is_directory(run.Folder() / "shot"); },
                          20000))
        << "the storage folders are made at start";
    ASSERT_TRUE(run.Running());

    // A second start of the same program ends at once with 0 and leaves the first alone.
    const auto before = std::chrono::steady_clock::now();
    const std::string second = Shell("cd '" + run.Folder().string() + "' && QT_QPA_PLATFORM=offscreen HOME='" +
                                     (run.Folder() / "home").string() + "' XDG_RUNTIME_DIR='" +
                                     (run.Folder() / "run").string() + "' timeout 20 ./vistrel >/dev/null 2>&1; echo $?");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
    EXPECT_EQ(second, "0\n");
    EXPECT_LT(seconds, 5.0);
    EXPECT_TRUE(run.Running());

    EXPECT_EQ(run.Stop(SIGTERM), 0);
    const auto saved = run.ReadSettings();
    const std::map<std::string, std::string> defaults = {
        {"ModeView", "1"},          {"ShotFilesType", "0"},      {"ShotCounterFiles", "0"}, {"HotKey", "458826"},
        {"HideStart", "0"},         {"VideoDeviceId", "Default"}, {"VideoResolution", "0"}, {"VideoReflect", "0"},
        {"VideoRotate", "0"},       {"VideoDateTime", "1"},      {"JpegQuality", "50"},     {"WWWPortListener", "8080"},
        {"WWWStartAfterLaunch", "0"}, {"ModeActivation", "0"}};
    for (const auto& [key, value] : defaults) {
        ASSERT_TRUE(saved.count(key)) << key << " not saved";
        EXPECT_EQ(saved.at(key), value) << key;
    }
    for (const auto& [key, value] : saved) EXPECT_NE(key[0], '_') << key << " is a run-time key";
    EXPECT_EQ(saved.at("MoveFilesPath"), (run.Folder() / "move").string() + "/");
}

TEST(Program, TwoUsersWithoutARuntimeFolderEachRunOneCopy) {
    if (geteuid() != 0 || !Installed("setpriv")) GTEST_SKIP() << "needs root and setpriv to start as nobody";
    // The fixed name an older build left behind in /tmp, readable by its user alone.
    const std::string old = "/tmp/VistrelKarvexCom.lock";
    const bool hadOld = fs::exists(old);
    if (!hadOld) Shell("touch " + old + " && chmod 600 " + old);
    ProgramRun root;
    root.SetEnv("XDG_RUNTIME_DIR", "");
    root.WriteSettings({{"WWWPortListener", std::to_string(FreePort())}});
    ASSERT_TRUE(root.Start());
    ASSERT_TRUE(WaitUntil([&] { return fs::is_directory(root.Folder() / "shot"); }, 20000));

    // The same program as nobody, in a folder of its own: it runs until timeout ends it (124).
    ProgramRun other;
    other.WriteSettings({{"WWWPortListener", std::to_string(FreePort())}});
    const std::string folder = other.Folder().string();
    Shell("chown -R nobody '" + folder + "'");
    const std::string nobody = Shell("cd '" + folder +
                                     "' && setpriv --reuid=nobody --regid=nogroup --clear-groups env -u "
                                     "XDG_RUNTIME_DIR QT_QPA_PLATFORM=offscreen HOME='" + folder +
                                     "/home' timeout 6 ./vistrel 2>'" + folder + "/err'; echo $?");
    EXPECT_EQ(nobody, "124\n") << Shell("cat '" + folder + "/err'");
    EXPECT_TRUE(fs::is_directory(other.Folder() / "shot")) << "nobody's copy never started";
    EXPECT_TRUE(root.Running());
    EXPECT_EQ(root.Stop(SIGTERM), 0);
    if (!hadOld) fs::remove(old);
}

TEST(Program, ALockThatCannotBeTakenSaysSoAndTheProgramRuns) {
    ProgramRun run;
    const std::string folder = run.Folder().string();
    run.WriteSettings({{"WWWPortListener", std::to_string(FreePort())}});
    // A runtime folder that is gone: no other copy holds the lock, so this one runs (until timeout ends it).
    const std::string out = Shell("cd '" + folder + "' && QT_QPA_PLATFORM=offscreen HOME='" + folder +
                                  "/home' XDG_RUNTIME_DIR='" + folder + "/gone' timeout 4 ./vistrel 2>err >/dev/null; echo $?; grep '^vistrel:' err");
    EXPECT_EQ(out, "124\nvistrel: running without the single-instance lock: cannot open " + folder +
                       "/gone/VistrelKarvexCom.lock: No such file or directory\n");
}

TEST(Program, WithoutADisplayOneLineSaysWhyAndTheExitCodeIsOne) {
    ProgramRun run;
    const std::string folder = run.Folder().string();
    const std::string out = Shell("cd '" + folder + "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME='" +
                                  folder + "/home' XDG_RUNTIME_DIR='" + folder +
                                  "/run' timeout 20 ./vistrel 2>&1 >/dev/null; echo $?");
    EXPECT_EQ(out, "vistrel: needs a graphical session, but neither DISPLAY nor WAYLAND_DISPLAY is set\n1\n");
}

TEST(Program, TheHotKeyHidesAndShowsTheWindowOnX11) {
    if (!Installed("Xvfb") || !Installed("xdotool")) GTEST_SKIP() << "needs Xvfb and xdotool";
    Xvfb x;
    ASSERT_FALSE(x.Display().empty()) << "no X server started";
    ProgramRun run;
    run.WriteSettings({{"VideoDeviceId", "TestPattern"}, {"VideoResolution", "2"}, {"WWWPortListener", std::to_string(FreePort())}});
    run.SetEnv("QT_QPA_PLATFORM", "xcb");
    run.SetEnv("DISPLAY", x.Display());
    ASSERT_TRUE(run.Start());
    auto visible = [&] { return !x.Run("xdotool search --onlyvisible --class vistrel 2>/dev/null").empty(); };
    ASSERT_TRUE(WaitUntil(visible, 30000)) << "the window never showed";
    // The camera connects within the first tick; give the grab time to be in place too.
    ASSERT_TRUE(WaitUntil([&] { return x.Run("xdotool search --onlyvisible --name 'Test pattern' 2>/dev/null") != ""; },
                          20000));

    x.Run("xdotool key ctrl+alt+shift+j");
    EXPECT_TRUE(WaitUntil([&] { return !visible(); }, 10000)) << "the hot key did not hide the window";
    EXPECT_TRUE(run.Running());
    x.Run("xdotool key ctrl+alt+shift+j");
    EXPECT_TRUE(WaitUntil(visible, 10000)) << "the hot key did not show the window again";
    // Another combination does nothing.
    x.Run("xdotool key ctrl+alt+j");
    usleep(500000);
    EXPECT_TRUE(visible());
    EXPECT_EQ(run.Stop(SIGTERM), 0);
}

}  // namespace
