#define KAV_WINAMP_HOST
#include "plugins/PluginCtrl.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <vector>

#include "platform/win/Application.h"
#include "platform/win/MessageBox.h"
#include "platform/win/ProgramDir.h"
#include "platform/winamp/In_Module.h"
#include "plugins/ForeignCall.h"
#include "plugins/ioplug.h"

// The eight slots and their descriptors; main thread only. The plug-ins'
// own threads talk to the output emulator, never to the manager.
namespace {

constexpr size_t kTitleBuffer = 2048;  // later plug-in interfaces write this much
constexpr size_t kTitleMax = 255;

struct ManagerState {
    std::array<In_Module*, MaxPluginNum> slots{};
    std::array<TPluginInfo, MaxPluginNum> info{};
    int activeIndex = -1;
    bool ready = false;
    win::HWND notifyWindow = 0;
    win::HWND applicationWindow = 0;
    // Retired for the run: names refused at load, and libraries kept loaded
    // and never called again.
    std::vector<std::string> retiredNames;
    std::vector<win::HMODULE> retiredLibraries;
};

ManagerState& state() {
    static ManagerState s;
    return s;
}

bool validIndex(int index) {
    return index >= 0 && index < MaxPluginNum;
}

std::string upperAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string textOf(const char* p) {
    return p ? std::string(p) : std::string();
}

template <class T>
bool contains(const std::vector<T>& items, const T& item) {
    return std::find(items.begin(), items.end(), item) != items.end();
}

int lowestEmptySlot() {
    for (int i = 0; i < MaxPluginNum; ++i)
        if (!state().slots[i]) return i;
    return -1;
}

int slotOfLibrary(win::HMODULE library) {
    for (int i = 0; i < MaxPluginNum; ++i)
        if (state().slots[i] && state().info[i].DLLHandle == library) return i;
    return -1;
}

// The slot that holds module; -1 when none does (never loaded, unloaded or
// retired), so nothing calls into it.
int slotOf(const In_Module* module) {
    if (!module) return -1;
    for (int i = 0; i < MaxPluginNum; ++i)
        if (state().slots[i] == module) return i;
    return -1;
}

// Why a call that overran retires its plug-in.
std::string overrun(const std::string& what, std::chrono::milliseconds limit) {
    if (win::QuitRequested()) return what + " did not return before the program ended";
    return what + " did not return within " + std::to_string(limit.count() / 1000) + " s";
}

// Once per retirement: a box that does not wait, and a line on stderr.
void reportRetired(const std::string& name, const std::string& reason) {
    std::fprintf(stderr, "kav: plug-in %s retired: %s\n", name.c_str(), reason.c_str());
    std::fflush(stderr);
    win::MessageBox(0, "Plug-in " + name + " is no longer used: " + reason, "Error",
                    win::MB_ICONERROR);
}

// The library stays loaded (a call may still be inside it) and is never
// called again.
void retireLibrary(const std::string& name, win::HMODULE library, const std::string& reason) {
    ManagerState& s = state();
    if (!contains(s.retiredNames, name)) s.retiredNames.push_back(name);
    if (library && !contains(s.retiredLibraries, library)) s.retiredLibraries.push_back(library);
    reportRetired(name, reason);
}

void retireSlot(int slot, const std::string& reason) {
    ManagerState& s = state();
    const TPluginInfo info = s.info[slot];
    s.slots[slot] = nullptr;
    s.info[slot] = TPluginInfo{};
    // Its output goes with it; a thread of its own may still write, and is
    // not heard (nothing starts a stream that is closed).
    if (s.activeIndex == slot) {
        s.activeIndex = -1;
        if (auto* out = static_cast<Out_Module*>(ioplug::OutModule())) out->Close();
    }
    retireLibrary(info.Name, info.DLLHandle, reason);
}

// Calls fn(module) for the plug-in in slot, waiting at most limit; a call
// that overruns retires the plug-in. False when it did not return in time.
template <class Fn>
bool callSlot(int slot, const char* what, std::chrono::milliseconds limit, Fn fn) {
    In_Module* module = state().slots[slot];
    if (foreign::Call([module, fn] { fn(module); }, limit)) return true;
    retireSlot(slot, overrun(what, limit));
    return false;
}

// As callSlot, for a module the engine holds: nothing is called when no slot
// holds it any more.
template <class Fn>
bool callModule(const In_Module* module, const char* what, std::chrono::milliseconds limit, Fn fn) {
    const int slot = slotOf(module);
    return slot >= 0 && callSlot(slot, what, limit, fn);
}

std::shared_ptr<std::vector<char>> cString(const std::string& text) {
    auto buffer = std::make_shared<std::vector<char>>(text.begin(), text.end());
    buffer->push_back('\0');
    return buffer;
}

// The library's module, asked for within the bound; null when it has none
// or does not answer in time (overran is then set).
In_Module* askModule(win::HMODULE library, bool& overran) {
    auto entry = reinterpret_cast<winampGetInModule2Func>(
        win::GetProcAddress(library, "winampGetInModule2"));
    overran = false;
    if (!entry) return nullptr;
    auto module = std::make_shared<In_Module*>(nullptr);
    overran = !foreign::Call([entry, module] { *module = entry(); }, kPluginCallLimit);
    return overran ? nullptr : *module;
}

// The functions every plug-in must have: the host calls them without asking.
bool hasRequiredFunctions(const In_Module& m) {
    return m.Init && m.Quit && m.Play && m.Stop;
}

// Steps 4 and 5 of a load: the library with every symbol bound now, and its
// module. A library loaded already, under another name or retired, is not
// loaded again.
int openModule(const std::string& name, win::HMODULE& library, In_Module*& module) {
    library = win::LoadLibrary(win::ProgramDir() + win::PathDelim + name);
    if (!library) return PLUGIN_LOAD_FAILED;
    const bool known = slotOfLibrary(library) >= 0;
    const bool retired = contains(state().retiredLibraries, library);
    if (known || retired) {
        win::FreeLibrary(library);  // only the reference this load took
        return known ? PLUGIN_ALREADY_LOADED : PLUGIN_RETIRED;
    }
    bool overran = false;
    module = askModule(library, overran);
    if (overran) {
        retireLibrary(name, library, overrun("winampGetInModule2", kPluginCallLimit));
        return PLUGIN_RETIRED;
    }
    if (!module || !hasRequiredFunctions(*module)) {
        win::FreeLibrary(library);
        return PLUGIN_NOT_VALID;
    }
    return PLUGIN_OK;
}

TPluginInfo describe(const std::string& name, const In_Module& m, win::HMODULE library) {
    TPluginInfo info;
    info.Name = name;
    info.Version = m.version;
    info.Description = textOf(m.description);
    info.FileExtensions = textOf(m.FileExtensions);  // up to the first NUL
    info.Seekable = m.is_seekable;
    info.DLLHandle = library;
    return info;
}

}  // namespace

bool InitPluginCtrl() {
    ManagerState& s = state();
    s.slots.fill(nullptr);
    s.retiredNames.clear();
    s.retiredLibraries.clear();
    s.ready = false;
    if (ioplug::Setup([] { state().activeIndex = -1; }, s.applicationWindow)) {
        ioplug::SetNotifyWindow(s.notifyWindow);
        s.ready = ioplug::Ready();
    }
    s.activeIndex = -1;
    return s.ready;
}

bool QuitPluginCtrl() {
    ManagerState& s = state();
    for (int i = 0; i < MaxPluginNum; ++i) {
        if (!s.slots[i]) continue;
        if (!callSlot(i, "Quit", kPluginCallLimit, [](In_Module* m) { m->Quit(); })) continue;
        win::FreeLibrary(s.info[i].DLLHandle);
        s.slots[i] = nullptr;
        s.info[i] = TPluginInfo{};
    }
    const bool libraryFree = ioplug::Teardown();
    s.activeIndex = -1;
    s.ready = false;
    return libraryFree;
}

int LoadWinampPlugin(const std::string& name) {
    ManagerState& s = state();
    if (!s.ready) return PLUGIN_NOT_READY;
    if (GetPluginIndex(name) >= 0) return PLUGIN_ALREADY_LOADED;
    if (contains(s.retiredNames, name)) return PLUGIN_RETIRED;
    const int slot = lowestEmptySlot();
    if (slot < 0) return PLUGIN_NO_SLOT;
    win::HMODULE library = nullptr;
    In_Module* module = nullptr;
    if (const int code = openModule(name, library, module); code != PLUGIN_OK) return code;
    module->hMainWindow = reinterpret_cast<HWND>(ioplug::Window());
    module->hDllInstance = reinterpret_cast<HINSTANCE>(library);
    module->outMod = static_cast<Out_Module*>(ioplug::OutModule());
    // In the slot while Init runs, so that an Init that overruns retires it.
    s.slots[slot] = module;
    s.info[slot] = describe(name, *module, library);
    if (!callSlot(slot, "Init", kPluginCallLimit, [](In_Module* m) { m->Init(); }))
        return PLUGIN_RETIRED;
    ioplug::InstallHostFunctions(module);
    s.info[slot] = describe(name, *module, library);
    return PLUGIN_OK;
}

int UnloadWinampPlugin(const std::string& name) {
    ManagerState& s = state();
    const int index = GetPluginIndex(name);
    if (index < 0) return PLUGIN_NOT_LOADED;
    if (index == s.activeIndex) return PLUGIN_IN_USE;
    // A Quit that overruns retires the plug-in: it leaves its slot, and its
    // library stays loaded.
    if (!callSlot(index, "Quit", kPluginCallLimit, [](In_Module* m) { m->Quit(); }))
        return PLUGIN_OK;
    if (!win::FreeLibrary(s.info[index].DLLHandle)) return PLUGIN_FREE_FAILED;
    s.slots[index] = nullptr;
    return PLUGIN_OK;
}

void RetirePlugin(const std::string& name, const std::string& reason) {
    if (IsPluginRetired(name)) return;
    const int index = GetPluginIndex(name);
    if (index >= 0)
        retireSlot(index, reason);
    else
        retireLibrary(name, nullptr, reason);
}

bool IsPluginRetired(const std::string& name) {
    return contains(state().retiredNames, name);
}

int GetPluginIndex(const std::string& name) {
    ManagerState& s = state();
    for (int i = 0; i < MaxPluginNum; ++i)
        if (s.slots[i] && s.info[i].Name == name) return i;
    return -1;
}

In_Module* GetPlugin(int index) {
    return validIndex(index) ? state().slots[index] : nullptr;
}

TPluginInfo GetPluginInfo(int index) {
    if (!GetPlugin(index)) return TPluginInfo{};
    return state().info[index];
}

int FindPluginForExt(const std::string& ext) {
    const std::string wanted = upperAscii(ext);
    ManagerState& s = state();
    for (int i = 0; i < MaxPluginNum; ++i)
        if (s.slots[i] &&
            upperAscii(textOf(s.slots[i]->FileExtensions)).find(wanted) != std::string::npos)
            return i;
    return -1;
}

int SelectInputPlugin(int index) {
    if (index != -1 && !GetPlugin(index)) return -1;
    state().activeIndex = index;
    return 0;
}

int GetActivePluginIndex() {
    return state().activeIndex;
}

int GetPluginOutputTime(bool fromEmulator) {
    if (fromEmulator) {
        auto* out = static_cast<Out_Module*>(ioplug::OutModule());
        return out ? out->GetOutputTime() : 0;
    }
    return PluginGetOutputTime(GetPlugin(state().activeIndex));
}

void SetNotifyWindow(win::HWND window) {
    state().notifyWindow = window;
    ioplug::SetNotifyWindow(window);
}

void SetApplicationWindow(win::HWND window) {
    state().applicationWindow = window;
}

win::HWND GetEmulatorWindow() {
    return ioplug::Window();
}

void SetSeekPending() {
    ioplug::SetSeekPending();
}

bool PluginUsable(const In_Module* module) {
    return slotOf(module) >= 0;
}

int PluginPlay(In_Module* module, const std::string& file) {
    auto name = cString(file);
    auto result = std::make_shared<int>(-1);
    if (!callModule(module, "Play", kPluginPlayLimit,
                    [name, result](In_Module* m) { *result = m->Play(name->data()); }))
        return -1;
    return *result;
}

void PluginStop(In_Module* module) {
    callModule(module, "Stop", kPluginCallLimit, [](In_Module* m) { m->Stop(); });
}

int PluginGetOutputTime(In_Module* module) {
    if (!module || !module->GetOutputTime) return 0;
    auto result = std::make_shared<int>(0);
    if (!callModule(module, "GetOutputTime", kPluginCallLimit,
                    [result](In_Module* m) { *result = m->GetOutputTime(); }))
        return 0;
    return *result;
}

void PluginSetOutputTime(In_Module* module, int ms) {
    if (!module || !module->SetOutputTime) return;
    callModule(module, "SetOutputTime", kPluginCallLimit,
               [ms](In_Module* m) { m->SetOutputTime(ms); });
}

void PluginGetFileInfo(In_Module* module, const std::string& file, std::string& title,
                       int& lengthMs) {
    title.clear();
    lengthMs = 0;
    if (!module || !module->GetFileInfo) return;
    struct Answer {
        std::vector<char> name, title = std::vector<char>(kTitleBuffer + 1, '\0');
        int length = 0;
    };
    auto answer = std::make_shared<Answer>();
    answer->name = *cString(file);
    const bool asked = !file.empty();
    if (!callModule(module, "GetFileInfo", kPluginCallLimit, [answer, asked](In_Module* m) {
            m->GetFileInfo(asked ? answer->name.data() : nullptr, answer->title.data(),
                           &answer->length);
        }))
        return;
    answer->title[kTitleBuffer] = '\0';
    title = std::string(answer->title.data());
    if (title.size() > kTitleMax) title.resize(kTitleMax);
    lengthMs = answer->length;
}

void PluginShowConfig(In_Module* module, win::HWND parent) {
    if (!module || !module->Config) return;
    callModule(module, "Config", kPluginCallLimit,
               [parent](In_Module* m) { m->Config(reinterpret_cast<HWND>(parent)); });
}

void PluginShowAbout(In_Module* module, win::HWND parent) {
    if (!module || !module->About) return;
    callModule(module, "About", kPluginCallLimit,
               [parent](In_Module* m) { m->About(reinterpret_cast<HWND>(parent)); });
}

int PluginShowInfoBox(In_Module* module, const std::string& file, win::HWND parent) {
    if (!module || !module->InfoBox) return 0;
    auto name = cString(file);
    auto result = std::make_shared<int>(0);
    callModule(module, "InfoBox", kPluginCallLimit, [name, parent, result](In_Module* m) {
        *result = m->InfoBox(name->data(), reinterpret_cast<HWND>(parent));
    });
    return *result;
}
