#include "platform/bassbind/Dynamic_BASS.h"

#include "platform/bassbind/LibraryBinding.h"

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
    return kav_binding::Load(bassModule, path, bindEntryPoints, clearEntryPoints);
}

void Unload_BASSDLL() {
    if (!bassModule) return;
    BASS_Free();
    kav_binding::Unload(bassModule, clearEntryPoints);
}

bool BASS_Loaded() {
    return bassModule != nullptr;
}
