// The volume slider as the main window has it: vertical, 37 x 153 with a
// raised bevel, 0..255 in steps of 4.
#include <QTest>
#include <cmath>

#include <gtest/gtest.h>

#include "platform/win/Clock.h"
#include "tests/support/PumpUntil.h"
#include "tests/widgets/MouseEvents.h"
#include "widgets/RXSlider.h"

namespace {

using namespace std::chrono_literals;

class SliderTest : public testing::Test {
  protected:
    void SetUp() override {
        s.SetOrientation(soVertical);
        s.SetOptions(soShowPoints | soSmooth);
        s.SetBevelStyle(TBevelStyle::Raised);
        s.SetRange(0, 255);
        s.SetIncrement(4);
        s.SetValue(100);
        s.setFixedSize(37, 153);
        s.OnChange = [this] { ++changes; };
        s.OnChanged = [this] { ++changed; };
        changes = 0;
    }
    void TearDown() override { win::SetClock(nullptr); }
    // A point on the ruler's axis, `offset` pixels from the minimum (bottom) end.
    QPoint OnAxis(int offset) const { return {s.width() / 2, s.height() - 1 - 7 - offset}; }

    TRxSlider s;
    int changes = 0;
    int changed = 0;
};

TEST(RoundHalfEvenTest, TiesGoToTheEvenNeighbour) {
    const struct {
        long num, den, want;
    } cases[] = {{5, 2, 2},   {7, 2, 4},  {102, 4, 26}, {98, 4, 24},  {-5, 2, -2},
                 {-7, 2, -4}, {10, 4, 2}, {11, 4, 3},   {-11, 4, -3}, {0, 3, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(RoundHalfEven(c.num, c.den), c.want) << c.num << "/" << c.den;
}

TEST_F(SliderTest, GeometryMapsEveryValueToItsPixelAndBack) {
    EXPECT_EQ(s.RulerLength(), 139);
    EXPECT_EQ(s.Travel(), 130);
    for (int v = 0; v <= 255; ++v)
        EXPECT_EQ(s.OffsetOf(v), int(std::nearbyint(v * 130.0 / 255))) << v;
    for (int p = 0; p <= 130; ++p) {
        const int v = s.ValueAt(p);
        EXPECT_EQ(v, int(std::nearbyint(p * 255.0 / 130))) << p;
        EXPECT_EQ(s.OffsetOf(v), p) << p;
    }
    // Inside the 1-pixel bevel and 6 free pixels at each end: 0 at the bottom.
    s.SetValue(0);
    EXPECT_EQ(s.ThumbRect().bottom(), 153 - 1 - 1 - 6);
    s.SetValue(255);
    EXPECT_EQ(s.ThumbRect().top(), 1 + 6);
}

TEST_F(SliderTest, TicksEveryTwoIncrementsAndAtTheTop) {
    std::vector<int> want;
    for (int v = 0; v <= 248; v += 8) want.push_back(v);
    want.push_back(255);
    EXPECT_EQ(s.TickValues(), want);
    EXPECT_EQ(s.TickValues().size(), 33u);
}

TEST_F(SliderTest, ValueIsClampedAndChangeFiresOnlyOnAChange) {
    const struct {
        int set, stored, changes;
    } cases[] = {{300, 255, 1}, {255, 255, 0}, {-5, 0, 1}, {0, 0, 0}, {77, 77, 1}, {77, 77, 0}};
    for (const auto& c : cases) {
        changes = 0;
        s.SetValue(c.set);
        EXPECT_EQ(s.Value(), c.stored) << c.set;
        EXPECT_EQ(changes, c.changes) << c.set;
    }
    EXPECT_EQ(changed, 0);  // only the user's actions end with OnChanged
}

TEST_F(SliderTest, KeysStepOnTheIncrementGridAndEndTheAction) {
    const struct {
        int from;
        Qt::Key key;
        Qt::KeyboardModifiers mods;
        int want;
        int ends;  // OnChanged: each handled key ends an action
    } cases[] = {{254, Qt::Key_Up, Qt::NoModifier, 255, 1},
                 {100, Qt::Key_Up, Qt::NoModifier, 104, 1},
                 {100, Qt::Key_Down, Qt::NoModifier, 96, 1},
                 {102, Qt::Key_Up, Qt::NoModifier, 108, 1},
                 {102, Qt::Key_Down, Qt::NoModifier, 100, 1},
                 {2, Qt::Key_Down, Qt::NoModifier, 0, 1},
                 {100, Qt::Key_Home, Qt::NoModifier, 0, 1},
                 {100, Qt::Key_End, Qt::NoModifier, 255, 1},
                 {255, Qt::Key_End, Qt::NoModifier, 255, 1},
                 {100, Qt::Key_Right, Qt::NoModifier, 100, 0},
                 {100, Qt::Key_Up, Qt::ShiftModifier, 100, 0},
                 {100, Qt::Key_Home, Qt::ControlModifier, 100, 0}};
    for (const auto& c : cases) {
        s.SetValue(c.from);
        changed = 0;
        QTest::keyClick(&s, c.key, c.mods);
        EXPECT_EQ(s.Value(), c.want) << c.from << " key " << c.key;
        EXPECT_EQ(changed, c.ends) << c.from << " key " << c.key;
    }
}

TEST_F(SliderTest, DraggingKeepsTheGrabOffsetAndReachesBothEndsExactly) {
    s.SetValue(100);
    const QRect thumb = s.ThumbRect();
    const QPoint grab(thumb.center().x(), thumb.bottom() - 2);
    Press(&s, grab);
    Move(&s, grab - QPoint(0, 10));  // 10 px up: the thumb follows by exactly 10
    EXPECT_EQ(s.Value(), s.ValueAt(s.OffsetOf(100) + 10));
    EXPECT_EQ(s.ThumbRect().bottom(), thumb.bottom() - 10);
    Move(&s, grab - QPoint(0, 500));
    EXPECT_EQ(s.Value(), 255);
    EXPECT_EQ(changed, 0);
    Move(&s, grab + QPoint(0, 500));
    EXPECT_EQ(s.Value(), 0);
    Release(&s, grab + QPoint(0, 500));
    EXPECT_EQ(changed, 1);
    EXPECT_GE(changes, 3);
    Move(&s, grab - QPoint(0, 500), Qt::NoButton);  // released: no more dragging
    EXPECT_EQ(s.Value(), 0);
}

TEST_F(SliderTest, HandCursorOverTheThumbOnly) {
    Move(&s, s.ThumbRect().center(), Qt::NoButton);
    EXPECT_EQ(s.cursor().shape(), Qt::PointingHandCursor);
    Move(&s, OnAxis(0), Qt::NoButton);
    EXPECT_EQ(s.cursor().shape(), Qt::ArrowCursor);
}

// The held button steps once per 400 ms of the program's clock, until the
// thumb reaches the pointer or the end of the range.
TEST_F(SliderTest, RulerClickRepeatsEvery400MsUntilTheThumbReachesThePointer) {
    win::ManualClock clock;
    win::SetClock(&clock);
    struct Case {
        int pointerOffset;  // where the button is held, above the thumb
        int last;           // the value where the stepping stops
    };
    // The thumb is 9 px long: stepping stops once its top passes the pointer.
    for (const Case c : {Case{70, 124}, Case{130 + 8, 255}}) {
        s.SetValue(100);
        changed = 0;
        const QPoint at = OnAxis(c.pointerOffset);
        Press(&s, at);
        EXPECT_EQ(s.Value(), 104);
        int expected = 104;
        for (int round = 0; round < 40 && expected < c.last; ++round) {
            clock.Advance(399);
            PumpUntil([] { return false; }, 30ms);
            EXPECT_EQ(s.Value(), expected) << "before the period is up";
            clock.Advance(1);
            expected = std::min(expected + 4, 255);
            EXPECT_TRUE(PumpUntil([&] { return s.Value() == expected; }, 2s)) << expected;
        }
        clock.Advance(4000);
        PumpUntil([] { return false; }, 50ms);
        EXPECT_EQ(s.Value(), c.last) << "stopped at the pointer";
        Release(&s, at);
        EXPECT_EQ(changed, 1);
    }
}

TEST_F(SliderTest, ClickBesideTheThumbStepsTowardThePointerWithin3PxOfTheRuler) {
    const int rulerLeft = s.RulerRect().left(), rulerRight = s.RulerRect().right();
    const struct {
        int x, offset, want;
    } cases[] = {{s.width() / 2, 2, 100}, {rulerLeft - 3, 2, 100},  {rulerRight + 3, 2, 100},
                 {rulerLeft - 4, 2, 102}, {rulerRight + 4, 2, 102}, {s.width() / 2, 100, 108},
                 {s.width() / 2, -2, 102}};  // below the ruler's end
    for (const auto& c : cases) {
        s.SetValue(102);
        changed = 0;
        const QPoint at(c.x, OnAxis(c.offset).y());
        Press(&s, at);
        EXPECT_EQ(s.Value(), c.want) << c.x << "," << c.offset;
        Release(&s, at);
        EXPECT_EQ(changed, c.want == 102 ? 0 : 1) << c.x << "," << c.offset;
    }
}

TEST_F(SliderTest, RangeRulesAndTheIncrementError) {
    for (int bad : {0, -4, 256}) {
        try {
            s.SetIncrement(bad);
            ADD_FAILURE() << bad << " accepted";
        } catch (const std::out_of_range& e) {
            EXPECT_STREQ(e.what(), "Value must be between 1 and 255");
        }
    }
    EXPECT_EQ(s.Increment(), 4);
    s.SetRange(50, 50);  // min >= max: ignored
    s.SetMaxValue(-1);
    EXPECT_EQ(s.MinValue(), 0);
    EXPECT_EQ(s.MaxValue(), 255);
    s.SetValue(200);
    s.SetMaxValue(3);  // a range smaller than the increment
    EXPECT_EQ(s.Increment(), 3);
    EXPECT_EQ(s.Value(), 3);
    s.SetMinValue(1);
    EXPECT_EQ(s.Increment(), 2);
    try {
        s.SetIncrement(3);
        ADD_FAILURE() << "3 accepted over a range of 2";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "Value must be between 1 and 2");
    }
}

}  // namespace
