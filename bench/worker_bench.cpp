// The output worker's cost per 640 x 480 picture against a bare libjpeg-turbo encode.
#include <benchmark/benchmark.h>

#include <jpeglib.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "../tests/recording/jpeg_test_pictures.h"
#include "core/event_commands.h"
#include "core/registry.h"
#include "recording/avi_recorder.h"
#include "recording/jpeg_encoder.h"
#include "recording/mjpeg_params.h"
#include "recording/pre_record_ring.h"
#include "recording/recording_sidecar.h"
#include "recording/shot_data.h"
#include "recording/shot_worker.h"
#include "recording/shutter_sound.h"
#include "web/web_server.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kQuality = 50;

// The blocks the worker finds, as the window registers them, recording into folder.
void RegisterBlocks(Registry& registry, MjpegParams& params, ShotData& shot, const char* folder) {
    registry.SetHandle("_MJPEG_PARAMS", &params);
    registry.SetHandle("_MYSHOTDATA", &shot);
    registry.SetText("MoveFilesPath", folder);
}

const std::vector<uint8_t>& Frame() {
    static const std::vector<uint8_t> frame = jpegtest::PhotoLikePicture(kWidth, kHeight, 11);
    return frame;
}

// The baseline: one reused libjpeg object, blue-green-red input, one
// bottom-up scanline per call, into a preallocated memory buffer.
void Encode_LibjpegBGR(benchmark::State& state) {
    const std::vector<uint8_t>& frame = Frame();
    std::vector<unsigned char> out(ShotData::kBufferBytes);
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    cinfo.image_width = kWidth;
    cinfo.image_height = kHeight;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    unsigned long size = 0;
    for (auto _ : state) {
        unsigned char* buffer = out.data();
        size = out.size();
        jpeg_mem_dest(&cinfo, &buffer, &size);
        jpeg_set_quality(&cinfo, kQuality, TRUE);
        jpeg_start_compress(&cinfo, TRUE);
        while (cinfo.next_scanline < cinfo.image_height) {
            JSAMPROW row = const_cast<JSAMPROW>(&frame[static_cast<size_t>(kHeight - cinfo.next_scanline - 1) *
                                                       kWidth * 3]);
            jpeg_write_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_compress(&cinfo);
        benchmark::DoNotOptimize(buffer);
    }
    state.counters["jpeg_bytes"] = static_cast<double>(size);
    jpeg_destroy_compress(&cinfo);
}
BENCHMARK(Encode_LibjpegBGR)->Unit(benchmark::kMillisecond);

// The literal recipe for comparison: swap to red-green-blue in place, JCS_RGB,
// 4,096-byte destination; the picture is swapped back outside the timing.
void Encode_SwapRgb4K(benchmark::State& state) {
    struct Destination {
        jpeg_destination_mgr pub;
        unsigned char* out;
        size_t length;
        JOCTET* buffer;
    };
    static constexpr size_t kChunk = 4096;
    std::vector<uint8_t> frame = Frame();
    std::vector<unsigned char> out(1048576);
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    Destination destination{};
    destination.out = out.data();
    destination.pub.init_destination = [](j_compress_ptr c) {
        auto* d = reinterpret_cast<Destination*>(c->dest);
        d->buffer = static_cast<JOCTET*>((*c->mem->alloc_small)(reinterpret_cast<j_common_ptr>(c), JPOOL_IMAGE, kChunk));
        d->pub.next_output_byte = d->buffer;
        d->pub.free_in_buffer = kChunk;
    };
    destination.pub.empty_output_buffer = [](j_compress_ptr c) -> boolean {
        auto* d = reinterpret_cast<Destination*>(c->dest);
        std::memcpy(d->out + d->length, d->buffer, kChunk);
        d->length += kChunk;
        d->pub.next_output_byte = d->buffer;
        d->pub.free_in_buffer = kChunk;
        return TRUE;
    };
    destination.pub.term_destination = [](j_compress_ptr c) {
        auto* d = reinterpret_cast<Destination*>(c->dest);
        const size_t n = kChunk - d->pub.free_in_buffer;
        std::memcpy(d->out + d->length, d->buffer, n);
        d->length += n;
    };
    cinfo.dest = &destination.pub;
    cinfo.image_width = kWidth;
    cinfo.image_height = kHeight;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    for (auto _ : state) {
        destination.length = 0;
        for (size_t i = 0; i < frame.size(); i += 3) std::swap(frame[i], frame[i + 2]);
        jpeg_set_quality(&cinfo, kQuality, TRUE);
        jpeg_start_compress(&cinfo, TRUE);
        while (cinfo.next_scanline < cinfo.image_height) {
            JSAMPROW row = &frame[static_cast<size_t>(kHeight - cinfo.next_scanline - 1) * kWidth * 3];
            jpeg_write_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_compress(&cinfo);
        state.PauseTiming();
        for (size_t i = 0; i < frame.size(); i += 3) std::swap(frame[i], frame[i + 2]);
        state.ResumeTiming();
    }
    state.counters["jpeg_bytes"] = static_cast<double>(destination.length);
    jpeg_destroy_compress(&cinfo);
}
BENCHMARK(Encode_SwapRgb4K)->Unit(benchmark::kMillisecond);

// The program's encoder alone: the same work plus the copy into the JPEG buffer.
void Encode_JpegEncoder(benchmark::State& state) {
    const std::vector<uint8_t>& frame = Frame();
    auto shot = std::make_unique<ShotData>();
    std::memcpy(shot->picture.get(), frame.data(), frame.size());
    shot->frameBytes = static_cast<int32_t>(frame.size());
    shot->frameWidth = kWidth;
    shot->frameHeight = kHeight;
    shot->quality = kQuality;
    JpegEncoder encoder;
    for (auto _ : state) benchmark::DoNotOptimize(encoder.Encode(*shot));
    state.counters["jpeg_bytes"] = shot->jpegBytes;
}
BENCHMARK(Encode_JpegEncoder)->Unit(benchmark::kMillisecond);

class SilentShutter : public ShutterPlayer {
public:
    void PlayShutter() override {}
};

// One whole turn of the worker for the same frame: the file-limit check,
// encode, publish and append to an open AVI file. Arg 0: without the side
// files, 1: with them (levels of each second, the thumbnail of each file);
// arg 1: pictures a file (its close, and the side files' writing, shared
// among them), 0 one file for all.
void Worker_Frame(benchmark::State& state) {
    char pattern[] = "/tmp/vistrel_worker_bench_XXXXXX";
    if (!mkdtemp(pattern)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string folder = std::string(pattern) + "/";
    {
        Registry registry(true);
        MjpegParams params;
        params.speedPlay.store(4);
        if (state.range(1) > 0) {
            params.enableFileMaxPages.store(1);
            params.fileMaxPages.store(static_cast<int32_t>(state.range(1)) - 1);
        }
        auto shot = std::make_unique<ShotData>();
        RegisterBlocks(registry, params, *shot, folder.c_str());
        // Files of ten seconds each by the pictures' own clock, so their names never meet.
        ManualClock clock(std::time(nullptr));
        const std::time_t base = clock.Now();
        AviRecorder recorder(registry, clock);
        recorder.Sidecar().SetEnabled(state.range(0) != 0);
        WebServer web(registry);
        SilentShutter shutter;
        ShotWorker worker(registry, shutter);
        shot->recording.store(1);
        const std::vector<uint8_t>& frame = Frame();
        // The window's copy is not the worker's work; the encoder leaves the picture as it was.
        std::memcpy(shot->picture.get(), frame.data(), frame.size());
        shot->frameBytes = static_cast<int32_t>(frame.size());
        shot->frameWidth = kWidth;
        shot->frameHeight = kHeight;
        shot->quality = kQuality;
        shot->activation = static_cast<int32_t>(Activation::kDetector);
        double time = 0.0;
        for (auto _ : state) {
            shot->captureTime = time;
            clock.Set(base + static_cast<std::time_t>(time));
            shot->motionLevel = static_cast<int32_t>(time) % 100;
            time += 0.2;
            shot->pending.store(1, std::memory_order_release);
            worker.RunTurn();
        }
        state.counters["jpeg_bytes"] = shot->jpegBytes;
        state.counters["frames_recorded"] = recorder.Frames();
        worker.StopWorker();
    }
    std::filesystem::remove_all(pattern);
}
BENCHMARK(Worker_Frame)->Args({0, 0})->Args({1, 0})->Args({0, 50})->Args({1, 50})->Unit(benchmark::kMillisecond);

// The side files' share of the turn, alone: a picture's level noted (arg 0),
// and once a file its thumbnail made from the 640 x 480 picture, encoded and
// both side files written and synced (arg 1; levels of a minute; the worker
// hands this to the side files' thread, so it is CPU of the process, not of
// the worker's turn).
void Sidecar_Work(benchmark::State& state) {
    char pattern[] = "/tmp/vistrel_sidecar_bench_XXXXXX";
    if (!mkdtemp(pattern)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string path = std::string(pattern) + "/260101_120000_0300.avi";
    const std::vector<uint8_t>& frame = Frame();
    {
        RecordingSidecar sidecar;
        sidecar.Start(Activation::kDetector);
        sidecar.Note(0.0, 5, frame.data(), kWidth, kHeight);
        double time = 0.0;
        for (auto _ : state) {
            if (state.range(0) == 0) {
                time += 0.2;
                sidecar.Note(std::fmod(time, 3600.0), static_cast<int32_t>(time) % 100, frame.data(), kWidth,
                             kHeight);
            } else {
                sidecar.Start(Activation::kDetector);
                sidecar.Note(0.0, 5, frame.data(), kWidth, kHeight);
                sidecar.Note(59.5, 40, nullptr, 0, 0);
                benchmark::DoNotOptimize(sidecar.Write(path));
                sidecar.Flush();
            }
        }
        state.counters["thumb_width"] = sidecar.ThumbWidth();
    }
    std::filesystem::remove_all(pattern);
}
BENCHMARK(Sidecar_Work)->Arg(0)->Arg(1);

// The process's resident memory, for the ring's share beside the baseline's.
double ResidentKib() {
    long pages = 0;
    long resident = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(statm);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1024.0;
}

// The worker's turn beside the same turn with what watching adds:
// arg 0 recording off, nothing kept (baseline); 1 recording off, every picture
// due and kept by the pre-record ring (its most work); 2 recording on while a
// command that sleeps is fired 20 times a second; 3 recording on, nothing
// fired (its baseline).
void Worker_Watch(benchmark::State& state) {
    char pattern[] = "/tmp/vistrel_worker_bench_XXXXXX";
    if (!mkdtemp(pattern)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string folder = std::string(pattern) + "/";
    const int64_t variant = state.range(0);
    {
        Registry registry(true);
        MjpegParams params;
        params.speedPlay.store(4);
        auto shot = std::make_unique<ShotData>();
        RegisterBlocks(registry, params, *shot, folder.c_str());
        registry.SetText("OnPhotoSaved", "sleep 0.1");
        EventCommands events(registry);
        AviRecorder recorder(registry);
        WebServer web(registry);
        SilentShutter shutter;
        ShotWorker worker(registry, shutter);
        shot->recording.store(variant >= 2 ? 1 : 0);
        worker.SetPreRecordSeconds(variant == 1 ? 30 : 0);
        const std::vector<uint8_t>& frame = Frame();
        std::memcpy(shot->picture.get(), frame.data(), frame.size());
        shot->frameBytes = static_cast<int32_t>(frame.size());
        shot->frameWidth = kWidth;
        shot->frameHeight = kHeight;
        shot->quality = kQuality;
        double time = 0.0;
        auto nextEvent = std::chrono::steady_clock::now();
        for (auto _ : state) {
            shot->captureTime = time;
            time += 1.0;
            shot->pending.store(1, std::memory_order_release);
            worker.RunTurn();
            // 20 events a second, fired from the worker's own thread as file closes and photos are.
            if (variant == 2 && std::chrono::steady_clock::now() >= nextEvent) {
                events.Fire("OnPhotoSaved", "/tmp/x.jpg");
                nextEvent += std::chrono::milliseconds(50);
            }
        }
        state.counters["kept"] = worker.PreRecord().Count();
        state.counters["kept_kib"] = static_cast<double>(worker.PreRecord().BytesKept()) / 1024.0;
        state.counters["resident_kib"] = ResidentKib();
        state.counters["frames_recorded"] = recorder.Frames();
        state.counters["commands_started"] = static_cast<double>(events.Started());
        state.counters["commands_dropped"] = static_cast<double>(events.Dropped());
        worker.StopWorker();
    }
    std::filesystem::remove_all(pattern);
}
BENCHMARK(Worker_Watch)->Arg(0)->Arg(1)->Arg(3)->Arg(2)->Unit(benchmark::kMillisecond);


// The ring's own work per kept picture (a worker-sized JPEG), beside a bare copy of the same bytes.
void PreRecord_Keep(benchmark::State& state) {
    const std::vector<uint8_t> jpeg(20284, 0x5A);
    PreRecordRing ring;
    ring.SetSeconds(PreRecordRing::kMaxSeconds);
    double time = 0.0;
    for (auto _ : state) {
        ring.Keep(jpeg.data(), static_cast<int32_t>(jpeg.size()), kWidth, kHeight, time);
        time += 0.2;
    }
    state.counters["kept"] = ring.Count();
}
BENCHMARK(PreRecord_Keep);

// The worker's turn for a picture that only the seconds before motion want
// (detector armed, nothing recording, no client), one due a turn, at
// width x height (args 0, 1): encoded and kept (arg 2 = 0), as before, or
// kept raw (arg 2 = 1). Against each other in the same run.
void Worker_BeforeMotion(benchmark::State& state) {
    const auto width = static_cast<int32_t>(state.range(0));
    const auto height = static_cast<int32_t>(state.range(1));
    Registry registry(true);
    MjpegParams params;
    params.speedRec.store(500);
    auto shot = std::make_unique<ShotData>();
    RegisterBlocks(registry, params, *shot, "/tmp/");
    AviRecorder recorder(registry);
    SilentShutter shutter;
    ShotWorker worker(registry, shutter);
    worker.SetPreRecordSeconds(PreRecordRing::kDefaultSeconds);
    const std::vector<uint8_t> frame = jpegtest::PhotoLikePicture(width, height, 11);
    std::memcpy(shot->picture.get(), frame.data(), frame.size());
    shot->frameBytes = static_cast<int32_t>(frame.size());
    shot->frameWidth = width;
    shot->frameHeight = height;
    shot->quality = kQuality;
    shot->beforeMotionOnly = state.range(2) != 0;
    double time = 0.0;
    for (auto _ : state) {
        shot->captureTime = time;
        time += 0.5;
        shot->pending.store(1, std::memory_order_release);
        worker.RunTurn();
    }
    state.counters["kept"] = worker.PreRecord().Count();
}
BENCHMARK(Worker_BeforeMotion)
    ->Args({640, 480, 0})
    ->Args({640, 480, 1})
    ->Args({1920, 1080, 0})
    ->Args({1920, 1080, 1})
    ->Unit(benchmark::kMillisecond);

void Memcpy_Picture(benchmark::State& state) {
    const std::vector<uint8_t> jpeg(20284, 0x5A);
    std::vector<uint8_t> to(jpeg.size());
    for (auto _ : state) {
        std::memcpy(to.data(), jpeg.data(), jpeg.size());
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(Memcpy_Picture);

}  // namespace
