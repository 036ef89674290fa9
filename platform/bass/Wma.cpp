// The exported C functions of basswma.dll: WMA/ASF files and addresses, decoded
// and played by bass.dll.
#include "bass_export.h"

extern "C" {
HSTREAM kavbass_WmaStreamCreate(BOOL mem, const void* file, DWORD offset, DWORD length,
                                DWORD flags);
void kavbass_SetError(int code);

BASS_API HSTREAM BASS_WMA_StreamCreateFile(BOOL mem, const void* file, DWORD offset, DWORD length,
                                           DWORD flags) {
    return kavbass_WmaStreamCreate(mem, file, offset, length, flags);
}

// There is no Windows Media reader object behind these streams.
BASS_API void* BASS_WMA_GetIWMReader(HSTREAM /*handle*/) {
    kavbass_SetError(BASS_ERROR_NOTAVAIL);
    return nullptr;
}
}
