// TBASSPlayer: the playback engine. One transport over two paths (a channel
// of the audio library, or a Winamp input plug-in through the output
// emulator); every notification from another thread is posted to its hidden
// MessageWindow, so state changes and events happen on the GUI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/BandLevels.h"
#include "platform/bass/bass_types.h"
#include "platform/win/Messages.h"
#include "platform/win/Timer.h"
#include "plugins/DSPHost.h"
#include "plugins/PluginCtrl.h"

class TMPEGaudio;
class TOggVorbis;
class TfisSharedMemory;
class TPluginConfigForm;
class TAppExec;
class TWMAfile;
class TWAVfile;

// Messages of the MessageWindow.
constexpr unsigned WM_BP_PLUGINEOF = win::WM_USER + 2;
constexpr unsigned WM_BP_PLUGINSTART = win::WM_USER + 101;
constexpr unsigned WM_BP_STREAMHANDLE = win::WM_USER + 105;
constexpr unsigned WM_BP_CHANNELEND = win::WM_USER + 107;
constexpr unsigned WM_BP_FFTDATA = win::WM_USER + 108;
constexpr unsigned WM_BP_PLUGINFIRST = win::WM_USER + 109;
constexpr unsigned WM_BP_META = win::WM_USER + 110;
constexpr unsigned WM_BP_DOWNLOADED = win::WM_USER + 111;
constexpr unsigned WM_BP_CHANNELINFO = win::WM_USER + 112;
constexpr unsigned WM_BP_ALLWRITTEN = win::WM_USER + 113;

// PlayState values.
constexpr uint8_t PLAYSTATE_IDLE = 0;
constexpr uint8_t PLAYSTATE_READY = 1;
constexpr uint8_t PLAYSTATE_STOPPED = 2;
constexpr uint8_t PLAYSTATE_PLAYING = 3;

// ChannelKind values.
constexpr uint8_t CHANNEL_NONE = 0;
constexpr uint8_t CHANNEL_STREAM = 1;
constexpr uint8_t CHANNEL_WMA = 2;
constexpr uint8_t CHANNEL_MUSIC = 3;
constexpr uint8_t CHANNEL_PLUGIN = 4;

// Verdict of GetStreamInfo: who can play a local file.
using TPlayableBy = uint8_t;
constexpr TPlayableBy PLAYABLE_BOTH = 0;
constexpr TPlayableBy PLAYABLE_BASS = 1;
constexpr TPlayableBy PLAYABLE_PLUGIN = 2;
constexpr TPlayableBy PLAYABLE_UNDECIDED = 3;

class TBASSPlayer;
using TNotifyEvent = std::function<void(TBASSPlayer* Sender)>;
using TNotifyNewFFTDataEvent = std::function<void(TBASSPlayer* Sender, const TBandOut& BandOut)>;
using TNotifyPluginEvent = std::function<void(TBASSPlayer* Sender, PChannelInfo ChannelInfo)>;
using TNotifyNetEvent = std::function<void(TBASSPlayer* Sender, const std::string& Content)>;

// The output device the engine initialises (1 = the library's first device);
// set before the engine is created.
extern uint8_t StartupDevice;

class TBASSPlayer {
  public:
    // applicationWindow owns the engine's error boxes and is handed to the library.
    // 0: the process's application window (win::ApplicationWindow).
    explicit TBASSPlayer(win::HWND applicationWindow = 0);
    ~TBASSPlayer();
    TBASSPlayer(const TBASSPlayer&) = delete;
    TBASSPlayer& operator=(const TBASSPlayer&) = delete;

    // Published properties.
    const std::string& Version() const { return FVersion; }
    const std::string& BASSDLLVer() const { return FBASSDLLVer; }
    bool DX8EffectReady() const { return FDX8EffectReady; }
    bool PluginFirst() const { return FPluginFirst; }
    void SetPluginFirst(bool value) { FPluginFirst = value; }
    uint16_t VisScale() const { return FVisScale; }
    void SetVisScale(uint16_t value) { FVisScale = value; }
    bool SyncVisWindow() const { return FSyncVisWindow; }
    void SetSyncVisWindow(bool value);

    TNotifyNewFFTDataEvent OnNewFFTData;
    TNotifyPluginEvent OnPluginStartPlay;
    TNotifyPluginEvent OnGetChannelInfo;
    TNotifyNetEvent OnGetMeta;
    TNotifyNetEvent OnDownloaded;
    TNotifyEvent OnPlayEnd;
    // Ends the application in order once the current event has been handled
    // (a DSP plug-in that cannot be used); empty: the application quits.
    std::function<void()> TerminateApplication;
    // Called by StartPlayback right after a channel has started, before the
    // player counts as playing: lets a test stretch that moment.
    std::function<void()> AfterChannelStart;
    // Called before the plug-in of the prepared track is started ahead of its
    // turn, while the track before it drains (PluginHandOver.cpp): a Play
    // that brings the program down is that track's and its plug-in's.
    std::function<void(const std::string& path, int32_t pluginIndex)> BeforeFollowerPlay;

    // State read by the main window and the tools.
    bool PlayerReady() const { return FPlayerReady; }
    bool WMAReady() const { return FWMAReady; }
    uint8_t PlayState() const { return FPlayState; }
    const TStreamInfo& StreamInfo() const { return FStreamInfo; }
    const std::string& CurrentFile() const { return FCurrentFile; }
    uint8_t ChannelKind() const { return FChannelKind; }
    DWORD ChannelHandle() const { return FChannelHandle; }
    // The stream's title is its playlist link's: it has not named itself yet.
    bool TitleFromLink() const;
    int PluginIndex() const { return FPluginIndex; }
    uint32_t Volume() const { return FVolume; }
    bool Busy() const { return FBusy; }
    const TBandOut& BandOut() const { return FBandOut; }
    win::HWND MessageWindow() const { return FMessageWindow; }
    bool PlayerTimerEnabled() const { return FPlayerTimer.Enabled(); }
    bool VisActive() const { return FVisActive; }

    // Shows the input plug-in configuration dialog over this engine (a
    // QApplication must exist); false when this build has no dialog.
    bool ShowPluginConfig();
    TPluginConfigForm* PluginConfigForm() const { return FPluginConfig; }

    // Opens a local file or network address (http://, https://, ftp://, mms://) and
    // makes the player ready. A local file that no reader recognises (one
    // that cannot be opened, or is no regular file) gives false and leaves
    // the previous channel untouched.
    bool OpenStream(const std::string& path);
    // Local files only: what the readers and plug-ins know of the file.
    bool GetStreamInfo(const std::string& path, TStreamInfo& info, int32_t& pluginIndex,
                       TPlayableBy& playableBy);

    // False when a start was tried and failed (a plug-in that does not start,
    // or does not answer), or there is nothing to start: a failed open for
    // the caller. True while something plays, and for a request ignored while
    // a start or seek is under way (Busy), whose outcome is that start's.
    bool StartPlayback();
    void RestartPlayback();
    void StopPlayback();
    uint32_t PositionMs();
    uint32_t LengthMs();
    void SetPositionMs(uint32_t ms);
    void SetOutputVolume(uint32_t value);
    bool LoadDSPPlugin(const std::string& path, uint16_t module, win::HWND parent);
    void UnloadDSPPlugin();
    void ShowBASSError(const std::string& message);

    // Beyond the player component: the next item, opened ahead
    // (PreparedStream.cpp). Opens a local file as OpenStream would, beside
    // what plays, decoding its first audio; false, with nothing shown, when
    // it cannot be. OpenStream of the same path then takes it at once. Any
    // other open, a failure and ReopenOutput drop it.
    bool PrepareStream(const std::string& path);
    // Has the audio library start the prepared stream at the sample after
    // the last one of the library channel that plays; false when either side
    // is not a library stream, or the prepared file has gone (it is dropped,
    // queued or not: asked again while queued, it looks for the file again).
    // Stopping what plays undoes it. A plug-in track after a plug-in track
    // is queued too: it is started behind the one that plays once that one's
    // plug-in has written its whole file (PluginHandOver.cpp).
    bool QueuePrepared();
    void DropPrepared();
    const std::string& PreparedPath() const;  // empty when nothing is prepared
    bool PreparedQueued() const;
    // The tick count (win::GetTickCount) when the first sound of the item
    // started last is expected in the output's mix.
    uint32_t SoundStartTick() const { return FSoundStartTick; }

    // Beyond the player component (StationOutput.cpp). The level of what the
    // output took since the previous call (the first call starts measuring
    // and reads nothing); false when no device is open.
    bool ReadOutputLevel(BASS_OUTPUTLEVEL& level);
    // Closes what plays and the output device, and opens the device again;
    // false (reported) when it cannot be opened.
    bool ReopenOutput();

  private:
    // The next item, opened ahead.
    struct TPreparedStream {
        std::string path;
        TStreamInfo info;
        uint8_t kind = CHANNEL_NONE;
        DWORD handle = 0;  // the library's channel; 0 on the plug-in path
        BASS_CHANNELINFO channelInfo{};
        int32_t pluginIndex = -1;
        bool queued = false;  // the library starts it after the current channel
        // A plug-in track that follows: its plug-in plays it, and its stream
        // is queued behind the draining one, or starts once it may.
        bool following = false;
        DWORD stream = 0;
        bool started = false;  // the emulator has started (or queued) its stream
        uint32_t startTick = 0;
        bool hasStartInfo = false, hasPluginInfo = false;
        TChannelInfo startInfo{}, pluginInfo{};
    };
    // What the start of an adopted follower brings along (StartPlayback).
    struct TAdoptedStart {
        bool started = false;
        uint32_t tick = 0;
        bool hasInfo = false, hasPluginInfo = false;
        TChannelInfo info{}, pluginInfo{};
    };
    void CreateLibraryObjects();
    bool StartChannel(bool showError);
    bool StartPlugin(bool showError, bool alreadyPlaying = false);
    enum class StartWait { Started, Failed, Superseded };
    StartWait WaitForPluginOutput(uint64_t serial);
    void StopPluginChannel();
    void ReleaseActivePlugin();
    void EndHeldDuringStart();
    void RegisterEndSync();
    void RegisterPluginEndSync(DWORD stream);
    void CloseChannel();
    bool OpenPrepared(const std::string& path);
    static bool StillAFile(const std::string& path);
    void UnqueuePrepared();
    // The hand-over between two plug-in tracks (PluginHandOver.cpp).
    bool QueuePluginFollower();
    void BeginHandOver();
    bool StartFollower(TPreparedStream& next);
    void StopFollower(TPreparedStream& next);
    void EndHandOver();
    void AdoptFollower(const TPreparedStream& next);
    bool StartAdoptedPlugin();
    bool HandOverMessage(const win::Message& message);
    void RaisePlayEnd();
    uint32_t BytesToMs(QWORD bytes);
    void SetPluginPosition(uint32_t ms);
    void WaitPluginDrain();

    // Stream opening.
    bool OpenLocalChannel(const std::string& path, int32_t pluginIndex, TPlayableBy verdict);
    bool PlaysThroughPlugin(TPlayableBy verdict) const;
    DWORD CreateLibraryChannel(const std::string& path, uint8_t& kind, BASS_CHANNELINFO& info,
                               bool report);
    void FreeLibraryChannel(DWORD handle);
    bool OpenNetworkChannel(const std::string& address, TStreamInfo& info);
    void ActivatePlugin(int32_t index);
    void ReadNetworkFileInfo(const std::string& ext, TStreamInfo& info);
    void ReadLiveStreamInfo(TStreamInfo& info);
    bool ReadFileTags(const std::string& path, const std::string& ext, TStreamInfo& info);
    bool LoadOggFile(const std::string& path);
    void AskPlugins(const std::string& path, TStreamInfo& info, int32_t& pluginIndex,
                    TPlayableBy& verdict, bool& result);
    void DownloadCompleted();

    // MessageWindow.
    win::LRESULT WindowProc(const win::Message& message);
    void HandleLinkMessage(const win::Message& message);
    void HandlePluginStart(PChannelInfo info, uint32_t startTick);
    void HandleChannelInfo(PChannelInfo info);
    void HandleChannelEnd(DWORD channel);
    void HandlePluginEOF(DWORD stream);
    bool SamePluginPlay(uint64_t serial, DWORD channel) const;
    bool PluginOutputExpected() const;
    void HandleMeta(DWORD channel, const std::string& title);
    void PlayerTimerTick();

    // The visualisation link (VisLink.cpp) and the plug-in dialog.
    void CreateVisLink();
    void FreeVisLink();
    void AttachVis();
    void SendVisRecord(int type);
    void SendVisFrame();
    void CreatePluginConfig();
    void FreePluginConfig();

    std::string FVersion = "1.5";
    std::string FBASSDLLVer;
    bool FDX8EffectReady = false;
    bool FPluginFirst = false;
    uint16_t FVisScale = 512;
    bool FSyncVisWindow = false;

    win::HWND FAppWindow = 0;
    win::HWND FMessageWindow = 0;
    unsigned FLinkMessage = 0;
    bool FVisActive = false;
    std::unique_ptr<TfisSharedMemory> FSharedMemory;
    std::unique_ptr<TAppExec> FAppExec;
    uint8_t* FSharedView = nullptr;
    TPluginConfigForm* FPluginConfig = nullptr;  // owned; freed by FreePluginConfig
    win::Timer FPlayerTimer;

    uint8_t FChannelKind = CHANNEL_NONE;
    DWORD FChannelHandle = 0;
    HSYNC FEndSync = 0;  // the end sync of the current library channel
    BASS_CHANNELINFO FChannelInfo{};
    In_Module* FActivePlugin = nullptr;
    int FPluginIndex = -1;
    bool FBusy = false;
    bool FOutputStarted = false;
    bool FPluginStarting = false;  // inside StartPlugin's wait
    bool FEndDuringStart = false;  // the plug-in's end came within that wait
    // Goes up with every open and every plug-in start: a wait whose stream has
    // been replaced or started again (from messages it dispatched) gives up.
    uint64_t FStreamSerial = 0;
    std::unique_ptr<TPreparedStream> FPrepared;
    bool FStartedByQueue = false;  // the library started the current channel itself
    // The plug-in track that plays has been stopped once it had written its
    // whole file: its stream drains as the emulator's outgoing one, and the
    // prepared track's plug-in plays behind it.
    bool FHandOver = false;
    TAdoptedStart FAdopted;
    bool FFollowsEnd = false;  // OnPlayEnd runs: a start now joins the item that ended
    uint32_t FSoundStartTick = 0;
    // When a channel started at startTick (now by default) is first mixed, on
    // average: the output mixes one period at a time, and a channel started
    // within one is first mixed at the next.
    uint32_t FirstMixTick(uint32_t startTick = 0) const;

    bool FBassBound = false;
    bool FPlayerReady = false;
    bool FWMAReady = false;
    BASS_INFO FDeviceInfo{};
    TBandOut FBandOut{};

    std::unique_ptr<TMPEGaudio> FMPEGaudio;
    std::unique_ptr<TOggVorbis> FOggVorbis;
    std::unique_ptr<TWMAfile> FWMAfile;
    std::unique_ptr<TWAVfile> FWAVfile;

    TDSPModules FDSPModules{};
    uint16_t FDSPModuleNumber = 0;

    std::string FCurrentFile;
    TStreamInfo FStreamInfo;
    uint32_t FVolume = 255;
    uint8_t FPlayState = PLAYSTATE_IDLE;
};
