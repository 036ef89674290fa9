/* A DSP plug-in written from the public SDK's layout alone, as other people
 * write them. What it offers and how it answers is set by the test through
 * test_dsp_configure (the test keeps the library loaded, so the settings
 * survive the host's loads): how many modules, what Init returns, what
 * ModifySamples returns. Each module quarters the samples it is given, so a
 * capture shows what passed it. Built with BLOCK_IN_INIT, Init does not return
 * until the next test_dsp_release() or 60 s, as a DSP that hangs. */
#include <stdatomic.h>
#include <stddef.h>
#include <unistd.h>

typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;

typedef struct winampDSPModule {
    char* description;
    HWND hwndParent;
    HINSTANCE hDllInstance;
    void (*Config)(struct winampDSPModule* this_mod);
    int (*Init)(struct winampDSPModule* this_mod);
    int (*ModifySamples)(struct winampDSPModule* this_mod, short int* samples, int numsamples,
                         int bps, int nch, int srate);
    void (*Quit)(struct winampDSPModule* this_mod);
    void* userData;
} winampDSPModule;

typedef struct {
    int version;
    char* description;
    winampDSPModule* (*getModule)(int);
} winampDSPHeader;

#define EXPORT __attribute__((visibility("default")))

enum { RESULT_SAME, RESULT_ZERO, RESULT_NEGATIVE, RESULT_TRIPLE };

static int moduleCount = 1, initResult = 0, resultMode = RESULT_SAME;
static int highestAsked = -1;
static atomic_int inits, quits; /* Init may still be running once the host gave up on it */
static atomic_int calls, releases;

static int init(winampDSPModule* m) {
    (void)m;
#ifdef BLOCK_IN_INIT
    const int seen = atomic_load(&releases);
    for (int i = 0; i < 6000 && atomic_load(&releases) == seen; ++i) usleep(10000);
#endif
    ++inits;
    return initResult;
}

static void quit(winampDSPModule* m) {
    (void)m;
    ++quits;
}

static int modify(winampDSPModule* m, short int* samples, int n, int bps, int nch, int srate) {
    (void)m;
    (void)bps;
    (void)srate;
    atomic_fetch_add(&calls, 1);
    for (int i = 0; i < n * nch; ++i) samples[i] = (short int)(samples[i] / 4);
    switch (resultMode) {
        case RESULT_ZERO:
            return 0;
        case RESULT_NEGATIVE:
            return -n;
        case RESULT_TRIPLE:
            return 3 * n;
        default:
            return n;
    }
}

static char text[] = "test DSP";
static winampDSPModule modules[8];

static winampDSPModule* getModule(int which) {
    if (which > highestAsked) highestAsked = which;
    if (which < 0 || which >= moduleCount) return NULL;
    winampDSPModule* m = &modules[which];
    m->description = text;
    m->Init = init;
    m->ModifySamples = modify;
    m->Quit = quit;
    return m;
}

static winampDSPHeader header = {0x20, text, getModule};

EXPORT winampDSPHeader* winampDSPGetHeader2(void) {
    return &header;
}

/* count: 0..8 modules offered; init: Init's result; result: RESULT_... */
EXPORT void test_dsp_configure(int count, int init, int result) {
    moduleCount = count;
    initResult = init;
    resultMode = result;
    highestAsked = -1;
    atomic_store(&inits, 0);
    atomic_store(&quits, 0);
    atomic_store(&calls, 0);
}

/* inits, quits, ModifySamples calls, the highest module number asked for. */
EXPORT void test_dsp_counts(int* initCount, int* quitCount, int* callCount, int* asked) {
    *initCount = atomic_load(&inits);
    *quitCount = atomic_load(&quits);
    *callCount = atomic_load(&calls);
    *asked = highestAsked;
}

/* Lets an Init blocked now return (not one that blocks later). */
EXPORT void test_dsp_release(void) {
    atomic_fetch_add(&releases, 1);
}
