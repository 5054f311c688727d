#include "ui/window_desktop.h"

#include <QDesktopServices>
#include <QUrl>

#include <cstdio>

#include "desktop/desktop_session.h"
#include "core/registry.h"
#include "recording/recording_options.h"
#include "ui/main_menu.h"
#include "ui/main_window.h"
#include "ui/status_line.h"
#include "web/web_server.h"

namespace {
constexpr int kSayMs = 20000;
}  // namespace

WindowDesktop::WindowDesktop(MainWindow& window, Registry& registry)
    : window_(window), registry_(registry), session_(std::make_unique<DesktopSession>(*this, registry.IntInRange("TrayIcon", 1, 0, 1) != 0)) {}

WindowDesktop::~WindowDesktop() = default;

QString WindowDesktop::Text(const char* key) { return UiText(registry_, key); }

bool WindowDesktop::WindowShown() const { return window_.isVisible() && !window_.isMinimized(); }

void WindowDesktop::ShowWindow() { window_.ShowAndRaise(); }

void WindowDesktop::HideWindow() {
    MainMenu::CancelOpenDialogs();
    window_.hide();
}

void WindowDesktop::MinimiseWindow() { window_.showMinimized(); }

void WindowDesktop::Say(const QString& text) {
    std::fprintf(stderr, "desktop: %s\n", text.toUtf8().constData());
    if (window_.Status()) window_.Status()->showMessage(text, kSayMs);
}

int WindowDesktop::ActivationMode() const { return window_.Options() ? window_.Options()->Mode() : 0; }

void WindowDesktop::SetActivationMode(int mode) {
    if (window_.Menu()) window_.Menu()->Command(menu_id::kModeFirst + mode);
}

bool WindowDesktop::RecordingActive() const { return window_.Options() && window_.Options()->RecordingActive() != 0; }

QIcon WindowDesktop::StateIcon() const { return window_.windowIcon(); }

QString WindowDesktop::StatusText() const { return window_.Status() ? window_.Status()->Line() : QString(); }

void WindowDesktop::TakePhoto() {
    if (window_.Menu()) window_.Menu()->Command(menu_id::kShot);
}

void WindowDesktop::OpenLivePage() {
    auto* web = registry_.Find<WebServer>("_CL_WWWServer");
    if (!web) return;
    if (!web->Running() && window_.Menu()) window_.Menu()->Command(menu_id::kServerStart);
    if (!web->Running()) return;
    // A server bound to one address does not answer on 127.0.0.1.
    QDesktopServices::openUrl(QUrl(QString::fromStdString(WebServer::LivePageAddress(web->BindAddress(), web->Port()))));
}

void WindowDesktop::Quit() { window_.Exit(); }
