// The web server's table of connection slots: who holds one, how many one
// address holds, and when each must be done.
#include "web/web_server.h"

#include <sys/socket.h>

#include <cstring>
#include <mutex>

#include "core/picture_board.h"
#include "web/socket_layer.h"

int WebServer::TakeSlot(int fd, const sockaddr_storage& peer) {
    uint8_t key[16];
    const bool keyed = WebAuth::AddressKey(peer, key);
    const int timeoutMs = receiveTimeoutMs_.load(std::memory_order_relaxed);
    std::lock_guard guard(slotLock_);
    int free = -1;
    int fromPeer = 0;
    for (int i = 0; i < kSlotCount; ++i) {
        const Slot& slot = slots_[i];
        if (!slot.inUse) {
            if (free < 0) free = i;
        } else if (keyed && slot.keyed && std::memcmp(slot.key, key, sizeof key) == 0) {
            ++fromPeer;
        }
    }
    // No address takes the server from the others.
    if (free < 0 || fromPeer >= kSlotsPerAddress) return -1;
    Slot& slot = slots_[free];
    slot.inUse = true;
    slot.socket = fd;
    slot.keyed = keyed;
    std::memcpy(slot.key, key, sizeof key);
    // The whole request head is due within the receive timeout of the connection.
    slot.deadlineMs = timeoutMs > 0 ? PictureBoard::NowMs() + timeoutMs : 0;
    ++slotsInUse_;
    return free;
}

void WebServer::SetDeadline(int fd, int64_t deadlineMs) {
    std::lock_guard guard(slotLock_);
    for (Slot& slot : slots_) {
        if (slot.inUse && slot.socket == fd) slot.deadlineMs = deadlineMs;
    }
}

void WebServer::EndLateConnections() {
    const int64_t now = PictureBoard::NowMs();
    std::lock_guard guard(slotLock_);
    for (Slot& slot : slots_) {
        if (!slot.inUse || slot.deadlineMs == 0 || now < slot.deadlineMs) continue;
        shutdown(slot.socket, SHUT_RDWR);
        slot.deadlineMs = 0;
    }
}

void WebServer::ReleaseSlot(int slot) {
    int fd = kNoSocket;
    {
        // Leaves the table before it is closed, so Stop never shuts down a reused number.
        std::lock_guard guard(slotLock_);
        fd = slots_[slot].socket;
        slots_[slot].socket = kNoSocket;
        slots_[slot].inUse = false;
        --slotsInUse_;
        slotFreed_.notify_all();
    }
    CloseSocket(fd);
}
