// The output's tap on its own: a consumer's ring across its wrap at every
// offset, whole blocks dropped and counted when a reader falls behind, one
// writer and one reader thread, and consumers attached and detached while
// the output thread delivers (also run under ThreadSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "Tap.h"
#include "TapRing.h"

using kavbass::Tap;
using kavbass::TapConsumer;
using kavbass::TapRing;

namespace {

// Frame i carries i: its low half on the left, its high half on the right.
std::vector<int16_t> Counted(uint64_t first, size_t frames) {
    std::vector<int16_t> v(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        const auto n = uint32_t(first + i);
        v[2 * i] = int16_t(uint16_t(n));
        v[2 * i + 1] = int16_t(uint16_t(n >> 16));
    }
    return v;
}

long FrameOf(const int16_t* frame) {
    return long(uint16_t(frame[0])) | long(uint16_t(frame[1])) << 16;
}

TEST(TapRing, MovesBlocksAcrossTheWrapAtEveryOffset) {
    constexpr size_t kCapacity = 64;
    for (size_t offset = 0; offset <= kCapacity; ++offset) {
        for (size_t block : {1u, 7u, 32u, 64u}) {
            TapRing ring(kCapacity);
            std::vector<int16_t> out(kCapacity * 2);
            // Moves the positions to the offset first.
            const auto lead = Counted(0, offset);
            ring.take(lead.data(), offset);
            ASSERT_EQ(ring.read(out.data(), kCapacity), offset);
            const auto data = Counted(offset, block);
            ring.take(data.data(), block);
            ASSERT_EQ(ring.readable(), block);
            ASSERT_EQ(ring.read(out.data(), kCapacity), block);
            for (size_t i = 0; i < block; ++i)
                ASSERT_EQ(FrameOf(&out[2 * i]), long(offset + i))
                    << "offset " << offset << ", block " << block << ", frame " << i;
            EXPECT_EQ(ring.lost(), 0u);
        }
    }
}

// A reader that has not made room loses the blocks that do not fit, whole,
// and the count says how much; the output never waits.
TEST(TapRing, ABlockThatDoesNotFitIsDroppedWholeAndCounted) {
    const struct {
        const char* what;
        std::vector<size_t> blocks;  // written in turn, nothing read meanwhile
        size_t kept, lost;
    } cases[] = {
        {"fits exactly", {32, 32}, 64, 0},
        {"one frame too many", {32, 33}, 32, 33},
        {"later blocks that fit still go in", {60, 10, 4}, 64, 10},
        {"larger than the ring", {65}, 0, 65},
    };
    for (const auto& c : cases) {
        TapRing ring(64);
        uint64_t at = 0;
        for (size_t n : c.blocks) {
            const auto block = Counted(at, n);
            ring.take(block.data(), n);
            at += n;
        }
        EXPECT_EQ(ring.readable(), c.kept) << c.what;
        EXPECT_EQ(ring.lost(), c.lost) << c.what;
        EXPECT_EQ(ring.room(), 64 - c.kept) << c.what;
    }
}

// The writer writes counted blocks of changing sizes; the reader reads in
// pieces of other sizes. What is read is in order, nothing twice, and the
// frames missing from it are exactly those counted as lost.
TEST(TapRing, OneWriterAndOneReaderThread) {
    TapRing ring(1024);
    constexpr uint64_t kFrames = 2'000'000;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        uint64_t at = 0;
        for (size_t n = 1; at < kFrames; n = n % 300 + 1) {
            const size_t count = size_t(std::min<uint64_t>(n, kFrames - at));
            const auto block = Counted(at, count);
            ring.take(block.data(), count);
            at += count;
            if (n % 64 == 0) std::this_thread::yield();
        }
        done = true;
    });
    std::vector<int16_t> out(1024 * 2);
    uint64_t read = 0, skipped = 0;
    long previous = -1;
    auto drain = [&](size_t piece) {
        const size_t n = ring.read(out.data(), piece);
        for (size_t i = 0; i < n; ++i) {
            const long f = FrameOf(&out[2 * i]);
            ASSERT_GT(f, previous) << "out of order, or twice";
            skipped += uint64_t(f - previous - 1);
            previous = f;
        }
        read += n;
    };
    for (size_t piece = 1; !done.load(); piece = piece % 499 + 1) drain(piece);
    writer.join();
    drain(1024);
    skipped += kFrames - uint64_t(previous + 1);  // lost at the very end
    EXPECT_EQ(read + ring.lost(), kFrames);
    EXPECT_EQ(skipped, ring.lost());
    EXPECT_GT(read, 0u);
}

// A consumer that only counts what it is given.
class Counter : public TapConsumer {
  public:
    void take(const int16_t*, size_t count) override {
        frames_.store(frames_.load(std::memory_order_relaxed) + count, std::memory_order_relaxed);
        touched_ = count;  // plain memory: a race with its destruction would show
    }
    uint64_t frames() const { return frames_.load(std::memory_order_relaxed); }

  private:
    std::atomic<uint64_t> frames_{0};
    size_t touched_ = 0;
};

// While the output thread delivers without a pause, consumers come and go;
// once detach() returns, the consumer is no longer used and may be
// destroyed, and the output never waited for any of them.
TEST(Tap, ConsumersComeAndGoWhileTheOutputDelivers) {
    Tap tap;
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> passes{0};
    std::thread output([&] {
        const auto block = Counted(0, 441);
        while (!stop.load()) {
            tap.deliver(block.data(), 441);
            passes.fetch_add(1, std::memory_order_relaxed);
        }
    });
    for (int round = 0; round < 2000; ++round) {
        auto a = std::make_unique<Counter>();
        auto b = std::make_unique<TapRing>(4096);
        ASSERT_TRUE(tap.attach(a.get(), false));
        ASSERT_TRUE(tap.attach(b.get(), true));
        EXPECT_TRUE(tap.continuous());
        const uint64_t seen = passes.load();
        while (passes.load() < seen + 2) std::this_thread::yield();
        tap.detach(a.get());
        tap.detach(b.get());
        const uint64_t after = a->frames();
        EXPECT_GT(after, 0u) << "delivered while attached";
        std::this_thread::yield();
        EXPECT_EQ(a->frames(), after) << "nothing after detach";
        EXPECT_FALSE(tap.continuous());
    }
    stop = true;
    output.join();
}

TEST(Tap, SlotsRoomAndTheSilenceWanted) {
    Tap tap;
    std::vector<std::unique_ptr<Counter>> consumers;
    for (size_t i = 0; i < Tap::kSlots; ++i) {
        consumers.push_back(std::make_unique<Counter>());
        ASSERT_TRUE(tap.attach(consumers.back().get(), false)) << i;
    }
    Counter extra;
    EXPECT_FALSE(tap.attach(&extra, false)) << "every slot is taken";
    EXPECT_FALSE(tap.continuous());
    tap.detach(consumers[3].get());
    TapRing ring(128);
    ASSERT_EQ(ring.capacity(), 128u);
    ASSERT_TRUE(tap.attach(&ring, true));
    EXPECT_TRUE(tap.continuous());
    // Only consumers that want all the sound hold an unpaced output back.
    EXPECT_TRUE(tap.roomFor(128));
    const auto block = Counted(0, 128);
    tap.deliver(block.data(), 128);
    EXPECT_FALSE(tap.roomFor(1));
    std::vector<int16_t> out(256);
    EXPECT_EQ(ring.read(out.data(), 50), 50u);
    EXPECT_TRUE(tap.roomFor(50));
    EXPECT_FALSE(tap.roomFor(51));
    for (auto& c : consumers) EXPECT_EQ(c.get() == consumers[3].get() ? 0u : 128u, c->frames());
    tap.detach(&ring);
    EXPECT_FALSE(tap.continuous());
}

}  // namespace
