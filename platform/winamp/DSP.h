/* The DSP plug-in records: a library exports "winampDSPGetHeader2", which
 * returns the header; the header's getModule enumerates the modules. Field
 * order and C types are the public plug-in interface's; the layout is pinned
 * below. ModifySamples runs on the input plug-in's decoding thread. */
#ifndef KAV_WINAMP_DSP_H
#define KAV_WINAMP_DSP_H

#include <stddef.h>

#include "Win32.h"

#define DSP_HDRVER 0x20

typedef struct winampDSPModule {
    char* description;
    HWND hwndParent;        /* filled by the host */
    HINSTANCE hDllInstance; /* filled by the host */
    void (*Config)(struct winampDSPModule* this_mod);
    int (*Init)(struct winampDSPModule* this_mod); /* 0 on success */
    /* Processes numsamples frames in place (the buffer holds twice as many);
     * returns the frames now in the buffer. */
    int (*ModifySamples)(struct winampDSPModule* this_mod, short int* samples, int numsamples,
                         int bps, int nch, int srate);
    void (*Quit)(struct winampDSPModule* this_mod);
    void* userData;
} winampDSPModule;

typedef struct winampDSPHeader {
    int version; /* DSP_HDRVER */
    char* description;
    winampDSPModule* (*getModule)(int which); /* null past the last module */
} winampDSPHeader;

typedef winampDSPHeader* (*winampDSPGetHeader2Func)(void);

#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
KAV_WINAMP_PIN(sizeof(winampDSPHeader) == 24, "winampDSPHeader size");
KAV_WINAMP_PIN(offsetof(winampDSPHeader, getModule) == 16, "winampDSPHeader.getModule");
KAV_WINAMP_PIN(sizeof(winampDSPModule) == 64, "winampDSPModule size");
KAV_WINAMP_PIN(offsetof(winampDSPModule, Config) == 24, "winampDSPModule.Config");
KAV_WINAMP_PIN(offsetof(winampDSPModule, ModifySamples) == 40, "winampDSPModule.ModifySamples");
KAV_WINAMP_PIN(offsetof(winampDSPModule, userData) == 56, "winampDSPModule.userData");
#elif UINTPTR_MAX == 0xFFFFFFFFu
KAV_WINAMP_PIN(sizeof(winampDSPHeader) == 12, "winampDSPHeader size");
KAV_WINAMP_PIN(sizeof(winampDSPModule) == 32, "winampDSPModule size");
#endif

#endif
