#define KAV_WINAMP_HOST
#include "plugins/DSPHost.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/winamp/DSP.h"

namespace {

// A module call takes microseconds; the wait for one in progress is bounded
// all the same.
constexpr auto kDrainStep = std::chrono::milliseconds(1);
constexpr int kDrainRounds = 2000;

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

ModuleTable& table() {
    static ModuleTable t;
    return t;
}

// The decoding thread raises callsInside before it reads the flag; this side
// lowers the flag before it reads callsInside (both sequentially consistent),
// so once this returns no call is inside the module and none will enter.
void deactivate() {
    ModuleTable& t = table();
    t.active = false;
    for (int i = 0; i < kDrainRounds && t.callsInside.load() > 0; ++i)
        std::this_thread::sleep_for(kDrainStep);
}

void quitSelected() {
    ModuleTable& t = table();
    deactivate();
    if (!t.needsQuit) return;
    t.needsQuit = false;
    winampDSPModule* module = t.modules[t.selected];
    if (module->Quit) module->Quit(module);
}

}  // namespace

bool LoadDSPDll(const std::string& path) {
    FreeDSPDll();
    LibrarySlot& slot = library();
    slot.handle = win::LoadLibrary(path);
    if (!slot.handle) return false;
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
    win::FreeLibrary(slot.handle);
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
    header = library().getHeader();
    if (!header) return;
    int32_t found = 0;
    for (int i = 0; i < MaxDSPModules; ++i) {
        modules[i] = header->getModule ? header->getModule(i) : nullptr;
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
    const int32_t result = module->Init ? module->Init(module) : 0;
    if (result == 0) t.active = true;
    return result;
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
