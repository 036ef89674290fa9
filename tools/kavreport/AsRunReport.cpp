#include "AsRunReport.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <map>

#include "AsRun.h"
#include "StartRules.h"

namespace report {
namespace {

template <class Number>
std::optional<Number> parseNumber(std::string_view text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// Digits only, exactly `n` of them.
std::optional<int> digits(std::string_view text, size_t at, size_t n) {
    if (at + n > text.size()) return std::nullopt;
    const std::string_view part = text.substr(at, n);
    if (part.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    return parseNumber<int>(part);
}

bool isHeader(const std::vector<std::string>& fields) {
    return std::find(fields.begin(), fields.end(), "inicio") != fields.end() &&
           std::find(fields.begin(), fields.end(), "resultado") != fields.end();
}

bool knownResult(const std::string& result) {
    return result == "completo" || result == "cortado" || result == "falhou" ||
           result == "interrompido";
}

bool heard(const Record& r) {
    return r.result != "falhou" && r.heardMs > 0;
}

std::string fileName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash + 1 == path.size() ? path : path.substr(slash + 1);
}

bool isTimeRule(const std::string& rule) {
    for (unsigned h = 0; h < 24; ++h)
        if (EntryTime(rule, h) != 0) return true;
    return false;
}

// Time and count entries are told apart by their rule alone (of two entries
// with one rule only the upper one ever plays); chained ones by their file.
std::string entryKey(const std::string& rule, const std::string& file) {
    if (isTimeRule(rule) || EntryCount(rule) != 0) return "R\x1f" + rule;
    return "F\x1f" + rule + "\x1f" + file;
}

// The moments a time entry was due, from firstDay to lastDay, up to until.
std::vector<LocalMs> dueMoments(const std::string& rule, LocalMs firstDay, LocalMs lastDay,
                                LocalMs until) {
    const bool hourly = rule.find("%h") != std::string::npos;
    std::vector<LocalMs> due;
    for (LocalMs day = firstDay; day <= lastDay; day += kDayMs)
        for (unsigned h = 0; h < (hourly ? 24u : 1u); ++h) {
            const std::uint32_t t = EntryTime(rule, h);
            if (t != 0 && (!hourly || t / 3'600'000u == h) && day + t <= until)
                due.push_back(day + t);
        }
    return due;
}

// Each due moment takes the first line of the entry that began near it.
void matchSlots(EntryTotal& total, const std::vector<LocalMs>& due,
                std::vector<const Record*> lines, std::vector<Slot>& lateOrMissed) {
    std::sort(lines.begin(), lines.end(),
              [](const Record* a, const Record* b) { return a->start < b->start; });
    std::vector<bool> used(lines.size(), false);
    total.due = unsigned(due.size());
    for (LocalMs moment : due) {
        Slot slot{moment, std::nullopt, total.entry.rule, total.entry.file};
        for (size_t i = 0; i < lines.size(); ++i) {
            if (used[i] || lines[i]->start < moment - 2000) continue;
            if (lines[i]->start >= moment + kMissedAfterMs) break;
            used[i] = true;
            slot.went = lines[i]->start;
            break;
        }
        if (slot.went && *slot.went - moment <= kOnTimeMs) continue;
        ++(slot.went ? total.late : total.missed);
        lateOrMissed.push_back(slot);
    }
}

}  // namespace

std::optional<LocalMs> ParseDay(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    const auto y = digits(text, 0, 4), m = digits(text, 5, 2), d = digits(text, 8, 2);
    if (!y || !m || !d) return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year(*y), std::chrono::month(unsigned(*m)),
                                           std::chrono::day(unsigned(*d))};
    if (!date.ok()) return std::nullopt;
    return LocalMs(std::chrono::sys_days(date).time_since_epoch().count()) * kDayMs;
}

std::optional<LocalMs> ParseLocalTime(std::string_view text) {
    if (text.size() < 19 || text[10] != ' ' || text[13] != ':' || text[16] != ':')
        return std::nullopt;
    const auto day = ParseDay(text.substr(0, 10));
    const auto h = digits(text, 11, 2), m = digits(text, 14, 2), s = digits(text, 17, 2);
    if (!day || !h || !m || !s || *h > 23 || *m > 59 || *s > 59) return std::nullopt;
    int ms = 0;
    if (text.size() > 19) {
        const auto fraction = digits(text, 20, 3);
        if (text[19] != '.' || text.size() != 23 || !fraction) return std::nullopt;
        ms = *fraction;
    }
    return *day + ((*h * 60 + *m) * 60 + *s) * 1000LL + ms;
}

std::string DayText(LocalMs at) {
    const std::chrono::year_month_day date{
        std::chrono::sys_days(std::chrono::days(at / kDayMs - (at % kDayMs < 0)))};
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", int(date.year()), unsigned(date.month()),
                  unsigned(date.day()));
    return text;
}

std::string DateTimeText(LocalMs at) {
    const LocalMs ms = ((at % kDayMs) + kDayMs) % kDayMs;
    return DayText(at) + " " + FormatSeconds(std::uint32_t(ms / 1000));
}

std::string Duration(std::uint64_t ms) {
    const std::uint64_t s = ms / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%02llu:%02llu:%02llu", (unsigned long long)(s / 3600),
                  (unsigned long long)(s / 60 % 60), (unsigned long long)(s % 60));
    return text;
}

// Lines end in LF or CR LF. A header line, wherever it comes, names the
// columns of the lines after it; before any, this version's columns are taken.
void LogReader::Read(const std::string& source, std::string_view text) {
    std::vector<std::string> columns = nowplaying::AsRunColumns();
    std::vector<std::string> fields;
    int number = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        std::string_view line = text.substr(at, end == std::string_view::npos ? end : end - at);
        at = end == std::string_view::npos ? text.size() : end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        if (nowplaying::SplitCsvLine(line, fields) && isHeader(fields)) {
            columns = fields;
            continue;
        }
        readLine(source, number, line, columns);
    }
}

void LogReader::readLine(const std::string& source, int number, std::string_view line,
                         const std::vector<std::string>& columns) {
    auto reject = [&](std::string why) { damaged.push_back({source, number, std::move(why)}); };
    auto quoted = [](const std::string& text) { return text.substr(0, 40); };
    std::vector<std::string> fields;
    if (!nowplaying::SplitCsvLine(line, fields)) return reject("aspas por fechar ou fora do lugar");
    if (fields.size() != columns.size())
        return reject(std::to_string(fields.size()) + (fields.size() == 1 ? " campo" : " campos") +
                      " em vez de " + std::to_string(columns.size()));
    auto field = [&](const char* name) -> const std::string& {
        static const std::string none;
        const auto at = std::find(columns.begin(), columns.end(), name);
        return at == columns.end() ? none : fields[size_t(at - columns.begin())];
    };
    Record r;
    r.source = source;
    r.line = number;
    const auto start = ParseLocalTime(field("inicio"));
    if (!start) return reject("início ilegível: " + quoted(field("inicio")));
    r.start = *start;
    const auto end = ParseLocalTime(field("fim"));
    const auto heardMs = parseNumber<std::uint64_t>(field("duracao_ms"));
    if (!heardMs && !field("duracao_ms").empty())
        return reject("duração ilegível: " + quoted(field("duracao_ms")));
    r.heardMs = heardMs ? *heardMs : end && *end > r.start ? std::uint64_t(*end - r.start) : 0;
    r.end = end ? *end : r.start + LocalMs(r.heardMs);
    r.result = field("resultado");
    if (!knownResult(r.result)) return reject("resultado desconhecido: " + quoted(r.result));
    r.list = field("lista");
    r.row = parseNumber<unsigned>(field("linha")).value_or(0);
    r.rule = field("regra");
    r.file = field("ficheiro");
    r.artist = field("artista");
    r.title = field("titulo");
    r.reason = field("motivo");
    records.push_back(std::move(r));
}

std::vector<TitleTotal> TitleTotals(const std::vector<Record>& records, bool musicOnly) {
    std::map<std::pair<std::string, std::string>, TitleTotal> totals;
    for (const Record& r : records) {
        if (!heard(r) || (musicOnly && r.list != "playlist")) continue;
        const std::string title = r.title.empty() ? fileName(r.file) : r.title;
        TitleTotal& t = totals[{r.artist, title}];
        t.artist = r.artist;
        t.title = title;
        ++t.times;
        t.heardMs += r.heardMs;
    }
    std::vector<TitleTotal> sorted;
    for (auto& [key, total] : totals) sorted.push_back(std::move(total));
    std::stable_sort(sorted.begin(), sorted.end(), [](const TitleTotal& a, const TitleTotal& b) {
        if (a.times != b.times) return a.times > b.times;
        return a.heardMs > b.heardMs;
    });
    return sorted;
}

ProgrammeTotals ProgrammeReport(const std::vector<Record>& records,
                                const std::vector<Entry>& listed, LocalMs firstDay, LocalMs lastDay,
                                LocalMs until) {
    std::map<std::string, EntryTotal> entries;
    std::map<std::string, std::vector<const Record*>> lines;
    auto totalOf = [](const Entry& e) {
        EntryTotal total;
        total.entry = e;
        return total;
    };
    for (const Entry& e : listed) entries.emplace(entryKey(e.rule, e.file), totalOf(e));
    for (const Record& r : records) {
        if (r.list != "programa") continue;
        const std::string key = entryKey(r.rule, r.file);
        entries.emplace(key, totalOf(Entry{r.row, r.rule, r.file}));
        if (!heard(r)) continue;
        ++entries[key].out;
        lines[key].push_back(&r);
    }
    ProgrammeTotals totals;
    for (auto& [key, total] : entries) {
        if (isTimeRule(total.entry.rule))
            matchSlots(total, dueMoments(total.entry.rule, firstDay, lastDay, until), lines[key],
                       totals.lateOrMissed);
        totals.entries.push_back(total);
    }
    std::sort(totals.entries.begin(), totals.entries.end(),
              [](const EntryTotal& a, const EntryTotal& b) {
                  if (a.out != b.out) return a.out > b.out;
                  return a.entry.row < b.entry.row;
              });
    std::sort(totals.lateOrMissed.begin(), totals.lateOrMissed.end(),
              [](const Slot& a, const Slot& b) { return a.due < b.due; });
    return totals;
}

}  // namespace report
