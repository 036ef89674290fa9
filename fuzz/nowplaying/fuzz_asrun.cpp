// The as-run log as kavreport reads it: any bytes as a day file. Every line
// is a record or a damaged line, never both or neither; a line that splits
// into fields splits the same once written again; the report of what was
// read is made in both forms.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "AsRun.h"
#include "AsRunReport.h"
#include "ReportOutput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> fields, again;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        const std::string_view line =
            text.substr(at, end == std::string_view::npos ? end : end - at);
        at = end == std::string_view::npos ? text.size() : end + 1;
        if (!nowplaying::SplitCsvLine(line, fields)) continue;
        std::string written;
        for (size_t i = 0; i < fields.size(); ++i)
            written += (i ? "," : "") + nowplaying::CsvField(fields[i]);
        bool lineBreak = false;
        for (const std::string& f : fields)
            lineBreak = lineBreak || f.find_first_of("\r\n") != std::string::npos;
        if (!nowplaying::SplitCsvLine(written, again) || (!lineBreak && again != fields))
            std::abort();
    }

    report::LogReader reader;
    reader.Read("2025-03-01.csv", text);
    report::Report r;
    r.firstDay = "2025-03-01";
    r.lastDay = "2025-03-02";
    r.records = reader.records;
    r.damaged = reader.damaged;
    r.titles = report::TitleTotals(r.records, false);
    const report::LocalMs first = *report::ParseDay(r.firstDay),
                          last = *report::ParseDay(r.lastDay);
    r.programme = report::ProgrammeReport(r.records, {{1, "%h:30:00", "/j.mp3"}}, first, last,
                                          last + report::kDayMs - 1);
    report::TextReport(r);
    report::CsvReport(r);
    return 0;
}
