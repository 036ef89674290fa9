// Plays real fixtures through the bound library to the null output and checks
// the captured sound.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <thread>

#include "Fixtures.h"
#include "Session.h"
#include "tests/support/Capture.h"

using namespace bass_test;
using namespace std::chrono_literals;

namespace {

constexpr int kLoud = 1000;   // sample level that counts as sound
constexpr size_t kGap = 441;  // 10 ms of silence separates two sounds
constexpr double kRate = 44100;

// Plays h to its end; returns the end sync's counter.
void playToEnd(DWORD h, SyncCounter& end, std::chrono::milliseconds timeout = 5000ms) {
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, SyncCounter::proc, &end), 0u);
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    ASSERT_TRUE(waitFor([&] { return end.calls.load() > 0; }, timeout));
}

Capture loadCapture(Session& s) {
    s.close();
    Capture c;
    EXPECT_TRUE(c.load(s.capturePath()));
    return c;
}

struct FormatCase {
    const char* ext;
    DWORD ctype;
};

class FormatPlayback : public ::testing::TestWithParam<FormatCase> {};

}  // namespace

// Each file format plays its own tone for its own length, and the end sync
// comes once, only after the capture holds the last sample.
TEST_P(FormatPlayback, PlaysToneForItsLengthThenSyncsOnce) {
    const FormatCase fc = GetParam();
    const std::string wav = makeToneWav(std::string("fmt-") + fc.ext + ".wav", 0.8, 1000);
    const std::string file = std::string(fc.ext) == "wav" ? wav : encode(wav, fc.ext);
    ASSERT_FALSE(file.empty());
    Session s(std::string("format-") + fc.ext);
    ASSERT_TRUE(s.ok());
    DWORD h = BASS_StreamCreateFile(FALSE, file.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    BASS_CHANNELINFO info{};
    ASSERT_TRUE(BASS_ChannelGetInfo(h, &info));
    EXPECT_EQ(info.freq, 44100u);
    EXPECT_EQ(info.chans, 2u);
    EXPECT_EQ(info.flags & BASS_SAMPLE_8BITS, 0u);
    EXPECT_EQ(info.ctype, fc.ctype);
    EXPECT_NEAR(BASS_ChannelBytes2Seconds(h, BASS_StreamGetLength(h)), 0.8, 0.05);

    SyncCounter end;
    end.capturePath = s.capturePath();
    playToEnd(h, end);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(end.calls.load(), 1);
    EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
    EXPECT_NEAR(positionSeconds(h), 0.8, 0.05);
    EXPECT_TRUE(BASS_StreamFree(h));

    Capture c = loadCapture(s);
    auto segs = segments(c.left, kLoud, kGap);
    ASSERT_EQ(segs.size(), 1u);
    EXPECT_NEAR(c.seconds(segs[0].length()), 0.8, 0.05);
    EXPECT_NEAR(toneFrequency(c.left, segs[0].begin, segs[0].end, c.rate), 1000, 5);
    EXPECT_NEAR(toneFrequency(c.right, segs[0].begin, segs[0].end, c.rate), 1000, 5);
    EXPECT_GE(end.captureBytesAtFirst.load() / 4, static_cast<long long>(segs[0].end));
}

INSTANTIATE_TEST_SUITE_P(Files, FormatPlayback,
                         ::testing::Values(FormatCase{"wav", BASS_CTYPE_STREAM_WAV},
                                           FormatCase{"mp3", BASS_CTYPE_STREAM_MP3},
                                           FormatCase{"mp2", BASS_CTYPE_STREAM_MP2},
                                           FormatCase{"ogg", BASS_CTYPE_STREAM_OGG}),
                         [](const auto& info) { return std::string(info.param.ext); });

// A mono file at another rate keeps its own format and is resampled on output.
TEST(Playback, MonoFileAtOtherRateIsResampled) {
    const std::string wav = makeToneWav("mono22.wav", 0.6, 500, 0, 1, 22050);
    Session s("mono22");
    ASSERT_TRUE(s.ok());
    DWORD h = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u);
    BASS_CHANNELINFO info{};
    ASSERT_TRUE(BASS_ChannelGetInfo(h, &info));
    EXPECT_EQ(info.freq, 22050u);
    EXPECT_EQ(info.chans, 1u);
    EXPECT_EQ(BASS_StreamGetLength(h), 0.6 * 22050 * 2);
    SyncCounter end;
    playToEnd(h, end);
    Capture c = loadCapture(s);
    auto segs = segments(c.left, kLoud, kGap);
    ASSERT_EQ(segs.size(), 1u);
    EXPECT_NEAR(c.seconds(segs[0].length()), 0.6, 0.03);
    EXPECT_NEAR(toneFrequency(c.left, segs[0].begin, segs[0].end, c.rate), 500, 3);
    EXPECT_NEAR(toneFrequency(c.right, segs[0].begin, segs[0].end, c.rate), 500, 3);
}

// Volume 128 of 255 halves the amplitude, and a change during play shows in
// the capture within 20 ms of the position it was made at.
TEST(Playback, StreamVolumeActsAtOnceAndScales) {
    const std::string wav = makeToneWav("vol.wav", 1.2, 440);
    Session s("volume");
    ASSERT_TRUE(s.ok());
    DWORD h = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u);
    SyncCounter end;
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, SyncCounter::proc, &end), 0u);
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    ASSERT_TRUE(waitFor([&] { return positionSeconds(h) >= 0.5; }, 3000ms));
    const double before0 = positionSeconds(h);
    BASS_SetConfig(BASS_CONFIG_GVOL_STREAM, 128);
    const double after0 = positionSeconds(h);
    EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_GVOL_STREAM), 128u);
    ASSERT_TRUE(waitFor([&] { return end.calls.load() > 0; }, 3000ms));

    Capture c = loadCapture(s);
    auto segs = segments(c.left, 500, kGap);
    ASSERT_EQ(segs.size(), 1u);
    const size_t onset = segs[0].begin;
    // The first 5 ms window whose level has fallen marks the change.
    const size_t win = 220;
    const double before = rms(c.left, onset + 2205, onset + 13230);
    size_t change = 0;
    for (size_t at = onset + 2205; at + win < segs[0].end; at += win / 4) {
        if (rms(c.left, at, at + win) < 0.75 * before) {
            change = at;
            break;
        }
    }
    ASSERT_GT(change, 0u);
    // The change was made between the two readings of the position.
    EXPECT_GE(c.seconds(change - onset), before0 - 0.006);
    EXPECT_LE(c.seconds(change - onset), after0 + 0.02);
    const double after = rms(c.left, change + 2 * win, segs[0].end - win);
    EXPECT_NEAR(after / before, 128.0 / 255.0, 0.02);
}

// Two channels play at once and are mixed; each keeps its own position.
TEST(Playback, TwoChannelsMix) {
    const std::string a = makeToneWav("mix-a.wav", 0.8, 440, 0, 2, 44100, 0.25);
    const std::string b = encode(makeToneWav("mix-b.wav", 0.8, 1500, 0, 2, 44100, 0.25), "ogg");
    Session s("mix");
    ASSERT_TRUE(s.ok());
    DWORD ha = BASS_StreamCreateFile(FALSE, a.c_str(), 0, 0, 0);
    DWORD hb = BASS_StreamCreateFile(FALSE, b.c_str(), 0, 0, 0);
    ASSERT_NE(ha, 0u);
    ASSERT_NE(hb, 0u);
    ASSERT_NE(ha, hb);
    SyncCounter endA, endB;
    BASS_ChannelSetSync(ha, BASS_SYNC_END, 0, SyncCounter::proc, &endA);
    BASS_ChannelSetSync(hb, BASS_SYNC_END, 0, SyncCounter::proc, &endB);
    ASSERT_TRUE(BASS_StreamPlay(ha, FALSE, 0));
    ASSERT_TRUE(BASS_StreamPlay(hb, FALSE, 0));
    ASSERT_TRUE(waitFor([&] { return endA.calls && endB.calls; }, 4000ms));
    EXPECT_EQ(endA.calls.load(), 1);
    EXPECT_EQ(endB.calls.load(), 1);

    Capture c = loadCapture(s);
    auto segs = segments(c.left, kLoud, kGap);
    ASSERT_FALSE(segs.empty());
    const size_t mid = segs[0].begin + 4410, stop = mid + 8820;
    const double full = 0.25 * 32767;
    EXPECT_NEAR(toneLevel(c.left, mid, stop, c.rate, 440), full, 0.1 * full);
    EXPECT_NEAR(toneLevel(c.left, mid, stop, c.rate, 1500), full, 0.1 * full);
    EXPECT_LT(toneLevel(c.left, mid, stop, c.rate, 900), 0.05 * full);
}

// Pause holds the position and makes a silence; resume goes on where it was.
TEST(Playback, PauseAndResume) {
    const std::string wav = makeToneWav("pause.wav", 1.0, 700);
    Session s("pause");
    ASSERT_TRUE(s.ok());
    DWORD h = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u);
    EXPECT_FALSE(BASS_ChannelPause(h));  // not playing yet
    SyncCounter end;
    BASS_ChannelSetSync(h, BASS_SYNC_END, 0, SyncCounter::proc, &end);
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_PLAYING);
    ASSERT_TRUE(waitFor([&] { return positionSeconds(h) >= 0.3; }, 3000ms));
    ASSERT_TRUE(BASS_ChannelPause(h));
    const QWORD held = BASS_ChannelGetPosition(h);
    EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_PAUSED);
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(BASS_ChannelGetPosition(h), held);
    EXPECT_EQ(end.calls.load(), 0);
    ASSERT_TRUE(BASS_ChannelResume(h));
    EXPECT_FALSE(BASS_ChannelResume(h));  // already playing
    ASSERT_TRUE(waitFor([&] { return end.calls.load() > 0; }, 3000ms));
    const double heldSeconds = BASS_ChannelBytes2Seconds(h, held);

    Capture c = loadCapture(s);
    auto segs = segments(c.left, kLoud, kGap);
    ASSERT_EQ(segs.size(), 2u);
    EXPECT_NEAR(c.seconds(segs[0].length() + segs[1].length()), 1.0, 0.03);
    // The gap follows the pause; on a busy machine the output may lag behind the clock.
    EXPECT_GE(c.seconds(segs[1].begin - segs[0].end), 0.25);
    EXPECT_NEAR(c.seconds(segs[0].length()), heldSeconds, 0.02);
}

// A seek lands where it was asked: before playing on a WAV file, and during
// play on an MP3 file (1 s at 440 Hz, then 1 s at 880 Hz).
TEST(Playback, SeekLandsWhereAsked) {
    const std::string wav = makeTwoTones("two.wav", 440, 880);
    const std::string mp3 = encode(wav, "mp3");
    Session s("seek");
    ASSERT_TRUE(s.ok());
    DWORD h = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(BASS_ChannelSetPosition(h, BASS_ChannelSeconds2Bytes(h, 0.9f)));
    EXPECT_NEAR(positionSeconds(h), 0.9, 1e-4);
    EXPECT_FALSE(BASS_ChannelSetPosition(h, BASS_StreamGetLength(h) + 4));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_POSITION);
    SyncCounter end;
    playToEnd(h, end);
    EXPECT_NEAR(positionSeconds(h), 2.0, 0.02);
    // The WAV's end is told in the block of its last frame: a start made at
    // once would join it in the capture, so the two are kept apart.
    std::this_thread::sleep_for(200ms);

    DWORD m = BASS_StreamCreateFile(FALSE, mp3.c_str(), 0, 0, 0);
    ASSERT_NE(m, 0u);
    SyncCounter endM;
    BASS_ChannelSetSync(m, BASS_SYNC_END, 0, SyncCounter::proc, &endM);
    ASSERT_TRUE(BASS_StreamPlay(m, FALSE, 0));
    ASSERT_TRUE(waitFor([&] { return positionSeconds(m) >= 0.3; }, 3000ms));
    ASSERT_TRUE(BASS_ChannelSetPosition(m, BASS_ChannelSeconds2Bytes(m, 1.5f)));
    EXPECT_NEAR(positionSeconds(m), 1.5, 0.02);
    ASSERT_TRUE(waitFor([&] { return endM.calls.load() > 0; }, 3000ms));

    Capture c = loadCapture(s);
    auto segs = segments(c.left, kLoud, kGap);
    ASSERT_GE(segs.size(), 2u);
    // WAV: 100 ms of 440 Hz, then 1 s of 880 Hz.
    const Segment w = segs[0];
    EXPECT_NEAR(c.seconds(w.length()), 1.1, 0.02);
    EXPECT_NEAR(toneFrequency(c.left, w.begin, w.begin + 3528, c.rate), 440, 10);
    EXPECT_NEAR(toneFrequency(c.left, w.begin + 5292, w.end, c.rate), 880, 5);
    // MP3: whatever played before the seek, its last 0.5 s is 880 Hz and ends on time.
    const Segment last = segs.back();
    EXPECT_NEAR(toneFrequency(c.left, last.end - 19845, last.end, c.rate), 880, 5);
    EXPECT_GT(toneLevel(c.left, last.end - 22050, last.end - 19845, c.rate, 880),
              toneLevel(c.left, last.end - 22050, last.end - 19845, c.rate, 440));
}

namespace {

// A stream procedure producing a sine tone of a fixed number of frames.
struct ToneProc {
    double freq;
    size_t totalFrames;
    DWORD chans;
    bool eightBit;
    size_t done = 0;
    std::atomic<int> calls{0};

    static DWORD proc(HSTREAM, void* buffer, DWORD length, void* user) {
        auto* t = static_cast<ToneProc*>(user);
        t->calls.fetch_add(1);
        const size_t frameBytes = t->chans * (t->eightBit ? 1 : 2);
        size_t frames = std::min<size_t>(length / frameBytes, t->totalFrames - t->done);
        for (size_t i = 0; i < frames; ++i) {
            const double v = 0.5 * std::sin(2 * M_PI * t->freq * double(t->done + i) / kRate);
            for (DWORD c = 0; c < t->chans; ++c) {
                if (t->eightBit) {
                    static_cast<uint8_t*>(buffer)[i * t->chans + c] =
                        static_cast<uint8_t>(128 + std::lround(v * 127));
                } else {
                    static_cast<int16_t*>(buffer)[i * t->chans + c] =
                        static_cast<int16_t>(std::lround(v * 32767));
                }
            }
        }
        t->done += frames;
        const DWORD bytes = static_cast<DWORD>(frames * frameBytes);
        return t->done >= t->totalFrames ? bytes | BASS_STREAMPROC_END : bytes;
    }
};

}  // namespace

// A user stream is pulled only while it plays, ends after its last bytes are
// heard when its procedure says so, and honours the 8-bit flag and pan.
TEST(Playback, UserStreamEndsAfterItsLastBytes) {
    Session s("userstream");
    ASSERT_TRUE(s.ok());
    ToneProc tone{600, 22050 + 123, 2, false};
    DWORD h = BASS_StreamCreate(44100, 2, 0, ToneProc::proc, &tone);
    ASSERT_NE(h, 0u);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(tone.calls.load(), 0);  // nothing is pulled before play
    SyncCounter end;
    end.capturePath = s.capturePath();
    playToEnd(h, end);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(end.calls.load(), 1);
    EXPECT_EQ(BASS_ChannelGetPosition(h), (22050u + 123u) * 4);
    BASS_StreamFree(h);

    ToneProc mono{300, 11025, 1, true};
    DWORD m = BASS_StreamCreate(44100, 1, BASS_SAMPLE_8BITS, ToneProc::proc, &mono);
    ASSERT_NE(m, 0u);
    BASS_CHANNELINFO info{};
    ASSERT_TRUE(BASS_ChannelGetInfo(m, &info));
    EXPECT_EQ(info.flags & BASS_SAMPLE_8BITS, BASS_SAMPLE_8BITS);
    ASSERT_TRUE(BASS_ChannelSetAttributes(m, -1, -1, -100));
    SyncCounter endM;
    playToEnd(m, endM);
    EXPECT_EQ(BASS_ChannelGetPosition(m), 11025u);  // 8-bit mono: one byte a frame

    Capture c = loadCapture(s);
    auto segs = segments(c.left, kLoud, kGap);
    ASSERT_EQ(segs.size(), 2u);
    EXPECT_NEAR(double(segs[0].length()), 22050 + 123, 30);
    EXPECT_NEAR(toneFrequency(c.left, segs[0].begin, segs[0].end, c.rate), 600, 3);
    EXPECT_GE(end.captureBytesAtFirst.load() / 4, static_cast<long long>(segs[0].end));
    EXPECT_NEAR(c.seconds(segs[1].length()), 0.25, 0.01);
    EXPECT_NEAR(toneFrequency(c.left, segs[1].begin, segs[1].end, c.rate), 300, 3);
    EXPECT_LT(rms(c.right, segs[1].begin, segs[1].end), 1.0);  // panned hard left
}

// BASS_ChannelGetData: spectra of what is heard (mixed and per channel) and
// raw samples; nothing before anything has been heard.
TEST(Playback, ChannelDataGivesSpectraAndSamples) {
    const std::string wav = makeToneWav("data.wav", 1.5, 689.0625, 2756.25);
    Session s("data");
    ASSERT_TRUE(s.ok());
    DWORD h = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u);
    std::vector<float> fft(2048);
    EXPECT_EQ(BASS_ChannelGetData(h, fft.data(), BASS_DATA_FFT512), 0xFFFFFFFFu);
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    ASSERT_TRUE(waitFor([&] { return positionSeconds(h) >= 0.3; }, 3000ms));

    // 512 points: bin width 86.13 Hz, so the tones fall on bins 8 and 32.
    ASSERT_NE(BASS_ChannelGetData(h, fft.data(), BASS_DATA_FFT512), 0xFFFFFFFFu);
    const auto peakOf = [](const float* v, size_t n, size_t stride, size_t offset) {
        size_t best = 1;
        for (size_t k = 1; k < n; ++k)
            if (v[k * stride + offset] > v[best * stride + offset]) best = k;
        return best;
    };
    EXPECT_NEAR(fft[8], 0.125, 0.03);  // each channel at half scale, mixed to mono
    EXPECT_NEAR(fft[32], 0.125, 0.03);
    EXPECT_LT(fft[20], 0.01);

    // 2048 points per channel, interleaved: left peaks at bin 32, right at 128.
    ASSERT_NE(BASS_ChannelGetData(h, fft.data(), BASS_DATA_FFT2048_INDIVIDUAL), 0xFFFFFFFFu);
    EXPECT_EQ(peakOf(fft.data(), 1024, 2, 0), 32u);
    EXPECT_EQ(peakOf(fft.data(), 1024, 2, 1), 128u);
    EXPECT_NEAR(fft[32 * 2], 0.25, 0.05);

    ASSERT_NE(BASS_ChannelGetData(h, fft.data(), BASS_DATA_FFT2048), 0xFFFFFFFFu);
    EXPECT_EQ(peakOf(fft.data(), 1024, 1, 0) == 32u || peakOf(fft.data(), 1024, 1, 0) == 128u,
              true);

    std::vector<int16_t> pcm(1152);
    ASSERT_EQ(BASS_ChannelGetData(h, pcm.data(), 2304), 2304u);
    int peak = 0;
    for (int16_t v : pcm) peak = std::max(peak, std::abs(int(v)));
    EXPECT_NEAR(peak, 16384, 600);
    BASS_ChannelStop(h);
}

// A module plays through BASS_MusicLoad with its length, and only as music.
TEST(Playback, ModuleMusicPlaysWithItsLength) {
    const std::string mod = makeModule("tiny.mod");
    Session s("module");
    ASSERT_TRUE(s.ok());
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, mod.c_str(), 0, 0, 0), 0u);
    DWORD h = BASS_MusicLoad(FALSE, mod.c_str(), 0, 0, BASS_MUSIC_CALCLEN, 0);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    BASS_CHANNELINFO info{};
    ASSERT_TRUE(BASS_ChannelGetInfo(h, &info));
    EXPECT_EQ(info.freq, 44100u);
    EXPECT_EQ(info.ctype, BASS_CTYPE_MUSIC_MOD);
    // 64 rows at one tick of 20 ms each.
    const DWORD len = BASS_MusicGetLength(h, TRUE);
    const double seconds = BASS_ChannelBytes2Seconds(h, len);
    EXPECT_NEAR(seconds, 1.28, 0.05);
    EXPECT_FALSE(BASS_StreamPlay(h, FALSE, 0));  // music is started as music
    EXPECT_FALSE(BASS_StreamFree(h));
    SyncCounter end;
    BASS_ChannelSetSync(h, BASS_SYNC_END, 0, SyncCounter::proc, &end);
    ASSERT_TRUE(BASS_MusicPlay(h));
    ASSERT_TRUE(waitFor([&] { return end.calls.load() > 0; }, 4000ms));
    EXPECT_TRUE(BASS_MusicFree(h));

    Capture c = loadCapture(s);
    auto segs = segments(c.left, 200, 4410);
    ASSERT_EQ(segs.size(), 1u);
    EXPECT_NEAR(toneFrequency(c.left, segs[0].begin, segs[0].end, c.rate), 129.5, 3);
    // The renderer lets the last note ring a few ticks past the last row.
    EXPECT_NEAR(c.seconds(segs[0].length()), seconds, 0.15);
}

// A WMA file made by ffmpeg plays through the add-on.
TEST(Playback, WmaFilePlaysThroughTheAddOn) {
    const std::string wma = encode(makeToneWav("wma.wav", 0.8, 1200), "wma");
    ASSERT_FALSE(wma.empty());
    Session s("wma");
    ASSERT_TRUE(s.ok());
    DWORD h = BASS_WMA_StreamCreateFile(FALSE, wma.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    BASS_CHANNELINFO info{};
    ASSERT_TRUE(BASS_ChannelGetInfo(h, &info));
    EXPECT_EQ(info.ctype, BASS_CTYPE_STREAM_WMA);
    EXPECT_EQ(info.freq, 44100u);
    SyncCounter end;
    playToEnd(h, end);
    Capture c = loadCapture(s);
    auto segs = segments(c.left, kLoud, kGap);
    ASSERT_FALSE(segs.empty());
    // The codec leaves a short blip after the tone: the sound spans the file's length.
    EXPECT_NEAR(c.seconds(segs.back().end - segs.front().begin), 0.8, 0.05);
    EXPECT_NEAR(toneFrequency(c.left, segs[0].begin, segs[0].end, c.rate), 1200, 6);
}

namespace {

// A stream procedure that gives nothing until told to, then a tone for ever.
struct GatedTone {
    std::atomic<bool> open{false};
    size_t done = 0;
    static DWORD proc(HSTREAM, void* buffer, DWORD length, void* user) {
        auto* g = static_cast<GatedTone*>(user);
        if (!g->open.load()) return 0;
        auto* out = static_cast<int16_t*>(buffer);
        const size_t frames = length / 4;
        for (size_t i = 0; i < frames; ++i, ++g->done) {
            const auto v = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 500 * g->done / kRate));
            out[2 * i] = out[2 * i + 1] = v;
        }
        return static_cast<DWORD>(frames * 4);
    }
};

}  // namespace

// A playing stream without data is stalled, not ended; a play with flush
// starts a user stream and a file stream again from position 0.
TEST(Playback, StallsWithoutDataAndFlushRestarts) {
    const std::string wav = makeToneWav("flush.wav", 2.0, 440);
    Session s("flush");
    ASSERT_TRUE(s.ok());
    GatedTone gate;
    DWORD u = BASS_StreamCreate(44100, 2, 0, GatedTone::proc, &gate);
    ASSERT_NE(u, 0u);
    ASSERT_TRUE(BASS_StreamPlay(u, FALSE, 0));
    EXPECT_TRUE(waitFor([&] { return BASS_ChannelIsActive(u) == BASS_ACTIVE_STALLED; }, 2000ms));
    EXPECT_EQ(BASS_ChannelGetPosition(u), 0u);
    gate.open.store(true);
    EXPECT_TRUE(waitFor([&] { return positionSeconds(u) >= 0.4; }, 3000ms));
    EXPECT_EQ(BASS_ChannelIsActive(u), BASS_ACTIVE_PLAYING);
    ASSERT_TRUE(BASS_StreamPlay(u, TRUE, 0));
    EXPECT_LT(positionSeconds(u), 0.1);
    EXPECT_TRUE(waitFor([&] { return positionSeconds(u) >= 0.1; }, 2000ms));
    BASS_ChannelStop(u);
    EXPECT_EQ(BASS_ChannelIsActive(u), BASS_ACTIVE_STOPPED);

    DWORD f = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
    ASSERT_NE(f, 0u);
    ASSERT_TRUE(BASS_StreamPlay(f, FALSE, 0));
    EXPECT_TRUE(waitFor([&] { return positionSeconds(f) >= 0.4; }, 3000ms));
    BASS_ChannelStop(f);
    const double stoppedAt = positionSeconds(f);
    ASSERT_TRUE(BASS_StreamPlay(f, FALSE, 0));  // without flush: goes on
    EXPECT_GE(positionSeconds(f), stoppedAt);
    ASSERT_TRUE(BASS_StreamPlay(f, TRUE, 0));
    EXPECT_LT(positionSeconds(f), 0.1);
}

// Config 5 scales streams and config 6 music, each on its own.
TEST(Playback, StreamAndMusicVolumesAreSeparate) {
    const std::string mod = makeModule("vol.mod");
    const std::string wav = makeToneWav("vol-stream.wav", 1.2, 1000, 0, 2, 44100, 0.25);
    Session s("volumes");
    ASSERT_TRUE(s.ok());
    DWORD music = BASS_MusicLoad(FALSE, mod.c_str(), 0, 0, BASS_MUSIC_CALCLEN, 0);
    DWORD stream = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
    ASSERT_NE(music, 0u);
    ASSERT_NE(stream, 0u);
    BASS_SetConfig(BASS_CONFIG_GVOL_MUSIC, 0);
    ASSERT_TRUE(BASS_MusicPlay(music));
    ASSERT_TRUE(BASS_StreamPlay(stream, FALSE, 0));
    ASSERT_TRUE(waitFor([&] { return positionSeconds(stream) >= 0.5; }, 3000ms));
    BASS_SetConfig(BASS_CONFIG_GVOL_MUSIC, 255);
    BASS_SetConfig(BASS_CONFIG_GVOL_STREAM, 0);
    const double switchedAt = positionSeconds(stream);
    ASSERT_TRUE(
        waitFor([&] { return BASS_ChannelIsActive(music) == BASS_ACTIVE_STOPPED; }, 3000ms));

    Capture c = loadCapture(s);
    auto segs = segments(c.left, 200, 4410);
    ASSERT_FALSE(segs.empty());
    const size_t onset = segs[0].begin;
    const size_t mid = onset + static_cast<size_t>(switchedAt * c.rate);
    // Before the switch only the stream sounds, after it only the music.
    const double streamBefore = toneLevel(c.left, onset + 2205, mid - 2205, c.rate, 1000);
    const double musicBefore = toneLevel(c.left, onset + 2205, mid - 2205, c.rate, 129.5);
    const double streamAfter = toneLevel(c.left, mid + 2205, mid + 13230, c.rate, 1000);
    const double musicAfter = toneLevel(c.left, mid + 2205, mid + 13230, c.rate, 129.5);
    EXPECT_NEAR(streamBefore, 0.25 * 32767, 0.03 * 32767);
    EXPECT_LT(musicBefore, 100);
    EXPECT_LT(streamAfter, 100);
    EXPECT_GT(musicAfter, 2000);
}

// MPEG-1 layer I: no encoder is at hand, so the file is 115 frames of silence
// written here (mono, 44100 Hz, 128 kbit/s, 384 samples a frame).
TEST(Playback, LayerOneFileIsDecoded) {
    std::string frame(136, '\0');
    frame[0] = '\xFF';
    frame[1] = '\xFF';  // MPEG-1, layer I, no checksum
    frame[2] = '\x40';  // 128 kbit/s, 44100 Hz
    frame[3] = '\xC0';  // mono
    std::string file;
    for (int i = 0; i < 115; ++i) file += frame;
    const std::string path = workDir() + "/silence.mp1";
    std::ofstream(path, std::ios::binary) << file;
    Session s("mp1");
    ASSERT_TRUE(s.ok());
    DWORD h = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    BASS_CHANNELINFO info{};
    ASSERT_TRUE(BASS_ChannelGetInfo(h, &info));
    EXPECT_EQ(info.ctype, BASS_CTYPE_STREAM_MP1);
    EXPECT_EQ(info.chans, 1u);
    EXPECT_NEAR(BASS_ChannelBytes2Seconds(h, BASS_StreamGetLength(h)), 1.0, 0.05);
    SyncCounter end;
    playToEnd(h, end);
    EXPECT_EQ(BASS_ChannelGetPosition(h), 115u * 384 * 2);
}

// KAV_NULL_PACE=0: the null output mixes only while something plays and
// waits for data rather than filling in silence.
TEST(Playback, UnpacedOutputWritesOnlyWhatPlays) {
    const std::string mp3 = encode(makeToneWav("unpaced.wav", 3.0, 523.25), "mp3");
    ::setenv("KAV_NULL_PACE", "0", 1);
    Session s("unpaced");
    ::unsetenv("KAV_NULL_PACE");
    ASSERT_TRUE(s.ok());
    std::this_thread::sleep_for(100ms);  // paced, this would be 100 ms of silence
    DWORD h = BASS_StreamCreateFile(FALSE, mp3.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u);
    SyncCounter end;
    playToEnd(h, end, 10000ms);
    Capture c = loadCapture(s);
    auto segs = segments(c.left, kLoud, 1);
    ASSERT_FALSE(segs.empty());
    EXPECT_LT(segs.front().begin, 100u);  // only the tone's own fade-in precedes it
    EXPECT_NEAR(c.seconds(c.frames()), 3.0, 0.011);
    EXPECT_NEAR(toneFrequency(c.left, 0, c.frames(), c.rate), 523.25, 2);
}

// The rate attribute plays a channel faster: higher and shorter.
TEST(Playback, RateAttributeChangesPitchAndSpeed) {
    const std::string wav = makeToneWav("rate.wav", 0.6, 440);
    Session s("rate");
    ASSERT_TRUE(s.ok());
    DWORD h = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(BASS_ChannelSetAttributes(h, 66150, -1, -101));
    DWORD freq = 0, volume = 0;
    int pan = 7;
    ASSERT_TRUE(BASS_ChannelGetAttributes(h, &freq, &volume, &pan));
    EXPECT_EQ(freq, 66150u);
    EXPECT_EQ(volume, 100u);  // unchanged by -1
    EXPECT_EQ(pan, 0);        // unchanged by a value out of range
    SyncCounter end;
    playToEnd(h, end);
    EXPECT_NEAR(positionSeconds(h), 0.6, 0.01);  // positions stay in the file's own bytes
    Capture c = loadCapture(s);
    auto segs = segments(c.left, kLoud, kGap);
    ASSERT_EQ(segs.size(), 1u);
    EXPECT_NEAR(c.seconds(segs[0].length()), 0.4, 0.02);
    EXPECT_NEAR(toneFrequency(c.left, segs[0].begin, segs[0].end, c.rate), 660, 4);
}

namespace {

// A user stream's procedure hands back a counted sequence in amounts of every
// kind: nothing, part of a frame, a few frames, all that is asked for.
struct CountedProc {
    size_t totalFrames;
    size_t sentBytes = 0;
    size_t call = 0;

    uint8_t byteAt(size_t at) const {
        const size_t frame = at / 4;
        const int16_t s =
            at % 4 < 2 ? countedSample(frame) : static_cast<int16_t>(-countedSample(frame));
        uint8_t b[2];
        std::memcpy(b, &s, 2);
        return b[at % 2];
    }

    static DWORD proc(HSTREAM, void* buffer, DWORD length, void* user) {
        auto* t = static_cast<CountedProc*>(user);
        static const size_t kAmounts[] = {0, 1, 3, 4, 2002, 0, 99999999, 4410 * 4 + 1, 7, 513};
        const size_t total = t->totalFrames * 4;
        const size_t n = std::min(
            {size_t{length}, kAmounts[t->call++ % std::size(kAmounts)], total - t->sentBytes});
        for (size_t i = 0; i < n; ++i) static_cast<uint8_t*>(buffer)[i] = t->byteAt(t->sentBytes++);
        return t->sentBytes == total ? static_cast<DWORD>(n) | BASS_STREAMPROC_END
                                     : static_cast<DWORD>(n);
    }
};

}  // namespace

// Every frame of a user stream is heard once and in order, whether the output
// keeps real time or runs ahead of it and waits for the procedure.
TEST(Playback, UserStreamFramesAreHeardOnceInOrder) {
    struct Case {
        const char* name;
        bool paced;
        size_t frames;
    };
    for (const Case& c : {Case{"paced", true, 44100}, Case{"unpaced", false, 3 * 44100}}) {
        SCOPED_TRACE(c.name);
        if (!c.paced) ::setenv("KAV_NULL_PACE", "0", 1);
        Session s(std::string("counted-") + c.name);
        ::unsetenv("KAV_NULL_PACE");
        ASSERT_TRUE(s.ok());
        CountedProc counted{c.frames};
        DWORD h = BASS_StreamCreate(44100, 2, 0, CountedProc::proc, &counted);
        ASSERT_NE(h, 0u);
        SyncCounter end;
        playToEnd(h, end, 10000ms);
        EXPECT_EQ(BASS_ChannelGetPosition(h), c.frames * 4);
        BASS_StreamFree(h);
        EXPECT_EQ(checkCounted(loadCapture(s), c.frames), "");
    }
}
