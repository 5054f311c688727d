// The whole window with the test pattern: what a user leaves running must not
// lose settings or photos, and a recording that cannot store says so.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QRegularExpression>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "recording/avi_recorder.h"
#include "recording/recording_options.h"
#include "ui/main_menu.h"
#include "ui/main_window.h"
#include "ui/state_pictures.h"
#include "ui/status_line.h"
#include "ui/ui_test_support.h"

namespace fs = std::filesystem;

namespace {

std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<fs::path> Files(const fs::path& folder, const std::string& extension) {
    std::vector<fs::path> found;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored))
        if (entry.path().extension() == extension) found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    return found;
}

class NothingLostTest : public ::testing::Test {
protected:
    void Start(std::map<std::string, std::string> settings) {
        settings["VideoDeviceId"] = "TestPattern";
        settings["VideoResolution"] = "3";
        if (!settings.count("WWWPortListener")) settings["WWWPortListener"] = "64998";
        folder_.WriteSettings(settings);
        window_ = std::make_unique<MainWindow>();
        window_->show();
    }
    void TearDown() override {
        window_.reset();
        SetFreeSpaceQueryForTest(nullptr);
    }
    // The window's own 250 ms timer runs; this only lets it. Says how long it took.
    bool Within(int ms, const std::function<bool()>& condition) {
        QElapsedTimer elapsed;
        elapsed.start();
        const bool met = WaitFor(condition, ms);
        lastWaitMs_ = elapsed.elapsed();
        return met;
    }
    QString Line() const { return window_->Status()->Line(); }
    int RecordingIndicator() const {
        return window_->Options()->IndicatorState(RecordingOptionsView::kRecordingIndicator);
    }
    void TakePhoto() {
        const int before = static_cast<int>(Files(folder_.Path() / "shot", ".jpg").size());
        window_->Menu()->Action(menu_id::kShot)->trigger();
        ASSERT_TRUE(Within(
            10000, [&] { return static_cast<int>(Files(folder_.Path() / "shot", ".jpg").size()) > before; }));
    }

    TestProgramFolder folder_;
    std::unique_ptr<MainWindow> window_;
    qint64 lastWaitMs_ = 0;
};

// Start, choose "always" from the menu, take three photos, be killed, start
// again: recording is on and three new photos get three new names.
TEST_F(NothingLostTest, MenuChoicesAndThePhotoCounterSurviveAKill) {
    Start({{"ModeActivation", "0"}});
    window_->Menu()->Action(menu_id::kModeFirst + RecordingOptions::kModeAlways)->trigger();
    window_->Menu()->Action(menu_id::kPhotoJpeg)->trigger();
    for (int i = 0; i < 3; ++i) TakePhoto();
    // What is on the disk now is all a kill -9 leaves; the counter is saved by the next tick.
    ASSERT_TRUE(Within(2000, [&] { return folder_.ReadSettings()["ShotCounterFiles"] == "3"; }));
    const std::string killed = Bytes(folder_.SettingsPath());
    std::map<fs::path, std::string> photos;
    for (const auto& photo : Files(folder_.Path() / "shot", ".jpg")) photos[photo] = Bytes(photo);
    ASSERT_EQ(photos.size(), 3u);
    window_.reset();
    std::ofstream(folder_.SettingsPath(), std::ios::binary | std::ios::trunc) << killed;

    window_ = std::make_unique<MainWindow>();
    window_->show();
    EXPECT_EQ(window_->Options()->Mode(), RecordingOptions::kModeAlways);
    ASSERT_TRUE(Within(20000, [&] { return window_->Options()->RecordingActive() == 1; }));
    for (int i = 0; i < 3; ++i) TakePhoto();
    const auto after = Files(folder_.Path() / "shot", ".jpg");
    ASSERT_EQ(after.size(), 6u);
    for (const auto& [path, bytes] : photos) EXPECT_EQ(Bytes(path), bytes) << path << " was replaced";
    EXPECT_EQ(after[5].filename(), "00005.jpg");
}

// The move folder on a small file system of its own: filled under the free
// space limit, then freed; read-only, then writable again.
TEST_F(NothingLostTest, ARecordingThatCannotStoreSaysSoAndResumesByItself) {
    const fs::path disk = folder_.Path() / "disk";
    fs::create_directories(disk);
    const bool mounted = unshare(CLONE_NEWNS) == 0 &&
                         mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                         mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=160m") == 0;
    std::atomic<int64_t> injectedFree{-1};  // used only where mounting is refused; read by the worker
    if (!mounted) {
        std::fprintf(stderr, "cannot mount a file system here (%s): the free space is injected\n",
                     std::strerror(errno));
        injectedFree = int64_t{1} << 36;
        SetFreeSpaceQueryForTest([&injectedFree](const char*) { return injectedFree.load(); });
    }
    const fs::path filler = disk / "filler";
    auto fill = [&](bool full) {
        if (!mounted) {
            injectedFree = full ? 50 * 1048576 : int64_t{1} << 36;
        } else if (full) {
            std::ofstream(filler, std::ios::binary) << std::string(80 * 1048576, '\0');
        } else {
            fs::remove(filler);
        }
    };

    Start({{"ModeActivation", "1"}, {"SpeedRec", "200"}, {"MoveFilesPath", disk.string() + "/"}});
    // A file of fewer than 2 pictures is no recording and would be removed when closed.
    const QRegularExpression count(", ([0-9]+) frames");
    ASSERT_TRUE(Within(30000, [&] {
        const QRegularExpressionMatch match = count.match(Line());
        return Line().startsWith("Recording ") && match.hasMatch() && match.captured(1).toInt() >= 3;
    })) << Line().toStdString();
    ASSERT_TRUE(Within(
        3000, [&] { return window_->Status()->FailureText().isEmpty() && RecordingIndicator() != 0; }));
    const fs::path open = Files(disk, ".tmp").front();

    fill(true);
    EXPECT_TRUE(Within(2000, [&] {
        return window_->Status()->FailureText().startsWith("Cannot record: less than 100 MiB free on");
    })) << Line().toStdString();
    std::printf("warning shown %lld ms after the disk filled\n", static_cast<long long>(lastWaitMs_));
    EXPECT_TRUE(
        Line().startsWith("Cannot record: less than 100 MiB free on " + QString::fromStdString(disk.string())));
    EXPECT_TRUE(Within(1000, [&] { return window_->StateIconIndex() == state_pictures::kWarning; }));
    EXPECT_EQ(RecordingIndicator(), 0) << "the options dialog shows no recording";
    // The file that was open is finished whole under its final name (the worker closes it
    // on its own thread, shortly after the window says why).
    Within(3000, [&] { return !fs::exists(open) && !Files(disk, ".avi").empty(); });
    EXPECT_FALSE(fs::exists(open));
    const auto finished = Files(disk, ".avi");
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0].stem().string().rfind(open.stem().string() + "_", 0), 0u);

    fill(false);
    EXPECT_TRUE(Within(2000, [&] { return window_->Status()->FailureText().isEmpty(); }))
        << Line().toStdString();
    std::printf("warning cleared %lld ms after space was freed\n", static_cast<long long>(lastWaitMs_));
    EXPECT_TRUE(Within(2000, [&] { return !Files(disk, ".tmp").empty(); })) << "recording did not resume";
    std::printf("recording resumed %lld ms after the warning cleared\n", static_cast<long long>(lastWaitMs_));
    EXPECT_TRUE(Within(1000, [&] { return window_->StateIconIndex() != state_pictures::kWarning; }));

    if (!mounted) return;
    window_.reset();
    // A move folder nobody can write.
    ASSERT_EQ(mount(nullptr, disk.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0)
        << std::strerror(errno);
    Start({{"ModeActivation", "1"}, {"SpeedRec", "200"}, {"MoveFilesPath", disk.string() + "/"}});
    ASSERT_TRUE(Within(30000, [&] { return !window_->Status()->FailureText().isEmpty(); }))
        << Line().toStdString();
    EXPECT_EQ(window_->Status()->FailureText().toStdString(),
              "Cannot record: " + disk.string() + "/ is not writable");
    ASSERT_EQ(mount(nullptr, disk.c_str(), nullptr, MS_REMOUNT, nullptr), 0) << std::strerror(errno);
    EXPECT_TRUE(Within(2000, [&] { return window_->Status()->FailureText().isEmpty(); }))
        << Line().toStdString();
    EXPECT_TRUE(Within(2000, [&] { return !Files(disk, ".tmp").empty(); }));

    // Made unwritable while recording: a read-only file system laid over the
    // folder; the open file keeps its pictures, the next file cannot be made.
    const fs::path recording = Files(disk, ".tmp").front();
    ASSERT_EQ(mount("tmpfs", disk.c_str(), "tmpfs", MS_RDONLY, "size=1g"), 0) << std::strerror(errno);
    window_->Menu()->Action(menu_id::kNewFile)->trigger();
    EXPECT_TRUE(Within(2000, [&] { return !window_->Status()->FailureText().isEmpty(); }))
        << Line().toStdString();
    EXPECT_EQ(window_->Status()->FailureText().toStdString(),
              "Cannot record: " + disk.string() + "/ is not writable");
    ASSERT_EQ(umount2(disk.c_str(), 0), 0) << std::strerror(errno);
    EXPECT_TRUE(Within(2000, [&] { return window_->Status()->FailureText().isEmpty(); }))
        << Line().toStdString();
    // The file that was open could not take its final name there; it is whole
    // under its temporary one, which the next start rebuilds.
    ASSERT_TRUE(fs::exists(recording));
    EXPECT_GT(fs::file_size(recording), 2560u + 2 * 8);
    window_.reset();
    umount2(disk.c_str(), MNT_DETACH);
}

TEST_F(NothingLostTest, AWebServerThatCannotStartAtLaunchSaysWhyInTheStatusLine) {
    // Another program holds the port.
    const int holder = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(holder, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(holder, 1), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string port = std::to_string(ntohs(address.sin_port));
    Start({{"WWWPortListener", port}, {"WWWStartAfterLaunch", "1"}});
    EXPECT_TRUE(Within(3000, [&] {
        return Line().contains(QString::fromStdString("port " + port + " is in use by another program"));
    })) << Line().toStdString();
    close(holder);
}

}  // namespace

namespace {

// While nothing is recorded the line says why, beside the free space.
TEST_F(NothingLostTest, TheStatusLineSaysWhyNothingIsRecorded) {
    // The moving pattern never changes every pixel at once, so the detector stays quiet.
    Start({{"ModeActivation", "0"}, {"GoDetector", "100"}});
    ASSERT_TRUE(Within(5000, [&] { return Line().startsWith("Not recording: recording is off"); }))
        << Line().toStdString();
    EXPECT_TRUE(Within(3000, [&] { return Line().contains(QRegularExpression("free [0-9.]+ [GM]iB")); }))
        << Line().toStdString();
    const struct {
        int mode;
        const char* text;
    } cases[] = {{RecordingOptions::kModeDetector, "Not recording: waiting for motion"},
                 {RecordingOptions::kModeTimer, "Not recording: outside the time window"}};
    for (const auto& c : cases) {
        window_->Menu()->Action(menu_id::kModeFirst + c.mode)->trigger();
        EXPECT_TRUE(Within(2000, [&] { return Line().startsWith(c.text); })) << Line().toStdString();
    }
}

}  // namespace
