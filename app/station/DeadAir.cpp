#include "DeadAir.h"

#include "platform/win/Clock.h"

namespace station {

void DeadAirDetector::restart() {
    quietSince_.reset();
    stillSince_.reset();
    lastCheck_.reset();
}

// The meter is read on every tick, playing or not, so that a reading covers
// only the time since the tick before.
DeadAirVerdict DeadAirDetector::Check(bool playing, std::uint32_t positionMs) {
    OutputLevelSource::Reading reading;
    const bool measured = level_.Read(reading);
    if (!Enabled() || !playing) {
        restart();
        return {};
    }
    const std::uint32_t now = win::GetTickCount();
    const bool heard = measured && reading.frames > 0 && reading.loudestDb >= settings_.silenceDb;
    if (heard) {
        quietSince_.reset();
        skipsInARow_ = 0;
    } else if (!quietSince_) {
        quietSince_ = lastCheck_.value_or(now);  // the reading covers the time since then
    }
    if (!stillSince_ || positionMs != lastPosition_) {
        stillSince_ = now;
        lastPosition_ = positionMs;
    }
    lastCheck_ = now;

    DeadAirVerdict verdict;
    const std::uint32_t silenceMs = std::uint32_t(settings_.silenceSeconds) * 1000u;
    if (quietSince_ && now - *quietSince_ >= silenceMs)
        verdict = {DeadAirKind::Silence, now - *quietSince_};
    else if (now - *stillSince_ >= settings_.stallMs)
        verdict = {DeadAirKind::Stall, now - *stillSince_};
    else
        return verdict;
    restart();
    verdict.reopenOutput = ++skipsInARow_ >= settings_.skipsBeforeReopen;
    if (verdict.reopenOutput) skipsInARow_ = 0;
    return verdict;
}

}  // namespace station
