// The volume slider: a vertical slider whose value is kept within its range,
// with a hint (tool tip) and mouse-wheel events passed to its owner.
#pragma once

#include <QSlider>
#include <functional>

class TRxSlider : public QSlider {
  public:
    explicit TRxSlider(QWidget* parent = nullptr);

    int MinValue() const { return minimum(); }
    int MaxValue() const { return maximum(); }
    void SetRange(int minValue, int maxValue) { setRange(minValue, maxValue); }
    int Increment() const { return pageStep(); }
    void SetIncrement(int step);

    int Value() const { return value(); }
    // Clamps to the range; OnChange fires only when the stored value changes.
    void SetValue(int v);

    QString Hint() const { return toolTip(); }
    void SetHint(const QString& hint) { setToolTip(hint); }

    std::function<void()> OnChange;
    std::function<void()> OnMouseWheelDown;
    std::function<void()> OnMouseWheelUp;

  protected:
    void wheelEvent(QWheelEvent* event) override;
};
