/* The few Win32 types and calls an input plug-in uses, for a platform without
 * them. C and C++.
 *
 * Handles are opaque and pointer-sized. PostMessageA is not implemented here:
 * the host process exports it as a C symbol and a plug-in resolves it when it
 * is loaded, so a plug-in links against nothing of ours. A handle that is not
 * a live message window of the host gets 0, never a crash. It may be called
 * from any thread.
 *
 * The host itself defines KAV_WINAMP_HOST before including this header, so
 * that the PostMessage macro does not rename the host's own functions. */
#ifndef KAV_WINAMP_WIN32_H
#define KAV_WINAMP_WIN32_H

#include <stdint.h>

typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef unsigned int UINT;
typedef int BOOL;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;

#define WM_USER 0x0400

#ifdef __cplusplus
extern "C" {
#endif

BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

#ifdef __cplusplus
}
#endif

#if !defined(KAV_WINAMP_HOST) && !defined(PostMessage)
#define PostMessage PostMessageA
#endif

/* Marks a plug-in's entry point as exported from its library. */
#ifdef __cplusplus
#define KAV_WINAMP_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define KAV_WINAMP_EXPORT __attribute__((visibility("default")))
#endif

/* Compile-time checks that work in C11 and C++. */
#ifdef __cplusplus
#define KAV_WINAMP_PIN(cond, text) static_assert(cond, text)
#else
#define KAV_WINAMP_PIN(cond, text) _Static_assert(cond, text)
#endif

#endif
