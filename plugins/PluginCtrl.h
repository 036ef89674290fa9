// The input plug-in manager: up to eight Winamp 2 input plug-ins, each wired to
// the output emulator, with the records the engine and the manager share.
// Process-wide: plain operations over module state, main thread only.
//
// Plug-ins are other people's code. Every call into one is made on the thread
// of plug-in calls (plugins/ForeignCall.h), and the main thread waits for it
// at most kPluginPlayLimit (Play) or kPluginCallLimit (any other). A plug-in
// whose call overruns is retired for the rest of the manager's run: it
// leaves its slot (so its extensions go to the audio library), nothing calls
// into it again, its library stays loaded until the process ends (the call
// may still be inside it), and the retirement is reported once.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/win/DynLib.h"
#include "platform/win/Messages.h"
#include "plugins/ChannelInfo.h"
#include "plugins/StreamInfo.h"

// The SDK's input-module record (platform/winamp); the manager hands out
// references to the records of the loaded plug-ins.
struct In_Module;

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
// A plug-in retired in this run (beyond the original codes): refused.
constexpr int PLUGIN_RETIRED = 9;

// How long the main thread waits for a call into a plug-in.
constexpr std::chrono::milliseconds kPluginPlayLimit{5000};
constexpr std::chrono::milliseconds kPluginCallLimit{2000};

bool InitPluginCtrl();
// Every loaded plug-in quits (bounded) and is released, then the emulator
// lets go of the audio library. False when a plug-in's thread is still
// inside the library: it must then stay bound.
bool QuitPluginCtrl();
// A library that is loaded already under another name answers
// PLUGIN_ALREADY_LOADED; one whose record lacks Init, Quit, Play or Stop
// PLUGIN_NOT_VALID; a retired name or library PLUGIN_RETIRED (an Init that
// overruns retires the plug-in and answers that too).
int LoadWinampPlugin(const std::string& name);
int UnloadWinampPlugin(const std::string& name);
// Retires a plug-in for the rest of the manager's run, with the reason given
// in the report (a box that does not wait, and a line on stderr; once per
// name). A loaded one leaves its slot without a call (its library stays
// loaded); a later load of the name answers PLUGIN_RETIRED. Called before the
// start-up loads, it keeps a plug-in known to be faulty from being loaded.
void RetirePlugin(const std::string& name, const std::string& reason);
bool IsPluginRetired(const std::string& name);
// Where a retirement is logged instead of the stderr line (the program's
// event log); an empty function restores the line. The box stays either way.
using RetiredReport = std::function<void(const std::string& name, const std::string& reason)>;
void SetRetiredReport(RetiredReport report);
int GetPluginIndex(const std::string& name);
In_Module* GetPlugin(int index);
TPluginInfo GetPluginInfo(int index);
int FindPluginForExt(const std::string& ext);
int SelectInputPlugin(int index);
// The slot whose plug-in plays, -1 for none.
int GetActivePluginIndex();
int GetPluginOutputTime(bool fromEmulator);
void SetNotifyWindow(win::HWND window);
// The application's window, handed to plug-ins as the output module's
// hMainWindow; set before InitPluginCtrl.
void SetApplicationWindow(win::HWND window);
win::HWND GetEmulatorWindow();
void SetSeekPending();

// Calls into a loaded module, bounded as above. A module that no slot holds
// (null, unloaded, retired) is not called: Play answers -1, GetOutputTime 0,
// GetFileInfo a blank title and length 0. A call that overruns answers the
// same and retires the plug-in.
bool PluginUsable(const In_Module* module);
int PluginPlay(In_Module* module, const std::string& file);
void PluginStop(In_Module* module);
int PluginGetOutputTime(In_Module* module);
void PluginSetOutputTime(In_Module* module, int ms);
// file empty: the file being played. title is cut to 255 characters.
void PluginGetFileInfo(In_Module* module, const std::string& file, std::string& title,
                       int& lengthMs);
// The plug-in's own windows, for the configuration dialog.
void PluginShowConfig(In_Module* module, win::HWND parent);
void PluginShowAbout(In_Module* module, win::HWND parent);
int PluginShowInfoBox(In_Module* module, const std::string& file, win::HWND parent);
