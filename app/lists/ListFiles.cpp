#include "ListFiles.h"

#include <algorithm>
#include <filesystem>
#include <unordered_map>
#include <vector>

#include "Paths.h"
#include "platform/win/AtomicFile.h"
#include "platform/win/ProgramDir.h"

namespace {

constexpr std::string_view kListExt = ".m3u";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

int nameColumn(const StringGrid& grid) {
    return grid.ColCount() - 2;
}
int dirColumn(const StringGrid& grid) {
    return grid.ColCount() - 1;
}
bool isProgrammeList(const StringGrid& grid) {
    return grid.ColCount() == 4;
}

ListFileError rowLimitReached(const std::string& path) {
    return ListFileError("A lista chegou ao limite de " + std::to_string(kMaxListRows) +
                         " linhas; não foi acrescentado " + path + " nem o que se lhe segue.");
}

// One expansion of a path into a grid, with the lists being read right now,
// so that a list that includes itself is expanded once.
class Expansion {
  public:
    explicit Expansion(StringGrid& grid) : grid_(grid) {}

    void Add(const std::string& path, const std::string& startText) {
        if (paths::IsNetworkAddress(path) || paths::ExtractFileExt(path) != kListExt)
            addEntry(path, startText);
        else
            expandList(path, startText);
    }

  private:
    void addEntry(const std::string& path, const std::string& startText) {
        const int last = grid_.RowCount() - 1;
        if (!grid_.Cell(nameColumn(grid_), last).empty()) {
            if (last >= kMaxListRows) throw rowLimitReached(path);
            grid_.SetRowCount(last + 2);
        }
        const int row = grid_.RowCount() - 1;
        paths::Entry entry = paths::SplitEntry(path);
        if (isProgrammeList(grid_)) grid_.SetCell(1, row, startText);
        grid_.SetCell(nameColumn(grid_), row, entry.name);
        grid_.SetCell(dirColumn(grid_), row, entry.dir);
    }

    void expandList(const std::string& path, std::string startText) {
        const ListFile& list = read(path);
        if (std::find(open_.begin(), open_.end(), list.identity) != open_.end()) return;

        open_.push_back(list.identity);
        forEachLine(list.text, [&](const std::string& line) {
            if (line.empty()) return;
            if (line.front() != '#') Add(resolve(line, path), startText);
            if (isProgrammeList(grid_) && line.starts_with(kStartTextMarker))
                startText = line.substr(kStartTextMarker.size());
        });
        open_.pop_back();
    }

    struct ListFile {
        std::string identity;  // the same for every path that names the file
        std::string text;
    };

    // Each list is read once per expansion, however often it is named.
    const ListFile& read(const std::string& path) {
        auto known = read_.find(path);
        if (known != read_.end()) return known->second;
        ListFile list;
        std::error_code ec;
        list.identity = std::filesystem::weakly_canonical(path, ec).string();
        if (ec) list.identity = path;
        std::string error;
        if (!win::ReadWholeFile(path, list.text, &error))
            throw ListFileError("Não foi possível ler a lista " + path + "\r\n(" + error + ")");
        if (list.text.starts_with(kUtf8Bom)) list.text.erase(0, kUtf8Bom.size());
        return read_.emplace(path, std::move(list)).first->second;
    }

    // A line ends at CR LF, LF or a CR alone.
    template <typename F>
    static void forEachLine(const std::string& text, F&& handle) {
        size_t start = 0;
        while (start < text.size()) {
            const size_t end = std::min(text.find_first_of("\r\n", start), text.size());
            handle(text.substr(start, end - start));
            start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        }
    }

    static std::string resolve(const std::string& line, const std::string& listPath) {
        if (paths::IsNetworkAddress(line) || paths::HasDrive(line)) return line;
        if (line.front() == win::PathDelim) return paths::ExtractFileDrive(listPath) + line;
        return paths::ExtractFileDir(listPath) + win::PathDelim + line;
    }

    StringGrid& grid_;
    std::vector<std::string> open_;  // identities of the lists being read
    std::unordered_map<std::string, ListFile> read_;
};

void addToGrid(StringGrid& grid, const std::string& path, const std::string& startText) {
    GridUpdate update(grid);
    Expansion(grid).Add(path, startText);
}

// A line break typed into a cell would otherwise split the entry in the file.
std::string oneLine(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return text;
}

}  // namespace

void AddToPlaylist(StringGrid& playlist, const std::string& path) {
    addToGrid(playlist, path, {});
}

void AddToProgrammeList(StringGrid& prgmlist, const std::string& path,
                        const std::string& startText) {
    addToGrid(prgmlist, path, startText);
}

void ClearGrid(StringGrid& grid) {
    GridUpdate update(grid);
    grid.SetRowCount(2);
    grid.RemoveRow(1);  // the only row is emptied, and is a new entry
}

void DeleteGridRow(StringGrid& grid) {
    grid.RemoveRow(grid.Row());
}

std::string RowPath(const StringGrid& grid, int row) {
    return paths::JoinEntry(grid.Cell(dirColumn(grid), row), grid.Cell(nameColumn(grid), row));
}

std::string PlaylistText(const StringGrid& playlist) {
    std::string text = "#EXTM3U\r\n";
    for (int r = 1; r < playlist.RowCount(); ++r)
        if (!playlist.Cell(nameColumn(playlist), r).empty())
            text += oneLine(RowPath(playlist, r)) + "\r\n";
    return text;
}

std::string ProgrammeListText(const StringGrid& prgmlist) {
    std::string text = "#EXTM3U\r\n";
    for (int r = 1; r < prgmlist.RowCount(); ++r) {
        if (prgmlist.Cell(nameColumn(prgmlist), r).empty()) continue;
        text += kStartTextMarker + oneLine(prgmlist.Cell(1, r)) + "\r\n";
        text += oneLine(RowPath(prgmlist, r)) + "\r\n";
    }
    return text;
}
