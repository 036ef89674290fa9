// A stream whose data comes from the caller's stream procedure, called on the
// channel's worker thread.
#pragma once

#include <cstring>
#include <vector>

#include "Source.h"
#include "bass_types.h"

namespace kavbass {

class UserSource : public Source {
  public:
    UserSource(HSTREAM handle, DWORD chans, bool eightBit, STREAMPROC* proc, void* user)
        : handle_(handle), chans_(chans), eightBit_(eightBit), proc_(proc), user_(user) {}

    bool readsAhead() const override { return false; }

    size_t read(int16_t* out, size_t maxFrames, bool& eof) override {
        const size_t frameBytes = chans_ * (eightBit_ ? 1 : 2);
        // 16-bit data goes straight to out; 8-bit data is widened from a buffer.
        if (!eightBit_) return readInto(reinterpret_cast<uint8_t*>(out), maxFrames, eof);
        bytes_.resize(maxFrames * frameBytes);
        const size_t frames = readInto(bytes_.data(), maxFrames, eof);
        for (size_t i = 0; i < frames * chans_; ++i)
            out[i] = static_cast<int16_t>((static_cast<int>(bytes_[i]) - 128) * 256);
        return frames;
    }

  private:
    // Whole frames into to (room for maxFrames); the bytes of an incomplete
    // frame are kept for the next call, where they come first.
    size_t readInto(uint8_t* to, size_t maxFrames, bool& eof) {
        const size_t frameBytes = chans_ * (eightBit_ ? 1 : 2);
        std::memcpy(to, carry_, carried_);
        const size_t want = maxFrames * frameBytes - carried_;
        const DWORD r = proc_(handle_, to + carried_, static_cast<DWORD>(want), user_);
        if (r == 0xFFFFFFFFu) {  // the procedure failed: the stream ends here
            eof = true;
            carried_ = 0;
            return 0;
        }
        eof = (r & BASS_STREAMPROC_END) != 0;
        const size_t got = carried_ + std::min<size_t>(r & ~BASS_STREAMPROC_END, want);
        const size_t frames = got / frameBytes;
        carried_ = eof ? 0 : got - frames * frameBytes;
        std::memcpy(carry_, to + frames * frameBytes, carried_);
        return frames;
    }

    const HSTREAM handle_;
    const DWORD chans_;
    const bool eightBit_;
    STREAMPROC* const proc_;
    void* const user_;
    std::vector<uint8_t> bytes_;
    uint8_t carry_[16];  // less than a frame of at most 8 channels
    size_t carried_ = 0;
};

}  // namespace kavbass
