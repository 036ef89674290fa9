#define KAV_WINAMP_HOST
#include "plugins/DSPHost.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "platform/win/Application.h"
#include "platform/winamp/DSP.h"
#include "plugins/ForeignCall.h"

namespace {

// A module call takes microseconds; the wait for one in progress is bounded
// all the same.
constexpr auto kDrainStep = std::chrono::milliseconds(1);
constexpr int kDrainRounds = 2000;
// How long the main thread waits for a call into the module or its library.
constexpr std::chrono::milliseconds kCallLimit{2000};

struct LibrarySlot {
    win::HMODULE handle = nullptr;
    winampDSPGetHeader2Func getHeader = nullptr;
    std::string path;
};

struct ModuleTable {
    TDSPModules modules{};
    int32_t count = 0;
    int32_t selected = -1;
    bool needsQuit = false;  // the selected module was initialised and not yet quit
    // Shared with the decoding thread.
    std::atomic<winampDSPModule*> current{nullptr};
    std::atomic<bool> active{false};
    std::atomic<int> callsInside{0};
};

LibrarySlot& library() {
    static LibrarySlot slot;
    return slot;
}

// Libraries one of whose calls overran: never called again, and never
// released (the call may still be inside).
std::vector<win::HMODULE>& brokenLibraries() {
    static std::vector<win::HMODULE> libraries;
    return libraries;
}

bool isBroken(win::HMODULE handle) {
    const auto& broken = brokenLibraries();
    return std::find(broken.begin(), broken.end(), handle) != broken.end();
}

void markBroken(const char* what) {
    LibrarySlot& slot = library();
    if (!isBroken(slot.handle)) brokenLibraries().push_back(slot.handle);
    if (win::QuitRequested())
        std::fprintf(stderr, "kav: DSP plug-in %s retired: %s did not return before the end\n",
                     slot.path.c_str(), what);
    else
        std::fprintf(stderr, "kav: DSP plug-in %s retired: %s did not return within %lld s\n",
                     slot.path.c_str(), what, static_cast<long long>(kCallLimit.count() / 1000));
    std::fflush(stderr);
}

// Calls fn on the thread of plug-in calls, at most kCallLimit; a call that
// overruns marks the loaded library broken. False then, or when the library
// is broken already (nothing is called).
template <class Fn>
bool callLibrary(const char* what, Fn fn) {
    if (isBroken(library().handle)) return false;
    if (foreign::Call(fn, kCallLimit)) return true;
    markBroken(what);
    return false;
}

ModuleTable& table() {
    static ModuleTable t;
    return t;
}

// getModule(i) of the header, bounded; null when it does not answer in time.
winampDSPModule* askModule(const winampDSPHeader& header, int i) {
    auto module = std::make_shared<winampDSPModule*>(nullptr);
    const auto getModule = header.getModule;
    if (!callLibrary("getModule", [getModule, i, module] { *module = getModule(i); }))
        return nullptr;
    return *module;
}

// The decoding thread raises callsInside before it reads the flag; this side
// lowers the flag before it reads callsInside (both sequentially consistent),
// so once this returns no call is inside the module and none will enter. A
// ModifySamples still inside after the wait marks the library broken: its
// Quit would free what that call uses.
void deactivate() {
    ModuleTable& t = table();
    t.active = false;
    const int rounds = win::QuitRequested() ? kDrainRounds / 10 : kDrainRounds;
    for (int i = 0; i < rounds && t.callsInside.load() > 0; ++i)
        std::this_thread::sleep_for(kDrainStep);
    if (t.callsInside.load() > 0 && !isBroken(library().handle)) markBroken("ModifySamples");
}

void quitSelected() {
    ModuleTable& t = table();
    deactivate();
    if (!t.needsQuit) return;
    t.needsQuit = false;
    winampDSPModule* module = t.modules[t.selected];
    if (module->Quit) callLibrary("Quit", [module] { module->Quit(module); });
}

}  // namespace

bool LoadDSPDll(const std::string& path) {
    FreeDSPDll();
    LibrarySlot& slot = library();
    slot.handle = win::LoadLibrary(path);
    if (!slot.handle) return false;
    if (isBroken(slot.handle)) {  // loaded still; this load's reference goes again
        win::FreeLibrary(slot.handle);
        slot.handle = nullptr;
        return false;
    }
    slot.getHeader = reinterpret_cast<winampDSPGetHeader2Func>(
        win::GetProcAddress(slot.handle, "winampDSPGetHeader2"));
    if (!slot.getHeader) {
        FreeDSPDll();
        return false;
    }
    slot.path = path;
    return true;
}

void FreeDSPDll() {
    LibrarySlot& slot = library();
    slot.getHeader = nullptr;
    if (!slot.handle) return;
    if (!isBroken(slot.handle)) win::FreeLibrary(slot.handle);
    slot.handle = nullptr;
    slot.path.clear();
}

const std::string& DSPDllPath() {
    return library().path;
}

void LoadDSPModules(const std::string& path, winampDSPHeader*& header, TDSPModules& modules,
                    win::HWND parent, int32_t& count) {
    ModuleTable& t = table();
    // A module still running belongs to the library about to be released.
    if (t.count > 0) quitSelected();
    count = 0;
    t.count = 0;
    header = nullptr;
    if (!LoadDSPDll(path)) return;
    auto asked = std::make_shared<winampDSPHeader*>(nullptr);
    const auto getHeader = library().getHeader;
    if (!callLibrary("winampDSPGetHeader2", [getHeader, asked] { *asked = getHeader(); })) return;
    header = *asked;
    if (!header) return;
    int32_t found = 0;
    for (int i = 0; i < MaxDSPModules; ++i) {
        modules[i] = header->getModule ? askModule(*header, i) : nullptr;
        if (!modules[i]) break;
        modules[i]->hwndParent = reinterpret_cast<HWND>(parent);
        modules[i]->hDllInstance = static_cast<HINSTANCE>(library().handle);
        ++found;
    }
    for (int i = found; i < MaxDSPModules; ++i) modules[i] = nullptr;
    t.modules = modules;
    t.count = found;
    count = found;
    t.selected = -1;
    t.needsQuit = false;
}

int32_t SelectDSPModule(uint16_t index) {
    ModuleTable& t = table();
    if (t.count == 0 || index > t.count - 1 || index == t.selected) return -1;
    if (t.selected >= 0) quitSelected();
    t.selected = index;
    winampDSPModule* module = t.modules[index];
    t.current = module;
    t.needsQuit = true;
    // An Init that overruns counts as one that failed.
    auto result = std::make_shared<int32_t>(-1);
    if (!module->Init)
        *result = 0;
    else if (!callLibrary("Init", [module, result] { *result = module->Init(module); }))
        *result = -1;
    if (*result == 0) t.active = true;
    return *result;
}

int32_t StopDSPModule() {
    if (table().count == 0) return -1;
    quitSelected();
    return 0;
}

int32_t UnloadDSPModules() {
    ModuleTable& t = table();
    if (t.count == 0) return -1;
    quitSelected();
    t.current = nullptr;
    FreeDSPDll();
    t.count = 0;
    t.modules = {};
    return 0;
}

int32_t DSPModuleCount() {
    return table().count;
}

int32_t SelectedDSPModule() {
    return table().selected;
}

bool DSPActive() {
    return table().active.load();
}

int DSPModifySamples(short int* samples, int numsamples, int bps, int nch, int srate) {
    ModuleTable& t = table();
    t.callsInside.fetch_add(1);
    int result = 0;
    if (t.active.load()) {
        winampDSPModule* module = t.current.load();
        if (module && module->ModifySamples)
            result = module->ModifySamples(module, samples, numsamples, bps, nch, srate);
    }
    t.callsInside.fetch_sub(1);
    return result;
}
