#include "Playback.h"

#include <algorithm>
#include <bit>
#include <utility>
#include <vector>

#include "Markers.h"
#include "Paths.h"
#include "StartRules.h"
#include "platform/win/Application.h"
#include "platform/win/Clock.h"
#include "platform/win/Pump.h"

namespace {
constexpr int kPlaylistDirCol = 2, kPlaylistNameCol = 1;
// A start measured as longer is not a start's time (a clock put back).
constexpr std::uint32_t kLongestStartMs = 10'000;
constexpr int kProgrammeDirCol = 3, kProgrammeNameCol = 2;
constexpr std::uint32_t kLcgMultiplier = 134775813u;

// The copies not yet drawn: a bit per place they had at the start, 64 places
// to a word, and a Fenwick tree of how many are left in each word. Finding
// "the j-th copy left" and removing it take log n steps, so a shuffle draws
// exactly as removing copy j from a list would, without moving the copies
// after it; the tree is small enough to stay in the cache.
class CopiesLeft {
  public:
    explicit CopiesLeft(int n)
        : present_((size_t(n) + 63) / 64, ~std::uint64_t(0)), tree_(present_.size() + 1) {
        if (n % 64 != 0) present_.back() = (std::uint64_t(1) << (n % 64)) - 1;
        for (size_t i = 1; i < tree_.size(); ++i) {
            tree_[i] += std::popcount(present_[i - 1]);
            const size_t parent = i + (i & (~i + 1));
            if (parent < tree_.size()) tree_[parent] += tree_[i];
        }
    }

    // The place (0-based) of copy j of those left; it is no longer left.
    int Take(std::uint32_t j) {
        const size_t words = tree_.size() - 1;
        size_t word = 0;
        int before = int(j);  // copies left to pass over
        // The nodes not passed over are the ones that count the copy taken.
        for (size_t step = std::bit_floor(words); step > 0; step >>= 1) {
            const size_t next = word + step;
            if (next > words) continue;
            if (tree_[next] <= before) {
                word = next;
                before -= tree_[next];
            } else {
                --tree_[next];
            }
        }
        std::uint64_t bits = present_[word];
        for (; before > 0; --before) bits &= bits - 1;  // drop the copies passed over
        const int bit = std::countr_zero(bits);
        present_[word] &= ~(std::uint64_t(1) << bit);
        return int(word * 64) + bit;
    }

  private:
    std::vector<std::uint64_t> present_;  // bit b of word w: place 64 w + b is left
    std::vector<int> tree_;  // tree_[i]: copies left in words (i - lowbit(i), i], 1-based
};

bool EveryRowTried(const StringGrid& grid, const std::unordered_set<std::uint64_t>& tried) {
    if (tried.size() < size_t(grid.DataRows())) return false;
    for (int r = 1; r <= grid.DataRows(); ++r)
        if (!tried.contains(grid.RowId(r))) return false;
    return true;
}

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
    CopiesLeft left(n);
    ShuffleGenerator generator(seed);
    std::vector<int> order;
    order.reserve(size_t(n));
    for (int i = 0; i < n; ++i)
        order.push_back(1 + left.Take(generator.Below(std::uint32_t(n - i))));
    grid.ReorderRows(order);
}

void KeepMarkedRowOffTheTop(StringGrid& grid) {
    if (grid.DataRows() > 1 && grid.Cell(0, 1) == kRowMarker) grid.MoveRow(1, 2);
}

std::uint32_t ShuffleSeed() {
    const std::uint64_t counter = win::GetClock().PerformanceCounter();
    return counter != 0 ? std::uint32_t(counter) : win::GetTickCount();
}

std::string RowPath(const StringGrid& grid, int row, int dirCol, int nameCol) {
    return paths::JoinEntry(grid.Cell(dirCol, row), grid.Cell(nameCol, row));
}

std::string PlaylistRowPath(const StringGrid& playlist, int row) {
    return RowPath(playlist, row, kPlaylistDirCol, kPlaylistNameCol);
}

TPlayback::TPlayback(RunState& run, StringGrid& playlist, StringGrid& prgmlist, PlayerPort& player,
                     const AutomationHost& host, TFade& fade)
    : run_(run),
      playlist_(playlist),
      prgmlist_(prgmlist),
      player_(player),
      host_(host),
      fade_(fade) {}

// While it runs the scheduler fires nothing: an entry that comes due waits
// for the start to finish, then fades what it started.
bool TPlayback::OpenAndStart(const std::string& path) {
    struct Running {
        int& count;
        explicit Running(int& c) : count(++c) {}
        ~Running() { --count; }
    } running(starting_);
    return OpenAndStartTimed(path);
}

// How long a start takes to its first sound is noted for programme entries
// played on the second; an item that was prepared ahead says nothing of that.
bool TPlayback::OpenAndStartTimed(const std::string& path) {
    const bool prepared = player_.PreparedPath() == path;
    const std::uint32_t began = win::GetTickCount();
    if (!OpenAndStartNow(path)) return false;
    const std::uint32_t took = player_.SoundStartTick() - began;
    if (!prepared && player_.SoundStartTick() != 0 && took < kLongestStartMs)
        startTimes_.Note(path, took);
    return true;
}

bool TPlayback::OpenAndStartNow(const std::string& path) {
    player_.StopPlayback();
    if (!player_.OpenStream(path)) return false;
    if (host_.ItemStarting) {
        const unsigned row =
            run_.PlayingFromProgramme ? run_.CurrentProgrammeRow : run_.CurrentPlaylistRow;
        host_.ItemStarting({run_.PlayingFromProgramme, row, path});
    }
    // What opens but does not start (a plug-in that never writes, or does
    // not answer) has failed as an open that fails.
    if (!player_.StartPlayback()) return false;
    if (host_.ShowNowPlaying) host_.ShowNowPlaying(DescribeStream(player_.StreamInfo()));
    return true;
}

void TPlayback::PlayFile(const std::string& path) {
    if (OpenAndStart(path)) return;
    if (host_.ItemFailed) host_.ItemFailed(path);
    MoveOnAfterFailedOpen();
}

// A failed open moves on to the next playlist track. The moving on is a loop
// rather than a recursion, and it gives up once every row has been tried
// without a track that opens (an empty list, every file missing). Rows are
// told apart by their identity, which a reshuffle at the end of the list
// keeps: the rows tried before it count, and none is taken for another.
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
    triedRows_.clear();
    if (!run_.PlayingFromProgramme)  // the row that failed
        triedRows_.insert(playlist_.RowId(int(FindCurrentRow(playlist_, run_.CurrentPlaylistRow))));
    // Between two tries the messages that came meanwhile are dispatched, and
    // an entry that came due during the start that failed fires (nothing
    // plays, so without a fade) before the playlist moves on. The start is
    // over for the scheduler while they are: Starting() is off.
    bool firstLook = true;  // before the first dispatch: nothing to try yet
    const auto failing = [&] {
        if (!std::exchange(firstLook, false)) {
            if (dueCheck_ && !player_.Playing()) dueCheck_();
            if (player_.Playing()) return false;     // something else was started meanwhile
            if (win::QuitRequested()) return false;  // the program is ending: nothing starts
            openFailed_ = false;
            PlayNextPlaylistRow();
            if (!openFailed_) return false;
        }
        return !EveryRowTried(playlist_, triedRows_);
    };
    // Rows replaced while messages are dispatched could keep the pass from
    // ever being complete: twice the rows bounds it.
    const unsigned tries = unsigned(2 * playlist_.DataRows() + 1);
    struct Restore {
        int& count;
        const int saved;
        ~Restore() { count = saved; }
    } starting{starting_, std::exchange(starting_, 0)};
    win::PumpWhile(failing, win::PumpLimit::Rounds(tries, 1, win::Rest::Clock));
}

void TPlayback::MarkPlaylistRow(unsigned row) {
    MarkRow(playlist_, row, run_.CurrentPlaylistRow);
}

void TPlayback::MarkProgrammeRow(unsigned row) {
    MarkRow(prgmlist_, row, run_.CurrentProgrammeRow);
}

void TPlayback::PlayPlaylistRow(unsigned row) {
    if (row > unsigned(playlist_.DataRows())) {
        if (!host_.RepeatPlaylist || !host_.RepeatPlaylist()) return;
        row = 1;
        if (host_.AutoShuffle && host_.AutoShuffle()) {
            ShuffleRows(playlist_, ReshuffleSeed());
            KeepMarkedRowOffTheTop(playlist_);
        }
    }
    if (row == 0) row = 1;
    MarkPlaylistRow(row);
    if (movingOn_) triedRows_.insert(playlist_.RowId(int(row)));
    run_.PlayingFromProgramme = false;
    PlayFile(RowPath(playlist_, int(row), kPlaylistDirCol, kPlaylistNameCol));
}

void TPlayback::PlayNextPlaylistRow() {
    PlayPlaylistRow(FindCurrentRow(playlist_, run_.CurrentPlaylistRow) + 1);
}

void TPlayback::PlayProgrammeRow(unsigned row, std::optional<unsigned> hour) {
    if (row > unsigned(prgmlist_.DataRows()) || row == 0) row = 1;
    MarkProgrammeRow(row);
    run_.PlayingFromProgramme = true;
    PlayFile(ProgrammeRowPath(row, hour.value_or(win::CurrentHour())));
}

std::string TPlayback::ProgrammeRowPath(unsigned row, unsigned hour) const {
    if (row > unsigned(prgmlist_.DataRows()) || row == 0) row = 1;
    return ReplaceHour(RowPath(prgmlist_, int(row), kProgrammeDirCol, kProgrammeNameCol), hour);
}

std::string TPlayback::NextPlaylistPath() {
    unsigned row = FindCurrentRow(playlist_, run_.CurrentPlaylistRow) + 1;
    if (row > unsigned(playlist_.DataRows())) {
        if (!host_.RepeatPlaylist || !host_.RepeatPlaylist()) return {};
        row = 1;
        if (host_.AutoShuffle && host_.AutoShuffle()) {
            if (!keptReshuffle_ || keptReshuffle_->revision != playlist_.Revision()) {
                StringGrid reshuffled = playlist_;
                const std::uint32_t seed = ShuffleSeed();
                ShuffleRows(reshuffled, seed);
                KeepMarkedRowOffTheTop(reshuffled);
                keptReshuffle_ = {seed, playlist_.Revision(), PlaylistRowPath(reshuffled, 1)};
            }
            return keptReshuffle_->first;
        }
    }
    return PlaylistRowPath(playlist_, int(row));
}

std::uint32_t TPlayback::ReshuffleSeed() {
    const bool kept = keptReshuffle_ && keptReshuffle_->revision == playlist_.Revision();
    const std::uint32_t seed = kept ? keptReshuffle_->seed : ShuffleSeed();
    keptReshuffle_.reset();
    return seed;
}

void TPlayback::ShufflePlaylist() {
    ShuffleRows(playlist_, ShuffleSeed());
}

// The engine moves a plug-in's file only once it plays: the moment before
// the move is not heard.
void TPlayback::ResumePlaylistRow(unsigned row, std::uint32_t fromMs) {
    if (fromMs == 0 || row == 0 || row > unsigned(playlist_.DataRows()))
        return PlayPlaylistRow(row);
    MarkPlaylistRow(row);
    run_.PlayingFromProgramme = false;
    const std::string path = PlaylistRowPath(playlist_, int(row));
    const int volume = host_.VolumeValue ? std::clamp(host_.VolumeValue(), 0, 255) : 255;
    player_.SetOutputVolume(0);
    const bool started = OpenAndStart(path);
    if (started) player_.SetPositionMs(fromMs);
    player_.SetOutputVolume(std::uint32_t(volume));
    if (started) return;
    if (host_.ItemFailed) host_.ItemFailed(path);
    MoveOnAfterFailedOpen();
}

void TPlayback::MoveOnFromDeadItem() {
    player_.StopPlayback();
    MoveOnAfterFailedOpen();
}

void TPlayback::FadeIfPlaying() {
    if (player_.Playing()) fade_.FadeOutAndStop();
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
