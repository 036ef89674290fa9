#define KAV_WINAMP_HOST
#include "plugins/ioplug.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/bassbind/Dynamic_BASS.h"
#include "platform/win/Clock.h"
#include "platform/win/MessageBox.h"
#include "platform/win/Pump.h"
#include "platform/winamp/In_Module.h"
#include "plugins/ChannelInfo.h"
#include "plugins/DSPHost.h"
#include "plugins/PcmRing.h"

namespace ioplug {
namespace {

// 5 s in steps of 20 ms: the reader holds its flag for one copy only.
constexpr auto kWriterWaitLimit = win::PumpLimit::Rounds(250, 20, win::Rest::Real);
constexpr uint32_t kStartFreeBytes = 8192;
// The longest the library's worker waits inside the stream procedure for the
// plug-in's next blocks before it hands on what there is.
constexpr auto kReaderWait = std::chrono::milliseconds(20);
// What it waits for at most: the ring but for room for two of a plug-in's
// largest blocks (576 stereo frames, doubled by a DSP), which it always
// reaches; so a reader faster than the plug-in is woken once per many of its
// blocks, not for each.
constexpr uint32_t kReaderBatchBytes = kav::PcmRing::Size - 4 * 576 * 4;
constexpr int kPanMax = 100;
// How long Teardown waits for uses of the library still inside it.
constexpr auto kLetGoStep = std::chrono::milliseconds(1);
constexpr int kLetGoRounds = 1000;

// The emulator's own boxes, shown by its window on the GUI thread, none
// waiting for its answer.
enum class Box : win::WPARAM { NoSpace, Config, About };

void ShowOwnBox(Box box) {
    switch (box) {
        case Box::NoSpace:
            win::MessageBox(0, "Write error : No Space", "Error", win::MB_OKCANCEL);
            break;
        case Box::Config:
            win::MessageBox(0, "No configuration is needed.", "Confirm", win::MB_OK);
            break;
        case Box::About:
            win::MessageBox(0, "This is a Winamp output plug-in emulator using BASS", "Confirm",
                            win::MB_OK);
            break;
    }
}

// The hidden window of the emulator and what arrives there.
class TMsgHandler {
  public:
    explicit TMsgHandler(std::function<void()> clearActive);
    ~TMsgHandler();
    win::HWND Handle() const { return handle_; }

  private:
    win::LRESULT Handle(const win::Message& m);
    win::HWND handle_ = 0;
    std::function<void()> clearActive_;
};

// One output: a user stream of the library and the ring that feeds it. The
// flags and counters shared with the plug-in's thread or the library's worker
// are atomics; the rest is touched by the GUI thread or by the plug-in's Open
// (in a call from the GUI thread) only.
struct Output {
    kav::PcmRing ring;
    std::atomic<HSTREAM> stream{0};
    std::atomic<int> sampleRate{0}, bitsPerSample{0}, channels{0};
    std::atomic<int> threshold{0};
    std::atomic<uint64_t> written{0};
    std::atomic<int> timeOffset{0};
    // The two sides' flags: each raises its own, then checks the other's
    // (both sequentially consistent, so at most one side sees the other's
    // flag down and goes into the ring).
    std::atomic<bool> readerBusy{false}, writerBusy{false};
    std::atomic<bool> waitingToStart{false}, seekPending{false};
    std::atomic<bool> closing{false};
    // The plug-in has written its whole file (it asked IsPlaying, or posted
    // its end): once the ring is drained the stream ends.
    std::atomic<bool> allWritten{false};
    std::atomic<bool> allWrittenTold{false};  // the engine has been told (once until a Write)
    // The reader waits here for the writer's next blocks.
    std::mutex dataMutex;
    std::condition_variable dataArrived;
    std::atomic<uint32_t> readerWants{0};   // bytes a waiting reader needs, 0: none waits
    std::atomic<bool> startPosted{false};   // the start is on its way to the GUI thread
    std::atomic<bool> atFirstBlock{false};  // this Open's output starts at its first block
    std::atomic<bool> queued{false};        // started behind the outgoing stream
};

// Module state. There are two outputs: the current one, which the plug-in
// that plays writes to, and the outgoing one, which drains the track a
// plug-in closed after KeepOutputPlaying while the next track's output is
// queued behind its last sample.
struct Emulator {
    std::array<Output, 2> outputs;
    std::atomic<int> current{0};
    std::atomic<int> outgoing{-1};  // -1: none drains
    std::atomic<bool> keepNext{false};
    std::atomic<bool> nextAtFirstBlock{false};  // for the next Open
    TChannelInfo channelInfo{};  // written by the plug-in's thread (SetInfo) and Write
    std::atomic<win::HWND> notifyWindow{0};
    std::unique_ptr<TMsgHandler> handler;  // GUI thread only
    std::atomic<win::HWND> window{0};      // the handler's window, for the other threads
    std::atomic<bool> ready{false};
    // Whether the emulator may use the audio library, and how many uses from
    // other threads are inside it now (see LibraryUse).
    std::atomic<bool> libraryHeld{false};
    std::atomic<int> libraryUsers{0};
    Out_Module out{};
    std::function<void()> clearActive;
};

// Made by the first Setup and never freed: a plug-in's thread that outlives
// the manager (one retired while inside a call) may still call the
// Out_Module, whose record and functions must then still be there.
Emulator* emu = nullptr;

// A use of the audio library by an Out_Module function, from any thread.
// Once Teardown has let go of the library (before the engine unbinds it) the
// use is refused and the function answers as with no stream; Teardown waits
// for the uses already inside. Each side raises its own mark, then reads the
// other's (sequentially consistent), so the two never miss each other.
class LibraryUse {
  public:
    LibraryUse() : held_(Enter()) {}
    ~LibraryUse() { emu->libraryUsers.fetch_sub(1); }
    LibraryUse(const LibraryUse&) = delete;
    LibraryUse& operator=(const LibraryUse&) = delete;
    explicit operator bool() const { return held_; }

  private:
    static bool Enter() {
        emu->libraryUsers.fetch_add(1);
        return emu->libraryHeld.load();
    }
    bool held_;
};

using win::OnGuiThread;

Output& Current() {
    return emu->outputs[static_cast<size_t>(emu->current.load())];
}

Output* Outgoing() {
    const int index = emu->outgoing.load();
    return index < 0 ? nullptr : &emu->outputs[static_cast<size_t>(index)];
}

int BytesPerSecond(const Output& o) {
    return o.bitsPerSample / 8 * o.sampleRate * o.channels;
}

int MsOfBytes(const Output& o, uint64_t bytes) {
    const int b = BytesPerSecond(o);
    if (b == 0) return o.timeOffset;
    return static_cast<int>(std::nearbyint(static_cast<double>(bytes) * 1000.0 / b)) + o.timeOffset;
}

void Notify(unsigned msg, win::WPARAM wParam = 0, std::string text = {}, win::LPARAM lParam = 0) {
    const win::HWND target = emu->notifyWindow.load();
    if (target != 0) win::PostMessage(target, msg, wParam, lParam, std::move(text));
}

// Raises the writer's flag once the reader is out of the ring; false when
// the reader never left (it does not hold its flag for longer than a copy).
// The writer is the plug-in's thread, or the GUI thread (which keeps
// dispatching meanwhile).
bool EnterAsWriter(Output& o) {
    const auto readerInside = [&o] {
        o.writerBusy.store(true);
        if (!o.readerBusy.load()) return false;
        o.writerBusy.store(false);
        return true;
    };
    return win::PumpWhile(readerInside, kWriterWaitLimit);
}

void LeaveAsWriter(Output& o) {
    o.writerBusy.store(false);
}

bool MayStart(const Output& o) {
    const uint32_t used = o.ring.used();
    return (o.atFirstBlock.load() && used > 0) || o.ring.free() <= kStartFreeBytes ||
           used >= 2 * static_cast<uint32_t>(o.threshold.load());
}

// The start names its stream: one closed before the message is handled is
// not started (nor is the stream opened after it).
void DecideStart(Output& o, bool allWritten = false) {
    if (!o.waitingToStart.load() || !(allWritten || MayStart(o))) return;
    if (!o.waitingToStart.exchange(false)) return;
    const HSTREAM stream = o.stream.load();
    const win::HWND window = emu->window.load();
    if (stream == 0 || window == 0) return;
    TChannelInfo& info = emu->channelInfo;
    info.BitsPerSample = static_cast<uint16_t>(o.bitsPerSample.load());
    info.SampleRate = o.sampleRate.load();
    info.Channels = static_cast<uint16_t>(o.channels.load());
    o.startPosted = true;
    win::PostMessage(window, WM_START_OUTPUT, 0, static_cast<win::LPARAM>(stream), Pack(info));
}

void ShowBox(Box box) {
    const win::HWND window = emu->window.load();
    if (window != 0) win::PostMessage(window, WM_SHOW_BOX, static_cast<win::WPARAM>(box));
}

// The engine hears once that the plug-in has written its whole file (again
// only if it writes more after all): the moment a track that follows may be
// started behind it.
void TellAllWritten(Output& o) {
    const HSTREAM stream = o.stream.load();
    if (stream == 0 || o.allWrittenTold.exchange(true)) return;
    Notify(WM_NOTIFY_ALLWRITTEN, stream);
}

// --- the stream procedure (library's worker thread) --------------------------

bool AllWritten(const Output& o) {
    return o.allWritten.load() || o.closing.load();
}

// Wakes a reader waiting for data (once the ring holds what it waits for) or
// for the end; cheap when none waits. A wake-up lost to a reader just about
// to wait costs it one bounded wait.
void WakeReader(Output& o, bool end = false) {
    const uint32_t wanted = o.readerWants.load();
    if (wanted == 0 || (!end && o.ring.used() < wanted)) return;
    // Through the lock, so a reader between its check and its wait is woken;
    // notified after it, so the woken reader does not wait for the lock.
    { std::lock_guard<std::mutex> lock(o.dataMutex); }
    o.dataArrived.notify_one();
}

// Bounded: a plug-in that has stopped writing costs the library's worker one
// wait, never more.
void WaitForData(Output& o, uint32_t wanted) {
    std::unique_lock<std::mutex> lock(o.dataMutex);
    o.readerWants.store(wanted);
    o.dataArrived.wait_for(lock, kReaderWait,
                           [&o, wanted] { return o.ring.used() >= wanted || AllWritten(o); });
    o.readerWants.store(0);
}

// Hands on what the ring holds, possibly nothing: a plug-in behind the output
// is waited for (the library asks again). The stream ends only once the
// plug-in has written everything, or is closing, and the ring is drained.
// user: the stream's Output.
DWORD StreamProc(HSTREAM, void* buffer, DWORD length, void* user) {
    Output& o = *static_cast<Output*>(user);
    if (o.ring.used() < length && !AllWritten(o))
        WaitForData(o, std::min<uint32_t>(length, kReaderBatchBytes));
    // Read before the ring: every write came before the flag was raised.
    const bool last = AllWritten(o);
    o.readerBusy.store(true);
    if (o.writerBusy.load()) {
        o.readerBusy.store(false);
        return 0;  // the writer is inside: nothing now, the library asks again
    }
    const uint32_t got = o.ring.read(static_cast<uint8_t*>(buffer), length);
    o.readerBusy.store(false);
    return got < length && last ? (got | BASS_STREAMPROC_END) : got;
}

// --- Out_Module ----------------------------------------------------------------

// A plug-in asks these from its own Config and About, which run on the
// thread of plug-in calls: the boxes are shown on the GUI thread.
void Config(HWND) {
    ShowBox(Box::Config);
}

void About(HWND) {
    ShowBox(Box::About);
}

// Init and Quit make and destroy a window: GUI thread only (the manager's
// set-up and tear-down), whoever else calls them.
void Init() {
    if (emu->ready || !OnGuiThread()) return;
    emu->handler = std::make_unique<TMsgHandler>(emu->clearActive);
    emu->window = emu->handler->Handle();
    emu->ready = true;
}

void Quit() {
    if (!OnGuiThread()) return;
    emu->ready = false;
    emu->window = 0;
    emu->handler.reset();
}

void ResetRing(Output& o) {
    o.startPosted = false;
    o.ring.reset();
    o.written = 0;
    o.readerBusy = false;
    o.writerBusy = false;
    o.seekPending = false;
    o.allWritten = false;
    o.allWrittenTold = false;
    o.queued = false;
    o.waitingToStart = true;
}

// Stops and frees an output's stream; its ring stays as it is until the
// output's next Open.
void FreeStream(Output& o) {
    const HSTREAM stream = o.stream.exchange(0);
    if (stream == 0) return;
    o.closing = true;
    WakeReader(o, true);
    if (BASS_ChannelIsActive(stream) == BASS_ACTIVE_PLAYING) BASS_ChannelStop(stream);
    BASS_StreamFree(stream);
}

int Open(int samplerate, int numchannels, int bitspersamp, int, int) {
    int result = -1;
    Output& o = Current();
    o.atFirstBlock = emu->nextAtFirstBlock.exchange(false);
    const LibraryUse library;
    if (emu->ready && library) {
        const DWORD flags = bitspersamp == 8 ? BASS_SAMPLE_8BITS : 0;
        o.closing = false;
        const HSTREAM stream = BASS_StreamCreate(
            static_cast<DWORD>(samplerate), static_cast<DWORD>(numchannels), flags, StreamProc, &o);
        if (stream != 0) {
            o.stream = stream;
            o.sampleRate = samplerate;
            o.bitsPerSample = bitspersamp;
            o.channels = numchannels;
            o.threshold = (bitspersamp / 8) * samplerate * numchannels * 2 / 10;
            o.timeOffset = 0;
            Notify(WM_NOTIFY_STREAMHANDLE, stream);
            result = 0;
        }
    }
    ResetRing(o);
    return result;
}

// After KeepOutputPlaying, a stream that sounds with the whole file written
// goes on draining as the outgoing one, and the next Open takes the other
// output (whose earlier stream, if any is left, is freed first).
bool KeepAsOutgoing(Output& o) {
    if (!emu->keepNext.exchange(false) || !o.allWritten.load()) return false;
    const HSTREAM stream = o.stream.load();
    const DWORD state = BASS_ChannelIsActive(stream);
    if (state != BASS_ACTIVE_PLAYING && state != BASS_ACTIVE_STALLED) return false;
    const int index = emu->current.load();
    Output& next = emu->outputs[static_cast<size_t>(1 - index)];
    FreeStream(next);
    o.closing = true;
    WakeReader(o, true);
    emu->outgoing = index;
    emu->current = 1 - index;
    return true;
}

void Close() {
    const LibraryUse library;
    if (!library) return;
    Output& o = Current();
    if (o.stream.load() == 0 || KeepAsOutgoing(o)) return;
    FreeStream(o);
}

// A block that does not fit is refused at once; the box is shown on the GUI
// thread, so the decoding thread never waits on it.
int Write(char* buf, int len) {
    Output& o = Current();
    if (len < 0 || !EnterAsWriter(o)) return 1;
    // Still writing: it asked IsPlaying (or posted its end) too early, and
    // says so again when it is done.
    if (o.allWritten.exchange(false)) o.allWrittenTold = false;
    const bool stored =
        o.ring.write(reinterpret_cast<const uint8_t*>(buf), static_cast<uint32_t>(len));
    if (stored) o.written += static_cast<uint64_t>(len);
    LeaveAsWriter(o);
    if (stored) WakeReader(o);
    if (!stored) ShowBox(Box::NoSpace);
    DecideStart(o);
    return stored ? 0 : 1;
}

int CanWrite() {
    const Output& o = Current();
    if (o.readerBusy.load()) return 0;
    return static_cast<int>(o.ring.free()) - 1;
}

// A stream queued behind the outgoing one that has not had its turn yet.
bool WaitingForItsTurn(const Output& o, HSTREAM stream) {
    return o.queued.load() && BASS_ChannelIsActive(stream) == BASS_ACTIVE_STOPPED &&
           BASS_ChannelGetPosition(stream) == 0;
}

// A plug-in asks this once it has written its whole file and waits for it to
// be heard. A file shorter than the start threshold would otherwise never
// start, so what it has written starts now; a start on its way to the GUI
// thread counts as playing, and so do a stream waiting for the ring and one
// queued behind the outgoing stream.
int IsPlaying() {
    Output& o = Current();
    o.allWritten = true;
    WakeReader(o, true);
    if (o.waitingToStart.load() && o.ring.used() > 0) DecideStart(o, true);
    TellAllWritten(o);
    const LibraryUse library;
    const HSTREAM stream = o.stream.load();
    if (stream == 0 || !library) return 0;
    const DWORD state = BASS_ChannelIsActive(stream);
    return o.startPosted.load() || state == BASS_ACTIVE_PLAYING || state == BASS_ACTIVE_STALLED ||
                   WaitingForItsTurn(o, stream)
               ? 1
               : 0;
}

int Pause(int pause) {
    const LibraryUse library;
    if (!library) return 0;
    const HSTREAM stream = Current().stream.load();
    const bool previous = BASS_ChannelIsActive(stream) == BASS_ACTIVE_PAUSED;
    if (pause == 0) {
        if (previous)
            BASS_ChannelResume(stream);
        else
            BASS_StreamPlay(stream, TRUE, 0);
    } else if (!previous) {
        BASS_ChannelPause(stream);
    }
    return previous ? 1 : 0;
}

// Plug-ins written after the SDK's example pass this when they open the
// output, meaning "as it is": read as 0 it would mute the track's start
// until the player sets the volume again.
constexpr int kVolumeUnchanged = -666;

void SetVolume(int volume) {
    const LibraryUse library;
    if (volume == kVolumeUnchanged || !library) return;
    BASS_SetConfig(BASS_CONFIG_GVOL_STREAM, static_cast<DWORD>(std::clamp(volume, 0, 255)));
}

void SetPan(int pan) {
    const LibraryUse library;
    if (!library) return;
    const int scaled = static_cast<int>(std::nearbyint(pan * 0.78125));
    BASS_ChannelSetAttributes(Current().stream.load(), -1, -1,
                              std::clamp(scaled, -kPanMax, kPanMax));
}

void Flush(int t) {
    const LibraryUse library;
    if (!library) return;
    Output& o = Current();
    const HSTREAM stream = o.stream.load();
    const DWORD state = BASS_ChannelIsActive(stream);
    const bool rearm = state == BASS_ACTIVE_PLAYING || state == BASS_ACTIVE_STALLED;
    if (state == BASS_ACTIVE_PAUSED && !o.seekPending.load()) return;
    o.allWritten = false;
    o.allWrittenTold = false;
    // The writer's flag keeps the reader out while both positions move.
    const bool entered = EnterAsWriter(o);
    BASS_ChannelStop(stream);
    o.atFirstBlock = false;  // a restart after a seek waits for the threshold
    if (rearm) o.waitingToStart = true;
    o.timeOffset = t;
    o.ring.reset();
    o.written = 0;
    o.seekPending = false;
    if (entered) LeaveAsWriter(o);
}

int OutputTimeOf(const Output& o) {
    const LibraryUse library;
    const HSTREAM stream = o.stream.load();
    if (stream == 0 || !library) return MsOfBytes(o, 0);
    return MsOfBytes(o, BASS_ChannelGetPosition(stream));
}

int GetOutputTime() {
    return OutputTimeOf(Current());
}

int GetWrittenTime() {
    const Output& o = Current();
    return MsOfBytes(o, o.written.load());
}

// --- In_Module host functions ----------------------------------------------

void SAVSAInit(int, int) {}
void SAVSADeInit() {}
void SAAddPCMData(void*, int, int, int) {}
int SAGetMode() {
    return 0;
}
int SAAdd(void*, int, int) {
    return 0;
}
void VSAAddPCMData(void*, int, int, int) {}
int VSAGetMode(int*, int*) {
    return 0;
}
int VSAAdd(void*, int) {
    return 0;
}
void VSASetInfo(int, int) {}

int dsp_isactive() {
    return DSPActive() ? 1 : 0;
}

// The module takes 16-bit samples only (another width would be read as the
// wrong number of bytes), and may lengthen a block no further than the
// plug-in's buffer, which holds twice what it was given.
int dsp_dosamples(short int* samples, int numsamples, int bps, int nch, int srate) {
    if (bps != 16 || numsamples <= 0 || !samples) return numsamples;
    const int result = DSPModifySamples(samples, numsamples, bps, nch, srate);
    if (result <= 0) return numsamples;
    return static_cast<int>(std::min<long long>(result, 2LL * numsamples));
}

void SetInfo(int bitrate, int srate, int stereo, int) {
    if (bitrate == -1 && srate == -1 && stereo == -1) return;
    TChannelInfo& info = emu->channelInfo;
    if (bitrate != -1) info.BitRate = bitrate;
    if (srate != -1) info.SampleRate = srate;
    if (stereo != -1) info.Channels = static_cast<uint16_t>(stereo);
    Notify(WM_NOTIFY_CHANNELINFO, 0, Pack(info));
}

// --- the hidden window -------------------------------------------------------

TMsgHandler::TMsgHandler(std::function<void()> clearActive) : clearActive_(std::move(clearActive)) {
    handle_ = win::CreateMessageWindow([this](const win::Message& m) { return Handle(m); });
}

TMsgHandler::~TMsgHandler() {
    win::DestroyMessageWindow(handle_);
}

// A stream that follows one still draining is queued behind its last
// sample; any other starts now. Its start is told with the stream (lParam).
void StartOutput(HSTREAM stream, const std::string& info) {
    Output& o = Current();
    if (stream == 0 || stream != o.stream.load()) return;  // closed meanwhile
    const Output* outgoing = Outgoing();
    const HSTREAM before = outgoing ? outgoing->stream.load() : 0;
    const DWORD state = before ? BASS_ChannelIsActive(before) : BASS_ACTIVE_STOPPED;
    const bool draining = state == BASS_ACTIVE_PLAYING || state == BASS_ACTIVE_STALLED;
    o.queued = draining && BASS_StreamPlayAfter(stream, before);
    if (!o.queued) BASS_StreamPlay(stream, FALSE, 0);
    o.startPosted = false;
    Notify(WM_NOTIFY_PLUGINSTART, win::GetTickCount(), info, static_cast<win::LPARAM>(stream));
}

win::LRESULT TMsgHandler::Handle(const win::Message& m) {
    switch (m.msg) {
        case win::WM_QUERYENDSESSION:
            return 1;
        case WM_PLUGIN_EOF: {
            // Stamped with the stream open when it was posted (PostMessageA):
            // the end of a stream closed since is dropped.
            const auto stream = static_cast<HSTREAM>(m.lParam);
            Output& o = Current();
            if (stream != 0 && stream != o.stream.load()) break;
            o.allWritten = true;
            WakeReader(o, true);
            TellAllWritten(o);
            Notify(WM_NOTIFY_PLUGINEOF, stream);
            break;
        }
        case WM_START_OUTPUT:
            StartOutput(static_cast<HSTREAM>(m.lParam), m.text);
            break;
        case WM_CLEAR_ACTIVE:
            if (clearActive_) clearActive_();
            break;
        case WM_SHOW_BOX:
            ShowOwnBox(static_cast<Box>(m.wParam));
            break;
        default:
            break;
    }
    return 0;
}

// Lets go of the audio library: later uses are refused, and the ones inside
// are waited for (they take no longer than a call into the library). False
// when one is still inside: the library must then stay bound.
bool LetGoOfLibrary() {
    emu->libraryHeld.store(false);
    for (int round = 0; round < kLetGoRounds && emu->libraryUsers.load() > 0; ++round)
        std::this_thread::sleep_for(kLetGoStep);
    return emu->libraryUsers.load() == 0;
}

// The record plug-ins are handed, filled once: a plug-in's thread of an
// earlier run may still read it.
void FillRecord() {
    Out_Module& o = emu->out;
    o.version = OUT_VER;
    o.description = const_cast<char*>("BASS Winamp output plug-in emulator");
    o.id = 65537;
    o.hDllInstance = nullptr;
    o.Config = Config;
    o.About = About;
    o.Init = Init;
    o.Quit = Quit;
    o.Open = Open;
    o.Close = Close;
    o.Write = Write;
    o.CanWrite = CanWrite;
    o.IsPlaying = IsPlaying;
    o.Pause = Pause;
    o.SetVolume = SetVolume;
    o.SetPan = SetPan;
    o.Flush = Flush;
    o.GetOutputTime = GetOutputTime;
    o.GetWrittenTime = GetWrittenTime;
}

// The state of a new run: no stream, empty rings, the library held.
void StartAfresh(std::function<void()> clearActive) {
    emu->clearActive = std::move(clearActive);
    for (Output& o : emu->outputs) {
        o.stream = 0;
        o.closing = false;
        ResetRing(o);
        o.waitingToStart = false;
        o.sampleRate = o.bitsPerSample = o.channels = 0;
        o.threshold = 0;
        o.timeOffset = 0;
    }
    emu->current = 0;
    emu->outgoing = -1;
    emu->keepNext = false;
    emu->libraryHeld = true;
}

}  // namespace

bool Setup(std::function<void()> clearActive, win::HWND applicationWindow) {
    const bool made = emu == nullptr;
    if (made) emu = new (std::nothrow) Emulator;
    if (!emu) return false;
    if (made) FillRecord();
    StartAfresh(std::move(clearActive));
    // Written only when it changes: the record is the same for every run.
    const auto window = reinterpret_cast<HWND>(applicationWindow);
    if (emu->out.hMainWindow != window) emu->out.hMainWindow = window;
    emu->out.Init();
    return true;
}

bool Teardown() {
    if (!emu || !emu->libraryHeld.load()) return true;
    if (BASS_Loaded()) {
        FreeOutgoing();
        Close();
    } else {
        for (Output& o : emu->outputs) o.stream = 0;
        emu->outgoing = -1;
    }
    emu->out.Quit();
    return LetGoOfLibrary();
}

bool Ready() {
    return emu && emu->ready;
}

void* OutModule() {
    return Ready() ? &emu->out : nullptr;
}

win::HWND Window() {
    return emu ? emu->window.load() : 0;
}

win::LPARAM StampPluginEnd(win::HWND window, unsigned msg, win::LPARAM lParam) {
    if (!emu || msg != WM_PLUGIN_EOF || window == 0 || window != emu->window.load()) return lParam;
    return static_cast<win::LPARAM>(Current().stream.load());
}

void SetNotifyWindow(win::HWND window) {
    if (emu) emu->notifyWindow = window;
}

void SetSeekPending() {
    if (emu) Current().seekPending = true;
}

void StartNextOutputAtFirstBlock(bool atFirstBlock) {
    if (emu) emu->nextAtFirstBlock = atFirstBlock;
}

void KeepOutputPlaying(bool keep) {
    if (emu) emu->keepNext = keep;
}

HSTREAM CurrentStream() {
    return emu ? Current().stream.load() : 0;
}

HSTREAM OutgoingStream() {
    const Output* o = emu ? Outgoing() : nullptr;
    return o ? o->stream.load() : 0;
}

int OutgoingTimeMs() {
    const Output* o = emu ? Outgoing() : nullptr;
    return o ? OutputTimeOf(*o) : 0;
}

bool AllWritten() {
    return emu && Current().stream.load() != 0 && Current().allWritten.load();
}

// GUI thread.
void FreeOutgoing() {
    if (!emu) return;
    const int index = emu->outgoing.exchange(-1);
    if (index < 0) return;
    const LibraryUse library;
    if (library) FreeStream(emu->outputs[static_cast<size_t>(index)]);
}

void InstallHostFunctions(In_Module* m) {
    m->SAVSAInit = SAVSAInit;
    m->SAVSADeInit = SAVSADeInit;
    m->SAAddPCMData = SAAddPCMData;
    m->SAGetMode = SAGetMode;
    m->SAAdd = SAAdd;
    m->VSAAddPCMData = VSAAddPCMData;
    m->VSAGetMode = VSAGetMode;
    m->VSAAdd = VSAAdd;
    m->VSASetInfo = VSASetInfo;
    m->dsp_isactive = dsp_isactive;
    m->dsp_dosamples = dsp_dosamples;
    m->SetInfo = SetInfo;
}

uint32_t RingCapacityMs() {
    if (!emu) return 0;
    const int b = BytesPerSecond(Current());
    return b > 0 ? static_cast<uint32_t>(uint64_t{kav::PcmRing::Size} * 1000 / b) : 0;
}

std::string Pack(const TChannelInfo& info) {
    return std::string(reinterpret_cast<const char*>(&info), sizeof info);
}

bool Unpack(const win::Message& message, TChannelInfo& info) {
    if (message.text.size() != sizeof info) return false;
    std::memcpy(&info, message.text.data(), sizeof info);
    return true;
}

RingState State() {
    if (!emu) return {};
    const Output& o = Current();
    return {o.ring.readPos(), o.ring.writePos(),       o.ring.used(),  o.ring.free(),
            o.written.load(), o.waitingToStart.load(), o.stream.load()};
}

}  // namespace ioplug

// Plug-ins post the end of their file with PostMessage(hMainWindow, ...),
// resolved against the host executable when they are loaded. Any thread; a
// handle that is not a live message window gets 0.
extern "C" __attribute__((visibility("default"))) BOOL PostMessageA(HWND hWnd, UINT Msg,
                                                                    WPARAM wParam, LPARAM lParam) {
    const auto window = reinterpret_cast<win::HWND>(hWnd);
    return window != 0 && win::PostMessage(window, Msg, wParam,
                                           ioplug::StampPluginEnd(window, Msg, lParam))
               ? 1
               : 0;
}
