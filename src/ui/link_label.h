#pragma once

#include <QFont>
#include <QLabel>
#include <QTimer>

class QUrl;

// A static text turned into a link: bold, underlined while the mouse rests
// on it, a hand cursor, and a click signal; OpenLink opens the target.
class LinkLabel final : public QLabel {
    Q_OBJECT

public:
    // Default hover time of the platform before the underline appears.
    static constexpr int kHoverDelayMs = 400;

    explicit LinkLabel(QWidget* parent = nullptr);

    bool Hovered() const { return hovered_; }
    const QFont& NormalFont() const { return normalFont_; }
    const QFont& HoverFont() const { return hoverFont_; }

    // Opens target with the desktop's handler when it is longer than 2 characters.
    static void OpenLink(const QString& target);
    // Folders and web addresses alike go through this one opener.
    static void OpenUrl(const QUrl& url);
    // Tests record what would be opened instead of starting a program.
    using Opener = void (*)(const QUrl& url);
    static void SetOpenerForTest(Opener opener);

signals:
    void clicked();

protected:
    void enterEvent(QEnterEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void SetHovered(bool hovered);

    QFont normalFont_;
    QFont hoverFont_;
    QTimer hoverTimer_;
    bool hovered_ = false;
};
