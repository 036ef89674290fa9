#include "Scheduler.h"

#include <algorithm>

#include "Markers.h"
#include "StartRules.h"
#include "platform/win/Clock.h"
#include "platform/win/MessageBox.h"

namespace {
constexpr std::uint32_t kDayMs = 86'400'000;
}  // namespace

TScheduler::TScheduler(RunState& run, const StringGrid& prgmlist, PlayerPort& player,
                       const AutomationHost& host, TPlayback& playback, TFade& fade)
    : run_(run),
      prgmlist_(prgmlist),
      player_(player),
      host_(host),
      playback_(playback),
      fade_(fade) {}

unsigned TScheduler::DueRow(std::uint32_t from, std::uint32_t to, std::uint32_t& time) const {
    for (int r = 1; r <= prgmlist_.DataRows(); ++r) {
        const std::uint32_t t = EntryTime(prgmlist_.Cell(kStartCol, r), win::CurrentHour());
        const bool inWindow = from <= to ? t >= from && t <= to : t >= from || t <= to;
        if (t != 0 && inWindow && t != run_.LastFired) {
            time = t;
            return unsigned(r);
        }
    }
    return 0;
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

// While a fade runs the window of the ticks inside it is not looked at: it
// stays open, and the first tick after the fade reaches back to before it.
void TScheduler::Tick() {
    if (fade_.Fading()) return;
    const std::uint32_t now = win::TimeOfDayMs();
    if (now == run_.PreviousTick) return;
    const std::uint32_t tickCount = win::GetTickCount();
    std::uint32_t time = 0;
    const unsigned row = DueRow(WindowStart(now, tickCount), now, time);
    run_.PreviousTick = now;
    previousTickCount_ = tickCount;
    if (row == 0) return;
    run_.LastFired = time;
    if (player_.Playing()) fade_.FadeOutAndStop();
    playback_.PlayProgrammeRow(row);
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

void TScheduler::TrackEnded() {
    const bool dealtWith = run_.PlayingFromProgramme ? ProgrammeItemEnded() : StartCountedEntry();
    if (!dealtWith) playback_.PlayNextPlaylistRow();
}
