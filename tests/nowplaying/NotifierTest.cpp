// The now-playing notifier on a clock the test gives: when an item was first
// heard (from the output position, not from when it was asked for), how long
// it was heard, what ended it, why a file could not be played, a live
// stream's titles, and when a stop is told.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "Notifier.h"
#include "tests/support/TempDir.h"

namespace nowplaying {
namespace {

class Recorder : public Listener {
  public:
    void Changed(const Snapshot& now) override { changes.push_back(now); }
    void Finished(const Played& played) override { finished.push_back(played); }
    std::vector<Snapshot> changes;
    std::vector<Played> finished;
};

const Attempt kSong{kPlaylist, 3, "", "/musica/song.mp3"};
const Attempt kJingle{kProgramme, 2, "12:00:00", "/jingles/j.wav"};

class NotifierTest : public testing::Test {
  protected:
    void SetUp() override { notifier.Subscribe(told); }
    // Opened and started at `at`, the engine having played `position` already.
    void Start(const Attempt& a, std::int64_t at, std::uint32_t position,
               std::uint32_t length = 180'000, std::string title = "Song") {
        notifier.Opened(a);
        notifier.Started(at, true, position, {"Artist", std::move(title), length}, true);
    }
    Notifier notifier;
    Recorder told;
};

// A reading taken late makes the first sound look later than it was: of the
// readings of the first seconds, the earliest wins; readings after that, or
// of a busy engine, tell nothing.
TEST_F(NotifierTest, TheFirstSoundIsTheEarliestReadingOfTheOutputPosition) {
    const struct {
        const char* what;
        std::uint32_t startPosition;
        std::vector<std::tuple<std::int64_t, std::uint32_t, bool>> ticks;  // at, position, settled
        std::int64_t firstSound;
    } cases[] = {
        {"a plug-in's start waits for 200 ms of output", 230, {}, 9770},
        {"a later reading that is earlier wins", 230, {{10100, 345, true}}, 9755},
        {"a later reading that is later does not", 230, {{10100, 300, true}}, 9770},
        {"a library channel starts at 0: its first reading counts", 0, {{10100, 80, true}}, 10020},
        {"a busy engine's reading is no reading", 0, {{10100, 5000, false}}, 10000},
        {"past the first seconds nothing is measured", 230, {{13500, 3800, true}}, 9770},
    };
    for (const auto& c : cases) {
        Notifier n;
        Recorder r;
        n.Subscribe(r);
        n.Opened(kSong);
        n.Started(10000, true, c.startPosition, {"A", "T", 60000}, true);
        for (const auto& [at, position, settled] : c.ticks) n.Tick(at, true, settled, position);
        n.Stopping(20000, 10000);
        ASSERT_EQ(r.finished.size(), 1u) << c.what;
        EXPECT_EQ(r.finished[0].item.startMs, c.firstSound) << c.what;
        // Stopped then; never before the first sound and what was heard.
        EXPECT_EQ(r.finished[0].endMs, std::max<std::int64_t>(20000, c.firstSound + 10000))
            << c.what;
        EXPECT_EQ(r.finished[0].heardMs, 10000u) << c.what;
    }
}

// An output that stalls on the way (a live stream run dry, a starved
// process) hears less than the time between the first sound and the last:
// the end is when the last sound came, the duration what was heard.
TEST_F(NotifierTest, AStallOnTheWayEndsTheItemLaterThanWhatWasHeard) {
    const struct {
        const char* how;
        std::uint32_t length;
        std::int64_t endAt;  // when it is told it ended, or stopped
        std::uint32_t heard;
        std::int64_t endMs;
    } cases[] = {
        {"played to its end", 6000, 8000, 6000, 8000},
        {"its end told late", 6000, 9000, 6000, 8000},
        {"stopped", 0, 7000, 4500, 7000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        Notifier n;
        Recorder r;
        n.Subscribe(r);
        n.Opened(kSong);
        n.Started(0, true, 0, {"A", "T", c.length}, false);
        n.Tick(100, true, true, 100);
        n.Tick(5000, true, true, 3000);  // 2 s without sound on the way
        if (c.length)
            n.Ended(c.endAt);
        else
            n.Stopping(c.endAt, 4500);
        ASSERT_EQ(r.finished.size(), 1u);
        EXPECT_EQ(r.finished[0].item.startMs, 0);
        EXPECT_EQ(r.finished[0].heardMs, c.heard);
        EXPECT_EQ(r.finished[0].endMs, c.endMs);
    }
}

TEST_F(NotifierTest, AnItemThatPlaysToItsEndIsHeardForItsLengthEvenWhenTheEndIsToldLate) {
    Start(kSong, 1000, 200, 3000);
    notifier.Tick(3800, true, true, 3000);
    notifier.Ended(4100);  // the last reading + 300 ms: more than the length
    ASSERT_EQ(told.finished.size(), 1u);
    const Played& p = told.finished[0];
    EXPECT_EQ(p.result, Result::Complete);
    EXPECT_EQ(p.item.startMs, 800);
    EXPECT_EQ(p.heardMs, 3000u);
    EXPECT_EQ(p.endMs, 3800);
    EXPECT_EQ(p.reason, "");
    EXPECT_EQ(p.item.artist, "Artist");
    EXPECT_EQ(p.item.list, kPlaylist);
    EXPECT_EQ(p.item.row, 3u);

    Start(kSong, 10000, 0, 0);  // no length known: the time since the last reading counts
    notifier.Tick(12000, true, true, 2000);
    notifier.Ended(12250);
    EXPECT_EQ(told.finished.back().heardMs, 2250u);
}

TEST_F(NotifierTest, TheCauseInForceNamesTheCutAndCausesNest) {
    Start(kSong, 0, 100);
    {
        const CauseScope outer = notifier.Because(reason::kStop);
        {
            const CauseScope inner = notifier.Because(reason::kTime);
            notifier.Stopping(5000, 4900);
        }
        Start(kJingle, 6000, 100);
        notifier.Stopping(7000, 1000);
    }
    Start(kSong, 8000, 100);
    notifier.Stopping(9000, 1100);
    ASSERT_EQ(told.finished.size(), 3u);
    EXPECT_EQ(told.finished[0].reason, reason::kTime);
    EXPECT_EQ(told.finished[0].heardMs, 4900u);
    EXPECT_EQ(told.finished[0].result, Result::Cut);
    EXPECT_EQ(told.finished[1].reason, reason::kStop);
    EXPECT_EQ(told.finished[1].item.rule, "12:00:00");
    EXPECT_EQ(told.finished[2].reason, "");
}

TEST_F(NotifierTest, AResumedItemIsHeardFromWhereTheEngineWent) {
    Start(kSong, 1000, 220);      // muted, then moved
    notifier.Moved(1300, 30000);  // heard from here
    notifier.Tick(1400, true, true, 30090);
    notifier.Stopping(6400, 35090);
    ASSERT_EQ(told.finished.size(), 1u);
    EXPECT_EQ(told.finished[0].item.startMs, 1310);
    EXPECT_EQ(told.finished[0].heardMs, 5090u);
    EXPECT_EQ(told.finished[0].endMs, 6400);
}

// Each title of a live stream is an item of its own; the next goes on from
// where the last ended, on the same row and address. A stream that began
// untitled, or under its playlist link's title, takes its first title of its
// own (an empty one names nothing); once it has named itself, an empty title
// is a change like any other.
TEST_F(NotifierTest, ALiveStreamGivesALinePerTitle) {
    using Titles = std::vector<std::string>;
    const struct {
        const char* began;
        StreamTags tags;
        Titles lines;  // the finished items' titles
        Titles shown;  // what each change showed
    } cases[] = {
        {"untitled", {}, {"First", "Second"}, {"", "First", "Second"}},
        {"under its link's title",
         {"", "Radio", 0, true},
         {"First", "Second"},
         {"Radio", "First", "Second"}},
        {"with its own title",
         {"", "Radio", 0, false},
         {"Radio", "", "First", "Second"},
         {"Radio", "", "First", "Second"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.began);
        Notifier notifier;
        Recorder told;
        notifier.Subscribe(told);
        notifier.Opened({kPlaylist, 1, "", "http://127.0.0.1:8000/live"});
        notifier.Started(0, true, 0, c.tags, false);
        notifier.Tick(100, true, true, 100);
        notifier.TitleChanged(200, 200, "");
        notifier.TitleChanged(300, 300, "First");
        notifier.TitleChanged(60000, 59900, "First");  // the same title again: nothing
        notifier.TitleChanged(70000, 69900, "Second");
        notifier.Stopping(80000, 79900);
        Titles lines, shown;
        for (const Played& p : told.finished) lines.push_back(p.item.title);
        for (const Snapshot& n : told.changes) shown.push_back(n.item.title);
        ASSERT_EQ(lines, c.lines);
        EXPECT_EQ(shown, c.shown);
        EXPECT_EQ(told.finished.front().item.startMs, 0) << "the stream's first sound";
        for (size_t i = 1; i < told.finished.size(); ++i) {
            EXPECT_EQ(told.finished[i].item.startMs, told.finished[i - 1].endMs);
            EXPECT_NE(told.finished[i].item.id, told.finished[i - 1].item.id);
            EXPECT_EQ(told.finished[i].item.file, "http://127.0.0.1:8000/live");
        }
        const Played& first = told.finished[lines.size() - 2];
        EXPECT_EQ(first.result, Result::Complete);
        EXPECT_EQ(first.endMs, 70000) << "when the title changed";
        EXPECT_EQ(told.finished.back().heardMs, 10000u);
    }
}

// Between two items nothing is told; a stop is told once nothing has played
// for a moment, and only once.
TEST_F(NotifierTest, AStopIsToldOnceNothingHasPlayedForAMoment) {
    Start(kSong, 0, 100, 1000);
    notifier.Ended(900);
    notifier.Tick(950, false, true, 0);
    Start(kJingle, 960, 200);  // the next item at once
    ASSERT_EQ(told.changes.size(), 2u);
    EXPECT_TRUE(told.changes[1].playing);

    notifier.Ended(2000);
    notifier.Opened(kSong);  // opening: not a stop, however long it takes
    notifier.Tick(4000, false, true, 0);
    EXPECT_EQ(told.changes.size(), 2u);
    notifier.Failed(4100, kSong, false);
    notifier.Tick(4200, false, true, 0);
    notifier.Tick(4600, false, true, 0);
    EXPECT_EQ(told.changes.size(), 2u) << "within the moment";
    notifier.Tick(4700, false, true, 0);
    notifier.Tick(9000, false, true, 0);
    ASSERT_EQ(told.changes.size(), 3u);
    EXPECT_FALSE(told.changes[2].playing);
}

TEST_F(NotifierTest, AnEngineThatStopsUnsaidCutsTheItemAndTheEndOfTheProgramIsAStop) {
    Start(kSong, 0, 100);
    notifier.Tick(1000, true, true, 1000);
    notifier.Tick(1100, false, true, 0);
    ASSERT_EQ(told.finished.size(), 1u);
    EXPECT_EQ(told.finished[0].result, Result::Cut);
    EXPECT_EQ(told.finished[0].heardMs, 1000u);

    Start(kJingle, 2000, 100);
    notifier.Closing(2500);
    ASSERT_EQ(told.finished.size(), 2u);
    EXPECT_EQ(told.finished[1].reason, reason::kExit);
    EXPECT_FALSE(told.changes.back().playing);
    EXPECT_FALSE(notifier.Now().playing);
}

// What can be learnt without decoding: the address, the file's existence,
// its kind and its permissions; a file that opened but did not start is
// its plug-in's failure, told once whichever way the program reports it.
TEST_F(NotifierTest, AFailureIsToldOnceWithItsReason) {
    TempDir dir;
    const std::string junk = (dir.Path() / "junk.mp3").string();
    std::ofstream(junk) << "not audio at all";
    const std::string fifo = (dir.Path() / "fifo.mp3").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string locked = (dir.Path() / "locked.mp3").string();
    std::ofstream(locked) << "x";
    ::chmod(locked.c_str(), 0);
    const bool root = ::geteuid() == 0;
    const struct {
        std::string path;
        std::string reason;
    } cases[] = {
        {(dir.Path() / "missing.mp3").string(), reason::kMissing},
        {"", reason::kMissing},
        {dir.Path().string(), reason::kUnreadable},
        {fifo, reason::kUnreadable},
        {junk, reason::kNotAudio},
        {locked, root ? reason::kNotAudio : reason::kUnreadable},
        {"http://127.0.0.1:1/live", reason::kServer},
        {"mms://127.0.0.1/x.wma", reason::kServer},
    };
    for (const auto& c : cases) {
        told.finished.clear();
        notifier.Failed(5000, {kPlaylist, 4, "", c.path}, false);
        ASSERT_EQ(told.finished.size(), 1u) << c.path;
        EXPECT_EQ(told.finished[0].reason, c.reason) << c.path;
        EXPECT_EQ(told.finished[0].result, Result::Failed);
        EXPECT_EQ(told.finished[0].heardMs, 0u);
        EXPECT_EQ(told.finished[0].item.startMs, 5000);
    }

    // A start that fails, reported as a failed open (or not).
    told.finished.clear();
    notifier.Opened(kSong);
    notifier.Failed(6000, kSong, true);
    notifier.Opened(kJingle);
    notifier.Started(7000, false, 0, {}, true);
    notifier.Failed(7001, kJingle, true);
    notifier.Opened(kSong);
    notifier.Started(8000, false, 0, {}, false);
    notifier.Tick(8100, false, true, 0);
    notifier.Failed(8200, kSong, false);  // a later failure of the same file is one more
    notifier.Failed(9000, kJingle, false, reason::kNoOutput);
    ASSERT_EQ(told.finished.size(), 5u);
    EXPECT_EQ(told.finished[0].reason, reason::kPlugin);
    EXPECT_EQ(told.finished[1].reason, reason::kPlugin);
    EXPECT_EQ(told.finished[1].item.rule, "12:00:00");
    EXPECT_EQ(told.finished[2].reason, reason::kStartFailed);
    EXPECT_EQ(told.finished[3].reason, reason::kMissing);
    EXPECT_EQ(told.finished[4].reason, reason::kNoOutput);
    EXPECT_TRUE(told.changes.empty()) << "nothing played";
}

}  // namespace
}  // namespace nowplaying
