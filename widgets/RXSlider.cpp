#include "widgets/RXSlider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <string>

#include "platform/win/Clock.h"

namespace {

constexpr int kRulerMargin = 6;     // free pixels at each end of the ruler
constexpr int kRulerTolerance = 3;  // across the ruler, for clicks beside it
constexpr int kRulerWidth = 6;
constexpr int kPollMs = 10;  // how often a held ruler click looks at the clock

// The built-in images: a sunken groove, and a thumb in two states (normal,
// pressed) side by side. Vertical images are drawn along y.
QPixmap rulerPixmap(bool vertical) {
    QPixmap image(vertical ? QSize(kRulerWidth, 20) : QSize(20, kRulerWidth));
    image.fill(QColor(96, 96, 96));
    QPainter p(&image);
    p.setPen(QColor(64, 64, 64));
    p.drawLine(0, 0, image.width() - 1, 0);
    p.drawLine(0, 0, 0, image.height() - 1);
    p.setPen(QColor(240, 240, 240));
    p.drawLine(image.width() - 1, 0, image.width() - 1, image.height() - 1);
    p.drawLine(0, image.height() - 1, image.width() - 1, image.height() - 1);
    return image;
}

void drawThumbState(QPainter& p, const QRect& r, bool pressed, bool vertical) {
    const QColor face = pressed ? QColor(150, 170, 200) : QColor(212, 208, 200);
    p.fillRect(r, face);
    p.setPen(pressed ? QColor(64, 64, 64) : QColor(255, 255, 255));
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(pressed ? QColor(255, 255, 255) : QColor(64, 64, 64));
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
    p.setPen(QColor(0, 64, 128));
    if (vertical)
        p.drawLine(r.left() + 3, r.center().y(), r.right() - 3, r.center().y());
    else
        p.drawLine(r.center().x(), r.top() + 3, r.center().x(), r.bottom() - 3);
}

QPixmap thumbPixmap(bool vertical) {
    const QSize state = vertical ? QSize(19, 9) : QSize(9, 19);
    QPixmap image(state.width() * 2, state.height());
    image.fill(Qt::transparent);
    QPainter p(&image);
    for (int i = 0; i < 2; ++i)
        drawThumbState(p, QRect(QPoint(i * state.width(), 0), state), i == 1, vertical);
    return image;
}

}  // namespace

std::int64_t RoundHalfEven(std::int64_t num, std::int64_t den) {
    std::int64_t q = num / den, r = num % den;
    if (r < 0) r += den, --q;  // floor division
    if (2 * r > den || (2 * r == den && q % 2 != 0)) ++q;
    return q;
}

TRxSlider::TRxSlider(QWidget* parent)
    : QWidget(parent),
      hRuler_(rulerPixmap(false)),
      vRuler_(rulerPixmap(true)),
      hThumb_(thumbPixmap(false)),
      vThumb_(thumbPixmap(true)) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);  // for the hand cursor over the thumb
    setAttribute(Qt::WA_OpaquePaintEvent);
    repeat_.setInterval(kPollMs);
    connect(&repeat_, &QTimer::timeout, this, [this] { repeatCheck(); });
}

void TRxSlider::SetOrientation(TSliderOrientation orientation) {
    orientation_ = orientation;
    update();
}

void TRxSlider::SetRange(int minValue, int maxValue) {
    if (minValue >= maxValue) return;
    min_ = minValue;
    max_ = maxValue;
    if (max_ - min_ < increment_) increment_ = max_ - min_;
    SetValue(value_);
    update();
}

void TRxSlider::SetIncrement(int step) {
    if (step <= 0 || step > max_ - min_)
        throw std::out_of_range("Value must be between 1 and " + std::to_string(max_ - min_));
    increment_ = step;
    update();
}

void TRxSlider::SetOptions(unsigned options) {
    options_ = options;
    update();
}

void TRxSlider::SetBevelStyle(TBevelStyle style) {
    bevel_ = style;
    update();
}

void TRxSlider::SetEdgeSize(int pixels) {
    edgeSize_ = std::max(0, pixels);
    update();
}

void TRxSlider::SetNumThumbStates(int states) {
    thumbStates_ = std::clamp(states, 1, 2);
    update();
}

void TRxSlider::SetValue(int v) {
    v = std::clamp(v, min_, max_);
    if (v == value_) return;
    value_ = v;
    update();
    if (OnChange) OnChange();
}

// --- Geometry ----------------------------------------------------------------

int TRxSlider::RulerLength() const {
    const int length = vertical() ? height() : width();
    return std::max(0, length - 2 * bevelWidth() - 2 * kRulerMargin);
}

int TRxSlider::ThumbLength() const {
    const QPixmap& image = vertical() ? vThumb_ : hThumb_;
    return vertical() ? image.height() : image.width() / thumbStates_;
}

int TRxSlider::OffsetOf(int value) const {
    const int travel = std::max(0, Travel());
    return int(RoundHalfEven(std::int64_t(value - min_) * travel, max_ - min_));
}

int TRxSlider::ValueAt(int offset) const {
    const int travel = Travel();
    if (travel <= 0) return min_;
    int v = min_ + int(RoundHalfEven(std::int64_t(offset) * (max_ - min_), travel));
    if (!(options_ & soSmooth)) v = increment_ * int(RoundHalfEven(v, increment_));
    return std::clamp(v, min_, max_);
}

std::vector<int> TRxSlider::TickValues() const {
    const int range = max_ - min_, travel = std::max(0, Travel());
    std::int64_t step = increment_, intervals = 0;
    for (int e = 1;; ++e) {
        step = std::int64_t(increment_) * e;
        intervals = RoundHalfEven(range, step);
        if (intervals <= 1 || double(travel) / double(intervals) >= 4.0) break;
    }
    std::vector<int> values;
    for (std::int64_t i = 0; i < intervals && min_ + i * step < max_; ++i)
        values.push_back(int(min_ + i * step));
    values.push_back(max_);
    return values;
}

int TRxSlider::axisPos(const QPoint& p) const {
    const int start = bevelWidth() + kRulerMargin;
    return vertical() ? height() - start - 1 - p.y() : p.x() - start;
}

QRect TRxSlider::RulerRect() const {
    const int start = bevelWidth() + kRulerMargin;
    if (vertical()) return QRect((width() - kRulerWidth) / 2, start, kRulerWidth, RulerLength());
    return QRect(start, (height() - kRulerWidth) / 2, RulerLength(), kRulerWidth);
}

QRect TRxSlider::ThumbRect() const {
    const QPixmap& image = vertical() ? vThumb_ : hThumb_;
    const int across = vertical() ? image.width() / thumbStates_ : image.height();
    const int start = bevelWidth() + kRulerMargin, length = ThumbLength();
    const int offset = thumbOffset();
    if (vertical())
        return QRect((width() - across) / 2, height() - start - offset - length, across, length);
    return QRect(start + offset, (height() - across) / 2, length, across);
}

// --- Painting ----------------------------------------------------------------

QPixmap TRxSlider::thumbState() const {
    const QPixmap& image = vertical() ? vThumb_ : hThumb_;
    const int w = image.width() / thumbStates_;
    const bool pressed = thumbStates_ > 1 && (dragging_ || !isEnabled());
    return image.copy(pressed ? w : 0, 0, w, image.height());
}

// The ruler image stretched to the ruler's length: its ends kept, its middle tiled.
QPixmap TRxSlider::rulerImage() const {
    const QPixmap& source = vertical() ? vRuler_ : hRuler_;
    const QRect target = RulerRect();
    QPixmap out(target.size());
    out.fill(Qt::transparent);
    QPainter p(&out);
    const int len = vertical() ? source.height() : source.width();
    const int edge = std::min(edgeSize_, len / 2), middle = len - 2 * edge;
    const int total = vertical() ? out.height() : out.width();
    auto put = [&](int at, int from, int count) {
        if (vertical())
            p.drawPixmap(0, at, source, 0, from, source.width(), count);
        else
            p.drawPixmap(at, 0, source, from, 0, count, source.height());
    };
    put(0, 0, edge);
    for (int at = edge; middle > 0 && at < total - edge; at += middle)
        put(at, edge, std::min(middle, total - edge - at));
    put(total - edge, len - edge, edge);
    return out;
}

void TRxSlider::drawRuler(QPainter& p) const {
    p.drawPixmap(RulerRect().topLeft(), rulerImage());
}

void TRxSlider::drawTicks(QPainter& p) const {
    p.setPen(palette().color(QPalette::WindowText));
    const std::vector<int> values = TickValues();
    const QRect thumb = ThumbRect();
    const int start = bevelWidth() + kRulerMargin, half = ThumbLength() / 2;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const int len = (i == 0 || i + 1 == values.size()) ? 5 : 3;
        const int at = OffsetOf(values[i]) + half;
        if (vertical()) {
            const int y = height() - start - 1 - at, x = thumb.left() - 2;
            p.drawLine(x - len + 1, y, x, y);
        } else {
            const int x = start + at, y = thumb.bottom() + 2;
            p.drawLine(x, y, x, y + len - 1);
        }
    }
}

void TRxSlider::drawBevel(QPainter& p) const {
    if (bevel_ == TBevelStyle::None) return;
    const bool raised = bevel_ == TBevelStyle::Raised;
    const QColor light = palette().color(QPalette::Light), dark = palette().color(QPalette::Dark);
    const QRect r = rect().adjusted(0, 0, -1, -1);
    p.setPen(raised ? light : dark);
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(raised ? dark : light);
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
}

// Drawn off-screen and copied in one operation, so the control never flickers.
void TRxSlider::paintEvent(QPaintEvent*) {
    QPixmap buffer(size());
    buffer.fill(palette().color(QPalette::Window));
    {
        QPainter p(&buffer);
        drawBevel(p);
        if (options_ & soShowPoints) drawTicks(p);
        drawRuler(p);
        p.drawPixmap(ThumbRect().topLeft(), thumbState());
        if ((options_ & soShowFocus) && hasFocus()) {
            p.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
            p.drawRect(rect().adjusted(1, 1, -2, -2));
        }
    }
    QPainter(this).drawPixmap(0, 0, buffer);
}

// --- Mouse and keys ------------------------------------------------------------

void TRxSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    const QPoint pos = event->position().toPoint();
    const int at = axisPos(pos), offset = OffsetOf(value_);
    if (ThumbRect().contains(pos)) {
        dragging_ = true;
        grab_ = at - offset;
        dragOffset_ = offset;
        update();
        return;
    }
    const int across = kRulerTolerance;
    const QRect near = vertical() ? RulerRect().adjusted(-across, 0, across, 0)
                                  : RulerRect().adjusted(0, -across, 0, across);
    if (!near.contains(pos)) return;
    rulerHeld_ = true;
    pointerPos_ = at;
    rulerDirection_ = at >= offset + ThumbLength() ? 1 : -1;
    stepTowardPointer();
    lastStep_ = win::GetTickCount();
    repeat_.start();
}

// A double click counts as a press for the ruler but never starts a drag.
void TRxSlider::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && ThumbRect().contains(event->position().toPoint()))
        return;
    mousePressEvent(event);
}

void TRxSlider::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (dragging_) {
        dragOffset_ = std::clamp(axisPos(pos) - grab_, 0, std::max(0, Travel()));
        update();
        SetValue(ValueAt(dragOffset_));
        return;
    }
    if (rulerHeld_) pointerPos_ = axisPos(pos);
    setCursor(ThumbRect().contains(pos) ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void TRxSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || (!dragging_ && !rulerHeld_))
        return QWidget::mouseReleaseEvent(event);
    dragging_ = false;
    rulerHeld_ = false;
    repeat_.stop();
    update();
    finishAction();
}

bool TRxSlider::stepTowardPointer() {
    const int offset = OffsetOf(value_);
    if (rulerDirection_ > 0 && pointerPos_ >= offset + ThumbLength()) {
        stepUp();
        return true;
    }
    if (rulerDirection_ < 0 && pointerPos_ < offset) {
        stepDown();
        return true;
    }
    return false;
}

// Steps once per period of the program's clock while the button is held and
// the pointer is still beyond the thumb.
void TRxSlider::repeatCheck() {
    if (!rulerHeld_) return repeat_.stop();
    while (win::GetTickCount() - lastStep_ >= kRepeatMs) {
        lastStep_ += kRepeatMs;
        if (!stepTowardPointer()) return repeat_.stop();
    }
}

void TRxSlider::finishAction() {
    if (OnChanged) OnChanged();
}

void TRxSlider::keyPressEvent(QKeyEvent* event) {
    const auto mods =
        event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    const int up = vertical() ? Qt::Key_Up : Qt::Key_Right;
    const int down = vertical() ? Qt::Key_Down : Qt::Key_Left;
    const int key = event->key();
    if (mods != Qt::NoModifier ||
        (key != Qt::Key_Home && key != Qt::Key_End && key != up && key != down))
        return QWidget::keyPressEvent(event);
    if (key == Qt::Key_Home) SetValue(min_);
    if (key == Qt::Key_End) SetValue(max_);
    if (key == up) stepUp();
    if (key == down) stepDown();
    event->accept();
    finishAction();
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

void TRxSlider::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) update();
    QWidget::changeEvent(event);
}
