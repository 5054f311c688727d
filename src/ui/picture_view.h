#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>

#include "ui/view_mode.h"
#include "video/screen_picture.h"

class FrameExchange;

// Where a picture of that size is shown in an area: the largest rectangle of
// its proportions, centred (the whole area for an empty picture).
QRect FittedRect(QSize picture, const QRect& area);

// The client area: paints the chosen picture of the frame exchange (the
// camera's or the motion difference) scaled to fit it, keeping the picture's
// proportions with black bars beside or above it, or black; until a first
// picture came, a hint that says how to get one.
class PictureView final : public QWidget {
public:
    explicit PictureView(QWidget* parent);

    // The frames to show; null once they are gone.
    void SetFrames(FrameExchange* frames) { frames_ = frames; }
    void SetMode(ViewMode mode);
    ViewMode Mode() const { return mode_; }
    // A picture was fetched into the display buffer.
    void NotePictureArrived() { pictureArrived_ = true; }
    // Paints at once, not on the next pass of the loop, so the picture keeps
    // pace with the camera; skipped when nobody would see a change.
    void PaintNow(bool minimised);
    // The same for a picture lent by the frame exchange: the display buffer
    // holds only its first bandRows rows (stamped), the rest is read from
    // picture during the call. Until the display buffer is whole again
    // (NoteDisplayWhole), other paints fill it from the last picture measured.
    void PaintLent(const uint8_t* picture, int32_t bandRows, bool minimised);
    void NoteDisplayWhole() { bandRows_ = -1; }

    // Runs before the first paint.
    std::function<void()> firstPaint;
    // The hint's text while no picture came.
    std::function<QString()> hint;
    // Drawn over the picture on the screen only.
    std::function<void(QPainter&)> overlay;

    // Pictures painted at their arrival, paints that converted a picture for
    // the screen, and those that wrote it straight into the backing store.
    int64_t FramesPainted() const { return framesPainted_; }
    int64_t ScreenConversions() const { return screenConversions_; }
    int64_t DirectPaints() const { return directPaints_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Paint(QPainter& painter);
    bool PaintIntoBackingStore(QPainter& painter, const FrameRows& buffer, int32_t width, int32_t height,
                               const QRect& shown);
    // The frame at the shown size in screen pixels, in one pass.
    void ToScreen(const FrameRows& buffer, int32_t width, int32_t height, QSize shown, uint8_t* destination,
                  std::ptrdiff_t stride);
    void PaintHint(QPainter& painter);

    FrameExchange* frames_ = nullptr;
    ViewMode mode_ = ViewMode::kPicture;
    // The shown buffer in the screen's pixel format at the shown size, rows
    // top-down; allocated again only when that size changes.
    QImage screenImage_;
    ScreenScaler scaler_;
    bool firstPaintDone_ = false;
    bool pictureArrived_ = false;
    // The last paint showed the black picture of the view mode "none".
    bool blackShown_ = false;
    // The picture being lent while PaintLent paints, and the rows of it the
    // display buffer holds (-1: all of them).
    const uint8_t* lent_ = nullptr;
    int32_t bandRows_ = -1;
    int64_t framesPainted_ = 0;
    int64_t screenConversions_ = 0;
    int64_t directPaints_ = 0;
};
