#include <QApplication>

#include <csignal>

#include "core/instance_lock.h"
#include "core/shutdown_signals.h"
#include "ui/main_window.h"

int main(int argc, char** argv) {
    // One copy at a time; a second start ends at once and quietly.
    InstanceLock instance("VistrelKarvexCom");
    if (!instance.Acquired()) return 0;

    // A browser closing its connection early must not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    const int shutdownFd = InstallShutdownSignals();

    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    {
        MainWindow window;
        window.WatchShutdownSignals(shutdownFd);
        window.show();
        app.exec();
    }
    return 0;
}
