// The output's level meter on its own: what it reports for known blocks, a
// reader that falls a ring behind, and one writer and one reader thread
// (also run under ThreadSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "LevelMeter.h"

using kavbass::LevelMeter;

namespace {

// Interleaved stereo: a sine of the given peak (dBFS) on both sides.
std::vector<int16_t> Sine(double peakDb, size_t frames, double freq = 400) {
    std::vector<int16_t> v(frames * 2);
    const double amp = 32767.0 * std::pow(10.0, peakDb / 20.0);
    for (size_t i = 0; i < frames; ++i)
        v[2 * i] = v[2 * i + 1] = int16_t(std::lround(amp * std::sin(2 * M_PI * freq * i / 44100)));
    return v;
}

TEST(LevelMeterTest, NothingIsMeasuredUntilAReaderHasAsked) {
    LevelMeter meter;
    const auto loud = Sine(-6, 441);
    meter.feed(loud.data(), 441);
    EXPECT_FALSE(meter.armed());
    const LevelMeter::Reading first = meter.read();  // arms
    EXPECT_EQ(first.frames, 0u);
    EXPECT_EQ(first.loudestDb, LevelMeter::kSilentDb);
    EXPECT_TRUE(meter.armed());
    const LevelMeter::Reading none = meter.read();
    EXPECT_EQ(none.frames, 0u) << "nothing fed since";
}

TEST(LevelMeterTest, TheLoudestBlocksRmsAndEveryFrame) {
    const struct {
        const char* what;
        std::vector<double> blockPeaksDb;  // one 441-frame block each; -inf: digital silence
        double expectedDb;                 // the loudest block's RMS
    } cases[] = {
        {"a full-scale sine", {0}, -3.01},  // 4 whole periods in each block
        {"a quiet passage", {-40}, -43.01},
        {"the loudest wins", {-70, -20, -60}, -23.01},
        {"digital silence", {-INFINITY, -INFINITY}, LevelMeter::kSilentDb},
    };
    for (const auto& c : cases) {
        LevelMeter meter;
        meter.read();
        for (double db : c.blockPeaksDb) {
            const auto block = std::isinf(db) ? std::vector<int16_t>(882, 0) : Sine(db, 441);
            meter.feed(block.data(), 441);
        }
        const LevelMeter::Reading r = meter.read();
        EXPECT_NEAR(r.loudestDb, c.expectedDb, 0.05) << c.what;
        EXPECT_EQ(r.frames, 441u * c.blockPeaksDb.size()) << c.what;
    }
}

// A reader a whole ring and more behind gets the newest ring's worth of
// blocks, and every frame in its count.
TEST(LevelMeterTest, AReaderThatFallsBehindLosesOldBlocksButNoFrames) {
    LevelMeter meter;
    meter.read();
    const auto loud = Sine(-10, 441), quiet = Sine(-60, 441);
    meter.feed(loud.data(), 441);  // overwritten by what follows
    for (int i = 0; i < 1000; ++i) meter.feed(quiet.data(), 441);
    const LevelMeter::Reading r = meter.read();
    EXPECT_NEAR(r.loudestDb, -63.01, 0.05);
    EXPECT_EQ(r.frames, 441u * 1001);
}

// The writer feeds quiet blocks with a loud one every 64th; the reader reads
// as it goes. Every loud block is seen, and the frames add up exactly.
TEST(LevelMeterTest, OneWriterAndOneReaderThread) {
    LevelMeter meter;
    meter.read();
    const auto loud = Sine(-10, 64, 689.0625), quiet = Sine(-60, 64, 689.0625);  // one period
    constexpr int kBlocks = 200'000;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < kBlocks; ++i) {
            meter.feed((i % 64 == 63 ? loud : quiet).data(), 64);
            if (i % 1024 == 0) std::this_thread::yield();
        }
        done = true;
    });
    std::uint64_t frames = 0;
    int loudReadings = 0;
    while (!done.load()) {
        const LevelMeter::Reading r = meter.read();
        frames += r.frames;
        if (r.loudestDb > -20) ++loudReadings;
        ASSERT_EQ(r.frames > 0, r.loudestDb > -64) << "frames exactly when measured blocks";
    }
    writer.join();
    frames += meter.read().frames;
    EXPECT_EQ(frames, std::uint64_t(kBlocks) * 64);
    EXPECT_GT(loudReadings, 0);
}

}  // namespace
