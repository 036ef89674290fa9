// kavreport's reading and counting: logs of any version read by their
// header, damaged lines named and passed over, titles counted with their
// time, time entries against the moments they were due; and the tool itself
// over a month of logs.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "AsRun.h"
#include "AsRunReport.h"
#include "MonthOfLogs.h"
#include "tests/support/BinDir.h"
#include "tests/support/TempDir.h"

namespace report {
namespace {

const std::string kHeader = nowplaying::AsRunHeader();

TEST(ReportTest, LogsOfAnyVersionAreReadByTheirHeaderAndDamagedLinesAreNamed) {
    LogReader reader;
    reader.Read("2025-03-01.csv",
                kHeader +
                    "2025-03-01 10:00:00.000,2025-03-01 10:03:00.000,180000,playlist,1,,/m/a.mp3,"
                    "\"A, B\",Um,completo,\r\n"
                    "2025-03-01 10:03:00.000,\"open,x\r\n"                               // line 3
                    "2025-03-01 10:03:00.000,2025-03-01 10:03:01.000,1000,playlist\r\n"  // line 4
                    "\r\n"
                    "2025-13-01 10:03:00.000,2025-03-01 10:03:01.000,1000,playlist,2,,/m/b.mp3,"
                    ",Dois,completo,\r\n"  // line 6
                    "2025-03-01 10:04:00.000,2025-03-01 10:04:01.000,1000,playlist,2,,/m/b.mp3,"
                    ",Dois,tocou,\r\n"  // line 7
                    "2025-03-01 10:05:00.000,2025-03-01 10:05:01.000,1000,playlist,2,,/m/b.mp3,"
                    ",Dois,interrompido,\r\n"
                    "2025-03-01 10:06");  // cut short by a power cut: line 9
    // An older layout: fewer columns, in another order, and LF alone.
    reader.Read("2024-12-31.csv",
                "resultado,inicio,fim,lista,ficheiro,titulo\n"
                "completo,2024-12-31 23:00:00,2024-12-31 23:02:30,playlist,/m/c.mp3,Três\n");
    // No header at all: this version's columns.
    reader.Read("2025-03-02.csv",
                "2025-03-02 09:00:00.500,2025-03-02 09:00:10.500,10000,programa,3,4,/j/j.wav,,J,"
                "completo,\r\n");
    ASSERT_EQ(reader.records.size(), 4u);
    EXPECT_EQ(reader.records[0].artist, "A, B");
    EXPECT_EQ(reader.records[0].heardMs, 180000u);
    EXPECT_EQ(reader.records[1].result, "interrompido");
    EXPECT_EQ(reader.records[2].title, "Três");
    EXPECT_EQ(reader.records[2].heardMs, 150000u) << "from its end, without duracao_ms";
    EXPECT_EQ(reader.records[2].artist, "");
    EXPECT_EQ(reader.records[3].rule, "4");
    EXPECT_EQ(reader.records[3].start, *ParseLocalTime("2025-03-02 09:00:00.500"));
    const std::vector<std::pair<int, std::string>> damaged = {{3, "aspas"},
                                                              {4, "4 campos"},
                                                              {6, "início"},
                                                              {7, "resultado"},
                                                              {9, "1 campo em vez de 11"}};
    ASSERT_EQ(reader.damaged.size(), damaged.size());
    for (size_t i = 0; i < damaged.size(); ++i) {
        EXPECT_EQ(reader.damaged[i].source, "2025-03-01.csv");
        EXPECT_EQ(reader.damaged[i].line, damaged[i].first);
        EXPECT_NE(reader.damaged[i].why.find(damaged[i].second), std::string::npos)
            << reader.damaged[i].why;
    }
}

Record Heard(const std::string& start, std::uint64_t ms, std::string list, std::string title,
             std::string result = "completo", std::string rule = "") {
    Record r;
    r.start = *ParseLocalTime(start);
    r.end = r.start + LocalMs(ms);
    r.heardMs = ms;
    r.list = std::move(list);
    r.title = std::move(title);
    r.result = std::move(result);
    r.rule = std::move(rule);
    r.file = "/m/" + r.title + ".mp3";
    return r;
}

TEST(ReportTest, TitlesAreCountedWithTheirTimeAndMusicOnlyLeavesTheProgrammeOut) {
    const std::vector<Record> records = {
        Heard("2025-03-01 10:00:00", 1000, "playlist", "A"),
        Heard("2025-03-01 10:01:00", 2000, "playlist", "B", "cortado"),
        Heard("2025-03-01 10:02:00", 3000, "playlist", "B", "interrompido"),
        Heard("2025-03-01 10:03:00", 0, "playlist", "C", "falhou"),
        Heard("2025-03-01 10:04:00", 9000, "programa", "J", "completo", "12:00:00"),
        Heard("2025-03-01 10:05:00", 500, "playlist", "", "completo"),
    };
    std::vector<std::string> order;
    for (const TitleTotal& t : TitleTotals(records, false))
        order.push_back(t.title + "=" + std::to_string(t.times) + "/" + std::to_string(t.heardMs));
    EXPECT_EQ(order, (std::vector<std::string>{"B=2/5000", "J=1/9000", "A=1/1000", ".mp3=1/500"}));
    order.clear();
    for (const TitleTotal& t : TitleTotals(records, true)) order.push_back(t.title);
    EXPECT_EQ(order, (std::vector<std::string>{"B", "A", ".mp3"}));
}

TEST(ReportTest, TimeEntriesAreDueEachDayAndEachHourAndTheLateAndMissedOnesAreNamed) {
    const std::vector<Record> records = {
        Heard("2025-03-01 12:00:03", 1000, "programa", "news", "completo", "12:00:00"),
        Heard("2025-03-02 12:00:47", 1000, "programa", "news", "cortado", "12:00:00"),
        Heard("2025-03-03 12:00:01", 1000, "programa", "news", "falhou", "12:00:00"),
        Heard("2025-03-01 09:30:01", 1000, "programa", "hour", "completo", "%h:30:00"),
        Heard("2025-03-01 10:30:02", 1000, "programa", "hour", "completo", "%h:30:00"),
        Heard("2025-03-01 10:40:00", 1000, "programa", "chained", "completo", "..."),
    };
    const std::vector<Entry> listed = {{1, "12:00:00", "/m/news.mp3"},
                                       {5, "18:00:00", "/m/never.mp3"}};
    const LocalMs first = *ParseDay("2025-03-01"), last = *ParseDay("2025-03-03");
    const ProgrammeTotals p =
        ProgrammeReport(records, listed, first, last, *ParseLocalTime("2025-03-03 13:00:00"));
    std::map<std::string, const EntryTotal*> byRule;
    for (const EntryTotal& e : p.entries) byRule[e.entry.rule] = &e;
    ASSERT_EQ(byRule.size(), 4u);
    const EntryTotal& news = *byRule["12:00:00"];
    EXPECT_EQ(news.out, 2u);
    EXPECT_EQ(news.due, 3u);
    EXPECT_EQ(news.late, 1u);
    EXPECT_EQ(news.missed, 1u) << "a failed line did not go out";
    EXPECT_EQ(news.entry.row, 1u);
    const EntryTotal& never = *byRule["18:00:00"];
    EXPECT_EQ(never.out, 0u);
    EXPECT_EQ(never.due, 2u) << "not yet on the third day";
    EXPECT_EQ(never.missed, 2u);
    const EntryTotal& hourly = *byRule["%h:30:00"];
    EXPECT_EQ(hourly.out, 2u);
    EXPECT_EQ(hourly.due, 24u + 24u + 13u);
    EXPECT_EQ(hourly.missed, 24u + 24u + 13u - 2u);
    EXPECT_FALSE(byRule["..."]->due) << "a chained entry's due times are not known";
    EXPECT_EQ(byRule["..."]->out, 1u);
    EXPECT_EQ(p.entries.back().entry.rule, "18:00:00") << "sorted by times out";

    std::vector<std::string> slots;
    for (const Slot& s : p.lateOrMissed)
        if (s.rule == "12:00:00")
            slots.push_back(DateTimeText(s.due) + (s.went ? " " + DateTimeText(*s.went) : ""));
    EXPECT_EQ(slots, (std::vector<std::string>{"2025-03-02 12:00:00 2025-03-02 12:00:47",
                                               "2025-03-03 12:00:00"}));
}

// The tool over the month: every title's count and time as the month was
// written, each damaged line named, the daily entry's late and missed days.
TEST(ReportTest, KavreportOverAMonthOfLogsCountsRightAndNamesTheDamagedLines) {
    TempDir dir;
    const std::filesystem::path data = dir.Path();
    const month::Expected expected = month::Write(data / "emissao");
    EXPECT_GT(expected.lines, 9900);
    const std::string tool = (TestBinDir() / "kavreport").string();
    const std::string errors = dir.File("errors.txt");
    const auto started = std::chrono::steady_clock::now();
    const std::string csv = [&] {
        std::string out;
        FILE* p =
            ::popen(("'" + tool + "' --csv --music-only '" + data.string() + "' 2>'" + errors + "'")
                        .c_str(),
                    "r");
        char buffer[65536];
        for (size_t n; p && (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;)
            out.append(buffer, n);
        EXPECT_EQ(p ? ::pclose(p) : -1, 0);
        return out;
    }();
    std::printf("kavreport over %d lines: %.3f s\n", expected.lines,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());

    std::map<std::pair<std::string, std::string>, month::Totals> got;
    std::vector<std::string> fields;
    int line = 0;
    unsigned lastTimes = ~0u;
    for (size_t at = 0, end; (end = csv.find("\r\n", at)) != std::string::npos; at = end + 2) {
        ASSERT_TRUE(nowplaying::SplitCsvLine(csv.substr(at, end - at), fields));
        if (line++ == 0) {
            EXPECT_EQ(fields,
                      (std::vector<std::string>{"artista", "titulo", "vezes", "duracao_ms"}));
            continue;
        }
        ASSERT_EQ(fields.size(), 4u);
        const unsigned times = unsigned(std::stoul(fields[2]));
        EXPECT_LE(times, lastTimes) << "sorted by count";
        lastTimes = times;
        got[{fields[0], fields[1]}] = {times, std::stoull(fields[3])};
    }
    ASSERT_EQ(got.size(), expected.music.size());
    for (const auto& [key, totals] : expected.music) {
        EXPECT_EQ(got[key].times, totals.times) << key.first << " - " << key.second;
        EXPECT_EQ(got[key].heardMs, totals.heardMs) << key.first << " - " << key.second;
    }
    const std::string named = TempDir::Read(errors);
    for (const auto& [file, number] : expected.damaged)
        EXPECT_NE(named.find(file + ":" + std::to_string(number) + ":"), std::string::npos)
            << file << ":" << number << " not named in\n"
            << named;
    EXPECT_EQ(size_t(std::count(named.begin(), named.end(), '\n')), expected.damaged.size());

    // The text: the daily news against its 30 moments.
    FILE* p = ::popen(
        ("'" + tool + "' --from 2025-03-01 --to 2025-03-30 '" + (data / "emissao").string() + "'")
            .c_str(),
        "r");
    std::string text;
    char buffer[65536];
    for (size_t n; p && (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) text.append(buffer, n);
    ASSERT_EQ(p ? ::pclose(p) : -1, 0);
    const size_t row = text.find("  " + std::string(month::kNewsRule));
    ASSERT_NE(row, std::string::npos) << text.substr(0, 2000);
    std::vector<std::string> cells;
    {
        const std::string line = text.substr(row, text.find('\n', row) - row);
        for (size_t at = 0, end; at < line.size(); at = end) {
            at = line.find_first_not_of(' ', at);
            if (at == std::string::npos) break;
            end = std::min(line.find(' ', at), line.size());
            cells.push_back(line.substr(at, end - at));
        }
    }
    ASSERT_GE(cells.size(), 6u);
    EXPECT_EQ(cells[1], std::to_string(expected.newsOut));
    EXPECT_EQ(cells[2], std::to_string(expected.newsDue));
    EXPECT_EQ(cells[3], std::to_string(expected.newsLate));
    EXPECT_EQ(cells[4], std::to_string(expected.newsMissed));
    EXPECT_EQ(cells[5], month::kNewsFile);
    EXPECT_NE(text.find("Linhas que não se leem: " + std::to_string(expected.damaged.size())),
              std::string::npos);
}

}  // namespace
}  // namespace report
