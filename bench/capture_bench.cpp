// CPU the capture pipeline itself spends per frame at 640 x 480, 30 fps: every
// thread but the caller's (which only fetches), over a run of real frames.
#include <benchmark/benchmark.h>
#include <gst/gst.h>
#include <sys/resource.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/message_poster.h"
#include "core/registry.h"
#include "video/frame.h"
#include "video/frame_exchange.h"
#include "video/video_capture.h"

namespace {

constexpr int kFrames = 40;
constexpr const char* kRawFile = "/tmp/vistrel_capture_bench.bgr";

class BenchPoster : public MessagePoster {
public:
    void Post(uint32_t, uintptr_t, intptr_t) override {
        {
            std::lock_guard guard(mutex_);
            ++posts_;
        }
        changed_.notify_all();
    }
    void WaitBeyond(int after) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(500), [&] { return posts_ > after; });
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

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

// CPU seconds of every thread of the process except the calling one.
double OtherThreadsCpu() {
    rusage self{};
    rusage thread{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_THREAD, &thread);
    return Seconds(self.ru_utime) + Seconds(self.ru_stime) - Seconds(thread.ru_utime) - Seconds(thread.ru_stime);
}

void Report(benchmark::State& state, double cpu, int frames, double wall) {
    state.counters["cpu_us_per_frame"] = frames > 0 ? cpu * 1e6 / frames : 0.0;
    state.counters["cpu_percent_of_core"] = wall > 0 ? 100.0 * cpu / wall : 0.0;
    state.counters["fps"] = wall > 0 ? frames / wall : 0.0;
}

void RunCapture(benchmark::State& state, const char* id, const char* sourceSetting) {
    Registry registry(true);
    BenchPoster poster;
    registry.SetHandle("_MainHwnd", static_cast<MessagePoster*>(&poster));
    registry.SetInt("_VideoDataMsg", static_cast<int32_t>(kVideoDataMessage));
    registry.SetInt("VideoRotate", 0);
    registry.SetInt("VideoReflect", 0);
    if (sourceSetting) registry.SetText("VideoSource1", sourceSetting);
    registry.SetText("VideoDeviceId", id);
    registry.SetInt("VideoResolution", 1);
    FrameExchange exchange(registry);
    VideoCapture capture(registry);
    std::vector<uint8_t> picture(kFrameBytes);
    for (auto _ : state) {
        if (!capture.Connect()) {
            state.SkipWithError("cannot connect");
            return;
        }
        double time = 0.0;
        int32_t length = 0;
        while (length == 0) {
            const int seen = poster.Posts();
            exchange.FetchFrame(time, picture.data(), length);
            if (length == 0) poster.WaitBeyond(seen);
        }
        const int64_t first = capture.SamplesDelivered();
        const double cpu = OtherThreadsCpu();
        const auto start = std::chrono::steady_clock::now();
        while (capture.SamplesDelivered() - first < kFrames && !capture.Ended()) {
            const int seen = poster.Posts();
            exchange.FetchFrame(time, picture.data(), length);
            poster.WaitBeyond(seen);
        }
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        Report(state, OtherThreadsCpu() - cpu, static_cast<int>(capture.SamplesDelivered() - first), wall);
        capture.StopGraph();
    }
}

void BM_CaptureTestPattern(benchmark::State& state) { RunCapture(state, VideoCapture::kTestPatternId, nullptr); }

void BM_CaptureRawFile(benchmark::State& state) {
    const int fileFrames = kFrames + 10;
    if (FILE* file = std::fopen(kRawFile, "wb")) {
        std::vector<uint8_t> frame(kFrameBytes);
        for (int i = 0; i < fileFrames; ++i) {
            for (std::size_t b = 0; b < frame.size(); ++b) frame[b] = static_cast<uint8_t>(b * 7 + i * 13);
            std::fwrite(frame.data(), 1, frame.size(), file);
        }
        std::fclose(file);
    }
    const std::string pipeline = std::string("filesrc location=") + kRawFile +
                                 " ! rawvideoparse width=640 height=480 format=bgr framerate=30/1";
    char id[33];
    VideoCapture::DeviceIdentifier(pipeline.c_str(), id);
    RunCapture(state, id, ("Raw|" + pipeline).c_str());
    std::remove(kRawFile);
}

// Baseline: the live test source alone into a sink that does nothing.
void BM_CaptureBaselineSourceOnly(benchmark::State& state) {
    gst_init(nullptr, nullptr);
    for (auto _ : state) {
        GstElement* pipeline = gst_parse_launch(
            "videotestsrc is-live=true pattern=ball ! video/x-raw,format=BGR,width=640,height=480,framerate=30/1 ! "
            "fakesink",
            nullptr);
        if (!pipeline) {
            state.SkipWithError("cannot build");
            return;
        }
        gst_element_set_state(pipeline, GST_STATE_PLAYING);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const double cpu = OtherThreadsCpu();
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(kFrames * 1000 / 30));
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        Report(state, OtherThreadsCpu() - cpu, static_cast<int>(wall * 30 + 0.5), wall);
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
    }
}

BENCHMARK(BM_CaptureTestPattern)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CaptureRawFile)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CaptureBaselineSourceOnly)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
