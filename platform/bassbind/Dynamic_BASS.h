// Run-time binding of bass.dll: one function pointer per entry point, named as
// the library's functions, so engine code reads like calls into the library.
#pragma once

#include <string>

#include "platform/bass/bass_types.h"

// X(result, name, parameters) for every entry point bound by name.
#define KAV_BASS_ENTRY_POINTS(X)                                                         \
    X(DWORD, BASS_GetVersion, ())                                                        \
    X(DWORD, BASS_SetConfig, (DWORD option, DWORD value))                                \
    X(DWORD, BASS_GetConfig, (DWORD option))                                             \
    X(BOOL, BASS_Init, (int device, DWORD freq, DWORD flags, void* win, void* clsid))    \
    X(BOOL, BASS_Free, ())                                                               \
    X(int, BASS_ErrorGetCode, ())                                                        \
    X(BOOL, BASS_GetInfo, (BASS_INFO * info))                                            \
    X(const char*, BASS_GetDeviceDescription, (int device))                              \
    X(DWORD, BASS_GetDevice, ())                                                         \
    X(BOOL, BASS_GetOutputLevel, (BASS_OUTPUTLEVEL * level))                             \
    X(HTAP, BASS_TapCreate, (DWORD ms))                                                  \
    X(DWORD, BASS_TapRead, (HTAP tap, void* buffer, DWORD length))                       \
    X(BOOL, BASS_TapGetInfo, (HTAP tap, BASS_TAPINFO * info))                            \
    X(BOOL, BASS_TapFree, (HTAP tap))                                                    \
    X(HSTREAM, BASS_StreamCreateFile,                                                    \
      (BOOL mem, const void* file, DWORD offset, DWORD length, DWORD flags))             \
    X(HSTREAM, BASS_StreamCreateURL,                                                     \
      (const char* url, DWORD offset, DWORD flags, void* downloadproc, void* user))      \
    X(HMUSIC, BASS_MusicLoad,                                                            \
      (BOOL mem, const void* file, DWORD offset, DWORD length, DWORD flags, DWORD freq)) \
    X(HSTREAM, BASS_StreamCreate,                                                        \
      (DWORD freq, DWORD chans, DWORD flags, STREAMPROC * proc, void* user))             \
    X(BOOL, BASS_StreamFree, (HSTREAM handle))                                           \
    X(BOOL, BASS_MusicFree, (HMUSIC handle))                                             \
    X(BOOL, BASS_StreamPlay, (HSTREAM handle, BOOL flush, DWORD flags))                  \
    X(BOOL, BASS_StreamPlayAfter, (HSTREAM handle, DWORD previous))                      \
    X(BOOL, BASS_MusicPlay, (HMUSIC handle))                                             \
    X(BOOL, BASS_ChannelStop, (DWORD handle))                                            \
    X(BOOL, BASS_ChannelPause, (DWORD handle))                                           \
    X(BOOL, BASS_ChannelResume, (DWORD handle))                                          \
    X(DWORD, BASS_ChannelIsActive, (DWORD handle))                                       \
    X(BOOL, BASS_ChannelGetInfo, (DWORD handle, BASS_CHANNELINFO * info))                \
    X(QWORD, BASS_StreamGetLength, (HSTREAM handle))                                     \
    X(QWORD, BASS_ChannelGetPosition, (DWORD handle))                                    \
    X(DWORD, BASS_MusicGetLength, (HMUSIC handle, BOOL playlen))                         \
    X(float, BASS_ChannelBytes2Seconds, (DWORD handle, QWORD pos))                       \
    X(QWORD, BASS_ChannelSeconds2Bytes, (DWORD handle, float pos))                       \
    X(BOOL, BASS_ChannelSetPosition, (DWORD handle, QWORD pos))                          \
    X(DWORD, BASS_StreamGetFilePosition, (HSTREAM handle, DWORD mode))                   \
    X(const char*, BASS_StreamGetTags, (HSTREAM handle, DWORD tags))                     \
    X(HSYNC, BASS_ChannelSetSync,                                                        \
      (DWORD handle, DWORD type, QWORD param, SYNCPROC * proc, void* user))              \
    X(BOOL, BASS_ChannelRemoveSync, (DWORD handle, HSYNC sync))                          \
    X(DWORD, BASS_ChannelGetData, (DWORD handle, void* buffer, DWORD length))            \
    X(BOOL, BASS_ChannelSetAttributes, (DWORD handle, int freq, int volume, int pan))    \
    X(BOOL, BASS_ChannelGetAttributes, (DWORD handle, DWORD * freq, DWORD * volume, int* pan))

#define KAV_BASS_DECLARE(result, name, params) \
    typedef result(*T##name) params;           \
    extern T##name name;
KAV_BASS_ENTRY_POINTS(KAV_BASS_DECLARE)
#undef KAV_BASS_DECLARE

// Loads the library at path and looks every entry point up. A second load
// succeeds at once; a missing entry point releases the library and fails.
bool Load_BASSDLL(const std::string& path);
// Frees the library's device and channels (BASS_Free), then unbinds it.
void Unload_BASSDLL();
bool BASS_Loaded();
