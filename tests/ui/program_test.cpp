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
        {"VideoRotate", "0"},       {"VideoDateTime", "1"},      {"JpegQuality", "50"},     {"WWWPortListener", "80"},
        {"WWWStartAfterLaunch", "0"}, {"ModeActivation", "0"}};
    for (const auto& [key, value] : defaults) {
        ASSERT_TRUE(saved.count(key)) << key << " not saved";
        EXPECT_EQ(saved.at(key), value) << key;
    }
    for (const auto& [key, value] : saved) EXPECT_NE(key[0], '_') << key << " is a run-time key";
    EXPECT_EQ(saved.at("MoveFilesPath"), (run.Folder() / "move").string() + "/");
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
