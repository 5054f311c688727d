#include "core/shutdown_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

namespace {

int g_writeEnd = -1;

void OnSignal(int signal) {
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    if (g_writeEnd >= 0) (void)!write(g_writeEnd, &byte, 1);
    errno = saved;
}

}  // namespace

int InstallShutdownSignals() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
    g_writeEnd = ends[1];
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
    return ends[0];
}
