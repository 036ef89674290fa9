#include "engine/BASSPlayer.h"

#include <utility>

#include "engine/StreamText.h"
#include "fileinfo/MPEGaudio.h"
#include "fileinfo/OggVorbis.h"
#include "fileinfo/WAVfile.h"
#include "fileinfo/WMAfile.h"
#include "platform/bassbind/DRT_BASSWMA.h"
#include "platform/bassbind/Dynamic_BASS.h"
#include "platform/win/Application.h"
#include "platform/win/Clock.h"
#include "platform/win/MessageBox.h"
#include "platform/win/ProgramDir.h"
#include "platform/win/Pump.h"
#include "plugins/AppExec.h"
#include "plugins/ioplug.h"
#include "plugins/zavSharedMemory.h"

uint8_t StartupDevice = 1;

namespace {

constexpr unsigned kPlayerTimerMs = 33;
// The plug-in waits (start, seek, drain) wait for the plug-in's thread and
// the audio output, which run on real time whatever clock the program reads.
// A plug-in's output must have started within 3 s; each message posted
// meanwhile (the emulator's start of the output) is looked at as it comes.
constexpr auto kPluginStartLimit = win::PumpLimit::Within(3000, 50, win::Rest::UntilPosted);
constexpr int kPluginStartMinOutputMs = 200;
// A seek's restart of the output is looked for 51 times, 40 ms apart.
constexpr int kPluginSeekAttempts = 50;
constexpr auto kPluginSeekLimit =
    win::PumpLimit::Rounds(kPluginSeekAttempts + 1, 40, win::Rest::Real);

// Runs on a library thread: only posts. The channel goes along so that the
// window can tell an end of a channel that is gone from the current one.
void EndSyncProc(HSYNC, DWORD channel, DWORD_PTR, void* user) {
    win::PostMessage(reinterpret_cast<win::HWND>(user), WM_BP_CHANNELEND, channel);
}

}  // namespace

TBASSPlayer::TBASSPlayer(win::HWND applicationWindow)
    : FAppWindow(applicationWindow != 0 ? applicationWindow : win::ApplicationWindow()) {
    FMessageWindow =
        win::CreateMessageWindow([this](const win::Message& m) { return WindowProc(m); });
    SetNotifyWindow(FMessageWindow);
    SetApplicationWindow(FAppWindow);
    FPlayerTimer.SetInterval(kPlayerTimerMs);
    FPlayerTimer.SetEnabled(false);
    FPlayerTimer.OnTimer = [this] { PlayerTimerTick(); };

    if (!Load_BASSDLL(win::ProgramDir() + win::PathDelim + "bass.dll")) return;
    FBassBound = true;
    if (BASS_GetVersion() != BASSVERSION) {
        win::MessageBox(FAppWindow, "BASS version is not 2.0 !", "Confirm", win::MB_OK);
        return;
    }
    BASS_SetConfig(BASS_CONFIG_MAXVOL, 255);
    if (!BASS_Init(StartupDevice, 44100, 0, reinterpret_cast<void*>(FAppWindow), nullptr)) {
        ShowBASSError("Can't initialize device");
        return;
    }
    FPlayerReady = true;
    FDeviceInfo.size = sizeof(BASS_INFO);
    if (BASS_GetInfo(&FDeviceInfo)) FDX8EffectReady = FDeviceInfo.dsver >= 8;
    FVolume = 255;
    BASS_SetConfig(BASS_CONFIG_GVOL_MUSIC, 255);
    BASS_SetConfig(BASS_CONFIG_GVOL_STREAM, 255);
    const DWORD version = BASS_GetVersion();
    FBASSDLLVer = std::to_string(version & 0xFFFF) + "." + std::to_string(version >> 16);
    FWMAReady = Load_BASSWMADLL(win::ProgramDir() + win::PathDelim + "basswma.dll");
    InitPluginCtrl();
    CreateLibraryObjects();
}

void TBASSPlayer::CreateLibraryObjects() {
    FMPEGaudio = std::make_unique<TMPEGaudio>();
    FOggVorbis = std::make_unique<TOggVorbis>();
    FWMAfile = std::make_unique<TWMAfile>();
    FWAVfile = std::make_unique<TWAVfile>();
    CreatePluginConfig();
    CreateVisLink();
}

// The plug-ins quit while the audio library is still bound: a plug-in's Quit
// may still use the output module. A plug-in's thread still inside the
// library (one retired while inside a call) keeps it bound.
TBASSPlayer::~TBASSPlayer() {
    if (FPlayerReady) DropPrepared();
    if (FChannelKind == CHANNEL_PLUGIN) {
        StopPluginChannel();
    } else if (FPlayState == PLAYSTATE_PLAYING) {
        StopPlayback();
    }
    FPlayerTimer.SetEnabled(false);
    FPlayerTimer.OnTimer = nullptr;
    const bool libraryFree = !FPlayerReady || QuitPluginCtrl();
    if (FBassBound && libraryFree) Unload_BASSDLL();  // frees the device and channels first
    if (FWMAReady) Unload_BASSWMADLL();
    win::DestroyMessageWindow(FMessageWindow);
    FreePluginConfig();
    FreeVisLink();
}

void TBASSPlayer::SetSyncVisWindow(bool value) {
    if (value == FSyncVisWindow) return;
    FSyncVisWindow = value;
    SendVisRecord(3);
}

void TBASSPlayer::ShowBASSError(const std::string& message) {
    const std::string text =
        message + "\r\n(error code: " + std::to_string(BASS_ErrorGetCode()) + ")";
    win::MessageBox(FAppWindow, text, "Error", win::MB_ICONERROR);
}

// --- transport --------------------------------------------------------------

bool TBASSPlayer::StartPlayback() {
    if (FBusy || FPlayState == PLAYSTATE_PLAYING) return true;
    if (FChannelKind == CHANNEL_NONE) return false;
    if (FPlayState == PLAYSTATE_STOPPED) {
        if (FChannelKind != CHANNEL_PLUGIN) SetPositionMs(0);
        RestartPlayback();
        return FPlayState == PLAYSTATE_PLAYING;
    }
    // The end sync goes on before the channel starts: a track that ends
    // within the moment between the two would otherwise end unnoticed.
    // A channel the library started after the one before it plays already.
    if (FChannelKind != CHANNEL_PLUGIN) RegisterEndSync();
    const bool startedByQueue = std::exchange(FStartedByQueue, false);
    if (!startedByQueue && !StartChannel(true)) return false;
    if (startedByQueue && FChannelKind == CHANNEL_PLUGIN && !StartAdoptedPlugin()) return false;
    if (FChannelKind != CHANNEL_PLUGIN) FSoundStartTick = FirstMixTick();
    if (AfterChannelStart) AfterChannelStart();
    FPlayState = PLAYSTATE_PLAYING;
    SendVisRecord(1);
    if (FChannelKind != CHANNEL_PLUGIN && OnNewFFTData) FPlayerTimer.SetEnabled(true);
    EndHeldDuringStart();
    return true;
}

uint32_t TBASSPlayer::FirstMixTick(uint32_t startTick) const {
    return (startTick ? startTick : win::GetTickCount()) + FDeviceInfo.latency / 2;
}

void TBASSPlayer::RestartPlayback() {
    if (FPlayState != PLAYSTATE_STOPPED || FBusy || FChannelKind == CHANNEL_NONE) return;
    if (!StartChannel(false)) return;
    FPlayState = PLAYSTATE_PLAYING;
    SendVisRecord(1);
    if (FChannelKind != CHANNEL_PLUGIN && OnNewFFTData) FPlayerTimer.SetEnabled(true);
    EndHeldDuringStart();
}

// A file shorter than the start wait ends within it, before the player counts
// as playing: its end is handled now that it does.
void TBASSPlayer::EndHeldDuringStart() {
    if (!FEndDuringStart) return;
    FEndDuringStart = false;
    win::PostMessage(FMessageWindow, WM_BP_PLUGINEOF, FChannelHandle);
}

bool TBASSPlayer::StartChannel(bool showError) {
    switch (FChannelKind) {
        case CHANNEL_STREAM:
        case CHANNEL_WMA:
            return BASS_StreamPlay(FChannelHandle, FALSE, 0) != 0;
        case CHANNEL_MUSIC:
            return BASS_MusicPlay(FChannelHandle) != 0;
        case CHANNEL_PLUGIN:
            return StartPlugin(showError);
        default:
            return false;
    }
}

// The plug-in opens its output from its own thread; the start counts once
// the plug-in has produced more than 200 ms. A plug-in whose Play answers
// that it cannot play, or does not answer in time (it is retired then, and
// reported as such), has not started. One that did not start is stopped at
// once, so that nothing of it goes on and it may be unloaded. A start whose
// stream is replaced by an open made from the messages its wait dispatches
// (a programme time, the operator) gives way to it: it has not started, and
// leaves the new stream alone. alreadyPlaying: the plug-in was started ahead
// (an adopted follower), only its output is waited for.
bool TBASSPlayer::StartPlugin(bool showError, bool alreadyPlaying) {
    if (!PluginUsable(FActivePlugin)) return false;  // unloaded or retired since the open
    SelectInputPlugin(FPluginIndex);
    FBusy = true;
    FOutputStarted = false;
    FEndDuringStart = false;
    FPluginStarting = true;
    if (!alreadyPlaying) FChannelHandle = 1;
    const uint64_t serial = ++FStreamSerial;
    bool playing = alreadyPlaying;
    if (!alreadyPlaying) {
        ioplug::StartNextOutputAtFirstBlock(FFollowsEnd);
        playing = PluginPlay(FActivePlugin, FCurrentFile) == 0;
        ioplug::StartNextOutputAtFirstBlock(false);
    }
    const StartWait wait = playing ? WaitForPluginOutput(serial) : StartWait::Failed;
    FPluginStarting = false;
    if (wait == StartWait::Superseded) return false;
    const bool started = wait == StartWait::Started;
    if (!started) {
        FEndDuringStart = false;
        if (!playing) FChannelHandle = 0;  // nothing of it plays: no Stop
        StopPluginChannel();
    }
    if (!started && showError && PluginUsable(FActivePlugin))
        win::MessageBox(FAppWindow, "Can't play the specified stream : " + FCurrentFile, "Error",
                        win::MB_ICONERROR);
    FBusy = false;
    return started;
}

// Messages are dispatched while waiting, each as soon as it comes, so the
// emulator's start of the output is not held up. An end of the program
// gives up the wait.
TBASSPlayer::StartWait TBASSPlayer::WaitForPluginOutput(uint64_t serial) {
    StartWait result = StartWait::Failed;
    const auto starting = [&] {
        if (FStreamSerial != serial) {
            result = StartWait::Superseded;
            return false;
        }
        // A file shorter than the 200 ms asked for has started once it has
        // been heard to its end.
        if (GetPluginOutputTime(false) > kPluginStartMinOutputMs ||
            (FEndDuringStart && FOutputStarted)) {
            result = StartWait::Started;
            return false;
        }
        return !win::QuitRequested() && PluginUsable(FActivePlugin);
    };
    if (win::PumpWhile(starting, kPluginStartLimit)) return result;
    return FStreamSerial != serial ? StartWait::Superseded : StartWait::Failed;
}

// The plug-in stops (when it plays) and is no longer the active one, so that
// it may be unloaded. One that handed over has stopped already; its stream
// drains still, and stops now.
void TBASSPlayer::StopPluginChannel() {
    if (FHandOver)
        EndHandOver();
    else if (FChannelHandle != 0)
        PluginStop(FActivePlugin);
    FChannelHandle = 0;
    ReleaseActivePlugin();
}

void TBASSPlayer::ReleaseActivePlugin() {
    if (FPluginIndex >= 0 && GetActivePluginIndex() == FPluginIndex) SelectInputPlugin(-1);
}

// One end sync per channel, kept for its life: a start that failed and is
// tried again does not add a second one.
void TBASSPlayer::RegisterEndSync() {
    if (FEndSync != 0) return;
    FEndSync = BASS_ChannelSetSync(FChannelHandle, BASS_SYNC_END, 0, EndSyncProc,
                                   reinterpret_cast<void*>(FMessageWindow));
}

// An addition for a station left alone: the end of a plug-in's output stream, which comes only
// once the plug-in has written its whole file and all of it has been heard,
// is its end too; the plug-in's own end message, which it posts once it has
// noticed, comes later (stale by then).
void TBASSPlayer::RegisterPluginEndSync(DWORD stream) {
    BASS_ChannelSetSync(stream, BASS_SYNC_END, 0, EndSyncProc,
                        reinterpret_cast<void*>(FMessageWindow));
}

void TBASSPlayer::StopPlayback() {
    if (FPlayState != PLAYSTATE_PLAYING) return;
    UnqueuePrepared();
    if (FChannelKind == CHANNEL_PLUGIN) {
        StopPluginChannel();
    } else {
        BASS_ChannelStop(FChannelHandle);
    }
    FPlayState = PLAYSTATE_STOPPED;
    SendVisRecord(1);
}

uint32_t TBASSPlayer::BytesToMs(QWORD bytes) {
    if (static_cast<int64_t>(bytes) < 0) bytes = 0;
    const double seconds = BASS_ChannelBytes2Seconds(FChannelHandle, bytes);
    if (!(seconds > 0)) return 0;  // an error reads as -1 seconds
    return static_cast<uint32_t>(kav::RoundHalfEven(seconds * 1000.0));
}

uint32_t TBASSPlayer::PositionMs() {
    switch (FChannelKind) {
        case CHANNEL_STREAM:
        case CHANNEL_WMA:
            return BytesToMs(BASS_ChannelGetPosition(FChannelHandle));
        case CHANNEL_PLUGIN:
            if (FPlayState == PLAYSTATE_READY) return 0;
            if (FHandOver) return static_cast<uint32_t>(ioplug::OutgoingTimeMs());
            return static_cast<uint32_t>(GetPluginOutputTime(FOutputStarted));
        default:
            return 0;
    }
}

uint32_t TBASSPlayer::LengthMs() {
    switch (FChannelKind) {
        case CHANNEL_STREAM:
        case CHANNEL_WMA:
            return BytesToMs(BASS_StreamGetLength(FChannelHandle));
        case CHANNEL_MUSIC:
            return BytesToMs(BASS_MusicGetLength(FChannelHandle, TRUE));
        case CHANNEL_PLUGIN:
            return FStreamInfo.Duration;
        default:
            return 0;
    }
}

// A track that has handed over is not sought: its plug-in has stopped and
// the next track's output is queued behind its last sample.
void TBASSPlayer::SetPositionMs(uint32_t ms) {
    if (FChannelKind == CHANNEL_NONE || FBusy || FHandOver || ms > LengthMs()) return;
    if (FChannelKind == CHANNEL_STREAM || FChannelKind == CHANNEL_WMA) {
        const float seconds = static_cast<float>(ms / 1000.0);
        BASS_ChannelSetPosition(FChannelHandle, BASS_ChannelSeconds2Bytes(FChannelHandle, seconds));
    } else if (FChannelKind == CHANNEL_PLUGIN) {
        SetPluginPosition(ms);
    }
}

// The plug-in seeks on its own thread and restarts its output; the emulator
// reports the restart with WM_BP_PLUGINSTART, which clears Busy.
void TBASSPlayer::SetPluginPosition(uint32_t ms) {
    if (FPlayState == PLAYSTATE_PLAYING && FOutputStarted) FBusy = true;
    SetSeekPending();
    PluginSetOutputTime(FActivePlugin, static_cast<int>(ms));
    const auto seeking = [&] {
        return FPlayState == PLAYSTATE_PLAYING && FBusy && !win::QuitRequested() &&
               PluginUsable(FActivePlugin);
    };
    win::PumpWhile(seeking, kPluginSeekLimit);
    if (FPlayState == PLAYSTATE_PLAYING && !FBusy) FPlayerTimer.SetEnabled(true);
    FBusy = false;
}

void TBASSPlayer::SetOutputVolume(uint32_t value) {
    if (value > 255) value = 255;
    FVolume = value;
    if (!FPlayerReady) return;
    BASS_SetConfig(BASS_CONFIG_GVOL_MUSIC, value);
    BASS_SetConfig(BASS_CONFIG_GVOL_STREAM, value);
}
