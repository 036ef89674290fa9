// The sample ring on its own: every way a run of samples can wrap around the
// storage, and one writer and one reader thread moving a counted sequence.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "SampleRing.h"

using kavbass::SampleRing;

namespace {

// The samples of pieces, in order.
std::vector<int16_t> flatten(const SampleRing::Pieces& p) {
    std::vector<int16_t> out(p.data[0], p.data[0] + p.size[0]);
    out.insert(out.end(), p.data[1], p.data[1] + p.size[1]);
    return out;
}

std::vector<int16_t> sequence(int16_t from, size_t count) {
    std::vector<int16_t> v(count);
    for (size_t i = 0; i < count; ++i) v[i] = static_cast<int16_t>(from + static_cast<int>(i));
    return v;
}

class RingWrap : public testing::TestWithParam<size_t> {};

// From every start position (the storage is at most twice the capacity),
// runs of every length are written in one piece, read back whole, in two
// parts and sample by sample, and consumed.
TEST_P(RingWrap, EveryOffsetAndLength) {
    const size_t capacity = GetParam();
    for (size_t start = 0; start < 2 * capacity + 1; ++start) {
        for (size_t length = 1; length <= capacity; ++length) {
            SampleRing ring(capacity);
            const std::vector<int16_t> skip(start, 0);
            for (size_t moved = 0; moved < start;) {
                const size_t n = ring.write(skip.data(), start - moved);
                ring.consume(n);
                moved += n;
            }
            ASSERT_EQ(ring.writable(), capacity);
            const auto data = sequence(static_cast<int16_t>(start * 100 + length), length);
            ASSERT_EQ(ring.write(data.data(), length), length) << start << "/" << length;
            ASSERT_EQ(ring.readable(), length);
            ASSERT_EQ(ring.writable(), capacity - length);
            EXPECT_EQ(flatten(ring.peek(0, length)), data) << start << "/" << length;
            const size_t half = length / 2;
            auto tail = flatten(ring.peek(half, length - half));
            EXPECT_EQ(tail, std::vector<int16_t>(data.begin() + half, data.end()));
            for (size_t i = 0; i < length; ++i) ASSERT_EQ(ring.at(i), data[i]);
            ring.consume(length);
            EXPECT_EQ(ring.readable(), 0u);
            EXPECT_EQ(ring.writable(), capacity);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Capacities, RingWrap, testing::Values(1, 5, 8, 13, 64));

// More than fits is cut to what fits; reset empties the ring.
TEST(Ring, WriteStopsAtCapacityAndResetEmpties) {
    SampleRing ring(10);
    const auto data = sequence(1, 25);
    EXPECT_EQ(ring.write(data.data(), 25), 10u);
    EXPECT_EQ(ring.write(data.data(), 25), 0u);
    ring.consume(4);
    EXPECT_EQ(ring.write(data.data() + 10, 25), 4u);
    EXPECT_EQ(flatten(ring.peek(0, 10)), std::vector<int16_t>(data.begin() + 4, data.begin() + 14));
    ring.reset();
    EXPECT_EQ(ring.readable(), 0u);
    EXPECT_EQ(ring.writable(), 10u);
}

// A writer and a reader thread, each in chunks of changing size; the reader
// sees every number once, in order, whether the writer copies its chunks in
// or fills the ring's space in place.
TEST(Ring, ThreadsMoveACountedSequence) {
    for (const bool inPlace : {false, true}) {
        SCOPED_TRACE(inPlace ? "in place" : "copied in");
        constexpr size_t kTotal = 400000;
        SampleRing ring(1000);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        auto late = [&] { return std::chrono::steady_clock::now() > deadline; };
        std::thread writer([&] {
            std::vector<int16_t> chunk(997);
            size_t sent = 0, step = 0;
            while (sent < kTotal && !late()) {
                const size_t want = std::min(kTotal - sent, 1 + (step++ * 37) % chunk.size());
                size_t n = 0;
                if (inPlace) {
                    size_t room = 0;
                    int16_t* to = ring.space(room);
                    n = std::min(want, room);
                    for (size_t i = 0; i < n; ++i) to[i] = static_cast<int16_t>(sent + i);
                    ring.commit(n);
                } else {
                    for (size_t i = 0; i < want; ++i) chunk[i] = static_cast<int16_t>(sent + i);
                    n = ring.write(chunk.data(), want);
                }
                sent += n;
                if (n == 0) std::this_thread::yield();
            }
        });
        size_t received = 0, wrong = 0, step = 0;
        while (received < kTotal && !late()) {
            const size_t n = std::min(ring.readable(), 1 + (step++ * 53) % 1200);
            if (n == 0) {
                std::this_thread::yield();
                continue;
            }
            for (int16_t v : flatten(ring.peek(0, n)))
                wrong += v != static_cast<int16_t>(received++);
            ring.consume(n);
        }
        writer.join();
        EXPECT_EQ(received, kTotal);
        EXPECT_EQ(wrong, 0u);
        EXPECT_EQ(ring.readable(), 0u);
    }
}

}  // namespace
