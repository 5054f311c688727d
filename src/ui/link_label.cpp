#include "ui/link_label.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMouseEvent>
#include <QUrl>

namespace {
LinkLabel::Opener g_opener = nullptr;
}  // namespace

LinkLabel::LinkLabel(QWidget* parent) : QLabel(parent) {
    normalFont_ = font();
    normalFont_.setWeight(QFont::Bold);
    hoverFont_ = normalFont_;
    hoverFont_.setUnderline(true);
    setFont(normalFont_);
    setCursor(Qt::PointingHandCursor);
    setMouseTracking(true);
    // Highlight colour on the button face, as the dialog paints its links.
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, colours.color(QPalette::Highlight));
    colours.setColor(QPalette::Window, colours.color(QPalette::Button));
    setPalette(colours);
    setAutoFillBackground(true);
    hoverTimer_.setSingleShot(true);
    hoverTimer_.setInterval(kHoverDelayMs);
    connect(&hoverTimer_, &QTimer::timeout, this, [this] { SetHovered(true); });
}

void LinkLabel::SetHovered(bool hovered) {
    hovered_ = hovered;
    setFont(hovered ? hoverFont_ : normalFont_);
    update();
}

void LinkLabel::enterEvent(QEnterEvent* event) {
    if (!hovered_) hoverTimer_.start();
    QLabel::enterEvent(event);
}

void LinkLabel::mouseMoveEvent(QMouseEvent* event) {
    if (!hovered_ && !hoverTimer_.isActive()) hoverTimer_.start();
    QLabel::mouseMoveEvent(event);
}

void LinkLabel::leaveEvent(QEvent* event) {
    hoverTimer_.stop();
    SetHovered(false);
    QLabel::leaveEvent(event);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
    QLabel::mouseReleaseEvent(event);
}

void LinkLabel::OpenLink(const QString& target) {
    if (target.size() <= 2) return;
    // A local file or folder opens as such; anything else as a web address.
    const QFileInfo local(target);
    OpenUrl(local.exists() ? QUrl::fromLocalFile(local.absoluteFilePath()) : QUrl::fromUserInput(target));
}

void LinkLabel::OpenUrl(const QUrl& url) {
    if (g_opener) {
        g_opener(url);
        return;
    }
    QDesktopServices::openUrl(url);
}

void LinkLabel::SetOpenerForTest(Opener opener) { g_opener = opener; }
