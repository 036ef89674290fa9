// The one object that knows what plays. The program tells it what happens
// (an item opened, started, moved, stopped, ended, failed, a live stream's
// new title, its own ticks); it works out when each item was first heard and
// how long, and tells its listeners (the as-run log, the now-playing files,
// the desktop's media control, the window's title) of every change of what
// plays and of every item's outcome.
//
// When an item was first heard is measured from the output position, not
// from when its start was asked: the engine's position counts what the
// output has taken, so the first sound came at the reading's time less the
// position. Readings are taken at the start and on the ticks of the first
// seconds; the earliest is kept (a reading taken late only looks later).
//
// GUI thread only. Times are milliseconds since the epoch, given by the
// caller, so tests drive the clock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "NowPlaying.h"

namespace nowplaying {

// An item the program is about to play, or tried to.
struct Attempt {
    std::string list;  // kPlaylist or kProgramme
    unsigned row = 0;
    std::string rule;  // the programme entry's start rule
    std::string file;
};

// What the engine says of the stream it started.
struct StreamTags {
    std::string artist;
    std::string title;
    std::uint32_t lengthMs = 0;
    // The title is not the stream's own (a playlist link's): the stream's
    // first title replaces it.
    bool titleStandsIn = false;
};

class Notifier;

// Names the cause of every stop while it lives (reason::...); causes nest.
class [[nodiscard]] CauseScope {
  public:
    CauseScope(Notifier& notifier, const char* reason);
    ~CauseScope();
    CauseScope(const CauseScope&) = delete;
    CauseScope& operator=(const CauseScope&) = delete;

  private:
    Notifier& notifier_;
    const char* previous_;
};

class Notifier {
  public:
    // How long the start of an item is measured for.
    static constexpr std::int64_t kMeasureMs = 3000;
    // Nothing played for this long is a stop: the moment between two items
    // is not one.
    static constexpr std::int64_t kStopGraceMs = 500;

    void Subscribe(Listener& listener);
    void Unsubscribe(Listener& listener);

    const Snapshot& Now() const { return shown_; }
    // How long the item playing has been heard so far; 0 when none plays.
    std::uint32_t HeardMs() const;

    // The item is open; the engine is about to start it.
    void Opened(const Attempt& attempt);
    // The engine's start returned: whether it plays, where it is, and what
    // the stream says of itself. viaPlugin: it plays through an input plug-in.
    void Started(std::int64_t nowMs, bool playing, std::uint32_t positionMs, const StreamTags& tags,
                 bool viaPlugin);
    // The engine was moved to positionMs (a resumed start): heard from there.
    void Moved(std::int64_t nowMs, std::uint32_t positionMs);
    // The program's tick. settled: the engine is not busy starting or seeking.
    void Tick(std::int64_t nowMs, bool playing, bool settled, std::uint32_t positionMs);
    // The program is stopping what plays, now at positionMs: it is cut.
    void Stopping(std::int64_t nowMs, std::uint32_t positionMs);
    // What played reached its end.
    void Ended(std::int64_t nowMs);
    // The attempt could not be played (its open, or its start, failed).
    // known: the reason when the caller knows it (reason::kNoOutput).
    void Failed(std::int64_t nowMs, const Attempt& attempt, bool viaPlugin,
                const char* known = nullptr);
    // A live stream's title changed at positionMs.
    void TitleChanged(std::int64_t nowMs, std::uint32_t positionMs, const std::string& title);
    // The program ends: nothing plays from now on.
    void Closing(std::int64_t nowMs);
    // An outcome known otherwise (the last run's item, interrupted).
    void Report(const Played& played) { finish(played); }

    CauseScope Because(const char* reason) { return CauseScope(*this, reason); }

  private:
    friend class CauseScope;
    struct Current {
        Item item;
        std::uint32_t basePosition = 0;  // the position its sound began at
        std::uint32_t lastPosition = 0;  // the latest reading
        std::int64_t lastReadMs = 0;     // when it was taken
        std::int64_t measureUntilMs = 0;
        bool startMeasured = false;  // a reading past its beginning has been seen
        bool titleStandsIn = false;  // no title of the stream's own yet
    };
    void begin(Item item, std::int64_t nowMs, std::uint32_t positionMs);
    void measure(std::int64_t nowMs, std::uint32_t positionMs);
    void read(std::int64_t nowMs, std::uint32_t positionMs);
    std::int64_t endOf(std::uint32_t heardMs) const;
    void endCurrent(std::uint32_t heardMs, Result result, const std::string& why);
    std::uint32_t heardAtEnd(std::int64_t nowMs) const;
    void finish(const Played& played);
    void show(const Snapshot& now);

    std::vector<Listener*> listeners_;
    Snapshot shown_;
    std::optional<Attempt> pending_;  // opened, not yet started
    std::optional<Current> current_;  // started and heard
    std::string failedStart_;         // a file whose failed start is on record
    std::int64_t idleSinceMs_ = -1;   // nothing plays since then (-1: something does)
    std::uint64_t nextId_ = 1;
    const char* cause_ = "";
};

// Why a file or address could not be played, from what can be learnt of it
// without opening it as audio: reason::kServer for a network address,
// kMissing, kUnreadable (no regular file, or no read permission), or
// kNotAudio (readable, so nothing could play what it holds).
std::string FailureReason(const std::string& path);

}  // namespace nowplaying
