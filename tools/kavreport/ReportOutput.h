// kavreport's output: the report as text for people, or as CSV tables for
// collecting-society forms and spreadsheets.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "AsRunReport.h"

namespace report {

struct Report {
    std::string firstDay, lastDay;  // the days reported, "AAAA-MM-DD"
    int files = 0;                  // day files read
    std::vector<Record> records;
    std::vector<Damaged> damaged;
    std::vector<TitleTotal> titles;
    std::optional<ProgrammeTotals> programme;  // none with --music-only
};

// Titles, programme entries, late or missed times, and the lines not read.
std::string TextReport(const Report& report);
// Tables separated by an empty line: the titles (artista, titulo, vezes,
// duracao_ms), then, with the programme, its entries and its late or missed
// times. The lines not read are left to the caller (standard error).
std::string CsvReport(const Report& report);
// "FILE:LINE: why" for each line not read, one a line.
std::string DamagedLines(const Report& report);

}  // namespace report
