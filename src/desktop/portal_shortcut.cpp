#include "desktop/portal_shortcut.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <cstdio>

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

struct Shortcut {
    QString id;
    QVariantMap properties;
};
using Shortcuts = QList<Shortcut>;

QDBusArgument& operator<<(QDBusArgument& argument, const Shortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, Shortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

}  // namespace

Q_DECLARE_METATYPE(Shortcut)
Q_DECLARE_METATYPE(Shortcuts)

QString PortalShortcut::TriggerOf(int32_t value) {
    const int32_t key = value & 0xFFFF;
    QString name;
    if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z'))
        name = QChar(key).toLower();
    else if (key >= 96 && key <= 105)
        name = QStringLiteral("KP_%1").arg(key - 96);
    else if (key >= 112 && key <= 135)
        name = QStringLiteral("F%1").arg(key - 111);
    else if (key == 32)
        name = QStringLiteral("space");
    else
        return QString();
    QString trigger;
    if (value & 0x10000) trigger += QStringLiteral("CTRL+");
    if (value & 0x20000) trigger += QStringLiteral("ALT+");
    if (value & 0x40000) trigger += QStringLiteral("SHIFT+");
    return trigger + name;
}

PortalShortcut::PortalShortcut(QString description, QString preferredTrigger, std::function<void()> pressed,
                               std::function<void()> changed, QObject* parent)
    : QObject(parent),
      description_(std::move(description)),
      preferred_(std::move(preferredTrigger)),
      pressed_(std::move(pressed)),
      changed_(std::move(changed)) {
    qDBusRegisterMetaType<Shortcut>();
    qDBusRegisterMetaType<Shortcuts>();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        Refuse(QStringLiteral("no session bus"));
        return;
    }
    // The whole message, as a slot with the signal's own types is refused at connect.
    if (!bus.connect(kService, kPath, kInterface, QStringLiteral("Activated"), this, SLOT(OnActivated(QDBusMessage))))
        std::fprintf(stderr, "desktop: cannot hear the desktop portal's key presses: %s\n",
                     bus.lastError().message().toUtf8().constData());
    const QString token = QStringLiteral("vistrel_session");
    Ask(QStringLiteral("CreateSession"), {}, QVariantMap{{QStringLiteral("session_handle_token"), token}},
        [this](const QVariantMap& results) {
            session_ = QDBusObjectPath(results.value(QStringLiteral("session_handle")).toString());
            Ask(QStringLiteral("ListShortcuts"), {QVariant::fromValue(session_)}, {},
                [this](const QVariantMap& listed) { Listed(listed); });
        });
}

void PortalShortcut::Ask(const QString& method, QList<QVariant> arguments, QVariantMap options,
                         std::function<void(const QVariantMap&)> next) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    // The request's path is known before the call, so its answer cannot come unheard.
    const QString token = QStringLiteral("vistrel%1").arg(++token_);
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    requestPath_ = kPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
    bus.connect(QString(), requestPath_, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"), this,
                SLOT(OnResponse(uint, QVariantMap)));
    next_ = std::move(next);
    options.insert(QStringLiteral("handle_token"), token);
    arguments.append(options);
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, method] {
        watcher->deleteLater();
        if (watcher->isError()) Refuse(method + QStringLiteral(": ") + watcher->error().message());
    });
}

void PortalShortcut::OnResponse(uint response, const QVariantMap& results) {
    QDBusConnection::sessionBus().disconnect(QString(), requestPath_, QStringLiteral("org.freedesktop.portal.Request"),
                                             QStringLiteral("Response"), this, SLOT(OnResponse(uint, QVariantMap)));
    if (response != 0) {
        Refuse(QStringLiteral("the desktop refused the shortcut"));
        return;
    }
    if (auto next = std::move(next_)) next(results);
}

void PortalShortcut::Listed(const QVariantMap& results) {
    if (TakeGranted(results.value(QStringLiteral("shortcuts")))) return;
    QVariantMap properties{{QStringLiteral("description"), description_}};
    if (!preferred_.isEmpty()) properties.insert(QStringLiteral("preferred_trigger"), preferred_);
    const Shortcuts wanted{Shortcut{QString::fromLatin1(kShortcutId), properties}};
    Ask(QStringLiteral("BindShortcuts"),
        {QVariant::fromValue(session_), QVariant::fromValue(wanted), QString()}, {},
        [this](const QVariantMap& bound) { Bound(bound); });
}

void PortalShortcut::Bound(const QVariantMap& results) {
    if (!TakeGranted(results.value(QStringLiteral("shortcuts")))) Refuse(QStringLiteral("the shortcut was not granted"));
}

bool PortalShortcut::TakeGranted(const QVariant& shortcuts) {
    Shortcuts list;
    if (shortcuts.canConvert<QDBusArgument>()) shortcuts.value<QDBusArgument>() >> list;
    for (const Shortcut& shortcut : list) {
        if (shortcut.id != QLatin1String(kShortcutId)) continue;
        state_ = State::Granted;
        trigger_ = shortcut.properties.value(QStringLiteral("trigger_description")).toString();
        if (changed_) changed_();
        return true;
    }
    return false;
}

void PortalShortcut::Refuse(const QString& why) {
    if (state_ == State::Refused) return;
    state_ = State::Refused;
    std::fprintf(stderr, "desktop: no global hot key from the desktop portal: %s\n", why.toUtf8().constData());
    if (changed_) changed_();
}

void PortalShortcut::OnActivated(const QDBusMessage& message) {
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 2) return;
    const auto session = qvariant_cast<QDBusObjectPath>(arguments[0]);
    if (session == session_ && arguments[1].toString() == QLatin1String(kShortcutId) && pressed_) pressed_();
}
