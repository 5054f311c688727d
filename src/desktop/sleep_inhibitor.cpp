#include "desktop/sleep_inhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include <cstdio>

namespace {

// Inhibit flags of the portal: suspend (4) and idle (8).
constexpr uint kPortalSuspendAndIdle = 4 | 8;

template <class Reply, class Handler>
void OnReply(QObject* owner, const QDBusPendingCall& call, Handler handler) {
    auto* watcher = new QDBusPendingCallWatcher(call, owner);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, owner, [watcher, handler] {
        handler(Reply(*watcher));
        watcher->deleteLater();
    });
}

}  // namespace

SleepInhibitor::SleepInhibitor(QString reason, QObject* parent) : QObject(parent), reason_(std::move(reason)) {}

SleepInhibitor::~SleepInhibitor() { Release(); }

void SleepInhibitor::SetWatching(bool watching) {
    if (watching == wanted_) return;
    wanted_ = watching;
    // A take still under way is settled when its answer comes.
    if (pending_) return;
    if (watching)
        TakeFromLogind();
    else
        Release();
}

void SleepInhibitor::TakeFromLogind() {
    pending_ = true;
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"),
                                                       QStringLiteral("/org/freedesktop/login1"),
                                                       QStringLiteral("org.freedesktop.login1.Manager"),
                                                       QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << QStringLiteral("Vistrel") << reason_ << QStringLiteral("block");
    OnReply<QDBusPendingReply<QDBusUnixFileDescriptor>>(
        this, QDBusConnection::systemBus().asyncCall(call), [this](const QDBusPendingReply<QDBusUnixFileDescriptor>& reply) {
            if (reply.isError()) {
                TakeFromPortal(reply.error().message());
                return;
            }
            pending_ = false;
            logind_ = reply.value();
            if (!wanted_) Release();
        });
}

void SleepInhibitor::TakeFromPortal(const QString& logindError) {
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.portal.Desktop"),
                                                       QStringLiteral("/org/freedesktop/portal/desktop"),
                                                       QStringLiteral("org.freedesktop.portal.Inhibit"),
                                                       QStringLiteral("Inhibit"));
    call << QString() << kPortalSuspendAndIdle << QVariantMap{{QStringLiteral("reason"), reason_}};
    OnReply<QDBusPendingReply<QDBusObjectPath>>(
        this, QDBusConnection::sessionBus().asyncCall(call),
        [this, logindError](const QDBusPendingReply<QDBusObjectPath>& reply) {
            pending_ = false;
            if (reply.isError()) {
                if (!failureSaid_)
                    std::fprintf(stderr, "desktop: cannot keep the computer from sleeping: %s; %s\n",
                                 logindError.toUtf8().constData(), reply.error().message().toUtf8().constData());
                failureSaid_ = true;
                return;
            }
            portalHandle_ = reply.value().path();
            if (!wanted_) Release();
        });
}

void SleepInhibitor::Release() {
    // logind drops the inhibitor when its descriptor closes.
    logind_ = QDBusUnixFileDescriptor();
    if (!portalHandle_.isEmpty()) {
        QDBusConnection::sessionBus().asyncCall(QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.portal.Desktop"), portalHandle_,
            QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Close")));
        portalHandle_.clear();
    }
}
