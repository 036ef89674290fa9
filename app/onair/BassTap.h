// What the program's output took, from a tap of the audio library
// (BASS_TapCreate): the sound after the mix, the volume, the compressor and
// the fades, exactly what the device or the null output receives.
//
// Threads: made on any thread while the library is bound; then one reader
// thread (the stream output's) uses it, and destroys it. The entry points are
// kept from the binding at construction: the library stays mapped once
// loaded, so a reader that ends after the program has unbound it still calls
// valid code.
#pragma once

#include <memory>

#include "AudioSource.h"
#include "platform/bass/bass_types.h"

namespace onair {

class BassTap : public AudioSource {
  public:
    // Holding ms milliseconds; nothing when the library is not bound or has
    // no room for another tap.
    static std::unique_ptr<BassTap> Open(unsigned ms);
    ~BassTap() override;

    std::size_t Read(std::int16_t* out, std::size_t maxFrames) override;
    int Rate() override;
    std::uint64_t Lost() override;

  private:
    using ReadFn = DWORD (*)(HTAP, void*, DWORD);
    using InfoFn = BOOL (*)(HTAP, BASS_TAPINFO*);
    using FreeFn = BOOL (*)(HTAP);
    BassTap(HTAP tap, ReadFn read, InfoFn info, FreeFn free)
        : tap_(tap), read_(read), info_(info), free_(free) {}
    void refresh();

    HTAP tap_;
    ReadFn read_;
    InfoFn info_;
    FreeFn free_;
    BASS_TAPINFO last_{44100, 2, 0};
};

}  // namespace onair
