// kavreport [--from DATE] [--to DATE] [--music-only] [--csv|--text] [FOLDER]:
// what the as-run log says was broadcast. FOLDER is the log's folder, or the
// data folder that holds it (emissao/); by default the data folder the
// program beside kavreport uses. The programme list (prgm.m3u) of that data
// folder, when there is one, adds the time entries that never went out.
// Lines that cannot be read are named; the reading goes on.
#include <ctime>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "AsRun.h"
#include "AsRunReport.h"
#include "ListFiles.h"
#include "ReportOutput.h"
#include "platform/win/AtomicFile.h"
#include "platform/win/DataDir.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage =
    "Utilização: kavreport [--from AAAA-MM-DD] [--to AAAA-MM-DD] [--music-only] [--csv|--text] "
    "[PASTA]\n"
    "\n"
    "O que o registo de emissão diz que foi para o ar: cada título e artista, quantas vezes e\n"
    "quanto tempo ao todo, e cada entrada do programa, as vezes que saiu contra as que devia.\n"
    "PASTA: a pasta do registo (emissao), ou a pasta de dados que a tem.\n"
    "  --from, --to   só os dias de ... a ... (inclusive)\n"
    "  --music-only   só a playlist (a música), sem o programa\n"
    "  --csv          tabelas CSV (para os formulários das sociedades de autores)\n"
    "  --text         texto (o habitual)\n";

struct Options {
    std::optional<report::LocalMs> from, to;
    bool musicOnly = false, csv = false;
    std::string folder;
    std::string error;
};

Options parse(const std::vector<std::string>& args) {
    Options o;
    for (size_t i = 0; i < args.size() && o.error.empty(); ++i) {
        const std::string& a = args[i];
        if (a == "--from" || a == "--to") {
            const auto day = i + 1 < args.size() ? report::ParseDay(args[++i]) : std::nullopt;
            if (!day) o.error = a + " pede uma data AAAA-MM-DD";
            (a == "--from" ? o.from : o.to) = day;
        } else if (a == "--music-only") {
            o.musicOnly = true;
        } else if (a == "--csv" || a == "--text") {
            o.csv = a == "--csv";
        } else if (a == "--help" || a == "-h") {
            o.error = "help";
        } else if (a.starts_with("--") || !o.folder.empty()) {
            o.error = "argumento a mais ou desconhecido: " + a;
        } else {
            o.folder = a;
        }
    }
    return o;
}

// The log's folder, and the data folder around it (for its programme list).
struct Folders {
    fs::path log, data;
};

Folders folders(const std::string& given) {
    const fs::path base = given.empty() ? fs::path(win::DataDir()) : fs::path(given);
    std::error_code ec;
    if (fs::is_directory(base / nowplaying::kAsRunFolder, ec))
        return {base / nowplaying::kAsRunFolder, base};
    return {base, base.parent_path()};
}

// The programme list's entries, when the data folder has one.
std::vector<report::Entry> listedEntries(const fs::path& data) {
    std::vector<report::Entry> entries;
    const fs::path list = data / "prgm.m3u";
    std::error_code ec;
    if (!fs::is_regular_file(list, ec)) return entries;
    StringGrid grid{{25, 68, 163, 249}};
    try {
        AddToProgrammeList(grid, list.string(), kNoStartTime);
    } catch (const ListFileError& e) {
        std::cerr << "kavreport: " << e.what() << "\n";
    }
    for (int r = 1; r <= grid.DataRows(); ++r)
        if (!grid.Cell(2, r).empty())
            entries.push_back({unsigned(r), grid.Cell(1, r), RowPath(grid, r)});
    return entries;
}

report::LocalMs localNow() {
    const std::time_t now = std::time(nullptr);
    const std::tm* t = std::localtime(&now);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", t);
    return report::ParseLocalTime(text).value_or(0);
}

// The day files in the range, oldest first, read into the report.
void readDays(const Options& o, const fs::path& folder, report::Report& r,
              report::LogReader& reader) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        const auto day = name.size() == 14 && name.ends_with(".csv")
                             ? report::ParseDay(name.substr(0, 10))
                             : std::nullopt;
        if (!day || (o.from && *day < *o.from) || (o.to && *day > *o.to)) continue;
        files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        std::string text, error;
        if (!win::ReadWholeFile(file.string(), text, &error)) {
            std::cerr << "kavreport: " << error << "\n";
            continue;
        }
        reader.Read(file.filename().string(), text);
        ++r.files;
    }
    if (!files.empty()) {
        r.firstDay = files.front().filename().string().substr(0, 10);
        r.lastDay = files.back().filename().string().substr(0, 10);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = parse({argv + 1, argv + argc});
    if (o.error == "help") return std::cout << kUsage, 0;
    if (!o.error.empty()) return std::cerr << "kavreport: " << o.error << "\n\n" << kUsage, 2;
    const Folders where = folders(o.folder);
    std::error_code ec;
    if (!fs::is_directory(where.log, ec)) {
        std::cerr << "kavreport: não há registo de emissão em " << where.log.string() << "\n";
        return 1;
    }
    report::Report r;
    report::LogReader reader;
    readDays(o, where.log, r, reader);
    if (o.from) r.firstDay = report::DayText(*o.from);
    if (o.to) r.lastDay = report::DayText(*o.to);
    for (report::Record& rec : reader.records) {
        if ((o.from && rec.start < *o.from) || (o.to && rec.start >= *o.to + report::kDayMs))
            continue;
        r.records.push_back(std::move(rec));
    }
    r.damaged = std::move(reader.damaged);
    r.titles = report::TitleTotals(r.records, o.musicOnly);
    const auto first = report::ParseDay(r.firstDay), last = report::ParseDay(r.lastDay);
    if (!o.musicOnly && first && last)
        r.programme = report::ProgrammeReport(r.records, listedEntries(where.data), *first, *last,
                                              std::min(*last + report::kDayMs - 1, localNow()));
    if (o.csv) {
        std::cout << report::CsvReport(r);
        std::cerr << report::DamagedLines(r);
    } else {
        std::cout << report::TextReport(r);
    }
    return 0;
}
