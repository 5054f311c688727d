// The light guard alone, with the detector, and with real pictures: files
// made by ffmpeg played through the capture pipeline into the frame exchange.
#include "recording/light_guard.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "core/message_poster.h"
#include "core/registry.h"
#include "recording/mjpeg_params.h"
#include "recording/rec_test_support.h"
#include "recording/recording_options.h"
#include "video/frame.h"
#include "video/frame_exchange.h"
#include "video/video_capture.h"

namespace {

// Counts how often the detector fires (the hold restarts at 10) and the levels it was shown.
struct DetectorLog : RecordingOptionsView {
    int fires = 0;
    int highestLevel = 0;
    void HoldChanged(int32_t hold) override { fires += hold == RecordingOptions::kHoldSeconds; }
    void LevelChanged(int32_t level) override { highestLevel = std::max(highestLevel, level); }
};

// The detector as the program has it: its own settings and the shared block.
struct Detector {
    explicit Detector(bool guard) {
        registry.SetHandle("_MJPEG_PARAMS", &params);
        registry.SetInt("DetectorLightGuard", guard ? 1 : 0);
        made = std::make_unique<RecordingOptions>(registry);
        made->SetView(&log);
    }
    Registry registry{true};
    MjpegParams params;
    DetectorLog log;
    std::unique_ptr<RecordingOptions> made;
    RecordingOptions& options() { return *made; }
};

TEST(LightGuard, IsOffByDefaultAndStoresItsSwitch) {
    Registry registry(true);
    LightGuard guard(registry);
    EXPECT_FALSE(guard.Enabled());
    EXPECT_EQ(registry.GetString("DetectorLightGuard"), "0");
    EXPECT_FALSE(guard.Holds(100, 100)) << "off, a whole-picture change is motion";
    guard.SetEnabled(true);
    EXPECT_EQ(registry.GetString("DetectorLightGuard"), "1");
    registry.SetText("DetectorLightGuard", "7");
    EXPECT_FALSE(LightGuard(registry).Enabled()) << "out of range means the default";
}

TEST(LightGuard, AChangeOfMoreThanSixtyPercentHoldsItselfAndTheNextFivePictures) {
    Detector detector(true);
    RecordingOptions& options = detector.options();
    options.SetLevel(100, 600, 1000);
    EXPECT_EQ(options.Hold(), RecordingOptions::kHoldSeconds) << "exactly 60 % is still motion";
    detector.log.fires = 0;

    options.SetLevel(100, 601, 1000);
    EXPECT_EQ(options.Level(), 100) << "the level is shown as measured";
    EXPECT_EQ(detector.log.highestLevel, 100);
    for (int picture = 0; picture < LightGuard::kQuietPictures; ++picture) options.SetLevel(100, 10, 1000);
    EXPECT_EQ(detector.log.fires, 0);
    options.SetLevel(100, 10, 1000);
    EXPECT_EQ(detector.log.fires, 1) << "the sixth picture after the change fires again";

    // A second change within the quiet pictures starts them again; nothing counted is no change.
    options.SetLevel(100, 1000, 1000);
    options.SetLevel(100, 10, 1000);
    options.SetLevel(100, 1000, 1000);
    for (int picture = 0; picture < LightGuard::kQuietPictures; ++picture) options.SetLevel(100, 0, 0);
    EXPECT_EQ(detector.log.fires, 1);
    options.SetLevel(100, 0, 0);
    EXPECT_EQ(detector.log.fires, 2);
}

// Stands in for the main window: lets the test wait for the next data message.
class WaitingPoster : public MessagePoster {
public:
    void Post(uint32_t, uintptr_t, intptr_t) override {
        {
            std::lock_guard guard(mutex_);
            ++posts_;
        }
        changed_.notify_all();
    }
    void WaitBeyond(int after, int timeoutMs) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return posts_ > after; });
    }
    int Posts() {
        std::lock_guard guard(mutex_);
        return posts_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int posts_ = 0;
};

class LightGuardCaptureTest : public ::testing::Test {
protected:
    // A 320 x 240 room at 10 pictures a second for 4 seconds, drawn by ffmpeg
    // and passed through filters, as a Motion-JPEG file.
    std::string MakeFile(const char* name, const std::string& filters) {
        const std::string path = folder.Path() + name;
        const std::string room =
            "color=c=0x607080:s=320x240:r=10:d=4,format=yuv444p,"
            "drawbox=x=20:y=20:w=120:h=90:color=0x905040:t=fill,"
            "drawbox=x=180:y=120:w=100:h=80:color=0x40a070:t=fill";
        const std::string output = RunCommand("ffmpeg -v error -y -f lavfi -i '" + room + "' " + filters +
                                              " -c:v mjpeg -q:v 2 " + path);
        EXPECT_EQ(output, "") << path;
        return path;
    }
    // Plays the file through the capture pipeline; every picture after the
    // first (which is compared with black) goes to both detectors.
    void Play(const std::string& path, Detector& guarded, Detector& unguarded) {
        Registry registry(true);
        WaitingPoster poster;
        registry.SetHandle("_MainHwnd", static_cast<MessagePoster*>(&poster));
        registry.SetInt("_VideoDataMsg", static_cast<int32_t>(kVideoDataMessage));
        const std::string pipeline = "filesrc location=" + path;
        registry.SetText("VideoSource1", ("File|" + pipeline).c_str());
        char id[33];
        VideoCapture::DeviceIdentifier(pipeline.c_str(), id);
        registry.SetText("VideoDeviceId", id);
        registry.SetInt("VideoResolution", 0);
        FrameExchange exchange(registry);
        VideoCapture capture(registry);
        ASSERT_TRUE(capture.Connect());
        std::vector<uint8_t> picture(kFrameBytes);
        int pictures = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < end) {
            const int seen = poster.Posts();
            double time = 0;
            int32_t length = 0;
            const int level = exchange.FetchFrame(time, picture.data(), length);
            if (length > 0 && pictures++ > 0) {
                guarded.options().SetLevel(level, exchange.ChangedBytes(), exchange.CountedBytes());
                unguarded.options().SetLevel(level, exchange.ChangedBytes(), exchange.CountedBytes());
            }
            if (length == 0 && capture.Ended()) break;
            if (length == 0) poster.WaitBeyond(seen, 200);
        }
        EXPECT_TRUE(capture.Ended());
        EXPECT_GT(pictures, 20);
        capture.StopGraph();
    }
    TempFolder folder;
};

TEST_F(LightGuardCaptureTest, LightsSwitchingDoNotFireTheGuardedDetector) {
    // Brighter by a quarter in every odd second: three switches of the whole picture.
    const std::string path = MakeFile("lights.avi", "-vf \"eq=brightness=0.25:enable='gte(mod(t,2),1)'\"");
    Detector guarded(true);
    Detector unguarded(false);
    Play(path, guarded, unguarded);
    EXPECT_GE(unguarded.log.fires, 2);
    EXPECT_EQ(guarded.log.fires, 0);
    EXPECT_EQ(guarded.log.highestLevel, 100) << "the switches are still shown at their level";
}

TEST_F(LightGuardCaptureTest, AnObjectOfATenthOfThePictureFiresWithAndWithoutTheGuard) {
    // A light box of 100 x 77 pixels moving 40 pixels a picture across the room.
    const std::string path = MakeFile("moving.avi",
                                      "-f lavfi -i 'color=c=0xe0e0d0:s=100x77:r=10:d=4' -filter_complex "
                                      "\"[0][1]overlay=x='mod(n*40,220)':y=100\"");
    Detector guarded(true);
    Detector unguarded(false);
    Play(path, guarded, unguarded);
    EXPECT_GE(unguarded.log.fires, 20);
    EXPECT_EQ(guarded.log.fires, unguarded.log.fires);
}

}  // namespace
