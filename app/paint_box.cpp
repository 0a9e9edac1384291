#include "app/paint_box.h"

#include <QMouseEvent>
#include <QPainter>

namespace wavrell {

TPaintBox::TPaintBox(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
}

void TPaintBox::paintEvent(QPaintEvent*) {
    QPainter canvas(this);
    if (OnPaint) OnPaint(this, canvas);
}

void TPaintBox::mousePressEvent(QMouseEvent* event) {
    pressedInside = true;
    const QPoint pos = event->position().toPoint();
    if (OnMouseDown) OnMouseDown(this, event->button(), event->modifiers(), pos.x(), pos.y());
}

void TPaintBox::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (OnMouseMove) OnMouseMove(this, event->buttons(), event->modifiers(), pos.x(), pos.y());
}

void TPaintBox::mouseReleaseEvent(QMouseEvent* event) {
    // A click is a left press and release inside the box.
    const bool click = pressedInside && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressedInside = false;
    if (click && OnClick) OnClick(this);
}

}  // namespace wavrell
