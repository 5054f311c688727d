// Serves one JPEG file through the web server and publishes it RATE times a
// second as the output worker would, for bench/web_stream.sh:
// vistrel-webstream PORT FILE.JPG RATE [USER PASSWORD]
// On SIGUSR1 (and at the end, on SIGINT or SIGTERM) it prints how many
// pictures it published since the last report and how long a publish took,
// which is the worker's share of the streams.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "core/registry.h"
#include "recording/shot_data.h"
#include "web/web_auth.h"
#include "web/web_server.h"

int main(int argc, char** argv) {
    if (argc != 4 && argc != 6) {
        std::fprintf(stderr, "usage: vistrel-webstream PORT FILE.JPG RATE [USER PASSWORD]\n");
        return 2;
    }
    std::ifstream in(argv[2], std::ios::binary);
    const std::vector<char> jpeg((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const int rate = std::atoi(argv[3]);
    if (jpeg.empty() || jpeg.size() > static_cast<std::size_t>(ShotData::kBufferBytes) || rate <= 0) {
        std::fprintf(stderr, "webstream: cannot use %s at %s pictures/s\n", argv[2], argv[3]);
        return 1;
    }
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    Registry registry(true);
    ShotData shot;
    shot.Register(registry);
    registry.SetText("WWWPortListener", argv[1]);
    if (argc == 6) {
        registry.SetText("WWWUser", argv[4]);
        registry.SetText("WWWPasswordHash", WebAuth::HashPassword(argv[5]).c_str());
    }
    WebServer server(registry);
    std::memcpy(shot.jpeg.get(), jpeg.data(), jpeg.size());
    shot.jpegBytes = static_cast<int32_t>(jpeg.size());
    shot.jpegWidth = 640;
    shot.jpegHeight = 480;
    shot.Publish();
    if (!server.Start()) return 1;

    std::atomic<bool> done{false};
    std::mutex statsMutex;
    int64_t published = 0;
    std::chrono::nanoseconds longest{0};
    std::chrono::nanoseconds total{0};
    std::thread worker([&] {
        const auto period = std::chrono::nanoseconds(1000000000 / rate);
        auto next = std::chrono::steady_clock::now();
        while (!done.load(std::memory_order_acquire)) {
            next += period;
            std::this_thread::sleep_until(next);
            const auto start = std::chrono::steady_clock::now();
            shot.Publish();
            const auto took = std::chrono::steady_clock::now() - start;
            std::lock_guard guard(statsMutex);
            longest = std::max(longest, took);
            total += took;
            ++published;
        }
    });
    std::printf("serving %zu bytes on port %d at %d pictures/s%s\n", jpeg.size(),
                static_cast<int>(server.Port()), rate, argc == 6 ? " with authentication" : "");
    std::fflush(stdout);
    auto report = [&] {
        std::lock_guard guard(statsMutex);
        std::printf("published %lld pictures, publish took %.1f us on average, %.1f us at the longest\n",
                    static_cast<long long>(published),
                    std::chrono::duration<double, std::micro>(total).count() /
                        static_cast<double>(std::max<int64_t>(published, 1)),
                    std::chrono::duration<double, std::micro>(longest).count());
        std::fflush(stdout);
        published = 0;
        longest = total = std::chrono::nanoseconds{0};
    };
    int signal = 0;
    while (sigwait(&stop, &signal) == 0 && signal == SIGUSR1) report();
    done.store(true, std::memory_order_release);
    worker.join();
    server.Stop();
    report();
    return 0;
}
