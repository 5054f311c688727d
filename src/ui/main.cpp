#include <QApplication>
#include <QSessionManager>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/command_line.h"
#include "core/instance_lock.h"
#include "core/settings_file.h"
#include "core/shutdown_signals.h"
#include "desktop/instance_channel.h"
#include "ui/main_window.h"

namespace {

// Qt would abort without a display; a platform chosen by name (offscreen, vnc) needs none.
bool GraphicalSessionPresent() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform && std::strncmp(platform, "xcb", 3) != 0 &&
        std::strncmp(platform, "wayland", 7) != 0)
        return true;
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    std::fprintf(stderr,
                 "vistrel: needs a graphical session, but neither DISPLAY nor WAYLAND_DISPLAY is set\n");
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // --help and --version answer without a display; other arguments are refused.
    if (const int code = HandleCommandLine(argc, argv, stdout, stderr); code >= 0) return code;

    constexpr const char* kLockName = "VistrelKarvexCom";
    const std::string socketPath = InstanceChannel::SocketPathFor(InstanceLock::PathFor(kLockName));
    if (const char* word = RemoteWord(argc, argv)) {
        if (InstanceChannel::Send(socketPath, word)) return 0;
        std::fprintf(stderr, "vistrel: no running copy of Vistrel to %s\n",
                     std::strcmp(word, InstanceChannel::kShow) == 0 ? "show" : "show or hide");
        return 1;
    }

    // One copy per user at a time; a second start shows the running copy's window and ends quietly.
    InstanceLock instance(kLockName);
    if (instance.Result() == InstanceLock::State::HeldByOther) {
        InstanceChannel::Send(socketPath, InstanceChannel::kShow);
        return 0;
    }
    if (instance.Result() == InstanceLock::State::Failed)
        std::fprintf(stderr, "vistrel: running without the single-instance lock: %s\n",
                     instance.Error().c_str());

    // A browser closing its connection early must not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    const int shutdownFd = InstallShutdownSignals();

    if (!GraphicalSessionPresent()) return 1;
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    {
        MainWindow window;
        window.WatchShutdownSignals(shutdownFd);
        std::unique_ptr<InstanceChannel> channel;
        if (instance.Acquired()) {
            channel = std::make_unique<InstanceChannel>(socketPath, [&window](const std::string& word) {
                if (word == InstanceChannel::kToggle) window.ToggleVisibility();
                else window.ShowAndRaise();
            });
            if (!channel->Listening())
                std::fprintf(stderr, "vistrel: a second start cannot reach this copy: %s\n", channel->Error().c_str());
        }
        // The desktop session ending: keep the settings, then close as the close box does.
        QObject::connect(&app, &QGuiApplication::commitDataRequest, &window, [&window](QSessionManager&) {
            if (window.Settings()) window.Settings()->Save();
        });
        QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, &MainWindow::Exit);
        window.show();
        app.exec();
    }
    return 0;
}
