#pragma once

#include <QObject>

#include <memory>

class DesktopHost;
class SleepInhibitor;

// The program's place in the desktop session: keeps the computer awake while
// it watches. The window creates it after its menu and ticks it with its timer.
class DesktopSession final : public QObject {
public:
    explicit DesktopSession(DesktopHost& host, QObject* parent = nullptr);
    ~DesktopSession() override;

    // Follows the recording state: the inhibitor.
    void Tick();

    // True while the recording or the detector needs the computer awake.
    bool Watching() const;
    SleepInhibitor& Inhibitor() { return *inhibitor_; }

private:
    DesktopHost& host_;
    std::unique_ptr<SleepInhibitor> inhibitor_;
};
