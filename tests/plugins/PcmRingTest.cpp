// The emulator's ring alone: arithmetic at every kind of wrap, and bytes
// handed between two threads in order.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "plugins/PcmRing.h"

using kav::PcmRing;

namespace {

constexpr uint32_t S = PcmRing::Size;

std::vector<uint8_t> Counting(uint32_t len, uint8_t first) {
    std::vector<uint8_t> v(len);
    for (uint32_t i = 0; i < len; ++i) v[i] = static_cast<uint8_t>(first + i * 7);
    return v;
}

}  // namespace

TEST(PcmRing, UsedAndFreeFollowTheirFormulas) {
    struct Case {
        uint32_t r, w, used, free;
    };
    const Case cases[] = {{0, 0, 0, S},         {5, 5, 0, S},         {0, 10, 10, S - 10},
                          {10, 0, S - 10, 10},  {S - 1, 0, 1, S - 1}, {1, 0, S - 1, 1},
                          {0, S - 1, S - 1, 1}, {S - 1, S - 1, 0, S}};
    for (const Case& c : cases) {
        SCOPED_TRACE("r=" + std::to_string(c.r) + " w=" + std::to_string(c.w));
        EXPECT_EQ(PcmRing::Used(c.r, c.w), c.used);
        EXPECT_EQ(PcmRing::Free(c.r, c.w), c.free);
    }
}

// A block written at each start position comes back unchanged, whether it
// fits before the end, ends exactly there (write position 0) or wraps.
TEST(PcmRing, BlocksCrossTheEndAtEveryKindOfOffset) {
    const uint32_t starts[] = {0, 1, S / 2, S - 2304, S - 2305, S - 1};
    const uint32_t lengths[] = {1, 2303, 2304, 2305, S - 1};
    auto ring = std::make_unique<PcmRing>();
    for (uint32_t start : starts) {
        for (uint32_t len : lengths) {
            SCOPED_TRACE("start=" + std::to_string(start) + " len=" + std::to_string(len));
            ring->reset(start);
            const auto block = Counting(len, static_cast<uint8_t>(start));
            ASSERT_TRUE(ring->write(block.data(), len));
            EXPECT_EQ(ring->writePos(), (start + len) % S);
            EXPECT_EQ(ring->used(), len);
            std::vector<uint8_t> out(len + 10, 0xEE);
            EXPECT_EQ(ring->read(out.data(), len + 10), len);  // more asked than held
            out.resize(len);
            EXPECT_EQ(out, block);
            EXPECT_EQ(ring->readPos(), ring->writePos());
            EXPECT_EQ(ring->free(), S);
        }
    }
}

// The ring holds at most S - 1 bytes: a block as large as the free space is
// refused whole.
TEST(PcmRing, BlockMustBeSmallerThanTheFreeSpace) {
    auto ring = std::make_unique<PcmRing>();
    const auto all = Counting(S, 0);
    EXPECT_FALSE(ring->write(all.data(), S));
    EXPECT_EQ(ring->used(), 0u);
    EXPECT_TRUE(ring->write(all.data(), S - 1));
    EXPECT_EQ(ring->free(), 1u);
    EXPECT_FALSE(ring->write(all.data(), 1));
    uint8_t one = 0;
    EXPECT_EQ(ring->read(&one, 1), 1u);
    EXPECT_TRUE(ring->write(all.data(), 1));  // 2 free: the byte fits
    EXPECT_EQ(ring->free(), 1u);
}

// Writer and reader on two threads with blocks of changing size: every byte
// arrives once and in order (under ThreadSanitizer this also checks the
// acquire/release hand-over).
TEST(PcmRing, BytesCrossBetweenTwoThreadsInOrder) {
    auto ring = std::make_unique<PcmRing>();
    constexpr uint64_t kTotal = 8'000'000;
    std::thread writer([&] {
        std::mt19937 rng(1);
        std::vector<uint8_t> block(5000);
        uint64_t sent = 0;
        while (sent < kTotal) {
            const uint32_t len =
                static_cast<uint32_t>(std::min<uint64_t>(1 + rng() % 4999, kTotal - sent));
            for (uint32_t i = 0; i < len; ++i) block[i] = static_cast<uint8_t>((sent + i) % 251);
            if (ring->write(block.data(), len))
                sent += len;
            else
                std::this_thread::yield();
        }
    });
    std::mt19937 rng(2);
    std::vector<uint8_t> out(7000);
    uint64_t got = 0;
    bool inOrder = true;
    while (got < kTotal) {
        const uint32_t n = ring->read(out.data(), 1 + rng() % 6999);
        for (uint32_t i = 0; i < n; ++i) inOrder &= out[i] == (got + i) % 251;
        got += n;
        if (n == 0) std::this_thread::yield();
    }
    writer.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(got, kTotal);
}
