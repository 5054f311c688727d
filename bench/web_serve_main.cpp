// Serves one JPEG file through the web server until SIGINT or SIGTERM, for
// the load benchmark: vistrel-webserve PORT FILE.JPG
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "core/registry.h"
#include "recording/shot_data.h"
#include "web/web_server.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: vistrel-webserve PORT FILE.JPG\n");
        return 2;
    }
    std::ifstream in(argv[2], std::ios::binary);
    const std::vector<char> jpeg((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (jpeg.empty() || jpeg.size() > static_cast<std::size_t>(ShotData::kBufferBytes)) {
        std::fprintf(stderr, "webserve: cannot use %s\n", argv[2]);
        return 1;
    }
    // Block the signals before any thread starts so that only sigwait sees them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    Registry registry(true);
    ShotData shot;
    shot.Register(registry);
    registry.SetText("WWWPortListener", argv[1]);
    WebServer server(registry);
    std::memcpy(shot.jpeg.get(), jpeg.data(), jpeg.size());
    shot.jpegBytes = static_cast<int32_t>(jpeg.size());
    shot.jpegWidth = 640;
    shot.jpegHeight = 480;
    shot.Publish();
    if (!server.Start()) return 1;
    std::printf("serving %zu bytes on port %d\n", jpeg.size(), static_cast<int>(server.Port()));
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stop, &signal);
    server.Stop();
    return 0;
}
