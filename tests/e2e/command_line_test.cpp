// The program's arguments, answered by the real program in a bare environment:
// no display, no Qt platform, no home.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <regex>
#include <string>

#include "e2e/program_run.h"

namespace fs = std::filesystem;

namespace {

struct Answer {
    std::string code;
    std::string out;
    std::string err;
};

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Answer Ask(const ProgramRun& run, const std::string& arguments, const std::string& env = "") {
    const fs::path out = run.Folder() / "out";
    const fs::path err = run.Folder() / "err";
    Answer answer;
    answer.code = Shell("cd / && env -i PATH=/usr/bin:/bin " + env + " timeout 20 '" + (run.Folder() / "vistrel").string() +
                        "' " + arguments + " >'" + out.string() + "' 2>'" + err.string() + "'; echo $?");
    answer.out = ReadAll(out);
    answer.err = ReadAll(err);
    return answer;
}

TEST(CommandLine, VersionAndHelpAnswerWithoutADisplayAndOtherArgumentsAreRefused) {
    ProgramRun run;
    const Answer version = Ask(run, "--version");
    EXPECT_EQ(version.code, "0\n") << version.err;
    EXPECT_TRUE(std::regex_match(version.out, std::regex("Vistrel [0-9]+\\.[0-9]+(\\.[0-9]+)*\n"))) << version.out;
    EXPECT_EQ(version.err, "");

    const Answer help = Ask(run, "--help");
    EXPECT_EQ(help.code, "0\n") << help.err;
    EXPECT_EQ(help.out.rfind("Usage: vistrel [--help | --version]\n", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("--version  print the version and exit"), std::string::npos);
    EXPECT_EQ(help.err, "");

    for (const char* wrong : {"--bogus", "--help --version", "file.avi", "''"}) {
        const Answer refused = Ask(run, wrong);
        EXPECT_EQ(refused.code, "2\n") << wrong;
        EXPECT_EQ(refused.out, "") << wrong;
        EXPECT_NE(refused.err.find("vistrel: unknown argument: "), std::string::npos) << wrong << ": " << refused.err;
        EXPECT_NE(refused.err.find("\n" + help.out), std::string::npos) << wrong << ": the help follows on stderr";
    }
    // Nothing was started: no settings, no storage folders.
    EXPECT_FALSE(fs::exists(run.Folder() / "vistrel.ini"));
    EXPECT_FALSE(fs::exists(run.Folder() / "move"));
}

TEST(CommandLine, VersionAnswersWhileACopyRuns) {
    ProgramRun run;
    run.WriteSettings({{"VideoDeviceId", "TestPattern"}});
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(WaitUntil([&] { return fs::is_directory(run.Folder() / "move"); }, 20000));
    const std::string env = "XDG_RUNTIME_DIR='" + (run.Folder() / "run").string() + "'";
    const Answer version = Ask(run, "--version", env);
    EXPECT_EQ(version.code, "0\n");
    EXPECT_EQ(version.out.rfind("Vistrel ", 0), 0u);
    const Answer refused = Ask(run, "--bogus", env);
    EXPECT_EQ(refused.code, "2\n") << "a wrong argument is said even when a copy runs";
    EXPECT_EQ(run.Stop(SIGTERM), 0);
}

}  // namespace
