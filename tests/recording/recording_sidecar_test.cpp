// The recorder's side files with real files: the peak level of each second,
// and a side-file folder that cannot be made.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>

#include "core/registry.h"
#include "recording/avi_recorder.h"
#include "recording/mjpeg_params.h"
#include "recording/rec_test_support.h"
#include "recording/recording_sidecar.h"
#include "recording/shot_data.h"

namespace {

struct Picture {
    double time;
    int32_t level;
};

// Records pictures (64 x 48, with their pixels, each due) into one file and closes it; its final path.
std::string Record(AviRecorder& recorder, ShotData& shot, const std::vector<Picture>& pictures) {
    const std::vector<uint8_t> jpeg = MakeJpeg(64, 48, 3);
    std::memcpy(shot.jpeg.get(), jpeg.data(), jpeg.size());
    shot.jpegBytes = static_cast<int32_t>(jpeg.size());
    shot.jpegWidth = shot.frameWidth = 64;
    shot.jpegHeight = shot.frameHeight = 48;
    shot.frameBytes = 64 * 48 * 3;
    std::memset(shot.picture.get(), 0x80, static_cast<std::size_t>(shot.frameBytes));
    shot.recording = 1;
    for (const Picture& picture : pictures) {
        shot.captureTime = picture.time;
        shot.motionLevel = picture.level;
        recorder.WriteFrame(shot);
    }
    recorder.CloseFile();
    return recorder.FinalPath();
}

TEST(RecordingSidecar, LevelsHoldEachSecondsPeakAndAnUnwritableFolderIsSaidOnceAndSparesTheRecordings) {
    setenv("TZ", "UTC", 1);
    tzset();
    Registry registry(true);
    MjpegParams params;
    params.speedRec = 500;
    params.speedPlay = 2;
    TempFolder folder;
    registry.SetHandle("_MJPEG_PARAMS", &params);
    registry.SetText("MoveFilesPath", folder.Path().c_str());
    ManualClock clock(1773483300);
    AviRecorder recorder(registry, clock, [](const char*) { return int64_t{1} << 40; });
    auto shot = std::make_unique<ShotData>();

    // A file where the side-file folder should be: two recordings, one line said.
    WriteFileBytes(folder.Path() + ".thumbs", {'x'});
    testing::internal::CaptureStderr();
    Record(recorder, *shot, {{1.0, 10}, {1.5, 20}, {2.0, 30}});
    clock.Advance(10);
    Record(recorder, *shot, {{10.0, 10}, {10.5, 20}});
    recorder.Sidecar().Flush();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"260314_101500_0003.avi", "260314_101510_0002.avi"}));
    const std::string line = "recording: cannot write the side file";
    ASSERT_NE(said.find(line), std::string::npos) << said;
    EXPECT_EQ(said.find(line, said.find(line) + 1), std::string::npos) << said;

    // Seconds: 0 (peak 30), 1 (7), 2 (no picture), 3 (60 after a picture of unknown level).
    std::remove((folder.Path() + ".thumbs").c_str());
    clock.Advance(10);
    const std::string third = Record(recorder, *shot, {{20.0, 5}, {20.5, 30}, {21.0, 7}, {23.0, -1}, {23.5, 60}});
    recorder.Sidecar().Flush();
    const std::string levels = folder.Path() + ".thumbs/" + third.substr(third.rfind('/') + 1) + ".levels";
    EXPECT_EQ(ReadFileBytes(levels), (std::vector<uint8_t>{30, 7, 0, 60}));
}

}  // namespace
