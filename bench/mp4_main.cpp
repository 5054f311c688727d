// vistrel-mp4bench: the H.264 MP4 recording beside the Motion-JPEG AVI of the
// same pictures, 640 x 480 at one picture every 200 ms for 60 s:
//  - file bytes (and MiB per hour) of both, for the moving test pattern and for
//    a still colour-bar picture with sensor noise (and the bars with their
//    corner of moving snow, for comparison);
//  - process CPU time per MP4 picture, encoder threads included, beside a bare
//    libjpeg-turbo encode of the same picture;
//  - the worker's time per hand-over, and the pictures dropped when both
//    cores are kept busy while pictures come in real time.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "recording/jpeg_encoder.h"
#include "recording/mp4_encoder_gst.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kIntervalMs = 200;
constexpr int kPictures = 60 * 1000 / kIntervalMs;
constexpr std::size_t kBytes = static_cast<std::size_t>(kWidth) * kHeight * 3;
constexpr int kAviHeadBytes = 2560;
constexpr int kAviPerPictureBytes = 8 + 16;  // chunk head and index entry

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// kPictures bottom-up BGR pictures from a GStreamer source description.
std::vector<std::vector<uint8_t>> Pictures(const std::string& source, bool noise) {
    const std::string text = source + " ! videoconvert ! video/x-raw,format=BGR,width=640,height=480,framerate=5/1"
                                      " ! appsink name=out sync=false";
    GstElement* pipeline = gst_parse_launch(text.c_str(), nullptr);
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    std::vector<std::vector<uint8_t>> pictures;
    uint32_t seed = 12345;
    while (static_cast<int>(pictures.size()) < kPictures) {
        GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(sink));
        if (sample == nullptr) break;
        GstMapInfo map;
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        gst_buffer_map(buffer, &map, GST_MAP_READ);
        std::vector<uint8_t> picture(kBytes);
        const std::size_t row = kWidth * 3;
        for (int y = 0; y < kHeight; ++y)
            std::memcpy(picture.data() + (kHeight - 1 - y) * row, map.data + y * row, row);
        gst_buffer_unmap(buffer, &map);
        gst_sample_unref(sample);
        if (noise) {
            // Sensor noise: each value moved by up to 3 either way (about 2 levels of deviation).
            for (uint8_t& value : picture) {
                seed = seed * 1664525u + 1013904223u;
                const int moved = value + static_cast<int>((seed >> 24) % 7) - 3;
                value = static_cast<uint8_t>(std::clamp(moved, 0, 255));
            }
        }
        pictures.push_back(std::move(picture));
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return pictures;
}

struct Run {
    int64_t aviBytes = 0;
    double jpegCpu = 0;  // per picture, seconds
    int64_t mp4Bytes = 0;
    double mp4Cpu = 0;   // per picture, seconds, encoder threads included
};

Run SizeAndCpu(H264FileEncoder& encoder, const std::vector<std::vector<uint8_t>>& pictures,
               const std::string& folder) {
    Run run;
    JpegEncoder jpeg;
    run.aviBytes = kAviHeadBytes + 8;  // head and "idx1"
    double start = CpuSeconds();
    for (const auto& picture : pictures) {
        jpeg.EncodePicture(picture.data(), kWidth, kHeight, JpegEncoder::kDefaultQuality);
        run.aviBytes += static_cast<int64_t>(jpeg.Sink().Length()) + kAviPerPictureBytes;
    }
    run.jpegCpu = (CpuSeconds() - start) / static_cast<double>(pictures.size());

    const std::string path = folder + "size.mp4";
    std::string error;
    start = CpuSeconds();
    if (!encoder.Open(path, kWidth, kHeight, kIntervalMs, error)) {
        std::fprintf(stderr, "mp4bench: %s\n", error.c_str());
        return run;
    }
    for (std::size_t i = 0; i < pictures.size(); ++i)
        encoder.Push(pictures[i].data(), kWidth, kHeight, static_cast<double>(i) * kIntervalMs / 1000.0, true);
    encoder.Close();
    run.mp4Cpu = (CpuSeconds() - start) / static_cast<double>(pictures.size());
    run.mp4Bytes = static_cast<int64_t>(std::filesystem::file_size(path));
    return run;
}

// Pictures handed over in real time while `hogs` threads spin; the worker's
// time per hand-over and the pictures dropped.
void RealTime(H264FileEncoder& encoder, const std::vector<std::vector<uint8_t>>& pictures,
              const std::string& folder, int hogs, int intervalMs) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> busy;
    for (int i = 0; i < hogs; ++i)
        busy.emplace_back([&stop] {
            volatile uint64_t n = 0;
            while (!stop.load(std::memory_order_relaxed)) n = n + 1;
        });
    std::string error;
    encoder.Open(folder + "load.mp4", kWidth, kHeight, intervalMs, error);
    const int count = 10 * 1000 / intervalMs;  // 10 s
    int dropped = 0;
    double total = 0;
    double longest = 0;
    const double begin = Now();
    for (int i = 0; i < count; ++i) {
        const double due = begin + i * intervalMs / 1000.0;
        while (Now() < due) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const double t = Now();
        if (!encoder.Push(pictures[static_cast<std::size_t>(i) % pictures.size()].data(), kWidth, kHeight, t, false))
            ++dropped;
        const double spent = Now() - t;
        total += spent;
        longest = std::max(longest, spent);
    }
    encoder.Close();
    stop = true;
    for (auto& thread : busy) thread.join();
    std::printf("real time, %d busy threads, a picture every %3d ms: hand-over %.3f ms mean, %.3f ms longest; "
                "%d of %d dropped\n",
                hogs, intervalMs, total / count * 1e3, longest * 1e3, dropped, count);
}

}  // namespace

int main() {
    gst_init(nullptr, nullptr);
    auto encoder = CreateGstH264Encoder();
    if (!encoder) {
        std::fprintf(stderr, "mp4bench: no H.264 encoder\n");
        return 1;
    }
    char pattern[] = "/tmp/vistrel-mp4bench-XXXXXX";
    const std::string folder = std::string(mkdtemp(pattern)) + "/";
    std::printf("encoder %s; 640 x 480, a picture every %d ms, %d pictures (60 s)\n", encoder->Name(), kIntervalMs,
                kPictures);
    struct Case {
        const char* name;
        const char* source;
        bool noise;
        double goal;
    };
    const Case cases[] = {
        {"test pattern (ball)", "videotestsrc pattern=ball", false, 0.15},
        // "smpte" has a corner of moving snow (a sixteenth of the picture new
        // every picture), which no encoder can keep small; "smpte75" is the
        // same bars, still.
        {"bars, snow + noise", "videotestsrc pattern=smpte", true, 0.0},
        {"still bars + noise", "videotestsrc pattern=smpte75", true, 0.25},
    };
    std::vector<std::vector<uint8_t>> last;
    for (const Case& c : cases) {
        last = Pictures(c.source, c.noise);
        const Run run = SizeAndCpu(*encoder, last, folder);
        const double hour = 3600.0 / 60.0 / 1048576.0;
        std::printf("%-20s AVI %8.2f MiB/h  MP4 %7.2f MiB/h  ratio %.3f", c.name, run.aviBytes * hour,
                    run.mp4Bytes * hour, static_cast<double>(run.mp4Bytes) / static_cast<double>(run.aviBytes));
        if (c.goal > 0)
            std::printf(" (goal <= %.2f)\n", c.goal);
        else
            std::printf(" (no goal)\n");
        std::printf("%-20s CPU per picture: JPEG %.2f ms, MP4 %.2f ms = %.1f x (goal <= 8 x); "
                    "%.1f %% of a core at 5 pictures/s\n",
                    c.name, run.jpegCpu * 1e3, run.mp4Cpu * 1e3, run.mp4Cpu / run.jpegCpu, run.mp4Cpu * 5 * 100);
    }
    RealTime(*encoder, last, folder, 0, kIntervalMs);
    RealTime(*encoder, last, folder, 2, kIntervalMs);
    RealTime(*encoder, last, folder, 2, 40);
    std::filesystem::remove_all(folder);
    return 0;
}
