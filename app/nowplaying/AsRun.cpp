#include "AsRun.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <iterator>

namespace nowplaying {
namespace {

// Local time: the GUI thread is the only one that asks.
std::tm LocalTime(std::int64_t ms) {
    const std::time_t seconds = std::time_t(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
    const std::tm* local = std::localtime(&seconds);
    return local ? *local : std::tm{};
}

}  // namespace

const std::vector<std::string>& AsRunColumns() {
    static const std::vector<std::string> columns = {"inicio", "fim",       "duracao_ms", "lista",
                                                     "linha",  "regra",     "ficheiro",   "artista",
                                                     "titulo", "resultado", "motivo"};
    return columns;
}

std::string AsRunHeader() {
    std::string line;
    for (const std::string& c : AsRunColumns()) line += (line.empty() ? "" : ",") + c;
    return line + "\r\n";  // no column name is empty
}

std::string AsRunLine(const Played& p) {
    const Item& i = p.item;
    const std::string fields[] = {LocalTimeText(i.startMs),
                                  LocalTimeText(p.endMs),
                                  std::to_string(p.heardMs),
                                  i.list,
                                  std::to_string(i.row),
                                  i.rule,
                                  i.file,
                                  i.artist,
                                  i.title,
                                  ResultName(p.result),
                                  p.reason};
    std::string line;
    for (size_t i = 0; i < std::size(fields); ++i) line += (i ? "," : "") + CsvField(fields[i]);
    return line + "\r\n";
}

std::string AsRunFileName(const Played& played) {
    return LocalDayText(played.item.startMs) + ".csv";
}

std::string LocalTimeText(std::int64_t ms) {
    const std::tm t = LocalTime(ms);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                  int(((ms % 1000) + 1000) % 1000));
    return text;
}

std::string LocalDayText(std::int64_t ms) {
    return LocalTimeText(ms).substr(0, 10);
}

std::string ShiftDay(const std::string& day, int days) {
    int y = 0;
    unsigned m = 0, d = 0;
    char end = 0;
    if (day.size() != 10 || std::sscanf(day.c_str(), "%4d-%2u-%2u%c", &y, &m, &d, &end) != 3)
        return "";
    const std::chrono::year_month_day date{std::chrono::year(y), std::chrono::month(m),
                                           std::chrono::day(d)};
    if (!date.ok()) return "";
    const std::chrono::year_month_day shifted{std::chrono::sys_days(date) +
                                              std::chrono::days(days)};
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", int(shifted.year()),
                  unsigned(shifted.month()), unsigned(shifted.day()));
    return text;
}

std::string CsvField(std::string_view text) {
    std::string field;
    field.reserve(text.size() + 2);
    bool quote = false;
    for (char c : text) {
        if (c == '\r' || c == '\n') c = ' ';
        if (c == '"') field += '"';
        quote = quote || c == '"' || c == ',';
        field += c;
    }
    return quote ? '"' + field + '"' : field;
}

bool SplitCsvLine(std::string_view line, std::vector<std::string>& fields) {
    fields.clear();
    std::string field;
    size_t i = 0;
    for (;;) {
        field.clear();
        if (i < line.size() && line[i] == '"') {
            for (++i;; ++i) {
                if (i >= line.size()) return false;  // the quote is never closed
                if (line[i] != '"') {
                    field += line[i];
                } else if (i + 1 < line.size() && line[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    ++i;
                    break;
                }
            }
            if (i < line.size() && line[i] != ',') return false;  // text after the quote
        } else {
            const size_t end = line.find(',', i);
            const std::string_view raw =
                line.substr(i, end == std::string_view::npos ? end : end - i);
            if (raw.find('"') != std::string_view::npos) return false;
            field.assign(raw);
            i += raw.size();
        }
        fields.push_back(field);
        if (i >= line.size()) return true;
        ++i;  // the comma
    }
}

}  // namespace nowplaying
