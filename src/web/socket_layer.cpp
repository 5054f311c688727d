#include "web/socket_layer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

// Keeps errno of the failed call across the cleanup close.
int FailOpen(int socket, const char* step, const char** failedStep) {
    const int error = errno;
    close(socket);
    if (failedStep) *failedStep = step;
    errno = error;
    return kNoSocket;
}

}  // namespace

int OpenListener(int32_t port, const char** failedStep) { return OpenListener(port, "", failedStep); }

int OpenListener(int32_t port, const char* address, const char** failedStep) {
    sockaddr_storage local{};
    socklen_t localLength = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&local);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&local);
    if (!address || address[0] == '\0') {
        v4->sin_family = AF_INET;
        v4->sin_addr.s_addr = htonl(INADDR_ANY);
        localLength = sizeof *v4;
    } else if (inet_pton(AF_INET, address, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        localLength = sizeof *v4;
    } else if (inet_pton(AF_INET6, address, &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        localLength = sizeof *v6;
    } else {
        if (failedStep) *failedStep = "address";
        errno = EINVAL;
        return kNoSocket;
    }
    const uint16_t networkPort = htons(static_cast<uint16_t>(port));
    if (local.ss_family == AF_INET)
        v4->sin_port = networkPort;
    else
        v6->sin6_port = networkPort;

    const int listener = socket(local.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) {
        if (failedStep) *failedStep = "socket";
        return kNoSocket;
    }
    const int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (local.ss_family == AF_INET6) {
        // "::" takes IPv4 clients too where the system allows it.
        const int v6Only = 0;
        setsockopt(listener, IPPROTO_IPV6, IPV6_V6ONLY, &v6Only, sizeof v6Only);
    }
    if (bind(listener, reinterpret_cast<sockaddr*>(&local), localLength) != 0) {
        return FailOpen(listener, "bind", failedStep);
    }
    if (listen(listener, SOMAXCONN) != 0) return FailOpen(listener, "listen", failedStep);
    return listener;
}

void CloseSocket(int& socket) {
    if (socket >= 0) close(socket);
    socket = kNoSocket;
}

void FinishSending(int socket, int waitMs) {
    if (socket < 0) return;
    shutdown(socket, SHUT_WR);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    char sink[512];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return;
        pollfd readable{socket, POLLIN, 0};
        const int ready = poll(&readable, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return;
        const ssize_t got = recv(socket, sink, sizeof sink, MSG_DONTWAIT);
        if (got == 0) return;
        if (got < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) return;
    }
}

int ReceiveExact(int socket, void* buffer, int n) {
    char* out = static_cast<char*>(buffer);
    int have = 0;
    while (have < n) {
        const ssize_t got = recv(socket, out + have, static_cast<size_t>(n - have), 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return -1;
        have += static_cast<int>(got);
    }
    return n;
}

int ReceiveByte(int socket) {
    unsigned char byte = 0;
    if (ReceiveExact(socket, &byte, 1) != 1) return -1;
    return byte;
}

int ReadLine(int socket, char* buffer, int size) {
    std::memset(buffer, 0, static_cast<size_t>(size));
    int stored = 0;
    char chunk[256];
    for (;;) {
        // Peeks, then takes only the bytes up to the line's end, so the next
        // line stays queued; two calls per piece instead of one per byte.
        const ssize_t seen = recv(socket, chunk, sizeof chunk, MSG_PEEK);
        if (seen < 0 && errno == EINTR) continue;
        if (seen <= 0) return -1;
        int used = 0;
        int result = -2;
        while (used < seen && result == -2) {
            const char byte = chunk[used++];
            if (byte == '\r') continue;
            if (byte == '\n') {
                result = stored;
            } else if (stored >= size - 2) {
                result = -1;
            } else {
                buffer[stored++] = byte;
            }
        }
        if (ReceiveExact(socket, chunk, used) != used) return -1;
        if (result != -2) return result;
    }
}

int SendAll(int socket, const void* data, std::size_t n, bool more) {
    const char* in = static_cast<const char*>(data);
    std::size_t sent = 0;
    const int flags = MSG_NOSIGNAL | (more ? MSG_MORE : 0);
    while (sent < n) {
        const ssize_t put = send(socket, in + sent, n - sent, flags);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return -1;
        sent += static_cast<std::size_t>(put);
    }
    return static_cast<int>(n);
}

int SendAllWithin(int socket, const void* data, std::size_t n, int waitMs, bool more) {
    const char* in = static_cast<const char*>(data);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    std::size_t sent = 0;
    const int flags = MSG_NOSIGNAL | MSG_DONTWAIT | (more ? MSG_MORE : 0);
    while (sent < n) {
        const ssize_t put = send(socket, in + sent, n - sent, flags);
        if (put > 0) {
            sent += static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return -1;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            errno = ETIMEDOUT;
            return -1;
        }
        pollfd writable{socket, POLLOUT, 0};
        if (poll(&writable, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) return -1;
    }
    return static_cast<int>(n);
}

int SendText(int socket, const char* text, bool more) {
    return SendAll(socket, text, std::strlen(text), more);
}

void SetSocketTimeouts(int socket, int timeoutMs) {
    timeval limit{};
    if (timeoutMs > 0) {
        limit.tv_sec = timeoutMs / 1000;
        limit.tv_usec = static_cast<suseconds_t>(timeoutMs % 1000) * 1000;
    }
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}
