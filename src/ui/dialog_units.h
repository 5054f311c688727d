#pragma once

#include <QFontMetrics>
#include <QRect>
#include <QWidget>

// Dialog-template units of a window's font: a quarter of the average
// character width across, an eighth of the line height down.
class DialogUnits {
public:
    explicit DialogUnits(const QWidget& widget) {
        const QFontMetrics metrics(widget.font());
        x_ = metrics.horizontalAdvance(QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ")) / 52.0 / 4.0;
        y_ = metrics.height() / 8.0;
    }
    QRect Rect(int x, int y, int width, int height) const {
        return QRect(qRound(x * x_), qRound(y * y_), qRound(width * x_), qRound(height * y_));
    }
    QSize Size(int width, int height) const { return QSize(qRound(width * x_), qRound(height * y_)); }

private:
    double x_ = 1.5;
    double y_ = 1.625;
};
