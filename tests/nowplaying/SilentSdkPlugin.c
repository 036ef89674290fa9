/* A test input plug-in written from the public SDK's record layout alone: it
 * claims WAV files, reports a length for them, and then never plays: its
 * Play returns at once without opening the output. The host's start of such
 * a file fails as a plug-in's failure. */
#include <stdint.h>
#include <stdio.h>

typedef void* HWND;
typedef void* HINSTANCE;

typedef struct {
    int version;
    char* description;
    int id;
    HWND hMainWindow;
    HINSTANCE hDllInstance;
    void (*Config)(HWND hwndParent);
    void (*About)(HWND hwndParent);
    void (*Init)(void);
    void (*Quit)(void);
    int (*Open)(int samplerate, int numchannels, int bitspersamp, int bufferlenms, int prebufferms);
    void (*Close)(void);
    int (*Write)(char* buf, int len);
    int (*CanWrite)(void);
    int (*IsPlaying)(void);
    int (*Pause)(int pause);
    void (*SetVolume)(int volume);
    void (*SetPan)(int pan);
    void (*Flush)(int t);
    int (*GetOutputTime)(void);
    int (*GetWrittenTime)(void);
} Out_Module;

typedef struct {
    int version;
    char* description;
    HWND hMainWindow;
    HINSTANCE hDllInstance;
    char* FileExtensions;
    int is_seekable;
    int UsesOutputPlug;
    void (*Config)(HWND hwndParent);
    void (*About)(HWND hwndParent);
    void (*Init)(void);
    void (*Quit)(void);
    void (*GetFileInfo)(char* file, char* title, int* length_in_ms);
    int (*InfoBox)(char* file, HWND hwndParent);
    int (*IsOurFile)(char* fn);
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
    int (*dsp_dosamples)(short int* samples, int numsamples, int bps, int nch, int srate);
    void (*EQSet)(int on, char data[10], int preamp);
    void (*SetInfo)(int bitrate, int srate, int stereo, int synched);
    Out_Module* outMod;
} In_Module;

static void none(HWND h) {
    (void)h;
}
static void nothing(void) {}
static int zero(void) {
    return 0;
}
static int notOurs(char* fn) {
    (void)fn;
    return 0;
}
static int infoBox(char* fn, HWND h) {
    (void)fn;
    (void)h;
    return 0;
}
static int play(char* fn) {
    (void)fn;
    return 0; /* "playing", yet nothing is ever written */
}
static void setTime(int ms) {
    (void)ms;
}
static void setLevel(int v) {
    (void)v;
}
static void getFileInfo(char* file, char* title, int* length_in_ms) {
    (void)file;
    if (length_in_ms) *length_in_ms = 5000;
    if (title) snprintf(title, 2048, "silent");
}
static void eqSet(int on, char data[10], int preamp) {
    (void)on;
    (void)data;
    (void)preamp;
}

static In_Module mod = {0x100,
                        "SDK-style plug-in that never starts",
                        0,
                        0,
                        "WAV\0Wave files (*.WAV)\0",
                        1,
                        1,
                        none,
                        none,
                        nothing,
                        nothing,
                        getFileInfo,
                        infoBox,
                        notOurs,
                        play,
                        nothing,
                        nothing,
                        zero,
                        nothing,
                        zero,
                        zero,
                        setTime,
                        setLevel,
                        setLevel,
                        0,
                        0,
                        0,
                        0,
                        0,
                        0,
                        0,
                        0,
                        0,
                        0,
                        0,
                        eqSet,
                        0,
                        0};

__attribute__((visibility("default"))) In_Module* winampGetInModule2(void) {
    return &mod;
}
