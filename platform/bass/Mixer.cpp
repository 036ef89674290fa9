#include "Mixer.h"

#include <algorithm>

#include "MixGate.h"
#include "MixKernels.h"

namespace kavbass {

namespace {

bool audible(DWORD state) {
    return state == BASS_ACTIVE_PLAYING || state == BASS_ACTIVE_STALLED;
}

}  // namespace

// Never destroyed: the output may still mix while the process ends.
Mixer& Mixer::instance() {
    static Mixer* m = new Mixer;
    return *m;
}

bool Mixer::attach(Mixable* c) {
    for (size_t i = 0; i < kSlots; ++i) {
        Mixable* expected = nullptr;
        if (!slots_[i].compare_exchange_strong(expected, c)) continue;
        size_t inUse = inUse_.load();
        while (inUse < i + 1 && !inUse_.compare_exchange_weak(inUse, i + 1)) continue;
        return true;
    }
    return false;
}

void Mixer::detach(Mixable* c) {
    for (auto& s : slots_) {
        Mixable* expected = c;
        s.compare_exchange_strong(expected, nullptr);
    }
    MixGate::instance().quiesce();
    MixGate::instance().playing.raise();  // an output waiting for it mixes the others
}

void Mixer::mix(int16_t* out, size_t frames) {
    MixGate& gate = MixGate::instance();
    gate.enter();
    pass_ = mixPasses_.load(std::memory_order_relaxed);
    while (frames > 0) {
        size_t n = std::min(frames, kBlock);
        mixBlock(out, n);
        out += n * 2;
        frames -= n;
    }
    mixPasses_.fetch_add(1);
    gate.leave();
}

void Mixer::delivered() {
    delivered_.store(mixPasses_.load());
    if (endMixed_.exchange(false)) MixGate::instance().syncs.raise();
}

void Mixer::mixBlock(int16_t* out, size_t frames) {
    std::fill(acc_, acc_ + frames * 2, 0.0f);
    const DWORD devRate = rate();
    const float maxVol = static_cast<float>(std::max<DWORD>(1, maxVolume.load()));
    const float streamGain = std::min(1.0f, static_cast<float>(streamVolume.load()) / maxVol);
    const float musicGain = std::min(1.0f, static_cast<float>(musicVolume.load()) / maxVol);
    bool ended = false;
    BlockStarts starts;
    const size_t inUse = inUse_.load(std::memory_order_acquire);
    for (size_t i = 0; i < inUse; ++i) {
        Mixable* c = slots_[i].load(std::memory_order_acquire);
        if (!c || starts.contains(c) || !mixFrom(c, 0, frames, devRate, streamGain, musicGain))
            continue;
        ended = true;
        startFollowers(c, c->framesBeforeEnd(), frames, devRate, streamGain, musicGain, starts);
    }
    if (ended) endMixed_.store(true);
    mixk::toPcm16(acc_, out, frames * 2);
}

bool Mixer::BlockStarts::contains(const Mixable* c) const {
    return std::find(started, started + count, c) != started + count;
}

bool Mixer::mixFrom(Mixable* c, size_t from, size_t frames, DWORD devRate, float streamGain,
                    float musicGain) {
    if (from >= frames) return false;
    return c->mixInto(acc_ + 2 * from, frames - from, devRate,
                      c->isMusic() ? musicGain : streamGain, pass_);
}

// A follower that itself ends within the block starts its own, as far as the
// block's record of starts reaches.
void Mixer::startFollowers(const Mixable* leader, size_t at, size_t frames, DWORD devRate,
                           float streamGain, float musicGain, BlockStarts& starts) {
    const size_t inUse = inUse_.load(std::memory_order_acquire);
    for (size_t i = 0; i < inUse && starts.count < kMaxStartsPerBlock; ++i) {
        Mixable* f = slots_[i].load(std::memory_order_acquire);
        if (!f || f == leader || !f->startAfter(leader->handle())) continue;
        starts.started[starts.count++] = f;
        if (mixFrom(f, at, frames, devRate, streamGain, musicGain)) {
            endMixed_.store(true);
            startFollowers(f, at + f->framesBeforeEnd(), frames, devRate, streamGain, musicGain,
                           starts);
        }
    }
}

// Inside the gate like a mix pass: a channel being freed waits for it.
bool Mixer::idle() const {
    MixGate& gate = MixGate::instance();
    gate.enter();
    bool idle = true;
    const size_t inUse = inUse_.load(std::memory_order_acquire);
    for (size_t i = 0; i < inUse; ++i) {
        const Mixable* c = slots_[i].load(std::memory_order_acquire);
        if (c && audible(c->active())) {
            idle = false;
            break;
        }
    }
    gate.leave();
    return idle;
}

bool Mixer::readyToMix(size_t frames) {
    MixGate& gate = MixGate::instance();
    gate.enter();
    bool playing = false, fed = true;
    const size_t inUse = inUse_.load(std::memory_order_acquire);
    for (size_t i = 0; i < inUse; ++i) {
        Mixable* c = slots_[i].load(std::memory_order_acquire);
        if (!c || !audible(c->active())) continue;
        playing = true;
        if (!c->fedFor(frames, rate())) {
            fed = false;
            c->hurry();
        }
    }
    gate.leave();
    return playing && fed;
}

}  // namespace kavbass
