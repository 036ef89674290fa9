// The MessageWindow's procedure and the PlayerTimer tick: everything that
// reaches the engine from another thread arrives here, on the GUI thread.
#include "engine/BASSPlayer.h"
#include "platform/bassbind/Dynamic_BASS.h"
#include "platform/win/Application.h"
#include "platform/win/Clock.h"
#include "platform/win/Pump.h"
#include "plugins/ioplug.h"

namespace {

constexpr unsigned kDrainSleepMs = 50;
// What the library's output may still hold beyond the emulator's ring (its
// read-ahead of a user stream and the device's buffer), generously.
constexpr uint32_t kOutputHoldMs = 1000;
// A stream still "playing" this long after all it can hold should have been
// heard never reports its end: the drain gives up rather than freeze.
constexpr uint32_t kDrainSlackMs = 5000;

win::PumpLimit DrainLimit() {
    const auto rounds = (ioplug::RingCapacityMs() + kOutputHoldMs + kDrainSlackMs) / kDrainSleepMs;
    return win::PumpLimit::Rounds(static_cast<unsigned>(rounds), kDrainSleepMs, win::Rest::Real);
}

bool StillSounding(DWORD channel) {
    const DWORD state = BASS_ChannelIsActive(channel);
    return state == BASS_ACTIVE_PLAYING || state == BASS_ACTIVE_STALLED;
}

}  // namespace

win::LRESULT TBASSPlayer::WindowProc(const win::Message& m) {
    if (FLinkMessage != 0 && m.msg == FLinkMessage) {
        HandleLinkMessage(m);
        return 0;
    }
    if (HandOverMessage(m)) return 0;
    switch (m.msg) {
        case win::WM_QUERYENDSESSION:
            return 1;
        case WM_BP_PLUGINEOF:
            HandlePluginEOF(static_cast<DWORD>(m.wParam));
            break;
        case WM_BP_PLUGINSTART: {
            // The record travels by value: the plug-in's thread may already
            // have changed the emulator's own.
            TChannelInfo info;
            if (PluginOutputExpected())
                HandlePluginStart(ioplug::Unpack(m, info) ? &info : nullptr,
                                  static_cast<uint32_t>(m.wParam));
            break;
        }
        case WM_BP_STREAMHANDLE:
            if (PluginOutputExpected()) {
                FChannelHandle = static_cast<DWORD>(m.wParam);
                RegisterPluginEndSync(FChannelHandle);
            }
            break;
        case WM_BP_CHANNELEND:
            HandleChannelEnd(static_cast<DWORD>(m.wParam));
            break;
        case WM_BP_FFTDATA:
            if (OnNewFFTData) OnNewFFTData(this, FBandOut);
            break;
        case WM_BP_PLUGINFIRST:
            FPluginFirst = m.lParam != 0;
            break;
        case WM_BP_META:
            HandleMeta(static_cast<DWORD>(m.wParam), m.text);
            break;
        case WM_BP_DOWNLOADED:
            if (static_cast<DWORD>(m.wParam) == FChannelHandle) DownloadCompleted();
            break;
        case WM_BP_ALLWRITTEN:
            if (static_cast<DWORD>(m.wParam) == FChannelHandle) BeginHandOver();
            break;
        case WM_BP_CHANNELINFO: {
            TChannelInfo info;
            HandleChannelInfo(ioplug::Unpack(m, info) ? &info : nullptr);
            break;
        }
        default:
            break;
    }
    return 0;
}

void TBASSPlayer::HandleLinkMessage(const win::Message& m) {
    switch (m.wParam) {
        case '<':
            if (m.lParam != 0) AttachVis();
            break;
        case 'F':
            FVisActive = false;
            break;
        case 'Z':
            if (m.lParam >= 1 && m.lParam <= 3) SendVisRecord(static_cast<int>(m.lParam));
            break;
        default:
            break;
    }
}

// An end that belongs to a channel no longer current, or that arrives after
// StopPlayback, is not an end of what plays now: the track was stopped, or
// another one has been opened since. A plug-in's output stream ends once the
// plug-in has written its whole file and it has all been heard: the end of
// the plug-in's play, as its own end message is, which comes later.
void TBASSPlayer::HandleChannelEnd(DWORD channel) {
    if (FChannelKind == CHANNEL_PLUGIN) return HandlePluginEOF(channel);
    if (channel != FChannelHandle || FPlayState != PLAYSTATE_PLAYING) return;
    FPlayState = PLAYSTATE_STOPPED;
    SendVisRecord(1);
    RaisePlayEnd();
}

// The end carries the stream it belongs to; 0 when the plug-in had no output
// open as it posted it, which is this play's end only while no stream has
// been opened for it (the handle is 1 then). The end of a stream closed
// since is stale and ends nothing.
void TBASSPlayer::HandlePluginEOF(DWORD stream) {
    if (stream != FChannelHandle && !(stream == 0 && FChannelHandle == 1)) return;
    if (FPluginStarting) {
        FEndDuringStart = true;  // handled once the start is over
        return;
    }
    FBusy = false;
    if (FChannelKind != CHANNEL_PLUGIN || FPlayState != PLAYSTATE_PLAYING) return;
    // The emulator's stream still plays what the ring holds (or waits for the
    // rest of it); wait until it is heard. Whatever is started or stopped
    // meanwhile (messages are dispatched) ends the wait, and this end with
    // it; so does the end of the program.
    const uint64_t serial = FStreamSerial;
    const DWORD channel = FChannelHandle;
    bool quit = false;
    const auto draining = [&] {
        if (!SamePluginPlay(serial, channel) || !StillSounding(channel)) return false;
        quit = win::QuitRequested();
        return !quit;
    };
    if (FOutputStarted) win::PumpWhile(draining, DrainLimit());
    if (quit || !SamePluginPlay(serial, channel)) return;
    if (FHandOver) {
        // Its follower plays on: only the track that drained has ended.
        FPlayState = PLAYSTATE_STOPPED;
        SendVisRecord(1);
    } else {
        StopPlayback();
    }
    RaisePlayEnd();
}

bool TBASSPlayer::SamePluginPlay(uint64_t serial, DWORD channel) const {
    return FStreamSerial == serial && FChannelHandle == channel && channel != 0 &&
           FChannelKind == CHANNEL_PLUGIN && FPlayState == PLAYSTATE_PLAYING;
}

// What the emulator reports of its output concerns a plug-in that is
// starting or playing; any other (one retired while inside a call, that went
// on later) is not this player's.
bool TBASSPlayer::PluginOutputExpected() const {
    return FChannelKind == CHANNEL_PLUGIN && FChannelHandle != 0;
}

// startTick: when the emulator started its stream, which may be a while
// before this message is handled.
void TBASSPlayer::HandlePluginStart(PChannelInfo info, uint32_t startTick) {
    if (FPluginStarting) FSoundStartTick = FirstMixTick(startTick);
    FBusy = false;
    FOutputStarted = true;
    SetOutputVolume(FVolume);  // the plug-in has set the emulator's volume itself
    if (info) {
        FStreamInfo.Channels = info->Channels;
        FStreamInfo.SampleRate = static_cast<int32_t>(info->SampleRate);
        FStreamInfo.BitsPerSample = info->BitsPerSample;
    }
    SendVisRecord(2);
    if (FStreamInfo.Duration == 0) {
        std::string title;
        int length = 0;
        PluginGetFileInfo(FActivePlugin, std::string(), title, length);
        if (length > 0) {
            FStreamInfo.Title = title;
            FStreamInfo.Duration = static_cast<uint32_t>(length);
        }
    }
    if (OnPluginStartPlay) OnPluginStartPlay(this, info);
    if (OnNewFFTData) FPlayerTimer.SetEnabled(true);
}

void TBASSPlayer::HandleChannelInfo(PChannelInfo info) {
    if (info) {
        FStreamInfo.Channels = info->Channels;
        FStreamInfo.SampleRate = static_cast<int32_t>(info->SampleRate);
        FStreamInfo.BitRate = static_cast<int32_t>(info->BitRate);
    }
    if (OnGetChannelInfo) OnGetChannelInfo(this, info);
}

// The title travels in the message itself: a later title cannot overwrite
// one that has not been handled yet.
void TBASSPlayer::HandleMeta(DWORD channel, const std::string& title) {
    if (channel != FChannelHandle) return;  // metadata of a stream closed since
    FStreamInfo.Title = title;
    SendVisRecord(2);
    if (OnGetMeta) OnGetMeta(this, FStreamInfo.Title);
}

void TBASSPlayer::PlayerTimerTick() {
    const DWORD active = BASS_ChannelIsActive(FChannelHandle);
    if (active != BASS_ACTIVE_PLAYING && active != BASS_ACTIVE_STALLED) {
        FPlayerTimer.SetEnabled(false);
        return;
    }
    float magnitudes[kav::kFFTBins];
    if (BASS_ChannelGetData(FChannelHandle, magnitudes, BASS_DATA_FFT512) == 0xFFFFFFFFu) {
        FBandOut.fill(0);
        return;
    }
    FPlayerTimer.SetEnabled(false);
    kav::UpdateBands(magnitudes, FBandOut);
    win::PostMessage(FMessageWindow, WM_BP_FFTDATA);
    if (FVisActive) SendVisFrame();
    FPlayerTimer.SetEnabled(true);
}
