// The start rules of the "Início" cells and the texts of the display, on
// their own.
#include <gtest/gtest.h>

#include "app/automation/Playback.h"
#include "app/automation/StartRules.h"

namespace {

constexpr std::uint32_t At(unsigned h, unsigned m, unsigned s = 0) {
    return ((h * 60 + m) * 60 + s) * 1000;
}

TEST(FormatSecondsTest, FillsEveryFieldToTwoDigitsAndLetsTheHoursGrow) {
    EXPECT_EQ(FormatSeconds(0), "00:00:00");
    EXPECT_EQ(FormatSeconds(59), "00:00:59");
    EXPECT_EQ(FormatSeconds(60), "00:01:00");
    EXPECT_EQ(FormatSeconds(3661), "01:01:01");
    EXPECT_EQ(FormatSeconds(86399), "23:59:59");
    EXPECT_EQ(FormatSeconds(360000), "100:00:00");
    EXPECT_EQ(FormatSeconds(4294967295u), "1193046:28:15");
}

TEST(ParseTimeOfDayTest, ReadsHoursAndMinutesWithOptionalSeconds) {
    EXPECT_EQ(ParseTimeOfDay("12:00:00"), At(12, 0));
    EXPECT_EQ(ParseTimeOfDay("7:30"), At(7, 30));
    EXPECT_EQ(ParseTimeOfDay("07:05:09"), At(7, 5, 9));
    EXPECT_EQ(ParseTimeOfDay(" 23:59:59 "), At(23, 59, 59));
    EXPECT_EQ(ParseTimeOfDay("0:00:01"), At(0, 0, 1));
}

TEST(ParseTimeOfDayTest, AnythingElseGivesNoTime) {
    for (const char* text : {"", ":", "12", "--:--:--", "24:00", "12:60", "12:00:60", "1:2:3:4",
                             "12:00:", ":30", "a:b", "12:3x", "123:00", "-1:00", "12 :00"})
        EXPECT_EQ(ParseTimeOfDay(text), 0u) << text;
    EXPECT_EQ(ParseTimeOfDay("00:00:00"), 0u);  // midnight stands for no time
}

TEST(EntryTimeTest, SubstitutesTheHourAndDropsEveryExclamationMark) {
    EXPECT_EQ(EntryTime("%h:30:00", 9), At(9, 30));
    EXPECT_EQ(EntryTime("%h:30:00", 23), At(23, 30));
    EXPECT_EQ(EntryTime("12:00:00!", 3), At(12, 0));
    EXPECT_EQ(EntryTime("!1!2:00!", 3), At(12, 0));
    EXPECT_EQ(EntryTime("%h:00:00!", 14), At(14, 0));
    // Only the exact lower-case "%h" is a placeholder.
    EXPECT_EQ(EntryTime("%H:30:00", 9), 0u);
    // No ":" after the replacements: no time rule at all.
    EXPECT_EQ(EntryTime("4", 9), 0u);
    EXPECT_EQ(EntryTime("...!", 9), 0u);
    EXPECT_EQ(EntryTime("--:--:--", 9), 0u);
    EXPECT_EQ(EntryTime("%h:00:00", 0), 0u);  // midnight's hour gives 00:00:00
}

TEST(EntryCountTest, OnlyAWholeCellThatIsANumberCounts) {
    EXPECT_EQ(EntryCount("4"), 4);
    EXPECT_EQ(EntryCount("12"), 12);
    EXPECT_EQ(EntryCount("+3"), 3);
    EXPECT_EQ(EntryCount("-2"), -2);
    EXPECT_EQ(EntryCount("2147483647"), 2147483647);
    EXPECT_EQ(EntryCount("-2147483648"), std::int32_t(-2147483647 - 1));
    for (const char* text :
         {"", "-", "3 ", "3a", "3!", "...", "12:00", "2147483648", "99999999999999999999"})
        EXPECT_EQ(EntryCount(text), 0) << text;
}

TEST(ReplaceHourTest, PutsTheHourInTwoDigitsEverywhere) {
    EXPECT_EQ(ReplaceHour("/j/noticias%h.mp3", 14), "/j/noticias14.mp3");
    EXPECT_EQ(ReplaceHour("/j/%h/n%h.mp3", 7), "/j/07/n07.mp3");
    EXPECT_EQ(ReplaceHour("%h%h", 0), "0000");
    EXPECT_EQ(ReplaceHour("%%hh", 5), "%05h");
    EXPECT_EQ(ReplaceHour("/j/a.mp3", 5), "/j/a.mp3");
}

TEST(DescribeStreamTest, FillsTheNowPlayingTexts) {
    TStreamInfo info;
    info.Artist = "Banda";
    info.Title = "Canção";
    info.SampleRate = 44100;
    info.BitRate = 128;
    info.Channels = 2;
    info.Duration = 3725999;
    NowPlayingTexts t = DescribeStream(info);
    EXPECT_EQ(t.artist, "Banda");
    EXPECT_EQ(t.title, "Canção");
    EXPECT_EQ(t.params, "44100 Hz, 128 kbps, estéreo");
    EXPECT_EQ(t.duration, "01:02:05");

    info.Channels = 1;
    EXPECT_EQ(DescribeStream(info).params, "44100 Hz, 128 kbps, mono");
    info.Channels = 6;
    EXPECT_EQ(DescribeStream(info).params, "44100 Hz, 128 kbps, estéreo");
}

TEST(DescribeStreamTest, AnUntaggedStreamSaysSo) {
    TStreamInfo info;
    NowPlayingTexts t = DescribeStream(info);
    EXPECT_EQ(t.artist, "Sem indicação de autor");
    EXPECT_EQ(t.title, "Sem indicação de título");
    EXPECT_EQ(t.duration, "00:00:00");
    EXPECT_EQ(t.params, "0 Hz, 0 kbps, estéreo");
}

}  // namespace
