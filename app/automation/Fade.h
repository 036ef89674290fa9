// The fade before an interruption: the volume falls from the slider's value
// to silence over the fade time, the engine stops, the volume comes back.
#pragma once

#include <cstdint>

#include "PlayerPort.h"
#include "RunState.h"

class TFade {
  public:
    TFade(const RunState& run, PlayerPort& player, const AutomationHost& host);

    // The pause between the stop and the volume's return.
    static constexpr std::uint32_t kPauseAfterStopMs = 100;

    void FadeOutAndStop();
    bool Fading() const { return fading_; }

  private:
    void FallToSilence(std::uint32_t startVolume, std::uint32_t fadeTime);

    const RunState& run_;
    PlayerPort& player_;
    const AutomationHost& host_;
    bool fading_ = false;
};
