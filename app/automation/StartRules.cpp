#include "StartRules.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// One field of a time: one or two digits, at most `limit`; -1 otherwise.
int TimeField(const std::string& field, int limit) {
    if (field.empty() || field.size() > 2) return -1;
    int value = 0;
    for (char c : field) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value <= limit ? value : -1;
}

std::vector<std::string> SplitFields(const std::string& text) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t colon; (colon = text.find(':', start)) != std::string::npos; start = colon + 1)
        fields.push_back(text.substr(start, colon - start));
    fields.push_back(text.substr(start));
    return fields;
}

}  // namespace

std::string FormatSeconds(std::uint32_t seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2u:%.2u:%.2u", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    return text;
}

std::uint32_t ParseTimeOfDay(const std::string& text) {
    const std::vector<std::string> fields = SplitFields(Trimmed(text));
    if (fields.size() < 2 || fields.size() > 3) return 0;
    const int h = TimeField(fields[0], 23);
    const int m = TimeField(fields[1], 59);
    const int s = fields.size() == 3 ? TimeField(fields[2], 59) : 0;
    if (h < 0 || m < 0 || s < 0) return 0;
    return std::uint32_t(((h * 60 + m) * 60 + s) * 1000);
}

std::string ReplaceHour(std::string text, unsigned hour) {
    const std::string hh = {char('0' + hour / 10 % 10), char('0' + hour % 10)};
    for (size_t at = text.find("%h"); at != std::string::npos; at = text.find("%h", at + 2))
        text.replace(at, 2, hh);
    return text;
}

std::uint32_t EntryTime(const std::string& cell, unsigned hour) {
    std::string text = ReplaceHour(cell, hour);
    text.erase(std::remove(text.begin(), text.end(), '!'), text.end());
    if (text.find(':') == std::string::npos) return 0;
    return ParseTimeOfDay(text);
}

std::int32_t EntryCount(const std::string& cell) {
    size_t at = cell.find_first_not_of(' ');
    if (at == std::string::npos) return 0;
    const bool negative = cell[at] == '-';
    if (cell[at] == '-' || cell[at] == '+') ++at;
    if (at == cell.size()) return 0;
    std::int64_t value = 0;
    for (; at < cell.size(); ++at) {
        if (cell[at] < '0' || cell[at] > '9') return 0;
        value = value * 10 + (cell[at] - '0');
        if (value > 0x80000000LL) return 0;
    }
    if (negative) value = -value;
    if (value > 0x7FFFFFFFLL) return 0;
    return std::int32_t(value);
}

unsigned CountedEntryRow(const StringGrid& prgmlist, std::uint32_t tracksEnded) {
    for (int r = 1; r <= prgmlist.DataRows(); ++r) {
        const std::uint32_t n = std::uint32_t(EntryCount(prgmlist.Cell(kStartCol, r)));
        if (n != 0 && tracksEnded % n == 0) return unsigned(r);
    }
    return 0;
}
