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
        bytes_.resize(maxFrames * frameBytes + frameBytes);
        // Bytes of an incomplete frame from the last call come first.
        const size_t want = maxFrames * frameBytes - carry_;
        const DWORD r = proc_(handle_, bytes_.data() + carry_, static_cast<DWORD>(want), user_);
        if (r == 0xFFFFFFFFu) {  // the procedure failed: the stream ends here
            eof = true;
            carry_ = 0;
            return 0;
        }
        eof = (r & BASS_STREAMPROC_END) != 0;
        size_t got = carry_ + std::min<size_t>(r & ~BASS_STREAMPROC_END, want);
        const size_t frames = got / frameBytes;
        convert(out, frames * chans_);
        carry_ = eof ? 0 : got - frames * frameBytes;
        if (carry_) std::memmove(bytes_.data(), bytes_.data() + frames * frameBytes, carry_);
        return frames;
    }

  private:
    void convert(int16_t* out, size_t samples) const {
        if (eightBit_) {
            for (size_t i = 0; i < samples; ++i)
                out[i] = static_cast<int16_t>((static_cast<int>(bytes_[i]) - 128) * 256);
        } else {
            std::memcpy(out, bytes_.data(), samples * 2);
        }
    }

    const HSTREAM handle_;
    const DWORD chans_;
    const bool eightBit_;
    STREAMPROC* const proc_;
    void* const user_;
    std::vector<uint8_t> bytes_;
    size_t carry_ = 0;
};

}  // namespace kavbass
