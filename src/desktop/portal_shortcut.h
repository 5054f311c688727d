#pragma once

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

// The global hot key of a Wayland session: the desktop portal's
// GlobalShortcuts. Creates a session, binds the one shortcut "show-hide" with
// the stored key as the preferred trigger unless the portal lists it already
// (so the desktop asks the user only once), and calls pressed on Activated.
class PortalShortcut final : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kShortcutId = "show-hide";
    enum class State { Asking, Granted, Refused };

    // preferredTrigger: "CTRL+ALT+SHIFT+j" (the shortcuts' own notation).
    PortalShortcut(QString description, QString preferredTrigger, std::function<void()> pressed,
                   std::function<void()> changed, QObject* parent = nullptr);

    State Current() const { return state_; }
    // The trigger as the desktop describes it, once granted.
    const QString& Trigger() const { return trigger_; }

    // "CTRL+ALT+SHIFT+j" for a hot key value (virtual-key code and modifier bits); "" without a key.
    static QString TriggerOf(int32_t value);

private slots:
    void OnResponse(uint response, const QVariantMap& results);
    // Activated(o session, s id, t timestamp, a{sv} options).
    void OnActivated(const QDBusMessage& message);

private:
    // Calls method with a fresh request token; next gets the request's results.
    void Ask(const QString& method, QList<QVariant> arguments, QVariantMap options,
             std::function<void(const QVariantMap&)> next);
    void Listed(const QVariantMap& results);
    void Bound(const QVariantMap& results);
    bool TakeGranted(const QVariant& shortcuts);
    void Refuse(const QString& why);

    QString description_;
    QString preferred_;
    std::function<void()> pressed_;
    std::function<void()> changed_;
    QDBusObjectPath session_;
    QString requestPath_;
    std::function<void(const QVariantMap&)> next_;
    State state_ = State::Asking;
    QString trigger_;
    int token_ = 0;
};
