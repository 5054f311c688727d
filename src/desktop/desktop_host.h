#pragma once

#include <QIcon>
#include <QString>

// What the desktop adapters ask of the program's window; the window's side
// implements it, so this library never needs the window's classes.
class DesktopHost {
public:
    virtual ~DesktopHost() = default;
    // A text of the current language table.
    virtual QString Text(const char* key) = 0;

    virtual bool WindowShown() const = 0;
    // Shown, raised and active, whether hidden or minimised.
    virtual void ShowWindow() = 0;
    // Ends open dialogs as cancelled and hides the window.
    virtual void HideWindow() = 0;
    virtual void MinimiseWindow() = 0;
    // Said on the status line (and by the caller on stderr).
    virtual void Say(const QString& text) = 0;

    // Recording state: the activation mode (0 off, 1 always, 2 detector, ...).
    virtual int ActivationMode() const = 0;
    virtual void SetActivationMode(int mode) = 0;
    virtual bool RecordingActive() const = 0;
    virtual QIcon StateIcon() const = 0;
    virtual QString StatusText() const = 0;

    virtual void TakePhoto() = 0;
    // The web server's page in the browser, starting the server when it is off.
    virtual void OpenLivePage() = 0;
    virtual void Quit() = 0;
};
