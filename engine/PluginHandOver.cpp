// Beyond the player component: two plug-in tracks joined without a gap. A
// plug-in plays one file at a time and its output starts only once it has
// written its first block, so the next track cannot simply be queued as a
// library stream is. Instead, once the plug-in that plays has written its
// whole file (its last half second or so is still in the emulator's ring),
// that plug-in is stopped while its stream drains as the emulator's outgoing
// one, and the next track's plug-in is started at once: its stream is
// queued behind the outgoing one's last sample. The track that drains still
// counts as what plays (position, stop, end); its end adopts the follower.
#include <utility>

#include "engine/BASSPlayer.h"
#include "platform/bassbind/Dynamic_BASS.h"
#include "plugins/ioplug.h"

static_assert(ioplug::WM_NOTIFY_ALLWRITTEN == WM_BP_ALLWRITTEN);

// Marked to follow; the hand-over begins now when the plug-in that plays has
// already written its whole file, or when it says it has.
bool TBASSPlayer::QueuePluginFollower() {
    if (FChannelKind != CHANNEL_PLUGIN || FPlayState != PLAYSTATE_PLAYING) return false;
    FPrepared->queued = true;
    if (ioplug::AllWritten()) BeginHandOver();
    return true;
}

// Only a plug-in track that has started and written its whole file, while
// nothing else is under way. When its stream cannot be kept (it has just
// ended, or the plug-in closed nothing) the track ends as it would have.
void TBASSPlayer::BeginHandOver() {
    if (FHandOver || !FPrepared || !FPrepared->queued || FPrepared->kind != CHANNEL_PLUGIN) return;
    if (FChannelKind != CHANNEL_PLUGIN || FPlayState != PLAYSTATE_PLAYING || FBusy ||
        FPluginStarting || !FOutputStarted)
        return;
    if (FChannelHandle != ioplug::CurrentStream() || !ioplug::AllWritten()) return;
    if (!PluginUsable(GetPlugin(FPrepared->pluginIndex)) || !StillAFile(FPrepared->path)) return;
    ioplug::KeepOutputPlaying();
    PluginStop(FActivePlugin);
    ioplug::KeepOutputPlaying(false);
    if (ioplug::OutgoingStream() != FChannelHandle) return;
    FHandOver = true;
    if (!StartFollower(*FPrepared)) DropPrepared();
}

// The follower's plug-in plays; its output starts at its first block, queued
// behind the outgoing stream. The messages its start sends while the call is
// under way are the follower's (HandOverMessage).
bool TBASSPlayer::StartFollower(TPreparedStream& next) {
    SelectInputPlugin(next.pluginIndex);
    next.following = true;
    if (BeforeFollowerPlay) BeforeFollowerPlay(next.path, next.pluginIndex);
    ioplug::StartNextOutputAtFirstBlock(true);
    const bool playing = PluginPlay(GetPlugin(next.pluginIndex), next.path) == 0;
    ioplug::StartNextOutputAtFirstBlock(false);
    if (!playing) {
        next.following = false;
        SelectInputPlugin(-1);
        return false;
    }
    if (next.stream == 0) {
        next.stream = ioplug::CurrentStream();
        if (next.stream != 0) RegisterPluginEndSync(next.stream);
    }
    return true;
}

// Its plug-in stops, and closes its output with it. The plug-in that played
// before it has stopped already: no plug-in plays now.
void TBASSPlayer::StopFollower(TPreparedStream& next) {
    if (!next.following) return;
    PluginStop(GetPlugin(next.pluginIndex));
    if (GetActivePluginIndex() == next.pluginIndex) SelectInputPlugin(-1);
    next.following = false;
    next.started = false;
    next.stream = 0;
}

// The track that drained is done with: its stream goes.
void TBASSPlayer::EndHandOver() {
    if (!FHandOver) return;
    FHandOver = false;
    ioplug::FreeOutgoing();
}

// Called by the open of the prepared path once the channel before it is
// closed; StartPlayback then counts it as started (StartAdoptedPlugin).
void TBASSPlayer::AdoptFollower(const TPreparedStream& next) {
    FChannelHandle = next.stream != 0 ? next.stream : 1;  // 1: its output is not open yet
    FStartedByQueue = true;
    FOutputStarted = false;
    FAdopted = TAdoptedStart{next.started,       next.startTick, next.hasStartInfo,
                             next.hasPluginInfo, next.startInfo, next.pluginInfo};
}

// A follower whose output has started is told as started now; one whose
// output has not is waited for as any plug-in start is, and has failed as
// one when it does not start in time.
bool TBASSPlayer::StartAdoptedPlugin() {
    const TAdoptedStart adopted = std::exchange(FAdopted, TAdoptedStart{});
    FSoundStartTick = FirstMixTick();
    TChannelInfo pluginInfo = adopted.pluginInfo;
    if (adopted.hasPluginInfo) HandleChannelInfo(&pluginInfo);
    if (!adopted.started) return StartPlugin(true, true);
    TChannelInfo info = adopted.info;
    HandlePluginStart(adopted.hasInfo ? &info : nullptr, adopted.tick);
    return true;
}

// While handing over, the emulator's notices are the follower's: the plug-in
// that played before it has stopped. Kept for its adoption, or dropped when
// there is no follower any more.
bool TBASSPlayer::HandOverMessage(const win::Message& m) {
    if (!FHandOver) return false;
    TPreparedStream* next = FPrepared && FPrepared->following ? FPrepared.get() : nullptr;
    switch (m.msg) {
        case WM_BP_STREAMHANDLE:
            if (next && next->stream == 0) {
                next->stream = static_cast<DWORD>(m.wParam);
                RegisterPluginEndSync(next->stream);
            }
            return true;
        case WM_BP_PLUGINSTART:
            if (next && next->stream != 0 && static_cast<DWORD>(m.lParam) == next->stream) {
                next->started = true;
                next->startTick = static_cast<uint32_t>(m.wParam);
                next->hasStartInfo = ioplug::Unpack(m, next->startInfo);
            }
            return true;
        case WM_BP_CHANNELINFO:
            if (next) next->hasPluginInfo = ioplug::Unpack(m, next->pluginInfo);
            return true;
        case WM_BP_ALLWRITTEN:
            return true;
        default:
            return false;
    }
}
