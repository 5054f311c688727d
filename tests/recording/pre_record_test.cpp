#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/registry.h"
#include "recording/avi_recorder.h"
#include "recording/mjpeg_params.h"
#include "recording/pre_record_ring.h"
#include "recording/rec_test_support.h"
#include "recording/recording_options.h"
#include "recording/shot_data.h"
#include "recording/shot_worker.h"
#include "recording/shutter_sound.h"
#include "video/frame_exchange.h"

namespace {

constexpr std::time_t kStart = 1773483300;  // 2026-03-14 10:15:00 UTC
constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFrameBytes = kWidth * kHeight * 3;

class SilentShutter : public ShutterPlayer {
public:
    void PlayShutter() override {}
};

// The payloads of the "00db" chunks of a finished file, in file order.
std::vector<std::vector<uint8_t>> Chunks(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    std::vector<std::vector<uint8_t>> chunks;
    std::size_t at = AviRecorder::kFirstChunkOffset;
    while (at + 8 <= bytes.size() && CodeAt(bytes, at) == "00db") {
        const uint32_t n = U32At(bytes, at + 4);
        chunks.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at + 8),
                            bytes.begin() + static_cast<std::ptrdiff_t>(at + 8 + n));
        at += 8 + n;
    }
    return chunks;
}

class PreRecordTest : public testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        registry.SetHandle("_MJPEG_PARAMS", &params);
        registry.SetText("MoveFilesPath", folder.Path().c_str());
        params.quality = 90;
        params.speedRec = 1000;
        params.speedPlay = 4;
        params.fileMaxSize = 200;
        params.fileMaxPages = 500;
        params.fileMaxTime = 60;
    }
    std::string OnlyRecording() {
        const std::vector<std::string> files = folder.Files();
        EXPECT_EQ(files.size(), 1u);
        return files.empty() ? std::string() : folder.Path() + files[0];
    }

    Registry registry{true};
    MjpegParams params;
    TempFolder folder;
    ManualClock clock{kStart};
};

// Pictures of many sizes through a small ring: what comes out is the newest
// run of what went in, byte for byte, in order, followed by the live picture.
TEST_F(PreRecordTest, KeepsTheNewestPicturesThatFitInOrderAcrossTheWrap) {
    AviRecorder recorder(registry, clock, [](const char*) { return int64_t{1} << 40; });
    auto shot = std::make_unique<ShotData>();
    PreRecordRing ring(20000);
    ring.SetSeconds(PreRecordRing::kMaxSeconds);
    std::mt19937 random(7);
    std::vector<std::vector<uint8_t>> offered;
    shot->jpegWidth = 64;
    shot->jpegHeight = 48;
    for (int i = 0; i < 200; ++i) {
        std::vector<uint8_t> picture(300 + random() % 3000, static_cast<uint8_t>(i));
        picture[0] = static_cast<uint8_t>(i >> 8);
        std::memcpy(shot->jpeg.get(), picture.data(), picture.size());
        shot->jpegBytes = static_cast<int32_t>(picture.size());
        shot->captureTime = i * 0.1;  // several a second: only one a second is due
        ring.Offer(*shot, recorder);
        if (shot->lastWrittenTime == shot->captureTime) offered.push_back(picture);
        ASSERT_LE(ring.BytesKept(), 20000u);
    }
    ASSERT_EQ(offered.size(), 20u);
    const int kept = ring.Count();
    ASSERT_GE(kept, 5);
    const std::vector<uint8_t> live(999, 0xEE);
    std::memcpy(shot->jpeg.get(), live.data(), live.size());
    shot->jpegBytes = static_cast<int32_t>(live.size());
    shot->captureTime = 21.0;
    shot->recording = 1;
    ring.Offer(*shot, recorder);
    recorder.WriteFrame(*shot);
    EXPECT_EQ(ring.Count(), 0);
    ring.Offer(*shot, recorder);  // still recording: nothing more comes out
    recorder.CloseFile();

    const std::vector<std::vector<uint8_t>> chunks = Chunks(OnlyRecording());
    ASSERT_EQ(chunks.size(), static_cast<std::size_t>(kept) + 1);
    for (int i = 0; i < kept; ++i) EXPECT_EQ(chunks[i], offered[offered.size() - kept + i]) << i;
    EXPECT_EQ(chunks.back(), live);
}

// A raw picture (4:2:0, 115200 bytes at 320 x 240) is kept only while the
// seconds' worth of them fit: else it is encoded, so no second is lost.
TEST_F(PreRecordTest, PicturesAreKeptRawOnlyWhileTheSecondsOfThemFit) {
    AviRecorder recorder(registry, clock, [](const char*) { return int64_t{1} << 40; });
    auto shot = std::make_unique<ShotData>();
    shot->frameWidth = kWidth;
    shot->frameHeight = kHeight;
    shot->frameBytes = kFrameBytes;
    shot->captureTime = 5.0;
    struct Case {
        int seconds, speedRec;
        bool raw;
    } cases[] = {{3, 1000, true}, {4, 1000, false}, {1, 500, true}, {2, 500, false}};
    for (const Case c : cases) {
        SCOPED_TRACE(::testing::Message() << c.seconds << " s at " << c.speedRec << " ms");
        params.speedRec = c.speedRec;
        PreRecordRing ring(4 * 115200);
        ring.SetSeconds(c.seconds);
        shot->lastWrittenTime = 0.0;
        EXPECT_EQ(ring.OfferRaw(*shot, recorder), c.raw);
        EXPECT_EQ(ring.Count(), c.raw ? 1 : 0);
    }
}

// The worker's ring with the real pieces around it: a GStreamer source whose
// background changes at a known moment, the frame exchange's motion level,
// the detector with its hold, the worker's turn, and ffmpeg reading the file;
// with the pictures handed over for the seconds before motion only, which are
// kept raw, and with each encoded as it comes.
class PreRecordFormTest : public PreRecordTest, public testing::WithParamInterface<bool> {};
TEST_P(PreRecordFormTest, TheFileStartsTheSetSecondsBeforeThePictureThatTriggered) {
    constexpr int kFps = 4;
    constexpr int kCut = 40;  // first picture on grey, at 10 s
    constexpr int kPreRecord = 3;
    const std::string source = folder.Path() + "source.bgr";
    const std::string caps = " ! video/x-raw,width=320,height=240,framerate=4/1 ! c. ";
    ASSERT_EQ(
        std::system(("gst-launch-1.0 -q concat name=c ! videoconvert ! video/x-raw,format=BGR ! filesink "
                     "location=" +
                     source + " videotestsrc num-buffers=40 pattern=ball motion=hsweep" + caps +
                     "videotestsrc num-buffers=60 pattern=ball motion=hsweep background-color=0xff808080" +
                     caps)
                        .c_str()),
        0);
    const std::vector<uint8_t> frames = ReadFileBytes(source);
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(100 * kFrameBytes));
    std::remove(source.c_str());

    registry.SetInt("GoDetector", 50);
    registry.SetInt("ModeActivation", RecordingOptions::kModeDetector);
    registry.SetInt("PreRecordSeconds", kPreRecord);
    registry.SetInt("SpeedRec", 1000);  // one picture a second
    auto shot = std::make_unique<ShotData>();
    registry.SetHandle("_MYSHOTDATA", shot.get());
    RecordingOptions options(registry, clock);
    FrameExchange exchange(registry);
    exchange.SetSourceSize(kWidth, kHeight);
    AviRecorder recorder(registry, clock, [](const char*) { return int64_t{1} << 40; });
    SilentShutter shutter;
    ShotWorker worker(registry, shutter);

    // The camera ran before: the first picture is no motion.
    exchange.PutSample(0.0, frames.data(), kFrameBytes);
    double primed = 0;
    int32_t primedLength = 0;
    exchange.FetchFrame(primed, exchange.Display(), primedLength);

    // The window's tick every 250 ms and its hand-over of every picture, on a simulated clock.
    int ticks = 0;
    for (int i = 0; i < 100; ++i) {
        const double time = static_cast<double>(i) / kFps;
        for (; ticks * 0.25 <= time; ++ticks) {
            clock.Set(kStart + static_cast<std::time_t>(ticks * 0.25));
            options.Tick();
        }
        exchange.PutSample(time, frames.data() + static_cast<std::size_t>(i) * kFrameBytes, kFrameBytes);
        double fetched = 0;
        int32_t length = 0;
        const int32_t level = exchange.FetchFrame(fetched, exchange.Display(), length);
        ASSERT_EQ(length, kFrameBytes);
        options.SetLevel(level);
        std::memcpy(shot->picture.get(), exchange.Display(), kFrameBytes);
        shot->frameBytes = kFrameBytes;
        shot->frameWidth = kWidth;
        shot->frameHeight = kHeight;
        shot->captureTime = fetched;
        shot->quality = 90;
        shot->recording.store(options.RecordingActive());
        shot->beforeMotionOnly = GetParam() && options.RecordingActive() == 0;
        shot->pending.store(1, std::memory_order_release);
        worker.SetPreRecordSeconds(options.PreRecordSeconds());
        worker.RunTurn();
    }
    worker.StopWorker();

    const std::string file = OnlyRecording();
    const ProbeResult probe = Probe(file);
    EXPECT_EQ(probe.decodeMessages, "");
    const std::string gray = folder.Path() + "frames.gray";
    ASSERT_EQ(
        std::system(
            ("ffmpeg -nostdin -v error -i '" + file + "' -f rawvideo -pix_fmt gray '" + gray + "'").c_str()),
        0);
    const std::vector<uint8_t> decoded = ReadFileBytes(gray);
    const std::size_t pixels = kWidth * kHeight;
    ASSERT_EQ(decoded.size() % pixels, 0u);
    ASSERT_EQ(static_cast<int>(decoded.size() / pixels), probe.frames);

    // Each recorded picture found again in the source by its background and its ball's place.
    auto sourceBall = [&](int i) {
        double sum = 0, count = 0;
        for (std::size_t p = 0; p < pixels; ++p) {
            const uint8_t* bgr = frames.data() + static_cast<std::size_t>(i) * kFrameBytes + p * 3;
            if (bgr[0] > 200 && bgr[1] > 200 && bgr[2] > 200) sum += static_cast<double>(p % kWidth), ++count;
        }
        return sum / count;
    };
    std::vector<int> found;
    for (std::size_t f = 0; f < decoded.size() / pixels; ++f) {
        const uint8_t* picture = decoded.data() + f * pixels;
        double sum = 0, count = 0, level = 0;
        for (std::size_t p = 0; p < pixels; ++p) {
            level += picture[p];
            if (picture[p] > 200) sum += static_cast<double>(p % kWidth), ++count;
        }
        const bool grey = level / static_cast<double>(pixels) > 90;
        const double ball = sum / count;
        int best = -1;
        for (int i = grey ? kCut : 0; i < (grey ? 100 : kCut); ++i)
            if (best < 0 || std::fabs(sourceBall(i) - ball) < std::fabs(sourceBall(best) - ball)) best = i;
        found.push_back(best);
    }
    ASSERT_FALSE(found.empty());
    // Three seconds before the trigger, then one picture a second, none twice, none missing.
    EXPECT_EQ(found.front(), kCut - kPreRecord * kFps) << testing::PrintToString(found);
    for (std::size_t k = 1; k < found.size(); ++k) EXPECT_EQ(found[k] - found[k - 1], kFps) << k;
    EXPECT_TRUE(std::find(found.begin(), found.end(), kCut) != found.end());
    // The detector holds for 10 s after the trigger: live pictures up to 19 s.
    EXPECT_EQ(found.back(), kCut + 9 * kFps);
}

INSTANTIATE_TEST_SUITE_P(Forms, PreRecordFormTest, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "KeptRaw" : "KeptEncoded"; });

TEST_F(PreRecordTest, OnlyTheDetectorModesKeepSecondsBeforeMotion) {
    registry.SetInt("PreRecordSeconds", 31);
    RecordingOptions options(registry, clock);
    EXPECT_EQ(options.PreRecordSetting(), PreRecordRing::kDefaultSeconds);  // out of range: the default
    options.SetPreRecordSeconds(7);
    EXPECT_EQ(registry.GetString("PreRecordSeconds"), "7");
    for (int32_t mode = 0; mode <= 5; ++mode) {
        options.SetMode(mode);
        EXPECT_EQ(options.PreRecordSeconds(), mode == 2 || mode == 4 || mode == 5 ? 7 : 0) << mode;
    }
}

}  // namespace
