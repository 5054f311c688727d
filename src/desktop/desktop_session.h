#pragma once

#include <QObject>

#include <memory>

class DesktopHost;
class SleepInhibitor;
class TrayIcon;

// The program's place in the desktop session: keeps the computer awake while
// it watches and shows its icon in the tray. The window creates it after its menu and ticks it with its timer.
class DesktopSession final : public QObject {
public:
    // trayWanted: the setting "TrayIcon".
    DesktopSession(DesktopHost& host, bool trayWanted, QObject* parent = nullptr);
    ~DesktopSession() override;

    // Follows the window and the recording state: tray icon and inhibitor.
    void Tick();

    // True when the window may hide: the hot key works, the tray shows the
    // icon, or the session is no desktop (offscreen). Otherwise minimises
    // the window, says once how to get it back, and returns false.
    bool MayHide(bool hotKeyWorks);

    // True while the recording or the detector needs the computer awake.
    bool Watching() const;
    SleepInhibitor& Inhibitor() { return *inhibitor_; }
    // Null when the setting "TrayIcon" is 0.
    TrayIcon* Tray() { return tray_.get(); }

private:
    DesktopHost& host_;
    std::unique_ptr<SleepInhibitor> inhibitor_;
    std::unique_ptr<TrayIcon> tray_;
    bool minimiseSaid_ = false;
};
