#include "core/replace_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool ReplaceFile(const std::string& path, const std::string& text, mode_t mode) {
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) return false;
    const bool written = fchmod(fd, mode) == 0 && WriteAll(fd, text) && fsync(fd) == 0;
    int error = errno;
    const bool closed = close(fd) == 0;
    if (written && !closed) error = errno;
    if (written && closed && std::rename(temp.c_str(), path.c_str()) == 0) return true;
    if (written && closed) error = errno;
    unlink(temp.c_str());
    errno = error;
    return false;
}
