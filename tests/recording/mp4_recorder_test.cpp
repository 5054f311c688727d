// The recorder's MP4 side with an encoder that only notes what it is given:
// the same names, counts and status as the AVI, the worker never held up.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <ctime>

#include "core/registry.h"
#include "recording/avi_recorder.h"
#include "recording/h264_file_encoder.h"
#include "recording/mjpeg_params.h"
#include "recording/rec_test_support.h"
#include "recording/shot_data.h"

namespace {

constexpr std::time_t kStart = 1773483300;  // 2026-03-14 10:15:00 UTC
constexpr int kWidth = 64;
constexpr int kHeight = 48;

class NotingEncoder final : public H264FileEncoder {
public:
    struct Picture {
        double time;
        bool waited;
        uint8_t firstBlue;
    };
    const char* Name() const override { return "noting"; }
    bool Open(const std::string&, int32_t width, int32_t height, int32_t, std::string&) override {
        ++opened;
        return width == kWidth && height == kHeight;
    }
    bool Push(const uint8_t* pixels, int32_t, int32_t, double time, bool wait) override {
        if (full && !wait) return false;
        pictures.push_back({time, wait, pixels[0]});
        return true;
    }
    bool Failed(std::string& why) override {
        why = cause;
        return !cause.empty();
    }
    int64_t Bytes() const override { return 1000; }
    bool Close() override { return cause.empty(); }

    int opened = 0;
    bool full = false;
    std::string cause;
    std::vector<Picture> pictures;
};

class Mp4RecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        registry.SetHandle("_MJPEG_PARAMS", &params);
        registry.SetHandle("_CL_H264Encoder", static_cast<H264FileEncoder*>(&encoder));
        registry.SetText("MoveFilesPath", folder.Path().c_str());
        params.speedRec = 1000;
        params.speedPlay = 2;
        params.recordingFormat = 1;
        shot.recording = 1;
        recorder = std::make_unique<AviRecorder>(registry, clock, [](const char*) { return int64_t{1} << 40; });
    }

    // The worker's turn with a picture of the given blue, taken at time.
    void Turn(double time, uint8_t blue) {
        if (recorder->NeedsNewFile()) recorder->CloseFile();
        const std::vector<uint8_t> jpeg = MakeJpeg(kWidth, kHeight, 1);
        std::memcpy(shot.jpeg.get(), jpeg.data(), jpeg.size());
        shot.jpegBytes = static_cast<int32_t>(jpeg.size());
        shot.jpegWidth = shot.frameWidth = kWidth;
        shot.jpegHeight = shot.frameHeight = kHeight;
        shot.frameBytes = kWidth * kHeight * 3;
        shot.picture[0] = blue;
        shot.captureTime = time;
        recorder->WriteFrame(shot);
    }

    Registry registry{true};
    MjpegParams params;
    TempFolder folder;
    ManualClock clock{kStart};
    ShotData shot;
    NotingEncoder encoder;
    std::unique_ptr<AviRecorder> recorder;
};

TEST_F(Mp4RecorderTest, KeptPicturesWaitTheirTurnLivePicturesAreDroppedAndCountedAndTheFileIsNamedByItsCount) {
    // A kept picture (seconds before motion) comes as a JPEG: decoded, with its own time, let in.
    const std::vector<uint8_t> kept = MakeJpeg(kWidth, kHeight, 2);
    encoder.full = true;
    ASSERT_TRUE(recorder->WritePicture(kept.data(), static_cast<int32_t>(kept.size()), kWidth, kHeight, 97.5));
    Turn(100.0, 7);  // the queue is full: dropped, never waited for
    encoder.full = false;
    Turn(101.0, 8);
    Turn(102.0, 9);
    ASSERT_EQ(encoder.pictures.size(), 3u);
    EXPECT_EQ(encoder.pictures[0].time, 97.5);
    EXPECT_TRUE(encoder.pictures[0].waited);
    EXPECT_EQ(encoder.pictures[1].time, 101.0);
    EXPECT_FALSE(encoder.pictures[1].waited);
    EXPECT_EQ(encoder.pictures[1].firstBlue, 8);  // the worker's own picture, not the JPEG
    EXPECT_EQ(recorder->Status().Read().dropped, 1);
    EXPECT_EQ(recorder->Frames(), 3);
    EXPECT_TRUE(recorder->IsMp4());
    recorder->CloseFile();
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"260314_101500_0003.mp4"});

    // The format is taken when a file opens.
    params.recordingFormat = 0;
    Turn(110.0, 1);
    EXPECT_FALSE(recorder->IsMp4());
    EXPECT_EQ(encoder.opened, 1);
}

TEST_F(Mp4RecorderTest, AnEncoderFailureEndsTheFileNamesTheCauseAndTheNextFileWaitsTwoSeconds) {
    Turn(100.0, 1);
    Turn(101.0, 1);
    ASSERT_TRUE(recorder->IsOpen());
    encoder.cause = "encoder went away";
    Turn(102.0, 1);  // the turn's check closes the file; the picture finds no file for 2 s
    const RecordingStatus::Snapshot status = recorder->Status().Read();
    EXPECT_EQ(status.failure, RecordingFailure::kEncoderFailed);
    EXPECT_EQ(status.failureFolder, "encoder went away");
    EXPECT_FALSE(recorder->IsOpen());
    encoder.cause.clear();
    clock.Advance(1);
    Turn(103.0, 1);
    EXPECT_FALSE(recorder->IsOpen());
    EXPECT_EQ(encoder.opened, 1);
    clock.Advance(1);
    Turn(104.0, 1);
    EXPECT_TRUE(recorder->IsOpen());
    EXPECT_EQ(encoder.opened, 2);
    EXPECT_EQ(recorder->Status().Read().failure, RecordingFailure::kNone);
}

}  // namespace
