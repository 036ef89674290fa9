// The volume slider: a custom-painted slider with a ruler and a two-state
// thumb drawn from images, dragged, clicked on its ruler (with auto-repeat) or
// moved by the keyboard. GUI thread only.
#pragma once

#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <vector>

enum TSliderOrientation { soHorizontal, soVertical };
enum TSliderOption : unsigned {
    soShowFocus = 1,
    soShowPoints = 2,
    soSmooth = 4,
    soRulerOpaque = 8,
    soThumbOpaque = 16,
};
enum class TBevelStyle { None, Lowered, Raised };

// Rounds num / den to the nearest whole number, ties to even; den > 0.
std::int64_t RoundHalfEven(std::int64_t num, std::int64_t den);

class TRxSlider : public QWidget {
  public:
    explicit TRxSlider(QWidget* parent = nullptr);

    TSliderOrientation Orientation() const { return orientation_; }
    void SetOrientation(TSliderOrientation orientation);
    int MinValue() const { return min_; }
    int MaxValue() const { return max_; }
    // A range with min >= max is ignored; Increment shrinks to fit a smaller range.
    void SetMinValue(int v) { SetRange(v, max_); }
    void SetMaxValue(int v) { SetRange(min_, v); }
    void SetRange(int minValue, int maxValue);
    int Increment() const { return increment_; }
    // Throws std::out_of_range "Value must be between 1 and <range>" when outside.
    void SetIncrement(int step);
    unsigned Options() const { return options_; }
    void SetOptions(unsigned options);
    TBevelStyle BevelStyle() const { return bevel_; }
    void SetBevelStyle(TBevelStyle style);
    int EdgeSize() const { return edgeSize_; }
    void SetEdgeSize(int pixels);
    int NumThumbStates() const { return thumbStates_; }
    void SetNumThumbStates(int states);

    int Value() const { return value_; }
    // Clamps to the range; OnChange fires only when the stored value changes.
    void SetValue(int v);

    QString Hint() const { return toolTip(); }
    void SetHint(const QString& hint) { setToolTip(hint); }

    // --- Geometry, in pixels along the slider ------------------------------
    int RulerLength() const;
    int ThumbLength() const;
    // The thumb's travel L.
    int Travel() const { return RulerLength() - ThumbLength(); }
    // Offset of a value's thumb from the minimum end, and the value at an offset.
    int OffsetOf(int value) const;
    int ValueAt(int offset) const;
    // The values at which tick points are drawn.
    std::vector<int> TickValues() const;
    // Where the thumb is drawn, in widget coordinates.
    QRect ThumbRect() const;
    // The ruler's rectangle, in widget coordinates.
    QRect RulerRect() const;

    std::function<void()> OnChange;
    std::function<void()> OnChanged;
    std::function<void()> OnMouseWheelDown;
    std::function<void()> OnMouseWheelUp;

    // The ruler's auto-repeat period.
    static constexpr std::uint32_t kRepeatMs = 400;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    int bevelWidth() const { return bevel_ == TBevelStyle::None ? 0 : 1; }
    bool vertical() const { return orientation_ == soVertical; }
    // Position along the slider's axis, growing from the minimum end.
    int axisPos(const QPoint& p) const;
    int thumbOffset() const { return dragging_ ? dragOffset_ : OffsetOf(value_); }
    QPixmap thumbState() const;
    QPixmap rulerImage() const;
    void drawRuler(QPainter& p) const;
    void drawTicks(QPainter& p) const;
    void drawBevel(QPainter& p) const;
    void stepUp() { SetValue(increment_ * int(RoundHalfEven(value_, increment_) + 1)); }
    void stepDown() { SetValue(increment_ * int(RoundHalfEven(value_, increment_) - 1)); }
    // The ruler click's step toward the pointer; false when the thumb has reached it.
    bool stepTowardPointer();
    void repeatCheck();
    void finishAction();

    TSliderOrientation orientation_ = soHorizontal;
    int min_ = 0;
    int max_ = 100;
    int increment_ = 10;
    int value_ = 0;
    unsigned options_ = soShowFocus | soShowPoints | soSmooth;
    TBevelStyle bevel_ = TBevelStyle::None;
    int edgeSize_ = 2;
    int thumbStates_ = 2;
    QPixmap hRuler_, vRuler_, hThumb_, vThumb_;

    bool dragging_ = false;
    int grab_ = 0;        // pointer's distance from the thumb's minimum-end edge
    int dragOffset_ = 0;  // the thumb's offset while dragged
    bool rulerHeld_ = false;
    int rulerDirection_ = 0;  // +1 toward the maximum, -1 toward the minimum
    int pointerPos_ = 0;      // the held pointer, along the axis
    std::uint32_t lastStep_ = 0;
    QTimer repeat_;
};
