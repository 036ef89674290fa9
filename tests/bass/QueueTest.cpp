// A stream queued after another starts on the mixer at the sample after the
// other's last: the two are heard as one counted sequence, without a silent
// frame between them. Stopping either side, or freeing the queued stream,
// keeps it from starting.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

#include "Fixtures.h"
#include "Session.h"
#include "tests/support/Capture.h"
#include "tests/support/Pcm.h"

using namespace bass_test;
using namespace std::chrono_literals;

namespace {

// A 16-bit stereo WAV of frames [first, first + count) of the counted sequence.
std::string countedWav(const std::string& name, size_t first, size_t count) {
    const std::string path = workDir() + "/" + name;
    writeCountedWav(path, first, count);
    return path;
}

Capture loadCapture(Session& s) {
    s.close();
    Capture c;
    EXPECT_TRUE(c.load(s.capturePath()));
    return c;
}

}  // namespace

// Lengths that end the first stream at every place of an output period, and
// a second stream shorter than a period.
TEST(QueueTest, AQueuedStreamFollowsTheLastSampleOfTheOneBeforeIt) {
    const struct {
        size_t first, second;
    } cases[] = {{22050, 22050}, {22051, 441}, {441 * 30, 17}, {30000, 12345}};
    for (const auto& c : cases) {
        const std::string tag = std::to_string(c.first) + "-" + std::to_string(c.second);
        Session s("queue-" + tag);
        ASSERT_TRUE(s.ok());
        const std::string a = countedWav("qa-" + tag + ".wav", 0, c.first);
        const std::string b = countedWav("qb-" + tag + ".wav", c.first, c.second);
        const DWORD ha = BASS_StreamCreateFile(FALSE, a.c_str(), 0, 0, 0);
        const DWORD hb = BASS_StreamCreateFile(FALSE, b.c_str(), 0, 0, 0);
        ASSERT_NE(ha, 0u);
        ASSERT_NE(hb, 0u);
        SyncCounter endA, endB;
        ASSERT_NE(BASS_ChannelSetSync(ha, BASS_SYNC_END, 0, SyncCounter::proc, &endA), 0u);
        ASSERT_NE(BASS_ChannelSetSync(hb, BASS_SYNC_END, 0, SyncCounter::proc, &endB), 0u);
        EXPECT_FALSE(BASS_StreamPlayAfter(hb, ha)) << "queued after a stream that does not play";
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOPLAY);
        ASSERT_TRUE(BASS_StreamPlay(ha, FALSE, 0));
        ASSERT_TRUE(BASS_StreamPlayAfter(hb, ha)) << BASS_ErrorGetCode();
        EXPECT_EQ(BASS_ChannelIsActive(hb), BASS_ACTIVE_STOPPED) << "started before its turn";
        ASSERT_TRUE(waitFor([&] { return endB.calls.load() > 0; }, 5s)) << tag;
        EXPECT_EQ(endA.calls.load(), 1) << tag;
        EXPECT_EQ(BASS_ChannelGetPosition(hb), c.second * 4) << tag;
        BASS_StreamFree(ha);
        BASS_StreamFree(hb);
        EXPECT_EQ(checkOneRun(loadCapture(s), c.first + c.second), "") << tag;
    }
}

// Encoded tones join as tightly: an Ogg Vorbis stream ends at the sample its
// last granule gives (the decoder may hand out more), and the next starts on
// the sample after it. Nothing between them is digital silence.
TEST(QueueTest, EncodedTonesJoinWithoutASilentSample) {
    for (const char* ext : {"ogg", "wma"}) {
        SCOPED_TRACE(ext);
        Session s(std::string("queue-encoded-") + ext);
        ASSERT_TRUE(s.ok());
        // 1.5 s of 400 Hz ends on a whole number of periods; FFmpeg decodes
        // the Vorbis file past it.
        const std::string a = encode(makeToneWav("qe-a.wav", 1.5, 400), ext);
        const std::string b = encode(makeToneWav("qe-b.wav", 1.0, 600), ext);
        const bool wma = std::string(ext) == "wma";
        const auto open = [&](const std::string& f) {
            return wma ? BASS_WMA_StreamCreateFile(FALSE, f.c_str(), 0, 0, 0)
                       : BASS_StreamCreateFile(FALSE, f.c_str(), 0, 0, 0);
        };
        const DWORD ha = open(a);
        const DWORD hb = open(b);
        ASSERT_NE(ha, 0u);
        ASSERT_NE(hb, 0u);
        SyncCounter endB;
        ASSERT_NE(BASS_ChannelSetSync(hb, BASS_SYNC_END, 0, SyncCounter::proc, &endB), 0u);
        ASSERT_TRUE(BASS_StreamPlay(ha, FALSE, 0));
        ASSERT_TRUE(BASS_StreamPlayAfter(hb, ha));
        ASSERT_TRUE(waitFor([&] { return endB.calls.load() > 0; }, 5s));
        if (!wma) {
            EXPECT_EQ(BASS_ChannelGetPosition(ha), 66150u * 4);
        }
        const QWORD heardA = BASS_ChannelGetPosition(ha) / 4;
        BASS_StreamFree(ha);
        BASS_StreamFree(hb);
        const Capture heard = loadCapture(s);
        size_t first = 0, last = heard.frames();
        while (first < last && heard.left[first] == 0 && heard.right[first] == 0) ++first;
        while (last > first && heard.left[last - 1] == 0 && heard.right[last - 1] == 0) --last;
        // Digital silence inside, but for a lone zero where the wave crosses it.
        size_t silent = 0;
        for (size_t i = first + 1; i + 1 < last; ++i) {
            if (heard.left[i] != 0 || heard.right[i] != 0) continue;
            const bool crossing = (heard.left[i - 1] < 0) != (heard.left[i + 1] < 0);
            if (!crossing || heard.left[i + 1] == 0) ++silent;
        }
        EXPECT_EQ(silent, 0u) << "around frame " << first + heardA;
    }
}

// Whatever cancels the queue, only the first stream is heard.
TEST(QueueTest, StoppingEitherStreamOrFreeingTheQueuedOneKeepsItFromStarting) {
    const char* ways[] = {"stop queued", "free queued", "stop first", "play queued"};
    for (const std::string way : ways) {
        Session s("queue-cancel-" + way);
        ASSERT_TRUE(s.ok());
        const size_t first = 13230;  // 0.3 s
        const std::string a = countedWav("qc-a.wav", 0, first);
        const std::string b = countedWav("qc-b.wav", first, 4410);
        const DWORD ha = BASS_StreamCreateFile(FALSE, a.c_str(), 0, 0, 0);
        const DWORD hb = BASS_StreamCreateFile(FALSE, b.c_str(), 0, 0, 0);
        ASSERT_TRUE(BASS_StreamPlay(ha, FALSE, 0));
        ASSERT_TRUE(BASS_StreamPlayAfter(hb, ha));
        if (way == "stop queued") BASS_ChannelStop(hb);
        if (way == "free queued") BASS_StreamFree(hb);
        if (way == "stop first") BASS_ChannelStop(ha);
        if (way == "play queued") {
            // Played at once instead: both sound together, so it did not
            // wait for its turn; then it is stopped before the first ends.
            ASSERT_TRUE(BASS_StreamPlay(hb, FALSE, 0));
            EXPECT_EQ(BASS_ChannelIsActive(hb), BASS_ACTIVE_PLAYING);
            BASS_ChannelStop(hb);
        }
        std::this_thread::sleep_for(500ms);
        const QWORD heardB = BASS_ChannelGetPosition(hb);
        if (way != "free queued" && way != "play queued") {
            EXPECT_EQ(heardB, 0u) << way;
        }
        EXPECT_NE(BASS_ChannelIsActive(hb), BASS_ACTIVE_PLAYING) << way;
        BASS_StreamFree(ha);
        BASS_StreamFree(hb);
        const Capture heard = loadCapture(s);
        if (way == "stop first" || way == "play queued") continue;  // not heard whole, or mixed
        EXPECT_EQ(checkOneRun(heard, first), "") << way;
    }
}

// A user stream's frames of the counted sequence, from `first`, `count` of
// them, then its end.
struct CountedProc {
    size_t next, end;
    static DWORD proc(HSTREAM, void* buffer, DWORD length, void* user) {
        auto& self = *static_cast<CountedProc*>(user);
        auto* out = static_cast<int16_t*>(buffer);
        const size_t frames = std::min<size_t>(length / 4, self.end - self.next);
        for (size_t i = 0; i < frames; ++i, ++self.next) {
            out[2 * i] = countedSample(self.next);
            out[2 * i + 1] = static_cast<int16_t>(-countedSample(self.next));
        }
        const DWORD bytes = static_cast<DWORD>(frames * 4);
        return self.next == self.end ? (bytes | BASS_STREAMPROC_END) : bytes;
    }
};

// A user stream is queued as a file stream is, after a file stream or after
// another user stream, and follows the last sample of the one before it
// (its procedure is asked for data from the moment it is queued). One that
// has played to its end, a stream after itself or after no stream is refused.
TEST(QueueTest, AUserStreamQueuedAfterAnotherFollowsItsLastSample) {
    Session s("queue-user");
    ASSERT_TRUE(s.ok());
    const size_t kA = 441 * 20 + 7, kB = 30000, kC = 12345;
    const std::string a = countedWav("qu-a.wav", 0, kA);
    const DWORD ha = BASS_StreamCreateFile(FALSE, a.c_str(), 0, 0, 0);
    ASSERT_NE(ha, 0u);
    CountedProc b{kA, kA + kB}, c{kA + kB, kA + kB + kC};
    const DWORD hb = BASS_StreamCreate(44100, 2, 0, CountedProc::proc, &b);
    const DWORD hc = BASS_StreamCreate(44100, 2, 0, CountedProc::proc, &c);
    ASSERT_NE(hb, 0u);
    ASSERT_NE(hc, 0u);
    SyncCounter endC;
    ASSERT_NE(BASS_ChannelSetSync(hc, BASS_SYNC_END, 0, SyncCounter::proc, &endC), 0u);
    ASSERT_TRUE(BASS_StreamPlay(ha, FALSE, 0));
    ASSERT_TRUE(BASS_StreamPlayAfter(hb, ha)) << BASS_ErrorGetCode();
    EXPECT_EQ(BASS_ChannelIsActive(hb), BASS_ACTIVE_STOPPED) << "started before its turn";
    ASSERT_TRUE(waitFor([&] { return BASS_ChannelIsActive(hb) == BASS_ACTIVE_PLAYING; }, 5s));
    ASSERT_TRUE(BASS_StreamPlayAfter(hc, hb)) << BASS_ErrorGetCode();
    ASSERT_TRUE(waitFor([&] { return endC.calls.load() > 0; }, 5s));
    EXPECT_FALSE(BASS_StreamPlayAfter(ha, ha));
    EXPECT_FALSE(BASS_StreamPlayAfter(ha, 12345));
    ASSERT_TRUE(BASS_ChannelSetAttributes(ha, -1, 0, -1));  // heard as silence
    ASSERT_TRUE(BASS_StreamPlay(ha, TRUE, 0));
    EXPECT_FALSE(BASS_StreamPlayAfter(hb, ha)) << "a user stream that has ended";
    BASS_ChannelStop(ha);
    BASS_StreamFree(hc);
    BASS_StreamFree(hb);
    BASS_StreamFree(ha);
    EXPECT_EQ(checkOneRun(loadCapture(s), kA + kB + kC), "");
}
