#include "desktop/tray_icon.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

#include "desktop/desktop_host.h"
#include "desktop/x11_tray_host.h"

namespace {
constexpr int kModeAlways = 1;
constexpr int kModeDetector = 2;
}  // namespace

TrayIcon::TrayIcon(DesktopHost& host, QObject* parent) : QObject(parent), host_(host), watch_(new QTimer(this)) {
    connect(watch_, &QTimer::timeout, this, &TrayIcon::Watch);
    watch_->start(kWatchMs);
    Watch();
}

TrayIcon::~TrayIcon() = default;

bool TrayIcon::Shown() const { return icon_ && icon_->isVisible(); }

void TrayIcon::Watch() {
    if (asking_) return;
    // A StatusNotifierItem host registers with the watcher; asked anew every time, never remembered.
    QDBusMessage get = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QStringLiteral("org.kde.StatusNotifierWatcher") << QStringLiteral("IsStatusNotifierHostRegistered");
    asking_ = true;
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(get, kWatchMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        asking_ = false;
        const QDBusPendingReply<QDBusVariant> reply(*watcher);
        watcher->deleteLater();
        bool present = !reply.isError() && reply.value().variant().toBool();
        // Without one, an X11 session may still have an XEmbed tray.
        if (!present) present = X11TrayHostPresent();
        OnHostPresent(present);
    });
}

void TrayIcon::OnHostPresent(bool present) {
    if (present == static_cast<bool>(icon_)) return;
    if (!present) {
        // A host that went away takes the item with it; a new one gets a new item.
        icon_.reset();
        return;
    }
    Create();
}

void TrayIcon::Create() {
    menu_ = std::make_unique<QMenu>();
    showHide_ = menu_->addAction(QString());
    connect(showHide_, &QAction::triggered, this, [this] {
        if (host_.WindowShown())
            host_.HideWindow();
        else
            host_.ShowWindow();
    });
    menu_->addSeparator();
    record_ = menu_->addAction(QString());
    connect(record_, &QAction::triggered, this, &TrayIcon::RecordNow);
    detector_ = menu_->addAction(QString());
    connect(detector_, &QAction::triggered, this, &TrayIcon::Detector);
    photo_ = menu_->addAction(QString());
    connect(photo_, &QAction::triggered, this, [this] { host_.TakePhoto(); });
    livePage_ = menu_->addAction(QString());
    connect(livePage_, &QAction::triggered, this, [this] { host_.OpenLivePage(); });
    menu_->addSeparator();
    quit_ = menu_->addAction(QString());
    connect(quit_, &QAction::triggered, this, [this] { host_.Quit(); });

    icon_ = std::make_unique<QSystemTrayIcon>();
    icon_->setContextMenu(menu_.get());
    connect(icon_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) showHide_->trigger();
    });
    iconKey_ = 0;
    Tick();
    icon_->show();
}

void TrayIcon::Tick() {
    if (!icon_) return;
    const QIcon state = host_.StateIcon();
    if (state.cacheKey() != iconKey_) {
        iconKey_ = state.cacheKey();
        icon_->setIcon(state);
    }
    const QString tip = host_.StatusText();
    if (tip != icon_->toolTip()) icon_->setToolTip(tip);
    UpdateMenu();
}

void TrayIcon::UpdateMenu() {
    const int mode = host_.ActivationMode();
    auto set = [](QAction* action, const QString& text) {
        if (action->text() != text) action->setText(text);
    };
    set(showHide_, host_.Text(host_.WindowShown() ? "TrayHide" : "TrayShow"));
    set(record_, host_.Text(mode == kModeAlways ? "TrayRecordStop" : "TrayRecordNow"));
    set(detector_, host_.Text(mode == kModeDetector ? "TrayDetectorOff" : "TrayDetectorOn"));
    set(photo_, host_.Text("MenuPhotoShot"));
    set(livePage_, host_.Text("TrayLivePage"));
    set(quit_, host_.Text("MenuExit"));
}

void TrayIcon::ToggleMode(int target) {
    const int mode = host_.ActivationMode();
    if (mode == target) {
        host_.SetActivationMode(previousMode_ == target ? 0 : previousMode_);
    } else {
        previousMode_ = mode;
        host_.SetActivationMode(target);
    }
    UpdateMenu();
}
