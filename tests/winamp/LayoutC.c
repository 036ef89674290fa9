/* The plug-in headers compiled as C: the pinned sizes and offsets hold here
 * too (the headers' own checks run in this unit), and the C sizes are handed
 * to the C++ test to compare with its own. */
#include <stddef.h>

#include "platform/winamp/DSP.h"
#include "platform/winamp/In_Module.h"
#include "platform/winamp/Out_Module.h"

_Static_assert(sizeof(int) == 4, "int is 32 bits");
_Static_assert(sizeof(HWND) == sizeof(void*), "handles are pointer-sized");
_Static_assert(IN_VER == 0x100 && OUT_VER == 0x10 && DSP_HDRVER == 0x20, "versions");
_Static_assert(WM_WA_MPEG_EOF == 1026, "end-of-file message");

size_t kav_c_layout(int which) {
    switch (which) {
        case 0:
            return sizeof(In_Module);
        case 1:
            return offsetof(In_Module, FileExtensions);
        case 2:
            return offsetof(In_Module, is_seekable);
        case 3:
            return offsetof(In_Module, UsesOutputPlug);
        case 4:
            return offsetof(In_Module, Config);
        case 5:
            return offsetof(In_Module, outMod);
        case 6:
            return sizeof(Out_Module);
        case 7:
            return offsetof(Out_Module, id);
        case 8:
            return offsetof(Out_Module, Config);
        case 9:
            return sizeof(winampDSPHeader);
        case 10:
            return sizeof(winampDSPModule);
        default:
            return 0;
    }
}
