// The recordings index with 10,000 recordings (each with its thumbnail and
// levels side files) beside an empty folder: the start-up scan, and the list
// of recordings.json?limit=100 the first time (side files read) and after.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

#include "web/recordings_index.h"

namespace {

// A folder of count recordings, one a minute, made once per count and removed at exit.
const std::string& Folder(int count) {
    struct Made {
        std::string path;
        ~Made() {
            if (!path.empty()) std::filesystem::remove_all(path);
        }
    };
    static Made made[2];
    Made& it = made[count == 0 ? 0 : 1];
    if (!it.path.empty()) return it.path;
    char pattern[] = "/tmp/vistrel_recordings_bench_XXXXXX";
    if (!mkdtemp(pattern)) return it.path;
    it.path = std::string(pattern) + "/";
    mkdir((it.path + ".thumbs").c_str(), 0777);
    // A thumbnail's first bytes as the recorder writes them, and a 60-second strip.
    static const char kThumb[] = "\xFF\xD8\xFF\xFE\x00\x15" "activation=detector" "\xFF\xD9";
    static const char kLevels[60] = {};
    std::time_t when = std::time(nullptr) - 86400LL * 30;
    for (int i = 0; i < count; ++i, when += 60) {
        std::tm local{};
        localtime_r(&when, &local);
        char name[40];
        std::snprintf(name, sizeof name, "%02d%02d%02d_%02d%02d%02d_%04d.avi", local.tm_year % 100, local.tm_mon + 1,
                      local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, 300);
        const std::string files[3] = {it.path + name, it.path + ".thumbs/" + name + ".jpg",
                                      it.path + ".thumbs/" + name + ".levels"};
        const std::pair<const char*, std::size_t> bytes[3] = {
            {"RIFF", 4}, {kThumb, sizeof kThumb - 1}, {kLevels, sizeof kLevels}};
        for (int f = 0; f < 3; ++f) {
            const int fd = open(files[f].c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0 && write(fd, bytes[f].first, bytes[f].second) < 0) std::perror("write");
            if (fd >= 0) close(fd);
        }
    }
    return it.path;
}

// The web server's start: the folder read once.
void Index_StartScan(benchmark::State& state) {
    const std::string& folder = Folder(static_cast<int>(state.range(0)));
    std::size_t listed = 0;
    for (auto _ : state) {
        RecordingsIndex index;
        index.Open(folder, folder + "photos/");
        listed = index.Count(RecordingsIndex::Kind::kRecording);
    }
    state.counters["recordings"] = static_cast<double>(listed);
}
BENCHMARK(Index_StartScan)->Arg(0)->Arg(10000)->Unit(benchmark::kMillisecond);

// recordings.json?limit=100: arg 1 the first list after start (the 100 entries' side
// files read), arg 0 a later one (their side files known).
void Index_List100(benchmark::State& state) {
    const std::string& folder = Folder(10000);
    const bool first = state.range(0) != 0;
    auto index = std::make_unique<RecordingsIndex>();
    index->Open(folder, folder + "photos/");
    std::string out;
    out.reserve(65536);
    for (auto _ : state) {
        if (first) {
            state.PauseTiming();
            index = std::make_unique<RecordingsIndex>();
            index->Open(folder, folder + "photos/");
            state.ResumeTiming();
        }
        out.clear();
        index->FormatJson(out, 0, static_cast<std::time_t>(1) << 40, 100);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["json_bytes"] = static_cast<double>(out.size());
    state.counters["detector_entries"] = out.find("\"activation\":\"detector\",\"thumb\":true,\"levels\":60") !=
                                                 std::string::npos
                                             ? 1
                                             : 0;
}
BENCHMARK(Index_List100)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
