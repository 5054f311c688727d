// Serves one JPEG file through the web server and publishes it RATE times a
// second as the output worker would, for bench/web_stream.sh:
// vistrel-webstream PORT FILE.JPG RATE [USER PASSWORD]
// On SIGINT or SIGTERM it prints how many pictures it published and the
// longest publish, which is the time the worker would have been held up.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
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
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    Registry registry(true);
    ShotData shot;
    registry.SetHandle("_MYSHOTDATA", &shot);
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
    server.PublishPicture(shot);
    if (!server.Start()) return 1;

    std::atomic<bool> done{false};
    int64_t published = 0;
    std::chrono::nanoseconds longest{0};
    std::thread worker([&] {
        const auto period = std::chrono::nanoseconds(1000000000 / rate);
        auto next = std::chrono::steady_clock::now();
        while (!done.load(std::memory_order_acquire)) {
            next += period;
            std::this_thread::sleep_until(next);
            const auto start = std::chrono::steady_clock::now();
            server.PublishPicture(shot);
            longest = std::max(longest, std::chrono::steady_clock::now() - start);
            ++published;
        }
    });
    std::printf("serving %zu bytes on port %d at %d pictures/s%s\n", jpeg.size(),
                static_cast<int>(server.Port()), rate, argc == 6 ? " with authentication" : "");
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stop, &signal);
    done.store(true, std::memory_order_release);
    worker.join();
    server.Stop();
    std::printf("published %lld pictures, longest publish %.1f us\n", static_cast<long long>(published),
                std::chrono::duration<double, std::micro>(longest).count());
    return 0;
}
