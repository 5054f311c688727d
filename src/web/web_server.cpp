#include "web/web_server.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "core/registry.h"
#include "core/save_request.h"
#include "core/picture_board.h"
#include "video/frame.h"
#include "web/http_request.h"
#include "web/http_response.h"
#include "web/live_page.h"
#include "web/mjpeg_stream.h"
#include "web/page_texts.h"
#include "web/socket_layer.h"

namespace {

constexpr std::size_t kStatusSize = 2048;
// Longest wait for a client to close after its full response was sent.
constexpr int kFinishWaitMs = 2000;
constexpr int kAcceptWaitMs = 5000;
// How long a connection thread waits for the next connection before it ends.
constexpr int kIdleWorkerMs = 2000;
// How often the accept thread looks for connections past their deadline.
constexpr int kDeadlineCheckMs = 250;

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

}  // namespace

WebServer::WebServer(Registry& registry) : registry_(registry) {
    port_ = registry_.IntInRange(kPortKey, kDefaultPort, kMinPort, kMaxPort);
    startAfterLaunch_ = registry_.IntInRange(kStartKey, 0, 0, 1);
    board_ = registry_.Find<PictureBoard>("_MYPICTUREBOARD");
    // Without a registered board the server still serves what is published to its own.
    if (!board_) {
        ownBoard_ = std::make_unique<PictureBoard>(kFrameCapacityBytes);
        board_ = ownBoard_.get();
    }
    LoadAccess();
    registry_.SetHandle("_CL_WWWServer", this);
    registry_.SetHandle(RecordingFiles::kRegistryKey, static_cast<RecordingFiles*>(&recordings_));
}

WebServer::~WebServer() {
    registry_.SetHandle(RecordingFiles::kRegistryKey, intptr_t{0});
    Stop();
    {
        std::unique_lock lock(slotLock_);
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
    startError_ = 0;
    if (stored == port_ && Running()) return true;
    if (listenSocket_.load(std::memory_order_acquire) >= 0 || acceptThread_) Stop();
    // A password nobody can give would let nobody in (or, empty, everybody).
    if (!auth_.Usable()) {
        startError_ = kUnusablePassword;
        std::fprintf(stderr, "web: the stored password cannot be used; set it again\n");
        return false;
    }

    const char* step = "socket";
    const int listener = OpenListener(port_, bindAddress_.c_str(), &step);
    if (listener < 0) {
        const int error = errno;
        startError_ = error != 0 ? error : EIO;
        const std::string at = bindAddress_.empty() ? std::string() : " at \"" + bindAddress_ + "\"";
        const bool notAddress = std::strcmp(step, "address") == 0;
        std::fprintf(stderr, "web: cannot listen on port %d%s (%s): %s%s\n", static_cast<int>(port_),
                     at.c_str(), step, notAddress ? "not an IP address" : std::strerror(error),
                     error == EACCES && port_ < 1024
                         ? "; ports below 1024 need privileges, choose 1024 or above"
                         : "");
        return false;
    }
    // The folders are read once here; the worker's notices keep the list current after.
    recordings_.Open(registry_.GetString("MoveFilesPath"), registry_.GetString("ShotFilesPath"));
    listenSocket_.store(listener, std::memory_order_release);
    acceptThread_ = StartThread(AcceptEntry, this, listener, 0);
    if (!acceptThread_) {
        startError_ = EAGAIN;
        std::fprintf(stderr, "web: cannot start the server thread\n");
        std::lock_guard guard(slotLock_);
        listenSocket_.store(kNoSocket, std::memory_order_release);
        close(listener);
        return false;
    }
    return true;
}

void WebServer::Stop() {
    board_->Interrupt();
    {
        // The accept thread owns the listener and closes it; shutting it down
        // makes its pending accept fail.
        std::lock_guard guard(slotLock_);
        const int listener = listenSocket_.load(std::memory_order_acquire);
        if (listener >= 0) shutdown(listener, SHUT_RDWR);
    }
    if (acceptThread_ && !acceptThread_.WaitFor(kAcceptWaitMs)) acceptThread_.Detach();
    // After the accept thread ended no new slot is taken, so this reaches every connection.
    std::lock_guard guard(slotLock_);
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

uint32_t WebServer::StopCount() const {
    return board_->Interrupts();
}

void WebServer::SetReceiveTimeoutMs(int timeoutMs) {
    receiveTimeoutMs_.store(timeoutMs, std::memory_order_relaxed);
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
        // Slow clients are ended here, whatever they do; the listener itself never waits long.
        EndLateConnections();
        pollfd waiting{listener, POLLIN, 0};
        if (poll(&waiting, 1, kDeadlineCheckMs) == 0) continue;
        sockaddr_storage peer{};
        socklen_t peerLength = sizeof peer;
        int connection = accept4(listener, reinterpret_cast<sockaddr*>(&peer), &peerLength, SOCK_CLOEXEC);
        if (connection < 0) {
            // One client's aborted handshake must not end the server.
            if (IsConnectionError(errno)) continue;
            break;
        }
        PrepareConnection(connection);
        const int slot = TakeSlot(connection, peer);
        if (slot < 0) {
            CloseSocket(connection);
            continue;
        }
        HandOver(slot);
    }
    std::lock_guard guard(slotLock_);
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
    std::unique_ptr<uint8_t[]> picture(new (std::nothrow) uint8_t[static_cast<std::size_t>(board_->Capacity())]);
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
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) peer.ss_family = AF_UNSPEC;
    const int slot = TakeSlot(fd, peer);
    if (slot < 0) {
        CloseSocket(fd);
        return;
    }
    std::unique_ptr<uint8_t[]> picture(new (std::nothrow) uint8_t[static_cast<std::size_t>(board_->Capacity())]);
    ServeSlot(slot, picture.get());
}

bool WebServer::HandleRequest(int fd, uint8_t* picture) {
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) peer.ss_family = AF_UNSPEC;
    // An address that gave wrong credentials too often gets no answer at all.
    if (auth_.Blocked(peer)) return false;
    return Answer(fd, peer, picture);
}

bool WebServer::Answer(int fd, const sockaddr_storage& peer, uint8_t* picture) {
    HttpRequest request;
    if (!request.Read(fd)) return false;
    // A response is due within three receive timeouts; a stream has its own rule per part.
    const int timeoutMs = receiveTimeoutMs_.load(std::memory_order_relaxed);
    SetDeadline(fd, timeoutMs > 0 ? PictureBoard::NowMs() + 3 * int64_t{timeoutMs} : 0);
    switch (Admit(peer, request.Authorization())) {
        case Admission::kAnswer:
            // Streams and files keep to the deadline of each send instead.
            if (request.Route() == HttpRequest::Resource::kStream ||
                request.Route() == HttpRequest::Resource::kRecordings)
                SetDeadline(fd, 0);
            break;
        case Admission::kRefuse:
            return SendText(fd, http_response::kUnauthorized) >= 0;
        case Admission::kSilence:
            return false;
    }
    switch (request.Route()) {
        case HttpRequest::Resource::kPage:
            return SendText(fd, http_response::kPage) >= 0;
        case HttpRequest::Resource::kLivePage: {
            const std::string page = page_texts::Fill(registry_, LivePage::kBody);
            return http_response::SendWithHead(fd, "text/html; charset=utf-8", page.data(), page.size());
        }
        case HttpRequest::Resource::kStatus:
            return SendStatus(fd);
        case HttpRequest::Resource::kStream:
            // A stream ends only when it cannot go on; nothing is left to drain.
            // While it runs, every picture is encoded for it.
            board_->AddStreamViewer();
            MjpegStream(*this, fd, picture, receiveTimeoutMs_.load(std::memory_order_relaxed)).Run();
            board_->RemoveStreamViewer();
            return false;
        case HttpRequest::Resource::kRecordings:
            return picture && recordingAnswers_.Answer(fd, request, picture, timeoutMs > 0 ? timeoutMs : kFinishWaitMs * 5);
        case HttpRequest::Resource::kPicture:
            break;
    }
    return SendPicture(fd, picture);
}

WebServer::Admission WebServer::Admit(const sockaddr_storage& peer, const char* authorization) {
    if (!auth_.Enabled()) return Admission::kAnswer;
    const WebAuth::Verdict verdict = auth_.Check(authorization);
    if (verdict == WebAuth::Verdict::kAccepted) {
        auth_.RecordSuccess(peer);
        return Admission::kAnswer;
    }
    // A first request without credentials is how every browser asks for them.
    if (authorization[0] != '\0') auth_.RecordFailure(peer);
    // Past the second's budget of checks a guess is not even answered.
    return verdict == WebAuth::Verdict::kOverBudget ? Admission::kSilence : Admission::kRefuse;
}

bool WebServer::SendStatus(int fd) {
    WebStatus status;
    status_.Read(status);
    char body[kStatusSize];
    const int length = WebStatusBoard::FormatJson(status, body, sizeof body);
    if (length < 0) return false;
    return http_response::SendWithHead(fd, "application/json", body, static_cast<std::size_t>(length));
}

bool WebServer::SendPicture(int fd, uint8_t* picture) {
    if (!picture) return false;
    board_->AwaitFresh(kFreshPictureWaitMs);
    const int32_t bytes = board_->CopyNewest(picture);
    return http_response::SendWithHead(fd, "image/jpeg", picture, static_cast<std::size_t>(std::max(bytes, 0)));
}
