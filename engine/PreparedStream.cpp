// Beyond the player component: the next item, opened ahead beside what plays
// so that its turn costs no open. On the library path its channel decodes its
// first audio at once, and the library may be asked to start it by itself at
// the sample after the last one of what plays; on the plug-in path the
// readers and the plug-in's own question about the file are done ahead.
#include <filesystem>

#include "engine/BASSPlayer.h"
#include "engine/StreamText.h"
#include "platform/bassbind/Dynamic_BASS.h"

// The file is still there to be played: one removed since it was prepared
// is not played from the handle kept open on it.
bool TBASSPlayer::StillAFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

bool TBASSPlayer::PrepareStream(const std::string& path) {
    DropPrepared();
    if (!FPlayerReady || kav::IsNetworkAddress(path)) return false;
    auto prepared = std::make_unique<TPreparedStream>();
    TPlayableBy verdict = PLAYABLE_UNDECIDED;
    if (!GetStreamInfo(path, prepared->info, prepared->pluginIndex, verdict)) return false;
    if (PlaysThroughPlugin(verdict)) {
        prepared->kind = CHANNEL_PLUGIN;
    } else {
        prepared->handle = CreateLibraryChannel(path, prepared->kind, prepared->channelInfo, false);
        if (!prepared->handle) return false;
    }
    prepared->path = path;
    FPrepared = std::move(prepared);
    return true;
}

// Only a library stream after a library stream that plays: a plug-in's
// output starts when the plug-in has written its first block. Asked again
// while queued, it checks that the file is still there: the library would
// otherwise start a deleted file from the handle kept open on it.
bool TBASSPlayer::QueuePrepared() {
    if (!FPrepared) return false;
    if (!StillAFile(FPrepared->path)) {
        DropPrepared();
        return false;
    }
    if (FPrepared->queued) return true;
    if (FPrepared->kind == CHANNEL_PLUGIN) return QueuePluginFollower();
    if (FPrepared->kind == CHANNEL_MUSIC || FChannelKind == CHANNEL_PLUGIN ||
        FChannelKind == CHANNEL_NONE || FPlayState != PLAYSTATE_PLAYING)
        return false;
    FPrepared->queued = BASS_StreamPlayAfter(FPrepared->handle, FChannelHandle) != 0;
    return FPrepared->queued;
}

void TBASSPlayer::DropPrepared() {
    if (!FPrepared) return;
    if (FPrepared->handle) FreeLibraryChannel(FPrepared->handle);
    StopFollower(*FPrepared);
    FPrepared.reset();
}

// What plays is stopped: the prepared stream no longer follows it.
void TBASSPlayer::UnqueuePrepared() {
    if (!FPrepared || !FPrepared->queued) return;
    if (FPrepared->handle) BASS_ChannelStop(FPrepared->handle);
    StopFollower(*FPrepared);
    FPrepared->queued = false;
}

const std::string& TBASSPlayer::PreparedPath() const {
    static const std::string none;
    return FPrepared ? FPrepared->path : none;
}

bool TBASSPlayer::PreparedQueued() const {
    return FPrepared && FPrepared->queued;
}

// The open of the prepared path takes what was prepared, unless the file has
// gone or its plug-in can no longer be used: the open is then made afresh,
// and fails or not as it would have.
bool TBASSPlayer::OpenPrepared(const std::string& path) {
    if (!FPrepared || FPrepared->path != path) {
        DropPrepared();
        return false;
    }
    const bool usable =
        FPrepared->kind != CHANNEL_PLUGIN || PluginUsable(GetPlugin(FPrepared->pluginIndex));
    if (!usable || !StillAFile(path)) {
        DropPrepared();
        return false;
    }
    std::unique_ptr<TPreparedStream> prepared = std::move(FPrepared);
    CloseChannel();
    if (prepared->kind == CHANNEL_PLUGIN) {
        ActivatePlugin(prepared->pluginIndex);
        if (prepared->following) AdoptFollower(*prepared);
    } else {
        FChannelKind = prepared->kind;
        FChannelHandle = prepared->handle;
        FChannelInfo = prepared->channelInfo;
        FStartedByQueue =
            prepared->queued && (BASS_ChannelIsActive(FChannelHandle) != BASS_ACTIVE_STOPPED ||
                                 BASS_ChannelGetPosition(FChannelHandle) > 0);
        if (prepared->queued && !FStartedByQueue) BASS_ChannelStop(FChannelHandle);
    }
    FCurrentFile = path;
    FStreamInfo = prepared->info;
    SendVisRecord(2);
    FPlayState = PLAYSTATE_READY;
    SendVisRecord(1);
    return true;
}

// OnPlayEnd, told that a start made from it joins the item that ended. When
// the handler opens nothing (what follows was decided otherwise), a stream
// the library started after that item, or a follower started behind it, is
// stopped, and so is the drained stream of a track that handed over. An
// open made by the handler has dealt with both already, and what it
// prepared and queued since is its own.
void TBASSPlayer::RaisePlayEnd() {
    const bool outer = FFollowsEnd;
    const uint64_t serial = FStreamSerial;
    FFollowsEnd = true;
    if (OnPlayEnd) OnPlayEnd(this);
    FFollowsEnd = outer;
    if (FStreamSerial != serial) return;
    if (FPrepared && FPrepared->queued) DropPrepared();
    if (FHandOver) {
        EndHandOver();
        FChannelHandle = 0;
    }
}
