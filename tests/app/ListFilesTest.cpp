#include "ListFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

#include "Markers.h"
#include "Paths.h"
#include "tests/support/TempDir.h"

namespace {

StringGrid newPlaylist() {
    return StringGrid({25, 403, 342});
}
StringGrid newProgrammeList() {
    return StringGrid({25, 68, 163, 249});
}

std::vector<std::string> paths(const StringGrid& grid) {
    std::vector<std::string> out;
    for (int r = 1; r < grid.RowCount(); ++r)
        if (!grid.Cell(grid.ColCount() - 2, r).empty()) out.push_back(RowPath(grid, r));
    return out;
}

// (start text, path) of every programme row.
std::vector<std::pair<std::string, std::string>> entries(const StringGrid& prgm) {
    std::vector<std::pair<std::string, std::string>> out;
    for (int r = 1; r < prgm.RowCount(); ++r) out.emplace_back(prgm.Cell(1, r), RowPath(prgm, r));
    return out;
}

TEST(AddToPlaylist, SingleFilesFillTheEmptyRowFirstAndSplitIntoNameAndDirectory) {
    StringGrid pl = newPlaylist();
    AddToPlaylist(pl, "/music/a b.mp3");
    EXPECT_EQ(pl.RowCount(), 2);
    EXPECT_EQ(pl.Cell(1, 1), "a b.mp3");
    EXPECT_EQ(pl.Cell(2, 1), "/music");
    AddToPlaylist(pl, "/c.mp3");
    EXPECT_EQ(pl.RowCount(), 3);
    EXPECT_EQ(pl.Cell(2, 2), "");
    EXPECT_EQ(RowPath(pl, 2), "/c.mp3");

    ClearGrid(pl);
    EXPECT_EQ(pl.RowCount(), 2);
    EXPECT_EQ(pl.Cell(1, 1), "");
    AddToPlaylist(pl, "/d/e.mp3");
    EXPECT_EQ(pl.RowCount(), 2);
    EXPECT_EQ(RowPath(pl, 1), "/d/e.mp3");
}

TEST(AddToPlaylist, OnlyLowerCaseM3uIsExpanded) {
    TempDir dir;
    TempDir::Write(dir.File("LISTA.M3U"), "x.mp3\n");
    TempDir::Write(dir.File("lista.m3u"), "y.mp3\n");
    StringGrid pl = newPlaylist();
    AddToPlaylist(pl, dir.File("LISTA.M3U"));
    AddToPlaylist(pl, dir.File("lista.m3u"));
    EXPECT_EQ(paths(pl), (std::vector<std::string>{dir.File("LISTA.M3U"), dir.File("y.mp3")}));
}

TEST(AddToPlaylist, ListLinesAreRelativeRootedOrNetworkAndCommentsAndEmptyLinesAreSkipped) {
    TempDir dir;
    std::filesystem::create_directory(dir.File("listas"));
    TempDir::Write(dir.File("listas/x.m3u"),
                   "\xEF\xBB\xBF#EXTM3U\r\n"
                   "sub/a.mp3\r\n"
                   "\r\n"
                   "#KAVINF:12:00:00\r\n"
                   "/musica/b.mp3\n"
                   "\n"
                   "../c d.mp3 \n"
                   "http://radio.example:8000/\r\n"
                   "HTTP://host/live/stream.mp3\r\n"
                   "mms://host\r\n"
                   "ftp://host/list.m3u\r\n"
                   "https://host/live\r\n"
                   "https://host:8443/radio.pls");
    StringGrid pl = newPlaylist();
    AddToPlaylist(pl, dir.File("listas/x.m3u"));
    EXPECT_EQ(paths(pl),
              (std::vector<std::string>{
                  dir.File("listas/sub/a.mp3"), "/musica/b.mp3", dir.File("listas/../c d.mp3 "),
                  "http://radio.example:8000/", "HTTP://host/live/stream.mp3", "mms://host",
                  "ftp://host/list.m3u", "https://host/live", "https://host:8443/radio.pls"}));
    // An address with a path shows its last part as the name.
    EXPECT_EQ(pl.Cell(1, 5), "stream.mp3");
    EXPECT_EQ(pl.Cell(2, 5), "HTTP://host/live");
}

TEST(AddToPlaylist, NestedListsExpandInPlaceAndSelfInclusionIsExpandedOnce) {
    TempDir dir;
    TempDir::Write(dir.File("a.m3u"), "1.mp3\nb.m3u\n4.mp3\na.m3u\n");
    TempDir::Write(dir.File("b.m3u"), "2.mp3\nc.m3u\n");
    TempDir::Write(dir.File("c.m3u"), "3.mp3\n../" + dir.Path().filename().string() + "/a.m3u\n");
    StringGrid pl = newPlaylist();
    AddToPlaylist(pl, dir.File("a.m3u"));
    EXPECT_EQ(paths(pl), (std::vector<std::string>{dir.File("1.mp3"), dir.File("2.mp3"),
                                                   dir.File("3.mp3"), dir.File("4.mp3")}));

    // A list named twice side by side (no cycle) is expanded each time.
    TempDir::Write(dir.File("twice.m3u"), "c2.m3u\nc2.m3u\n");
    TempDir::Write(dir.File("c2.m3u"), "z.mp3\n");
    StringGrid again = newPlaylist();
    AddToPlaylist(again, dir.File("twice.m3u"));
    EXPECT_EQ(paths(again), (std::vector<std::string>{dir.File("z.mp3"), dir.File("z.mp3")}));
}

TEST(AddToPlaylist, UnreadableListStopsTheAddAndKeepsTheRowsBefore) {
    TempDir dir;
    std::filesystem::create_directory(dir.File("broken.m3u"));
    TempDir::Write(dir.File("outer.m3u"), "1.mp3\nbroken.m3u\n2.mp3\n");
    StringGrid pl = newPlaylist();
    EXPECT_THROW(AddToPlaylist(pl, dir.File("outer.m3u")), ListFileError);
    EXPECT_EQ(paths(pl), std::vector<std::string>{dir.File("1.mp3")});
    try {
        AddToPlaylist(pl, dir.File("missing.m3u"));
        FAIL() << "no error for a missing list";
    } catch (const ListFileError& e) {
        EXPECT_NE(std::string(e.what()).find(dir.File("missing.m3u")), std::string::npos);
    }
}

TEST(AddToProgrammeList, StartTextsFollowKavinfLinesAndStayInsideTheirList) {
    TempDir dir;
    TempDir::Write(dir.File("prgm.m3u"),
                   "#EXTM3U\n"
                   "first.mp3\n"
                   "#KAVINF:12:00:00\n"
                   "noon.mp3\n"
                   "inner.m3u\n"
                   "after.mp3\n"
                   "#KAVINF:\n"
                   "empty.mp3\n"
                   "#kavinf:ignored\n"
                   "#KAVINF: 3 \n"
                   "count.mp3\n");
    TempDir::Write(dir.File("inner.m3u"), "in1.mp3\n#KAVINF:...\nin2.mp3\n");
    StringGrid prgm = newProgrammeList();
    AddToProgrammeList(prgm, dir.File("prgm.m3u"), kNoStartTime);
    using E = std::pair<std::string, std::string>;
    EXPECT_EQ(entries(prgm), (std::vector<E>{{"--:--:--", dir.File("first.mp3")},
                                             {"12:00:00", dir.File("noon.mp3")},
                                             {"12:00:00", dir.File("in1.mp3")},
                                             {"...", dir.File("in2.mp3")},
                                             {"12:00:00", dir.File("after.mp3")},
                                             {"", dir.File("empty.mp3")},
                                             {" 3 ", dir.File("count.mp3")}}));
}

TEST(AddToProgrammeList, SingleEntryTakesTheGivenTextAndFillsAnEmptyLastRow) {
    StringGrid prgm = newProgrammeList();
    AddToProgrammeList(prgm, "/j/a.mp3", kNoStartTime);
    AddToProgrammeList(prgm, "/j/b.mp3", "%h:30:00");
    ASSERT_EQ(prgm.RowCount(), 3);
    EXPECT_EQ(prgm.Cell(1, 1), "--:--:--");
    EXPECT_EQ(prgm.Cell(2, 2), "b.mp3");
    EXPECT_EQ(prgm.Cell(3, 2), "/j");
    EXPECT_EQ(prgm.Cell(1, 2), "%h:30:00");
}

TEST(AddToPlaylist, PlaylistIgnoresStartTextLines) {
    TempDir dir;
    TempDir::Write(dir.File("p.m3u"), "#KAVINF:12:00:00\na.mp3\n");
    StringGrid pl = newPlaylist();
    AddToPlaylist(pl, dir.File("p.m3u"));
    EXPECT_EQ(paths(pl), std::vector<std::string>{dir.File("a.mp3")});
}

std::string joined(const std::vector<std::string>& lines, const std::string& end) {
    std::string text;
    for (const std::string& line : lines) text += line + end;
    return text;
}

// The list files and an added list, with each kind of line end: CR LF, LF
// and a CR alone all end a line, so every entry is read, and the lists
// written back hold every entry again.
TEST(ListFiles, EveryKindOfLineEndEndsALine) {
    for (const std::string end : {"\r\n", "\n", "\r"}) {
        SCOPED_TRACE(testing::PrintToString(end));
        TempDir dir;
        TempDir::Write(dir.File("pl.m3u"),
                       joined({"#EXTM3U", "a.mp3", "", "sub/b.mp3", "added.m3u"}, end));
        TempDir::Write(dir.File("added.m3u"), joined({"#EXTM3U", "c.mp3", "d.mp3"}, end));
        TempDir::Write(dir.File("prgm.m3u"),
                       joined({"#EXTM3U", "#KAVINF:12:00:00", "noticias.mp3", "#KAVINF:...",
                               "tema.mp3", "#KAVINF:", "bloco.m3u", "#KAVINF:4!", "fim.mp3"},
                              end));
        TempDir::Write(dir.File("bloco.m3u"),
                       joined({"#EXTM3U", "b1.mp3", "#KAVINF:%h:30:00", "b2.mp3"}, end));

        StringGrid pl = newPlaylist();
        AddToPlaylist(pl, dir.File("pl.m3u"));
        const std::vector<std::string> tracks = {dir.File("a.mp3"), dir.File("sub/b.mp3"),
                                                 dir.File("c.mp3"), dir.File("d.mp3")};
        EXPECT_EQ(paths(pl), tracks);
        EXPECT_EQ(PlaylistText(pl),
                  joined({"#EXTM3U", tracks[0], tracks[1], tracks[2], tracks[3]}, "\r\n"));

        StringGrid prgm = newProgrammeList();
        AddToProgrammeList(prgm, dir.File("prgm.m3u"), kNoStartTime);
        using E = std::pair<std::string, std::string>;
        EXPECT_EQ(entries(prgm), (std::vector<E>{{"12:00:00", dir.File("noticias.mp3")},
                                                 {"...", dir.File("tema.mp3")},
                                                 {"", dir.File("b1.mp3")},
                                                 {"%h:30:00", dir.File("b2.mp3")},
                                                 {"4!", dir.File("fim.mp3")}}));
    }
    // Mixed ends, and a CR before a CR LF: empty lines between, no entries.
    TempDir dir;
    TempDir::Write(dir.File("mixed.m3u"), "a.mp3\r\rb.mp3\n\rc.mp3\r\r\nd.mp3");
    StringGrid pl = newPlaylist();
    AddToPlaylist(pl, dir.File("mixed.m3u"));
    EXPECT_EQ(paths(pl), (std::vector<std::string>{dir.File("a.mp3"), dir.File("b.mp3"),
                                                   dir.File("c.mp3"), dir.File("d.mp3")}));
}

// Lists that each name the next four times: ten levels would give 4^10 rows.
TEST(AddToPlaylist, AnExpansionStopsAtTheRowLimitAndKeepsTheRowsBefore) {
    TempDir dir;
    for (int i = 0; i < 10; ++i)
        TempDir::Write(
            dir.File("n" + std::to_string(i) + ".m3u"),
            joined(std::vector<std::string>(4, "n" + std::to_string(i + 1) + ".m3u"), "\n"));
    TempDir::Write(dir.File("n10.m3u"), "x.mp3\n");
    StringGrid pl = newPlaylist();
    AddToPlaylist(pl, "/first.mp3");
    try {
        AddToPlaylist(pl, dir.File("n0.m3u"));
        FAIL() << "no error at the limit";
    } catch (const ListFileError& e) {
        EXPECT_NE(std::string(e.what()).find(std::to_string(kMaxListRows)), std::string::npos);
    }
    ASSERT_EQ(pl.DataRows(), kMaxListRows);
    EXPECT_EQ(RowPath(pl, 1), "/first.mp3");
    EXPECT_EQ(RowPath(pl, kMaxListRows), dir.File("x.mp3"));
    // A full list takes nothing more, not even a single file.
    EXPECT_THROW(AddToPlaylist(pl, "/more.mp3"), ListFileError);
    EXPECT_EQ(pl.DataRows(), kMaxListRows);
    EXPECT_EQ(RowPath(pl, kMaxListRows), dir.File("x.mp3"));
}

TEST(ListText, ExactBytesWithCrLfAndEmptyNamesLeftOut) {
    StringGrid pl = newPlaylist();
    AddToPlaylist(pl, "/m/a.mp3");
    AddToPlaylist(pl, "http://host:8000");
    AddToPlaylist(pl, "/m/b.mp3");
    pl.SetCell(1, 3, "");
    EXPECT_EQ(PlaylistText(pl), "#EXTM3U\r\n/m/a.mp3\r\nhttp://host:8000\r\n");
    EXPECT_EQ(PlaylistText(newPlaylist()), "#EXTM3U\r\n");

    StringGrid prgm = newProgrammeList();
    AddToProgrammeList(prgm, "/Jingles/noticias.mp3", "12:00:00");
    AddToProgrammeList(prgm, "/Jingles/tema.mp3", "...");
    AddToProgrammeList(prgm, "/Jingles/fim.mp3", "x\r\ny");
    EXPECT_EQ(ProgrammeListText(prgm),
              "#EXTM3U\r\n#KAVINF:12:00:00\r\n/Jingles/noticias.mp3\r\n#KAVINF:...\r\n"
              "/Jingles/tema.mp3\r\n#KAVINF:x  y\r\n/Jingles/fim.mp3\r\n");
}

TEST(ListText, WrittenListsReadBackTheSameIncludingAnEmptiedStartCell) {
    TempDir dir;
    StringGrid prgm = newProgrammeList();
    AddToProgrammeList(prgm, "/j/a.mp3", "12:00:00!");
    AddToProgrammeList(prgm, "/j/b.mp3", "--:--:--");
    AddToProgrammeList(prgm, "http://host/", "4");
    prgm.SetCell(1, 2, "");
    TempDir::Write(dir.File("prgm.m3u"), ProgrammeListText(prgm));
    StringGrid back = newProgrammeList();
    AddToProgrammeList(back, dir.File("prgm.m3u"), kNoStartTime);
    EXPECT_EQ(entries(back), entries(prgm));
    EXPECT_EQ(back.Cell(1, 2), "");
}

TEST(DeleteGridRow, RemovesTheSelectedRowWithItsMarkerOrEmptiesTheOnlyRow) {
    StringGrid pl = newPlaylist();
    for (auto p : {"/a.mp3", "/b.mp3", "/c.mp3"}) AddToPlaylist(pl, p);
    unsigned current = 0;
    MarkRow(pl, 2, current);
    pl.SetRow(2);
    DeleteGridRow(pl);
    EXPECT_EQ(paths(pl), (std::vector<std::string>{"/a.mp3", "/c.mp3"}));
    EXPECT_EQ(pl.Cell(0, 1), "");
    EXPECT_EQ(pl.Cell(0, 2), "");
    EXPECT_EQ(FindCurrentRow(pl, current), 2u);  // nothing marked: the number stays

    pl.SetRow(2);
    DeleteGridRow(pl);
    pl.SetRow(1);
    DeleteGridRow(pl);
    EXPECT_EQ(pl.RowCount(), 2);
    EXPECT_EQ(pl.Cell(1, 1), "");
    EXPECT_EQ(pl.Cell(2, 1), "");
}

TEST(Markers, MarkOnlyDataRowsAndFindTheMarkerAfterRowsMoved) {
    StringGrid pl = newPlaylist();
    for (auto p : {"/a.mp3", "/b.mp3", "/c.mp3"}) AddToPlaylist(pl, p);
    unsigned current = 0;
    MarkRow(pl, 1, current);
    EXPECT_EQ(current, 1u);
    MarkRow(pl, 4, current);  // beyond the last row: nothing marked, number kept
    MarkRow(pl, 0, current);
    EXPECT_EQ(current, 1u);
    for (int r = 1; r <= 3; ++r) EXPECT_EQ(pl.Cell(0, r), "");

    MarkRow(pl, 1, current);
    pl.MoveRow(1, 3);
    EXPECT_EQ(pl.Cell(1, 3), "a.mp3");
    EXPECT_EQ(pl.Cell(0, 3), kRowMarker);
    EXPECT_EQ(FindCurrentRow(pl, current), 3u);
    EXPECT_EQ(current, 3u);
    pl.MoveRow(3, 1);
    EXPECT_EQ(paths(pl), (std::vector<std::string>{"/a.mp3", "/b.mp3", "/c.mp3"}));
}

// What the view is told after each change: the rows whose cells changed,
// once per update, and the revision going up with every change.
TEST(StringGrid, TellsTheViewOnceWhichRowsChanged) {
    StringGrid pl = newPlaylist();
    std::vector<std::pair<int, int>> told;
    pl.OnChange = [&](const GridChange& c) { told.emplace_back(c.firstRow, c.lastRow); };
    using Change = std::function<void()>;
    const std::vector<std::pair<Change, std::pair<int, int>>> cases = {
        {[&] { pl.SetRowCount(7); }, {2, 6}},  // rows 2..6 appear
        {[&] { pl.SetCell(1, 3, "c"); }, {3, 3}},
        {[&] { pl.SetCell(1, 0, "Nome"); }, {0, 0}},
        {[&] {
             GridUpdate update(pl);
             pl.SetCell(2, 5, "x");
             pl.SetCell(0, 2, kRowMarker);
         },
         {2, 5}},
        {[&] { pl.MoveRow(6, 4); }, {4, 6}},
        {[&] { pl.RemoveRow(3); }, {3, 6}},  // the rows below move up
        {[&] {
             pl.ReorderRows({5, 4, 3, 2, 1});
         },
         {1, 5}},
        {[&] { pl.SetRowCount(3); }, {3, 5}},  // rows 3..5 go
    };
    for (const auto& [change, range] : cases) {
        told.clear();
        const auto revision = pl.Revision();
        change();
        EXPECT_EQ(told, (std::vector<std::pair<int, int>>{range}));
        EXPECT_GT(pl.Revision(), revision);
    }
    // Orders that are not a permutation of the rows change nothing.
    told.clear();
    const auto revision = pl.Revision();
    for (const std::vector<int>& bad : std::vector<std::vector<int>>{{1}, {1, 1}, {0, 1}, {2, 3}})
        pl.ReorderRows(bad);
    EXPECT_TRUE(told.empty());
    EXPECT_EQ(pl.Revision(), revision);
}

TEST(StringGrid, RowIdentitiesStayWithTheirRowsAndAreNeverGivenAgain) {
    StringGrid pl = newPlaylist();
    for (auto p : {"/a.mp3", "/b.mp3", "/c.mp3", "/d.mp3"}) AddToPlaylist(pl, p);
    auto idOf = [&](const std::string& name) {
        for (int r = 1; r <= pl.DataRows(); ++r)
            if (pl.Cell(1, r) == name) return pl.RowId(r);
        return std::uint64_t(0);
    };
    const std::vector<std::uint64_t> ids = {idOf("a.mp3"), idOf("b.mp3"), idOf("c.mp3"),
                                            idOf("d.mp3")};
    EXPECT_EQ(std::set<std::uint64_t>(ids.begin(), ids.end()).size(), 4u);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 0u), 0);
    pl.MoveRow(1, 4);              // b c d a
    pl.ReorderRows({2, 4, 1, 3});  // c a b d
    pl.SetRow(1);
    DeleteGridRow(pl);
    EXPECT_EQ((std::vector<std::uint64_t>{idOf("a.mp3"), idOf("b.mp3"), idOf("d.mp3")}),
              (std::vector<std::uint64_t>{ids[0], ids[1], ids[3]}));
    EXPECT_EQ(idOf("c.mp3"), 0u);
    AddToPlaylist(pl, "/e.mp3");
    ClearGrid(pl);
    AddToPlaylist(pl, "/f.mp3");
    EXPECT_EQ(std::count(ids.begin(), ids.end(), idOf("e.mp3")), 0);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), idOf("f.mp3")), 0);
}

TEST(Paths, NetworkEntriesGiveTheirAddressBackAndLocalOnesSplitAtTheLastSeparator) {
    for (std::string address :
         {"http://h", "http://h/", "http://h:80/a/b.mp3", "ftp://h/x/", "mms://h/s",
          "Http://h/a?b=c/d", "https://h", "HTTPS://h:8443/live", "https://h/a/radio.m3u8"}) {
        paths::Entry e = paths::SplitEntry(address);
        EXPECT_FALSE(e.name.empty()) << address;
        EXPECT_EQ(paths::JoinEntry(e.dir, e.name), address);
    }
    EXPECT_EQ(paths::ExtractFileExt("/a.m3u/b"), "");
    EXPECT_EQ(paths::ExtractFileExt("/a/b.tar.m3u"), ".m3u");
    EXPECT_FALSE(paths::IsNetworkAddress("/http://x"));
}

}  // namespace
