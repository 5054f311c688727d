#include <QApplication>
#include <QSessionManager>

#include <csignal>

#include "core/command_line.h"
#include "core/instance_lock.h"
#include "core/settings_file.h"
#include "core/shutdown_signals.h"
#include "ui/main_window.h"

int main(int argc, char** argv) {
    // --help and --version answer without a display; other arguments are refused.
    if (const int code = HandleCommandLine(argc, argv, stdout, stderr); code >= 0) return code;

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
