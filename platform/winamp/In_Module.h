/* The input-module record: what an input plug-in hands the host from its
 * exported "winampGetInModule2". The field order and C types are the public
 * plug-in interface's; plug-ins built elsewhere depend on every offset, so the
 * layout is pinned below.
 *
 * The plug-in fills version through Play ... SetPan and EQSet; the host fills
 * hMainWindow, hDllInstance and outMod before Init, and the host functions
 * (SAVSAInit ... dsp_dosamples, SetInfo) after Init. The decoding thread calls
 * SAAddPCMData, VSAAddPCMData, dsp_isactive, dsp_dosamples and SetInfo. */
#ifndef KAV_WINAMP_IN_MODULE_H
#define KAV_WINAMP_IN_MODULE_H

#include <stddef.h>

#include "Out_Module.h"
#include "Win32.h"

#define IN_VER 0x100

/* Posted by a plug-in to hMainWindow once the last sample of its file has been
 * heard (outMod->IsPlaying() returned 0). */
#define WM_WA_MPEG_EOF (WM_USER + 2)

typedef struct In_Module {
    int version; /* IN_VER */
    char* description;
    HWND hMainWindow;
    HINSTANCE hDllInstance;
    /* "EXT;EXT\0description\0" pairs, closed by an empty string. */
    char* FileExtensions;
    int is_seekable;
    int UsesOutputPlug;

    void (*Config)(HWND hwndParent);
    void (*About)(HWND hwndParent);
    void (*Init)(void);
    void (*Quit)(void);
    /* file null or empty: the playing file. title holds at least 2048 bytes. */
    void (*GetFileInfo)(char* file, char* title, int* length_in_ms);
    int (*InfoBox)(char* file, HWND hwndParent);
    int (*IsOurFile)(char* fn);
    /* 0 when playing, -1 when the file cannot be opened. */
    int (*Play)(char* fn);
    void (*Pause)(void);
    void (*UnPause)(void);
    int (*IsPaused)(void);
    void (*Stop)(void);
    int (*GetLength)(void);
    int (*GetOutputTime)(void);
    void (*SetOutputTime)(int time_in_ms);
    void (*SetVolume)(int volume);
    void (*SetPan)(int pan);

    /* Filled by the host. */
    void (*SAVSAInit)(int maxlatency_in_ms, int srate);
    void (*SAVSADeInit)(void);
    void (*SAAddPCMData)(void* PCMData, int nch, int bps, int timestamp);
    int (*SAGetMode)(void);
    int (*SAAdd)(void* data, int timestamp, int csa);
    void (*VSAAddPCMData)(void* PCMData, int nch, int bps, int timestamp);
    int (*VSAGetMode)(int* specNch, int* waveNch);
    int (*VSAAdd)(void* data, int timestamp);
    void (*VSASetInfo)(int srate, int nch);
    int (*dsp_isactive)(void);
    /* Processes numsamples frames in place; returns the frames to write. The
     * buffer must hold twice numsamples frames. */
    int (*dsp_dosamples)(short int* samples, int numsamples, int bps, int nch, int srate);

    /* Filled by the plug-in. */
    void (*EQSet)(int on, char data[10], int preamp);

    /* Filled by the host: bit rate kbit/s, sample rate kHz, channels; -1 keeps a value. */
    void (*SetInfo)(int bitrate, int srate, int stereo, int synched);
    Out_Module* outMod;
} In_Module;

/* The plug-in library's one export. */
typedef In_Module* (*winampGetInModule2Func)(void);

#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
KAV_WINAMP_PIN(sizeof(In_Module) == 296, "In_Module size");
KAV_WINAMP_PIN(offsetof(In_Module, hMainWindow) == 16, "In_Module.hMainWindow");
KAV_WINAMP_PIN(offsetof(In_Module, FileExtensions) == 32, "In_Module.FileExtensions");
KAV_WINAMP_PIN(offsetof(In_Module, is_seekable) == 40, "In_Module.is_seekable");
KAV_WINAMP_PIN(offsetof(In_Module, UsesOutputPlug) == 44, "In_Module.UsesOutputPlug");
KAV_WINAMP_PIN(offsetof(In_Module, Config) == 48, "In_Module.Config");
KAV_WINAMP_PIN(offsetof(In_Module, SAVSAInit) == 184, "In_Module.SAVSAInit");
KAV_WINAMP_PIN(offsetof(In_Module, dsp_dosamples) == 264, "In_Module.dsp_dosamples");
KAV_WINAMP_PIN(offsetof(In_Module, SetInfo) == 280, "In_Module.SetInfo");
KAV_WINAMP_PIN(offsetof(In_Module, outMod) == 288, "In_Module.outMod");
#elif UINTPTR_MAX == 0xFFFFFFFFu
KAV_WINAMP_PIN(sizeof(In_Module) == 152, "In_Module size");
#endif

#endif
