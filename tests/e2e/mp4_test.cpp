// H.264 MP4 recording in the real program, with the test pattern as camera.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "e2e/program_run.h"

namespace fs = std::filesystem;
using Settings = std::map<std::string, std::string>;

namespace {

constexpr double kInterval = 0.2;  // SpeedRec 200

Settings Mp4Settings(int port, const std::string& mode) {
    return {{"VideoDeviceId", "TestPattern"}, {"WWWStartAfterLaunch", "1"}, {"WWWPortListener", std::to_string(port)},
            {"SpeedRec", "200"},             {"ModeActivation", mode},      {"Language", "English"},
            {"RecordingFormat", "1"}};
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The picture count in a finished recording's name (YYMMDD_HHMMSS_NNNN.ext).
int CountInName(const fs::path& file) { return std::atoi(file.stem().string().substr(14).c_str()); }

// Offset of a top-level MP4 box, -1 when there is none.
long BoxOffset(const fs::path& file, const char* type) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t at = 0;
    while (at + 8 <= bytes.size()) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
        const std::size_t size = static_cast<std::size_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
        if (bytes.compare(at + 4, 4, type) == 0) return static_cast<long>(at);
        if (size < 8) break;
        at += size;
    }
    return -1;
}

int StatusFrames(int port) {
    const std::string status = Body(HttpGet(port, "/status.json"));
    const auto at = status.find("\"frames\":");
    return at == std::string::npos ? -1 : std::atoi(status.c_str() + at + 9);
}

fs::path WaitForTemporary(ProgramRun& run) {
    fs::path tmp;
    WaitUntil(
        [&] {
            const auto files = FilesWithExtension(run.MoveFolder(), ".tmp");
            if (!files.empty()) tmp = files.front();
            return !tmp.empty();
        },
        40000);
    return tmp;
}

}  // namespace

TEST(Mp4Recording, AFinishedFileIsH264WithItsCountAndTimesAndABrowserPlaysAndSeeksIt) {
    ProgramRun run;
    const int port = FreePort();
    run.WriteSettings(Mp4Settings(port, "1"));
    ASSERT_TRUE(run.Start());
    ASSERT_FALSE(WaitForTemporary(run).empty()) << "no recording started";
    const auto opened = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(7));
    const double wall = Seconds(opened);
    EXPECT_EQ(run.Stop(SIGTERM), 0);

    EXPECT_TRUE(FilesWithExtension(run.MoveFolder(), ".avi").empty());
    const auto files = FilesWithExtension(run.MoveFolder(), ".mp4");
    ASSERT_EQ(files.size(), 1u);
    const fs::path mp4 = files.front();
    const std::string quoted = "'" + mp4.string() + "'";
    EXPECT_EQ(Shell("ffprobe -v error -select_streams v:0 -show_entries stream=codec_name -of csv=p=0 " + quoted),
              "h264\n");
    const int pictures = CountInName(mp4);
    EXPECT_EQ(ProbeFrames(mp4), pictures);
    // The pictures' own capture times: the file lasts as long as it was recorded,
    // and no picture less than the interval.
    const double duration =
        std::atof(Shell("ffprobe -v error -show_entries format=duration -of csv=p=0 " + quoted).c_str());
    EXPECT_GE(duration, pictures * kInterval - kInterval);
    EXPECT_NEAR(duration, wall, 1.0);
    // Its index comes first, so a browser starts playing before the whole file is there.
    EXPECT_GE(BoxOffset(mp4, "moov"), 0);
    EXPECT_LT(BoxOffset(mp4, "moov"), BoxOffset(mp4, "mdat"));
    EXPECT_EQ(Shell("ffmpeg -v error -i " + quoted + " -f null - 2>&1"), "");

    if (access("/usr/bin/chromium", X_OK) != 0) GTEST_SKIP() << "chromium is not installed";
    const std::string played = Shell("timeout 120 python3 '" VISTREL_SOURCE_DIR "/tests/e2e/play_video.py' " + quoted +
                                     " '" + (run.Folder() / "profile").string() + "' 2>&1");
    EXPECT_EQ(played.rfind("played ", 0), 0u) << played;
    EXPECT_NE(played.find("seeked " + std::to_string(static_cast<int>(duration / 2))), std::string::npos) << played;
}

TEST(Mp4Recording, AKilledMp4PlaysUpToItsLastSecondAndIsNamedAtTheNextStart) {
    ProgramRun run;
    const int port = FreePort();
    run.WriteSettings(Mp4Settings(port, "1"));
    ASSERT_TRUE(run.Start());
    const fs::path tmp = WaitForTemporary(run);
    ASSERT_FALSE(tmp.empty()) << "no recording started";
    std::this_thread::sleep_for(std::chrono::seconds(6));
    const int recorded = StatusFrames(port);
    EXPECT_EQ(run.Stop(SIGKILL), -2);
    ASSERT_GT(recorded, 10);
    const int frames = ProbeFrames(tmp);
    // The encoder's few pictures and the last index rewrite are all a kill may cost.
    EXPECT_GE(frames, recorded - static_cast<int>(2 / kInterval));

    run.WriteSettings(Mp4Settings(port, "0"));
    ASSERT_TRUE(run.Start());
    char name[64];
    std::snprintf(name, sizeof name, "%s_%04d.mp4", tmp.stem().c_str(), frames);
    const fs::path named = run.MoveFolder() / name;
    EXPECT_TRUE(WaitUntil([&] { return fs::exists(named); }, 20000)) << "expected " << named;
    EXPECT_EQ(run.Stop(SIGTERM), 0);
    EXPECT_FALSE(fs::exists(tmp));
    EXPECT_EQ(ProbeFrames(named), frames);
}

TEST(Mp4Recording, WithoutAnH264EncoderAviIsRecordedAndTheProgramSaysSo) {
    ProgramRun run;
    // A GStreamer of its own that lacks every H.264 encoder.
    const fs::path plugins = run.Folder() / "plugins";
    fs::create_directories(plugins);
    const std::string installed = Shell("pkg-config --variable=pluginsdir gstreamer-1.0 | tr -d '\\n'");
    for (const auto& entry : fs::directory_iterator(installed)) {
        const std::string file = entry.path().filename().string();
        if (file != "libgstx264.so" && file != "libgstopenh264.so" && file != "libgstva.so" &&
            file != "libgstvaapi.so")
            fs::create_symlink(entry.path(), plugins / file);
    }
    run.SetEnv("GST_PLUGIN_SYSTEM_PATH_1_0", plugins.string());
    run.SetEnv("GST_PLUGIN_PATH_1_0", "");
    run.SetEnv("GST_REGISTRY_1_0", (run.Folder() / "registry.bin").string());
    const fs::path log = run.Folder() / "stderr.log";
    run.LogTo(log);
    const int port = FreePort();
    run.WriteSettings(Mp4Settings(port, "1"));
    ASSERT_TRUE(run.Start());
    ASSERT_FALSE(WaitForTemporary(run).empty()) << "no recording started";
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_EQ(run.Stop(SIGTERM), 0);

    EXPECT_TRUE(FilesWithExtension(run.MoveFolder(), ".mp4").empty());
    const auto avis = FilesWithExtension(run.MoveFolder(), ".avi");
    ASSERT_EQ(avis.size(), 1u);
    EXPECT_EQ(ProbeFrames(avis.front()), CountInName(avis.front()));
    std::ifstream in(log);
    const std::string said((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(said.find("recording: H.264 encoder for MP4: none"), std::string::npos) << said;
}

// At 1920 x 1080 (the test pattern at "VideoResolution" 5) a recording reads
// back at that size in either format, and the served picture has it too.
TEST(Mp4Recording, AFullHdRecordingReadsBackAtItsSizeInEitherFormat) {
    const bool hasEncoder = Shell("gst-inspect-1.0 x264enc >/dev/null 2>&1 && echo yes") == "yes\n";
    for (const char* format : {"0", "1"}) {
        SCOPED_TRACE(std::string("RecordingFormat ") + format);
        if (format[0] == '1' && !hasEncoder) continue;
        ProgramRun run;
        const int port = FreePort();
        Settings settings = Mp4Settings(port, "1");
        settings["RecordingFormat"] = format;
        settings["VideoResolution"] = "5";
        run.WriteSettings(settings);
        ASSERT_TRUE(run.Start());
        ASSERT_FALSE(WaitForTemporary(run).empty()) << "no recording started";
        std::this_thread::sleep_for(std::chrono::seconds(3));
        int width = 0;
        int height = 0;
        EXPECT_TRUE(JpegSize(Body(HttpGet(port, "/wwwcam.jpg")), width, height));
        EXPECT_EQ(width, 1920);
        EXPECT_EQ(height, 1080);
        EXPECT_EQ(run.Stop(SIGTERM), 0);
        const auto files = FilesWithExtension(run.MoveFolder(), format[0] == '1' ? ".mp4" : ".avi");
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(Shell("ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 '" +
                        files.front().string() + "'"),
                  "1920,1080\n");
        EXPECT_GT(ProbeFrames(files.front()), 0);
    }
    if (!hasEncoder) GTEST_SKIP() << "no H.264 encoder: only AVI was recorded";
}
