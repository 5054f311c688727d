// A finished recording's side files, through the real program with the moving test pattern as camera.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include "e2e/program_run.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::map<std::string, std::string> Settings(int port, const std::string& mode) {
    return {{"VideoDeviceId", "TestPattern"}, {"WWWStartAfterLaunch", "1"}, {"WWWPortListener", std::to_string(port)},
            {"SpeedRec", "200"},              {"ModeActivation", mode},      {"GoDetector", "1"},
            {"Language", "English"}};
}

}  // namespace

// The detector's recording, finished at exit, gets a thumbnail about 160 px
// wide naming what made it and one level a second; after a restart the list
// shows them, and retention deletes an old recording's side files with it.
TEST(RecordingSideFiles, AFinishedFileHasItsThumbnailAndLevelsTheListShowsThemAndRetentionTakesThem) {
    ProgramRun run;
    const int port = FreePort();
    const auto serving = [&] { return !Body(HttpGet(port, "/wwwcam.jpg")).empty(); };
    run.WriteSettings(Settings(port, "2"));
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(WaitUntil(serving, 30000));
    std::this_thread::sleep_for(std::chrono::seconds(6));
    ASSERT_EQ(run.Stop(SIGTERM), 0);

    const fs::path move = run.MoveFolder();
    const auto avis = FilesWithExtension(move, ".avi");
    ASSERT_FALSE(avis.empty());
    const std::string name = avis.back().filename().string();
    const int frames = std::stoi(name.substr(14));
    const fs::path thumbs = move / ".thumbs";

    int width = 0, height = 0;
    ASSERT_TRUE(JpegSize(ReadAll(thumbs / (name + ".jpg")), width, height)) << "no thumbnail";
    EXPECT_EQ(width * 1000 + height, 160 * 1000 + 120);
    EXPECT_EQ(Shell("ffmpeg -v error -i '" + (thumbs / (name + ".jpg")).string() + "' -f null - 2>&1"), "");

    // One byte a second of the 200 ms pictures' span, each the peak level of its second.
    const std::string text = ReadAll(thumbs / (name + ".levels"));
    const std::vector<uint8_t> levels(text.begin(), text.end());
    EXPECT_NEAR(static_cast<double>(levels.size()), frames * 0.2, 1.5);
    ASSERT_FALSE(levels.empty());
    const uint8_t peak = *std::max_element(levels.begin(), levels.end());
    EXPECT_TRUE(peak >= 1 && peak <= 100) << "the detector fired, so some second moved past the threshold";
    EXPECT_TRUE(FilesWithExtension(thumbs, ".part").empty());

    // An old recording with side files of its own, which retention is to delete.
    const std::string old = "200101_120000_" + name.substr(14);
    fs::copy_file(avis.back(), move / old);
    fs::copy_file(thumbs / (name + ".jpg"), thumbs / (old + ".jpg"));
    fs::copy_file(thumbs / (name + ".levels"), thumbs / (old + ".levels"));

    auto settings = Settings(port, "0");
    settings["KeepDays"] = "1";
    run.WriteSettings(settings);
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(WaitUntil(serving, 30000));
    const std::string list = Body(HttpGet(port, "/recordings.json?limit=100"));
    const std::size_t entry = list.find("{\"name\":\"" + name + "\"");
    ASSERT_NE(entry, std::string::npos) << list;
    const std::string sides =
        "\"activation\":\"detector\",\"thumb\":true,\"levels\":" + std::to_string(levels.size()) + "}";
    EXPECT_EQ(list.find(sides, entry), list.find('}', entry) + 1 - sides.size()) << list;

    EXPECT_TRUE(WaitUntil([&] { return !fs::exists(move / old); }, 10000)) << "retention left the old recording";
    EXPECT_FALSE(fs::exists(thumbs / (old + ".jpg")));
    EXPECT_FALSE(fs::exists(thumbs / (old + ".levels")));
    EXPECT_TRUE(fs::exists(thumbs / (name + ".jpg")));
    EXPECT_EQ(run.Stop(SIGTERM), 0);
}
