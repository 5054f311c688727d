#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class DesktopHost;
class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;

// The icon in the desktop's tray (StatusNotifierItem on D-Bus, XEmbed on
// X11): the window's state icon, the status line as tool tip, a menu of the
// everyday commands; a click shows or hides the window. The tray host is
// looked for every half second, so one that comes later still gets the icon.
class TrayIcon final : public QObject {
public:
    static constexpr int kWatchMs = 500;

    TrayIcon(DesktopHost& host, QObject* parent = nullptr);
    ~TrayIcon() override;

    // Follows the window: icon, tool tip and the menu's texts.
    void Tick();
    // True while a tray host shows the icon.
    bool Shown() const;

private:
    void Watch();
    void OnHostPresent(bool present);
    void Create();
    void UpdateMenu();
    void RecordNow() { ToggleMode(1); }  // the "always" mode
    void Detector() { ToggleMode(2); }   // the detector
    // Switches to mode, or from it back to the mode before.
    void ToggleMode(int mode);

    DesktopHost& host_;
    QTimer* watch_ = nullptr;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> icon_;
    QAction* showHide_ = nullptr;
    QAction* record_ = nullptr;
    QAction* detector_ = nullptr;
    QAction* photo_ = nullptr;
    QAction* livePage_ = nullptr;
    QAction* quit_ = nullptr;
    qint64 iconKey_ = 0;
    bool asking_ = false;
    // The mode "record now" or "detector on" left, to go back to.
    int previousMode_ = 0;
};
