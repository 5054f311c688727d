#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <functional>

#include "video/detector_mask.h"

class QPainter;
class QWidget;
class Registry;

// Lets the user draw the areas the motion detector ignores on the picture
// while the motion view is chosen: a drag adds one, a right click removes the
// newest under the pointer. The areas are shaded over the picture on the
// screen only, never drawn into the frames; every change is stored at once
// as "DetectorMask".
class MaskEditor final : public QObject {
    Q_OBJECT

public:
    // area shows the whole picture scaled to fit it (see FittedRect); active says whether
    // the motion view is chosen; edited runs after every change.
    MaskEditor(Registry& registry, DetectorMask& mask, QWidget& area, std::function<bool()> active,
               std::function<void()> edited = {});
    ~MaskEditor() override;

    // The areas, and the one being drawn, over the painted picture.
    void Paint(QPainter& painter) const;
    void Clear();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Where the area shows the picture.
    QRect Shown() const;
    // A point of the area in picture coordinates, held inside the picture.
    QPoint ToPicture(const QPoint& point) const;
    QRect ToArea(const MaskRect& rect) const;
    MaskRect Dragged() const;
    void Finish(const QPoint& point, const QPoint& global);
    void Store();

    Registry& registry_;
    DetectorMask& mask_;
    QWidget& area_;
    std::function<bool()> active_;
    std::function<void()> edited_;
    bool dragging_ = false;
    QPoint from_;  // Picture coordinates of the drag.
    QPoint to_;
};
