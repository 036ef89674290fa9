#include "tests/winamp/TestHost.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "tests/support/BinDir.h"

namespace wtest {

namespace {

constexpr std::size_t kRingBytes = 65536;

struct Host {
    std::mutex mutex;
    std::condition_variable posted;
    int endMessages = 0;

    // The output module's state, guarded by mutex.
    OutputLog log;
    std::vector<std::uint8_t> ring = std::vector<std::uint8_t>(kRingBytes);
    std::size_t readPos = 0, used = 0;
    bool open = false, paused = false, hold = false;
    double speed = 20.0;
    double owed = 0;  // bytes the clock has advanced but not yet taken
    std::size_t heardSinceFlush = 0;
    int offsetMs = 0;

    std::atomic<DspFunction> dsp{nullptr};
    std::atomic<int> visCalls{0};
};

Host& host() {
    static Host* h = new Host;  // lives as long as the drain thread
    return *h;
}

int bytesPerSecond(const OutputLog& log) {
    return log.rate * log.channels * (log.bits / 8);
}

// Takes what the clock owes from the ring, as a sound card would.
void drain(double seconds) {
    Host& h = host();
    std::lock_guard lock(h.mutex);
    if (!h.open || h.paused || h.hold) return;
    const int frameBytes = h.log.channels * (h.log.bits / 8);
    h.owed += seconds * h.speed * bytesPerSecond(h.log);
    auto take = std::min<std::size_t>(static_cast<std::size_t>(h.owed), h.used);
    take -= take % static_cast<std::size_t>(frameBytes);
    if (take == 0 && h.used == 0) h.owed = 0;
    h.owed -= static_cast<double>(take);
    for (std::size_t i = 0; i < take; ++i) {
        h.log.heard.push_back(h.ring[h.readPos]);
        h.readPos = (h.readPos + 1) % kRingBytes;
    }
    h.used -= take;
    h.heardSinceFlush += take;
}

void startClock() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::thread([] {
            auto last = std::chrono::steady_clock::now();
            for (;;) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                const auto now = std::chrono::steady_clock::now();
                drain(std::chrono::duration<double>(now - last).count());
                last = now;
            }
        }).detach();
    });
}

void resetRing(Host& h) {
    h.readPos = 0;
    h.used = 0;
    h.owed = 0;
    h.heardSinceFlush = 0;
}

// The output module.
void Config(HWND) {}
void About(HWND) {}
void Init() {}
void Quit() {}
int Open(int rate, int channels, int bits, int, int) {
    Host& h = host();
    std::lock_guard lock(h.mutex);
    h.log.rate = rate;
    h.log.channels = channels;
    h.log.bits = bits;
    ++h.log.opens;
    h.open = true;
    h.paused = false;
    h.offsetMs = 0;
    resetRing(h);
    return 100;
}
void Close() {
    Host& h = host();
    std::lock_guard lock(h.mutex);
    ++h.log.closes;
    h.open = false;
}
int Write(char* buf, int len) {
    Host& h = host();
    std::lock_guard lock(h.mutex);
    if (!h.open) {
        ++h.log.writesWhileClosed;
        return 1;
    }
    if (len < 0 || static_cast<std::size_t>(len) > kRingBytes - h.used) {
        ++h.log.refusedWrites;
        return 1;
    }
    for (int i = 0; i < len; ++i)
        h.ring[(h.readPos + h.used + static_cast<std::size_t>(i)) % kRingBytes] =
            static_cast<std::uint8_t>(buf[i]);
    h.used += static_cast<std::size_t>(len);
    return 0;
}
int CanWrite() {
    Host& h = host();
    std::lock_guard lock(h.mutex);
    return h.open ? static_cast<int>(kRingBytes - h.used) : 0;
}
int IsPlaying() {
    Host& h = host();
    std::lock_guard lock(h.mutex);
    return h.open && h.used > 0 ? 1 : 0;
}
int Pause(int pause) {
    Host& h = host();
    std::lock_guard lock(h.mutex);
    const int was = h.paused ? 1 : 0;
    h.paused = pause != 0;
    h.log.pauses.push_back(pause);
    return was;
}
void SetVolume(int volume) {
    std::lock_guard lock(host().mutex);
    host().log.volume = volume;
}
void SetPan(int pan) {
    std::lock_guard lock(host().mutex);
    host().log.pan = pan;
}
void Flush(int ms) {
    Host& h = host();
    std::lock_guard lock(h.mutex);
    h.log.flushes.push_back({ms, h.log.heard.size()});
    h.offsetMs = ms;
    resetRing(h);
}
int GetOutputTime() {
    Host& h = host();
    std::lock_guard lock(h.mutex);
    const int bps = bytesPerSecond(h.log);
    return bps ? h.offsetMs + static_cast<int>(h.heardSinceFlush * 1000 / bps) : 0;
}
int GetWrittenTime() {
    return GetOutputTime();
}

char outDescription[] = "test output";
Out_Module output = {OUT_VER,   outDescription, 1,        nullptr,       nullptr,
                     Config,    About,          Init,     Quit,          Open,
                     Close,     Write,          CanWrite, IsPlaying,     Pause,
                     SetVolume, SetPan,         Flush,    GetOutputTime, GetWrittenTime};

// The host functions of the input module.
void SAVSAInit(int, int) {}
void SAVSADeInit() {}
void AddPCM(void*, int, int, int) {
    ++host().visCalls;
}
int SAGetMode() {
    return 0;
}
int SAAdd(void*, int, int) {
    return 0;
}
int VSAGetMode(int*, int*) {
    return 0;
}
int VSAAdd(void*, int) {
    return 0;
}
void VSASetInfo(int, int) {}
int dsp_isactive() {
    return host().dsp.load() ? 1 : 0;
}
int dsp_dosamples(short* samples, int frames, int bps, int nch, int srate) {
    const DspFunction dsp = host().dsp.load();
    return dsp ? dsp(samples, frames, bps, nch, srate) : frames;
}
void SetInfo(int bitrate, int srate, int channels, int synched) {
    std::lock_guard lock(host().mutex);
    host().log.setInfo = {bitrate, srate, channels, synched};
}

}  // namespace

HWND mainWindow() {
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x5150));
}

int endMessages() {
    std::lock_guard lock(host().mutex);
    return host().endMessages;
}

bool waitForEnd(std::chrono::milliseconds limit) {
    std::unique_lock lock(host().mutex);
    return host().posted.wait_for(lock, limit, [] { return host().endMessages > 0; });
}

void resetHost(double speed) {
    startClock();
    Host& h = host();
    std::lock_guard lock(h.mutex);
    h.log = OutputLog{};
    h.endMessages = 0;
    h.speed = speed;
    h.open = h.paused = h.hold = false;
    resetRing(h);
    h.dsp = nullptr;
    h.visCalls = 0;
}

OutputLog outputLog() {
    std::lock_guard lock(host().mutex);
    return host().log;
}

void holdOutput(bool hold) {
    std::lock_guard lock(host().mutex);
    host().hold = hold;
}

void setDsp(DspFunction dsp) {
    host().dsp = dsp;
}
int visualisationCalls() {
    return host().visCalls;
}

LoadedPlugin::LoadedPlugin(const std::string& file, bool withVisualisation) {
    const std::string path = (TestBinDir() / file).string();
    library_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library_) {
        error_ = ::dlerror();
        return;
    }
    auto entry = reinterpret_cast<winampGetInModule2Func>(::dlsym(library_, "winampGetInModule2"));
    module_ = entry ? entry() : nullptr;
    if (!module_) {
        error_ = "no winampGetInModule2";
        return;
    }
    module_->hMainWindow = mainWindow();
    module_->hDllInstance = static_cast<HINSTANCE>(library_);
    module_->outMod = &output;
    module_->Init();
    module_->SAVSAInit = SAVSAInit;
    module_->SAVSADeInit = SAVSADeInit;
    module_->SAAddPCMData = withVisualisation ? AddPCM : nullptr;
    module_->SAGetMode = SAGetMode;
    module_->SAAdd = SAAdd;
    module_->VSAAddPCMData = withVisualisation ? AddPCM : nullptr;
    module_->VSAGetMode = VSAGetMode;
    module_->VSAAdd = VSAAdd;
    module_->VSASetInfo = VSASetInfo;
    module_->dsp_isactive = dsp_isactive;
    module_->dsp_dosamples = dsp_dosamples;
    module_->SetInfo = SetInfo;
}

LoadedPlugin::~LoadedPlugin() {
    if (module_) module_->Quit();
    if (library_) ::dlclose(library_);
}

}  // namespace wtest

// What plug-ins resolve at load: posts reach only the host's window.
extern "C" __attribute__((visibility("default"))) BOOL PostMessageA(HWND window, UINT msg, WPARAM,
                                                                    LPARAM) {
    using namespace wtest;
    if (window != mainWindow()) return 0;
    std::lock_guard lock(host().mutex);
    if (msg == WM_WA_MPEG_EOF) ++host().endMessages;
    host().posted.notify_all();
    return 1;
}
