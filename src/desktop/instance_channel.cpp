#include "desktop/instance_channel.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr int kWordWaitMs = 200;
constexpr std::size_t kMaxWord = 32;

bool FillAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

// Reads up to a newline or kMaxWord bytes, waiting at most timeoutMs in all.
std::string ReadWord(int fd, int timeoutMs) {
    std::string word;
    char byte = 0;
    while (word.size() <= kMaxWord) {
        pollfd waiting{fd, POLLIN, 0};
        if (poll(&waiting, 1, timeoutMs) <= 0) return "";
        if (read(fd, &byte, 1) != 1) return "";
        if (byte == '\n') return word;
        word += byte;
    }
    return "";
}

bool SameUser(int fd) {
    ucred peer{};
    socklen_t length = sizeof peer;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == geteuid();
}

}  // namespace

std::string InstanceChannel::SocketPathFor(const std::string& lockPath) {
    const std::string suffix = ".lock";
    if (lockPath.size() > suffix.size() && lockPath.compare(lockPath.size() - suffix.size(), suffix.size(), suffix) == 0)
        return lockPath.substr(0, lockPath.size() - suffix.size()) + ".sock";
    return lockPath + ".sock";
}

bool InstanceChannel::Send(const std::string& socketPath, const char* word, int timeoutMs) {
    sockaddr_un address;
    if (!FillAddress(socketPath, address)) return false;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    bool acted = false;
    const std::string line = std::string(word) + "\n";
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && SameUser(fd) &&
        write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()))
        acted = ReadWord(fd, timeoutMs) == "ok";
    close(fd);
    return acted;
}

InstanceChannel::InstanceChannel(const std::string& socketPath, std::function<void(const std::string&)> onWord,
                                 QObject* parent)
    : QObject(parent), path_(socketPath), onWord_(std::move(onWord)) {
    sockaddr_un address;
    if (!FillAddress(path_, address)) {
        error_ = path_ + ": path too long";
        return;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error_ = std::string("socket: ") + std::strerror(errno);
        return;
    }
    // Whoever holds the lock owns the name: a socket left by a crashed copy goes.
    struct stat st {};
    if (lstat(path_.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == geteuid()) unlink(path_.c_str());
    // Created with no access for others from the first moment, not chmod-ed afterwards.
    const mode_t old = umask(0177);
    const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    umask(old);
    if (!bound || listen(fd, 4) != 0) {
        error_ = "cannot listen on " + path_ + ": " + std::strerror(errno);
        close(fd);
        return;
    }
    fd_ = fd;
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { Accept(); });
}

InstanceChannel::~InstanceChannel() {
    if (fd_ < 0) return;
    close(fd_);
    unlink(path_.c_str());
}

void InstanceChannel::Accept() {
    for (;;) {
        const int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) return;
        const std::string word = SameUser(client) ? ReadWord(client, kWordWaitMs) : std::string();
        const bool known = word == kShow || word == kToggle;
        if (known) (void)!write(client, "ok\n", 3);
        close(client);
        if (known && onWord_) onWord_(word);
    }
}
