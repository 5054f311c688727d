#pragma once

#include <memory>

#include "desktop/desktop_host.h"

class DesktopSession;
class MainWindow;
class Registry;

// The window's side of the desktop session: answers the adapters through the
// window's menu commands and modules, and owns the session.
class WindowDesktop final : public DesktopHost {
public:
    WindowDesktop(MainWindow& window, Registry& registry);
    ~WindowDesktop() override;
    DesktopSession& Session() { return *session_; }

    QString Text(const char* key) override;
    bool WindowShown() const override;
    void ShowWindow() override;
    void HideWindow() override;
    void MinimiseWindow() override;
    void Say(const QString& text) override;
    int ActivationMode() const override;
    void SetActivationMode(int mode) override;
    bool RecordingActive() const override;
    QIcon StateIcon() const override;
    QString StatusText() const override;
    void TakePhoto() override;
    void OpenLivePage() override;
    void Quit() override;

private:
    MainWindow& window_;
    Registry& registry_;
    std::unique_ptr<DesktopSession> session_;
};
