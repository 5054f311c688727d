#include "ui/state_pictures.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

namespace state_pictures {
namespace {

// A small camera: body, lens and viewfinder, in the given body colour, on a
// transparent square of side size.
QPixmap Camera(int size, QColor body, bool crossed, bool recordingDot, bool frame) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 16.0, size / 16.0);
    if (frame) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x1F, 0x3A, 0x5F));
        p.drawRoundedRect(QRectF(0, 0, 16, 16), 3, 3);
    }
    p.setPen(QPen(QColor(0x20, 0x20, 0x20), 0.6));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(1.5, 5, 10, 7.5), 1.2, 1.2);
    QPainterPath viewfinder;
    viewfinder.moveTo(11.5, 7.5);
    viewfinder.lineTo(15, 5.5);
    viewfinder.lineTo(15, 12);
    viewfinder.lineTo(11.5, 10);
    viewfinder.closeSubpath();
    p.drawPath(viewfinder);
    p.setBrush(QColor(0xE8, 0xF0, 0xF8));
    p.drawEllipse(QPointF(6.5, 8.75), 2.3, 2.3);
    p.setBrush(QColor(0x30, 0x40, 0x60));
    p.drawEllipse(QPointF(6.5, 8.75), 1.1, 1.1);
    if (recordingDot) {
        p.setPen(QPen(Qt::white, 0.6));
        p.setBrush(QColor(0xE0, 0x10, 0x10));
        p.drawEllipse(QPointF(12.5, 3.2), 2.8, 2.8);
    }
    if (crossed) {
        p.setPen(QPen(QColor(0xD0, 0x10, 0x10), 1.8, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(2, 2), QPointF(14, 14));
        p.drawLine(QPointF(14, 2), QPointF(2, 14));
    }
    p.end();
    return QPixmap::fromImage(image);
}

// The camera with an amber warning triangle over it: recording cannot store.
QPixmap WarningCamera(int size) {
    QImage image = Camera(size, QColor(0x30, 0xA0, 0x40), false, false, false).toImage();
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 16.0, size / 16.0);
    QPainterPath triangle;
    triangle.moveTo(11.5, 0.5);
    triangle.lineTo(15.8, 8.0);
    triangle.lineTo(7.2, 8.0);
    triangle.closeSubpath();
    p.setPen(QPen(QColor(0x40, 0x20, 0x00), 0.6));
    p.setBrush(QColor(0xFF, 0xB0, 0x00));
    p.drawPath(triangle);
    p.setPen(QPen(Qt::black, 1.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(11.5, 3.0), QPointF(11.5, 5.4));
    p.drawPoint(QPointF(11.5, 6.9));
    p.end();
    return QPixmap::fromImage(image);
}

// A 12 x 12 round lamp on the dialog's background, opaque 24-bit picture.
QPixmap Lamp(QColor fill, QColor rim) {
    QImage image(12, 12, QImage::Format_RGB888);
    image.fill(QColor(0xF0, 0xF0, 0xF0));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(rim, 1.0));
    p.setBrush(fill);
    p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
    p.end();
    return QPixmap::fromImage(image);
}

}  // namespace

std::array<QIcon, 5> StateIcons() {
    std::array<QIcon, 5> icons;
    icons[kNoCamera] = QIcon(Camera(16, QColor(0x9A, 0x9A, 0x9A), true, false, false));
    icons[kConnected] = QIcon(Camera(16, QColor(0x30, 0xA0, 0x40), false, false, false));
    icons[kRecordingLit] = QIcon(Camera(16, QColor(0x30, 0xA0, 0x40), false, true, false));
    QIcon program;
    program.addPixmap(Camera(16, QColor(0xF0, 0xB0, 0x30), false, false, true));
    program.addPixmap(Camera(32, QColor(0xF0, 0xB0, 0x30), false, false, true));
    icons[kProgram] = program;
    icons[kWarning] = QIcon(WarningCamera(16));
    return icons;
}

std::array<QPixmap, 3> StatusBitmaps() {
    return {Lamp(QColor(0xB8, 0xB8, 0xB8), QColor(0x70, 0x70, 0x70)),
            Lamp(QColor(0x20, 0xE0, 0x30), QColor(0x10, 0x70, 0x10)),
            Lamp(QColor(0x10, 0x60, 0x18), QColor(0x08, 0x30, 0x08))};
}

}  // namespace state_pictures
