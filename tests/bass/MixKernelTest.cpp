// The mixer's block loops against the plain arithmetic they replace, and the
// history of heard samples: its wrap-around for every channel count and run
// length, and a reader beside a writing thread.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "MixKernels.h"
#include "SampleHistory.h"

using kavbass::SampleHistory;
namespace mixk = kavbass::mixk;

namespace {

std::vector<int16_t> noise(size_t count, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> d(-32768, 32767);
    std::vector<int16_t> v(count);
    for (auto& s : v) s = static_cast<int16_t>(d(gen));
    return v;
}

TEST(MixKernelTest, StereoAddMatchesThePlainLoopAtEveryLength) {
    for (size_t frames = 0; frames < 40; ++frames) {
        const auto s = noise(frames * 2, static_cast<unsigned>(frames));
        std::vector<float> acc(frames * 2, 0.25f), expected = acc;
        mixk::addStereo(acc.data(), s.data(), frames, 0.7f, -1.3f);
        for (size_t i = 0; i < frames; ++i) {
            expected[2 * i] += static_cast<float>(s[2 * i]) * 0.7f;
            expected[2 * i + 1] += static_cast<float>(s[2 * i + 1]) * -1.3f;
        }
        EXPECT_EQ(acc, expected) << frames;
    }
}

TEST(MixKernelTest, RoundingToSixteenBitsClampsAndTiesToEven) {
    std::vector<float> in = {0.5f,     1.5f,     2.5f,     -0.5f, -1.5f,  32766.5f, 32767.4f,
                             40000.0f, -40000.f, -32768.f, 1e30f, -1e30f, 3.49f,    -3.51f,
                             -2.5f,    100.25f,  7.5f,     -7.5f, 0.0f,   -0.0f,    32767.6f};
    const std::vector<int16_t> expected = {0,     2,      2,      0,     -2,     32766, 32767,
                                           32767, -32768, -32768, 32767, -32768, 3,     -4,
                                           -2,    100,    8,      -8,    0,      0,     32767};
    for (size_t offset = 0; offset < 8; ++offset) {  // each value in every lane and the tail
        std::vector<float> shifted(offset, 0.0f);
        shifted.insert(shifted.end(), in.begin(), in.end());
        std::vector<int16_t> out(shifted.size(), 111);
        mixk::toPcm16(shifted.data(), out.data(), shifted.size());
        EXPECT_EQ(std::vector<int16_t>(out.begin() + offset, out.end()), expected) << offset;
        for (size_t i = 0; i < offset; ++i) EXPECT_EQ(out[i], 0);
    }
}

// Frame f, channel c holds f * chans + c (wrapping in 16 bits).
std::vector<int16_t> frames(uint64_t from, size_t count, size_t chans) {
    std::vector<int16_t> v(count * chans);
    for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<int16_t>(from * chans + i);
    return v;
}

TEST(SampleHistoryTest, LatestFramesAcrossTheWrapForEveryChannelCount) {
    for (size_t chans : {1u, 2u, 3u, 6u}) {
        for (size_t run : {1u, 7u, 576u, 4096u}) {
            SCOPED_TRACE(testing::Message() << chans << " channels, runs of " << run);
            SampleHistory h(chans);
            std::vector<int16_t> out(SampleHistory::kFrames * chans);
            EXPECT_FALSE(h.latest(out.data(), 10));
            uint64_t total = 0;
            for (int pass = 0; pass < 9; ++pass) {
                const auto in = frames(total, run, chans);
                // Split as the ring hands samples over: not always on a frame.
                const size_t cut = (pass * 5) % (in.size() + 1);
                h.append(in.data(), cut);
                h.append(in.data() + cut, in.size() - cut);
                h.publish();
                total += run;
                for (size_t want : {size_t{1}, size_t{100}, SampleHistory::kFrames}) {
                    ASSERT_TRUE(h.latest(out.data(), want));
                    const size_t missing = want > total ? want - total : 0;
                    auto expected = std::vector<int16_t>(missing * chans, 0);
                    const auto tail = frames(total - (want - missing), want - missing, chans);
                    expected.insert(expected.end(), tail.begin(), tail.end());
                    ASSERT_EQ(std::vector<int16_t>(out.begin(), out.begin() + want * chans),
                              expected)
                        << want;
                }
            }
        }
    }
}

// A reader beside the writing thread sees every sample in its place: each
// channel's samples keep their channel's residue.
TEST(SampleHistoryTest, ReaderBesideTheWriterSeesSamplesInPlace) {
    constexpr size_t kChans = 3;
    SampleHistory h(kChans);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        uint64_t f = 0;
        for (int pass = 0; pass < 3000; ++pass) {
            const size_t run = 1 + pass % 500;
            std::vector<int16_t> in(run * kChans);
            for (size_t i = 0; i < in.size(); ++i)
                in[i] = static_cast<int16_t>(3 * ((f + i / 3) % 10000) + i % 3);
            h.append(in.data(), in.size());
            h.publish();
            f += run;
        }
        done.store(true);
    });
    std::vector<int16_t> out(1024 * kChans);
    size_t reads = 0;
    while (!done.load() || reads == 0) {
        if (!h.latest(out.data(), 1024)) continue;
        ++reads;
        for (size_t i = 0; i < out.size(); ++i) {
            if (out[i] == 0) continue;
            ASSERT_EQ(out[i] % 3, static_cast<int16_t>(i % 3)) << i;
        }
    }
    writer.join();
}

}  // namespace
