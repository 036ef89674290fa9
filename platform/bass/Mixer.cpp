#include "Mixer.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "Channel.h"

namespace kavbass {

// Never destroyed: the output may still mix while the process ends.
Mixer& Mixer::instance() {
    static Mixer* m = new Mixer;
    return *m;
}

bool Mixer::attach(Channel* c) {
    for (auto& s : slots_) {
        Channel* expected = nullptr;
        if (s.compare_exchange_strong(expected, c)) return true;
    }
    return false;
}

void Mixer::detach(Channel* c) {
    for (auto& s : slots_) {
        Channel* expected = c;
        s.compare_exchange_strong(expected, nullptr);
    }
    quiesce();
}

void Mixer::quiesce() const {
    if (!inMix_.load()) return;
    const uint64_t pass = passes_.load();
    while (inMix_.load() && passes_.load() == pass) std::this_thread::yield();
}

void Mixer::mix(int16_t* out, size_t frames) {
    inMix_.store(true);
    pass_ = mixPasses_.load(std::memory_order_relaxed);
    while (frames > 0) {
        size_t n = std::min(frames, kBlock);
        mixBlock(out, n);
        out += n * 2;
        frames -= n;
    }
    mixPasses_.fetch_add(1);
    passes_.fetch_add(1);
    inMix_.store(false);
}

void Mixer::mixBlock(int16_t* out, size_t frames) {
    std::fill(acc_, acc_ + frames * 2, 0.0f);
    const DWORD devRate = rate();
    const float maxVol = static_cast<float>(std::max<DWORD>(1, maxVolume.load()));
    const float streamGain = std::min(1.0f, static_cast<float>(streamVolume.load()) / maxVol);
    const float musicGain = std::min(1.0f, static_cast<float>(musicVolume.load()) / maxVol);
    for (auto& s : slots_) {
        Channel* c = s.load(std::memory_order_acquire);
        if (c) c->mixInto(acc_, frames, devRate, c->isMusic() ? musicGain : streamGain, pass_);
    }
    for (size_t i = 0; i < frames * 2; ++i) {
        float v = std::nearbyint(acc_[i]);
        out[i] = static_cast<int16_t>(std::clamp(v, -32768.0f, 32767.0f));
    }
}

bool Mixer::readyToMix(size_t frames) {
    inMix_.store(true);
    bool playing = false, fed = true;
    for (auto& s : slots_) {
        Channel* c = s.load(std::memory_order_acquire);
        if (!c) continue;
        DWORD st = c->active();
        if (st == BASS_ACTIVE_PLAYING || st == BASS_ACTIVE_STALLED) {
            playing = true;
            fed = fed && c->fedFor(frames, rate());
        }
    }
    passes_.fetch_add(1);
    inMix_.store(false);
    return playing && fed;
}

}  // namespace kavbass
