#include "Automation.h"

#include <utility>

#include "Markers.h"
#include "platform/win/Clock.h"

TAutomation::TAutomation(StringGrid& playlist, StringGrid& prgmlist, PlayerPort& player,
                         AutomationHost host)
    : playlist_(playlist),
      run_{.PreviousTick = win::TimeOfDayMs()},
      host_(std::move(host)),
      fade_(run_, player, host_),
      playback_(run_, playlist, prgmlist, player, host_, fade_),
      scheduler_(run_, prgmlist, player, host_, playback_, fade_) {
    playback_.SetDueCheck([this] { scheduler_.Tick(); });
}

unsigned TAutomation::FindPlaylistRow() {
    return FindCurrentRow(playlist_, run_.CurrentPlaylistRow);
}
