#include "desktop/desktop_session.h"

#include <QGuiApplication>

#include "desktop/desktop_host.h"
#include "desktop/sleep_inhibitor.h"
#include "desktop/tray_icon.h"

DesktopSession::DesktopSession(DesktopHost& host, bool trayWanted, QObject* parent)
    : QObject(parent), host_(host), inhibitor_(std::make_unique<SleepInhibitor>(host.Text("SleepReason"))) {
    if (trayWanted) tray_ = std::make_unique<TrayIcon>(host);
}

DesktopSession::~DesktopSession() = default;

bool DesktopSession::MayHide(bool hotKeyWorks) {
    const QString platform = QGuiApplication::platformName();
    const bool desktop = platform == QLatin1String("xcb") || platform.startsWith(QLatin1String("wayland"));
    if (hotKeyWorks || (tray_ && tray_->Shown()) || !desktop) return true;
    host_.MinimiseWindow();
    if (!minimiseSaid_) host_.Say(host_.Text("HideMinimised"));
    minimiseSaid_ = true;
    return false;
}

// Any activation mode but "off" watches: the detector is armed, or a timer
// waits for its window, which a sleeping computer would miss.
bool DesktopSession::Watching() const { return host_.ActivationMode() != 0 || host_.RecordingActive(); }

void DesktopSession::Tick() {
    inhibitor_->SetWatching(Watching());
    if (tray_) tray_->Tick();
}
