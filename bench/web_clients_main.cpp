// Load clients for bench/web_stream.sh, over loopback:
//   vistrel-webclients stream PORT VIEWERS SECONDS [USER:PASSWORD]
//     opens VIEWERS streams at once, ten from each loopback address
//     127.0.8.x (SOURCES=N sets how many addresses), and counts the pictures
//     each served viewer receives after the first second; prints how many
//     were served and refused, and the fewest and the mean per second.
//   vistrel-webclients snap PORT CONNECTIONS SECONDS [USER:PASSWORD]
//     fetches the picture over CONNECTIONS parallel connections, one request
//     each, from 250 loopback addresses in turn, and prints the whole
//     responses per second.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::string Base64(const std::string& in) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < in.size(); i += 3) {
        uint32_t n = static_cast<uint8_t>(in[i]) << 16;
        if (i + 1 < in.size()) n |= static_cast<uint8_t>(in[i + 1]) << 8;
        if (i + 2 < in.size()) n |= static_cast<uint8_t>(in[i + 2]);
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += i + 1 < in.size() ? kAlphabet[(n >> 6) & 63] : '=';
        out += i + 2 < in.size() ? kAlphabet[n & 63] : '=';
    }
    return out;
}

// Connects from the loopback address 127.0.8.source when source > 0.
int Connect(int port, int source = 0) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (source > 0) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(0x7f000800u | static_cast<uint32_t>(source & 0xff));
        if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            close(fd);
            return -1;
        }
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string Request(const char* target, const std::string& credentials, bool close = false) {
    std::string request = std::string("GET ") + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (close) request += "Connection: close\r\n";
    if (!credentials.empty()) request += "Authorization: Basic " + Base64(credentials) + "\r\n";
    return request + "\r\n";
}

// One stream viewer: splits what arrives into parts and counts them.
struct Viewer {
    int fd = -1;
    std::string buffer;
    bool headDone = false;
    std::size_t bodyLeft = 0;
    bool inBody = false;
    int64_t parts = 0;
    bool refused = false;

    void Take(const char* data, std::size_t n) {
        buffer.append(data, n);
        for (;;) {
            if (inBody) {
                const std::size_t used = std::min(bodyLeft, buffer.size());
                buffer.erase(0, used);
                bodyLeft -= used;
                if (bodyLeft > 0) return;
                inBody = false;
                ++parts;
            }
            const std::size_t end = buffer.find("\r\n\r\n");
            if (end == std::string::npos) return;
            if (!headDone) {
                headDone = true;
            } else {
                const std::size_t length = buffer.find("Content-Length: ");
                if (length == std::string::npos || length > end) return;
                bodyLeft = std::strtoul(buffer.c_str() + length + 16, nullptr, 10);
                inBody = true;
            }
            buffer.erase(0, end + 4);
        }
    }
};

int Stream(int port, int count, int seconds, const std::string& credentials) {
    std::vector<Viewer> viewers(static_cast<std::size_t>(count));
    const std::string request = Request("/stream.mjpg", credentials);
    // One address holds only so many connections: ten viewers come from each.
    const char* sourcesText = std::getenv("SOURCES");
    const int sources = std::clamp(sourcesText ? std::atoi(sourcesText) : (count + 9) / 10, 1, 250);
    const auto opened = Clock::now();
    auto lastRefusal = opened;
    for (std::size_t i = 0; i < viewers.size(); ++i) {
        Viewer& viewer = viewers[i];
        viewer.fd = Connect(port, 1 + static_cast<int>(i) % sources);
        if (viewer.fd < 0 || send(viewer.fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
            std::fprintf(stderr, "webclients: cannot open a stream\n");
            return 1;
        }
    }
    std::vector<pollfd> fds;
    for (const Viewer& viewer : viewers) fds.push_back({viewer.fd, POLLIN, 0});
    std::vector<char> chunk(1 << 20);
    const auto start = Clock::now();
    const auto counting = start + std::chrono::seconds(1);
    const auto end = counting + std::chrono::seconds(seconds);
    std::vector<int64_t> atCounting(viewers.size(), 0);
    bool counted = false;
    while (Clock::now() < end) {
        if (!counted && Clock::now() >= counting) {
            for (std::size_t i = 0; i < viewers.size(); ++i) atCounting[i] = viewers[i].parts;
            counted = true;
        }
        if (poll(fds.data(), fds.size(), 100) <= 0) continue;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            const ssize_t got = recv(fds[i].fd, chunk.data(), chunk.size(), MSG_DONTWAIT);
            if (got > 0) {
                viewers[i].Take(chunk.data(), static_cast<std::size_t>(got));
            } else if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                // Closed before its head: refused, as the slots ran out.
                viewers[i].refused = !viewers[i].headDone;
                if (viewers[i].refused)
                    lastRefusal = Clock::now();
                else
                    std::fprintf(stderr, "webclients: viewer %zu was dropped\n", i);
                fds[i].fd = -1;
            }
        }
    }
    double fewest = 1e9;
    double sum = 0;
    int served = 0;
    for (std::size_t i = 0; i < viewers.size(); ++i) {
        close(viewers[i].fd);
        if (viewers[i].refused) continue;
        const double rate = static_cast<double>(viewers[i].parts - atCounting[i]) / seconds;
        fewest = std::min(fewest, rate);
        sum += rate;
        ++served;
    }
    const auto refusedMs = std::chrono::duration_cast<std::chrono::milliseconds>(lastRefusal - opened).count();
    std::printf("%d viewers from %d addresses: %d served, %d refused (the last %lld ms after opening); "
                "pictures per served viewer per second: fewest %.1f, mean %.1f\n",
                count, sources, served, count - served, static_cast<long long>(refusedMs), served ? fewest : 0.0,
                served ? sum / served : 0.0);
    return 0;
}

int Snapshots(int port, int connections, int seconds, const std::string& credentials) {
    // Servers that keep connections open (nginx) are asked to close them, as a browser's last request would.
    const std::string request = Request("/wwwcam.jpg", credentials, true);
    std::atomic<int64_t> whole{0};
    std::atomic<int64_t> failed{0};
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    // Each new connection comes from the next of 250 loopback addresses, so
    // none holds more than a few at once (one address may hold only 16) and
    // no address runs out of ports held in TIME_WAIT.
    std::atomic<uint32_t> nextSource{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < connections; ++t) {
        threads.emplace_back([&] {
            std::vector<char> chunk(1 << 16);
            while (Clock::now() < end) {
                const int fd = Connect(port, 1 + static_cast<int>(nextSource++ % 250));
                if (fd < 0 || send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
                    if (fd >= 0) close(fd);
                    ++failed;
                    continue;
                }
                std::string reply;
                ssize_t got = 0;
                while ((got = recv(fd, chunk.data(), chunk.size(), 0)) > 0) reply.append(chunk.data(), got);
                close(fd);
                const std::size_t head = reply.find("\r\n\r\n");
                const std::size_t length = reply.find("Content-Length: ");
                const bool ok =
                    reply.rfind("HTTP/1.1 200", 0) == 0 && head != std::string::npos &&
                    length != std::string::npos &&
                    reply.size() - head - 4 == std::strtoul(reply.c_str() + length + 16, nullptr, 10);
                ++(ok ? whole : failed);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    std::printf("%.0f pictures/s (%lld whole, %lld failed)\n", static_cast<double>(whole) / seconds,
                static_cast<long long>(whole), static_cast<long long>(failed));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: vistrel-webclients stream|snap PORT COUNT SECONDS [USER:PASSWORD]\n");
        return 2;
    }
    const int port = std::atoi(argv[2]);
    const int count = std::atoi(argv[3]);
    const int seconds = std::atoi(argv[4]);
    const std::string credentials = argc == 6 ? argv[5] : "";
    if (std::strcmp(argv[1], "stream") == 0) return Stream(port, count, seconds, credentials);
    return Snapshots(port, count, seconds, credentials);
}
