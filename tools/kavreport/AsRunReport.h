// What kavreport makes of the as-run log: its lines read back (by column
// name, so logs of any version that wrote the header are read; a line that
// cannot be read is named, never the end of the reading), the titles heard
// with their counts and time, and the programme entries' times on air
// against the times they were due.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace report {

// A local date and time as the log writes it, counted in ms from 1970-01-01
// 00:00 of the same clock (no time zone: only compared and subtracted).
using LocalMs = std::int64_t;
constexpr LocalMs kDayMs = 86'400'000;

// "AAAA-MM-DD hh:mm:ss[.mmm]"; none when it is not a valid date and time.
std::optional<LocalMs> ParseLocalTime(std::string_view text);
// "AAAA-MM-DD"; none when not a valid date.
std::optional<LocalMs> ParseDay(std::string_view text);
std::string DayText(LocalMs at);         // "AAAA-MM-DD"
std::string DateTimeText(LocalMs at);    // "AAAA-MM-DD hh:mm:ss"
std::string Duration(std::uint64_t ms);  // "hh:mm:ss", hours growing as needed

struct Record {
    std::string source;  // the file it came from
    int line = 0;        // its line there, from 1
    LocalMs start = 0, end = 0;
    std::uint64_t heardMs = 0;
    std::string list, rule, file, artist, title, result, reason;
    unsigned row = 0;
};

struct Damaged {
    std::string source;
    int line = 0;
    std::string why;
};

class LogReader {
  public:
    // One day file's text; source names it in what is reported.
    void Read(const std::string& source, std::string_view text);
    std::vector<Record> records;
    std::vector<Damaged> damaged;

  private:
    void readLine(const std::string& source, int number, std::string_view line,
                  const std::vector<std::string>& columns);
};

// Titles heard: every line of an item that was heard (completo, cortado,
// interrompido), by artist and title (the file's name when it has none).
struct TitleTotal {
    std::string artist, title;
    unsigned times = 0;
    std::uint64_t heardMs = 0;
};
// Sorted by times, then time heard, then artist and title.
std::vector<TitleTotal> TitleTotals(const std::vector<Record>& records, bool musicOnly);

// A programme entry, as the programme list or the log names it.
struct Entry {
    unsigned row = 0;
    std::string rule, file;
};

// A time entry's due moment, and when (if at all) it went out.
struct Slot {
    LocalMs due = 0;
    std::optional<LocalMs> went;
    std::string rule, file;
};

struct EntryTotal {
    Entry entry;
    unsigned out = 0;             // lines of it that were heard
    std::optional<unsigned> due;  // time entries only: the moments it was due
    unsigned late = 0, missed = 0;
};

struct ProgrammeTotals {
    std::vector<EntryTotal> entries;  // sorted by times out, then row
    std::vector<Slot> lateOrMissed;   // in time order
};

// A time entry went out on time within this of its moment (the fade before
// it and its opening); later, it went out late; beyond kMissedAfter, not at all.
constexpr LocalMs kOnTimeMs = 10'000;
constexpr LocalMs kMissedAfterMs = 15 * 60'000;

// The entries of the log's programme lines and those of the programme list
// given (which adds the ones that never went out). Time entries are due on
// every day from firstDay to lastDay (both "AAAA-MM-DD"), not after `until`.
ProgrammeTotals ProgrammeReport(const std::vector<Record>& records,
                                const std::vector<Entry>& listed, LocalMs firstDay, LocalMs lastDay,
                                LocalMs until);

}  // namespace report
