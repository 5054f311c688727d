#include "core/session_autostart.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "core/command_line.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A private HOME and XDG_CONFIG_HOME per test; the old values come back afterwards.
class SessionAutostartTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vistrel-autostart-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        for (const char* name : {"HOME", "XDG_CONFIG_HOME"}) {
            const char* value = std::getenv(name);
            saved_.emplace_back(name, value ? value : "");
        }
        setenv("HOME", (folder_ / "home").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (folder_ / "config").c_str(), 1);
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            if (value.empty()) {
                unsetenv(name.c_str());
            } else {
                setenv(name.c_str(), value.c_str(), 1);
            }
        }
        fs::remove_all(folder_);
    }
    fs::path Entry() const { return folder_ / "config" / "autostart" / "vistrel.desktop"; }

    fs::path folder_;
    std::vector<std::pair<std::string, std::string>> saved_;
};

TEST_F(SessionAutostartTest, EntryPathFollowsXdgConfigHomeThenHome) {
    EXPECT_EQ(SessionAutostart::EntryPath(), Entry().string());
    setenv("XDG_CONFIG_HOME", "relative/config", 1);  // Only absolute paths count.
    EXPECT_EQ(SessionAutostart::EntryPath(), (folder_ / "home" / ".config" / "autostart" / "vistrel.desktop").string());
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("HOME");
    EXPECT_EQ(SessionAutostart::EntryPath(), "");
    EXPECT_FALSE(SessionAutostart::Enabled());
    std::string error;
    EXPECT_FALSE(SessionAutostart::Enable("/usr/bin/vistrel", error));
    EXPECT_FALSE(error.empty());
}

TEST_F(SessionAutostartTest, EnableWritesAWholeEntryAndDisableRemovesIt) {
    std::string error;
    EXPECT_FALSE(SessionAutostart::Enabled());
    EXPECT_TRUE(SessionAutostart::Disable(error)) << "an absent entry is no failure";
    ASSERT_TRUE(SessionAutostart::Enable("/usr/lib/vistrel/vistrel", error)) << error;
    EXPECT_TRUE(SessionAutostart::Enabled());
    EXPECT_EQ(ReadFile(Entry()),
              "[Desktop Entry]\nType=Application\nName=Vistrel\nComment=Watch a room or a door with one camera\n"
              "TryExec=/usr/lib/vistrel/vistrel\nExec=/usr/lib/vistrel/vistrel\nIcon=vistrel\nTerminal=false\n"
              "X-GNOME-Autostart-enabled=true\n");
    EXPECT_FALSE(fs::exists(Entry().string() + ".part"));
    // No temporary file is left beside the entry.
    EXPECT_EQ(std::distance(fs::directory_iterator(Entry().parent_path()), fs::directory_iterator()), 1);
    EXPECT_TRUE(SessionAutostart::Disable(error));
    EXPECT_FALSE(fs::exists(Entry()));
    EXPECT_FALSE(SessionAutostart::Enabled());

    // The desktop's own settings may switch an entry off by hiding it.
    fs::create_directories(Entry().parent_path());
    std::ofstream(Entry()) << "[Desktop Entry]\nType=Application\nExec=vistrel\nHidden=true\n";
    EXPECT_FALSE(SessionAutostart::Enabled());

    // A folder in the entry's place cannot be removed: said, not hidden.
    fs::remove(Entry());
    fs::create_directories(Entry() / "inside");
    EXPECT_FALSE(SessionAutostart::Disable(error));
    EXPECT_NE(error.find("cannot remove " + Entry().string()), std::string::npos) << error;
}

// Paths with blanks, quotes, dollars, backslashes and percents survive both
// escaping layers, and desktop-file-validate accepts the entry.
TEST_F(SessionAutostartTest, ExecValueQuotesAndEscapesAsDesktopEntriesAsk) {
    EXPECT_EQ(SessionAutostart::ExecValue("/usr/lib/vistrel/vistrel"), "/usr/lib/vistrel/vistrel");
    EXPECT_EQ(SessionAutostart::ExecValue("/home/me/my apps/vistrel"), "\"/home/me/my apps/vistrel\"");
    EXPECT_EQ(SessionAutostart::ExecValue("/a/b$c\"d\\e%f"), "\"/a/b\\\\$c\\\\\"d\\\\\\\\e%%f\"");
    EXPECT_EQ(SessionAutostart::ExecValue("/a/100%/vistrel"), "/a/100%%/vistrel");

    std::string error;
    const std::string odd = (folder_ / "my apps $HOME \"x\" 100%" / "vistrel").string();
    ASSERT_TRUE(SessionAutostart::Enable(odd, error)) << error;
    if (std::system("command -v desktop-file-validate >/dev/null") != 0) GTEST_SKIP() << "no desktop-file-validate";
    const std::string command = "desktop-file-validate '" + Entry().string() + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
    EXPECT_EQ(pclose(pipe), 0) << output;
    EXPECT_EQ(output, "");
}

TEST(CommandLine, SessionRestoreStartsAndAnythingElseIsRefused) {
    char text[4096];
    auto run = [&text](std::initializer_list<const char*> arguments) {
        std::vector<const char*> argv(arguments);
        FILE* out = fmemopen(text, sizeof text, "w");
        const int code = HandleCommandLine(static_cast<int>(argv.size()), argv.data(), out, out);
        std::fclose(out);
        return code;
    };
    EXPECT_EQ(run({"vistrel"}), -1);
    EXPECT_EQ(run({"vistrel", "-session", "10abc_123"}), -1);
    EXPECT_EQ(run({"vistrel", "-session"}), 2);
    EXPECT_EQ(run({"vistrel", "--version", "--help"}), 2);
    EXPECT_EQ(std::string(text).rfind("vistrel: unknown argument: --version\nUsage: vistrel", 0), 0u) << text;
}

}  // namespace
