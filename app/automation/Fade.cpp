#include "Fade.h"

#include <algorithm>

#include "platform/win/Clock.h"
#include "platform/win/Pump.h"

TFade::TFade(const RunState& run, PlayerPort& player, const AutomationHost& host)
    : run_(run), player_(player), host_(host) {}

void TFade::FadeOutAndStop() {
    if (fading_) return;  // the running fade ends with the engine stopped
    struct Running {
        bool& flag;
        explicit Running(bool& f) : flag(f) { flag = true; }
        ~Running() { flag = false; }
    } running(fading_);
    // What was prepared to follow the item does not: whatever the fade is
    // for comes next (and a track started by itself would not be faded).
    player_.DropPrepared();
    if (host_.BeginFade) host_.BeginFade();
    const int slider = host_.VolumeValue ? host_.VolumeValue() : 255;
    const std::uint32_t startVolume = std::uint32_t(std::clamp(slider, 0, 255));
    const bool timed = run_.FadeTime > 0;
    if (timed) FallToSilence(startVolume, std::uint32_t(run_.FadeTime));
    player_.StopPlayback();
    if (timed) win::Sleep(kPauseAfterStopMs);
    player_.SetOutputVolume(startVolume);
    if (host_.EndFade) host_.EndFade();
}

// A straight line from the start volume toward 0 over fadeTime ms, one unit
// at a time, on the program's clock; messages are dispatched meanwhile. The
// wait ends before the end time's volume (0, or a wrapped value once the
// tick counter has run past the end) is set: the stop cuts it.
void TFade::FallToSilence(std::uint32_t startVolume, std::uint32_t fadeTime) {
    const std::uint32_t start = win::GetTickCount();
    std::uint32_t last = 0;
    const auto falling = [&] {
        const std::uint32_t elapsed = win::GetTickCount() - start;
        if (elapsed >= fadeTime) return false;
        const std::uint32_t v =
            std::uint32_t(startVolume - std::uint64_t(startVolume) * elapsed / fadeTime) & 0xFF;
        if (v != last) player_.SetOutputVolume(v);
        last = v;
        return true;
    };
    win::PumpWhile(falling, win::PumpLimit::Within(fadeTime, 1, win::Rest::Clock));
}
