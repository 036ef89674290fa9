#include "plugins/PluginCtrl.h"

#include <array>

// The output emulator that a plug-in writes through is not part of this build
// yet: the manager therefore never becomes ready, every load is refused with
// PLUGIN_NOT_READY, and all slots stay empty. The slot rules below are the ones
// loaded plug-ins will be looked up by.
namespace {

struct ManagerState {
    std::array<In_Module*, MaxPluginNum> slots{};
    std::array<TPluginInfo, MaxPluginNum> info{};
    int activeIndex = -1;
    bool ready = false;
    win::HWND notifyWindow = 0;
    win::HWND emulatorWindow = 0;
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

}  // namespace

bool InitPluginCtrl() {
    ManagerState& s = state();
    s.slots.fill(nullptr);
    s.ready = false;  // set by the output emulator's start-up once it exists
    s.activeIndex = -1;
    return s.ready;
}

void QuitPluginCtrl() {
    ManagerState& s = state();
    for (int i = 0; i < MaxPluginNum; ++i)
        if (s.slots[i] && s.info[i].DLLHandle) win::FreeLibrary(s.info[i].DLLHandle);
    s.ready = false;
    s.emulatorWindow = 0;
}

int LoadWinampPlugin(const std::string& name) {
    ManagerState& s = state();
    if (!s.ready) return PLUGIN_NOT_READY;
    if (GetPluginIndex(name) >= 0) return PLUGIN_ALREADY_LOADED;
    return PLUGIN_NO_SLOT;  // unreachable until the emulator can make the manager ready
}

int UnloadWinampPlugin(const std::string& name) {
    int index = GetPluginIndex(name);
    if (index < 0) return PLUGIN_NOT_LOADED;
    if (index == state().activeIndex) return PLUGIN_IN_USE;
    return PLUGIN_FREE_FAILED;  // no plug-in can be loaded yet, so none is released
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
        if (s.slots[i] && upperAscii(s.info[i].FileExtensions).find(wanted) != std::string::npos)
            return i;
    return -1;
}

int SelectInputPlugin(int index) {
    if (index != -1 && !GetPlugin(index)) return -1;
    state().activeIndex = index;
    return 0;
}

int GetPluginOutputTime(bool fromEmulator) {
    if (fromEmulator) return 0;  // no emulator stream exists
    return PluginGetOutputTime(GetPlugin(state().activeIndex));
}

void SetNotifyWindow(win::HWND window) {
    state().notifyWindow = window;
}

win::HWND GetEmulatorWindow() {
    return state().emulatorWindow;
}

void SetSeekPending() {}

// With no module record layout bound yet, no module can exist: every call
// below receives the null reference of an empty slot.
int PluginPlay(In_Module*, const std::string&) {
    return -1;
}

void PluginStop(In_Module*) {}

int PluginGetOutputTime(In_Module*) {
    return 0;
}

void PluginSetOutputTime(In_Module*, int) {}

void PluginGetFileInfo(In_Module*, const std::string&, std::string& title, int& lengthMs) {
    title.clear();
    lengthMs = 0;
}
