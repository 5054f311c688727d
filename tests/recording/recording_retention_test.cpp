#include "recording/recording_retention.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "core/registry.h"
#include "recording/avi_recorder.h"
#include "recording/mjpeg_params.h"
#include "recording/rec_test_support.h"
#include "recording/shot_data.h"

namespace {

constexpr int64_t kMiB = 1048576;
constexpr std::time_t kNow = 1773483300;  // 2026-03-14 10:15:00 UTC

// A sparse file of the given apparent size, with its modification time set to mtime.
void MakeFile(const std::string& path, int64_t bytes, std::time_t mtime = kNow) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(ftruncate(fd, bytes), 0);
    const timespec times[2] = {{mtime, 0}, {mtime, 0}};
    futimens(fd, times);
    close(fd);
}

// Free space of a pretend volume of the given size holding the folder's files (apparent sizes).
FreeSpaceQuery PretendVolume(const std::string& folder, int64_t capacity) {
    return [folder, capacity](const char*) {
        int64_t used = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            if (!entry.is_symlink() && entry.is_regular_file()) used += entry.file_size();
        return capacity - used;
    };
}

class RecordingRetentionTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        ASSERT_FALSE(folder.Path().empty());
    }
    Registry registry{true};
    TempFolder folder;
    TempFolder outside;
    ManualClock clock{kNow};
};

TEST(RecordingRetentionNames, OnlyTheWriterFinishedNamesCount) {
    setenv("TZ", "UTC", 1);
    tzset();
    std::time_t when = 0;
    EXPECT_TRUE(RecordingRetention::IsRecordingName("260314_101500_0011.avi", &when));
    EXPECT_EQ(when, kNow);
    EXPECT_TRUE(RecordingRetention::IsRecordingName("991231_235959_123456.avi"));
    for (const char* other : {"260314_101500.tmp", "260314_101500_011.avi", "x260314_101500_0011.avi",
                              "260314_101500_0011.avi.bak", "261314_101500_0011.avi",
                              "260314_241500_0011.avi", "260314-101500_0011.avi", "260314_101500_00a1.avi",
                              "260314_101500_0011.AVI", "00001.jpg", "00001.bmp", ""})
        EXPECT_FALSE(RecordingRetention::IsRecordingName(other)) << other;
}

TEST_F(RecordingRetentionTest, FreesSpaceOldestFirstByTheNameAndTouchesNothingElse) {
    registry.SetInt("KeepFreeMB", 100);
    const std::string& dir = folder.Path();
    // Modification times run the other way: the time in the name decides.
    MakeFile(dir + "260310_080000_0011.avi", 10 * kMiB, kNow);
    MakeFile(dir + "260311_080000_0011.avi", 10 * kMiB, kNow - 100);
    MakeFile(dir + "260312_080000_0011.avi", 10 * kMiB, kNow - 200);
    MakeFile(dir + "260313_080000_0011.avi", 10 * kMiB, kNow - 300);
    MakeFile(dir + "260314_101400.tmp", 10 * kMiB);
    MakeFile(dir + "notes.txt", 10 * kMiB);
    MakeFile(dir + "00001.jpg", 10 * kMiB);
    MakeFile(outside.Path() + "precious.avi", 10 * kMiB);
    ASSERT_EQ(symlink((outside.Path() + "precious.avi").c_str(), (dir + "250101_000000_0002.avi").c_str()),
              0);
    ASSERT_EQ(mkdir((dir + "250102_000000_0002.avi").c_str(), 0755), 0);

    // 70 MiB in the folder on a 155 MiB volume: two recordings must go for 100 MiB free.
    RecordingRetention retention(registry, clock, PretendVolume(dir, 155 * kMiB));
    testing::internal::CaptureStderr();
    EXPECT_EQ(retention.Sweep(dir), 2);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said, "retention: deleted " + dir + "260310_080000_0011.avi\nretention: deleted " + dir +
                        "260311_080000_0011.avi\n");
    EXPECT_EQ(folder.Files(),
              (std::vector<std::string>{"00001.jpg", "250101_000000_0002.avi", "250102_000000_0002.avi",
                                        "260312_080000_0011.avi", "260313_080000_0011.avi",
                                        "260314_101400.tmp", "notes.txt"}));
    EXPECT_EQ(std::filesystem::file_size(outside.Path() + "precious.avi"), static_cast<uintmax_t>(10 * kMiB));
    EXPECT_EQ(retention.Sweep(dir), 0);  // enough free now
}

TEST_F(RecordingRetentionTest, KeepDaysDeletesOnlyWhatIsOlderAndOffMeansNothingGoes) {
    const std::string& dir = folder.Path();
    MakeFile(dir + "260304_101459_0011.avi", 1000);  // ten days and a second old
    MakeFile(dir + "260305_101500_0011.avi", 1000);  // nine days old
    MakeFile(dir + "260314_101000_0011.avi", 1000);
    RecordingRetention retention(registry, clock, PretendVolume(dir, 200 * kMiB));
    EXPECT_EQ(retention.Sweep(dir), 0);  // both settings off
    registry.SetInt("KeepDays", 9);
    testing::internal::CaptureStderr();
    EXPECT_EQ(retention.Sweep(dir), 1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"260305_101500_0011.avi", "260314_101000_0011.avi"}));
}

TEST_F(RecordingRetentionTest, SettingsOutsideTheirRangesReadAsOff) {
    registry.SetInt("KeepFreeMB", 99);
    registry.SetInt("KeepDays", 3651);
    EXPECT_EQ(RecordingRetention::KeepFreeMB(registry), 0);
    EXPECT_EQ(RecordingRetention::KeepDays(registry), 0);
    EXPECT_EQ(registry.GetString("KeepFreeMB"), "0");
    registry.SetInt("KeepFreeMB", 1000000);
    registry.SetInt("KeepDays", 1);
    EXPECT_EQ(RecordingRetention::KeepFreeMB(registry), 1000000);
    EXPECT_EQ(RecordingRetention::KeepDays(registry), 1);
}

// What recording kFiles files of 11 pictures onto a folder left behind.
struct RecordingRun {
    int64_t fileBytes = 0;
    int64_t leastFree = INT64_MAX;
    std::string said;  // stderr
    int recordings = 0;
    int deleted = 0;
};

// Records with FileMaxPages 10 and KeepFreeMB 100, the worker's turn for each
// picture, and notes the least available space on the way.
RecordingRun RecordFiles(Registry& registry, ManualClock& clock, const std::string& mountPoint, int files) {
    MjpegParams params;
    params.speedRec = 500;
    params.speedPlay = 2;
    params.fileMaxSize = 200;
    params.fileMaxPages = 10;
    params.enableFileMaxPages = 1;
    params.fileMaxTime = 60;
    registry.SetHandle("_MJPEG_PARAMS", &params);
    registry.SetText("MoveFilesPath", mountPoint.c_str());
    registry.SetInt("KeepFreeMB", 100);
    auto recorder = std::make_unique<AviRecorder>(registry, clock);
    const std::vector<uint8_t> jpeg = MakeJpeg(640, 480, 7);
    auto shot = std::make_unique<ShotData>();
    std::memcpy(shot->jpeg.get(), jpeg.data(), jpeg.size());
    shot->jpegBytes = static_cast<int32_t>(jpeg.size());
    shot->jpegWidth = 640;
    shot->jpegHeight = 480;
    shot->recording = 1;

    RecordingRun run;
    run.fileBytes = 11 * static_cast<int64_t>(jpeg.size() + 8) + 2560 + 8 + 16 * 11;
    testing::internal::CaptureStderr();
    for (int frame = 0; frame < files * 11; ++frame) {
        if (recorder->NeedsNewFile()) recorder->CloseFile();
        recorder->KeepRoom();
        clock.Advance(1);
        shot->captureTime = static_cast<double>(frame + 1);
        recorder->WriteFrame(*shot);
        run.leastFree = std::min(run.leastFree, AvailableSpace(mountPoint.c_str()));
    }
    recorder->CloseFile();
    run.said = testing::internal::GetCapturedStderr();
    for (const auto& entry : std::filesystem::directory_iterator(mountPoint)) {
        const std::string name = entry.path().filename().string();
        if (!RecordingRetention::IsRecordingName(name.c_str()) || name.compare(0, 4, "2501") == 0) continue;
        ++run.recordings;
        EXPECT_EQ(name.substr(14), "0011.avi") << "cut short: " << name;
    }
    for (std::size_t at = run.said.find("retention: deleted"); at != std::string::npos;
         at = run.said.find("retention: deleted", at + 1))
        ++run.deleted;
    return run;
}

// Recording with FileMaxPages 10 on a real 110 MiB tmpfs with KeepFreeMB 100:
// old files give way, no file is cut short for space, the foreign file stays.
TEST_F(RecordingRetentionTest, RecordingOnASmallTmpfsRunsOnForManyFilesAndKeepsTheLimit) {
    const std::string mountPoint = folder.Path();
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("vistrel-test", mountPoint.c_str(), "tmpfs", 0, "size=110m") != 0)
        GTEST_SKIP() << "mounting a tmpfs is not allowed here: " << std::strerror(errno);
    MakeFile(mountPoint + "foreign.dat", 4096);
    ASSERT_EQ(symlink("/etc/hostname", (mountPoint + "250101_000000_0002.avi").c_str()), 0);

    const int kFiles = 250;
    const RecordingRun run = RecordFiles(registry, clock, mountPoint, kFiles);
    RecordProperty("recordings_left", run.recordings);
    RecordProperty("recordings_deleted", run.deleted);
    RecordProperty("least_free_kib", static_cast<int>(run.leastFree / 1024));
    EXPECT_EQ(run.said.find("cannot"), std::string::npos) << run.said.substr(0, 2000);
    EXPECT_EQ(run.recordings + run.deleted, kFiles);
    EXPECT_GT(run.deleted, kFiles / 2);
    // Free space dips below the limit by at most the open file before old ones give way.
    EXPECT_GE(run.leastFree, 100 * kMiB - 2 * run.fileBytes);
    EXPECT_GE(AvailableSpace(mountPoint.c_str()), 100 * kMiB - run.fileBytes);
    EXPECT_TRUE(std::filesystem::exists(mountPoint + "foreign.dat"));
    EXPECT_TRUE(std::filesystem::is_symlink(mountPoint + "250101_000000_0002.avi"));
    umount2(mountPoint.c_str(), MNT_DETACH);
}

// An ext4 disk with 40 % kept for root, recorded onto by an ordinary user
// (this test run again through setpriv): the space that user may write is
// what counts, so old recordings give way and recording goes on.
TEST(RecordingRetentionExt4, TheSpaceAnOrdinaryUserMayWriteKeepsTheLimit) {
    setenv("TZ", "UTC", 1);
    tzset();
    Registry registry{true};
    ManualClock clock{kNow};
    const char* child = std::getenv("VISTREL_EXT4_FOLDER");
    if (child) {
        const int kFiles = 200;
        const RecordingRun run = RecordFiles(registry, clock, child, kFiles);
        RecordProperty("least_free_kib", static_cast<int>(run.leastFree / 1024));
        EXPECT_EQ(run.said.find("cannot"), std::string::npos) << run.said.substr(0, 2000);
        const auto oldLeft = std::count_if(
            std::filesystem::directory_iterator(child), std::filesystem::directory_iterator(),
            [](const auto& e) { return e.path().filename().string().compare(0, 4, "2501") == 0; });
        EXPECT_LT(oldLeft, 20) << "the old recordings give way";
        EXPECT_EQ(run.recordings + run.deleted, kFiles + 20 - oldLeft) << "and recording goes on";
        EXPECT_GE(run.leastFree, 100 * kMiB - 2 * run.fileBytes);
        EXPECT_GE(AvailableSpace(child), 100 * kMiB - run.fileBytes);
        return;
    }
    if (geteuid() != 0) GTEST_SKIP() << "loop mounts need root";
    TempFolder folder;
    TempFolder outside;
    const std::string mountPoint = folder.Path();
    const std::string image = outside.Path() + "disk.img";
    const std::string quiet = " >/dev/null 2>&1";
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        std::system(("truncate -s 300M " + image + " && mkfs.ext4 -q -F -m 40 " + image + quiet).c_str()) != 0 ||
        std::system(("mount -o loop " + image + " " + mountPoint + quiet).c_str()) != 0)
        GTEST_SKIP() << "a loop-mounted ext4 image is not possible here";
    // Twenty old recordings of 5 MiB, written out, leave the user less than the limit.
    std::vector<char> block(5 * kMiB, 'o');
    for (int i = 1; i <= 20; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "2501%02d_000000_0011.avi", i);
        const int fd = open((mountPoint + name).c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_EQ(write(fd, block.data(), block.size()), static_cast<ssize_t>(block.size()));
        close(fd);
    }
    ASSERT_EQ(chown(mountPoint.c_str(), 65534, 65534), 0);
    chmod(outside.Path().c_str(), 0755);
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string run = "VISTREL_EXT4_FOLDER=" + mountPoint +
                            " setpriv --reuid=65534 --regid=65534 --clear-groups " + self +
                            " --gtest_filter=RecordingRetentionExt4.TheSpaceAnOrdinaryUserMayWriteKeepsTheLimit";
    std::FILE* out = popen(run.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string said;
    char line[512];
    while (std::fgets(line, sizeof line, out)) said += line;
    EXPECT_EQ(pclose(out), 0) << said;
    EXPECT_NE(said.find("[  PASSED  ] 1 test"), std::string::npos) << said;
    umount2(mountPoint.c_str(), MNT_DETACH);
}

}  // namespace
