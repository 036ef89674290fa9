// The texts the program writes for others to read: the as-run log's lines
// (RFC 4180, read back the same), the now-playing files, the item in
// progress kept in the run's state.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <map>
#include <optional>

#include "AsRun.h"
#include "InProgress.h"
#include "NowPlayingFiles.h"

namespace nowplaying {
namespace {

// The local time of these tests is UTC, whatever the machine's.
class FormatTest : public testing::Test {
  protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        savedTz_ = tz ? std::optional<std::string>(tz) : std::nullopt;
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    void TearDown() override {
        if (savedTz_)
            ::setenv("TZ", savedTz_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

  private:
    std::optional<std::string> savedTz_;
};

constexpr std::int64_t kNoon = 1'740'830'400'000;  // 2025-03-01 12:00:00 UTC

Played Sample() {
    Played p;
    p.item = {.id = 7,
              .list = kProgramme,
              .row = 4,
              .rule = "%h:30:00",
              .file = "/srv/jingles/hora, certa.mp3",
              .artist = "Banda \"A\"",
              .title = "Linha\r\nnova",
              .startMs = kNoon + 1234,
              .lengthMs = 30000};
    p.heardMs = 29'876;
    p.endMs = p.item.startMs + p.heardMs;
    p.result = Result::Cut;
    p.reason = reason::kTime;
    return p;
}

TEST_F(FormatTest, AnAsRunLineIsOnePhysicalLineThatReadsBackFieldByField) {
    EXPECT_EQ(
        AsRunHeader(),
        "inicio,fim,duracao_ms,lista,linha,regra,ficheiro,artista,titulo,resultado,motivo\r\n");
    const std::string line = AsRunLine(Sample());
    EXPECT_EQ(line,
              "2025-03-01 12:00:01.234,2025-03-01 12:00:31.110,29876,programa,4,%h:30:00,"
              "\"/srv/jingles/hora, certa.mp3\",\"Banda \"\"A\"\"\",Linha  nova,cortado,hora\r\n");
    EXPECT_EQ(AsRunFileName(Sample()), "2025-03-01.csv");
    std::vector<std::string> fields;
    ASSERT_TRUE(SplitCsvLine(line.substr(0, line.size() - 2), fields));
    ASSERT_EQ(fields.size(), AsRunColumns().size());
    EXPECT_EQ(fields[6], "/srv/jingles/hora, certa.mp3");
    EXPECT_EQ(fields[7], "Banda \"A\"");
    EXPECT_EQ(fields[8], "Linha  nova");
}

TEST_F(FormatTest, FieldsGoThroughQuotingAndBackAndBadLinesAreRefused) {
    for (const std::string text :
         {"", "plain", "a,b", "\"", "say \"x\", y", " spaces ", "ação ✓", ",", "\"\"", "a\"b"}) {
        std::vector<std::string> fields;
        const std::string line = CsvField(text) + "," + CsvField(text);
        ASSERT_TRUE(SplitCsvLine(line, fields)) << line;
        EXPECT_EQ(fields, (std::vector<std::string>{text, text})) << line;
    }
    for (const std::string bad :
         {"\"open", "\"closed\"after", "x\"y", "a,\"b\"\"", "\"a\"\"\"b\""}) {
        std::vector<std::string> fields;
        EXPECT_FALSE(SplitCsvLine(bad, fields)) << bad;
    }
}

TEST_F(FormatTest, DaysShiftAcrossMonthsYearsAndLeapDays) {
    const struct {
        const char* day;
        int by;
        const char* gives;
    } cases[] = {{"2024-03-01", -1, "2024-02-29"},
                 {"2025-03-01", -1, "2025-02-28"},
                 {"2025-01-01", -400, "2023-11-28"},
                 {"2025-12-31", 1, "2026-01-01"},
                 {"2025-02-30", 0, ""},
                 {"2025-1-01", 0, ""},
                 {"yesterday", -1, ""}};
    for (const auto& c : cases) EXPECT_EQ(ShiftDay(c.day, c.by), c.gives) << c.day << c.by;
    EXPECT_EQ(LocalDayText(kNoon), "2025-03-01");
    EXPECT_EQ(LocalTimeText(kNoon - 1), "2025-03-01 11:59:59.999");
}

TEST_F(FormatTest, TheNowPlayingFilesSayWhatPlaysOrThatNothingDoes) {
    Snapshot now{true, Sample().item};
    now.item.title = "Tab\there";
    EXPECT_EQ(NowPlayingJson(now),
              "{\n"
              "  \"estado\": \"a tocar\",\n"
              "  \"titulo\": \"Tab\\there\",\n"
              "  \"artista\": \"Banda \\\"A\\\"\",\n"
              "  \"ficheiro\": \"/srv/jingles/hora, certa.mp3\",\n"
              "  \"lista\": \"programa\",\n"
              "  \"linha\": 4,\n"
              "  \"inicio\": \"2025-03-01 12:00:01.234\",\n"
              "  \"duracao_ms\": 30000\n"
              "}\n");
    EXPECT_EQ(NowPlayingText(now), "Banda \"A\" - Tab\there\n");
    const std::string stopped = NowPlayingJson(Snapshot{});
    EXPECT_NE(stopped.find("\"estado\": \"parado\""), std::string::npos);
    EXPECT_NE(stopped.find("\"titulo\": \"\""), std::string::npos);
    EXPECT_NE(stopped.find("\"linha\": 0"), std::string::npos);
    EXPECT_EQ(NowPlayingText(Snapshot{}), "\n");

    EXPECT_EQ(JsonString("\x01\\/"), "\"\\u0001\\\\/\"");
    // Not UTF-8: a lone continuation byte, a cut sequence, an overlong form, a surrogate.
    EXPECT_EQ(JsonString("a\x80z"), "\"a\xEF\xBF\xBDz\"");
    EXPECT_EQ(JsonString("\xC3"), "\"\xEF\xBF\xBD\"");
    EXPECT_EQ(JsonString("\xC0\xAF"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
    EXPECT_EQ(JsonString("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
    EXPECT_EQ(JsonString("ação 🎵"), "\"ação 🎵\"");
}

TEST_F(FormatTest, TheShownTextIsArtistAndTitleOrWhatThereIs) {
    const struct {
        std::string artist, title, file, shown;
    } cases[] = {{"A", "T", "/x/f.mp3", "A - T"},
                 {"", "T", "/x/f.mp3", "T"},
                 {"A", "", "/x/f.mp3", "A"},
                 {"", "", "/x/f.mp3", "f.mp3"},
                 {"", "", "http://host:8000/", "http://host:8000/"},
                 {"", "", "plain.wav", "plain.wav"}};
    for (const auto& c : cases) {
        Item item;
        item.artist = c.artist;
        item.title = c.title;
        item.file = c.file;
        EXPECT_EQ(DisplayText(item), c.shown);
    }
}

TEST_F(FormatTest, TheItemInProgressComesBackAsAnInterruptedLine) {
    const Played sample = Sample();
    std::map<std::string, std::string> state = {
        {"lista", sample.item.list}, {"linha", "4"}, {"ficheiro", sample.item.file}};
    for (const auto& [key, value] : InProgressValues(sample.item, 12'000)) state[key] = value;
    auto valueOf = [&state](const char* key) { return state.count(key) ? state[key] : ""; };
    const std::optional<Played> back = InterruptedItem(valueOf);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->result, Result::Interrupted);
    EXPECT_EQ(back->item.startMs, sample.item.startMs);
    EXPECT_EQ(back->heardMs, 12'000u);
    EXPECT_EQ(back->endMs, sample.item.startMs + 12'000);
    EXPECT_EQ(back->item.title, sample.item.title);
    EXPECT_EQ(back->item.rule, "%h:30:00");
    EXPECT_EQ(back->item.row, 4u);
    EXPECT_EQ(back->item.lengthMs, 30000u);

    for (const auto& [key, value] : NothingInProgress()) state[key] = value;
    EXPECT_FALSE(InterruptedItem(valueOf));
    state["inicio"] = "12x";
    EXPECT_FALSE(InterruptedItem(valueOf)) << "a damaged state is no item";
}

}  // namespace
}  // namespace nowplaying
