// The built program in desktop sessions: a second start and --toggle reach
// the running copy.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <initializer_list>
#include <string>

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
