#include "widgets/RXSlider.h"

#include <QWheelEvent>
#include <algorithm>

TRxSlider::TRxSlider(QWidget* parent) : QSlider(Qt::Vertical, parent) {
    setRange(0, 100);
    setPageStep(10);
    setSingleStep(10);
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QSlider::valueChanged, this, [this] {
        if (OnChange) OnChange();
    });
}

void TRxSlider::SetIncrement(int step) {
    setPageStep(step);
    setSingleStep(step);
}

void TRxSlider::SetValue(int v) {
    setValue(std::clamp(v, minimum(), maximum()));
}

void TRxSlider::wheelEvent(QWheelEvent* event) {
    int steps = event->angleDelta().y() / QWheelEvent::DefaultDeltasPerStep;
    if (steps == 0 && event->angleDelta().y() != 0) steps = event->angleDelta().y() > 0 ? 1 : -1;
    for (; steps > 0; --steps)
        if (OnMouseWheelUp) OnMouseWheelUp();
    for (; steps < 0; ++steps)
        if (OnMouseWheelDown) OnMouseWheelDown();
    event->accept();
}
