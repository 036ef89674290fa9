// The rules that end a live stream that keeps running dry, in output time:
// a third run dry within 60 s, or more than 4 s of waiting in the last 20 s.
#include <gtest/gtest.h>

#include "LiveWatch.h"

using kavbass::LiveWatch;

namespace {

constexpr uint32_t kRate = 44100;

// Plays seconds of output in 10 ms passes, silent ones when waiting; false
// as soon as the watch gives up.
bool play(LiveWatch& w, double seconds, bool waiting) {
    const size_t pass = kRate / 100;
    for (int i = 0; i < static_cast<int>(seconds * 100 + 0.5); ++i)
        if (!w.pass(pass, waiting ? pass : 0, kRate)) return false;
    return true;
}

}  // namespace

TEST(LiveWatch, AThirdRunDryWithinAMinuteEndsTheStream) {
    struct Case {
        const char* name;
        double apart;  // seconds of sound between runs dry
        bool lastEnds;
    };
    const Case cases[] = {
        {"every 10 s", 10, true}, {"every 29.9 s", 29.9, true}, {"every 30.5 s", 30.5, false}};
    for (const Case& c : cases) {
        LiveWatch w;
        bool ok = true;
        for (int dry = 0; dry < 2 && ok; ++dry) ok = play(w, c.apart, false) && w.ranDry(kRate);
        ASSERT_TRUE(ok) << c.name;  // two runs dry are two pauses, no more
        ASSERT_TRUE(play(w, c.apart, false)) << c.name;
        EXPECT_EQ(!w.ranDry(kRate), c.lastEnds) << c.name;
    }
}

TEST(LiveWatch, WaitingMoreThanFourSecondsOfTwentyEndsTheStream) {
    LiveWatch fine;
    EXPECT_TRUE(play(fine, 1, false));
    EXPECT_TRUE(play(fine, 3.9, true));  // one long pause: heard, not the end
    EXPECT_TRUE(play(fine, 20, false));  // out of the window again
    EXPECT_TRUE(play(fine, 3.9, true));

    LiveWatch slow;  // pauses of 2 s, 8 s apart: the third one ends it
    EXPECT_TRUE(play(slow, 5, false));
    EXPECT_TRUE(play(slow, 2, true));
    EXPECT_TRUE(play(slow, 6, false));
    EXPECT_FALSE(play(slow, 2.5, true));

    LiveWatch dead;  // nothing comes any more
    EXPECT_TRUE(play(dead, 10, false));
    EXPECT_FALSE(play(dead, 4.5, true));
}
