#include "web/web_server.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "core/registry.h"
#include "core/settings_file.h"
#include "recording/shot_data.h"
#include "web/socket_layer.h"

namespace {

constexpr const char* kPortKey = "WWWPortListener";
constexpr const char* kStartKey = "WWWStartAfterLaunch";
// Longest wait for a client to close after its full response was sent.
constexpr int kFinishWaitMs = 2000;
constexpr int kAcceptWaitMs = 5000;
// How long a connection thread waits for the next connection before it ends.
constexpr int kIdleWorkerMs = 2000;

// Accept failures caused by one client, not by the listener itself.
bool IsConnectionError(int error) {
    switch (error) {
        case EINTR:
        case ECONNABORTED:
        case EPROTO:
        case ENETDOWN:
        case ENOPROTOOPT:
        case EHOSTDOWN:
        case ENONET:
        case EHOSTUNREACH:
        case EOPNOTSUPP:
        case ENETUNREACH:
        case EPERM:
            return true;
        default:
            return false;
    }
}

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// "GET", any white space, then the target up to the next blank.
bool FindTarget(const char* line, const char** target, std::size_t* length) {
    if (std::strncmp(line, "GET", 3) != 0) return false;
    const char* p = line + 3;
    while (*p != '\0' && IsBlank(*p)) ++p;
    const char* start = p;
    while (*p != '\0' && !IsBlank(*p)) ++p;
    if (p == start) return false;
    *target = start;
    *length = static_cast<std::size_t>(p - start);
    return true;
}

}  // namespace

const char WebServer::kPictureHeadStart[] =
    "HTTP/1.1 200 OK\r\n"
    "Server: Vistrel v1.2\r\n"
    "Cache-Control: no-cache\r\n"
    "Connection: close\r\n"
    "Content-Type: image/jpeg\r\n";

const char WebServer::kPageResponse[] =
    "HTTP/1.1 200 OK\r\n"
    "Server: Vistrel v1.2\r\n"
    "Cache-Control: no-cache\r\n"
    "Connection: close\r\n"
    "Content-Type: text/html\r\n"
    "\r\n"
    "<html><title>Vistrel v1.2</title><head><head><body><img src='wwwcam.jpg'></body></html>"
    "\r\n\r\n";

WebServer::WebServer(Registry& registry) : registry_(registry) {
    port_ = registry_.IntInRange(kPortKey, kDefaultPort, kMinPort, kMaxPort);
    startAfterLaunch_ = registry_.IntInRange(kStartKey, 0, 0, 1);
    shot_ = registry_.Find<ShotData>("_MYSHOTDATA");
    // Without a registered block the server still serves what is published to it.
    if (!shot_) {
        ownShot_ = std::make_unique<ShotData>();
        shot_ = ownShot_.get();
    }
    registry_.SetHandle("_CL_WWWServer", this);
}

WebServer::~WebServer() {
    Stop();
    {
        std::unique_lock lock(pictureLock_);
        slotFreed_.wait(lock, [this] { return slotsInUse_ == 0; });
    }
    std::unique_lock lock(workersMutex_);
    closing_ = true;
    workHandedOver_.notify_all();
    workerEnded_.wait(lock, [this] { return liveWorkers_ == 0; });
}

bool WebServer::Running() const {
    return listenSocket_.load(std::memory_order_acquire) >= 0 && static_cast<bool>(acceptThread_);
}

bool WebServer::Start() {
    int32_t stored = 0;
    registry_.GetInt(kPortKey, stored);
    if (stored == port_ && Running()) return true;
    if (listenSocket_.load(std::memory_order_acquire) >= 0 || acceptThread_) Stop();

    const char* step = "socket";
    const int listener = OpenListener(port_, &step);
    if (listener < 0) {
        const int error = errno;
        std::fprintf(stderr, "web: cannot listen on port %d (%s): %s%s\n", static_cast<int>(port_), step,
                     std::strerror(error),
                     error == EACCES && port_ < 1024 ? "; ports below 1024 need privileges, choose 1024 or above"
                                                     : "");
        return false;
    }
    listenSocket_.store(listener, std::memory_order_release);
    acceptThread_ = StartThread(AcceptEntry, this, listener, 0);
    if (!acceptThread_) {
        std::fprintf(stderr, "web: cannot start the server thread\n");
        std::lock_guard guard(pictureLock_);
        listenSocket_.store(kNoSocket, std::memory_order_release);
        close(listener);
        return false;
    }
    return true;
}

void WebServer::Stop() {
    {
        // The accept thread owns the listener and closes it; shutting it down
        // makes its pending accept fail.
        std::lock_guard guard(pictureLock_);
        const int listener = listenSocket_.load(std::memory_order_acquire);
        if (listener >= 0) shutdown(listener, SHUT_RDWR);
    }
    if (acceptThread_ && !acceptThread_.WaitFor(kAcceptWaitMs)) acceptThread_.Detach();
    // After the accept thread ended no new slot is taken, so this reaches every connection.
    std::lock_guard guard(pictureLock_);
    for (Slot& slot : slots_) {
        if (slot.inUse) shutdown(slot.socket, SHUT_RDWR);
    }
}

void WebServer::StartIfConfigured() {
    if (startAfterLaunch_ == 1) Start();
}

int WebServer::PollStateChange(int& shown) const {
    const int running = Running() ? 1 : 0;
    if (running == shown) return 0;
    shown = running;
    return 1;
}

void WebServer::PublishPicture(ShotData& shot) {
    const int32_t bytes = std::min(shot.jpegBytes, ShotData::kBufferBytes);
    if (bytes <= 0) return;
    {
        std::lock_guard guard(pictureLock_);
        std::memcpy(shot_->published.get(), shot.jpeg.get(), static_cast<std::size_t>(bytes));
        shot_->publishedBytes = bytes;
        shot_->publishedHeight = shot.jpegHeight;
        shot_->publishedWidth = shot.jpegWidth;
        ++publishCount_;
        publishedAtMs_ = PictureDemand::NowMs();
    }
    picturePublished_.notify_all();
}

void WebServer::AwaitFreshPicture() {
    const int64_t now = PictureDemand::NowMs();
    shot_->demand.NoteWebRequest(now);
    // No frames lately: no picture is coming, so the request is not held up.
    const int32_t intervalMs = shot_->demand.FrameIntervalMs(now);
    if (intervalMs <= 0) return;
    std::unique_lock lock(pictureLock_);
    if (publishCount_ > 0 && now - publishedAtMs_ <= intervalMs) return;
    const uint64_t seen = publishCount_;
    picturePublished_.wait_for(lock, std::chrono::milliseconds(kFreshPictureWaitMs),
                               [&] { return publishCount_ != seen; });
}

int32_t WebServer::CopyPublishedPicture(uint8_t* buffer) {
    std::lock_guard guard(pictureLock_);
    const int32_t bytes = shot_->publishedBytes;
    if (bytes > 0) std::memcpy(buffer, shot_->published.get(), static_cast<std::size_t>(bytes));
    return bytes;
}

void WebServer::PublishedSize(int32_t& width, int32_t& height) {
    std::lock_guard guard(pictureLock_);
    width = shot_->publishedWidth;
    height = shot_->publishedHeight;
}

void WebServer::SetReceiveTimeoutMs(int timeoutMs) {
    receiveTimeoutMs_.store(timeoutMs, std::memory_order_relaxed);
}

WebServer::Options WebServer::CurrentOptions() {
    return {static_cast<int32_t>(registry_.GetHandle(kPortKey)),
            static_cast<int32_t>(registry_.GetHandle(kStartKey))};
}

int32_t WebServer::ValidatePort(const char* fieldText) {
    int64_t value = 0;
    for (const char* p = fieldText ? fieldText : ""; *p >= '0' && *p <= '9'; ++p) {
        value = std::min<int64_t>(value * 10 + (*p - '0'), kMaxPort + 1);
    }
    return static_cast<int32_t>(std::clamp<int64_t>(value, kMinPort, kMaxPort));
}

bool WebServer::ApplyOptions(const char* portFieldText, int32_t startAfterLaunch) {
    const int32_t port = ValidatePort(portFieldText);
    const int32_t flag = startAfterLaunch != 0 ? 1 : 0;
    bool changed = false;
    if (flag != startAfterLaunch_) {
        startAfterLaunch_ = flag;
        registry_.SetInt(kStartKey, flag);
        changed = true;
    }
    if (port != port_) {
        port_ = port;
        registry_.SetInt(kPortKey, port);
        changed = true;
        if (Running()) {
            Stop();
            Start();
        }
    }
    if (changed) {
        if (auto* file = dynamic_cast<SettingsFile*>(&registry_)) file->Save();
    }
    return changed;
}

void WebServer::AcceptEntry(ThreadStart* start) {
    pthread_setname_np(pthread_self(), "vistrel-web");
    static_cast<WebServer*>(start->object)->AcceptLoop(static_cast<int>(start->value));
}

void WebServer::ConnectionEntry(ThreadStart* start) {
    pthread_setname_np(pthread_self(), "vistrel-client");
    static_cast<WebServer*>(start->object)->ConnectionLoop(static_cast<int>(start->value));
}

void WebServer::AcceptLoop(int listener) {
    for (;;) {
        sockaddr_in peer{};
        socklen_t peerLength = sizeof peer;
        int connection = accept4(listener, reinterpret_cast<sockaddr*>(&peer), &peerLength, SOCK_CLOEXEC);
        if (connection < 0) {
            // One client's aborted handshake must not end the server.
            if (IsConnectionError(errno)) continue;
            break;
        }
        PrepareConnection(connection);
        const int slot = TakeSlot(connection);
        if (slot < 0) {
            CloseSocket(connection);
            continue;
        }
        HandOver(slot);
    }
    std::lock_guard guard(pictureLock_);
    listenSocket_.store(kNoSocket, std::memory_order_release);
    close(listener);
}

void WebServer::HandOver(int slot) {
    {
        std::lock_guard guard(workersMutex_);
        if (idleWorkers_ > waitingCount_) {
            waiting_[waitingCount_++] = slot;
            workHandedOver_.notify_one();
            return;
        }
        ++liveWorkers_;
    }
    // The handle goes out of scope at once: connection threads run detached.
    if (StartThread(ConnectionEntry, this, slot, 0)) return;
    ReleaseSlot(slot);
    std::lock_guard guard(workersMutex_);
    --liveWorkers_;
    workerEnded_.notify_all();
}

void WebServer::ConnectionLoop(int slot) {
    // One picture buffer per thread, not per request.
    std::unique_ptr<uint8_t[]> picture(new (std::nothrow) uint8_t[ShotData::kBufferBytes]);
    for (;;) {
        ServeSlot(slot, picture.get());
        std::unique_lock lock(workersMutex_);
        ++idleWorkers_;
        workHandedOver_.wait_for(lock, std::chrono::milliseconds(kIdleWorkerMs),
                                 [this] { return waitingCount_ > 0 || closing_; });
        --idleWorkers_;
        if (waitingCount_ == 0) {
            --liveWorkers_;
            workerEnded_.notify_all();
            return;
        }
        slot = waiting_[--waitingCount_];
    }
}

void WebServer::PrepareConnection(int fd) const {
    SetSocketTimeouts(fd, receiveTimeoutMs_.load(std::memory_order_relaxed));
}

int WebServer::TakeSlot(int fd) {
    std::lock_guard guard(pictureLock_);
    for (int i = 0; i < kSlotCount; ++i) {
        if (!slots_[i].inUse) {
            slots_[i].inUse = true;
            slots_[i].socket = fd;
            ++slotsInUse_;
            return i;
        }
    }
    return -1;
}

void WebServer::ReleaseSlot(int slot) {
    int fd = kNoSocket;
    {
        // Leaves the table before it is closed, so Stop never shuts down a reused number.
        std::lock_guard guard(pictureLock_);
        fd = slots_[slot].socket;
        slots_[slot].socket = kNoSocket;
        slots_[slot].inUse = false;
        --slotsInUse_;
        slotFreed_.notify_all();
    }
    CloseSocket(fd);
}

void WebServer::ServeSlot(int slot, uint8_t* picture) {
    // Written when the slot was taken, before it was handed to this thread.
    const int fd = slots_[slot].socket;
    if (HandleRequest(fd, picture)) {
        const int timeoutMs = receiveTimeoutMs_.load(std::memory_order_relaxed);
        FinishSending(fd, timeoutMs > 0 ? std::min(timeoutMs, kFinishWaitMs) : kFinishWaitMs);
    }
    ReleaseSlot(slot);
}

void WebServer::HandleConnection(int fd) {
    if (fd < 0) return;
    PrepareConnection(fd);
    const int slot = TakeSlot(fd);
    if (slot < 0) {
        CloseSocket(fd);
        return;
    }
    std::unique_ptr<uint8_t[]> picture(new (std::nothrow) uint8_t[ShotData::kBufferBytes]);
    ServeSlot(slot, picture.get());
}

bool WebServer::HandleRequest(int fd, uint8_t* picture) {
    char line[kRequestLineSize];
    if (ReadLine(fd, line, sizeof line) < 10) return false;
    const char* target = nullptr;
    std::size_t targetLength = 0;
    if (!FindTarget(line, &target, &targetLength)) return false;
    const char* slash = nullptr;
    for (std::size_t i = 0; i < targetLength; ++i) {
        if (target[i] == '/') slash = target + i;
    }
    if (!slash) return false;
    const std::size_t nameLength = static_cast<std::size_t>(target + targetLength - slash - 1);
    // Decided before the header lines overwrite the buffer; an empty name is the page.
    const bool page = nameLength == 0 || (nameLength == 9 && std::memcmp(slash + 1, "index.htm", 9) == 0);

    for (;;) {
        const int length = ReadLine(fd, line, sizeof line);
        if (length < 0) return false;
        if (length == 0) break;
    }
    if (page) return SendText(fd, kPageResponse) >= 0;
    return SendPicture(fd, picture);
}

int WebServer::FormatPictureHead(char* out, std::size_t size, int32_t bytes) {
    const int length = std::snprintf(out, size, "%sContent-Length: %d\r\n\r\n", kPictureHeadStart,
                                     static_cast<int>(std::max<int32_t>(bytes, 0)));
    return length >= 0 && static_cast<std::size_t>(length) < size ? length : -1;
}

bool WebServer::SendPicture(int fd, uint8_t* picture) {
    if (!picture) return false;
    AwaitFreshPicture();
    const int32_t bytes = CopyPublishedPicture(picture);
    char head[kPictureHeadSize];
    const int headLength = FormatPictureHead(head, sizeof head, bytes);
    if (headLength < 0) return false;
    if (SendAll(fd, head, static_cast<std::size_t>(headLength), bytes > 0) < 0) return false;
    return bytes == 0 || SendAll(fd, picture, static_cast<std::size_t>(bytes)) >= 0;
}
