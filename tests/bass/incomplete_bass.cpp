// A stand-in library with only a few of the audio library's entry points, for
// the binding's refusal of incomplete libraries.
#include "platform/bass/bass_types.h"

extern "C" __attribute__((visibility("default"))) DWORD BASS_GetVersion() {
    return 2;
}
extern "C" __attribute__((visibility("default"))) BOOL BASS_Free() {
    return TRUE;
}
