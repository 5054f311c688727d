#pragma once

#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

// Keeps the session from suspending or idling into sleep while the program
// watches: systemd-logind's "sleep:idle" inhibitor on the system bus, else
// the desktop portal's Inhibit on the session bus. All calls are
// asynchronous; where neither answers, the program runs on and says so once.
class SleepInhibitor final : public QObject {
public:
    explicit SleepInhibitor(QString reason, QObject* parent = nullptr);
    ~SleepInhibitor() override;

    // Takes the inhibitor when watching starts, releases it when it ends.
    void SetWatching(bool watching);
    // True while logind's descriptor or the portal's request is held.
    bool Held() const { return logind_.isValid() || !portalHandle_.isEmpty(); }

private:
    void TakeFromLogind();
    void TakeFromPortal(const QString& logindError);
    void Release();

    QString reason_;
    bool wanted_ = false;
    bool pending_ = false;
    QDBusUnixFileDescriptor logind_;
    QString portalHandle_;
    bool failureSaid_ = false;
};
