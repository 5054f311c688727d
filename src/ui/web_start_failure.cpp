#include "ui/web_start_failure.h"

#include <QMessageBox>
#include <cerrno>
#include <cstring>

#include "core/registry.h"
#include "ui/main_menu.h"
#include "web/web_server.h"

namespace web_start_failure {

QString Text(Registry& registry, int32_t port, int error) {
    const QString number = QString::number(port);
    if (error == WebServer::kUnusablePassword) return UiText(registry, "WWWStartFailedPassword");
    if (error == EADDRINUSE) return UiText(registry, "WWWStartFailedInUse").arg(number);
    if (error == EACCES || error == EPERM) return UiText(registry, "WWWStartFailedPrivileges").arg(number);
    return UiText(registry, "WWWStartFailedOther").arg(number, QString::fromLocal8Bit(std::strerror(error)));
}

bool ShowIfFailed(Registry& registry, WebServer& server, QWidget* parent) {
    if (server.Running() || server.StartError() == 0) return false;
    QMessageBox box(QMessageBox::Warning, UiText(registry, "WWWStartFailedCaption"),
                    Text(registry, server.Port(), server.StartError()), QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("webStartFailure"));
    // Through RunModal, so a shutdown ends it like any other dialog.
    MainMenu::RunModal(box);
    return true;
}

}  // namespace web_start_failure
