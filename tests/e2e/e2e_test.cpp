// The real program, started as a user starts it, with the test pattern as camera.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <thread>

#include "e2e/program_run.h"

namespace fs = std::filesystem;
using Settings = std::map<std::string, std::string>;

namespace {

Settings Base(int port, const std::string& mode, const std::string& speedRec) {
    return {{"VideoDeviceId", "TestPattern"}, {"WWWStartAfterLaunch", "1"}, {"WWWPortListener", std::to_string(port)},
            {"SpeedRec", speedRec},           {"ModeActivation", mode},      {"Language", "English"}};
}

std::string Picture(int port) { return Body(HttpGet(port, "/wwwcam.jpg")); }

bool ServesPicture(int port, int width, int height) {
    int w = 0, h = 0;
    return JpegSize(Picture(port), w, h) && w == width && h == height;
}

int TotalFrames(const fs::path& folder) {
    int total = 0;
    for (const auto& avi : FilesWithExtension(folder, ".avi")) {
        const int frames = ProbeFrames(avi);
        EXPECT_GE(frames, 2) << avi << " does not open";
        total += std::max(frames, 0);
    }
    return total;
}

int SecondOfDay(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    return local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
}

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Frames of a recording left under its temporary name whose JPEG is whole.
int CompleteFrames(const fs::path& tmp) {
    std::ifstream in(tmp, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int frames = 0;
    std::size_t at = 2560;
    while (at + 8 <= bytes.size() && bytes.compare(at, 4, "00db") == 0) {
        uint32_t n = 0;
        std::memcpy(&n, bytes.data() + at + 4, 4);
        if (at + 8 + n > bytes.size() || n < 4) break;
        const auto* jpeg = reinterpret_cast<const unsigned char*>(bytes.data() + at + 8);
        if (jpeg[0] != 0xFF || jpeg[1] != 0xD8 || jpeg[n - 2] != 0xFF || jpeg[n - 1] != 0xD9) break;
        ++frames;
        at += 8 + n;
    }
    return frames;
}

TEST(EndToEnd, RecordsAlwaysServesThePictureAndSavesEverySettingOnTerm) {
    ProgramRun run;
    const int port = FreePort();
    run.WriteSettings(Base(port, "1", "1000"));
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(WaitUntil([&] { return ServesPicture(port, 640, 480); }, 30000)) << "no 640 x 480 picture served";
    const auto recordingSince = std::chrono::steady_clock::now();

    const std::string first = Picture(port);
    ASSERT_TRUE(WaitUntil([&] { const std::string now = Picture(port); return !now.empty() && now != first; }, 10000))
        << "the served picture does not change";
    const std::string page = HttpGet(port, "/");
    EXPECT_NE(page.find("<img src='wwwcam.jpg'>"), std::string::npos) << page;

    Sleep(6000);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - recordingSince).count();
    EXPECT_EQ(run.Stop(SIGTERM), 0);

    const int frames = TotalFrames(run.MoveFolder());
    EXPECT_GE(frames, static_cast<int>(seconds) - 3) << "about one frame per recorded second";
    EXPECT_LE(frames, static_cast<int>(seconds) + 3);

    const Settings saved = run.ReadSettings();
    for (const char* key :
         {"MoveFilesPath", "ShotFilesPath", "ShotFilesType", "ShotCounterFiles", "ModeView", "ModeActivation",
          "VideoDeviceId", "VideoResolution", "VideoReflect", "VideoRotate", "VideoDateTime", "JpegQuality", "HotKey",
          "HideStart", "WWWPortListener", "WWWStartAfterLaunch", "SpeedRec", "SpeedPlay", "FileMaxSize", "FileMaxPages",
          "FileMaxTime", "EnableFileMaxSize", "EnableFileMaxPages", "EnableFileMaxTime", "GoDetector", "TimerStart",
          "TimerStop", "Language"})
        EXPECT_TRUE(saved.count(key) && !saved.at(key).empty()) << key << " missing from the saved settings";
    EXPECT_EQ(saved.count("_MainHwnd"), 0u);
}

TEST(EndToEnd, TheDetectorRecordsTheMovingPattern) {
    ProgramRun run;
    const int port = FreePort();
    Settings settings = Base(port, "2", "200");
    settings["GoDetector"] = "1";
    run.WriteSettings(settings);
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(WaitUntil([&] { return ServesPicture(port, 640, 480); }, 30000));
    Sleep(6000);
    EXPECT_EQ(run.Stop(SIGTERM), 0);
    EXPECT_GE(TotalFrames(run.MoveFolder()), 3);
}

TEST(EndToEnd, TheTimeWindowRecordsOnlyInsideIt) {
    const int now = SecondOfDay(std::time(nullptr));
    for (const bool inside : {true, false}) {
        ProgramRun run;
        const int port = FreePort();
        Settings settings = Base(port, "3", "200");
        const int start = inside ? (now + 86400 - 120) % 86400 : (now + 3 * 3600) % 86400;
        settings["TimerStart"] = std::to_string(start);
        settings["TimerStop"] = std::to_string((start + (inside ? 1200 : 3600)) % 86400);
        run.WriteSettings(settings);
        ASSERT_TRUE(run.Start());
        ASSERT_TRUE(WaitUntil([&] { return ServesPicture(port, 640, 480); }, 30000));
        Sleep(5000);
        EXPECT_EQ(run.Stop(SIGTERM), 0);
        if (inside)
            EXPECT_GE(TotalFrames(run.MoveFolder()), 3);
        else
            EXPECT_TRUE(FilesWithExtension(run.MoveFolder(), ".avi").empty());
    }
}

// The window closes while the program runs: its file is finished at once,
// not left as a .tmp for the next event hours later to be appended to.
TEST(EndToEnd, ATimeWindowThatEndsLeavesAFinishedFileWithinTwoSeconds) {
    ProgramRun run;
    const int port = FreePort();
    const std::time_t started = std::time(nullptr);
    const std::time_t windowEnd = started + 25;
    Settings settings = Base(port, "3", "200");
    settings["TimerStart"] = std::to_string((SecondOfDay(started) + 86400 - 60) % 86400);
    settings["TimerStop"] = std::to_string(SecondOfDay(windowEnd));
    run.WriteSettings(settings);
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(WaitUntil([&] { return !FilesWithExtension(run.MoveFolder(), ".tmp").empty(); }, 20000))
        << "nothing recorded inside the window";
    ASSERT_LT(std::time(nullptr), windowEnd - 3) << "the program took too long to start for this window";
    const fs::path open = FilesWithExtension(run.MoveFolder(), ".tmp").front();

    // The window is open through its last second and closed from the next one.
    while (std::time(nullptr) <= windowEnd) Sleep(50);
    const auto closedAt = std::chrono::steady_clock::now();
    EXPECT_TRUE(WaitUntil([&] { return !fs::exists(open) && !FilesWithExtension(run.MoveFolder(), ".avi").empty(); },
                          2000))
        << "the file is still open after the window ended";
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - closedAt).count();
    std::printf("file finished %.2f s after the window ended\n", seconds);
    Sleep(1500);
    EXPECT_TRUE(FilesWithExtension(run.MoveFolder(), ".tmp").empty());
    const auto avis = FilesWithExtension(run.MoveFolder(), ".avi");
    ASSERT_EQ(avis.size(), 1u);
    EXPECT_GE(ProbeFrames(avis[0]), 2);
    EXPECT_EQ(Shell("ffmpeg -v error -i '" + avis[0].string() + "' -f null - 2>&1"), "");
    EXPECT_EQ(run.Stop(SIGTERM), 0);
}

TEST(EndToEnd, AKilledRecordingIsRecoveredAtTheNextStart) {
    ProgramRun run;
    const int port = FreePort();
    run.WriteSettings(Base(port, "1", "200"));
    ASSERT_TRUE(run.Start());
    fs::path tmp;
    ASSERT_TRUE(WaitUntil(
        [&] {
            const auto files = FilesWithExtension(run.MoveFolder(), ".tmp");
            if (files.empty()) return false;
            tmp = files.front();
            return CompleteFrames(tmp) >= 4;
        },
        40000))
        << "no recording grew";
    EXPECT_EQ(run.Stop(SIGKILL), -2);
    const int frames = CompleteFrames(tmp);
    ASSERT_GE(frames, 4);

    Settings settings = Base(port, "0", "200");
    run.WriteSettings(settings);
    ASSERT_TRUE(run.Start());
    const std::string stem = tmp.stem().string();
    char name[64];
    std::snprintf(name, sizeof name, "%s_%04d.avi", stem.c_str(), frames);
    const fs::path recovered = run.MoveFolder() / name;
    EXPECT_TRUE(WaitUntil([&] { return fs::exists(recovered); }, 20000)) << "expected " << recovered;
    EXPECT_EQ(run.Stop(SIGTERM), 0);
    EXPECT_FALSE(fs::exists(tmp));
    EXPECT_EQ(ProbeFrames(recovered), frames);
    EXPECT_EQ(Shell("ffmpeg -v error -i '" + recovered.string() + "' -f null - 2>&1"), "");
}

// A full disk must neither end the program nor cost what was already recorded.
TEST(EndToEnd, AFullDiskNeverEndsTheProgramAndRecordingResumes) {
    ProgramRun run;
    const fs::path disk = run.Folder() / "disk";
    fs::create_directories(disk);
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=160m") != 0)
        GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
    struct Unmount {
        fs::path path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{disk};

    const int port = FreePort();
    Settings settings = Base(port, "1", "200");
    settings["MoveFilesPath"] = disk.string() + "/";
    run.WriteSettings(settings);
    const fs::path log = run.Folder() / "stderr.txt";
    run.LogTo(log);
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(WaitUntil([&] { return !FilesWithExtension(disk, ".tmp").empty(); }, 40000));
    Sleep(2000);

    // Fill the disk to the last byte while the recording runs.
    Shell("dd if=/dev/zero of='" + (disk / "filler").string() + "' bs=1M 2>/dev/null");
    Sleep(5000);
    ASSERT_TRUE(run.Running()) << "the program ended on a full disk";
    const std::string picture = Picture(port);
    EXPECT_FALSE(picture.empty()) << "the web server stopped on a full disk";
    // The full disk is a cause the status tells, said once on stderr, not once a picture.
    const std::string status = Body(HttpGet(port, "/status.json"));
    EXPECT_EQ(status.find("\"problem\":null"), std::string::npos) << status;
    const std::string said = Shell("grep -c '^recording:' '" + log.string() + "'");
    EXPECT_LE(std::atoi(said.c_str()), 4) << Shell("cat '" + log.string() + "'");

    fs::remove(disk / "filler");
    const auto before = FilesWithExtension(disk, ".avi");
    Sleep(6000);
    EXPECT_EQ(run.Stop(SIGTERM), 0);
    const auto after = FilesWithExtension(disk, ".avi");
    EXPECT_GT(after.size(), before.size()) << "recording did not resume once space returned";
    for (const auto& avi : after) EXPECT_GE(ProbeFrames(avi), 2) << avi;
}

}  // namespace

TEST(EndToEnd, EventCommandsTellTheCameraFoundAndTheLastFileClosed) {
    ProgramRun run;
    const int port = FreePort();
    Settings settings = Base(port, "1", "1000");
    const std::string out = (run.Folder() / "events.txt").string();
    settings["OnCameraFound"] = "echo \"$VISTREL_EVENT\" >> '" + out + "'";
    settings["OnFileClosed"] = "echo \"$VISTREL_EVENT $VISTREL_FILE\" >> '" + out + "'";
    run.WriteSettings(settings);
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(WaitUntil([&] { return ServesPicture(port, 640, 480); }, 30000));
    Sleep(4000);
    EXPECT_EQ(run.Stop(SIGTERM), 0);

    const std::vector<fs::path> avis = FilesWithExtension(run.MoveFolder(), ".avi");
    ASSERT_EQ(avis.size(), 1u);
    std::ifstream in(out);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The file closed at shutdown still gets its command before the program ends.
    EXPECT_EQ(text, "CameraFound\nFileClosed " + avis[0].string() + "\n");
}
