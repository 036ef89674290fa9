// Run-time binding of basswma.dll, the WMA add-on of bass.dll.
#pragma once

#include <string>

#include "platform/bass/bass_types.h"

#define KAV_BASSWMA_ENTRY_POINTS(X)                                          \
    X(HSTREAM, BASS_WMA_StreamCreateFile,                                    \
      (BOOL mem, const void* file, DWORD offset, DWORD length, DWORD flags)) \
    X(void*, BASS_WMA_GetIWMReader, (HSTREAM handle))

#define KAV_BASSWMA_DECLARE(result, name, params) \
    typedef result(*T##name) params;              \
    extern T##name name;
KAV_BASSWMA_ENTRY_POINTS(KAV_BASSWMA_DECLARE)
#undef KAV_BASSWMA_DECLARE

// Same rules as Load_BASSDLL; bass.dll must be loadable beside it.
bool Load_BASSWMADLL(const std::string& path);
void Unload_BASSWMADLL();
bool BASSWMA_Loaded();
