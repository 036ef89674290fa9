// A month of as-run logs made up for the report's tests and bench: 30 day
// files of about 10,000 lines in all, music and a daily time entry, some
// lines damaged on purpose, with the totals a correct report must give.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace month {

struct Totals {
    unsigned times = 0;
    std::uint64_t heardMs = 0;
};

struct Expected {
    // Heard playlist items by (artist, title).
    std::map<std::pair<std::string, std::string>, Totals> music;
    std::map<std::pair<std::string, std::string>, Totals> all;  // with the programme's
    int lines = 0;                                              // lines written, damaged included
    std::vector<std::pair<std::string, int>> damaged;           // file, line (from 1)
    unsigned newsDue = 0, newsOut = 0, newsLate = 0, newsMissed = 0;
};

constexpr const char* kNewsRule = "08:00:00";
constexpr const char* kNewsFile = "/srv/programa/noticias.mp3";

// Writes the files into folder (2025-03-01.csv to 2025-03-30.csv).
Expected Write(const std::filesystem::path& folder);

}  // namespace month
