/* A test input plug-in with its own copy of the record's first fields (as
 * plug-ins built elsewhere have): it plays nothing (its Play refuses every
 * file), and its About and Config
 * remember the parent window they were given, which the test reads back
 * through two exported functions. */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

typedef void* HWND;

/* The SDK's input-module record, 296 bytes on x86-64: Config at offset 48,
 * About at 56; the fields after Stop are left to the host or unused. */
typedef struct {
    int version;
    char* description;
    HWND hMainWindow;
    void* hDllInstance;
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
    void* rest[19];
} In_Module;

_Static_assert(sizeof(In_Module) == 296, "the SDK's record size");

static HWND lastAbout, lastConfig;

static void config(HWND parent) {
    lastConfig = parent;
}
static void about(HWND parent) {
    lastAbout = parent;
}
static void init(void) {}
static void quit(void) {}
static void getFileInfo(char* file, char* title, int* length_in_ms) {
    (void)file;
    if (title) strcpy(title, "");
    if (length_in_ms) *length_in_ms = -1;
}
static int infoBox(char* file, HWND parent) {
    (void)file;
    (void)parent;
    return 0;
}
static int isOurFile(char* fn) {
    (void)fn;
    return 0;
}
static int play(char* fn) {
    (void)fn;
    return -1;
}
static void nothing(void) {}
static int isPaused(void) {
    return 0;
}

static In_Module mod = {0x100,
                        "Settings test plug-in",
                        0,
                        0,
                        "CFG\0Settings test (*.CFG)\0",
                        0,
                        1,
                        config,
                        about,
                        init,
                        quit,
                        getFileInfo,
                        infoBox,
                        isOurFile,
                        play,
                        nothing,
                        nothing,
                        isPaused,
                        nothing,
                        {0}};

__attribute__((visibility("default"))) In_Module* winampGetInModule2(void) {
    return &mod;
}
__attribute__((visibility("default"))) HWND test_last_about(void) {
    return lastAbout;
}
__attribute__((visibility("default"))) HWND test_last_config(void) {
    return lastConfig;
}
