// The output module emulator: the Out_Module that input plug-ins write their
// PCM to, played through a user stream of the audio library, and the host
// functions of the In_Module. One per process.
//
// Threads:
// - GUI thread: set-up and tear-down, the hidden window (TMsgHandler) and
//   everything it does (starting the stream, notifying the engine, boxes).
// - the thread of plug-in calls (plugins/ForeignCall.h): the engine's calls
//   into a plug-in, from which the plug-in may call any Out_Module function
//   (Open, Close, Pause, SetVolume, SetPan, GetOutputTime, Config, About).
// - the plug-in's decoding thread: Write, CanWrite, IsPlaying, Flush,
//   GetWrittenTime and the In_Module host functions. It is never shown a box
//   and never waits without a bound. A plug-in's thread may outlive the
//   manager (one retired while inside a call): every function stays safe to
//   call after Teardown.
// - the library's worker thread of the user stream: the stream procedure. When
//   the ring holds less than it asks for, it waits for the plug-in's next
//   blocks at most 20 ms, then hands on what there is; when the writer is
//   inside the ring it hands back nothing and is asked again.
//
// There are two outputs, each a stream and its ring: the current one, which
// the plug-in writes to, and after KeepOutputPlaying an outgoing one that
// drains the track before it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/bass/bass_types.h"
#include "platform/win/Messages.h"

struct In_Module;
struct TChannelInfo;

namespace ioplug {

// Messages of the hidden window (the platform's WM_USER is 1024).
constexpr unsigned WM_PLUGIN_EOF = 1026;    // from the plug-in, at the end of its file
constexpr unsigned WM_START_OUTPUT = 1125;  // from Write: start the stream
constexpr unsigned WM_CLEAR_ACTIVE = 1127;  // from anyone: no plug-in is active
constexpr unsigned WM_SHOW_BOX = 1128;      // from any thread: one of the emulator's boxes
// Messages posted to the notify window (the engine's).
constexpr unsigned WM_NOTIFY_PLUGINEOF = 1026;
// wParam: the tick count it started (or was queued) at; lParam: the stream.
constexpr unsigned WM_NOTIFY_PLUGINSTART = 1125;
constexpr unsigned WM_NOTIFY_STREAMHANDLE = 1129;
constexpr unsigned WM_NOTIFY_CHANNELINFO = 1136;
// wParam: the stream whose plug-in has written its whole file (told again only
// after it has written more).
constexpr unsigned WM_NOTIFY_ALLWRITTEN = 1137;

// Allocates the ring (once per process), fills the Out_Module, whose
// hMainWindow is the application's window, and runs its Init (the hidden
// window). False when the ring cannot be had. The audio library must be
// bound.
bool Setup(std::function<void()> clearActive, win::HWND applicationWindow);
// Closes the stream, runs Quit and lets go of the audio library: from then on
// every Out_Module function may still be called, from any thread, and answers
// as with no stream. The record and the ring stay, for a plug-in's thread
// that outlives the manager. False when a use of the library from another
// thread is still inside it: the library must then not be unbound.
bool Teardown();
bool Ready();
void* OutModule();  // the Out_Module record (Out_Module*)
win::HWND Window();
void SetNotifyWindow(win::HWND window);
void SetSeekPending();
// Beyond the start threshold: the output of the next Open starts as soon as
// its first block is written (a track that follows another, whose join
// should cost no more than the output's own period). Any thread.
void StartNextOutputAtFirstBlock(bool atFirstBlock);
// A join without a gap between two plug-in tracks. Called before the plug-in
// that has written its whole file is stopped: its Close then leaves the
// stream draining as the outgoing one, and the next Open takes the other
// output, whose stream is queued behind the outgoing one's last sample when
// it starts. False undoes it before any Close. Any thread.
void KeepOutputPlaying(bool keep = true);
HSTREAM CurrentStream();
HSTREAM OutgoingStream();  // 0 when none drains
int OutgoingTimeMs();      // the outgoing stream's output time, as GetOutputTime
// The current stream's plug-in has written its whole file.
bool AllWritten();
// Stops and frees the outgoing stream. GUI thread.
void FreeOutgoing();
// Fills the twelve host functions of a loaded plug-in.
void InstallHostFunctions(In_Module* module);
// What PostMessageA posts for a plug-in: its end of file, posted to the
// emulator's window, is stamped with the stream open as it is posted (in
// lParam), so that an end that arrives once another stream plays is known
// as stale. Any thread.
win::LPARAM StampPluginEnd(win::HWND window, unsigned msg, win::LPARAM lParam);

// The longest time the ring can hold at the current Open's format, in ms
// (0 before an Open).
uint32_t RingCapacityMs();

// A TChannelInfo travels by value in the text of each message that carries
// one; Unpack gives false for a message without one.
std::string Pack(const TChannelInfo& info);
bool Unpack(const win::Message& message, TChannelInfo& info);

// Debugging and tests: the ring's positions and the written-byte count.
struct RingState {
    uint32_t readPos, writePos, used, free;
    uint64_t written;
    bool waitingToStart;
    uint32_t stream;
};
RingState State();

}  // namespace ioplug
