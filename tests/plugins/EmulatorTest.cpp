// The output module emulator on the real audio library and its null output,
// driven the way input plug-ins drive it; its notifications are caught by a
// window of the test's own.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <QCoreApplication>
#include <QThread>

#include <thread>
#include <vector>

#include "platform/bassbind/Dynamic_BASS.h"
#include "platform/win/MessageBox.h"
#include "plugins/ioplug.h"
#include "tests/engine/EngineTestSupport.h"
#define KAV_WINAMP_HOST
#include "platform/winamp/In_Module.h"

using namespace enginetest;
using namespace std::chrono_literals;

namespace {

struct Notice {
    unsigned msg;
    win::WPARAM wParam;
    bool hasInfo;
    TChannelInfo info;
};

class EmulatorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UseNullOutput();
        player = std::make_unique<TBASSPlayer>();
        ASSERT_TRUE(player->PlayerReady());
        out = static_cast<Out_Module*>(ioplug::OutModule());
        ASSERT_NE(out, nullptr);
        window = win::CreateMessageWindow([this](const win::Message& m) {
            Notice n{m.msg, m.wParam, false, {}};
            n.hasInfo = ioplug::Unpack(m, n.info);
            notices.push_back(n);
            return win::LRESULT{0};
        });
        SetNotifyWindow(window);
    }
    void TearDown() override {
        out->Close();
        player.reset();
        win::DestroyMessageWindow(window);
    }

    // Writes zeros in blocks until the start is decided; returns the bytes written.
    uint32_t WriteUntilStart(uint32_t block) {
        std::vector<char> data(block, 0);
        uint32_t total = 0;
        while (ioplug::State().waitingToStart && total < 200000) {
            if (out->Write(data.data(), static_cast<int>(block)) != 0) break;
            total += block;
        }
        return total;
    }

    const Notice* Find(unsigned msg) const {
        for (const Notice& n : notices)
            if (n.msg == msg) return &n;
        return nullptr;
    }

    BoxRecorder boxes;
    std::unique_ptr<TBASSPlayer> player;
    Out_Module* out = nullptr;
    win::HWND window = 0;
    std::vector<Notice> notices;
};

}  // namespace

TEST_F(EmulatorTest, RecordCarriesTheHostsValues) {
    EXPECT_EQ(out->version, 16);
    EXPECT_STREQ(out->description, "BASS Winamp output plug-in emulator");
    EXPECT_EQ(out->id, 65537);
    EXPECT_NE(GetEmulatorWindow(), 0u);
    // The application's window, a live one (not the emulator's own).
    const auto app = reinterpret_cast<win::HWND>(out->hMainWindow);
    EXPECT_NE(app, 0u);
    EXPECT_TRUE(win::IsWindow(app));
    EXPECT_NE(app, GetEmulatorWindow());
}

// Playback starts at 400 ms buffered, or once at most 8,192 bytes are free
// when 400 ms do not fit in the ring; the start is announced with the format.
TEST_F(EmulatorTest, StartThresholdsByFormat) {
    struct Case {
        int rate, channels, bits;
        uint32_t block, startsAtOrAfter, startsBefore;
    };
    const Case cases[] = {
        {44100, 2, 16, 2304, 70560, 70560 + 2304},
        {96000, 2, 16, 1000, 88200 - 8192, 88200 - 8192 + 1000},
        {8000, 1, 8, 100, 3200, 3300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz " + std::to_string(c.bits) + " bit");
        notices.clear();
        ASSERT_EQ(out->Open(c.rate, c.channels, c.bits, -1, -1), 0);
        const uint32_t total = WriteUntilStart(c.block);
        EXPECT_GE(total, c.startsAtOrAfter);
        EXPECT_LT(total, c.startsBefore);
        ASSERT_TRUE(PumpUntil([&] { return Find(WM_BP_PLUGINSTART) != nullptr; }, 2s));
        const Notice* start = Find(WM_BP_PLUGINSTART);
        ASSERT_TRUE(start->hasInfo);
        EXPECT_EQ(start->info.SampleRate, c.rate);
        EXPECT_EQ(start->info.Channels, c.channels);
        EXPECT_EQ(start->info.BitsPerSample, c.bits);
        const Notice* handle = Find(WM_BP_STREAMHANDLE);
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(handle->wParam, ioplug::State().stream);
        BASS_CHANNELINFO info{};
        ASSERT_TRUE(BASS_ChannelGetInfo(ioplug::State().stream, &info));
        EXPECT_EQ((info.flags & BASS_SAMPLE_8BITS) != 0, c.bits == 8);
        // Playing (not only stalled while the library fills its first block).
        EXPECT_TRUE(PumpUntil([&] { return out->IsPlaying() == 1; }, 1s));
        out->Close();
    }
}

// A track that follows another starts at its first block, once: the Open
// after it, and a restart after a seek, wait for the threshold again.
TEST_F(EmulatorTest, TheOutputAfterAJoinStartsAtItsFirstBlock) {
    ioplug::StartNextOutputAtFirstBlock(true);
    ASSERT_EQ(out->Open(44100, 2, 16, -1, -1), 0);
    EXPECT_EQ(WriteUntilStart(2304), 2304u);
    ASSERT_TRUE(PumpUntil([&] { return Find(WM_BP_PLUGINSTART) != nullptr; }, 2s));
    EXPECT_TRUE(PumpUntil([&] { return out->IsPlaying() == 1; }, 1s));
    ioplug::SetSeekPending();
    out->Flush(1000);
    EXPECT_GE(WriteUntilStart(2304), 70560u) << "the restart after a seek";
    out->Close();
    ASSERT_EQ(out->Open(44100, 2, 16, -1, -1), 0);
    EXPECT_GE(WriteUntilStart(2304), 70560u) << "the next Open";
    out->Close();
}

// On an empty ring 88,199 bytes fit and 88,200 do not; the refusal is
// immediate on the writing thread and its box is shown on the GUI thread.
TEST_F(EmulatorTest, LargestBlockAndTheRefusedOne) {
    ASSERT_EQ(out->Open(44100, 2, 16, -1, -1), 0);
    EXPECT_EQ(out->CanWrite(), 88199);
    std::vector<char> big(88200, 0);
    bool boxOffGui = false;
    win::SetMessageBoxHandler(
        [&](const std::string& caption, const std::string& text, unsigned flags) {
            boxOffGui |= QThread::currentThread() != QCoreApplication::instance()->thread();
            boxes.boxes.push_back({caption, text, flags});
            return win::IDOK;
        });
    int refused = -1;
    std::thread writer([&] { refused = out->Write(big.data(), 88200); });
    writer.join();
    EXPECT_EQ(refused, 1);
    EXPECT_EQ(ioplug::State().used, 0u);
    EXPECT_TRUE(boxes.boxes.empty());  // not shown from the writing thread
    ASSERT_TRUE(PumpUntil([&] { return !boxes.boxes.empty(); }, 2s));
    EXPECT_EQ(boxes.boxes[0].caption, "Error");
    EXPECT_EQ(boxes.boxes[0].text, "Write error : No Space");
    EXPECT_EQ(boxes.boxes[0].flags & 0xF, win::MB_OKCANCEL);  // OK and Cancel, not waiting
    EXPECT_EQ(boxes.boxes[0].flags & win::MB_WAIT, 0u);
    EXPECT_FALSE(boxOffGui);
    EXPECT_EQ(out->Write(big.data(), 88199), 0);
    EXPECT_EQ(ioplug::State().used, 88199u);
    EXPECT_EQ(out->CanWrite(), 0);
}

// SetInfo changes only what it is given, and each notice keeps the values
// of its own moment even when the plug-in reports again before it is read.
TEST_F(EmulatorTest, SetInfoNoticesCarryTheirOwnValues) {
    In_Module module{};
    ioplug::InstallHostFunctions(&module);
    ASSERT_EQ(out->Open(44100, 2, 16, -1, -1), 0);
    PumpFor(50ms);
    notices.clear();
    module.SetInfo(-1, -1, -1, 1);
    module.SetInfo(128, 44, 2, 0);
    module.SetInfo(192, -1, -1, 0);
    PumpFor(100ms);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0].msg, WM_BP_CHANNELINFO);
    EXPECT_EQ(notices[0].info.BitRate, 128);
    EXPECT_EQ(notices[1].info.BitRate, 192);
    EXPECT_EQ(notices[1].info.SampleRate, 44);
    EXPECT_EQ(notices[1].info.Channels, 2);
    EXPECT_EQ(module.SAGetMode(), 0);
    EXPECT_EQ(module.dsp_isactive(), 0);
    short samples[4] = {};
    EXPECT_EQ(module.dsp_dosamples(samples, 2, 16, 2, 44100), 2);
}

TEST_F(EmulatorTest, VolumeAndPanAreClamped) {
    ASSERT_EQ(out->Open(44100, 2, 16, -1, -1), 0);
    const HSTREAM stream = ioplug::State().stream;
    for (auto [given, expected] : {std::pair{300, 255}, {-5, 0}, {128, 128}}) {
        out->SetVolume(given);
        EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_GVOL_STREAM), static_cast<DWORD>(expected)) << given;
    }
    for (auto [given, expected] :
         {std::pair{128, 100}, {-128, -100}, {64, 50}, {1, 1}, {2, 2}, {-3, -2}, {0, 0}}) {
        out->SetPan(given);
        int pan = 999;
        DWORD volume = 0;
        ASSERT_TRUE(BASS_ChannelGetAttributes(stream, nullptr, &volume, &pan));
        EXPECT_EQ(pan, expected) << given;
        EXPECT_EQ(volume, 100u) << given;  // left alone
    }
}

// The value plug-ins pass on opening the output leaves the volume as it is.
TEST_F(EmulatorTest, VolumeKeptWhenOpeningPluginsLeaveItAlone) {
    ASSERT_EQ(out->Open(44100, 2, 16, -1, -1), 0);
    out->SetVolume(128);
    out->SetVolume(-666);
    EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_GVOL_STREAM), 128u);
}

// A seek's Flush while playing: everything counted again from the new time,
// and playback resumes once 400 ms are buffered again.
TEST_F(EmulatorTest, FlushWhilePlayingRearmsTheStart) {
    ASSERT_EQ(out->Open(44100, 2, 16, -1, -1), 0);
    WriteUntilStart(2304);
    ASSERT_TRUE(PumpUntil(
        [&] { return BASS_ChannelIsActive(ioplug::State().stream) == BASS_ACTIVE_PLAYING; }, 2s));
    notices.clear();
    out->Flush(30000);
    const ioplug::RingState s = ioplug::State();
    EXPECT_EQ(s.readPos, 0u);
    EXPECT_EQ(s.writePos, 0u);
    EXPECT_EQ(s.written, 0u);
    EXPECT_TRUE(s.waitingToStart);
    EXPECT_EQ(out->GetWrittenTime(), 30000);
    EXPECT_EQ(out->IsPlaying(), 0);
    const uint32_t total = WriteUntilStart(2304);
    EXPECT_GE(total, 70560u);
    EXPECT_LT(total, 70560u + 2304);
    ASSERT_TRUE(PumpUntil([&] { return Find(WM_BP_PLUGINSTART) != nullptr; }, 2s));
    ASSERT_TRUE(PumpUntil([&] { return out->GetOutputTime() > 30050; }, 2s));
    EXPECT_LT(out->GetOutputTime(), 30000 + 500);
}

// Paused: a Flush without a seek leaves everything; with a seek pending it
// empties the ring and leaves the stream stopped until the next resume.
TEST_F(EmulatorTest, FlushWhilePausedNeedsAPendingSeek) {
    ASSERT_EQ(out->Open(44100, 2, 16, -1, -1), 0);
    WriteUntilStart(2304);
    ASSERT_TRUE(PumpUntil(
        [&] { return BASS_ChannelIsActive(ioplug::State().stream) == BASS_ACTIVE_PLAYING; }, 2s));
    EXPECT_EQ(out->Pause(1), 0);
    EXPECT_EQ(out->Pause(1), 1);  // the second does nothing
    const HSTREAM stream = ioplug::State().stream;
    EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_ACTIVE_PAUSED);
    const ioplug::RingState before = ioplug::State();
    out->Flush(5000);
    const ioplug::RingState after = ioplug::State();
    EXPECT_EQ(after.written, before.written);
    EXPECT_EQ(after.used, before.used);
    EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_ACTIVE_PAUSED);

    SetSeekPending();
    out->Flush(5000);
    EXPECT_EQ(ioplug::State().written, 0u);
    EXPECT_EQ(ioplug::State().used, 0u);
    EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_ACTIVE_STOPPED);
    std::vector<char> data(40000, 0);
    ASSERT_EQ(out->Write(data.data(), 40000), 0);
    EXPECT_EQ(out->Pause(0), 0);  // not paused any more: restarted from its new data
    EXPECT_NE(BASS_ChannelIsActive(stream), BASS_ACTIVE_STOPPED);
    ASSERT_TRUE(PumpUntil([&] { return out->GetOutputTime() > 5050; }, 2s));
    EXPECT_LT(out->GetOutputTime(), 5000 + 227);  // 40,000 bytes: heard from 5 s on
}

// The exported PostMessageA refuses what is not a live message window.
TEST_F(EmulatorTest, ExportedPostMessageChecksTheWindow) {
    using PostFn = int (*)(void*, unsigned, uintptr_t, intptr_t);
    auto post = reinterpret_cast<PostFn>(dlsym(RTLD_DEFAULT, "PostMessageA"));
    ASSERT_NE(post, nullptr) << "the executable does not export PostMessageA";
    EXPECT_EQ(post(nullptr, 1026, 0, 0), 0);
    EXPECT_EQ(post(reinterpret_cast<void*>(uintptr_t{0x7fff1234}), 1026, 0, 0), 0);
    const win::HWND gone = win::CreateMessageWindow([](const win::Message&) { return 0; });
    win::DestroyMessageWindow(gone);
    EXPECT_EQ(post(reinterpret_cast<void*>(gone), 1026, 0, 0), 0);
    int fromThread = -1;
    std::thread([&] {
        fromThread = post(reinterpret_cast<void*>(GetEmulatorWindow()), 1026, 0, 0);
    }).join();
    EXPECT_EQ(fromThread, 1);
    ASSERT_TRUE(PumpUntil([&] { return Find(WM_BP_PLUGINEOF) != nullptr; }, 2s));
}

// A plug-in's end is stamped with the stream open as it posts it: the engine
// is told which stream ended, and an end posted before its stream was closed
// and another opened is dropped rather than ending the new one.
TEST_F(EmulatorTest, AnEndCarriesItsStreamAndAStaleOneIsDropped) {
    using PostFn = int (*)(void*, unsigned, uintptr_t, intptr_t);
    auto post = reinterpret_cast<PostFn>(dlsym(RTLD_DEFAULT, "PostMessageA"));
    ASSERT_NE(post, nullptr);
    auto* emulator = reinterpret_cast<void*>(GetEmulatorWindow());
    ASSERT_EQ(out->Open(44100, 2, 16, -1, -1), 0);
    const DWORD first = ioplug::State().stream;
    std::thread([&] { post(emulator, 1026, 0, 0); }).join();
    out->Close();
    ASSERT_EQ(out->Open(44100, 2, 16, -1, -1), 0);
    const DWORD second = ioplug::State().stream;
    ASSERT_NE(first, second);
    PumpFor(200ms);
    EXPECT_EQ(Find(WM_BP_PLUGINEOF), nullptr) << "the end of a closed stream was passed on";
    std::thread([&] { post(emulator, 1026, 0, 0); }).join();
    ASSERT_TRUE(PumpUntil([&] { return Find(WM_BP_PLUGINEOF) != nullptr; }, 2s));
    EXPECT_EQ(Find(WM_BP_PLUGINEOF)->wParam, second);
}

// A start decided for a stream that is closed (and another opened) before
// the GUI thread handles it starts nothing: the new stream waits for its own
// 400 ms.
TEST_F(EmulatorTest, AStartPostedForAClosedStreamIsDropped) {
    ASSERT_EQ(out->Open(44100, 2, 16, -1, -1), 0);
    ASSERT_GT(WriteUntilStart(2304), 0u);
    ASSERT_FALSE(ioplug::State().waitingToStart);  // the start is on its way
    out->Close();
    ASSERT_EQ(out->Open(44100, 2, 16, -1, -1), 0);
    const DWORD second = ioplug::State().stream;
    PumpFor(300ms);
    EXPECT_EQ(Find(WM_BP_PLUGINSTART), nullptr);
    EXPECT_EQ(BASS_ChannelIsActive(second), BASS_ACTIVE_STOPPED);
    EXPECT_TRUE(ioplug::State().waitingToStart);
}

// Once the player is gone (the emulator torn down, the library unbound), a
// plug-in's thread that is still about may call every output function: none
// reaches the library, and each answers as with no stream.
TEST_F(EmulatorTest, EveryFunctionIsSafeOnceTheLibraryIsGone) {
    ASSERT_EQ(out->Open(44100, 2, 16, -1, -1), 0);
    player.reset();
    ASSERT_FALSE(BASS_Loaded());
    std::vector<char> block(4608, 0);
    struct Answers {
        int open, write, canWrite, isPlaying, pause, output, written;
    } a{};
    auto callAll = [&] {
        a.open = out->Open(44100, 2, 16, -1, -1);
        a.canWrite = out->CanWrite();
        a.write = out->Write(block.data(), static_cast<int>(block.size()));
        a.isPlaying = out->IsPlaying();
        a.pause = out->Pause(1);
        out->Pause(0);
        out->SetVolume(100);
        out->SetPan(50);
        out->Flush(1000);
        a.output = out->GetOutputTime();
        a.written = out->GetWrittenTime();
        out->Close();
        out->Config(nullptr);
        out->About(nullptr);
    };
    callAll();                    // the GUI thread
    std::thread(callAll).join();  // a plug-in's thread
    EXPECT_EQ(a.open, -1);
    EXPECT_EQ(a.isPlaying, 0);
    EXPECT_EQ(a.pause, 0);
    PumpFor(100ms);
    EXPECT_TRUE(boxes.boxes.empty());  // no window is left to show a box from
}
