#include "ui/picture_view.h"

#include <QPaintEngine>
#include <QPainter>

#include "video/frame_exchange.h"
#include "video/screen_picture.h"

QRect FittedRect(QSize picture, const QRect& area) {
    if (picture.isEmpty() || area.isEmpty()) return area;
    const QSize fitted = picture.scaled(area.size(), Qt::KeepAspectRatio);
    return {area.left() + (area.width() - fitted.width()) / 2, area.top() + (area.height() - fitted.height()) / 2,
            fitted.width(), fitted.height()};
}

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

void PictureView::PaintLent(const uint8_t* picture, int32_t bandRows, bool minimised) {
    lent_ = picture;
    bandRows_ = bandRows;
    PaintNow(minimised);
    lent_ = nullptr;
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
    // The motion view's difference image may be smaller (the motion grid): it is shown at the same place.
    const bool picture = mode_ == ViewMode::kPicture;
    FrameRows buffer{picture ? frames_->Display() : frames_->Difference()};
    if (picture && lent_) {
        buffer = {lent_, frames_->Display(), bandRows_};
    } else if (picture && bandRows_ >= 0 && frames_->CopyLastPicture(frames_->Display(), bandRows_)) {
        bandRows_ = -1;
    }
    const int32_t bufferWidth = picture ? width : frames_->DifferenceWidth();
    const int32_t bufferHeight = picture ? height : frames_->DifferenceHeight();
    const QRect shown = FittedRect(QSize(width, height), target);
    // The bars beside or above the picture.
    if (shown.top() > target.top()) {
        painter.fillRect(QRect(target.left(), target.top(), target.width(), shown.top() - target.top()), Qt::black);
        painter.fillRect(QRect(target.left(), shown.bottom() + 1, target.width(), target.bottom() - shown.bottom()),
                         Qt::black);
    }
    if (shown.left() > target.left()) {
        painter.fillRect(QRect(target.left(), shown.top(), shown.left() - target.left(), shown.height()), Qt::black);
        painter.fillRect(QRect(shown.right() + 1, shown.top(), target.right() - shown.right(), shown.height()),
                         Qt::black);
    }
    if (shown.isEmpty() || bufferWidth <= 0 || bufferHeight <= 0) return;
    ++screenConversions_;
    if (PaintIntoBackingStore(painter, buffer, bufferWidth, bufferHeight, shown)) return;
    if (screenImage_.size() != shown.size()) screenImage_ = QImage(shown.size(), QImage::Format_RGB32);
    // One pass turns the bottom-up frame upright into the screen's format at
    // the shown size; the draw is then a plain copy.
    ToScreen(buffer, bufferWidth, bufferHeight, shown.size(), screenImage_.bits(), screenImage_.bytesPerLine());
    painter.drawImage(shown.topLeft(), screenImage_);
}

void PictureView::ToScreen(const FrameRows& buffer, int32_t width, int32_t height, QSize shown, uint8_t* destination,
                           std::ptrdiff_t stride) {
    if (shown == QSize(width, height)) {
        FrameToScreenPixels(buffer, width, height, destination, stride);
        return;
    }
    scaler_.Prepare(width, height, shown.width(), shown.height());
    scaler_.Scale(buffer, destination, stride);
}

bool PictureView::PaintIntoBackingStore(QPainter& painter, const FrameRows& buffer, int32_t width,
                                        int32_t height, const QRect& shown) {
    // The window's backing store is an image in memory on the raster
    // platforms; the picture can then be written straight into it at the
    // shown size, sparing the intermediate image and the copy.
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
    const int x = qRound(placement.dx()) + shown.x();
    const int y = qRound(placement.dy()) + shown.y();
    if (qRound(placement.dx()) != placement.dx() || qRound(placement.dy()) != placement.dy() || x < 0 || y < 0 ||
        x + shown.width() > store->width() || y + shown.height() > store->height())
        return false;
    // Not bits(): that would detach a shared image from the memory the engine paints into.
    uchar* first = const_cast<uchar*>(store->constBits()) +
                   static_cast<qsizetype>(y) * store->bytesPerLine() + static_cast<qsizetype>(x) * 4;
    ToScreen(buffer, width, height, shown.size(), first, store->bytesPerLine());
    ++directPaints_;
    return true;
}

void PictureView::PaintHint(QPainter& painter) {
    if (!hint) return;
    painter.setPen(Qt::white);
    painter.drawText(rect().adjusted(12, 12, -12, -12), Qt::AlignCenter | Qt::TextWordWrap, hint());
}
