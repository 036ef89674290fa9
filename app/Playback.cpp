#include "Playback.h"

#include <vector>

#include "Markers.h"
#include "Paths.h"
#include "Scheduler.h"
#include "platform/win/Clock.h"
#include "platform/win/Messages.h"

namespace {
constexpr int kPlaylistDirCol = 2, kPlaylistNameCol = 1;
constexpr int kProgrammeDirCol = 3, kProgrammeNameCol = 2;
constexpr std::uint32_t kLcgMultiplier = 134775813u;
}  // namespace

NowPlayingTexts DescribeStream(const TStreamInfo& info) {
    NowPlayingTexts t;
    t.artist = info.Artist.empty() ? "Sem indicação de autor" : info.Artist;
    t.title = info.Title.empty() ? "Sem indicação de título" : info.Title;
    t.duration = FormatSeconds(info.Duration / 1000);
    t.params = std::to_string(info.SampleRate) + " Hz, " + std::to_string(info.BitRate) +
               (info.Channels == 1 ? " kbps, mono" : " kbps, estéreo");
    return t;
}

std::uint32_t ShuffleGenerator::Below(std::uint32_t m) {
    seed_ = seed_ * kLcgMultiplier + 1u;
    return std::uint32_t((std::uint64_t(seed_) * m) >> 32);
}

void ShuffleRows(StringGrid& grid, std::uint32_t seed) {
    const int n = grid.DataRows();
    if (n <= 1) return;
    std::vector<std::vector<std::string>> copies;
    copies.reserve(size_t(n));
    for (int r = 1; r <= n; ++r) {
        std::vector<std::string> row;
        for (int c = 0; c < grid.ColCount(); ++c) row.push_back(grid.Cell(c, r));
        copies.push_back(std::move(row));
    }
    ShuffleGenerator generator(seed);
    GridUpdate update(grid);
    for (int i = 1; i <= n; ++i) {
        const std::uint32_t j = generator.Below(std::uint32_t(copies.size()));
        for (int c = 0; c < grid.ColCount(); ++c) grid.SetCell(c, i, copies[j][size_t(c)]);
        copies.erase(copies.begin() + j);
    }
}

std::uint32_t ShuffleSeed() {
    const std::uint64_t counter = win::GetClock().PerformanceCounter();
    return counter != 0 ? std::uint32_t(counter) : win::GetTickCount();
}

std::string RowPath(const StringGrid& grid, int row, int dirCol, int nameCol) {
    return paths::JoinEntry(grid.Cell(dirCol, row), grid.Cell(nameCol, row));
}

std::string ReplaceHour(std::string text, unsigned hour) {
    const std::string hh = {char('0' + hour / 10 % 10), char('0' + hour % 10)};
    for (size_t at = text.find("%h"); at != std::string::npos; at = text.find("%h", at + 2))
        text.replace(at, 2, hh);
    return text;
}

TPlayback::TPlayback(PlaybackContext& context, PlayerPort& player)
    : ctx_(context), player_(player) {}

bool TPlayback::OpenAndStart(const std::string& path) {
    player_.StopPlayback();
    if (!player_.OpenStream(path)) return false;
    player_.StartPlayback();
    if (ctx_.ShowNowPlaying) ctx_.ShowNowPlaying(DescribeStream(player_.StreamInfo()));
    return true;
}

void TPlayback::PlayFile(const std::string& path) {
    if (!OpenAndStart(path)) MoveOnAfterFailedOpen();
}

// A failed open moves on to the next playlist track. The moving on is a loop
// rather than a recursion, and it gives up after one pass through the playlist
// without a track that opens (an empty list, every file missing).
void TPlayback::MoveOnAfterFailedOpen() {
    if (movingOn_) {  // a row tried by the loop below: it goes on
        openFailed_ = true;
        return;
    }
    // Reset however the loop ends: an open may also end with an error.
    struct Running {
        TPlayback& p;
        explicit Running(TPlayback& playback) : p(playback) { p.movingOn_ = true; }
        ~Running() { p.movingOn_ = p.openFailed_ = false; }
    } running(*this);
    // A playlist row that failed is already part of the pass.
    const int triesLeft = ctx_.playlist.DataRows() - (ctx_.PlayingFromProgramme ? 0 : 1);
    for (int tries = 0; tries < triesLeft; ++tries) {
        win::ProcessMessages();
        win::Sleep(1);
        if (player_.Playing()) break;  // something else was started meanwhile
        openFailed_ = false;
        PlayNextPlaylistRow();
        if (!openFailed_) break;
    }
}

void TPlayback::MarkPlaylistRow(unsigned row) {
    MarkRow(ctx_.playlist, row, ctx_.CurrentPlaylistRow);
}

void TPlayback::MarkProgrammeRow(unsigned row) {
    MarkRow(ctx_.prgmlist, row, ctx_.CurrentProgrammeRow);
}

void TPlayback::PlayPlaylistRow(unsigned row) {
    if (row > unsigned(ctx_.playlist.DataRows())) {
        if (!ctx_.RepeatPlaylist || !ctx_.RepeatPlaylist()) return;
        row = 1;
        if (ctx_.AutoShuffle && ctx_.AutoShuffle()) ShufflePlaylist();
    }
    if (row == 0) row = 1;
    MarkPlaylistRow(row);
    ctx_.PlayingFromProgramme = false;
    PlayFile(RowPath(ctx_.playlist, int(row), kPlaylistDirCol, kPlaylistNameCol));
}

void TPlayback::PlayNextPlaylistRow() {
    PlayPlaylistRow(FindCurrentRow(ctx_.playlist, ctx_.CurrentPlaylistRow) + 1);
}

void TPlayback::PlayProgrammeRow(unsigned row) {
    if (row > unsigned(ctx_.prgmlist.DataRows()) || row == 0) row = 1;
    MarkProgrammeRow(row);
    ctx_.PlayingFromProgramme = true;
    PlayFile(ReplaceHour(RowPath(ctx_.prgmlist, int(row), kProgrammeDirCol, kProgrammeNameCol),
                         win::CurrentHour()));
}

void TPlayback::ShufflePlaylist() {
    ShuffleRows(ctx_.playlist, ShuffleSeed());
}

void TPlayback::BASSPlayer1PlayEnd() {
    if (!ctx_.PlayingFromProgramme) {
        if (!scheduler_ || !scheduler_->StartCountedEntry()) PlayNextPlaylistRow();
    } else {
        if (!scheduler_ || !scheduler_->ProgrammeItemEnded()) PlayNextPlaylistRow();
    }
}

void TPlayback::FadeIfPlaying() {
    if (player_.Playing() && scheduler_) scheduler_->FadeOutAndStop();
}

void TPlayback::PlayCommand() {
    FadeIfPlaying();
    PlayNextPlaylistRow();
}

void TPlayback::StopCommand() {
    FadeIfPlaying();
}

void TPlayback::PlaylistRowCommand(unsigned row) {
    FadeIfPlaying();
    PlayPlaylistRow(row);
}

void TPlayback::ProgrammeRowCommand(unsigned row) {
    FadeIfPlaying();
    PlayProgrammeRow(row);
}
