#define KAV_WINAMP_HOST
#include "plugins/PluginCtrl.h"

#include <array>
#include <vector>

#include "platform/win/ProgramDir.h"
#include "platform/winamp/In_Module.h"
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

int lowestEmptySlot() {
    for (int i = 0; i < MaxPluginNum; ++i)
        if (!state().slots[i]) return i;
    return -1;
}

// Steps 4 and 5 of a load: the library with every symbol bound now, and its
// module.
int openModule(const std::string& name, win::HMODULE& library, In_Module*& module) {
    library = win::LoadLibrary(win::ProgramDir() + win::PathDelim + name);
    if (!library) return PLUGIN_LOAD_FAILED;
    auto entry = reinterpret_cast<winampGetInModule2Func>(
        win::GetProcAddress(library, "winampGetInModule2"));
    module = entry ? entry() : nullptr;
    if (!module) {
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
    s.ready = false;
    if (ioplug::Setup([] { state().activeIndex = -1; })) {
        ioplug::SetNotifyWindow(s.notifyWindow);
        s.ready = ioplug::Ready();
    }
    s.activeIndex = -1;
    return s.ready;
}

void QuitPluginCtrl() {
    ManagerState& s = state();
    for (int i = 0; i < MaxPluginNum; ++i) {
        if (!s.slots[i]) continue;
        s.slots[i]->Quit();
        win::FreeLibrary(s.info[i].DLLHandle);
        s.slots[i] = nullptr;
        s.info[i] = TPluginInfo{};
    }
    ioplug::Teardown();
    s.activeIndex = -1;
    s.ready = false;
}

int LoadWinampPlugin(const std::string& name) {
    ManagerState& s = state();
    if (!s.ready) return PLUGIN_NOT_READY;
    if (GetPluginIndex(name) >= 0) return PLUGIN_ALREADY_LOADED;
    const int slot = lowestEmptySlot();
    if (slot < 0) return PLUGIN_NO_SLOT;
    win::HMODULE library = nullptr;
    In_Module* module = nullptr;
    if (const int code = openModule(name, library, module); code != PLUGIN_OK) return code;
    module->hMainWindow = reinterpret_cast<HWND>(ioplug::Window());
    module->hDllInstance = reinterpret_cast<HINSTANCE>(library);
    module->outMod = static_cast<Out_Module*>(ioplug::OutModule());
    module->Init();
    ioplug::InstallHostFunctions(module);
    s.slots[slot] = module;
    s.info[slot] = describe(name, *module, library);
    return PLUGIN_OK;
}

int UnloadWinampPlugin(const std::string& name) {
    ManagerState& s = state();
    const int index = GetPluginIndex(name);
    if (index < 0) return PLUGIN_NOT_LOADED;
    if (index == s.activeIndex) return PLUGIN_IN_USE;
    s.slots[index]->Quit();
    if (!win::FreeLibrary(s.info[index].DLLHandle)) return PLUGIN_FREE_FAILED;
    s.slots[index] = nullptr;
    return PLUGIN_OK;
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

win::HWND GetEmulatorWindow() {
    return ioplug::Window();
}

void SetSeekPending() {
    ioplug::SetSeekPending();
}

int PluginPlay(In_Module* module, const std::string& file) {
    if (!module) return -1;
    std::vector<char> name(file.begin(), file.end());
    name.push_back('\0');
    return module->Play(name.data());
}

void PluginStop(In_Module* module) {
    if (module) module->Stop();
}

int PluginGetOutputTime(In_Module* module) {
    return module ? module->GetOutputTime() : 0;
}

void PluginSetOutputTime(In_Module* module, int ms) {
    if (module) module->SetOutputTime(ms);
}

void PluginGetFileInfo(In_Module* module, const std::string& file, std::string& title,
                       int& lengthMs) {
    title.clear();
    lengthMs = 0;
    if (!module) return;
    std::vector<char> name(file.begin(), file.end());
    name.push_back('\0');
    std::vector<char> buffer(kTitleBuffer + 1, '\0');
    module->GetFileInfo(file.empty() ? nullptr : name.data(), buffer.data(), &lengthMs);
    buffer[kTitleBuffer] = '\0';
    title = std::string(buffer.data());
    if (title.size() > kTitleMax) title.resize(kTitleMax);
}
