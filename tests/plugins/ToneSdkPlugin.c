/* A test input plug-in written the way the public SDK's example plug-in is:
 * its own copy of the record layout (no header of the host's), a decoding
 * thread, blocks of 576 frames written when CanWrite has room, and the end of
 * the file posted with PostMessage once IsPlaying is 0.
 *
 * Its "files" are text files "<frequency Hz> <frames>": it plays that many
 * frames of a 44.1 kHz 16-bit stereo sine. Built in variants: with
 * POST_EOF_AT_ONCE defined the end is posted as soon as the last block is
 * written, before the output has played it; with SLOW_WRITER each block is
 * followed by a pause a little longer than the block plays, as a decoder
 * that falls behind. */
#include <math.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

typedef void* HWND;
typedef void* HINSTANCE;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
#define WM_USER 0x400
#define WM_WA_MPEG_EOF (WM_USER + 2)
int PostMessageA(HWND hWnd, unsigned int Msg, WPARAM wParam, LPARAM lParam);
#define PostMessage PostMessageA

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

#define RATE 44100
#define NCH 2
#define BPS 16

extern In_Module mod;

static volatile int killDecodeThread;
static volatile int seekNeeded = -1;
static volatile int paused;
static pthread_t decodeThread;
static int threadRunning;
static double toneHz;
static long totalFrames, decodedFrames;
static short sampleBuffer[576 * NCH * 2];

static int readToneFile(const char* fn, double* hz, long* frames) {
    FILE* f = fopen(fn, "r");
    if (!f) return 0;
    const int n = fscanf(f, "%lf %ld", hz, frames);
    fclose(f);
    return n == 2 && *hz > 0 && *frames > 0;
}

static int makeBlock(int frames) {
    int i;
    for (i = 0; i < frames && decodedFrames < totalFrames; ++i, ++decodedFrames) {
        const short v = (short)(12000.0 * sin(2.0 * M_PI * toneHz * decodedFrames / RATE));
        sampleBuffer[i * 2] = v;
        sampleBuffer[i * 2 + 1] = v;
    }
    return i;
}

static void* DecodeThread(void* unused) {
    int done = 0;
    (void)unused;
    while (!killDecodeThread) {
        if (seekNeeded != -1) {
            decodedFrames = (long)seekNeeded * RATE / 1000;
            mod.outMod->Flush(seekNeeded);
            seekNeeded = -1;
            done = 0;
        }
        if (done) {
#ifdef POST_EOF_AT_ONCE
            PostMessage(mod.hMainWindow, WM_WA_MPEG_EOF, 0, 0);
            return 0;
#else
            mod.outMod->CanWrite();
            if (!mod.outMod->IsPlaying()) {
                PostMessage(mod.hMainWindow, WM_WA_MPEG_EOF, 0, 0);
                return 0;
            }
            usleep(10000);
#endif
        } else {
            const int want = 576 * NCH * (BPS / 8) * (mod.dsp_isactive() ? 2 : 1);
            if (mod.outMod->CanWrite() >= want) {
                int frames = makeBlock(576);
                if (frames == 0) {
                    done = 1;
                    continue;
                }
                if (mod.dsp_isactive())
                    frames = mod.dsp_dosamples(sampleBuffer, frames, BPS, NCH, RATE);
                mod.outMod->Write((char*)sampleBuffer, frames * NCH * (BPS / 8));
#ifdef SLOW_WRITER
                usleep(15000); /* a 576-frame block plays for 13 ms */
#endif
            } else {
                usleep(20000);
            }
        }
    }
    return 0;
}

static void config(HWND h) {
    (void)h;
}
static void about(HWND h) {
    (void)h;
}
static void init(void) {}
static void quit(void) {}
static int isourfile(char* fn) {
    (void)fn;
    return 0;
}
static int infoBox(char* fn, HWND h) {
    (void)fn;
    (void)h;
    return 0;
}

static int play(char* fn) {
    if (!readToneFile(fn, &toneHz, &totalFrames)) return -1;
    decodedFrames = 0;
    paused = 0;
    seekNeeded = -1;
    if (mod.outMod->Open(RATE, NCH, BPS, -1, -1) < 0) return 1;
    mod.SetInfo(RATE * NCH * BPS / 1000, RATE / 1000, NCH, 1);
    mod.SAVSAInit(0, RATE);
    mod.VSASetInfo(RATE, NCH);
    mod.outMod->SetVolume(-666);
    killDecodeThread = 0;
    threadRunning = pthread_create(&decodeThread, 0, DecodeThread, 0) == 0;
    return 0;
}

static void pause_(void) {
    paused = 1;
    mod.outMod->Pause(1);
}
static void unpause(void) {
    paused = 0;
    mod.outMod->Pause(0);
}
static int ispaused(void) {
    return paused;
}

static void stop(void) {
    if (threadRunning) {
        killDecodeThread = 1;
        pthread_join(decodeThread, 0);
        threadRunning = 0;
    }
    mod.outMod->Close();
    mod.SAVSADeInit();
}

static int getlength(void) {
    return (int)(totalFrames * 1000 / RATE);
}
static int getoutputtime(void) {
    return mod.outMod->GetOutputTime();
}
static void setoutputtime(int time_in_ms) {
    seekNeeded = time_in_ms;
}
static void setvolume(int volume) {
    mod.outMod->SetVolume(volume);
}
static void setpan(int pan) {
    mod.outMod->SetPan(pan);
}

static void getfileinfo(char* filename, char* title, int* length_in_ms) {
    double hz;
    long frames;
    if (!filename || !*filename) {
        if (length_in_ms) *length_in_ms = getlength();
        if (title) snprintf(title, 2048, "tone %.0f Hz", toneHz);
        return;
    }
    if (!readToneFile(filename, &hz, &frames)) return;
    if (length_in_ms) *length_in_ms = (int)(frames * 1000 / RATE);
    if (title) snprintf(title, 2048, "tone %.0f Hz", hz);
}

static void eq_set(int on, char data[10], int preamp) {
    (void)on;
    (void)data;
    (void)preamp;
}

In_Module mod = {0x100,
                 "SDK-style tone player",
                 0,
                 0,
                 "TON\0Tone files (*.TON)\0",
                 1,
                 1,
                 config,
                 about,
                 init,
                 quit,
                 getfileinfo,
                 infoBox,
                 isourfile,
                 play,
                 pause_,
                 unpause,
                 ispaused,
                 stop,
                 getlength,
                 getoutputtime,
                 setoutputtime,
                 setvolume,
                 setpan,
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
                 eq_set,
                 0,
                 0};

__attribute__((visibility("default"))) In_Module* winampGetInModule2(void) {
    return &mod;
}
