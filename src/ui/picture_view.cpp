#include "ui/picture_view.h"

#include <QPaintEngine>
#include <QPainter>

#include "video/frame_exchange.h"
#include "video/screen_picture.h"

PictureView::PictureView(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }

void PictureView::SetMode(ViewMode mode) {
    mode_ = mode;
    if (isVisible()) repaint();
}

void PictureView::PaintNow(bool minimised) {
    ++framesPainted_;
    // Nobody sees a minimised window, and the view mode "none" shows the same black picture every frame.
    if (minimised || (mode_ == ViewMode::kNone && blackShown_)) return;
    if (isVisible()) repaint();
}

void PictureView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    Paint(painter);
    if (overlay) overlay(painter);
}

void PictureView::Paint(QPainter& painter) {
    if (!firstPaintDone_) {
        firstPaintDone_ = true;
        if (firstPaint) firstPaint();
    }
    const QRect target = rect();
    const int32_t width = frames_ ? frames_->Width() : 0;
    const int32_t height = frames_ ? frames_->Height() : 0;
    if (width <= 0 || height <= 0 || !pictureArrived_) {
        painter.fillRect(target, Qt::black);
        if (!pictureArrived_) PaintHint(painter);
        return;
    }
    blackShown_ = mode_ != ViewMode::kPicture && mode_ != ViewMode::kMotion;
    if (blackShown_) {
        // The blank picture is all black: nothing to convert.
        painter.fillRect(target, Qt::black);
        return;
    }
    const uint8_t* buffer = mode_ == ViewMode::kPicture ? frames_->Display() : frames_->Difference();
    ++screenConversions_;
    const bool ownSize = target.size() == QSize(width, height);
    if (ownSize && PaintIntoBackingStore(painter, buffer, width, height)) return;
    if (screenImage_.width() != width || screenImage_.height() != height)
        screenImage_ = QImage(width, height, QImage::Format_RGB32);
    // One pass turns the bottom-up frame upright into the screen's format;
    // at the picture's own size the draw is then a plain copy.
    FrameToScreenPixels(buffer, width, height, screenImage_.bits(), screenImage_.bytesPerLine());
    if (ownSize)
        painter.drawImage(target.topLeft(), screenImage_);
    else
        painter.drawImage(target, screenImage_);
}

bool PictureView::PaintIntoBackingStore(QPainter& painter, const uint8_t* buffer, int32_t width,
                                        int32_t height) {
    // The window's backing store is an image in memory on the raster
    // platforms; a picture of the area's own size can then be written
    // straight into it, sparing the intermediate image and the copy.
    QPaintEngine* engine = painter.paintEngine();
    if (!engine || engine->type() != QPaintEngine::Raster) return false;
    QPaintDevice* device = engine->paintDevice();
    if (!device || device->devType() != QInternal::Image) return false;
    auto* store = static_cast<QImage*>(device);
    const QImage::Format format = store->format();
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 &&
        format != QImage::Format_ARGB32_Premultiplied)
        return false;
    const QTransform placement = painter.deviceTransform();
    if (placement.type() > QTransform::TxTranslate) return false;  // A scaled (high-density) screen.
    const int x = qRound(placement.dx());
    const int y = qRound(placement.dy());
    if (x != placement.dx() || y != placement.dy() || x < 0 || y < 0 || x + width > store->width() ||
        y + height > store->height())
        return false;
    // Not bits(): that would detach a shared image from the memory the engine paints into.
    uchar* first = const_cast<uchar*>(store->constBits()) +
                   static_cast<qsizetype>(y) * store->bytesPerLine() + static_cast<qsizetype>(x) * 4;
    FrameToScreenPixels(buffer, width, height, first, store->bytesPerLine());
    ++directPaints_;
    return true;
}

void PictureView::PaintHint(QPainter& painter) {
    if (!hint) return;
    painter.setPen(Qt::white);
    painter.drawText(rect().adjusted(12, 12, -12, -12), Qt::AlignCenter | Qt::TextWordWrap, hint());
}
