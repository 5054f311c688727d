#include "video/video_capture.h"

#include <dirent.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "core/message_poster.h"
#include "core/registry.h"
#include "video/frame.h"
#include "video/frame_exchange.h"

namespace {

// The leak tracer must be chosen before GStreamer starts, so before main.
const bool kTracerChosen = [] { return setenv("GST_TRACERS", "leaks(filters=GstObject)", 1) == 0; }();

// Stands in for the main window: counts data messages and lets a test wait for them.
class WaitingPoster : public MessagePoster {
public:
    void Post(uint32_t message, uintptr_t, intptr_t lParam) override {
        {
            std::lock_guard guard(mutex_);
            if (message == kVideoDataMessage && lParam == 1) ++posts_;
        }
        changed_.notify_all();
    }
    int Posts() {
        std::lock_guard guard(mutex_);
        return posts_;
    }
    // True when more than after posts arrived within timeoutMs.
    bool WaitBeyond(int after, int timeoutMs) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return posts_ > after; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int posts_ = 0;
};

class CaptureTest : public ::testing::Test {
protected:
    CaptureTest() {
        registry.SetHandle("_MainHwnd", static_cast<MessagePoster*>(&poster));
        registry.SetInt("_VideoDataMsg", static_cast<int32_t>(kVideoDataMessage));
        registry.SetInt("VideoRotate", 0);
        registry.SetInt("VideoReflect", 0);
        registry.SetText("VideoDeviceId", VideoCapture::kTestPatternId);
        registry.SetInt("VideoResolution", 0);
        exchange = std::make_unique<FrameExchange>(registry);
        capture = std::make_unique<VideoCapture>(registry);
    }
    ~CaptureTest() override {
        capture.reset();
        exchange.reset();
    }

    void Select(const char* id, int resolution) {
        registry.SetText("VideoDeviceId", id);
        registry.SetInt("VideoResolution", resolution);
    }
    // Identifier of a configured source, as the list shows it.
    static std::string IdOf(const char* pipeline) {
        char id[33];
        VideoCapture::DeviceIdentifier(pipeline, id);
        return id;
    }
    // Waits for the next data message and fetches the picture; its length, 0 on timeout.
    int32_t FetchNext(int timeoutMs = 10000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            const int seen = poster.Posts();
            double time = 0.0;
            int32_t length = 0;
            exchange->FetchFrame(time, picture.data(), length);
            if (length > 0) return length;
            poster.WaitBeyond(seen, 500);
        }
        return 0;
    }
    const uint8_t* Pixel(int x, int rowInMemory) const {
        return picture.data() + (rowInMemory * exchange->Width() + x) * kFrameBytesPerPixel;
    }
    bool CamerasPresent() {
        DeviceList list;
        capture->ListDevices(list);
        return list.count > 2 && std::strcmp(list.entries[1].identifier, VideoCapture::kTestPatternId) != 0 &&
               registry.GetString("VideoSource1").empty();
    }

    Registry registry{true};
    WaitingPoster poster;
    std::unique_ptr<FrameExchange> exchange;
    std::unique_ptr<VideoCapture> capture;
    std::vector<uint8_t> picture = std::vector<uint8_t>(kFrameBytes);
};

bool IsRed(const uint8_t* bgr) { return bgr[0] < 40 && bgr[1] < 40 && bgr[2] > 200; }
bool IsBlack(const uint8_t* bgr) { return bgr[0] < 40 && bgr[1] < 40 && bgr[2] < 40; }

int ThreadCount() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
        closedir(dir);
    }
    return count;
}

GstTracer* LeaksTracer() {
    GstTracer* found = nullptr;
    GList* tracers = gst_tracing_get_active_tracers();
    for (GList* item = tracers; item; item = item->next) {
        if (std::strcmp(G_OBJECT_TYPE_NAME(item->data), "GstLeaksTracer") == 0) found = GST_TRACER(item->data);
    }
    g_list_free_full(tracers, gst_object_unref);
    return found;  // The tracer lives as long as GStreamer.
}

// GStreamer objects (elements, pads, buses, pools) alive now; -1 without the tracer.
int LiveGstObjects(GstTracer* tracer) {
    if (!tracer) return -1;
    GstStructure* info = nullptr;
    g_signal_emit_by_name(tracer, "get-live-objects", &info);
    if (!info) return -1;
    const GValue* list = gst_structure_get_value(info, "live-objects-list");
    // Left unfreed: in this GStreamer the list holds objects it has no reference to.
    return list ? static_cast<int>(gst_value_list_get_size(list)) : -1;
}

TEST(CaptureIdentifier, IsTheRfc1321DigestOfTheFirst255Bytes) {
    const struct {
        const char* text;
        const char* digest;
    } vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& v : vectors) {
        char out[33];
        VideoCapture::DeviceIdentifier(v.text, out);
        EXPECT_STREQ(out, v.digest) << '"' << v.text << '"';
    }
    const std::string longName(300, 'x');
    char full[33];
    char cut[33];
    VideoCapture::DeviceIdentifier(longName.c_str(), full);
    VideoCapture::DeviceIdentifier(longName.substr(0, 255).c_str(), cut);
    EXPECT_STREQ(full, cut);
    VideoCapture::DeviceIdentifier(longName.substr(0, 254).c_str(), cut);
    EXPECT_STRNE(full, cut);
}

TEST(CaptureResolution, UnknownValuesMeanDefault) {
    for (intptr_t value : {-1, 0, 6, 1000}) {
        int32_t w = -1, h = -1;
        VideoCapture::ResolutionSize(value, w, h);
        EXPECT_EQ(w, 0);
        EXPECT_EQ(h, 0);
        EXPECT_STREQ(VideoCapture::ResolutionName(value), "Default");
    }
    int32_t w = 0, h = 0;
    VideoCapture::ResolutionSize(2, w, h);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 240);
    EXPECT_STREQ(VideoCapture::ResolutionName(3), "160 x 120");
}

// The sizes above 640 x 480 reach the picture whole, and a quarter turn of
// the largest gives it upright.
TEST_F(CaptureTest, TestPatternGivesTheChosenSizeUpToFullHd) {
    struct Case {
        int resolution;
        int rotate;
        int32_t width;
        int32_t height;
    };
    picture.assign(kFrameCapacityBytes, 0);
    for (const Case c : {Case{4, 0, 1280, 720}, Case{5, 0, 1920, 1080}, Case{5, 1, 1080, 1920}}) {
        SCOPED_TRACE(::testing::Message() << "resolution " << c.resolution << " rotate " << c.rotate);
        registry.SetInt("VideoRotate", c.rotate);
        Select(VideoCapture::kTestPatternId, c.resolution);
        ASSERT_TRUE(capture->Connect());
        EXPECT_EQ(exchange->Width(), c.width);
        EXPECT_EQ(exchange->Height(), c.height);
        EXPECT_EQ(FetchNext(), c.width * c.height * kFrameBytesPerPixel);
        capture->StopGraph();
    }
}

TEST_F(CaptureTest, ListHoldsDefaultSourcesAndTestPatternAndPresenceFollowsTheSetting) {
    if (CamerasPresent()) GTEST_SKIP() << "a camera is attached";
    EXPECT_EQ(registry.Find<VideoCapture>("_VideoCapture"), capture.get());
    registry.SetText("VideoSource1", "Door|videotestsrc pattern=snow");
    registry.SetText("VideoSource3", "videotestsrc pattern=ball");  // No name: named after its key.
    registry.SetText("VideoSource4", "Empty|  ");
    DeviceList list;
    std::memset(&list, 0x5A, sizeof list);
    capture->ListDevices(list);
    ASSERT_EQ(list.count, 4);
    EXPECT_EQ(list.selected, 0);
    EXPECT_STREQ(list.entries[0].name, "Default");
    EXPECT_STREQ(list.entries[0].identifier, "Default");
    EXPECT_STREQ(list.entries[1].name, "Door");
    EXPECT_EQ(list.entries[1].identifier, IdOf("videotestsrc pattern=snow"));
    EXPECT_STREQ(list.entries[2].name, "VideoSource3");
    EXPECT_EQ(list.entries[2].identifier, IdOf("videotestsrc pattern=ball"));
    EXPECT_STREQ(list.entries[3].name, "Test pattern");
    EXPECT_STREQ(list.entries[3].identifier, "TestPattern");
    EXPECT_EQ(list.entries[4].name[0], '\0');  // Unused entries are cleared.

    registry.SetText("VideoDeviceId", "Default");
    EXPECT_FALSE(capture->SelectedDevicePresent());  // "Default" never stands for the test pattern.
    registry.SetText("VideoDeviceId", "TestPattern");
    EXPECT_TRUE(capture->SelectedDevicePresent());
    registry.SetText("VideoDeviceId", IdOf("videotestsrc pattern=ball").c_str());
    EXPECT_TRUE(capture->SelectedDevicePresent());
    registry.SetText("VideoDeviceId", IdOf("/dev/video0").c_str());
    EXPECT_FALSE(capture->SelectedDevicePresent());

    testing::internal::CaptureStderr();
    registry.SetText("VideoDeviceId", "Default");
    EXPECT_FALSE(capture->Connect());
    EXPECT_FALSE(capture->Connect());
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(errors, "capture: no camera found\n");  // Once, not on every retry.
}

TEST_F(CaptureTest, TestPatternDeliversEveryResolutionAndMoves) {
    const struct {
        int resolution;
        int32_t width;
        int32_t height;
    } cases[] = {{1, 640, 480}, {2, 320, 240}, {3, 160, 120}, {0, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.resolution);
        Select(VideoCapture::kTestPatternId, c.resolution);
        ASSERT_TRUE(capture->Connect());
        EXPECT_EQ(registry.GetString("_VideoDeviceStName"), "Test pattern");
        const int32_t length = FetchNext();
        if (c.width > 0) {
            EXPECT_EQ(exchange->Width(), c.width);
            EXPECT_EQ(exchange->Height(), c.height);
        } else {
            // The source picks its own size, but never one the frame cannot hold.
            EXPECT_GT(exchange->Width(), 0);
            EXPECT_LE(exchange->Width(), 640);
            EXPECT_GT(exchange->Height(), 0);
            EXPECT_LE(exchange->Height(), 480);
        }
        EXPECT_EQ(length, exchange->Width() * exchange->Height() * 3);
    }
    // The ball moves, so two pictures half a second apart differ.
    const std::vector<uint8_t> first(picture.begin(), picture.begin() + FetchNext());
    const auto later = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    int32_t length = 0;
    while (std::chrono::steady_clock::now() < later || length == 0) length = FetchNext();
    ASSERT_EQ(static_cast<std::size_t>(length), first.size());
    EXPECT_NE(std::memcmp(first.data(), picture.data(), first.size()), 0);
}

TEST_F(CaptureTest, RowsArriveBottomUpAndOddWidthsArrivePacked) {
    // Black pictures with a red band along the top edge: one of 4:3 scaled to
    // 640 x 480, one of an odd width, whose rows GStreamer pads, at its own size.
    const struct {
        const char* pipeline;
        int resolution;
        int32_t width;
        int32_t height;
    } cases[] = {
        {"videotestsrc pattern=black ! video/x-raw,width=160,height=100 ! videobox top=-20 fill=red", 1, 640, 480},
        {"videotestsrc pattern=black ! video/x-raw,width=175,height=79 ! videobox top=-20 fill=red", 0, 175, 99},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pipeline);
        registry.SetText("VideoSource2", (std::string("Band|") + c.pipeline).c_str());
        Select(IdOf(c.pipeline).c_str(), c.resolution);
        ASSERT_TRUE(capture->Connect());
        EXPECT_EQ(registry.GetString("_VideoDeviceStName"), "Band");
        ASSERT_GT(FetchNext(), 0);
        const int w = exchange->Width();
        const int h = exchange->Height();
        ASSERT_EQ(w, c.width);
        ASSERT_EQ(h, c.height);
        // Every column: rows shifted by padding would show as a slant.
        int wrong = 0;
        for (int x = 0; x < w; ++x) {
            wrong += !IsBlack(Pixel(x, 0)) + !IsRed(Pixel(x, h - 1)) + !IsBlack(Pixel(x, h / 2));
        }
        EXPECT_EQ(wrong, 0);
    }
}

TEST_F(CaptureTest, UnchangedSettingsDoNotReconnect) {
    Select(VideoCapture::kTestPatternId, 3);
    ASSERT_TRUE(capture->Connect());
    ASSERT_GT(FetchNext(), 0);
    EXPECT_FALSE(capture->Connect());
    EXPECT_TRUE(capture->Connected());
    EXPECT_GT(FetchNext(), 0);  // Still delivering.
    EXPECT_TRUE(capture->StopGraph());
    EXPECT_FALSE(capture->StopGraph());
    EXPECT_TRUE(capture->Connect());
}

TEST_F(CaptureTest, SourceThatEndsStopsDeliveringAndConnectsAgainAfterStop) {
    const char* pipeline = "videotestsrc num-buffers=30 ! video/x-raw,width=320,height=240,framerate=30/1";
    registry.SetText("VideoSource1", (std::string("Short|") + pipeline).c_str());
    Select(IdOf(pipeline).c_str(), 2);
    testing::internal::CaptureStderr();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(capture->Connect());
        ASSERT_TRUE(poster.WaitBeyond(poster.Posts(), 10000));
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!capture->Ended() && std::chrono::steady_clock::now() < end) poster.WaitBeyond(poster.Posts(), 200);
        ASSERT_TRUE(capture->Ended());
        EXPECT_LE(capture->SamplesDelivered(), 30);
        const int posts = poster.Posts();
        EXPECT_FALSE(poster.WaitBeyond(posts, 700));  // Stopped delivering.
        EXPECT_FALSE(capture->Connect());             // Nothing changed: the watchdog must stop it first.
        EXPECT_TRUE(capture->StopGraph());
    }
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(errors, "capture: \"Short\" stopped: end of stream\n");
}

TEST_F(CaptureTest, BrokenOrMissingSourcesFailOnceInWords) {
    registry.SetText("VideoSource1", "Broken|nosuchelement-vistrel ! fakesink");
    testing::internal::CaptureStderr();
    Select(IdOf("nosuchelement-vistrel ! fakesink").c_str(), 1);
    EXPECT_FALSE(capture->Connect());
    EXPECT_FALSE(capture->Connect());
    Select(IdOf("not configured").c_str(), 1);
    EXPECT_FALSE(capture->Connect());
    EXPECT_FALSE(capture->Connect());
    // A pipeline that fails as it starts, at Default resolution.
    registry.SetText("VideoSource2", "Gone|filesrc location=/nonexistent/vistrel.raw");
    Select(IdOf("filesrc location=/nonexistent/vistrel.raw").c_str(), 0);
    EXPECT_FALSE(capture->Connect());
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(capture->Connected());
    std::vector<std::string> lines;
    for (std::size_t at = 0, next; (next = errors.find('\n', at)) != std::string::npos; at = next + 1) {
        lines.push_back(errors.substr(at, next - at));
    }
    ASSERT_EQ(lines.size(), 3u) << errors;
    EXPECT_EQ(lines[0].rfind("capture: \"Broken\": ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], "capture: camera " + IdOf("not configured") + " not found");
    EXPECT_EQ(lines[2].rfind("capture: ", 0), 0u) << lines[2];
    EXPECT_NE(lines[2].find("Gone"), std::string::npos) << lines[2];
    // The failures leave nothing behind: the test pattern still connects.
    Select(VideoCapture::kTestPatternId, 3);
    EXPECT_TRUE(capture->Connect());
    EXPECT_GT(FetchNext(), 0);
}

TEST_F(CaptureTest, ConnectStopCyclesLeaveNoThreadsOrObjects) {
    Select(VideoCapture::kTestPatternId, 3);
    auto cycle = [&] {
        ASSERT_TRUE(capture->Connect());
        ASSERT_GT(FetchNext(), 0);
        ASSERT_TRUE(capture->StopGraph());
    };
    for (int i = 0; i < 3; ++i) cycle();
    const int threads = ThreadCount();
    GstTracer* tracer = LeaksTracer();
    EXPECT_NE(tracer, nullptr) << "no leak tracer: only threads are counted";
    const int objects = LiveGstObjects(tracer);
    for (int i = 0; i < 50; ++i) {
        SCOPED_TRACE(i);
        cycle();
        if (HasFatalFailure()) return;
    }
    // GStreamer keeps a small pool of idle streaming threads; a leak would add one per cycle.
    EXPECT_LE(ThreadCount(), threads + 2);
    // Objects of the last stop may still be on their way out on a loaded machine;
    // a leak would leave about fifty, so a few in flight are tolerated.
    int live = LiveGstObjects(tracer);
    for (int wait = 0; wait < 40 && live > objects; ++wait) {
        g_usleep(50000);
        live = LiveGstObjects(tracer);
    }
    EXPECT_LE(live, objects + 3);
}

}  // namespace
