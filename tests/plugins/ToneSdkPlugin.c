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
 * that falls behind.
 *
 * Faulty variants, as plug-ins found in the wild misbehave:
 *   CLAIMS_WAV          lists WAV and plays any file it is given (a file that
 *                       is not a tone file plays 3 s of a 3000 Hz tone)
 *   NEVER_WRITES        opens its output but never writes to it
 *   ENDS_EARLY          posts its end as soon as it starts, then plays on
 *   BLOCK_IN_<F>        the function F (PLAY, INIT, STOP, QUIT, GETFILEINFO)
 *                       does not return until the next test_release() or 60 s
 *   NULL_<F>            the record has no F (INIT, QUIT, PLAY, STOP)
 *   QUIT_CALLS_OUTPUT   Quit calls every function of the output module
 * test_calls() counts the calls made into the record's functions. */
#include <math.h>
#include <pthread.h>
#include <stdatomic.h>
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
#define EXPORT __attribute__((visibility("default")))

extern In_Module mod;

static atomic_int calls, releases;
#define ENTER() atomic_fetch_add(&calls, 1)

EXPORT int test_calls(void) {
    return atomic_load(&calls);
}

/* Lets every call blocked now return (not the ones that block later). */
EXPORT void test_release(void) {
    atomic_fetch_add(&releases, 1);
}

__attribute__((unused)) static void blockUntilReleased(void) {
    const int seen = atomic_load(&releases);
    for (int i = 0; i < 6000 && atomic_load(&releases) == seen; ++i) usleep(10000);
}

#ifdef BLOCK_IN_PLAY
#define BLOCK_PLAY() blockUntilReleased()
#else
#define BLOCK_PLAY()
#endif
#ifdef BLOCK_IN_INIT
#define BLOCK_INIT() blockUntilReleased()
#else
#define BLOCK_INIT()
#endif
#ifdef BLOCK_IN_STOP
#define BLOCK_STOP() blockUntilReleased()
#else
#define BLOCK_STOP()
#endif
#ifdef BLOCK_IN_QUIT
#define BLOCK_QUIT() blockUntilReleased()
#else
#define BLOCK_QUIT()
#endif
#ifdef BLOCK_IN_GETFILEINFO
#define BLOCK_GETFILEINFO() blockUntilReleased()
#else
#define BLOCK_GETFILEINFO()
#endif

/* Shared between the host's calls and the decoding thread. */
static atomic_int killDecodeThread;
static atomic_int seekNeeded = -1;
static atomic_int paused;
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
    if (n == 2 && *hz > 0 && *frames > 0) return 1;
#ifdef CLAIMS_WAV
    *hz = 3000;
    *frames = 3 * RATE;
    return 1;
#else
    return 0;
#endif
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
#ifdef NEVER_WRITES
    while (!killDecodeThread) usleep(10000);
    return 0;
#endif
#ifdef ENDS_EARLY
    PostMessage(mod.hMainWindow, WM_WA_MPEG_EOF, 0, 0);
#endif
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
    ENTER();
    (void)h;
}
static void about(HWND h) {
    ENTER();
    (void)h;
}
static void init(void) {
    ENTER();
    BLOCK_INIT();
}
static void quit(void) {
    ENTER();
    BLOCK_QUIT();
#ifdef QUIT_CALLS_OUTPUT
    /* As a plug-in that closes "its" output once more on the way out. */
    Out_Module* out = mod.outMod;
    char block[64] = {0};
    out->Pause(0);
    out->SetVolume(128);
    out->SetPan(0);
    out->Flush(0);
    out->CanWrite();
    out->Write(block, sizeof block);
    out->IsPlaying();
    out->GetOutputTime();
    out->GetWrittenTime();
    out->Close();
#endif
}
static int isourfile(char* fn) {
    ENTER();
    (void)fn;
    return 0;
}
static int infoBox(char* fn, HWND h) {
    ENTER();
    (void)fn;
    (void)h;
    return 0;
}

static int play(char* fn) {
    ENTER();
    BLOCK_PLAY();
#ifdef BLOCK_IN_PLAY
    return -1; /* a Play that comes back this late has nothing to play */
#endif
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
    ENTER();
    paused = 1;
    mod.outMod->Pause(1);
}
static void unpause(void) {
    ENTER();
    paused = 0;
    mod.outMod->Pause(0);
}
static int ispaused(void) {
    ENTER();
    return paused;
}

static void stop(void) {
    ENTER();
    BLOCK_STOP();
    if (threadRunning) {
        killDecodeThread = 1;
        pthread_join(decodeThread, 0);
        threadRunning = 0;
    }
    mod.outMod->Close();
    mod.SAVSADeInit();
}

static int getlength(void) {
    ENTER();
    return (int)(totalFrames * 1000 / RATE);
}
static int getoutputtime(void) {
    ENTER();
    return mod.outMod->GetOutputTime();
}
static void setoutputtime(int time_in_ms) {
    ENTER();
    seekNeeded = time_in_ms;
}
static void setvolume(int volume) {
    ENTER();
    mod.outMod->SetVolume(volume);
}
static void setpan(int pan) {
    ENTER();
    mod.outMod->SetPan(pan);
}

static void getfileinfo(char* filename, char* title, int* length_in_ms) {
    double hz;
    long frames;
    ENTER();
    BLOCK_GETFILEINFO();
    if (!filename || !*filename) {
        if (length_in_ms) *length_in_ms = (int)(totalFrames * 1000 / RATE);
        if (title) snprintf(title, 2048, "tone %.0f Hz", toneHz);
        return;
    }
    if (!readToneFile(filename, &hz, &frames)) return;
    if (length_in_ms) *length_in_ms = (int)(frames * 1000 / RATE);
    if (title) snprintf(title, 2048, "tone %.0f Hz", hz);
}

static void eq_set(int on, char data[10], int preamp) {
    ENTER();
    (void)on;
    (void)data;
    (void)preamp;
}

#ifdef CLAIMS_WAV
#define EXTENSIONS "WAV\0Wave files (*.WAV)\0"
#else
#define EXTENSIONS "TON\0Tone files (*.TON)\0"
#endif
In_Module mod = {0x100,
                 "SDK-style tone player",
                 0,
                 0,
                 EXTENSIONS,
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

EXPORT In_Module* winampGetInModule2(void) {
#if defined(NULL_INIT)
    mod.Init = 0;
#elif defined(NULL_QUIT)
    mod.Quit = 0;
#elif defined(NULL_PLAY)
    mod.Play = 0;
#elif defined(NULL_STOP)
    mod.Stop = 0;
#endif
    return &mod;
}
