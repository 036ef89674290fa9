// The input plug-in manager: up to eight Winamp 2 input plug-ins, each wired to
// the output emulator, with the records the engine and the manager share.
// Process-wide: plain operations over module state, main thread only.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win/DynLib.h"
#include "platform/win/Messages.h"
#include "plugins/ChannelInfo.h"

// The SDK's input-module record (platform/winamp); the manager hands out
// references to the records of the loaded plug-ins.
struct In_Module;

// Stream information of the opened file or address.
struct TStreamInfo {
    std::string FileName;
    uint32_t FileSize = 0;
    int32_t SampleRate = 0;
    int32_t BitRate = 0;  // kbit/s
    uint16_t BitsPerSample = 0;
    uint32_t Duration = 0;  // ms
    uint16_t Channels = 0;
    std::string Title;
    std::string Artist;
    std::string Album;
    std::string Year;
    std::string Genre;
    uint8_t GenreID = 0;
    uint8_t Track = 0;
    std::string Comment;
};

// Descriptor of a loaded input plug-in.
struct TPluginInfo {
    std::string Name;
    int32_t Version = 0;
    std::string Description;
    std::string FileExtensions;  // first entry of the module's list only
    int32_t Seekable = 0;
    win::HMODULE DLLHandle = nullptr;
};

constexpr int MaxPluginNum = 8;

// Load and unload result codes.
constexpr int PLUGIN_OK = 0;
constexpr int PLUGIN_NOT_READY = 1;
constexpr int PLUGIN_ALREADY_LOADED = 2;
constexpr int PLUGIN_NO_SLOT = 3;
constexpr int PLUGIN_LOAD_FAILED = 4;
constexpr int PLUGIN_NOT_VALID = 5;
constexpr int PLUGIN_FREE_FAILED = 6;
constexpr int PLUGIN_NOT_LOADED = 7;
constexpr int PLUGIN_IN_USE = 8;

bool InitPluginCtrl();
void QuitPluginCtrl();
int LoadWinampPlugin(const std::string& name);
int UnloadWinampPlugin(const std::string& name);
int GetPluginIndex(const std::string& name);
In_Module* GetPlugin(int index);
TPluginInfo GetPluginInfo(int index);
int FindPluginForExt(const std::string& ext);
int SelectInputPlugin(int index);
// The slot whose plug-in plays, -1 for none.
int GetActivePluginIndex();
int GetPluginOutputTime(bool fromEmulator);
void SetNotifyWindow(win::HWND window);
win::HWND GetEmulatorWindow();
void SetSeekPending();

// Calls into a loaded module, for the engine. A null module does nothing:
// Play answers -1, GetOutputTime 0, GetFileInfo a blank title and length 0.
int PluginPlay(In_Module* module, const std::string& file);
void PluginStop(In_Module* module);
int PluginGetOutputTime(In_Module* module);
void PluginSetOutputTime(In_Module* module, int ms);
// file empty: the file being played. title is cut to 255 characters.
void PluginGetFileInfo(In_Module* module, const std::string& file, std::string& title,
                       int& lengthMs);
