// The guess of how long a start takes, which sets how early a punctual entry
// begins its fade: a slow start now and then must not move it, a lasting
// change must.
#include <gtest/gtest.h>

#include "app/automation/StartTimes.h"

namespace {

TEST(StartTimesTest, AFileNeverStartedIsGuessedFromTheLatestStartsOfAnyFile) {
    TStartTimes times;
    EXPECT_EQ(times.Guess("/m/news.wav"), 10u);  // nothing started yet: a local file's start
    for (std::uint32_t ms : {12u, 14u, 300u}) times.Note("/m/song.mp3", ms);
    EXPECT_EQ(times.Guess("/m/news.wav"), 14u);
}

TEST(StartTimesTest, OneSlowStartDoesNotMoveTheGuessAndALastingChangeDoes) {
    TStartTimes times;
    for (std::uint32_t ms : {8u, 9u, 8u, 9u}) times.Note("/m/news.wav", ms);
    times.Note("/m/news.wav", 350);  // once: the disk was busy
    EXPECT_EQ(times.Guess("/m/news.wav"), 9u);
    times.Note("/m/news.wav", 9);
    EXPECT_EQ(times.Guess("/m/news.wav"), 9u);

    for (std::uint32_t ms : {60u, 62u, 61u}) times.Note("/m/news.wav", ms);  // now slower for good
    EXPECT_EQ(times.Guess("/m/news.wav"), 61u);
}

TEST(StartTimesTest, EachFileKeepsItsOwnStarts) {
    TStartTimes times;
    for (int i = 0; i < 3; ++i) {
        times.Note("/m/ogg.ogg", 5);
        times.Note("/m/wave.wav", 40);
    }
    EXPECT_EQ(times.Guess("/m/ogg.ogg"), 5u);
    EXPECT_EQ(times.Guess("/m/wave.wav"), 40u);
}

}  // namespace
