/* The output-module record: what an input plug-in writes its PCM to. The
 * field order and C types are the public plug-in interface's; plug-ins built
 * elsewhere depend on every offset, so the layout is pinned below.
 *
 * Threads: Open, Close, Pause, SetVolume, SetPan and GetOutputTime come from
 * the host's calls into the plug-in; Write, CanWrite, IsPlaying, Flush and
 * GetWrittenTime from the plug-in's decoding thread. */
#ifndef KAV_WINAMP_OUT_MODULE_H
#define KAV_WINAMP_OUT_MODULE_H

#include <stddef.h>

#include "Win32.h"

#define OUT_VER 0x10

typedef struct {
    int version; /* OUT_VER */
    char* description;
    int id;
    HWND hMainWindow;
    HINSTANCE hDllInstance;

    void (*Config)(HWND hwndParent);
    void (*About)(HWND hwndParent);
    void (*Init)(void);
    void (*Quit)(void);

    /* 0 on success, negative on failure. The last two arguments are hints. */
    int (*Open)(int samplerate, int numchannels, int bitspersamp, int bufferlenms, int prebufferms);
    void (*Close)(void);
    /* 0 when the block was taken, 1 when nothing was written. */
    int (*Write)(char* buf, int len);
    /* Bytes that Write would take now. */
    int (*CanWrite)(void);
    /* Nonzero while written audio is still being heard. */
    int (*IsPlaying)(void);
    /* Returns the previous pause state. */
    int (*Pause)(int pause);
    void (*SetVolume)(int volume); /* 0..255 */
    void (*SetPan)(int pan);       /* -128..128 */
    /* Drops what is buffered; playback continues from time t ms. */
    void (*Flush)(int t);
    int (*GetOutputTime)(void);
    int (*GetWrittenTime)(void);
} Out_Module;

#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
KAV_WINAMP_PIN(sizeof(Out_Module) == 160, "Out_Module size");
KAV_WINAMP_PIN(offsetof(Out_Module, id) == 16, "Out_Module.id");
KAV_WINAMP_PIN(offsetof(Out_Module, hMainWindow) == 24, "Out_Module.hMainWindow");
KAV_WINAMP_PIN(offsetof(Out_Module, Config) == 40, "Out_Module.Config");
KAV_WINAMP_PIN(offsetof(Out_Module, Open) == 72, "Out_Module.Open");
KAV_WINAMP_PIN(offsetof(Out_Module, GetWrittenTime) == 152, "Out_Module.GetWrittenTime");
#elif UINTPTR_MAX == 0xFFFFFFFFu
KAV_WINAMP_PIN(sizeof(Out_Module) == 80, "Out_Module size");
#endif

#endif
