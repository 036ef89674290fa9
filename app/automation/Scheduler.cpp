#include "Scheduler.h"

#include <algorithm>

#include "Markers.h"
#include "StartRules.h"
#include "platform/win/Clock.h"
#include "platform/win/MessageBox.h"

namespace {

constexpr std::uint32_t kDayMs = 86'400'000;
constexpr std::uint32_t kHourMs = 3'600'000;
// How far ahead the next moment due is told.
constexpr std::uint32_t kDueHorizonMs = 60'000;
// The item after the one playing is opened this long before the end, and
// queued to start by itself after it this long before.
constexpr std::uint32_t kPrepareAheadMs = 5'000;
constexpr std::uint32_t kQueueAheadMs = 1'000;
// On the second an entry is fired this much before its lead: the fade or the
// stop held up by a few milliseconds then still lets it start on time.
constexpr std::uint32_t kPunctualMarginMs = 15;

bool InWindow(std::uint32_t t, std::uint32_t from, std::uint32_t to) {
    return from <= to ? t >= from && t <= to : t >= from || t <= to;
}

// The ms from one time of day forward to another.
std::uint32_t Ahead(std::uint32_t from, std::uint32_t to) {
    return (to + kDayMs - from) % kDayMs;
}

std::uint32_t Before(std::uint32_t time, std::uint32_t ms) {
    return (time + kDayMs - ms % kDayMs) % kDayMs;
}

// Calls f(time, hour) for the time the cell gives at hour and, when "%h"
// stands in it, at the hour after: an hourly entry's next time may lie there.
template <class F>
void ForEachTime(const std::string& cell, unsigned hour, F f) {
    f(EntryTime(cell, hour), hour);
    if (cell.find("%h") != std::string::npos) f(EntryTime(cell, (hour + 1) % 24), (hour + 1) % 24);
}

}  // namespace

TScheduler::TScheduler(RunState& run, const StringGrid& prgmlist, PlayerPort& player,
                       const AutomationHost& host, TPlayback& playback, TFade& fade)
    : run_(run),
      prgmlist_(prgmlist),
      player_(player),
      host_(host),
      playback_(playback),
      fade_(fade) {}

TScheduler::Due TScheduler::DueRow(std::uint32_t from, std::uint32_t to) const {
    const unsigned hour = win::CurrentHour();
    for (int r = 1; r <= prgmlist_.DataRows(); ++r) {
        const std::uint32_t t = EntryTime(prgmlist_.Cell(kStartCol, r), hour);
        if (t != 0 && InWindow(t, from, to) && t != run_.LastFired) return {unsigned(r), t, hour};
    }
    return {};
}

// A reading before the previous one means midnight has passed, or the clock
// was put back (the end of summer time). The window then reaches back from
// now by the time that really passed, as the tick counter measured it, across
// midnight if need be: nothing that came due meanwhile is lost, and nothing of
// the part of the day the clock went back over fires again.
std::uint32_t TScheduler::WindowStart(std::uint32_t now, std::uint32_t tickCount) const {
    if (now >= run_.PreviousTick) return run_.PreviousTick;
    if (!previousTickCount_) return now;
    const std::uint32_t passed = std::min(tickCount - *previousTickCount_, kDayMs - 1);
    return (now + kDayMs - passed) % kDayMs;
}

std::uint32_t TScheduler::LeadMs(unsigned row, unsigned hour) const {
    std::uint32_t lead =
        kPunctualMarginMs + playback_.ExpectedStartMs(playback_.ProgrammeRowPath(row, hour));
    if (player_.Playing() && run_.FadeTime > 0)
        lead += std::uint32_t(run_.FadeTime) + TFade::kPauseAfterStopMs;
    return lead;
}

TScheduler::Due TScheduler::EarlyRow(std::uint32_t from, std::uint32_t now,
                                     std::uint32_t tickCount) const {
    const std::uint32_t covered =
        previousTickCount_ ? std::min(tickCount - *previousTickCount_, kDayMs - 1) : 0;
    if (const std::uint32_t realFrom = Before(now, covered); InWindow(realFrom, from, now))
        from = realFrom;
    Due best;
    std::uint32_t bestAhead = 0;
    for (int r = 1; r <= prgmlist_.DataRows(); ++r) {
        ForEachTime(prgmlist_.Cell(kStartCol, r), now / kHourMs, [&](std::uint32_t t, unsigned h) {
            const std::uint32_t ahead = Ahead(now, t);
            if (t == 0 || t == run_.LastFired || ahead == 0 || (best.row && ahead >= bestAhead))
                return;
            const std::uint32_t lead = LeadMs(unsigned(r), h);
            if (ahead > lead || !InWindow(Before(t, lead), from, now)) return;
            best = {unsigned(r), t, t / kHourMs, true};
            bestAhead = ahead;
        });
    }
    return best;
}

// While a fade runs the window of the ticks inside it is not looked at: it
// stays open, and the first tick after the fade reaches back to before it.
// So it does while an item is being started: an entry that came due then
// fades what was started, once it has started.
void TScheduler::Tick() {
    if (fade_.Fading() || playback_.Starting()) return;
    const std::uint32_t now = win::TimeOfDayMs();
    if (now == run_.PreviousTick) return;
    const std::uint32_t tickCount = win::GetTickCount();
    const std::uint32_t from = WindowStart(now, tickCount);
    Due due = DueRow(from, now);
    if (due.row == 0 && punctual_) due = EarlyRow(from, now, tickCount);
    run_.PreviousTick = now;
    previousTickCount_ = tickCount;
    if (due.row == 0) return;
    run_.LastFired = due.time;
    if (player_.Playing()) fade_.FadeOutAndStop();
    if (due.early) WaitForStartMoment(due);
    playback_.PlayProgrammeRow(due.row, due.hour);
}

// What the fade and its pause left of the margin is waited out (a few ms at
// most, nothing when they took longer), so that the start takes its
// expected time up to the entry's.
void TScheduler::WaitForStartMoment(const Due& due) const {
    const std::uint32_t start =
        playback_.ExpectedStartMs(playback_.ProgrammeRowPath(due.row, due.hour));
    const std::uint32_t ahead = Ahead(win::TimeOfDayMs(), Before(due.time, start));
    if (ahead <= kPunctualMarginMs) win::Sleep(ahead);
}

std::optional<std::uint32_t> TScheduler::MsUntilDue() const {
    const std::uint32_t now = win::TimeOfDayMs();
    std::optional<std::uint32_t> soonest;
    const auto consider = [&](std::uint32_t moment) {
        const std::uint32_t ahead = Ahead(now, moment);
        if (ahead <= kDueHorizonMs && (!soonest || ahead < *soonest)) soonest = ahead;
    };
    for (int r = 1; r <= prgmlist_.DataRows(); ++r)
        ForEachTime(prgmlist_.Cell(kStartCol, r), now / kHourMs, [&](std::uint32_t t, unsigned h) {
            if (t == 0 || t == run_.LastFired) return;
            consider(t);
            if (punctual_) consider(Before(t, LeadMs(unsigned(r), h)));
        });
    return soonest;
}

bool TScheduler::ProgrammeItemEnded() {
    const unsigned row = FindCurrentRow(prgmlist_, run_.CurrentProgrammeRow);
    if (prgmlist_.Cell(kStartCol, int(row)).find('!') != std::string::npos) {
        if (host_.SetTimerEnabled) host_.SetTimerEnabled(false);
        win::MessageBox(0, "Terminado!", "KAV", win::MB_OK | win::MB_WAIT);
        if (host_.SetTimerEnabled) host_.SetTimerEnabled(true);
        return true;
    }
    if (prgmlist_.Cell(kStartCol, int(row + 1)).find("...") != std::string::npos) {
        playback_.PlayProgrammeRow(row + 1);
        return true;
    }
    return false;
}

bool TScheduler::StartCountedEntry() {
    const unsigned row = CountedEntryRow(prgmlist_, ++run_.PlaylistEndCount);
    if (row != 0) playback_.PlayProgrammeRow(row);
    return row != 0;
}

// A playlist track that ends inside a fade has still ended by itself: it
// counts for the count rule, though the entry that may make due waits for the
// next end.
void TScheduler::TrackEnded() {
    if (fade_.Fading()) {
        if (!run_.PlayingFromProgramme) ++run_.PlaylistEndCount;
        return;
    }
    const bool dealtWith = run_.PlayingFromProgramme ? ProgrammeItemEnded() : StartCountedEntry();
    if (!dealtWith) playback_.PlayNextPlaylistRow();
}

// What TrackEnded would start, by the same rules.
std::string TScheduler::NextItemPath(unsigned hourAtEnd) {
    if (run_.PlayingFromProgramme) {
        const unsigned row = FindCurrentRow(prgmlist_, run_.CurrentProgrammeRow);
        if (prgmlist_.Cell(kStartCol, int(row)).find('!') != std::string::npos) return {};
        if (prgmlist_.Cell(kStartCol, int(row + 1)).find("...") != std::string::npos)
            return playback_.ProgrammeRowPath(row + 1, hourAtEnd);
    } else if (const unsigned row = CountedEntryRow(prgmlist_, run_.PlaylistEndCount + 1)) {
        return playback_.ProgrammeRowPath(row, hourAtEnd);
    }
    return playback_.NextPlaylistPath();
}

void TScheduler::KeepNextReady() {
    if (fade_.Fading() || playback_.Starting() || !player_.Playing()) return;
    const std::uint32_t length = player_.LengthMs();
    if (length == 0) return;  // a live stream has no end to prepare for
    const std::uint32_t position = player_.PositionMs();
    const std::uint32_t left = position < length ? length - position : 0;
    if (left > kPrepareAheadMs) return;
    const std::string next = NextItemPath((win::TimeOfDayMs() + left) % kDayMs / kHourMs);
    if (next.empty()) return player_.DropPrepared();
    if (player_.PreparedPath() != next) {
        if (next == unpreparable_) return;  // asked once: its turn opens it again
        if (!player_.PrepareNext(next)) {
            unpreparable_ = next;
            return;
        }
    }
    unpreparable_.clear();
    if (left <= kQueueAheadMs) player_.QueuePrepared();
}
