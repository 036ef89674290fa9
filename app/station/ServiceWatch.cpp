#include "ServiceWatch.h"

#include <algorithm>

#include "platform/win/Clock.h"

namespace station {

bool ServiceWatch::KeepAliveDue(bool playing, std::uint32_t positionMs) {
    if (periodMs_ == 0) return false;
    const std::uint32_t now = win::GetTickCount();
    if (!playing) {
        moved_ = true;
        lastPosition_.reset();
    } else {
        if (lastPosition_ && *lastPosition_ != positionMs) moved_ = true;
        lastPosition_ = positionMs;
    }
    if (lastSent_ && now - *lastSent_ < periodMs_) return false;
    if (!moved_) return false;
    lastSent_ = now;
    moved_ = !playing;  // while playing, the next one waits for the position to move
    return true;
}

std::uint32_t KeepAlivePeriodMs(std::uint64_t watchdogUsec) {
    if (watchdogUsec == 0) return 0;
    return std::uint32_t(std::clamp<std::uint64_t>(watchdogUsec / 2000, 1, 0xFFFFFFFFu));
}

}  // namespace station
