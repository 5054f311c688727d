#include "ui/mask_editor.h"

#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QWidget>
#include <algorithm>
#include <cstdio>

#include "core/registry.h"
#include "core/save_request.h"
#include "ui/main_menu.h"
#include "ui/picture_view.h"

namespace {

// Drags shorter than this in either direction are clicks, not areas.
constexpr int kLeastSide = 2;
const QColor kShade(20, 30, 150, 120);
const QColor kEdge(255, 210, 60);

}  // namespace

MaskEditor::MaskEditor(Registry& registry, DetectorMask& mask, QWidget& area, std::function<bool()> active,
                       std::function<void()> edited)
    : registry_(registry), mask_(mask), area_(area), active_(std::move(active)), edited_(std::move(edited)) {
    area_.installEventFilter(this);
}

MaskEditor::~MaskEditor() { area_.removeEventFilter(this); }

QRect MaskEditor::Shown() const { return FittedRect(QSize(mask_.Width(), mask_.Height()), area_.rect()); }

QPoint MaskEditor::ToPicture(const QPoint& point) const {
    const QRect shown = Shown();
    const int w = std::max(1, shown.width());
    const int h = std::max(1, shown.height());
    const int x = static_cast<int>(int64_t{std::clamp(point.x() - shown.x(), 0, w)} * mask_.Width() / w);
    const int y = static_cast<int>(int64_t{std::clamp(point.y() - shown.y(), 0, h)} * mask_.Height() / h);
    return {x, y};
}

QRect MaskEditor::ToArea(const MaskRect& rect) const {
    const QRect shown = Shown();
    const double sx = mask_.Width() > 0 ? static_cast<double>(shown.width()) / mask_.Width() : 0.0;
    const double sy = mask_.Height() > 0 ? static_cast<double>(shown.height()) / mask_.Height() : 0.0;
    const QPoint topLeft(shown.x() + qRound(rect.x * sx), shown.y() + qRound(rect.y * sy));
    const QPoint end(shown.x() + qRound((rect.x + rect.width) * sx), shown.y() + qRound((rect.y + rect.height) * sy));
    return {topLeft, QSize(end.x() - topLeft.x(), end.y() - topLeft.y())};
}

MaskRect MaskEditor::Dragged() const {
    const int left = std::min(from_.x(), to_.x());
    const int top = std::min(from_.y(), to_.y());
    return {left, top, std::abs(to_.x() - from_.x()), std::abs(to_.y() - from_.y())};
}

void MaskEditor::Paint(QPainter& painter) const {
    painter.save();
    for (int i = 0; i < mask_.Count(); ++i) {
        const QRect shown = ToArea(mask_.Rect(i));
        painter.fillRect(shown, kShade);
        painter.setPen(QPen(kEdge, 1));
        painter.drawRect(shown.adjusted(0, 0, -1, -1));
    }
    if (dragging_) {
        painter.setPen(QPen(kEdge, 1, Qt::DashLine));
        painter.drawRect(ToArea(Dragged()).adjusted(0, 0, -1, -1));
    }
    painter.restore();
}

void MaskEditor::Clear() {
    dragging_ = false;
    mask_.Clear();
    Store();
}

bool MaskEditor::eventFilter(QObject* watched, QEvent* event) {
    if (watched != &area_) return false;
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
        return false;
    if (!active_()) {
        dragging_ = false;
        return false;
    }
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint at = ToPicture(mouse->position().toPoint());
    if (type == QEvent::MouseButtonPress && mouse->button() == Qt::RightButton) {
        // Any point of a pixel's square lies in it: the pointer is inside the area it removes.
        if (mask_.RemoveAt(at.x(), at.y())) Store();
    } else if (type == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton) {
        dragging_ = true;
        from_ = to_ = at;
    } else if (type == QEvent::MouseMove && dragging_) {
        to_ = at;
        area_.update();
    } else if (type == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton && dragging_) {
        Finish(at, mouse->globalPosition().toPoint());
    }
    return true;
}

void MaskEditor::Finish(const QPoint& point, const QPoint& global) {
    dragging_ = false;
    to_ = point;
    const MaskRect rect = Dragged();
    if (rect.width < kLeastSide || rect.height < kLeastSide) {
        area_.update();
        return;
    }
    if (!mask_.Add(rect)) {
        std::fprintf(stderr,
                     "ui: the detector ignores at most %d areas; one must go before another is added\n",
                     DetectorMask::kMaxRects);
        QToolTip::showText(global, UiText(registry_, "MaskFull"), &area_);
    }
    Store();
}

void MaskEditor::Store() {
    registry_.SetText("DetectorMask", mask_.Text().c_str());
    // Reaches the file on the window's next tick, so a kill loses no area.
    SaveRequest::AskFor(registry_);
    if (edited_) edited_();
    area_.update();
}
