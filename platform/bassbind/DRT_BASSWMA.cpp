#include "platform/bassbind/DRT_BASSWMA.h"

#include "platform/bassbind/LibraryBinding.h"

#define KAV_BASSWMA_DEFINE(result, name, params) T##name name = nullptr;
KAV_BASSWMA_ENTRY_POINTS(KAV_BASSWMA_DEFINE)
#undef KAV_BASSWMA_DEFINE

namespace {

win::HMODULE wmaModule = nullptr;

void clearEntryPoints() {
#define KAV_BASSWMA_CLEAR(result, name, params) name = nullptr;
    KAV_BASSWMA_ENTRY_POINTS(KAV_BASSWMA_CLEAR)
#undef KAV_BASSWMA_CLEAR
}

bool bindEntryPoints(win::HMODULE m) {
    bool all = true;
#define KAV_BASSWMA_BIND(result, name, params)                       \
    name = reinterpret_cast<T##name>(win::GetProcAddress(m, #name)); \
    all = all && name != nullptr;
    KAV_BASSWMA_ENTRY_POINTS(KAV_BASSWMA_BIND)
#undef KAV_BASSWMA_BIND
    return all;
}

}  // namespace

bool Load_BASSWMADLL(const std::string& path) {
    return kav_binding::Load(wmaModule, path, bindEntryPoints, clearEntryPoints);
}

void Unload_BASSWMADLL() {
    if (!wmaModule) return;
    kav_binding::Unload(wmaModule, clearEntryPoints);
}

bool BASSWMA_Loaded() {
    return wmaModule != nullptr;
}
