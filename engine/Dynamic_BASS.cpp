#include "engine/Dynamic_BASS.h"

#include "platform/win/DynLib.h"

#define KAV_BASS_DEFINE(result, name, params) T##name name = nullptr;
KAV_BASS_ENTRY_POINTS(KAV_BASS_DEFINE)
#undef KAV_BASS_DEFINE

namespace {

win::HMODULE bassModule = nullptr;

void clearEntryPoints() {
#define KAV_BASS_CLEAR(result, name, params) name = nullptr;
    KAV_BASS_ENTRY_POINTS(KAV_BASS_CLEAR)
#undef KAV_BASS_CLEAR
}

bool bindEntryPoints(win::HMODULE m) {
    bool all = true;
#define KAV_BASS_BIND(result, name, params)                          \
    name = reinterpret_cast<T##name>(win::GetProcAddress(m, #name)); \
    all = all && name != nullptr;
    KAV_BASS_ENTRY_POINTS(KAV_BASS_BIND)
#undef KAV_BASS_BIND
    return all;
}

}  // namespace

bool Load_BASSDLL(const std::string& path) {
    if (bassModule) return true;
    win::HMODULE m = win::LoadLibrary(path);
    if (!m) return false;
    if (!bindEntryPoints(m)) {
        clearEntryPoints();
        win::FreeLibrary(m);
        return false;
    }
    bassModule = m;
    return true;
}

void Unload_BASSDLL() {
    if (!bassModule) return;
    BASS_Free();
    clearEntryPoints();
    win::FreeLibrary(bassModule);
    bassModule = nullptr;
}

bool BASS_Loaded() {
    return bassModule != nullptr;
}
