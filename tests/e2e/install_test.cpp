// The program installed as a desktop user gets it: a read-only program folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>

#include "e2e/program_run.h"

namespace fs = std::filesystem;

TEST(Install, PutsTheProgramWhereDesktopsLookAndKeepsUserDataInXdgFolders) {
    ProgramRun scratch;  // A private folder that is removed afterwards.
    const fs::path prefix = scratch.Folder() / "prefix";
    const std::string log = Shell("cmake --install '" VISTREL_BUILD_DIR "' --prefix '" + prefix.string() + "' 2>&1");
    const fs::path lib = prefix / "lib" / "vistrel";
    ASSERT_TRUE(fs::exists(lib / "vistrel")) << log;
    EXPECT_TRUE(fs::exists(lib / "Lang" / "English.lng"));
    EXPECT_TRUE(fs::exists(lib / "Lang" / "Russian.lng"));
    EXPECT_TRUE(fs::is_symlink(prefix / "bin" / "vistrel"));
    EXPECT_TRUE(fs::exists(prefix / "share" / "applications" / "vistrel.desktop"));
    EXPECT_TRUE(fs::exists(prefix / "share" / "icons" / "hicolor" / "scalable" / "apps" / "vistrel.svg"));
    EXPECT_TRUE(fs::exists(prefix / "share" / "icons" / "hicolor" / "48x48" / "apps" / "vistrel.png"));
    EXPECT_TRUE(fs::exists(prefix / "share" / "metainfo" / "org.vistrel.Vistrel.metainfo.xml"));
    EXPECT_TRUE(fs::exists(prefix / "share" / "man" / "man1" / "vistrel.1.gz"));
    EXPECT_TRUE(fs::exists(prefix / "share" / "doc" / "vistrel" / "copyright"));
    if (geteuid() != 0 || Shell("command -v setpriv").empty())
        GTEST_SKIP() << "starting as another user needs root and setpriv";

    // Run it as an ordinary user for whom the installed folder is read-only.
    const fs::path home = scratch.Folder() / "user";
    fs::create_directories(home / "run");
    fs::permissions(scratch.Folder(), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    Shell("chown -R 65534:65534 '" + home.string() + "' && chmod -R a+rX '" + prefix.string() + "'");
    const std::string env = "env -i HOME='" + home.string() + "' XDG_RUNTIME_DIR='" + (home / "run").string() +
                            "' QT_QPA_PLATFORM=offscreen LANG=ru_RU.UTF-8 PATH=/usr/bin:/bin "
                            // A sanitizer build keeps its options (the leak suppressions) for the user's run.
                            "ASAN_OPTIONS=\"$ASAN_OPTIONS\" LSAN_OPTIONS=\"$LSAN_OPTIONS\" ";
    const std::string command = "cd / && " + env + "setpriv --reuid=65534 --regid=65534 --clear-groups '" +
                                (prefix / "bin" / "vistrel").string() + "' 2>'" + (home / "stderr").string() +
                                "' & pid=$!; sleep 4; kill -TERM $pid; wait $pid; echo $?";
    const std::string code = Shell(command);
    EXPECT_EQ(code, "0\n");
    const fs::path ini = home / ".config" / "vistrel" / "vistrel.ini";
    ASSERT_TRUE(fs::exists(ini)) << "no settings under the user's config folder";
    std::ifstream in(ini);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("Language Russian\n"), std::string::npos) << text;
    EXPECT_NE(text.find("MoveFilesPath " + home.string() + "/.local/share/vistrel/move/"), std::string::npos) << text;
    EXPECT_TRUE(fs::is_directory(home / ".local" / "share" / "vistrel" / "shot"));
    EXPECT_FALSE(fs::exists(lib / "vistrel.ini"));
    std::ifstream err(home / "stderr");
    const std::string errors((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
    EXPECT_EQ(errors.find("language:"), std::string::npos) << "the language files were not found: " << errors;
}
