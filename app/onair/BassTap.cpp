#include "BassTap.h"

#include <algorithm>
#include <climits>

#include "platform/bassbind/Dynamic_BASS.h"

namespace onair {

std::unique_ptr<BassTap> BassTap::Open(unsigned ms) {
    if (!BASS_Loaded()) return nullptr;
    const HTAP tap = BASS_TapCreate(ms);
    if (!tap) return nullptr;
    std::unique_ptr<BassTap> source(new BassTap(tap, BASS_TapRead, BASS_TapGetInfo, BASS_TapFree));
    source->refresh();
    return source;
}

BassTap::~BassTap() {
    free_(tap_);
}

std::size_t BassTap::Read(std::int16_t* out, std::size_t maxFrames) {
    const DWORD bytes = DWORD(std::min<std::size_t>(maxFrames, INT_MAX / 4) * 4);
    const DWORD got = read_(tap_, out, bytes);
    return got == 0xFFFFFFFFu ? 0 : got / 4;
}

int BassTap::Rate() {
    refresh();
    return int(last_.freq);
}

std::uint64_t BassTap::Lost() {
    refresh();
    return last_.lost;
}

void BassTap::refresh() {
    BASS_TAPINFO info{};
    if (info_(tap_, &info)) last_ = info;
}

}  // namespace onair
