#include "core/settings_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "core/program_paths.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A fresh program folder holding a pretend program "rec".
class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vistrel-settings-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        SetProgramFileForTest((folder_ / "rec").string());
        saved_cwd_ = fs::current_path();
    }
    void TearDown() override {
        fs::current_path(saved_cwd_);
        SetProgramFileForTest("");
        fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(folder_);
    }
    fs::path Ini() const { return folder_ / "rec.ini"; }

    fs::path folder_;
    fs::path saved_cwd_;
};

TEST(ProgramPaths, FolderNameAndTrailingSlash) {
    SetProgramFileForTest("/opt/A/B/rec");
    EXPECT_EQ(GetProgramFolder(), "/opt/A/B/");
    EXPECT_EQ(GetProgramName(), "rec");
    SetProgramFileForTest("rec");
    EXPECT_EQ(GetProgramFolder(), "");
    SetProgramFileForTest("");
    EXPECT_EQ(GetProgramName(), "core_tests");

    std::string text = "/home/video";
    AddTrailingBackslash(text);
    EXPECT_EQ(text, "/home/video/");
    AddTrailingBackslash(text);
    EXPECT_EQ(text, "/home/video/");
    text = "C:\\video\\";
    AddTrailingBackslash(text);
    EXPECT_EQ(text, "C:\\video\\");
    text.clear();
    AddTrailingBackslash(text);
    EXPECT_EQ(text, "");
}

TEST_F(SettingsFileTest, LoadsKeysValuesAndSkipsKeyOnlyLines) {
    WriteFile(Ini(), "GoDetector 35\nLanguage English\r\nGoDetector\n\n   \nTitle Front door cam\n"
                     "Pad  two blanks  \nModeView 1\nModeView 2\n");
    SettingsFile settings;
    EXPECT_EQ(settings.GetString("GoDetector"), "35");
    EXPECT_EQ(settings.GetString("Language"), "English") << "CR before LF dropped";
    EXPECT_EQ(settings.GetString("Title"), "Front door cam");
    EXPECT_EQ(settings.GetString("Pad"), "two blanks  ") << "trailing blanks kept";
    EXPECT_EQ(settings.GetString("ModeView"), "2") << "the last line wins";
    EXPECT_EQ(fs::current_path(), folder_);
    EXPECT_EQ(settings.GetString("_ProgramPath"), folder_.string() + "/");
    EXPECT_EQ(settings.GetString("_FileParams"), Ini().string());
}

TEST_F(SettingsFileTest, CreatesDefaultFoldersAndSavesInKeyOrder) {
    {
        SettingsFile settings;
        EXPECT_EQ(settings.GetString("MoveFilesPath"), folder_.string() + "/move/");
        EXPECT_TRUE(fs::is_directory(folder_ / "move"));
        EXPECT_TRUE(fs::is_directory(folder_ / "shot"));
        settings.SetText("Zeta", "last  ");
        settings.SetText("Alpha", "first");
        settings.SetHandle("_CL_Thing", 1234);
        char unused[Registry::kBufferSize];
        settings.GetText("Empty", unused);
    }  // Destruction saves.
    const std::string folder = folder_.string() + "/";
    EXPECT_EQ(ReadFile(Ini()), "Alpha first\nEmpty \nMoveFilesPath " + folder + "move/\nShotFilesPath " +
                                   folder + "shot/\nZeta last  \n");

    SettingsFile again;
    EXPECT_EQ(again.GetString("Zeta"), "last  ");
    EXPECT_FALSE(again.Contains("Empty"));
}

TEST_F(SettingsFileTest, OnlyTheOwnerMayReadAFileHoldingAPasswordHash) {
    auto mode = [&] { return fs::status(Ini()).permissions() & fs::perms::all; };
    SettingsFile settings;
    ASSERT_TRUE(settings.Save());
    EXPECT_EQ(mode(), fs::perms(0644));
    settings.SetText("WWWPasswordHash", "$y$j9T$salt$hash");
    ASSERT_TRUE(settings.Save());
    EXPECT_EQ(mode(), fs::perms(0600));
    settings.SetText("WWWPasswordHash", "");
    ASSERT_TRUE(settings.Save());
    EXPECT_EQ(mode(), fs::perms(0644));
}

TEST_F(SettingsFileTest, ALongLineIsSkippedWholeWithALineAndRunTimeNamesAreNotTheFiles) {
    // The rest of the long line would read as "WWWPortListener 1" on its own.
    const std::string longLine = "OnFileClosed " + std::string(498, 'v') + "WWWPortListener 1";
    const std::string fits = "Fits " + std::string(505, 'f');
    WriteFile(Ini(), longLine + "\nAfter 1\n" + fits + "\n_FileParams /tmp/elsewhere.ini\n_Own 1\n");
    testing::internal::CaptureStderr();
    SettingsFile settings;
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "settings: the line of \"OnFileClosed\" is longer than 510 characters; skipped\n");
    EXPECT_FALSE(settings.Contains("OnFileClosed"));
    EXPECT_FALSE(settings.Contains("WWWPortListener"));
    EXPECT_EQ(settings.GetString("After"), "1");
    EXPECT_EQ(settings.GetString("Fits"), std::string(255, 'f'));
    EXPECT_EQ(settings.GetString("_FileParams"), Ini().string());
    EXPECT_FALSE(settings.Contains("_Own"));
}

TEST_F(SettingsFileTest, AFailedSaveKeepsThePreviousFile) {
    WriteFile(Ini(), "Keep me\n");
    SettingsFile settings;
    settings.SetText("_FileParams", (folder_ / "missing" / "rec.ini").c_str());
    EXPECT_FALSE(settings.Save());
    EXPECT_EQ(ReadFile(Ini()), "Keep me\n");
}

// A save killed at any moment leaves either the old file or the new one, whole.
TEST_F(SettingsFileTest, AKilledSaveLeavesAWholeFile) {
    std::string old;
    for (int i = 0; i < 2000; ++i) old += "Key" + std::to_string(10000 + i) + " old\n";
    for (int round = 0; round < 8; ++round) {
        WriteFile(Ini(), old);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            SettingsFile settings;
            for (int i = 0; i < 2000; ++i) settings.SetText(("Key" + std::to_string(10000 + i)).c_str(), "new");
            for (;;) settings.Save();
        }
        usleep(2000 + round * 3000);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        const std::string now = ReadFile(Ini());
        const bool isOld = now == old;
        const bool isNew = now.find(" old\n") == std::string::npos &&
                           std::count(now.begin(), now.end(), '\n') == 2002 && now.ends_with("shot/\n");
        EXPECT_TRUE(isOld || isNew) << "round " << round << ": " << now.size() << " bytes";
    }
}

// A system-wide install: the program folder is not writable for the user.
TEST_F(SettingsFileTest, ReadOnlyProgramFolderUsesXdgFolders) {
    const fs::path home = folder_ / "home";
    fs::create_directories(home);
    WriteFile(Ini(), "GoDetector 44\n");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        chmod(folder_.c_str(), 0555);
        if (geteuid() == 0) {
            // Root writes anywhere; become nobody so the folder really is closed.
            if (chown(home.c_str(), 65534, 65534) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
        }
        setenv("HOME", home.c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("XDG_DATA_HOME");
        {
            SettingsFile settings;
            if (settings.GetString("_ProgramPath") != folder_.string() + "/") _exit(11);
            if (settings.GetString("MoveFilesPath") != home.string() + "/.local/share/vistrel/move/") _exit(12);
            if (!fs::is_directory(home / ".local/share/vistrel/shot")) _exit(13);
            settings.SetInt("GoDetector", 55);
            if (!settings.Save()) _exit(14);
        }
        _exit(ReadFile(home / ".config/vistrel/rec.ini").find("GoDetector 55\n") == std::string::npos ? 15 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFile(Ini()), "GoDetector 44\n") << "the program folder's file is left alone";
}

// A packaged program run by root: /usr is writable, yet no user data goes there.
TEST_F(SettingsFileTest, ProgramUnderUsrKeepsUserDataInXdgFoldersEvenForRoot) {
    const fs::path home = folder_ / "home";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SetProgramFileForTest("/usr/lib/vistrel-settings-test");
        setenv("HOME", home.c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("XDG_DATA_HOME");
        {
            SettingsFile settings;
            if (settings.GetString("_FileParams") != home.string() + "/.config/vistrel/vistrel-settings-test.ini") _exit(11);
            if (settings.GetString("MoveFilesPath") != home.string() + "/.local/share/vistrel/move/") _exit(12);
        }
        _exit(fs::exists(home / ".config/vistrel/vistrel-settings-test.ini") ? 0 : 13);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(fs::exists("/usr/lib/vistrel-settings-test.ini"));
    EXPECT_FALSE(fs::exists("/usr/lib/move"));
}

}  // namespace

namespace {

// Every module asks through the registry; the file is written once per batch
// of requests, and a "_SaveRequest" line of the file never replaces the handle.
TEST_F(SettingsFileTest, SaveRequestsFoundThroughTheRegistryWriteOnceWhenAsked) {
    WriteFile(Ini(), "_SaveRequest 12345\nGoDetector 35\n");
    SettingsFile settings;
    Registry& registry = settings;
    ASSERT_EQ(SaveRequest::Of(registry), static_cast<SaveRequest*>(&settings));

    registry.SetInt("ModeActivation", 1);
    SaveRequest::AskFor(registry);
    SaveRequest::AskFor(registry);
    EXPECT_EQ(ReadFile(Ini()).find("ModeActivation"), std::string::npos) << "asking wrote at once";
    EXPECT_TRUE(settings.SaveIfAsked());
    EXPECT_NE(ReadFile(Ini()).find("ModeActivation 1\n"), std::string::npos);

    // Nothing asked since: no write, even when the file went away.
    fs::remove(Ini());
    EXPECT_TRUE(settings.SaveIfAsked());
    EXPECT_FALSE(fs::exists(Ini()));
    registry.SetInt("ShotFilesType", 1);
    EXPECT_TRUE(SaveRequest::SaveNowFor(registry));
    EXPECT_NE(ReadFile(Ini()).find("ShotFilesType 1\n"), std::string::npos);

    Registry plain(true);
    EXPECT_FALSE(SaveRequest::SaveNowFor(plain));
}

}  // namespace
