#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/registry.h"
#include "recording/avi_recorder.h"
#include "recording/mjpeg_params.h"
#include "recording/recording_retention.h"
#include "recording/shot_data.h"

namespace {

constexpr int kFrameBytes = 50 * 1024;
constexpr int kFramesPerFile = 1500;

std::string BenchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vistrel_rec_bench_XXXXXX").string();
    const char* made = mkdtemp(pattern.data());
    return made ? std::string(made) + "/" : std::string();
}

std::vector<uint8_t> FrameBytes() {
    std::vector<uint8_t> bytes(kFrameBytes);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 31 + 7);
    return bytes;
}

// WriteFrame of a ~50 KB picture into an open file, as the worker calls it.
void AviWrite_Frame(benchmark::State& state) {
    const std::string folder = BenchFolder();
    Registry registry(true);
    MjpegParams params;
    params.speedRec = 200;
    params.speedPlay = 4;
    registry.SetHandle("_MJPEG_PARAMS", &params);
    registry.SetText("MoveFilesPath", folder.c_str());
    ManualClock clock(1773483300);
    AviRecorder recorder(registry, clock, [](const char*) { return int64_t{1} << 40; });
    ShotData shot;
    const auto bytes = FrameBytes();
    std::memcpy(shot.jpeg.get(), bytes.data(), bytes.size());
    shot.jpegBytes = kFrameBytes;
    shot.jpegWidth = 640;
    shot.jpegHeight = 480;
    shot.recording = 1;
    double time = 1;
    for (auto _ : state) {
        shot.captureTime = time;
        time += 1;
        recorder.WriteFrame(shot);
        if (recorder.Frames() >= kFramesPerFile) {
            state.PauseTiming();
            recorder.CloseFile();
            clock.Advance(1);
            std::filesystem::remove_all(folder);
            std::filesystem::create_directory(folder);
            state.ResumeTiming();
        }
    }
    recorder.CloseFile();
    std::filesystem::remove_all(folder);
    state.SetBytesProcessed(state.iterations() * kFrameBytes);
}
BENCHMARK(AviWrite_Frame);

// Baseline: one plain write() of the same bytes to a file.
void PlainWrite_Frame(benchmark::State& state) {
    const std::string folder = BenchFolder();
    const std::string path = folder + "plain.bin";
    const auto bytes = FrameBytes();
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int frames = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(write(fd, bytes.data(), bytes.size()));
        if (++frames >= kFramesPerFile) {
            state.PauseTiming();
            close(fd);
            unlink(path.c_str());
            fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            frames = 0;
            state.ResumeTiming();
        }
    }
    close(fd);
    std::filesystem::remove_all(folder);
    state.SetBytesProcessed(state.iterations() * kFrameBytes);
}
BENCHMARK(PlainWrite_Frame);

// A folder of range(0) finished recordings (and as many photos) for the sweeps.
std::string RecordingFolder(int recordings) {
    const std::string folder = BenchFolder();
    for (int i = 0; i < recordings; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "26%02d%02d_%02d%02d00_0011.avi", 1 + i / 2000 % 12, 1 + i / 80 % 25,
                      i / 60 % 24, i % 60);
        close(open((folder + name).c_str(), O_WRONLY | O_CREAT, 0600));
        std::snprintf(name, sizeof name, "%05d.jpg", i);
        close(open((folder + name).c_str(), O_WRONLY | O_CREAT, 0600));
    }
    return folder;
}

// The once-a-minute sweep with "KeepDays" on and nothing old enough: the folder is read, nothing goes.
void Retention_SweepNothingDue(benchmark::State& state) {
    const std::string folder = RecordingFolder(static_cast<int>(state.range(0)));
    Registry registry(true);
    registry.SetInt("KeepDays", 3650);
    ManualClock clock(1773483300);
    RecordingRetention retention(registry, clock, [](const char*) { return int64_t{1} << 40; });
    for (auto _ : state) benchmark::DoNotOptimize(retention.Sweep(folder));
    std::filesystem::remove_all(folder);
}
BENCHMARK(Retention_SweepNothingDue)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

// Baseline for the sweep: reading the same folder's names and nothing else.
void ReadDirectory_Names(benchmark::State& state) {
    const std::string folder = RecordingFolder(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        int names = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) names += entry.path().empty() ? 0 : 1;
        benchmark::DoNotOptimize(names);
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(ReadDirectory_Names)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

// A sweep that deletes every one of range(0) recordings ("KeepDays" 1, all older).
void Retention_SweepDeletingAll(benchmark::State& state) {
    Registry registry(true);
    registry.SetInt("KeepDays", 1);
    ManualClock clock(1773483300 + 400LL * 86400);
    RecordingRetention retention(registry, clock, [](const char*) { return int64_t{1} << 40; });
    // The deletion lines would swamp the report.
    const int savedError = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
    for (auto _ : state) {
        state.PauseTiming();
        const std::string folder = RecordingFolder(static_cast<int>(state.range(0)));
        state.ResumeTiming();
        benchmark::DoNotOptimize(retention.Sweep(folder));
        state.PauseTiming();
        std::filesystem::remove_all(folder);
        state.ResumeTiming();
    }
    dup2(savedError, STDERR_FILENO);
    close(savedError);
    close(null);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(Retention_SweepDeletingAll)->Arg(100)->Unit(benchmark::kMicrosecond);

}  // namespace
