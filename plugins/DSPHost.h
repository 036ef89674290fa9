// The DSP plug-in host: one DSP library at a time, up to eight of its modules
// in a table, one module selected and, while active, applied by the output
// emulator's dsp_dosamples on the input plug-in's decoding thread.
//
// Loading, selecting and stopping run on the main thread. Stopping clears the
// active flag before the module's Quit and waits (bounded) for a call that is
// already inside the module to return, so Quit never frees what ModifySamples
// is using. The calls into the library made from the main thread (the header,
// getModule, Init, Quit) are made on the thread of plug-in calls and waited
// for at most 2 s (plugins/ForeignCall.h): a library whose call overruns is
// broken for the rest of the process, never called again and never released
// (an Init that overruns fails as one that answers non-zero).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/win/DynLib.h"
#include "platform/win/Messages.h"

struct winampDSPModule;
struct winampDSPHeader;

constexpr int MaxDSPModules = 8;
using TDSPModules = std::array<winampDSPModule*, MaxDSPModules>;

// The library slot. LoadDSPDll releases a library loaded before; false when
// the library cannot be loaded, lacks the entry point or is broken.
bool LoadDSPDll(const std::string& path);
void FreeDSPDll();
const std::string& DSPDllPath();

// Loads the library and enumerates its modules into modules (and the module
// table); count is 0 when nothing usable was found. No module is selected
// afterwards; the active flag is left as it was.
void LoadDSPModules(const std::string& path, winampDSPHeader*& header, TDSPModules& modules,
                    win::HWND parent, int32_t& count);
// -1 when nothing is loaded, index is out of range or already selected;
// otherwise the new module's Init result (0 activates it).
int32_t SelectDSPModule(uint16_t index);
// -1 when nothing is loaded; otherwise the selected module is quit, 0.
int32_t StopDSPModule();
// As StopDSPModule, then the library is released.
int32_t UnloadDSPModules();

int32_t DSPModuleCount();
int32_t SelectedDSPModule();

// For the decoding thread: true while a module is active.
bool DSPActive();
// Runs the active module's ModifySamples; returns its result, or 0 when no
// module was active.
int DSPModifySamples(short int* samples, int numsamples, int bps, int nch, int srate);
