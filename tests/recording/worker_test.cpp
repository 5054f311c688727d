#include "recording/shot_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/registry.h"
#include "core/save_request.h"
#include "core/thread_start.h"
#include "jpeg_test_pictures.h"
#include "recording/avi_recorder.h"
#include "recording/background_shutter.h"
#include "recording/mjpeg_params.h"
#include "recording/rec_test_support.h"
#include "recording/shot_data.h"
#include "recording/shutter_sound.h"
#include "web/web_server.h"

namespace {

using namespace std::chrono_literals;

class CountingShutter : public ShutterPlayer {
public:
    void PlayShutter() override { plays.fetch_add(1); }
    std::atomic<int> plays{0};
};

// Holds the worker inside its photo until the test lets it go.
class BlockingShutter : public ShutterPlayer {
public:
    void PlayShutter() override {
        std::unique_lock lock(mutex_);
        entered_ = true;
        changed_.notify_all();
        changed_.wait_for(lock, 60s, [this] { return released_; });
    }
    bool WaitEntered() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [this] { return entered_; });
    }
    void Release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false;
    bool released_ = false;
};

// Takes as long as the shutter sound on a sound device: 9,220 samples at 22,255 a second.
class SlowShutter : public ShutterPlayer {
public:
    explicit SlowShutter(std::atomic<int>& plays) : plays_(plays) {}
    void PlayShutter() override {
        std::this_thread::sleep_for(std::chrono::microseconds(9220LL * 1000000 / 22255));
        plays_.fetch_add(1);
    }

private:
    std::atomic<int>& plays_;
};

// Waits up to a generous time for a condition that another thread makes true.
template <class Condition>
bool Eventually(Condition condition, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

int CountEnding(const std::vector<std::string>& names, const std::string& suffix) {
    int count = 0;
    for (const std::string& n : names)
        if (n.size() >= suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0) ++count;
    return count;
}

// The modules of the program's creation sequence that the worker meets.
class ShotWorkerTest : public testing::Test {
protected:
    ShotWorkerTest() {
        registry_.SetHandle("_MJPEG_PARAMS", &params_);
        shot_->Register(registry_);
        registry_.SetText("MoveFilesPath", move_.Path().c_str());
        registry_.SetText("ShotFilesPath", photos_.Path().c_str());
        params_.speedPlay.store(4);
        recorder_ = std::make_unique<AviRecorder>(registry_, SystemClock::Instance(),
                                                  [](const char*) { return int64_t{1} << 40; });
        web_ = std::make_unique<WebServer>(registry_);
        worker_ = std::make_unique<ShotWorker>(registry_, shutter_);
    }
    ~ShotWorkerTest() override {
        worker_.reset();
        FailThreadCreationForTest(false);
    }

    // The window's side of the hand-over: fill while pending is 0, then set it and wake.
    void Offer(const std::vector<uint8_t>& picture, int w, int h, double time, int quality = 50) {
        ASSERT_TRUE(Idle());
        std::memcpy(shot_->picture.get(), picture.data(), picture.size());
        shot_->frameBytes = static_cast<int32_t>(picture.size());
        shot_->frameWidth = w;
        shot_->frameHeight = h;
        shot_->captureTime = time;
        shot_->quality = quality;
        shot_->pending.store(1, std::memory_order_release);
        shot_->Wake();
    }
    bool Idle() {
        return Eventually([this] { return shot_->pending.load(std::memory_order_acquire) == 0; });
    }
    std::vector<uint8_t> Published() {
        std::vector<uint8_t> bytes(ShotData::kBufferBytes);
        bytes.resize(static_cast<size_t>(shot_->board.CopyNewest(bytes.data())));
        return bytes;
    }

    TempFolder move_;
    TempFolder photos_;
    Registry registry_{true};
    MjpegParams params_;
    std::unique_ptr<ShotData> shot_ = std::make_unique<ShotData>();
    CountingShutter shutter_;
    std::unique_ptr<AviRecorder> recorder_;
    std::unique_ptr<WebServer> web_;
    std::unique_ptr<ShotWorker> worker_;
};

TEST_F(ShotWorkerTest, PhotoRequestWaitsForThePictureAndHoldsItsBlueGreenRedBytes) {
    worker_->StartWorker();
    shot_->photoRequest.store(1);
    worker_->Wake();
    std::this_thread::sleep_for(350ms);  // several turns of the loop without a picture
    EXPECT_TRUE(photos_.Files().empty());
    EXPECT_EQ(shutter_.plays.load(), 0);
    EXPECT_EQ(shot_->photoRequest.load(), 1);

    const std::vector<uint8_t> picture = jpegtest::PhotoLikePicture(320, 240);
    Offer(picture, 320, 240, 1.0);
    ASSERT_TRUE(Idle());
    EXPECT_EQ(shot_->photoRequest.load(), 0);
    EXPECT_EQ(shutter_.plays.load(), 1);
    EXPECT_EQ(registry_.GetString("ShotCounterFiles"), "1");
    const std::vector<uint8_t> file = ReadFileBytes(photos_.Path() + "00000.bmp");
    ASSERT_EQ(file.size(), 230454u);
    EXPECT_TRUE(std::vector<uint8_t>(file.begin() + 54, file.end()) == picture);
    EXPECT_FALSE(Published().empty());

    // Later pictures make no photo of their own.
    Offer(picture, 320, 240, 2.0);
    ASSERT_TRUE(Idle());
    EXPECT_EQ(photos_.Files().size(), 1u);
    EXPECT_EQ(shutter_.plays.load(), 1);
}

// Counter 99999 names the photo and wraps to 0; the next JPEG photo passes
// over an old 00000.jpg, leaving it whole, and takes 00001.jpg with exactly
// the bytes that were published and recorded.
TEST_F(ShotWorkerTest, CounterWrapsPastTakenNamesAndJpegPhotoIsThePublishedAndRecordedPicture) {
    registry_.SetInt("ShotCounterFiles", 99999);
    WriteFileBytes(photos_.Path() + "00000.jpg", std::vector<uint8_t>(200000, 0x55));
    worker_->StartWorker();
    const std::vector<uint8_t> first = jpegtest::PhotoLikePicture(160, 120, 3);
    shot_->photoRequest.store(1);
    Offer(first, 160, 120, 1.0);
    ASSERT_TRUE(Idle());
    EXPECT_EQ(ReadFileBytes(photos_.Path() + "99999.bmp").size(), 160u * 120u * 3u + 54u);
    EXPECT_EQ(registry_.GetString("ShotCounterFiles"), "0");

    params_.speedRec.store(0);
    shot_->recording.store(1);
    shot_->photoType.store(1);
    shot_->photoRequest.store(1);
    Offer(jpegtest::PhotoLikePicture(160, 120, 4), 160, 120, 2.0);
    ASSERT_TRUE(Idle());
    const std::vector<uint8_t> published = Published();
    Offer(first, 160, 120, 3.0);  // a second frame, so the video file is kept
    ASSERT_TRUE(Idle());
    EXPECT_EQ(registry_.GetString("ShotCounterFiles"), "2");
    EXPECT_EQ(shutter_.plays.load(), 2);
    EXPECT_TRUE(ReadFileBytes(photos_.Path() + "00000.jpg") == std::vector<uint8_t>(200000, 0x55));

    const std::vector<uint8_t> photo = ReadFileBytes(photos_.Path() + "00001.jpg");
    ASSERT_GT(photo.size(), 1000u);
    EXPECT_TRUE(photo == published);
    EXPECT_TRUE(jpegtest::DecodeJpeg(photo.data(), photo.size()).ok);

    worker_->StopWorker();
    const std::vector<std::string> videos = move_.Files();
    ASSERT_EQ(videos.size(), 1u);
    const std::vector<uint8_t> avi = ReadFileBytes(move_.Path() + videos[0]);
    ASSERT_GT(avi.size(), AviRecorder::kFirstChunkOffset + 8 + photo.size());
    EXPECT_EQ(CodeAt(avi, AviRecorder::kFirstChunkOffset), "00db");
    ASSERT_EQ(U32At(avi, AviRecorder::kFirstChunkOffset + 4), photo.size());
    const auto frame = avi.begin() + AviRecorder::kFirstChunkOffset + 8;
    EXPECT_TRUE(std::vector<uint8_t>(frame, frame + static_cast<long>(photo.size())) == photo);
}

// Stands in for the settings file: counts the writes the worker asks for.
class CountingSave : public SaveRequest {
public:
    std::atomic<int> writes{0};

protected:
    bool WriteSettings() override {
        ++writes;
        return true;
    }
};

// Each photo asks for the counter to be saved without writing it on the
// worker; with every name taken the photo says so and writes nothing.
TEST_F(ShotWorkerTest, PhotoCounterIsAskedToBeSavedAndAFullFolderWritesNothing) {
    CountingSave save;
    registry_.SetHandle("_SaveRequest", static_cast<SaveRequest*>(&save));
    worker_->StartWorker();
    shot_->photoType.store(1);
    shot_->photoRequest.store(1);
    Offer(jpegtest::PhotoLikePicture(160, 120, 2), 160, 120, 1.0);
    ASSERT_TRUE(Idle());
    EXPECT_EQ(registry_.GetString("ShotCounterFiles"), "1");
    EXPECT_TRUE(save.Asked());
    EXPECT_EQ(save.writes.load(), 0) << "the worker wrote the settings itself";
    EXPECT_TRUE(save.SaveIfAsked());
    EXPECT_TRUE(save.SaveIfAsked());
    EXPECT_EQ(save.writes.load(), 1) << "one request, one write";

    // Every one of the 100,000 names taken (00000.jpg by the photo above).
    for (int n = 1; n <= ShotWorker::kMaxPhotoNumber; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "%05d.jpg", n);
        WriteFileBytes(photos_.Path() + name, {});
    }
    shot_->photoRequest.store(1);
    Offer(jpegtest::PhotoLikePicture(160, 120, 3), 160, 120, 2.0);
    ASSERT_TRUE(Idle());
    EXPECT_EQ(worker_->PhotoFailures(), 1);
    EXPECT_EQ(registry_.GetString("ShotCounterFiles"), "1");
    EXPECT_EQ(ReadFileBytes(photos_.Path() + "00001.jpg").size(), 0u);
    EXPECT_GT(ReadFileBytes(photos_.Path() + "00000.jpg").size(), 1000u);
    EXPECT_EQ(shutter_.plays.load(), 1);
    worker_->StopWorker();
}

TEST_F(ShotWorkerTest, TwoSplitRequestsCloseOneFileAndCreateNone) {
    // Three frames recorded before the worker thread runs.
    params_.speedRec.store(0);
    shot_->recording.store(1);
    JpegEncoder encoder;
    for (int i = 0; i < 3; ++i) {
        const std::vector<uint8_t> picture = jpegtest::PhotoLikePicture(64, 48, i + 1);
        std::memcpy(shot_->picture.get(), picture.data(), picture.size());
        shot_->frameBytes = static_cast<int32_t>(picture.size());
        shot_->frameWidth = 64;
        shot_->frameHeight = 48;
        shot_->captureTime = i;
        shot_->quality = 50;
        ASSERT_EQ(encoder.Encode(*shot_), 0);
        recorder_->WriteFrame(*shot_);
    }
    ASSERT_TRUE(recorder_->IsOpen());
    worker_->RequestSplit();
    worker_->RequestSplit();
    worker_->StartWorker();
    ASSERT_TRUE(Eventually([this] { return CountEnding(move_.Files(), ".avi") == 1; }));
    std::this_thread::sleep_for(300ms);  // a few more turns must not open or close anything
    worker_->StopWorker();
    const std::vector<std::string> files = move_.Files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].substr(files[0].size() - 9), "_0003.avi");
}

// Nothing wakes the worker here: only its own wake-ups, every 100 ms while a file is open, find the limit.
TEST_F(ShotWorkerTest, FileLimitIsHonouredWithoutPictures) {
    params_.speedRec.store(0);
    params_.enableFileMaxPages.store(1);
    params_.fileMaxPages.store(2);
    shot_->recording.store(1);
    JpegEncoder encoder;
    const std::vector<uint8_t> picture = jpegtest::PhotoLikePicture(64, 48);
    for (int i = 0; i < 3; ++i) {
        std::memcpy(shot_->picture.get(), picture.data(), picture.size());
        shot_->frameBytes = static_cast<int32_t>(picture.size());
        shot_->frameWidth = 64;
        shot_->frameHeight = 48;
        shot_->captureTime = i;
        ASSERT_EQ(encoder.Encode(*shot_), 0);
        recorder_->WriteFrame(*shot_);
    }
    worker_->StartWorker();
    // Well within the one-second wake of a worker with no file open.
    EXPECT_TRUE(Eventually([this] { return CountEnding(move_.Files(), "_0003.avi") == 1; }, 900ms));
    EXPECT_EQ(CountEnding(move_.Files(), ".tmp"), 0);
}

TEST_F(ShotWorkerTest, StopWithoutAFileOnlyEndsTheThreadEvenRightAfterTheStart) {
    for (int round = 0; round < 20; ++round) {
        worker_->StartWorker();
        ASSERT_TRUE(worker_->Running());
        const auto start = std::chrono::steady_clock::now();
        worker_->StopWorker();
        // A stop given before the thread ran its first line is not lost.
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
        EXPECT_FALSE(worker_->Running());
    }
    worker_->StopWorker();
    EXPECT_TRUE(move_.Files().empty());
    EXPECT_TRUE(photos_.Files().empty());
    EXPECT_EQ(shot_->jpegWidth, 0);
}

TEST_F(ShotWorkerTest, LibjpegErrorLeavesStatusOneThePreviousPictureAndARunningWorker) {
    params_.speedRec.store(0);
    shot_->recording.store(1);
    worker_->StartWorker();
    const std::vector<uint8_t> good = jpegtest::PhotoLikePicture(80, 60);
    Offer(good, 80, 60, 1.0);
    ASSERT_TRUE(Idle());
    const std::vector<uint8_t> before = Published();
    ASSERT_FALSE(before.empty());

    // A valid byte count whose shape libjpeg refuses (taller than 65500 rows).
    testing::internal::CaptureStderr();
    shot_->photoRequest.store(1);
    Offer(std::vector<uint8_t>(ShotData::kBufferBytes, 7), 1, ShotData::kBufferBytes / 3, 2.0);
    ASSERT_TRUE(Idle());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("recording: "), std::string::npos);
    EXPECT_EQ(shot_->encodeStatus, 1);
    EXPECT_TRUE(Published() == before);
    EXPECT_EQ(shutter_.plays.load(), 0) << "a failed picture is not photographed";
    EXPECT_EQ(shot_->photoRequest.load(), 1);
    EXPECT_TRUE(worker_->Running());

    Offer(jpegtest::PhotoLikePicture(80, 60, 9), 80, 60, 3.0);
    ASSERT_TRUE(Idle());
    EXPECT_EQ(shot_->encodeStatus, 0);
    EXPECT_FALSE(Published() == before);
    EXPECT_EQ(shutter_.plays.load(), 1);
    worker_->StopWorker();
    // Only the two good pictures were recorded.
    ASSERT_EQ(CountEnding(move_.Files(), "_0002.avi"), 1);
}

// StopWorker gives up after 10 s while the thread is busy; the file it is
// writing stays open until the thread itself closes it on its way out.
TEST_F(ShotWorkerTest, StopThatTimesOutLeavesTheFileToTheThread) {
    BlockingShutter shutter;
    auto worker = std::make_unique<ShotWorker>(registry_, shutter);
    params_.speedRec.store(0);
    shot_->recording.store(1);
    worker->StartWorker();
    const std::vector<uint8_t> picture = jpegtest::PhotoLikePicture(64, 48);
    Offer(picture, 64, 48, 1.0);
    Offer(picture, 64, 48, 2.0);
    ASSERT_TRUE(Idle());
    shot_->photoRequest.store(1);
    Offer(picture, 64, 48, 3.0);
    ASSERT_TRUE(shutter.WaitEntered());

    testing::internal::CaptureStderr();
    worker->StopWorker();
    EXPECT_NE(testing::internal::GetCapturedStderr().find("did not stop"), std::string::npos);
    EXPECT_TRUE(worker->Running());
    EXPECT_EQ(CountEnding(move_.Files(), ".tmp"), 1);
    EXPECT_EQ(CountEnding(move_.Files(), ".avi"), 0);

    shutter.Release();
    EXPECT_TRUE(Eventually([this] { return CountEnding(move_.Files(), "_0003.avi") == 1; }));
    worker.reset();
    EXPECT_EQ(CountEnding(move_.Files(), ".tmp"), 0);
}

// The window's side at 25 frames a second while recording at SpeedRec 200,
// with a photo on the way: the sound plays beside the worker, so the picture
// after the photo is recorded on time.
TEST_F(ShotWorkerTest, APhotoWhileRecordingLeavesNoRecordedPictureLate) {
    std::atomic<int> plays{0};
    BackgroundShutter shutter(std::make_unique<SlowShutter>(plays));
    auto worker = std::make_unique<ShotWorker>(registry_, shutter);
    params_.speedRec.store(200);
    shot_->recording.store(1);
    worker->StartWorker();
    const std::vector<uint8_t> picture = jpegtest::PhotoLikePicture(64, 48);
    const auto start = std::chrono::steady_clock::now();
    std::vector<double> recorded;  // capture times of the recorded pictures
    double handed = -1.0;
    double slot = shot_->lastWrittenTime;
    for (int frame = 0; frame < 75; ++frame) {
        std::this_thread::sleep_until(start + frame * 40ms);
        if (shot_->pending.load(std::memory_order_acquire) != 0) continue;  // The window skips a busy worker.
        if (handed >= 0.0 && shot_->lastWrittenTime != slot) recorded.push_back(handed);
        slot = shot_->lastWrittenTime;
        handed = -1.0;
        const double time = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (frame == 25) shot_->photoRequest.store(1);
        if (!shot_->demand.Wanted(*shot_, time, 1, 200)) continue;
        std::memcpy(shot_->picture.get(), picture.data(), picture.size());
        shot_->frameBytes = static_cast<int32_t>(picture.size());
        shot_->frameWidth = 64;
        shot_->frameHeight = 48;
        shot_->captureTime = handed = time;
        shot_->pending.store(1, std::memory_order_release);
        shot_->Wake();
    }
    ASSERT_TRUE(Eventually([&] { return plays.load() == 1; }));
    EXPECT_EQ(photos_.Files().size(), 1u);
    ASSERT_GE(recorded.size(), 10u);
    for (std::size_t i = 1; i < recorded.size(); ++i)
        EXPECT_LE(recorded[i] - recorded[i - 1], 0.4) << "picture " << i << " is more than one interval late";
    worker.reset();
}

TEST_F(ShotWorkerTest, FailedThreadStartProcessesNothing) {
    FailThreadCreationForTest(true);
    worker_->StartWorker();
    FailThreadCreationForTest(false);
    EXPECT_FALSE(worker_->Running());
    shot_->pending.store(1);
    shot_->Wake();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(shot_->pending.load(), 1);
    EXPECT_EQ(shot_->jpegWidth, 0);
}

}  // namespace
