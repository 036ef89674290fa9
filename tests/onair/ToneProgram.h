// A program's sound made up for the stream outputs' tests: tones and
// silences one after another, round and round, in real time from the
// moment the program is made. Each output reads it through a source of its
// own (as each reads a tap of its own), from the moment that source opens.
#pragma once

#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/onair/AudioSource.h"
#include "tests/support/ToneRuns.h"

namespace onair_test {

struct Piece {
    int freq = 0;  // Hz; 0: silence
    double seconds = 0;
    std::string artist, title;  // what the program would say plays
};

class ToneProgram {
  public:
    static constexpr int kRate = 44100;
    using Clock = std::chrono::steady_clock;

    explicit ToneProgram(std::vector<Piece> pieces)
        : pieces_(std::move(pieces)), start_(Clock::now()) {
        for (const Piece& p : pieces_) cycle_ += frames(p);
    }

    // The frame due now, counted from the start.
    std::uint64_t FrameNow() const {
        return std::uint64_t(std::chrono::duration<double>(Clock::now() - start_).count() * kRate);
    }
    std::int16_t Sample(std::uint64_t frame) const {
        std::uint64_t at = frame % cycle_;
        for (const Piece& p : pieces_) {
            if (at < frames(p))
                return p.freq ? std::int16_t(std::lround(
                                    16384 * std::sin(2 * M_PI * p.freq * double(at) / kRate)))
                              : 0;
            at -= frames(p);
        }
        return 0;
    }
    // The piece that sounds at frame, and the time its run began.
    const Piece& PieceAt(std::uint64_t frame, std::uint64_t* began = nullptr) const {
        const std::uint64_t within = frame % cycle_;
        std::uint64_t at = 0;
        for (const Piece& p : pieces_) {
            if (within < at + frames(p)) {
                if (began) *began = frame - within + at;
                return p;
            }
            at += frames(p);
        }
        return pieces_.back();
    }
    Clock::time_point TimeOf(std::uint64_t frame) const {
        return start_ + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(double(frame) / kRate));
    }
    // The tones as sent, for comparing with what a listener heard.
    std::vector<nettest::ToneRun> Sent(int cycles) const {
        std::vector<nettest::ToneRun> runs;
        double t = 0;
        for (int c = 0; c < cycles; ++c)
            for (const Piece& p : pieces_) {
                if (p.freq) runs.push_back({p.freq, t, double(frames(p)) / kRate});
                t += double(frames(p)) / kRate;
            }
        return runs;
    }

  private:
    static std::uint64_t frames(const Piece& p) { return std::uint64_t(p.seconds * kRate); }
    std::vector<Piece> pieces_;
    Clock::time_point start_;
    std::uint64_t cycle_ = 0;
};

// An output's view of the program, as a tap is: what sounded since it
// opened, at real-time pace.
class ToneSource : public onair::AudioSource {
  public:
    explicit ToneSource(std::shared_ptr<const ToneProgram> program)
        : program_(std::move(program)), next_(program_->FrameNow()) {}

    std::size_t Read(std::int16_t* out, std::size_t maxFrames) override {
        const std::uint64_t due = program_->FrameNow();
        std::size_t n = 0;
        for (; n < maxFrames && next_ < due; ++n, ++next_)
            out[2 * n] = out[2 * n + 1] = program_->Sample(next_);
        return n;
    }
    int Rate() override { return ToneProgram::kRate; }
    std::uint64_t Lost() override { return 0; }

  private:
    std::shared_ptr<const ToneProgram> program_;
    std::uint64_t next_;
};

}  // namespace onair_test
